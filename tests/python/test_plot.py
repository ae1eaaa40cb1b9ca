import json
import struct

import pytest

import ploxa
from conftest import EXAMPLES, NEEDS_MATPLOTLIB, run_cli, write_json
from ploxa.plot import stop_labels, time_writer
from ploxa.view import clock_text

INSTANCE = {"nodes": [{"id": i, "x": i, "y": i % 3} for i in (0, 3, 8, 5)],
            "agents": [{"id": 1, "type": "van", "start_node": 0, "end_node": 0}],
            "metrics": {"van": {"kind": "euclidean"}}}
RESULT = {"routes": [{"agent_id": 1, "node_ids": [0, 8, 3, 0], "cost": 4,
                      "schedule": [{"node": 8, "arrival": 10, "start": 30},
                                   {"node": 3, "arrival": 95.5, "start": 95.5}]}]}


@pytest.mark.parametrize("labels, times, clock, expected", [
    (True, False, None, {0: "0", 8: "8 #1", 3: "3 #2", 5: "5"}),
    (False, True, None, {8: "30", 3: "95.5"}),
    (True, True, "23:30", {0: "0", 8: "8 #1 24:00", 3: "3 #2 25:06", 5: "5"}),
])
def test_stops_are_labelled_with_their_place_along_the_route_and_their_start(
        labels, times, clock, expected):
    assert stop_labels(INSTANCE, RESULT, labels, times, time_writer(clock)) == expected


@pytest.mark.parametrize("value, start, unit, expected", [
    (0, 480, "min", "08:00"),
    (29.5, 0, "min", "00:30"),  # halves round up, as on the page
    (29.49, 0, "min", "00:29"),
    (90, 480, "s", "08:02"),
    (1000, 23 * 60, "min", "39:40"),  # the hours go on past midnight
    (-30, 0, "min", "-00:30"),
])
def test_times_read_as_hours_and_minutes_from_the_clock(value, start, unit, expected):
    assert clock_text(value, start, unit) == expected


def test_a_time_unit_other_than_minutes_or_seconds_is_a_value_error():
    with pytest.raises(ValueError, match="^time unit 'h' is none of min, s$"):
        time_writer("08:00", "h")


@NEEDS_MATPLOTLIB
def test_plot_draws_labels_and_clock_times_from_the_command_line(tmp_path):
    files = [write_json(tmp_path / "instance.json", INSTANCE),
             write_json(tmp_path / "result.json", RESULT)]
    pictures = [tmp_path / "plain.png", tmp_path / "labelled.png"]
    for picture, options in zip(pictures, ([], ["--labels", "--times", "--clock", "07:45",
                                                 "--time-unit", "s"])):
        run = run_cli("plot", *files, "--output", picture, *options, timeout=60)
        assert run.returncode == 0, run.stderr
    assert pictures[0].read_bytes() != pictures[1].read_bytes()  # the labels are drawn


@NEEDS_MATPLOTLIB
def test_a_solution_is_drawn_at_the_requested_size(tmp_path):
    instance = json.loads((EXAMPLES / "time_windows.json").read_text())
    result = ploxa.solve_json_str(json.dumps(instance), time_limit=1)
    picture = tmp_path / "routes.png"
    ploxa.plot_solution(instance, result, picture, size=(640, 360), times=True)
    header = picture.read_bytes()[:24]
    assert header[:8] == b"\x89PNG\r\n\x1a\n"
    assert struct.unpack(">II", header[16:24]) == (640, 360)
    assert picture.stat().st_size > 5000  # more than an empty canvas


def test_plot_without_matplotlib_says_how_to_install_it(tmp_path):
    blocker = tmp_path / "matplotlib"
    blocker.mkdir()
    (blocker / "__init__.py").write_text("raise ImportError('blocked for the test')\n")
    example = EXAMPLES / "shared_depot.json"
    run = run_cli("plot", example, example, "--output", tmp_path / "x.png",
                  env={"PYTHONPATH": str(tmp_path)}, timeout=60)
    assert run.returncode == 2
    assert "pip install '.[plot]'" in run.stderr
