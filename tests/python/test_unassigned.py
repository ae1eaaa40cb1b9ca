"""A failed solve says which stops fit nowhere and why, one instance per reason; allowed to,
a solve leaves those stops out and lists them."""

import json

import pytest

import _pyploxa_core as core
import ploxa
from route_check import route_problems

# A depot and two targets 10 to either side, one van.
BASE = {
    "nodes": [{"id": 0, "x": 0, "y": 0}, {"id": 1, "x": 10, "y": 0}, {"id": 2, "x": -10, "y": 0}],
    "agents": [{"id": 7, "type": "van", "start_node": 0, "end_node": 0}],
    "metrics": {"van": {"kind": "euclidean"}},
    "options": {"objective": "min_sum", "time_limit": 1, "improve": True},
}


def instance(*, nodes=None, agents=None, constraints=(), **options):
    document = json.loads(json.dumps(BASE))
    for node in document["nodes"]:
        node.update((nodes or {}).get(node["id"], {}))
    document["agents"][0].update(agents or {})
    document["constraints"] = list(constraints)
    document["options"].update(options)
    return document


def windows(*items):
    return {"kind": "timewindow",
            "items": [{"node": node, "start": start, "end": end} for node, start, end in items]}


REASONS = {
    "no type": (instance(constraints=[{"kind": "assignment", "items": [
        {"node": 1, "types": []}, {"node": 2, "types": ["van"]}]}]),
        {1: "no agent type may serve it"}),
    "too heavy": (instance(nodes={1: {"demand": 12}}, agents={"capacity": 10},
                           enforce_capacity=True),
                  {1: "its demand exceeds every allowed capacity"}),
    "too far": (instance(constraints=[windows((1, 0, 5))]),
                {1: "its window cannot be reached within any allowed agent's limit or shift"}),
    "past the shift": (instance(nodes={1: {"x": 20}}, agents={"shift_start": 0, "shift_end": 30}),
                       {1: "its window cannot be reached within any allowed agent's limit or shift"}),
    "partner": (instance(constraints=[windows((1, 0, 12), (2, 0, 12)),
                                      {"kind": "sequence", "precedence": [
                                          {"before": 1, "after": 2, "type": "same"}]}],
                         enforce_sequence=True),
                {1: 'its "same" partner (node 2) cannot go along'}),
    # Rules that bend: the search crossed plans that break them and found none that keeps
    # them all.
    "no room by time": (instance(constraints=[windows((1, 10, 10), (2, 10, 10))]),
                        {1: "no plan found that keeps every rule, broken most often by time"}),
    "no room by capacity": (instance(nodes={1: {"demand": 6}, 2: {"demand": 6}},
                                     agents={"capacity": 10}, enforce_capacity=True),
                            {1: "no plan found that keeps every rule, broken most often by capacity"}),
    "no room by stops": (instance(agents={"max_stops": 1}),
                         {1: "no plan found that keeps every rule, broken most often by stops"}),
}


def fits_nowhere(document, kind):
    """The checker's findings of the kind about stops that fit nowhere, by node."""
    return {int(said.split()[1]): said.split(" fits nowhere: ")[1]
            for found, said in core.check_json_str(json.dumps(document))
            if found == kind and " fits nowhere: " in said}


@pytest.mark.parametrize("name", sorted(REASONS))
def test_a_failed_solve_names_each_stop_that_fits_nowhere_and_why_as_checking_does(name):
    document, expected = REASONS[name]
    result = ploxa.solve_json_str(json.dumps(document))
    assert result["status"] == "failed"
    # Stops that fit on no route at all leave no plan; the others end the search.
    assert (result["stop_reason"] == "infeasible") == (not name.startswith("no room"))
    found = {stop["node"]: stop["reason"] for stop in result["unassigned"]}
    # The construction meets the two nodes in either order; the one it could not place is named.
    if name.startswith("no room"):
        assert len(found) == 1 and list(found.values()) == list(expected.values())
        assert fits_nowhere(document, "error") == {}  # no rule alone rules them out
    else:
        assert found == expected == fits_nowhere(document, "error")


@pytest.mark.parametrize("search", ["anneal", "population"])
@pytest.mark.parametrize("name", sorted(name for name in REASONS if name.startswith("no room")))
def test_every_search_on_two_threads_names_the_rule_its_plans_broke_most(name, search):
    document = json.loads(json.dumps(REASONS[name][0]))
    document["options"].update(search=search, threads=2)
    result = ploxa.solve_json_str(json.dumps(document))
    assert [stop["reason"] for stop in result["unassigned"]] == list(REASONS[name][1].values())


@pytest.mark.parametrize("name", sorted(set(REASONS) - {"no type", "partner"}))
def test_allowed_to_leave_stops_out_a_solve_serves_the_rest_and_lists_what_it_left(name):
    document = json.loads(json.dumps(REASONS[name][0]))
    document["options"]["allow_unassigned"] = True
    result = ploxa.solve_json_str(json.dumps(document))
    assert result["status"] == "partial"
    assert route_problems(document, result) == []
    left = {stop["node"]: stop["reason"] for stop in result["unassigned"]}
    assert len(left) == 1
    if not name.startswith("no room"):
        assert left == REASONS[name][1] == fits_nowhere(document, "warning")
        # Every finding ("too heavy" has another) turns into a warning.
        assert all(kind == "warning" for kind, _ in ploxa.check_json_str(json.dumps(document)))
