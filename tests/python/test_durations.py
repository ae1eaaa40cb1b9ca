"""Travel times apart from the costs, routes priced by distance and duration, and limits on
both: solves decided by the independent route checker through JSON and the Python objects,
and the errors they raise."""

import json
import math
import random

import pytest

import _pyploxa_core as core
from conftest import assert_refused, problem_of, run_cli, solve_checked, solver_routes, write_json
from route_check import route_problems


def seeded_day(seed, objective):
    """A depot and 15 targets, some with services and windows, where the quick way is not
    the short one: legs within one half of the map are fast, legs across it slow. Three vans,
    priced and limited each in its own way."""
    rng = random.Random(seed)
    nodes = [{"id": 0, "x": 50.0, "y": 50.0}] + [
        {"id": i, "x": rng.uniform(0, 100), "y": rng.uniform(0, 100), "service": rng.choice([0, 4])}
        for i in range(1, 16)]
    distance = [[round(math.dist((a["x"], a["y"]), (b["x"], b["y"])), 1) for b in nodes]
                for a in nodes]
    speed = [[0.7 if (a["x"] < 50) == (b["x"] < 50) else 1.9 for b in nodes] for a in nodes]
    windows = [{"node": i, "start": (start := rng.uniform(0, 150)), "end": start + 90}
               for i in range(3, 16, 3)]
    agents = [{"id": k, "type": "van", "start_node": 0, "end_node": 0} for k in range(3)]
    agents[0]["unit_duration_cost"] = 0.5
    agents[1].update(unit_distance_cost=2.0, max_distance=260.0)
    agents[2]["max_duration"] = 300.0
    return {"nodes": nodes, "agents": agents, "costs": {"van": distance},
            "durations": {"van": [[round(d * s, 1) for d, s in zip(*rows)]
                                  for rows in zip(distance, speed)]},
            "constraints": [{"kind": "timewindow", "items": windows}],
            "options": {"objective": objective, "time_limit": 2, "improve": True, "seed": 3,
                        "max_iterations": 3000}}


def objects_of(document):
    """The document built through the Python objects."""
    problem = problem_of(document)
    for k, agent in enumerate(document["agents"]):
        stored = problem.agents_ordered()[k]
        for key in ("unit_distance_cost", "unit_duration_cost", "max_distance", "max_duration"):
            setattr(stored, key, agent.get(key))
    for k, node in enumerate(document["nodes"]):
        problem.nodes()[k].service = node.get("service", 0.0)
    problem.set_duration_matrix("van", document["durations"]["van"])
    windows = core.TimeWindowConstraint()
    for item in document["constraints"][0]["items"]:
        windows.set_timewindow(item["node"], item["start"], item["end"])
    problem.set_timewindow_constraint(windows)
    options = problem.options()
    options.objective = (core.ObjectiveType.MinMax if document["options"]["objective"] == "min_max"
                         else core.ObjectiveType.MinSum)
    options.time_limit, options.improve, options.seed, options.max_iterations = 2, True, 3, 3000
    return problem, options


@pytest.mark.parametrize("objective", ["min_sum", "min_max"])
@pytest.mark.parametrize("seed", [1, 2, 3])
def test_seeded_days_keep_every_rule_and_answer_alike_through_json_and_the_objects(seed, objective):
    document = seeded_day(seed, objective)
    result = solve_checked(document)
    assert all({"distance", "duration"} <= set(route) for route in result["routes"])
    assert result["statistics"]["distance"] == pytest.approx(
        sum(route["distance"] for route in result["routes"]))
    solver = core.Solver(*objects_of(document))
    assert solver.solve() == 1
    routes = solver_routes(document["agents"], solver.get_result())
    assert route_problems(document, routes) == []
    assert [route["path"] for route in routes["routes"]] == [
        route["path"] for route in result["routes"]]


# A depot and one target 100 away by the costs but 5 away in time, whose window closes at 10.
FAR_BUT_QUICK = {
    "nodes": [{"id": 0, "x": 0, "y": 0}, {"id": 1, "x": 0, "y": 0, "service": 2}],
    "agents": [{"id": 0, "type": "van", "start_node": 0, "end_node": 0}],
    "costs": {"van": [[0, 100], [100, 0]]},
    "durations": {"van": [[0, 5], [5, 0]]},
    "constraints": [{"kind": "timewindow", "items": [{"node": 1, "start": 0, "end": 10}]}],
    "options": {"time_limit": 1},
}


def test_windows_read_the_durations_and_the_route_costs_its_distance(tmp_path):
    result = solve_checked(FAR_BUT_QUICK)
    run = run_cli("solve", write_json(tmp_path / "day.json", FAR_BUT_QUICK))
    assert "cost 200, leaves 0, back 12, distance 200, duration 12" in run.stdout
    route = result["routes"][0]
    assert route["schedule"] == [{"node": 1, "arrival": 5.0, "start": 5.0}]
    assert (route["cost"], route["distance"], route["duration"]) == (200.0, 200.0, 12.0)
    slow = dict(FAR_BUT_QUICK, durations={"van": {"kind": "euclidean", "speed": 0.5}})
    slow["nodes"] = [{"id": 0, "x": 0, "y": 0}, {"id": 1, "x": 6, "y": 0}]
    assert core.solve_json_str(json.dumps(slow))["status"] == "failed"  # 12 to get there


@pytest.mark.parametrize("limit", [{"max_distance": 150}, {"max_duration": 11}])
def test_a_limit_on_distance_or_duration_hands_the_stop_to_a_dearer_agent(limit):
    document = json.loads(json.dumps(FAR_BUT_QUICK))
    document["agents"] = [dict(document["agents"][0], **limit),
                          {"id": 1, "type": "van", "start_node": 0, "end_node": 0,
                           "unit_distance_cost": 3}]
    result = solve_checked(document)
    assert [len(route["path"]) for route in result["routes"]] == [2, 3]
    assert result["routes"][1]["cost"] == 600.0


@pytest.mark.parametrize("change, message", [
    (lambda d: d["durations"].update(bike=[[0, 1], [1, 0]]),
     "durations.bike names agent type 'bike', which no agent has"),
    (lambda d: d["agents"].append({"id": 1, "type": "bike", "start_node": 0, "end_node": 0}),
     "durations: agent type 'bike' has none, but other types have"),
    (lambda d: d["durations"].update(van=[[0, 5]]),
     "durations.van must give a duration for every pair of the 2 nodes: 2 rows of 2"),
    (lambda d: d["durations"]["van"][1].__setitem__(0, -5),
     "durations.van[1][0] = -5; durations must be finite and not negative"),
    (lambda d: d["durations"].update(van={"kind": "euclidean", "speed": 0}),
     "durations.van.speed must be a finite number above 0, not 0"),
    (lambda d: d["agents"][0].update(unit_duration_cost=-1),
     "agent 0: unit_duration_cost = -1 is negative"),
    (lambda d: d["agents"][0].update(max_distance=0),
     "agent 0: max_distance = 0 is not a finite number above 0"),
])
def test_bad_durations_and_prices_raise_value_errors_naming_the_field(change, message):
    document = json.loads(json.dumps(FAR_BUT_QUICK))
    change(document)
    assert_refused(document, message)

