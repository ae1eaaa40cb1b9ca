"""Instances beyond the joint search, costs from coordinates, and the construction that gives
the improvement stage a start when the search has none. That the search and the stage price
metrics right, the enumeration of tiny instances in test_loads_and_order and test_prizes
shows."""

import json
import math
import random

import pytest

import _pyploxa_core as core
from conftest import assert_refused
from route_check import route_problems


def random_instance(seed, nodes, agents, objective, windows=False, two_types=False, limits=False,
                    separate=False, open_routes=False, service=False, days=False, **options):
    """A feasible random instance: every target admits at least one type that some agent has,
    windows open late enough to make agents wait and close late enough to be met; with
    `service`, every node takes up to 40 to serve (ignored at depots); with `days`, shifts
    that start late, stop limits of one and a half times a fair share, fixed costs and a
    travel-only route cost; `options` go into the instance's."""
    rng = random.Random(seed)
    types = ["truck", "drone"] if two_types else ["truck"]
    depots = list(range(agents)) if separate else [0]
    document = {
        "nodes": [{"id": 10 + i, "x": rng.uniform(0, 1000), "y": rng.uniform(0, 1000)}
                  for i in range(nodes)],
        "agents": [{"id": k, "type": types[k % len(types)], "start_node": 10 + depots[k % len(depots)],
                    "end_node": 10 + depots[k % len(depots)]} for k in range(agents)],
        "options": {"objective": objective, "time_limit": 1.0, "improve": True,
                    "return_to_end": not open_routes, **options},
    }
    if limits:
        for agent in document["agents"]:
            agent["max_length"] = 1_000_000
    if service:
        for node in document["nodes"]:
            node["service"] = rng.uniform(0, 40)
    if days:
        for agent in document["agents"]:
            agent.update(shift_start=rng.uniform(0, 2000), shift_end=10_000_000,
                         max_stops=math.ceil(1.5 * nodes / agents), fixed_cost=1000)
        document["options"]["route_cost"] = "travel"
    assignment = [{"node": 10 + i, "types": types if i in depots or rng.random() < 0.5
                   else [rng.choice(types)]} for i in range(nodes)]
    document["constraints"] = [{"kind": "assignment", "items": assignment}]
    if windows:
        items = []
        for i in range(len(depots), nodes):
            if rng.random() < 0.3:
                opens = rng.uniform(0, 3000)
                items.append({"node": 10 + i, "start": opens, "end": opens + 500_000})
        document["constraints"].append({"kind": "timewindow", "items": items})
    factors = {"truck": 1.0, "drone": 0.7}
    document["metrics"] = {t: {"kind": "euclidean", "factor": factors[t]} for t in types}
    return document


# Matrix costs, own depots, limits and open routes alone are solved beyond the search by the
# core's own tests; here they meet windows, service durations, a long day and 2,000 nodes.
@pytest.mark.parametrize("shape", [
    dict(nodes=300, agents=4, objective="min_sum", two_types=True, windows=True,
         service=True),                                                            # types, windows
    dict(nodes=600, agents=6, objective="min_max", windows=True, limits=True,
         separate=True, open_routes=True, service=True),                          # every rule
    dict(nodes=2000, agents=10, objective="min_max", two_types=True, windows=True),  # 2,000 nodes
    dict(nodes=400, agents=5, objective="min_sum", windows=True, service=True, days=True),  # a day
    # Within the search's reach, but a memory ceiling below what the process already holds
    # stops it at once: the construction starts the stage.
    dict(nodes=40, agents=3, objective="min_sum", windows=True, limits=True, separate=True,
         memory_limit=1),
])
def test_routes_built_without_the_search_pass_the_independent_check(shape):
    document = random_instance(len(str(shape)), **shape)
    sources = []
    result = core.solve_json_str(json.dumps(document), progress=lambda p: sources.append(p.source))
    assert result["status"] == "success"
    assert result["statistics"]["method"] == "construction+improvement"
    assert sources[0] == "construction" and set(sources[1:]) <= {"improvement"}
    assert route_problems(document, result) == []
    # The stage never makes the construction's solution worse (the fixed costs, which the
    # anytime entries leave out, may buy a larger sum).
    key = "max_cost" if shape["objective"] == "min_max" else "sum_cost"
    if not shape.get("days"):
        assert result["statistics"][key] <= result["anytime"][0][key] + 1e-9


BASE = {"nodes": [{"id": 0, "x": 0, "y": 0}, {"id": 1, "x": 3, "y": 4}],
        "agents": [{"id": 0, "type": "bot", "start_node": 0, "end_node": 0}]}


@pytest.mark.parametrize("metrics, change, message", [
    ({"bot": {"kind": "chebyshev"}}, {},
     'metrics.bot.kind must be "euclidean", "manhattan" or "haversine", not "chebyshev"'),
    ({"bot": {"kind": "euclidean", "factor": 0}}, {},
     "metrics.bot.factor must be a finite number above 0, not 0"),
    ({"bot": {"kind": "euclidean", "factor": "fast"}}, {},
     'metrics.bot.factor must be a finite number above 0, not "fast"'),
    ({"bot": {"kind": "euclidean"}}, {"costs": {"bot": [[0, 5], [5, 0]]}},
     "metrics.bot: agent type 'bot' has a cost matrix as well; give one or the other"),
    ({"boat": {"kind": "euclidean"}}, {}, "metrics.boat names agent type 'boat', which no agent has"),
    ({"bot": {"kind": "haversine"}}, {"nodes": [BASE["nodes"][0], {"id": 1, "x": 3, "y": 95}]},
     "nodes[1].y = 95 is outside -90 .. 90, but metrics.bot (haversine) reads it as a latitude "
     "in degrees"),
    ({"bot": "euclidean"}, {}, 'metrics.bot must be an object with a "kind", not "euclidean"'),
])
def test_bad_metrics_raise_value_errors_naming_the_field(metrics, change, message):
    assert_refused(BASE | change | {"metrics": metrics}, message)


def test_a_node_no_agent_may_serve_fails_with_the_reason(capfd):
    document = random_instance(2, 300, 2, "min_max")
    document["constraints"][0]["items"][5]["types"] = ["submarine"]
    result = core.solve_json_str(json.dumps(document))
    assert result["status"] == "failed"
    assert "[construction] no route could take node 15, blocked most often by " in capfd.readouterr().err
