import json

import pytest

import _pyploxa_core as core
from conftest import EXAMPLES, TRIANGLE, make_node, solver_routes
from route_check import route_problems


def solve(problem, objective=core.ObjectiveType.MinMax):
    options = problem.options()
    options.objective = objective
    options.time_limit = 2.0
    solver = core.Solver(problem=problem, options=options)
    return solver, solver.solve()


@pytest.mark.parametrize("objective, windows, best", [
    (core.ObjectiveType.MinMax, [], 12.0),               # one target each: 0 -> 2 -> 0 is longest
    (core.ObjectiveType.MinSum, [], 16.0),               # one agent tours both targets
    (core.ObjectiveType.MinMax, [(1, 8.0, 99.0)], 13.0),  # waiting for node 1 lengthens its trip
])
def test_solve_returns_one_with_the_best_feasible_routes_and_their_history(triangle, objective,
                                                                           windows, best):
    constraint = core.TimeWindowConstraint()
    for node, start, end in windows:
        constraint.set_timewindow(node=node, start=start, end=end)
    triangle.set_timewindow_constraint(constraint=constraint)
    solver, status = solve(triangle, objective)
    assert status == 1
    result = solver.get_result()
    document = dict(TRIANGLE, constraints=[{"kind": "timewindow", "items": [
        {"node": n, "start": s, "end": e} for n, s, e in windows]}])
    assert route_problems(document, solver_routes(TRIANGLE["agents"], result)) == []
    score = max if objective == core.ObjectiveType.MinMax else sum
    assert score(result.times.values()) == pytest.approx(best)
    # two time-ordered snapshots per solution, the last one being the result
    process = solver.get_result_process()
    assert len(process) >= 2 and len(process) % 2 == 0
    assert [t for t, _ in process] == sorted(t for t, _ in process)
    assert process[-1][1].paths == result.paths


def test_solver_keeps_its_own_copy_of_the_problem(triangle):
    solver = core.Solver(triangle, triangle.options())
    triangle.nodes()[1].id = 42
    triangle.add_node(make_node(7))
    assert solver.solve() == 1
    assert max(v for path in solver.get_result().paths.values() for v in path) == 2


def test_solve_returns_zero_and_empty_results_naming_the_node_no_agent_may_serve(triangle):
    blocked = core.AssignmentConstraint()
    blocked.set_assignment(node=2, types=[])
    blocked.set_assignment(0, ["drone"])
    blocked.set_assignment(1, ["drone"])
    triangle.set_assignment_constraint(constraint=blocked)
    solver, status = solve(triangle)
    assert status == 0
    assert solver.get_result().paths == {}
    assert solver.get_result().unassigned == [(2, "no agent type may serve it")]
    assert solver.get_result_process() == []


def test_progress_reports_each_new_best_in_order_keeping_every_rule_as_the_history_does():
    # Separate depots, windows, cost limits and open routes; the search and the stage report.
    document = json.loads((EXAMPLES / "time_windows.json").read_text())
    seen = []
    result = core.solve_json_str(json.dumps(document), improve=True, seed=3, threads=2,
                                 progress=seen.append)
    assert {report.source for report in seen} == {"search", "improvement"}
    assert [r.time for r in seen] == sorted(r.time for r in seen)
    totals = [report.total for report in seen]  # min-sum: each report strictly better
    assert all(later < earlier for earlier, later in zip(totals, totals[1:]))
    assert [(r.longest, r.total) for r in seen] == [
        (step["max_cost"], step["sum_cost"]) for step in result["anytime"]]
    assert seen[-1].routes == [route["node_ids"] for route in result["routes"]]
    vertex = {node["id"]: k for k, node in enumerate(document["nodes"])}
    for report in seen:  # every plan reported, not only the last, keeps every rule
        assert route_problems(document, {"routes": [
            {"agent_id": agent["id"], "path": [vertex[node] for node in route]}
            for agent, route in zip(document["agents"], report.routes)]}) == []


Enough = type("Enough", (Exception,), {})


def stop_at_first(report):
    raise Enough(report.source)


def test_an_exception_in_progress_stops_the_solve_and_keeps_the_best_solution(triangle, square):
    solver = core.Solver(triangle, triangle.options())
    with pytest.raises(Enough, match="search"):
        solver.solve(progress=stop_at_first)
    assert solver.get_result().paths
    with pytest.raises(Enough) as raised:
        core.solve_json_str(json.dumps(square), progress=stop_at_first)
    assert (raised.value.result["status"], raised.value.result["stop_reason"]) == (
        "success", "interrupted")
