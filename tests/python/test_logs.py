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


@pytest.mark.parametrize("command, fragment, stream", [
    ("solve", "has no assignment", "stderr"),
    ("validate", "unknown key 'demnad'", "stdout"),
])
def test_the_command_line_shows_five_lines_of_a_series_then_their_count(
        unassigned_nodes, command, fragment, stream):
    run = subprocess.run([sys.executable, "-m", "ploxa", command, str(unassigned_nodes)],
                         capture_output=True, text=True, timeout=120)
    shown = series(getattr(run, stream).splitlines(), fragment)
    assert len(shown) == 6 and fragment in shown[4]
    assert shown[5].endswith(f"... and {NODES - 5} more like the line above")
