import re

import pytest

import _pyploxa_core as core
from conftest import problem_of, scattered

np = pytest.importorskip("numpy")


def routes_of(matrix):
    """The routes and costs of twelve scattered nodes, three agents from depot 0, min-max, the
    stage on, under `matrix`."""
    problem = problem_of(scattered(12))
    problem.set_cost_matrix("t", matrix)
    options = problem.options()
    options.objective, options.improve, options.max_iterations = core.ObjectiveType.MinMax, True, 2000
    solver = core.Solver(problem, options)
    assert solver.solve() == 1
    return solver.get_result().paths, solver.get_result().times


@pytest.mark.parametrize("as_array", [
    lambda m: m.astype(np.float64),
    lambda m: m.astype(np.float32),
    lambda m: m.astype(np.int32),
    lambda m: m.astype(np.uint16),
    lambda m: np.asfortranarray(m),               # column-major
    lambda m: np.repeat(np.repeat(m, 2, 0), 2, 1)[::2, ::2],  # strided view
])
def test_arrays_of_every_accepted_kind_solve_exactly_like_lists(as_array):
    rng = np.random.default_rng(7)
    matrix = rng.integers(1, 60, size=(12, 12)).astype(np.float64)
    np.fill_diagonal(matrix, 0)
    assert routes_of(as_array(matrix)) == routes_of(matrix.tolist())


@pytest.mark.parametrize("matrix, message", [
    ([[0, 1, 2], [1, 0, float("nan")], [2, 1, 0]], "row 1, column 2 is nan; costs must be "
                                                   "finite and not negative"),
    ([[0, 1, 2], [1, 0, -3], [2, 1, 0]], "row 1, column 2 is -3; costs must be finite"),
    ([[0, 1, 2, 3]] * 3, "cost matrix for agent type 'drone' has a row of 4 entries (row 0), "
                         "but the problem has 3 nodes"),
    ([[0, 1, 2]] * 4, "cost matrix for agent type 'drone' has 4 rows, but the problem has 3 "
                      "nodes"),
])
@pytest.mark.parametrize("kind", ["list", "array"])
def test_unusable_matrices_give_the_same_error_as_lists_or_arrays(triangle, matrix, message, kind):
    triangle.set_cost_matrix("drone", matrix if kind == "list" else np.array(matrix))
    with pytest.raises(ValueError, match=re.escape(message)):
        core.Solver(triangle, triangle.options())


@pytest.mark.parametrize("array, message", [
    (np.zeros(3), "matrix must be two-dimensional, not 1-dimensional"),
    (np.zeros((3, 3, 1)), "matrix must be two-dimensional, not 3-dimensional"),
    (np.zeros((3, 3), dtype=complex), "not buffer format 'Zd'"),
    (np.zeros((3, 3), dtype=">f8"), "not buffer format '>d'"),  # the other byte order
])
def test_arrays_of_other_shapes_or_entries_are_refused(triangle, array, message):
    with pytest.raises(TypeError, match=re.escape(message)):
        triangle.set_cost_matrix("drone", array)
    assert core.Solver(triangle, triangle.options()).solve() == 1  # the earlier matrix stays
