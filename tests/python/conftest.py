import gc
import pathlib

import pytest

import _pyploxa_core as core


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


@pytest.fixture
def triangle():
    """Three nodes and two agents of one type sharing depot 0."""
    problem = core.Problem()
    for node_id, (x, y) in enumerate([(0, 0), (3, 4), (6, 0)]):
        problem.add_node(make_node(node_id, x, y))
    for agent_id in (0, 1):
        problem.add_agent(make_agent(agent_id), agent_id)
    problem.set_cost_matrix("drone", [[0, 5, 6], [5, 0, 5], [6, 5, 0]])
    return problem


@pytest.fixture
def collect():
    """Runs a full garbage collection, so views are tested without hidden references."""
    return gc.collect


DATA = pathlib.Path(__file__).resolve().parent.parent / "data"


@pytest.fixture
def data_dir():
    return DATA
