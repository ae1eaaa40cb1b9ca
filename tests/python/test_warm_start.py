"""A warm start: routes to start from, pinned stops that stay in place, a broken route that
is repaired, a saved result solved again, and the errors of "initial_routes"."""

import json

import pytest

import _pyploxa_core as core
import ploxa
from conftest import assert_refused, run_cli, solve_checked, write_json
from route_check import route_problems

# A depot and eight targets on a circle; two vans; node 5 takes service only late.
NODES = [{"id": 0, "x": 0, "y": 0}] + [
    {"id": i, "x": [10, 7, 0, -7, -10, -7, 0, 7][i - 1], "y": [0, 7, 10, 7, 0, -7, -10, -7][i - 1]}
    for i in range(1, 9)]
DAY = {
    "nodes": NODES,
    "agents": [{"id": 10, "type": "van", "start_node": 0, "end_node": 0},
               {"id": 11, "type": "van", "start_node": 0, "end_node": 0}],
    "metrics": {"van": {"kind": "euclidean"}},
    "constraints": [{"kind": "timewindow", "items": [{"node": 5, "start": 0, "end": 15}]}],
    "options": {"objective": "min_sum", "time_limit": 1, "seed": 3},
}


def with_routes(*routes):
    document = json.loads(json.dumps(DAY))
    document["initial_routes"] = [dict(zip(("agent_id", "node_ids", "pinned"), route))
                                  for route in routes]
    return document


def test_pinned_stops_stay_first_in_their_order_and_a_stop_that_breaks_its_route_goes_in_again(
        capfd):
    # Agent 10 pins the far side first, a poor start that the stage would otherwise undo; node 5
    # closes at 15, too late behind agent 11's three other stops. The route checker sees every
    # stop served once.
    result = solve_checked(with_routes((10, [8, 2, 6], 2), (11, [1, 3, 4, 5], 0)))
    assert result["routes"][0]["path"][1:3] == [8, 2]  # agent 10's
    assert "[warm start] 1 stops broke" in capfd.readouterr().err


def test_a_pinned_stop_that_breaks_a_rule_fails_the_solve_and_validation_naming_the_rule(capfd):
    document = json.dumps(with_routes((10, [1, 2, 3, 4, 5], 5)))
    result = ploxa.solve_json_str(document)
    assert result["status"] == "failed"
    assert "the pinned stop node 5 of agent 10 breaks its time rule" in capfd.readouterr().err
    errors = [message for kind, message in ploxa.check_json_str(document) if kind == "error"]
    assert len(errors) == 1 and errors[0].startswith(
        "the pinned stops of agent 10 break a rule of its route: the window of node 5 closes at "
        "15, before its arrival at 40.")


def test_routes_set_through_python_pin_their_stops(triangle):
    triangle.set_initial_routes([ploxa.InitialRoute(0, [2, 1], pinned=2)])
    options = triangle.options()
    options.time_limit = 1.0
    solver = core.Solver(triangle, options)
    assert solver.solve() == 1
    assert solver.get_result().paths[0] == [0, 2, 1, 0]


@pytest.mark.parametrize("routes, error, message", [
    ([{"agent_id": 99, "node_ids": [1]}], IndexError, "initial_routes[0].agent_id 99 names no agent"),
    ([{"agent_id": 10, "node_ids": [1, 42]}], IndexError,
     "initial_routes[0].node_ids holds 42, which names no node"),
    ([{"agent_id": 10, "node_ids": [1, 0, 2]}], ValueError,
     "initial_routes[0].node_ids holds 0, an agent's start or end, among its stops"),
    ([{"agent_id": 10, "node_ids": [1]}, {"agent_id": 11, "node_ids": [2, 1]}], ValueError,
     "initial_routes[1].node_ids holds 1, which initial_routes[0] holds already"),
    ([{"agent_id": 10, "node_ids": [1]}, {"agent_id": 10, "node_ids": [2]}], ValueError,
     "initial_routes[1].agent_id 10 has a route in initial_routes[0] already"),
    ([{"agent_id": 10, "node_ids": [1, 2], "pinned": 3}], ValueError,
     "initial_routes[0].pinned must be from 0 to its 2 stops, not 3"),
    ([{"agent_id": 10, "node_ids": [1], "pinned": -1}], ValueError,
     "initial_routes[0].pinned must be from 0 to its 1 stops, not -1"),
    ([{"agent_id": 10}], ValueError, "initial_routes[0].node_ids is missing"),
])
def test_initial_routes_that_cannot_be_used_raise_and_name_the_field(routes, error, message):
    assert_refused(DAY | {"initial_routes": routes}, message, error)


def test_a_saved_result_solved_again_keeps_its_rules_and_costs_no_more_but_needs_routes(tmp_path):
    instance = write_json(tmp_path / "day.json", DAY)
    first, second = tmp_path / "first.json", tmp_path / "second.json"
    for output, extra in ((first, []), (second, ["--initial", first])):
        run = run_cli("solve", instance, "--quiet", "--output", output, *extra)
        assert run.returncode == 0, run.stderr
    before, after = (json.loads(path.read_text()) for path in (first, second))
    assert route_problems(DAY, after) == []
    assert after["statistics"]["sum_cost"] <= before["statistics"]["sum_cost"] + 1e-9
    empty = write_json(tmp_path / "empty.json", {"status": "failed", "routes": []})
    run = run_cli("solve", instance, "--initial", empty)
    assert run.returncode == 2 and "holds no routes to start from" in run.stderr
