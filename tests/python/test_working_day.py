"""A working day: shifts, service durations, stop limits and fixed costs, decided by the
independent route checker, with the errors they raise. Late departures, stop limits and
travel-only costs are also checked on the long day of test_any_size, a shift or a stop limit
that leaves a stop out in test_unassigned."""

import json

import pytest

from conftest import assert_refused, solve_checked

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


@pytest.mark.parametrize("objective", ["min_sum", "min_max"])
def test_fixed_costs_count_under_min_sum_and_keep_the_fleet_small_but_not_under_min_max(
        capfd, objective):
    # The route checker holds the statistics to the fixed costs of the agents used.
    result = solve_checked(day({"fixed_cost": 1000}, objective=objective))
    used = len([route for route in result["routes"] if len(route["path"]) > 2])
    warned = "fixed_cost = 1000 is ignored under min-max" in capfd.readouterr().err
    assert (used == 1, warned) == ((True, False) if objective == "min_sum" else (False, True))


def windows(node, *pairs):
    return lambda d: d["constraints"][0]["items"].append({"node": node, "windows": list(pairs)})


@pytest.mark.parametrize("change, message", [
    (windows(1, [0, 50], [40, 60]),
     "time windows of node 1: window 1 [40, 60] does not open after window 0 closes; windows "
     "must be sorted and disjoint"),
    (windows(1, [9, 3], [20, 30]),
     "time windows of node 1: window 0 [9, 3] closes before it opens"),
    (windows(2, [1, 2, 3]),
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
    assert_refused(document, message)
