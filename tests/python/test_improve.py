"""The improvement stage as callers meet it: options, overrides and the command line."""

import json

import pytest

import _pyploxa_core as core
from conftest import EXAMPLES, run_cli
from route_check import route_problems


@pytest.fixture
def time_windows():
    return json.loads((EXAMPLES / "time_windows.json").read_text())


@pytest.mark.parametrize("objective, key", [
    ("min_sum", "sum_cost"),  # separate depots, windows, route limits, open routes
    ("min_max", "max_cost"),
])
def test_improvement_keeps_the_rules_and_beats_the_plain_search(time_windows, objective, key):
    time_windows["options"]["objective"] = objective
    text = json.dumps(time_windows)
    plain = core.solve_json_str(text)
    improved = core.solve_json_str(text, improve=True, seed=3)
    for result in (plain, improved):
        assert result["status"] == "success"
        assert route_problems(time_windows, result) == []
    assert improved["statistics"][key] < plain["statistics"][key]
    # The stage ends by itself long before the instance's budget, and says so.
    assert improved["timeout"] is False
    steps = [step[key] for step in improved["anytime"]]
    assert steps[-1] == pytest.approx(improved["statistics"][key])


def test_instance_options_switch_the_stage_on_and_the_keyword_switches_it_off(time_windows):
    time_windows["options"].update(improve=True, seed=5, max_iterations=200)
    text = json.dumps(time_windows)
    on = core.solve_json_str(text)
    off = core.solve_json_str(text, improve=False)
    assert on["statistics"]["sum_cost"] < off["statistics"]["sum_cost"]


@pytest.mark.parametrize("key, value", [
    ("seed", 1.5),            # not whole
    ("max_iterations", "10"), # not a number
])
def test_bad_stage_options_name_the_key_and_the_value(time_windows, key, value):
    time_windows["options"][key] = value
    with pytest.raises(ValueError, match=rf"options\.{key} must be a whole number .*{json.dumps(value)}"):
        core.solve_json_str(json.dumps(time_windows))


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
