import ast
import pathlib
import shutil
import subprocess
import sys

import pytest

import _pyploxa_core as core
from conftest import make_agent, make_node


class TestModule:
    def test_docstring_names_the_solver(self):
        assert core.__doc__ == "Ploxa MTSP Solver \u2014 C++ core bindings"

    def test_names_are_registered_in_order(self):
        names = [n for n in vars(core) if not n.startswith("__")]
        assert names[:9] == [
            "ObjectiveType", "NodeType", "Position", "Node", "Agent", "Options",
            "AssignmentConstraint", "TimeWindowConstraint", "Problem",
        ]

    @pytest.mark.parametrize("member", ["MinMax", "MinSum", "DEPOT", "TARGET"])
    def test_enum_members_are_not_exported_to_the_module(self, member):
        assert not hasattr(core, member)

    def test_other_interpreters_are_refused(self, tmp_path):
        other = shutil.which("python3.11") or shutil.which("python3")
        probe = [other, "-c", "import sys; print(sys.version_info[:2] != (3, 12))"] if other else []
        if not other or subprocess.run(probe, capture_output=True, text=True).stdout.strip() != "True":
            pytest.skip("no interpreter other than 3.12 on this machine")
        shutil.copy(core.__file__, tmp_path / "_pyploxa_core.so")
        run = subprocess.run([other, "-c", "import _pyploxa_core"], cwd=tmp_path,
                             capture_output=True, text=True)
        assert run.returncode != 0
        last = run.stderr.strip().splitlines()[-1]
        assert last.startswith("ImportError: Python version mismatch: module was compiled for "
                               "Python 3.12, but the interpreter version is incompatible: 3.")


class TestEnums:
    @pytest.mark.parametrize("member, value", [
        (core.ObjectiveType.MinMax, 0),
        (core.ObjectiveType.MinSum, 1),
        (core.NodeType.DEPOT, 0),
        (core.NodeType.TARGET, 1),
    ])
    def test_members_convert_to_their_values(self, member, value):
        assert int(member) == value
        assert member.value == value


class TestRecords:
    @pytest.mark.parametrize("cls, attribute, default, kind", [
        (core.Position, "x", 0.0, float),
        (core.Position, "z", 0.0, float),
        (core.Node, "id", 0, int),
        (core.Node, "type", core.NodeType.TARGET, core.NodeType),
        (core.Node, "demand", 0.0, float),
        (core.Agent, "id", 0, int),
        (core.Agent, "type", "", str),
        (core.Agent, "start_node", 0, int),
        (core.Agent, "end_node", 0, int),
        (core.Agent, "capacity_limit", 0.0, float),
        (core.Agent, "time_limit", 0.0, float),
        (core.Options, "return_to_end", True, bool),
        (core.Options, "objective", core.ObjectiveType.MinSum, core.ObjectiveType),
        (core.Options, "time_limit", 60.0, float),
    ])
    def test_fresh_objects_have_typed_defaults(self, cls, attribute, default, kind):
        value = getattr(cls(), attribute)
        assert value == default
        assert type(value) is kind

    def test_node_ids_take_the_full_unsigned_range(self):
        node = core.Node()
        node.id = 2**64 - 1
        assert node.id == 2**64 - 1
        with pytest.raises(TypeError):
            node.id = -1

    def test_node_position_writes_through_and_keeps_the_node_alive(self, collect):
        node = core.Node()
        position = node.position
        position.x = 2.5
        assert node.position.x == 2.5
        del node
        collect()
        position.y = 4.0
        assert (position.x, position.y) == (2.5, 4.0)

    def test_assigning_a_position_copies_it(self):
        node, position = core.Node(), core.Position()
        node.position = position
        position.x = 9.0
        assert node.position.x == 0.0

    @pytest.mark.parametrize("cls, attribute, value", [
        (core.Node, "type", 1),              # plain int for an enumeration
        (core.Node, "position", None),       # None for an object
        (core.Agent, "type", 3),             # number for a string
        (core.Options, "objective", "min_max"),  # text for an enumeration
    ])
    def test_wrongly_typed_assignments_raise_type_error(self, cls, attribute, value):
        with pytest.raises(TypeError):
            setattr(cls(), attribute, value)


class TestConstraints:
    def test_set_assignment_takes_keywords_and_any_sequence_of_text(self):
        constraint = core.AssignmentConstraint()
        constraint.set_assignment(node=3, types=("a", "b"))
        with pytest.raises(TypeError, match="incompatible function arguments"):
            constraint.set_assignment(3, "ab")

    def test_set_timewindow_takes_keywords(self):
        constraint = core.TimeWindowConstraint()
        constraint.set_timewindow(node=1, start=0.5, end=2)
        with pytest.raises(TypeError, match="incompatible function arguments"):
            constraint.set_timewindow(1, "0", 2)


class TestProblem:
    def test_add_node_stores_a_copy(self):
        problem, node = core.Problem(), make_node(5)
        problem.add_node(node)
        node.id = 6
        node.position.x = 1.0
        stored = problem.nodes()[0]
        assert (stored.id, stored.position.x) == (5, 0.0)

    def test_node_views_write_through_and_keep_the_problem_alive(self, collect):
        problem = core.Problem()
        problem.add_node(make_node(1))
        view = problem.nodes()[0]
        view.demand = 3.5
        view.position.z = 1.5
        del problem
        collect()
        assert (view.demand, view.position.z) == (3.5, 1.5)

    def test_views_stay_valid_after_the_problem_grows(self, collect):
        problem = core.Problem()
        problem.add_node(make_node(1))
        problem.add_agent(make_agent(7), 7)
        node_view, agent_view = problem.nodes()[0], problem.agents_ordered()[0]
        for k in range(2000):
            problem.add_node(make_node(100 + k))
            problem.add_agent(make_agent(100 + k), 100 + k)
        collect()
        node_view.id = 11
        agent_view.type = "truck"
        assert problem.nodes()[0].id == 11
        assert problem.agents_ordered()[0].type == "truck"
        assert [n.id for n in problem.nodes()[:3]] == [11, 100, 101]

    def test_agents_ordered_lists_every_add_in_order_with_repeated_ids(self):
        problem = core.Problem()
        problem.add_agent(make_agent(3, "a"), id=3)
        problem.add_agent(make_agent(3, "b"), id=3)
        problem.add_agent(make_agent(1, "a"), id=1)
        assert [(a.id, a.type) for a in problem.agents_ordered()] == [(3, "a"), (3, "b"), (1, "a")]

    def test_options_is_a_view_that_outlives_the_problem(self, collect):
        problem = core.Problem()
        options = problem.options()
        options.objective = core.ObjectiveType.MinMax
        assert problem.options().objective == core.ObjectiveType.MinMax
        del problem
        collect()
        options.time_limit = 5.0
        assert options.time_limit == 5.0

    def test_methods_accept_keywords(self, triangle):
        triangle.set_cost_matrix(agent_type="truck", matrix=((0, 1), (1, 0)))
        triangle.add_node(node=make_node(9))
        constraint = core.TimeWindowConstraint()
        triangle.set_timewindow_constraint(constraint=constraint)
        triangle.set_assignment_constraint(constraint=core.AssignmentConstraint())
        assert len(triangle.nodes()) == 4

    @pytest.mark.parametrize("call", [
        lambda p: p.add_node(None),                       # None for a node
        lambda p: p.add_agent(make_agent(0), -1),         # negative id
        lambda p: p.set_cost_matrix("a", [[0, "x"]]),     # text in a row
        lambda p: p.set_cost_matrix("a", [1, 2]),         # rows that are numbers
        lambda p: p.set_assignment_constraint(core.TimeWindowConstraint()),  # wrong class
    ])
    def test_wrong_argument_types_raise_type_error(self, triangle, call):
        with pytest.raises(TypeError, match="incompatible function arguments"):
            call(triangle)


def test_type_stubs_describe_every_public_name():
    stub = pathlib.Path(core.__file__).with_name("_pyploxa_core.pyi")
    tree = ast.parse(stub.read_text())
    stubbed = {node.name for node in tree.body if isinstance(node, (ast.ClassDef, ast.FunctionDef))}
    public = {name for name in vars(core) if not name.startswith("_")}
    assert stubbed == public
    for cls in tree.body:
        if isinstance(cls, ast.ClassDef):
            members = {n.name if hasattr(n, "name") else n.target.id for n in cls.body
                       if isinstance(n, (ast.FunctionDef, ast.AnnAssign))}
            missing = {m for m in members if not m.startswith("__")} - set(dir(getattr(core, cls.name)))
            assert not missing, (cls.name, missing)
