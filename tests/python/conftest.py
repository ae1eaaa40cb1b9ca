import importlib.util
import json
import pathlib
import re
import signal
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


def scattered(count):
    """`count` nodes scattered over a grid with Manhattan costs, three agents of one type
    sharing depot 0, min-max."""
    nodes = [{"id": i, "x": (i * 37) % 101, "y": (i * 53) % 97} for i in range(count)]
    return {"nodes": nodes, "costs": {"t": [[abs(a["x"] - b["x"]) + abs(a["y"] - b["y"])
                                             for b in nodes] for a in nodes]},
            "agents": [{"id": k, "type": "t", "start_node": 0, "end_node": 0} for k in range(3)],
            "constraints": [{"kind": "assignment",
                             "items": [{"node": i, "types": ["t"]} for i in range(count)]}],
            "options": {"objective": "min_max"}}


def make_node(node_id, x=0.0, y=0.0):
    node = core.Node()
    node.id, node.position.x, node.position.y = node_id, x, y
    return node


def make_agent(agent_id, agent_type="drone", start=0, end=0):
    agent = core.Agent()
    agent.id, agent.type, agent.start_node, agent.end_node = agent_id, agent_type, start, end
    return agent


def run_cli(*args, timeout=120, **options):
    return subprocess.run([sys.executable, "-m", "ploxa", *map(str, args)], capture_output=True,
                          text=True, timeout=timeout, **options)


def hear_sigint():
    """A test run started in the background inherits SIGINT ignored; a child it starts must
    not (Popen's preexec_fn)."""
    signal.signal(signal.SIGINT, signal.SIG_DFL)


def write_json(path, document):
    path.write_text(json.dumps(document))
    return str(path)


def solve_checked(document, **options):
    """Solves `document`, asserting that it succeeds with routes the route checker passes."""
    result = core.solve_json_str(json.dumps(document), **options)
    assert result["status"] == "success", result["unassigned"]
    assert route_problems(document, result) == []
    return result


def assert_refused(document, message, error=ValueError, **flags):
    """Solving `document` raises `error` with `message`; checking it raises the same or lists
    the message among its errors."""
    text = json.dumps(document)
    with pytest.raises(error, match=re.escape(message)):
        core.solve_json_str(text, **flags)
    try:
        findings = core.check_json_str(text, **flags)
    except error as refused:
        assert message in str(refused)
    else:
        assert any(kind == "error" and message in said for kind, said in findings), findings


def solver_routes(agents, result):
    """A Solver's result as the route checker reads it, for the agent records `agents`."""
    return {"routes": [{"agent_id": a["id"], "path": list(result.paths[k]), "cost": result.times[k]}
                       for k, a in enumerate(agents)]}


def problem_of(document):
    """A Problem built through the Python objects from a document's nodes, agents, metrics or
    cost matrices and assignment."""
    problem = core.Problem()
    for node in document["nodes"]:
        problem.add_node(make_node(node["id"], node["x"], node["y"]))
    for agent in document["agents"]:
        problem.add_agent(make_agent(agent["id"], agent["type"], agent["start_node"],
                                     agent["end_node"]), agent["id"])
    for agent_type, metric in document.get("metrics", {}).items():
        problem.set_metric(agent_type, metric["kind"], metric.get("factor", 1.0))
    for agent_type, matrix in document.get("costs", {}).items():
        problem.set_cost_matrix(agent_type, matrix)
    for constraint in document.get("constraints", []):
        if constraint["kind"] == "assignment":
            assignment = core.AssignmentConstraint()
            for item in constraint["items"]:
                assignment.set_assignment(item["node"], item["types"])
            problem.set_assignment_constraint(assignment)
    return problem


@pytest.fixture
def triangle():
    """Three nodes and two agents of one type sharing depot 0."""
    return problem_of(TRIANGLE)


@pytest.fixture
def square():
    """Five nodes, node ids equal to positions, two agents sharing depot 0, min-max."""
    return json.loads((DATA / "square.json").read_text())
