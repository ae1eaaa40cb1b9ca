import json
import pathlib
import signal
import subprocess
import sys
import textwrap
import time

import pytest

from conftest import hear_sigint, scattered, write_json

# Solves the instance in argv[2] one way (argv[1]) until SIGINT, then prints what is left.
SCRIPT = textwrap.dedent("""
    import json, sys
    import _pyploxa_core as core
    from conftest import problem_of

    mode, path = sys.argv[1:]
    text = open(path).read()
    print("ready", flush=True)
    try:
        if mode.startswith("json"):
            core.solve_json_str(text, improve=mode != "json", threads=2 if "threads" in mode else 1,
                                release_gil="unlocked" in mode)
        else:
            problem = problem_of(json.loads(text))
            problem.options().objective = core.ObjectiveType.MinMax
            solver = core.Solver(problem, problem.options())
            solver.solve()
    except KeyboardInterrupt as interrupt:
        print("interrupted", flush=True)
        if mode == "solver":
            print("paths", len(solver.get_result().paths), flush=True)
        else:
            result = interrupt.result
            print("partial", result["status"], result["stop_reason"], flush=True)
""")


@pytest.fixture
def sixty(tmp_path):
    """60 targets, which the search cannot finish within its 60-second default budget."""
    return write_json(tmp_path / "sixty.json", scattered(60))


@pytest.mark.parametrize("mode, wait", [
    ("json", 3.0),          # well into the search, past the first solution
    ("solver", 3.0),
    ("json-improve", 4.0),  # the search hands over within three processor seconds
    ("json-threads", 4.0),  # two threads of the stage
    ("json-threads-unlocked", 4.0),  # the same without the interpreter lock
])
def test_sigint_stops_a_solve_with_keyboard_interrupt(sixty, mode, wait):
    child = subprocess.Popen([sys.executable, "-c", SCRIPT, mode, sixty], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, preexec_fn=hear_sigint,
                             cwd=pathlib.Path(__file__).parent)  # where conftest is
    assert child.stdout.readline().strip() == "ready"
    time.sleep(wait)
    sent = time.monotonic()
    child.send_signal(signal.SIGINT)
    out, err = child.communicate(timeout=30)
    stopped = time.monotonic() - sent
    assert child.returncode == 0, err
    assert "interrupted" in out, "the solve ended before the signal"
    assert stopped < 1.0
    # the best solution found before the interrupt is still there
    assert ("paths 3" if mode == "solver" else "partial success interrupted") in out


def test_sigint_during_a_command_line_solve_prints_and_writes_the_best_routes(sixty, tmp_path):
    output = tmp_path / "result.json"
    child = subprocess.Popen([sys.executable, "-m", "ploxa", "solve", sixty, "--no-improve",
                              "--output", str(output)], stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, text=True, preexec_fn=hear_sigint)
    time.sleep(3.0)
    child.send_signal(signal.SIGINT)
    out, err = child.communicate(timeout=30)
    assert child.returncode == 130, err
    assert out.startswith(f"{sixty}: success (interrupted)\n")
    written = json.loads(output.read_text())
    assert (written["status"], written["stop_reason"]) == ("success", "interrupted")
