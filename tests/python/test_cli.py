import subprocess
import sys

import pytest

from conftest import DATA, EXAMPLES, NEEDS_VRPLIB, ROOT, run_cli, write_json
from ploxa import cli
from ploxa.formats import VRPLIB_MISSING
from ploxa.plot import INSTALL_HINT

EXAMPLE = str(EXAMPLES / "shared_depot.json")
TINY_VRP = str(DATA / "formats" / "tiny-n4-k2.vrp")


@pytest.mark.parametrize("args, name, content, message", [
    (["solve"], "absent.json", None, "No such file or directory"),
    (["solve"], "latin1.json", b'{"nodes": [{"id": 0, "x": 0, "y": 0, "type": "d\xe9p"}]}',
     "not UTF-8 text (byte 47)"),
    (["solve"], "bad\udcff.json", "{", "parse error"),              # name not UTF-8
    (["solve"], "s.json", '{"nodes": []}', "agents is missing"),     # not an instance
    (["solve", "--memory-limit", "-1"], None, None,
     "argument --memory-limit: not between 0 and 2**64 - 1: -1"),
    (["solve", "--time-limit", "nan"], None, None,
     "argument --time-limit: not a positive finite number of seconds: nan"),
    (["solve", "--threads", "two"], None, None, "argument --threads: not a whole number: 'two'"),
    (["batch", "--output-dir", "out", "--workers", "0"], None, None,
     "argument --workers: must be at least 1: 0"),
    (["convert", "--agents", "-2"], None, None,
     "argument --agents: not between 0 and 2**64 - 1: -2"),
    (["view", "--no-browser"], "bad.json", "{", "parse error"),
    (["view", EXAMPLE, "--no-browser"], None, None, 'not a result (no list of "routes")'),
    (["view", DATA, "--no-browser"], None, None, "Is a directory"),      # the result's path
    (["view", "--clock", "24:00", "--no-browser"], None, None,
     "argument --clock: clock '24:00' is not a time of day from 00:00 to 23:59"),
])
def test_bad_input_or_option_values_give_status_two_and_one_error_line(tmp_path, args, name,
                                                                       content, message):
    path = tmp_path / name if name else EXAMPLE
    if isinstance(content, bytes):
        path.write_bytes(content)
    elif content is not None:
        path.write_text(content)
    run = run_cli(args[0], path, *args[1:])
    assert (run.returncode, run.stdout, run.stderr.count("\n")) == (2, "", 1)
    assert message in run.stderr
    if name:  # the file is named first
        shown = str(path).encode("utf-8", "surrogateescape").decode("utf-8", "backslashreplace")
        assert run.stderr.startswith(f"ploxa: error: {shown}: ")


@pytest.mark.parametrize("missing, arguments, message", [
    ("vrplib", ["convert", TINY_VRP], VRPLIB_MISSING),
    ("vrplib", ["solve", TINY_VRP, "--format", "vrplib"], "--format vrplib needs --output FILE"),
    ("vrplib", ["solve", TINY_VRP, "--format", "vrplib", "--output", "x.sol"],
     VRPLIB_MISSING),  # said before solving
    ("matplotlib", ["plot", EXAMPLE, EXAMPLE, "--output", "x.png"], INSTALL_HINT),
])
def test_a_missing_extra_or_a_solution_format_without_output_gives_one_error_line(
        capsys, monkeypatch, missing, arguments, message):
    monkeypatch.setitem(sys.modules, missing, None)  # makes its import fail
    assert cli.main(arguments) == 2
    assert capsys.readouterr().err == f"ploxa: error: {message}\n"


def test_a_failed_solve_exits_one_with_its_reason_and_keeps_core_lines_off_standard_output(
        tmp_path):
    # Node 1 allows a type that no agent has: feasible for nobody.
    path = write_json(tmp_path / "blocked.json", {
        "nodes": [{"id": 0, "x": 0, "y": 0}, {"id": 1, "x": 1, "y": 0}],
        "agents": [{"id": 0, "type": "t", "start_node": 0, "end_node": 0}],
        "costs": {"t": [[0, 1], [1, 0]]},
        "constraints": [{"kind": "assignment", "items": [{"node": 1, "types": ["x"]}]}]})
    run = run_cli("solve", path, "--time-limit", "1")
    assert run.returncode == 1
    assert run.stdout.startswith(f"{path}: failed\n")
    # Why first, then each stop and its reason.
    assert [line for line in run.stderr.splitlines() if line.startswith("ploxa:")] == [
        "ploxa: failed: no plan exists: some stops fit on no route at all",
        "ploxa: node 1 fits nowhere: no agent type may serve it"]


def test_validate_lists_every_error_and_warning_without_solving(tmp_path, square):
    square["nodes"][2]["id"] = 1                   # duplicate node id
    square["costs"]["bot"][0][1] = -2.0            # negative cost
    square["agents"][1]["capacity"] = 3            # ignored capacity
    square["options"] = {"objective": "maximize"}  # unknown objective
    path = write_json(tmp_path / "faulty.json", square)
    run = run_cli("validate", path, "--no-enforce")
    assert run.returncode == 1, run.stderr
    lines = run.stdout.splitlines()
    assert [line.split(": ")[1] for line in lines[:-1]] == ["error"] * 2 + ["warning"] * 2
    assert "duplicate node id 1" in lines[0] and "row 0, column 1 is -2" in lines[1]
    assert "capacity and demand are read but not enforced" in lines[2] + lines[3]
    assert lines[-1] == f"{path}: 2 error(s), 2 warning(s)"


def test_the_command_line_enforces_loads_unless_told_not_to(tmp_path, square):
    square["nodes"][3]["demand"] = 9
    for agent in square["agents"]:
        agent["capacity"] = 5
    path = write_json(tmp_path / "heavy.json", square)
    run = run_cli("validate", path)
    assert run.returncode == 1
    assert "error: node 3: demand 9 is above the capacity of every agent" in run.stdout
    for flags, status in (([], 1), (["--no-enforce"], 0)):
        solved = run_cli("solve", path, "--time-limit", "1", "--quiet", *flags)
        assert solved.returncode == status, solved.stderr


@pytest.mark.parametrize("quiet", [False, True])
def test_solve_shows_one_live_line_per_improvement_unless_quiet(quiet):
    run = run_cli("solve", DATA / "sparse_ids.json", "--time-limit", "2",
                  *(["--quiet"] if quiet else []))
    assert run.returncode == 0, run.stderr
    live = [line for line in run.stderr.splitlines() if line.endswith(("(search)", "(improvement)"))]
    improvements = run.stdout.split("improvements (processor seconds, longest, total):\n")[1]
    assert len(live) == (0 if quiet else len(improvements.splitlines()))


@NEEDS_VRPLIB  # the benchmark reads its TSPLIB files through it
def test_benchmark_smoke_run_writes_its_results(tmp_path):
    script = ROOT / "benchmarks" / "run_benchmarks.py"
    run = subprocess.run([sys.executable, str(script), "--budget", "0.2", "--sets", "1",
                          "--large-sets", "0", "--memory-budget", "0", "--repeat-cpu", "0.2",
                          "--output", str(tmp_path)],
                         capture_output=True, text=True, timeout=300)
    assert run.returncode == 0, run.stderr
    quality = (tmp_path / "quality.csv").read_text().splitlines()
    assert quality[0].startswith("instance,objective,ours,gap_pct")
    assert [line.split(",")[:2] for line in quality[1:]] == [["eil51-m2", "min_max"],
                                                            ["eil51-m2", "min_sum"]]
    assert "## Throughput" in (tmp_path / "latest.md").read_text()
