"""The improvement stage as callers meet it: options, overrides and the command line."""

import json

import pytest

import _pyploxa_core as core
from conftest import EXAMPLES, run_cli
from route_check import route_problems


@pytest.fixture
def time_windows():
    """Separate depots, windows, route limits and open routes, min-sum."""
    return json.loads((EXAMPLES / "time_windows.json").read_text())


@pytest.mark.parametrize("objective, key", [("min_sum", "sum_cost"), ("min_max", "max_cost")])
def test_the_stage_the_instance_asks_for_keeps_the_rules_and_beats_the_search_alone(
        time_windows, objective, key):
    time_windows["options"].update(objective=objective, improve=True, seed=3)
    text = json.dumps(time_windows)
    improved, plain = core.solve_json_str(text), core.solve_json_str(text, improve=False)
    for result in (plain, improved):
        assert result["status"] == "success"
        assert route_problems(time_windows, result) == []
    assert improved["statistics"][key] < plain["statistics"][key]
    # The stage ends by itself long before the instance's budget, and says so.
    assert improved["timeout"] is False
    assert improved["anytime"][-1][key] == pytest.approx(improved["statistics"][key])


def test_command_line_improves_unless_told_not_to(tmp_path):
    totals = {}
    for flags in ([], ["--no-improve"]):
        output = tmp_path / "result.json"
        run = run_cli("solve", EXAMPLES / "time_windows.json", "--seed", "7", "--output", output,
                      *flags)
        assert run.returncode == 0, run.stderr
        totals[bool(flags)] = json.loads(output.read_text())["statistics"]["sum_cost"]
    assert totals[False] < totals[True]


def test_without_the_stall_rule_the_stage_runs_to_the_budget(time_windows):
    time_windows["options"].update(improve=True, stop_when_stalled=False, time_limit=0.3)
    result = core.solve_json_str(json.dumps(time_windows))
    assert result["timeout"] is True
    assert route_problems(time_windows, result) == []
