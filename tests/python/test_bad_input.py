"""Bad input is refused with an error naming the field and the value, read from JSON or built
as objects, where the checker lists it too; a fraction is never cut to a whole number."""
import json
import math
import re

import pytest

import _pyploxa_core as core
from conftest import TRIANGLE, assert_refused


def windows(problem, close):
    constraint = core.TimeWindowConstraint()
    constraint.set_timewindow(2, 0.0, close)
    problem.set_timewindow_constraint(constraint)


# The same fault written in the document and on the objects: (what, change of the document,
# change of the objects, message).
BOTH = [
    ("a service whose total overflows", lambda d: d["nodes"][1].update(service=1.7e308),
     lambda p: setattr(p.nodes()[1], "service", 1.7e308),
     "can add up beyond 1e+305 (node 1: service = 1.7e+308 among them)"),
    ("a matrix short of a row", lambda d: d["costs"]["drone"].pop(),
     lambda p: p.set_cost_matrix("drone", [[0, 5, 6], [5, 0, 5]]),
     "cost matrix for agent type 'drone' covers fewer than the 3 nodes: give a cost for every"),
]
# Faults only the objects can hold (numbers JSON cannot write among them), or whose message in
# the document the core's loader tests pin (text for numbers, fractions for whole numbers).
OBJECTS = [
    ("a service given as text", lambda p: setattr(p.nodes()[1], "service", "10"),
     "Node.service must be a number, not '10'"),
    ("a fractional start node", lambda p: setattr(p.agents_ordered()[0], "start_node", 1.7),
     "Agent.start_node must be a whole number from 0 to 2**64 - 1, not 1.7"),
    ("a fractional node id", lambda p: setattr(p.nodes()[2], "id", 1.5),
     "Node.id must be a whole number from 0 to 2**64 - 1, not 1.5"),
    ("a fractional stop limit", lambda p: setattr(p.agents_ordered()[1], "max_stops", 1.5),
     "Agent.max_stops must be a whole number or None, not 1.5"),
    ("an agent added under another key", lambda p: p.add_agent(p.agents_ordered()[0], 5),
     "add_agent: the key 5 differs from the agent's id 0"),
    ("a window that never closes", lambda p: windows(p, math.inf),
     "time window of node 2: start 0 and end inf must both be finite"),
    ("an infinite demand, loads enforced", lambda p: (
        setattr(p.nodes()[1], "demand", math.inf), setattr(p.options(), "enforce_capacity", True)),
     "node 1: demand = inf is not a finite number"),
    ("a demand list given as text", lambda p: setattr(p.nodes()[1], "demands", "3"),
     "Node.demands must be a list of numbers, not '3'"),
    ("a service that is no number", lambda p: setattr(p.nodes()[0], "service", math.nan),
     "node 0: service = nan is not a finite number"),
    ("an infinite shift start", lambda p: setattr(p.agents_ordered()[0], "shift_start", math.inf),
     "agent 0: shift_start = inf is not a finite number"),
    ("a shift end of nan", lambda p: setattr(p.agents_ordered()[0], "shift_end", math.nan),
     "agent 0: shift_end = nan is not a finite number"),
    ("an infinite fixed cost", lambda p: setattr(p.agents_ordered()[0], "fixed_cost", math.inf),
     "agent 0: fixed_cost = inf is not a finite number"),
    ("an unknown metric", lambda p: p.set_metric("drone", "chebyshev", 1.0),
     'metrics.drone.kind must be "euclidean", "manhattan" or "haversine"'),
    ("an infinite metric factor", lambda p: p.set_metric("drone", "manhattan", math.inf),
     "metrics.drone.factor must be a finite number above 0, not inf"),
    ("a metric factor that is no number", lambda p: p.set_metric("drone", "manhattan", math.nan),
     "metrics.drone.factor must be a finite number above 0, not nan"),
    ("an unknown duration metric", lambda p: p.set_duration_metric("drone", "crow"),
     'durations.drone.kind must be "euclidean", "manhattan" or "haversine"'),
    ("a duration limit given as text",
     lambda p: setattr(p.agents_ordered()[0], "max_duration", "9h"),
     "Agent.max_duration must be a number, not '9h'"),
]


@pytest.mark.parametrize("what, change, _, message", BOTH)
def test_the_json_path_refuses_bad_input_naming_the_field(what, change, _, message):
    document = json.loads(json.dumps(TRIANGLE))
    change(document)
    assert_refused(document, message)


@pytest.mark.parametrize("what, change, message", OBJECTS + [(w, c, m) for w, _, c, m in BOTH])
def test_the_object_path_refuses_bad_input_naming_the_field(triangle, what, change, message):
    try:
        change(triangle)
    except ValueError as refused:  # by the setter itself
        assert message in str(refused)
        return
    with pytest.raises(ValueError, match=re.escape(message)):
        core.Solver(triangle, triangle.options())
    assert any(kind == "error" and message in text for kind, text in core.check_problem(triangle))


def test_a_fraction_that_is_whole_reads_as_its_number():
    document = json.loads(json.dumps(TRIANGLE))
    document["agents"][0].update(start_node=0.0, max_stops=2.0)
    result = core.solve_json_str(json.dumps(document), time_limit=1)
    assert result["status"] == "success"
    assert all(len(route["path"]) <= 4 for route in result["routes"])
