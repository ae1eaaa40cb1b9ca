"""The improvement stage as callers meet it: options, overrides and the command line."""

import json

import pytest

import _pyploxa_core as core
from conftest import EXAMPLES, run_cli, write_json
from route_check import route_problems


@pytest.fixture
def time_windows():
    """Separate depots, windows, route limits and open routes, min-sum."""
    return json.loads((EXAMPLES / "time_windows.json").read_text())


@pytest.mark.parametrize("search", ["anneal", "population"])
@pytest.mark.parametrize("objective, key", [("min_sum", "sum_cost"), ("min_max", "max_cost")])
def test_the_stage_asked_for_by_the_instance_or_by_default_on_the_command_line_keeps_the_rules_and_beats_the_search_alone(
        time_windows, tmp_path, objective, key, search):
    time_windows["options"].update(objective=objective, seed=3, search=search)
    path, output = write_json(tmp_path / "instance.json", time_windows), tmp_path / "result.json"

    def by_command(*flags):
        run = run_cli("solve", path, "--quiet", "--output", output, *flags)
        assert run.returncode == 0, run.stderr
        return json.loads(output.read_text())

    asked = json.dumps(time_windows | {"options": time_windows["options"] | {"improve": True}})
    for improved, plain in ((core.solve_json_str(asked), core.solve_json_str(asked, improve=False)),
                            (by_command(), by_command("--no-improve"))):
        for result in (plain, improved):
            assert result["status"] == "success"
            assert route_problems(time_windows, result) == []
        assert improved["statistics"][key] < plain["statistics"][key]
        # The stage ends by itself long before the instance's budget, and says so.
        assert improved["timeout"] is False
        assert improved["anytime"][-1][key] == pytest.approx(improved["statistics"][key])


def test_without_the_stall_rule_the_stage_runs_to_the_budget(time_windows):
    time_windows["options"].update(improve=True, stop_when_stalled=False, time_limit=0.3)
    result = core.solve_json_str(json.dumps(time_windows))
    assert result["timeout"] is True
    assert route_problems(time_windows, result) == []
