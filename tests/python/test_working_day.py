"""A working day: shifts, service durations, stop limits and fixed costs, decided by the
independent route checker, with the errors they raise. Late departures, stop limits, several
windows and travel-only costs are also checked on every solve of test_tight_days and
test_any_size."""

import json
import math
import re

import pytest

import ploxa
from conftest import solve_checked

# A depot and four targets on a line, 10 apart, each taking 5 to serve; the third opens late.
LINE = {
    "nodes": [{"id": 0, "x": 0, "y": 0}] + [{"id": i, "x": 10 * i, "y": 0, "service": 5}
                                            for i in range(1, 5)],
    "agents": [{"id": k, "type": "van", "start_node": 0, "end_node": 0} for k in range(3)],
    "metrics": {"van": {"kind": "euclidean"}},
    "constraints": [{"kind": "timewindow", "items": [{"node": 3, "start": 200, "end": 400}]}],
    "options": {"objective": "min_sum", "time_limit": 2},
}


def day(agents=None, **options):
    document = json.loads(json.dumps(LINE))
    for agent in document["agents"]:
        agent.update(agents or {})
    document["options"].update(options)
    return document


def test_a_shift_that_ends_before_a_window_opens_makes_the_day_infeasible():
    result = ploxa.solve_json_str(json.dumps(day({"shift_start": 0, "shift_end": 150})))
    assert result["status"] == "failed"


def test_stop_limits_too_tight_for_the_fleet_fail_and_say_so(capfd):
    result = ploxa.solve_json_str(json.dumps(day({"max_stops": 1})))
    assert result["status"] == "failed"
    assert "no plan found that keeps every rule; broken most often: stops" in capfd.readouterr().err
    assert {stop["reason"] for stop in result["unassigned"]} == {
        "no plan found that keeps every rule, broken most often by stops"}


def test_fixed_costs_count_under_min_sum_and_keep_the_fleet_small():
    result = solve_checked(day({"fixed_cost": 1000}))
    assert len([route for route in result["routes"] if len(route["path"]) > 2]) == 1
    assert result["statistics"]["fixed_cost"] == 1000


def test_fixed_costs_are_ignored_under_min_max_with_a_warning(capfd):
    result = solve_checked(day({"fixed_cost": 1000}, objective="min_max"))
    assert result["statistics"]["fixed_cost"] == 0
    assert "fixed_cost = 1000 is ignored under min-max" in capfd.readouterr().err


def several_windows(*windows):
    document = day()
    document["constraints"][0]["items"].append({"node": 1, "windows": [list(w) for w in windows]})
    return document


@pytest.mark.parametrize("change, message", [
    (lambda d: d.update(several_windows((0, 50), (40, 60))),
     "time windows of node 1: window 1 [40, 60] does not open after window 0 closes; windows "
     "must be sorted and disjoint"),
    (lambda d: d.update(several_windows((9, 3), (20, 30))),
     "time windows of node 1: window 0 [9, 3] closes before it opens"),
    (lambda d: d["constraints"][0]["items"].append({"node": 2, "windows": [[1, 2, 3]]}),
     "constraints[0].items[1].windows[0] must be an [open, close] pair, not [1,2,3]"),
    (lambda d: d["agents"][0].update(shift_start=10, shift_end=5),
     "agent 0: shift_end = 5 is before shift_start = 10"),
    (lambda d: d["agents"][1].update(max_stops=-1), "agent 1: max_stops = -1 is negative"),
    (lambda d: d["agents"][2].update(fixed_cost=-5), "agent 2: fixed_cost = -5 is negative"),
    (lambda d: d["nodes"][2].update(service=-1), "node 2: service = -1 is negative"),
    (lambda d: d["options"].update(route_cost="distance"),
     'options.route_cost must be "duration" or "travel", not "distance"'),
])
def test_bad_day_rules_raise_value_errors_naming_the_field(change, message):
    document = day()
    change(document)
    with pytest.raises(ValueError, match=re.escape(message)):
        ploxa.solve_json_str(json.dumps(document))
    # What the reader refuses is raised; the rest, check_json_str lists.
    if "must be" not in message:
        assert ("error", message) in ploxa.check_json_str(json.dumps(document))


@pytest.mark.parametrize("record, field, value, message", [
    ("agents", "shift_start", math.inf, "agent 0: shift_start = inf is not a finite number"),
    ("agents", "shift_end", math.nan, "agent 0: shift_end = nan is not a finite number"),
    ("agents", "fixed_cost", math.inf, "agent 0: fixed_cost = inf is not a finite number"),
    ("nodes", "service", math.nan, "node 0: service = nan is not a finite number"),
])
def test_the_object_path_rejects_day_rules_that_are_no_finite_numbers(triangle, record, field,
                                                                      value, message):
    records = triangle.agents_ordered() if record == "agents" else triangle.nodes()
    setattr(records[0], field, value)
    with pytest.raises(ValueError, match=re.escape(message)):
        ploxa.Solver(triangle, triangle.options())
