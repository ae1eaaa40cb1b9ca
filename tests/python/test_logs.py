"""Where the core's lines go: the standard streams, a log handler, Python's logging and the
command line, with long series of like lines cut short everywhere but on the default stream."""
import logging

import pytest

import _pyploxa_core as core
import ploxa
from conftest import run_cli, write_json

NODES = 40


@pytest.fixture
def noisy(tmp_path):
    """Forty nodes without assignment entries, each with a misspelt "demand", and two stops
    whose windows no agent meets one after the other, which the search reports."""
    return write_json(tmp_path / "nodes.json", {
        "nodes": [{"id": i, "x": i % 8, "y": i // 8, "demnad": 1} for i in range(NODES)],
        "agents": [{"id": k, "type": "truck", "start_node": 0, "end_node": 0} for k in range(3)],
        "metrics": {"truck": {"kind": "euclidean"}},
        "constraints": [{"kind": "timewindow",
                         "items": [{"node": i, "start": 5, "end": 5} for i in (1, 2)]}],
        "options": {"objective": "min_max", "time_limit": 1}})


def series(lines, fragment):
    """The lines with `fragment` and the count line right after them, if any."""
    first = next(k for k, line in enumerate(lines) if fragment in line)
    end = first
    while end < len(lines) and fragment in lines[end]:
        end += 1
    return lines[first:end + (end < len(lines) and "more like the line above" in lines[end])]


def test_a_log_handler_takes_every_line_the_default_streams_would_show(noisy, capfd):
    core.solve_json_file(noisy)
    out, err = capfd.readouterr()
    printed = out.splitlines() + err.splitlines()
    assert len(series(printed, "has no assignment")) == NODES  # the default keeps every line
    assert any(line.startswith("[TW-MST]") for line in out.splitlines())
    lines = []
    ploxa.set_log_handler(lines.append)
    try:
        core.solve_json_file(noisy)
    finally:
        ploxa.set_log_handler(None)
    assert capfd.readouterr() == ("", "")
    assert sorted(lines) == sorted(printed)


def test_logging_gets_warnings_as_warnings_the_rest_as_debug_and_a_series_cut_to_five(noisy,
                                                                                      capfd):
    records = []
    handler = logging.Handler(logging.DEBUG)
    handler.emit = records.append
    logger = logging.getLogger("ploxa")
    logger.addHandler(handler)
    logger.setLevel(logging.DEBUG)
    ploxa.log_to_logging()
    try:
        core.solve_json_file(noisy)
    finally:
        ploxa.set_log_handler(None)
        logger.removeHandler(handler)
    assert capfd.readouterr() == ("", "")
    messages = [record.getMessage() for record in records]
    assert series(messages, "has no assignment") == [
        f"[warning] node {i} has no assignment constraint; allowing all types" for i in range(5)
    ] + [f"[warning] ... and {NODES - 5} more like the line above"]
    assert all(record.levelno == (logging.WARNING if record.getMessage().startswith("[warning]")
                                  else logging.DEBUG) for record in records)
    assert any(message.startswith("[TW-MST]") for message in messages)


@pytest.mark.parametrize("command, stream, flags", [
    ("solve", "stderr", []), ("validate", "stdout", []), ("solve", "stderr", ["--verbose"])])
def test_the_command_line_cuts_a_series_to_five_names_the_missing_assignment_once_and_shows_search_lines_on_request(
        noisy, command, stream, flags):
    run = run_cli(command, noisy, "--no-improve", *flags) if command == "solve" else run_cli(command, noisy)
    assert run.returncode == 0, run.stderr
    lines = getattr(run, stream).splitlines()
    shown = series(lines, "unknown key 'demnad'")
    assert len(shown) == 6 and "unknown key 'demnad'" in shown[4]
    assert shown[5].endswith(f"... and {NODES - 5} more like the line above")
    once = [line for line in lines if "assignment constraint" in line]
    assert len(once) == 1 and once[0].endswith(
        "the instance has no assignment constraint: every agent type may serve every node")
    assert ("[TW-MST] blocked edges" in run.stderr) == bool(flags)
    # Standard output of a solve keeps the result alone.
    assert command == "validate" or all(line.startswith(
        (noisy, "  ", "longest", "solve time", "improvements")) for line in run.stdout.splitlines())
