import struct

import pytest

import ploxa
from conftest import EXAMPLES, NEEDS_MATPLOTLIB, run_cli, write_json
from ploxa.plot import stop_labels, time_writer

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


@pytest.mark.parametrize("clock, unit, value, expected", [
    ("08:00", "min", 0, "08:00"),
    ("00:00", "min", 29.49, "00:29"),  # below a half rounds down; halves up, in the labels above
    ("08:00", "s", 90, "08:02"),
    ("00:00", "min", -30, "-00:30"),
    ("08:00", "h", 0, ValueError("time unit 'h' is none of min, s")),
    ("8", "min", 0, ValueError("clock '8' is not a time of day from 00:00 to 23:59")),
    ("08:60", "s", 0, ValueError("clock '08:60' is not a time of day from 00:00 to 23:59")),
])
def test_times_read_as_hours_and_minutes_from_a_clock_that_is_a_time_of_day_in_min_or_s(
        clock, unit, value, expected):
    if isinstance(expected, ValueError):
        with pytest.raises(ValueError, match=f"^{expected}$"):
            time_writer(clock, unit)
    else:
        assert time_writer(clock, unit)(value) == expected


@NEEDS_MATPLOTLIB
def test_plot_draws_a_solved_example_at_the_requested_size_with_labels_and_times_on_request(
        tmp_path):
    example = EXAMPLES / "time_windows.json"
    result = write_json(tmp_path / "result.json",
                        ploxa.solve_json_file(str(example), time_limit=1))
    pictures = [tmp_path / "plain.png", tmp_path / "labelled.png"]
    for picture, options in zip(pictures, ([], ["--labels", "--times", "--clock", "07:45",
                                                 "--time-unit", "s"])):
        run = run_cli("plot", example, result, "--output", picture, "--size", "640x360",
                      *options, timeout=60)
        assert run.returncode == 0, run.stderr
        header = picture.read_bytes()[:24]
        assert header[:8] == b"\x89PNG\r\n\x1a\n"
        assert struct.unpack(">II", header[16:24]) == (640, 360)
    assert pictures[0].read_bytes() != pictures[1].read_bytes()  # the labels are drawn
