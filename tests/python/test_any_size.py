"""Instances beyond the joint search, costs from coordinates, and the construction that gives
the improvement stage a start when the search has none."""

import json
import math
import random

import pytest

import _pyploxa_core as core
from conftest import make_agent, make_node, solver_routes
from route_check import metric_cost, route_problems


def random_instance(seed, nodes, agents, objective, metric=True, windows=False, two_types=False,
                    limits=False, separate=False, open_routes=False, service=False, days=False):
    """A feasible random instance: every target admits at least one type that some agent has,
    windows open late enough to make agents wait and close late enough to be met; with
    `service`, every node takes up to 40 to serve (ignored at depots); with `days`, shifts
    that start late, stop limits of one and a half times a fair share, fixed costs and a
    travel-only route cost."""
    rng = random.Random(seed)
    types = ["truck", "drone"] if two_types else ["truck"]
    depots = list(range(agents)) if separate else [0]
    document = {
        "nodes": [{"id": 10 + i, "x": rng.uniform(0, 1000), "y": rng.uniform(0, 1000)}
                  for i in range(nodes)],
        "agents": [{"id": k, "type": types[k % len(types)], "start_node": 10 + depots[k % len(depots)],
                    "end_node": 10 + depots[k % len(depots)]} for k in range(agents)],
        "options": {"objective": objective, "time_limit": 1.0, "improve": True,
                    "return_to_end": not open_routes},
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
    metrics = {t: {"kind": "euclidean", "factor": factors[t]} for t in types}
    if metric:
        document["metrics"] = metrics
    else:
        points = document["nodes"]
        document["costs"] = {t: [[metric_cost("euclidean", factors[t], a, b) for b in points]
                                 for a in points] for t in types}
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
])
def test_routes_beyond_the_search_pass_the_independent_check(shape):
    document = random_instance(len(str(shape)), **shape)
    result = core.solve_json_str(json.dumps(document))
    assert result["status"] == "success"
    assert result["statistics"]["method"] == "construction+improvement"
    assert route_problems(document, result) == []
    # The stage never makes the construction's solution worse (the fixed costs, which the
    # anytime entries leave out, may buy a larger sum).
    key = "max_cost" if shape["objective"] == "min_max" else "sum_cost"
    if not shape.get("days"):
        assert result["statistics"][key] <= result["anytime"][0][key] + 1e-9


@pytest.mark.parametrize("nodes, options", [
    (12, {"improve": False}),         # the joint search
    (300, {"max_iterations": 300}),   # the construction and a capped improvement stage
])
def test_a_metric_gives_the_same_routes_as_its_matrix(nodes, options):
    with_metric = random_instance(7, nodes, 3, "min_max", two_types=True)
    with_matrix = random_instance(7, nodes, 3, "min_max", two_types=True, metric=False)
    for document in (with_metric, with_matrix):
        document["options"].update(options, time_limit=30.0)
    solved = [core.solve_json_str(json.dumps(d)) for d in (with_metric, with_matrix)]
    assert [r["path"] for r in solved[0]["routes"]] == [r["path"] for r in solved[1]["routes"]]
    assert route_problems(with_metric, solved[0]) == []


BASE = {"nodes": [{"id": 0, "x": 0, "y": 0}, {"id": 1, "x": 3, "y": 4}],
        "agents": [{"id": 0, "type": "bot", "start_node": 0, "end_node": 0}]}


@pytest.mark.parametrize("metrics, costs, message", [
    ({"bot": {"kind": "chebyshev"}}, None,
     r'metrics\.bot\.kind must be "euclidean", "manhattan" or "haversine", not "chebyshev"'),
    ({"bot": {"kind": "euclidean", "factor": 0}}, None,
     r"metrics\.bot\.factor must be a finite number above 0, not 0"),       # zero factor
    ({"bot": {"kind": "euclidean", "factor": -2.5}}, None,
     r"metrics\.bot\.factor must be a finite number above 0, not -2\.5"),  # negative factor
    ({"bot": {"kind": "euclidean", "factor": "fast"}}, None,
     r'metrics\.bot\.factor must be a finite number above 0, not "fast"'),  # not a number
    ({"bot": {"kind": "euclidean"}}, {"bot": [[0, 5], [5, 0]]},
     r"metrics\.bot: agent type 'bot' has a cost matrix as well; give one or the other"),
    ({"boat": {"kind": "euclidean"}}, None,
     r"metrics\.boat names agent type 'boat', which no agent has"),
    ({"bot": {"kind": "haversine"}}, None, None),                           # y = 95 below
    ({"bot": "euclidean"}, None, r'metrics\.bot must be an object with a "kind", not "euclidean"'),
])
def test_bad_metrics_raise_value_errors_naming_the_field(metrics, costs, message):
    document = json.loads(json.dumps(BASE))
    document["metrics"] = metrics
    if costs:
        document["costs"] = costs
    if message is None:
        document["nodes"][1]["y"] = 95
        message = (r"nodes\[1\]\.y = 95 is outside -90 \.\. 90, but metrics\.bot \(haversine\) "
                   r"reads it as a latitude in degrees")
    with pytest.raises(ValueError, match=message):
        core.solve_json_str(json.dumps(document))


@pytest.mark.parametrize("kind, factor, message", [
    ("chebyshev", 1.0, r'metrics\.bot\.kind must be "euclidean", "manhattan" or "haversine"'),
    ("manhattan", math.inf, r"metrics\.bot\.factor must be a finite number above 0, not inf"),
    ("manhattan", math.nan, r"metrics\.bot\.factor must be a finite number above 0, not nan"),
])
def test_set_metric_refuses_what_the_json_reader_refuses(kind, factor, message):
    with pytest.raises(ValueError, match=message):
        core.Problem().set_metric("bot", kind, factor)


@pytest.fixture(scope="module")
def beyond_the_search():
    return random_instance(3, 300, 3, "min_sum", two_types=True)


def test_more_than_256_nodes_solve_through_the_object_path(beyond_the_search):
    problem = core.Problem()
    for item in beyond_the_search["nodes"]:
        problem.add_node(make_node(item["id"], item["x"], item["y"]))
    for item in beyond_the_search["agents"]:
        problem.add_agent(make_agent(item["id"], item["type"], item["start_node"],
                                     item["end_node"]), item["id"])
    assignment = core.AssignmentConstraint()
    for item in beyond_the_search["constraints"][0]["items"]:
        assignment.set_assignment(item["node"], item["types"])
    problem.set_assignment_constraint(assignment)
    for agent_type, metric in beyond_the_search["metrics"].items():
        problem.set_metric(agent_type, "euclidean", metric["factor"])
    options = problem.options()
    options.objective, options.time_limit = core.ObjectiveType.MinSum, 1.0
    solver = core.Solver(problem, options)
    sources = []
    assert solver.solve(progress=lambda p: sources.append(p.source)) == 1
    assert solver.get_result().method == "construction+improvement"
    assert sources[0] == "construction" and set(sources[1:]) <= {"improvement"}
    routes = solver_routes(beyond_the_search["agents"], solver.get_result())
    assert route_problems(beyond_the_search, routes) == []


def test_the_construction_starts_the_stage_when_the_search_has_no_solution():
    document = random_instance(5, 40, 3, "min_sum", windows=True, limits=True, separate=True)
    # A memory ceiling below what the process already holds stops the search at once.
    document["options"].update(memory_limit=1)
    result = core.solve_json_str(json.dumps(document))
    assert result["statistics"]["method"] == "construction+improvement"
    assert route_problems(document, result) == []


def test_a_node_no_agent_may_serve_fails_with_the_reason(capfd):
    document = random_instance(2, 300, 2, "min_max")
    document["constraints"][0]["items"][5]["types"] = ["submarine"]
    result = core.solve_json_str(json.dumps(document))
    assert result["status"] == "failed"
    assert "[construction] no route could take node 15, blocked most often by " in capfd.readouterr().err
