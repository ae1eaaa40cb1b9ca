"""Optional stops with prizes against exhaustive enumeration on tiny instances: under min-sum
the route costs plus the prizes lost, under min-max the prizes lost first and the longest
route second."""

import functools
import itertools
import json
import math
import random

import pytest

import ploxa
from conftest import run_cli, write_json
from route_check import route_problems


def instance(seed, objective, agents, max_length=0):
    rng = random.Random(seed)
    nodes = [{"id": 0, "x": 50, "y": 50}]
    for i in range(1, 7):
        nodes.append({"id": i, "x": rng.uniform(0, 100), "y": rng.uniform(0, 100)})
        # Every other stop optional, its prize about what a detour to it costs.
        if i % 2 == 0 or seed % 2 == 0:
            nodes[-1].update(required=False, prize=round(rng.uniform(0, 90), 1))
    agent = {"type": "v", "start_node": 0, "end_node": 0}
    if max_length:
        agent["max_length"] = max_length
    return {"nodes": nodes, "agents": [{**agent, "id": k} for k in range(agents)],
            "metrics": {"v": {"kind": "euclidean"}},
            "options": {"objective": objective, "time_limit": 2, "improve": True, "seed": seed}}


def best_by_enumeration(document):
    """The key of the best plan, (total with the prizes lost,) under min-sum and (prizes lost,
    longest route) under min-max, over every split of the stops among the agents and "out"
    and every order within each route; None when no plan keeps the cost limit."""
    nodes, agents = document["nodes"], len(document["agents"])
    limit = document["agents"][0].get("max_length", 0) or math.inf
    point = [(node["x"], node["y"]) for node in nodes]

    @functools.cache
    def tour(stops):
        return min(sum(math.dist(point[a], point[b]) for a, b in itertools.pairwise((0, *order, 0)))
                   for order in itertools.permutations(stops))

    best = None
    for owner in itertools.product(range(-1, agents), repeat=len(nodes) - 1):
        out = [v for v, o in enumerate(owner, 1) if o < 0]
        if any(nodes[v].get("required", True) for v in out):
            continue
        costs = [tour(tuple(v for v, o in enumerate(owner, 1) if o == k)) for k in range(agents)]
        lost = sum(nodes[v].get("prize", 0) for v in out)
        if max(costs) <= limit + 1e-9:
            key = ((sum(costs) + lost,) if document["options"]["objective"] == "min_sum"
                   else (round(lost, 9), max(costs)))
            best = key if best is None else min(best, key)
    return best


@pytest.mark.parametrize("seed", [1, 2, 3, 4])
@pytest.mark.parametrize("objective, agents, max_length", [
    ("min_sum", 1, 0), ("min_sum", 2, 0), ("min_max", 2, 150), ("min_max", 3, 110)])
def test_optional_stops_weigh_their_prizes_as_enumeration_does(seed, objective, agents,
                                                                max_length):
    document = instance(seed, objective, agents, max_length)
    result = ploxa.solve_json_str(json.dumps(document))
    expected = best_by_enumeration(document)
    if expected is None:
        # A required stop beyond every agent's limit.
        assert result["status"] == "failed"
        return
    assert result["status"] == "success"
    assert route_problems(document, result) == []
    stats = result["statistics"]
    if objective == "min_sum":
        found = (stats["sum_cost"] + stats["lost_prize"],)
    else:
        found = (round(stats["lost_prize"], 9), stats["max_cost"])
    assert found == pytest.approx(expected, rel=1e-6)


def test_a_stop_is_required_unless_it_says_otherwise_and_prizes_must_be_finite_and_positive():
    document = instance(1, "min_sum", 1)
    document["nodes"][1].update(prize=-1, required=False)
    findings = ploxa.check_json_str(json.dumps(document))
    assert ("error", "node 1: prize = -1 is negative") in findings
    document["nodes"][1].update(prize=5, required=True)
    assert ("warning", "node 1: prize = 5 is ignored: the stop is required") in (
        ploxa.check_json_str(json.dumps(document)))


def test_the_command_line_names_the_prizes_lost(tmp_path):
    document = instance(4, "min_sum", 1)
    lost = ploxa.solve_json_str(json.dumps(document))["statistics"]["lost_prize"]
    assert lost > 0
    run = run_cli("solve", write_json(tmp_path / "optional.json", document))
    assert run.returncode == 0 and f"prizes lost {lost:.6g}" in run.stdout
