"""Bad input is refused with an error naming the field and the value, read from JSON or built
as objects; a fraction is never cut to a whole number, nor a filler cost taken as a road."""
import json

import pytest

import _pyploxa_core as core
from conftest import TRIANGLE


def node(problem, index):
    return problem.nodes()[index]


def agent(problem, index):
    return problem.agents_ordered()[index]


# (what, change of the document, its message, change of the objects, their message); None
# where the fault cannot be written on that path, or where the core's loader tests pin the
# message of the document (misspelt keys, text for numbers, fractions for whole numbers).
CASES = [
    ("a service given as text", None, None,
     lambda p: setattr(node(p, 1), "service", "10"), r"Node\.service must be a number, not '10'"),
    ("a fractional start node", None, None, lambda p: setattr(agent(p, 0), "start_node", 1.7),
     r"Agent\.start_node must be a whole number from 0 to 2\*\*64 - 1, not 1\.7"),
    ("a fractional node id", None, None, lambda p: setattr(node(p, 2), "id", 1.5),
     r"Node\.id must be a whole number from 0 to 2\*\*64 - 1, not 1\.5"),
    ("a fractional stop limit", None, None, lambda p: setattr(agent(p, 1), "max_stops", 1.5),
     r"Agent\.max_stops must be a whole number or None, not 1\.5"),
    ("a service whose total overflows",
     lambda d: d["nodes"][1].update(service=1.7e308),
     r"can add up beyond 1e\+305 \(node 1: service = 1\.7e\+308 among them\)",
     lambda p: setattr(node(p, 1), "service", 1.7e308),
     r"can add up beyond 1e\+305 \(node 1: service = 1\.7e\+308 among them\)"),
    ("a matrix short of a row",
     lambda d: d["costs"]["drone"].pop(),
     r"cost matrix for agent type 'drone' covers fewer than the 3 nodes: give a cost for every",
     lambda p: p.set_cost_matrix("drone", [[0, 5, 6], [5, 0, 5]]),
     r"cost matrix for agent type 'drone' covers fewer than the 3 nodes: give a cost for every"),
    ("an agent added under another key", None, None,
     lambda p: p.add_agent(agent(p, 0), 5), r"add_agent: the key 5 differs from the agent's id 0"),
]


@pytest.mark.parametrize("what, change, message", [(c[0], c[1], c[2]) for c in CASES if c[1]])
def test_the_json_path_refuses_bad_input_naming_the_field(what, change, message):
    document = json.loads(json.dumps(TRIANGLE))
    change(document)
    with pytest.raises(ValueError, match=message):
        core.solve_json_str(json.dumps(document), time_limit=1)
    assert core.solve_json_str(json.dumps(TRIANGLE), time_limit=1)["status"] == "success"


@pytest.mark.parametrize("what, change, message", [(c[0], c[3], c[4]) for c in CASES if c[3]])
def test_the_object_path_refuses_bad_input_naming_the_field(triangle, what, change, message):
    with pytest.raises(ValueError, match=message):
        change(triangle)
        core.Solver(triangle, triangle.options())


def test_a_fraction_that_is_whole_reads_as_its_number():
    document = json.loads(json.dumps(TRIANGLE))
    document["agents"][0].update(start_node=0.0, max_stops=2.0)
    result = core.solve_json_str(json.dumps(document), time_limit=1)
    assert result["status"] == "success"
    assert all(len(route["path"]) <= 4 for route in result["routes"])
