import gc
import importlib.util
import json
import pathlib
import subprocess
import sys

import pytest

import _pyploxa_core as core
from route_check import route_problems

ROOT = pathlib.Path(__file__).resolve().parents[2]
DATA = ROOT / "tests" / "data"
EXAMPLES = ROOT / "examples"
NEEDS_VRPLIB = pytest.mark.skipif(importlib.util.find_spec("vrplib") is None,
                                  reason="vrplib (the formats extra) is not installed")
NEEDS_MATPLOTLIB = pytest.mark.skipif(importlib.util.find_spec("matplotlib") is None,
                                      reason="matplotlib (the plot extra) is not installed")

# The `triangle` fixture as an instance document.
TRIANGLE = {
    "nodes": [{"id": i, "x": x, "y": y} for i, (x, y) in enumerate([(0, 0), (3, 4), (6, 0)])],
    "agents": [{"id": k, "type": "drone", "start_node": 0, "end_node": 0} for k in (0, 1)],
    "costs": {"drone": [[0, 5, 6], [5, 0, 5], [6, 5, 0]]},
}


def make_node(node_id, x=0.0, y=0.0, node_type=core.NodeType.TARGET):
    node = core.Node()
    node.id = node_id
    node.position.x = x
    node.position.y = y
    node.type = node_type
    return node


def make_agent(agent_id, agent_type="drone", start=0, end=0):
    agent = core.Agent()
    agent.id = agent_id
    agent.type = agent_type
    agent.start_node = start
    agent.end_node = end
    return agent


def run_cli(*args, timeout=120, **options):
    """The command line run with `args`, its output captured as text."""
    return subprocess.run([sys.executable, "-m", "ploxa", *map(str, args)], capture_output=True,
                          text=True, timeout=timeout, **options)


def write_json(path, document):
    """Writes `document` to `path` and returns the path as text."""
    path.write_text(json.dumps(document))
    return str(path)


def solve_checked(document, **options):
    """Solves `document`, asserting that it succeeds with routes the route checker passes."""
    result = core.solve_json_str(json.dumps(document), **options)
    assert result["status"] == "success", result["unassigned"]
    assert route_problems(document, result) == []
    return result


def solver_routes(agents, result):
    """A Solver's result as the route checker reads it, for the agent records `agents`."""
    return {"routes": [{"agent_id": a["id"], "path": list(result.paths[k]), "cost": result.times[k]}
                       for k, a in enumerate(agents)]}


@pytest.fixture
def triangle():
    """Three nodes and two agents of one type sharing depot 0."""
    problem = core.Problem()
    for node in TRIANGLE["nodes"]:
        problem.add_node(make_node(node["id"], node["x"], node["y"]))
    for agent_id in (0, 1):
        problem.add_agent(make_agent(agent_id), agent_id)
    problem.set_cost_matrix("drone", TRIANGLE["costs"]["drone"])
    return problem


@pytest.fixture
def collect():
    """Runs a full garbage collection, so views are tested without hidden references."""
    return gc.collect


@pytest.fixture
def data_dir():
    return DATA
