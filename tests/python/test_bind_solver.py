import pytest

import _pyploxa_core as core
from conftest import make_agent, make_node


def route_cost(matrix, path):
    return sum(matrix[a][b] for a, b in zip(path, path[1:]))


@pytest.fixture
def solved(triangle):
    options = triangle.options()
    options.objective = core.ObjectiveType.MinMax
    options.time_limit = 2.0
    solver = core.Solver(triangle, options)
    status = solver.solve()
    return solver, status


class TestResult:
    def test_cannot_be_constructed_from_python(self):
        with pytest.raises(TypeError, match=r"^_pyploxa_core\.Result: No constructor defined!$"):
            core.Result()

    def test_attributes_are_read_only(self, solved):
        result = solved[0].get_result()
        with pytest.raises(AttributeError):
            result.timeout = True

    def test_reads_build_new_objects(self, solved):
        result = solved[0].get_result()
        result.paths[0].append(99)
        result.times[0] = -1.0
        assert 99 not in result.paths[0]
        assert result.times[0] >= 0.0

    def test_copies_are_independent_of_the_solver(self, solved):
        solver, _ = solved
        first, second = solver.get_result(), solver.get_result()
        assert first is not second
        assert first.paths == second.paths


class TestSolver:
    def test_solve_returns_one_and_feasible_routes(self, solved, triangle):
        solver, status = solved
        assert status == 1 and type(status) is int
        result = solver.get_result()
        assert sorted(result.paths) == [0, 1]
        matrix = [[0, 5, 6], [5, 0, 5], [6, 5, 0]]
        visited = sorted(v for path in result.paths.values() for v in path[1:-1])
        assert visited == [1, 2]
        for k, path in result.paths.items():
            assert path[0] == path[-1] == 0
            assert result.times[k] == pytest.approx(route_cost(matrix, path))
        # min-max: each agent takes one target, the longer trip is 0 -> 2 -> 0
        assert max(result.times.values()) == pytest.approx(12.0)

    def test_result_attributes_have_python_types(self, solved):
        result = solved[0].get_result()
        assert type(result.n_generated) is int and result.n_generated >= result.n_expanded > 0
        assert type(result.timeout) is bool
        assert type(result.last_update_time) is float
        assert all(type(v) is int for path in result.paths.values() for v in path)

    def test_process_has_two_snapshots_per_solution(self, solved):
        solver, _ = solved
        process = solver.get_result_process()
        assert len(process) >= 2 and len(process) % 2 == 0
        times = [t for t, _ in process]
        assert times == sorted(times)
        assert all(isinstance(r, core.Result) for _, r in process)
        assert process[-1][1].paths == solver.get_result().paths

    def test_keeps_its_own_copy_of_the_problem(self, triangle):
        solver = core.Solver(problem=triangle, options=triangle.options())
        triangle.nodes()[1].id = 42
        triangle.add_node(make_node(7))
        assert solver.solve() == 1
        assert max(v for path in solver.get_result().paths.values() for v in path) == 2

    def test_solve_docstring(self):
        assert core.Solver.solve.__doc__.strip().endswith(
            "Run the Ploxa solver. Returns 1 on success, 0 on failure.")

    def test_returns_zero_when_no_agent_may_serve_a_node(self, triangle):
        blocked = core.AssignmentConstraint()
        blocked.set_assignment(2, [])
        blocked.set_assignment(0, ["drone"])
        blocked.set_assignment(1, ["drone"])
        triangle.set_assignment_constraint(blocked)
        solver = core.Solver(triangle, triangle.options())
        assert solver.solve() == 0
        assert solver.get_result().paths == {}
        assert solver.get_result_process() == []

    @pytest.mark.parametrize("mutate, error, message", [
        # an agent starting at a node id that no node carries
        (lambda p: p.add_agent(make_agent(9, start=17), 9), IndexError,
         "agent 9 has start_node 17, which is no node id"),
        # a matrix with more rows than nodes
        (lambda p: p.set_cost_matrix("drone", [[0]] * 4), ValueError,
         "cost matrix for agent type 'drone' has 4 rows, but the problem has 3 nodes"),
        # more nodes than the search can hold
        (lambda p: [p.add_node(make_node(100 + k)) for k in range(254)], ValueError,
         "the instance has 257 nodes, but the solver handles at most 256"),
    ])
    def test_invalid_instances_raise_python_errors(self, triangle, mutate, error, message):
        mutate(triangle)
        with pytest.raises(error, match=message):
            core.Solver(triangle, triangle.options())
        # the interpreter is still alive and the module still works
        assert core.Options().time_limit == 60.0
