import json
import logging
import subprocess
import sys

import pytest

import _pyploxa_core as core
import ploxa

NODES = 40


@pytest.fixture
def unassigned_nodes(tmp_path):
    """Forty nodes without assignment entries, each with a misspelt "demand"."""
    document = {
        "nodes": [{"id": i, "x": i % 8, "y": i // 8, "demnad": 1} for i in range(NODES)],
        "agents": [{"id": k, "type": "truck", "start_node": 0, "end_node": 0} for k in range(3)],
        "metrics": {"truck": {"kind": "euclidean"}},
        "options": {"objective": "min_max", "time_limit": 1}}
    path = tmp_path / "nodes.json"
    path.write_text(json.dumps(document))
    return path


def series(lines, fragment):
    """The lines with `fragment` and the count line right after them, if any."""
    first = next(k for k, line in enumerate(lines) if fragment in line)
    end = first
    while end < len(lines) and fragment in lines[end]:
        end += 1
    return lines[first:end + (end < len(lines) and "more like the line above" in lines[end])]


def test_the_default_stream_keeps_every_line_of_a_series(unassigned_nodes, capfd):
    core.solve_json_file(str(unassigned_nodes))
    assert len(series(capfd.readouterr().err.splitlines(), "has no assignment")) == NODES


def test_logging_shows_five_lines_of_a_series_then_their_count(unassigned_nodes, capfd):
    records = []
    handler = logging.Handler(logging.DEBUG)
    handler.emit = records.append
    logger = logging.getLogger("ploxa")
    logger.addHandler(handler)
    logger.setLevel(logging.DEBUG)
    ploxa.log_to_logging()
    try:
        core.solve_json_file(str(unassigned_nodes))
    finally:
        ploxa.set_log_handler(None)
        logger.removeHandler(handler)
    shown = series([(r.getMessage()) for r in records], "has no assignment")
    assert shown == [f"[warning] node {i} has no assignment constraint; allowing all types"
                     for i in range(5)] + [f"[warning] ... and {NODES - 5} more like the line above"]
    assert {r.levelno for r in records if r.getMessage() in shown} == {logging.WARNING}


def run_cli(*args):
    return subprocess.run([sys.executable, "-m", "ploxa", *map(str, args)], capture_output=True,
                          text=True, timeout=120)


def test_the_command_line_shows_five_lines_of_a_series_then_their_count(unassigned_nodes):
    shown = series(run_cli("validate", unassigned_nodes).stdout.splitlines(),
                   "unknown key 'demnad'")
    assert len(shown) == 6 and "unknown key 'demnad'" in shown[4]
    assert shown[5].endswith(f"... and {NODES - 5} more like the line above")


@pytest.mark.parametrize("command, stream", [("solve", "stderr"), ("validate", "stdout")])
def test_the_command_line_says_once_that_no_assignment_constraint_is_given(
        unassigned_nodes, command, stream):
    output = getattr(run_cli(command, unassigned_nodes), stream)
    lines = [line for line in output.splitlines() if "assignment constraint" in line]
    assert len(lines) == 1 and lines[0].endswith(
        "the instance has no assignment constraint: every agent type may serve every node")


def test_the_search_lines_reach_the_command_line_only_when_asked_for(tmp_path):
    # Two stops whose windows close before either can be reached from the other.
    path = tmp_path / "windows.json"
    path.write_text(json.dumps({
        "nodes": [{"id": i, "x": x, "y": 0} for i, x in enumerate([0, 1, -1])],
        "agents": [{"id": k, "type": "a", "start_node": 0, "end_node": 0} for k in range(2)],
        "metrics": {"a": {"kind": "euclidean"}},
        "constraints": [{"kind": "timewindow", "items": [{"node": i, "start": 0, "end": 1}
                                                          for i in (1, 2)]}]}))
    quiet, verbose = (run_cli("solve", path, "--no-improve", *flags).stderr
                      for flags in ([], ["--verbose"]))
    assert "[TW-MST] blocked edges" in verbose and "[TW-MST]" not in quiet
