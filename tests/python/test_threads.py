"""Several threads in one solve, and solves that leave the interpreter lock to other threads."""

import concurrent.futures
import json
import threading

import pytest

import ploxa
from conftest import problem_of, solver_routes
from route_check import route_problems


def ring(seed, count=40, agents=3):
    """Targets on a jittered ring around one depot, min-max, the stage on."""
    nodes = [{"id": 0, "x": 0, "y": 0}] + [
        {"id": i, "x": 50 + (i * 37 + seed) % 23, "y": (i * 53 + 7 * seed) % 97}
        for i in range(1, count)]
    return {"nodes": nodes, "metrics": {"t": {"kind": "euclidean"}},
            "agents": [{"id": k, "type": "t", "start_node": 0, "end_node": 0}
                       for k in range(agents)],
            "constraints": [{"kind": "assignment",
                             "items": [{"node": n["id"], "types": ["t"]} for n in nodes]}],
            "options": {"objective": "min_max", "improve": True, "seed": 3,
                        "max_iterations": 4000, "time_limit": 5}}


def test_another_thread_runs_while_a_solve_has_released_the_lock():
    instance = ring(2)
    instance["options"].update(max_iterations=0, stop_when_stalled=False, time_limit=1)
    counted = [0]
    stop = threading.Event()

    def count():
        while not stop.is_set():
            counted[0] += 1

    counter = threading.Thread(target=count)
    counter.start()
    try:
        before = counted[0]
        result = ploxa.solve_json_str(json.dumps(instance), release_gil=True)
        during = counted[0] - before
    finally:
        stop.set()
        counter.join()
    assert result["status"] == "success"
    assert during > 10000


def solver_for(instance, threads):
    options = ploxa.Options()
    options.objective = ploxa.ObjectiveType.MinMax
    options.improve, options.seed, options.max_iterations = True, 3, 4000
    options.time_limit, options.threads = 5, threads
    return ploxa.Solver(problem_of(instance), options)


@pytest.mark.parametrize("threads", [1, 2])  # one thread per solve; two each
def test_two_solvers_solving_at_once_both_return_checked_routes(threads):
    instances = [ring(seed) for seed in (3, 4)]
    solvers = [solver_for(instance, threads) for instance in instances]
    with concurrent.futures.ThreadPoolExecutor(max_workers=2) as pool:
        assert list(pool.map(lambda solver: solver.solve(release_gil=True), solvers)) == [1, 1]
    for instance, solver in zip(instances, solvers):
        routes = solver_routes(instance["agents"], solver.get_result())
        assert route_problems(instance, routes) == []
