import ast
import gc
import pathlib

import pytest

import _pyploxa_core as core
from conftest import make_agent, make_node


def one_of_each():
    problem = core.Problem()
    problem.add_node(node=make_node(1))
    problem.add_agent(agent=make_agent(7), id=7)
    return problem


@pytest.mark.parametrize("make_owner, view_of, attribute, first, second", [
    (core.Node, lambda n: n.position, "x", 2.5, 4.0),                  # a node's position
    (one_of_each, lambda p: p.nodes()[0], "demand", 3.5, 1.5),         # a stored node
    (one_of_each, lambda p: p.agents_ordered()[0], "type", "a", "b"),  # a stored agent
    (one_of_each, lambda p: p.options(), "time_limit", 5.0, 7.0),      # the problem's options
])
def test_views_write_through_and_keep_their_owner_alive(make_owner, view_of, attribute, first,
                                                        second):
    owner = make_owner()
    view = view_of(owner)
    setattr(view, attribute, first)
    assert getattr(view_of(owner), attribute) == first
    del owner
    gc.collect()  # no hidden references keep the owner
    setattr(view, attribute, second)
    assert getattr(view, attribute) == second


def test_type_stubs_describe_every_public_name_and_member():
    tree = ast.parse(pathlib.Path(core.__file__).with_name("_pyploxa_core.pyi").read_text())
    stubbed = {n.name for n in tree.body if isinstance(n, (ast.ClassDef, ast.FunctionDef))}
    assert stubbed == {name for name in vars(core) if not name.startswith("_")}
    for cls in (n for n in tree.body if isinstance(n, ast.ClassDef)):
        members = {n.name if hasattr(n, "name") else n.target.id for n in cls.body
                   if isinstance(n, (ast.FunctionDef, ast.AnnAssign))}
        missing = {m for m in members if not m.startswith("__")} - set(dir(getattr(core, cls.name)))
        assert not missing, (cls.name, missing)
