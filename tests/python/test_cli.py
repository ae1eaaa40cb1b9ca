import json
import pathlib
import subprocess
import sys

import pytest

from route_check import route_problems


def run_cli(*args):
    return subprocess.run([sys.executable, "-m", "ploxa", *args], capture_output=True,
                          text=True, timeout=120)


@pytest.mark.parametrize("command, name, content, message", [
    ("solve", "absent.json", None, "Cannot open file: "),             # missing file
    ("solve", "bad.json", "{", "parse error"),                         # broken JSON
    ("solve", "s.json", '{"nodes": []}', "key 'agents' not found"),    # not an instance
    ("convert", "geo.tsp", "NAME : geo\nDIMENSION : 1\nEDGE_WEIGHT_TYPE : GEO\n"
     "NODE_COORD_SECTION\n1 0 0\nEOF\n", "EDGE_WEIGHT_TYPE is 'GEO', not 'EUC_2D'"),  # not planar
])
def test_bad_input_gives_status_two_and_one_error_line(tmp_path, command, name, content, message):
    path = tmp_path / name
    if content is not None:
        path.write_text(content)
    run = run_cli(command, str(path), *(["--agents", "1"] if command == "convert" else []))
    assert run.returncode == 2
    assert run.stdout == ""
    assert run.stderr.count("\n") == 1
    assert run.stderr.startswith(f"ploxa: error: {path}: ") and message in run.stderr


def test_convert_and_solve_exit_zero_and_write_a_feasible_result(tmp_path):
    tsp = tmp_path / "tiny.tsp"
    tsp.write_text("NAME : tiny\nTYPE : TSP\nDIMENSION : 4\nEDGE_WEIGHT_TYPE : EUC_2D\n"
                   "NODE_COORD_SECTION\n1 0 0\n2 3 4\n3 6 0\n4 3 -4\nEOF\n")
    out, result = tmp_path / "tiny.json", tmp_path / "r.json"
    run = run_cli("convert", str(tsp), "--agents", "2", "--time-limit", "1", "--output", str(out))
    assert run.returncode == 0, run.stderr
    instance = json.loads(out.read_text())
    assert [a["start_node"] for a in instance["agents"]] == [0, 0]
    assert instance["costs"]["salesman"][0][1] == 5.0  # unrounded Euclidean distance
    assert instance["nodes"][0]["type"] == "depot"
    solved = run_cli("solve", str(out), "--time-limit", "1", "--output", str(result))
    assert solved.returncode == 0, solved.stderr
    written = json.loads(result.read_text())
    assert list(written) == ["status", "timeout", "routes", "statistics", "anytime"]
    assert route_problems(instance, written) == []


def test_benchmark_smoke_run_writes_its_results(tmp_path):
    script = pathlib.Path(__file__).resolve().parents[2] / "benchmarks" / "run_benchmarks.py"
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
