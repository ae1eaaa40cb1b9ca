import json
import pathlib
import subprocess
import sys

import pytest

from route_check import route_problems


def run_cli(*args, cwd=None):
    return subprocess.run([sys.executable, "-m", "ploxa", *args], capture_output=True,
                          text=True, cwd=cwd, timeout=120)


def test_solve_prints_a_summary_and_writes_the_result(data_dir, tmp_path):
    output = tmp_path / "result.json"
    run = run_cli("solve", str(data_dir / "sparse_ids.json"), "--time-limit", "1",
                  "--output", str(output))
    assert run.returncode == 0, run.stderr
    lines = run.stdout.splitlines()
    assert lines[0].endswith("sparse_ids.json: success")
    # routes are shown with node ids, which differ from positions in this instance
    assert any(line.startswith("  agent 20: 0 -> 0  cost 0") for line in lines)
    assert any("longest route" in line for line in lines)
    written = json.loads(output.read_text())
    assert list(written) == ["status", "timeout", "routes", "statistics", "anytime"]
    instance = json.loads((data_dir / "sparse_ids.json").read_text())
    assert route_problems(instance, written) == []


@pytest.mark.parametrize("make_input, message", [
    (lambda d: d / "absent.json", "Cannot open file: "),                          # missing file
    (lambda d: (d / "bad.json").write_text("{") and d / "bad.json", "parse error"),  # broken JSON
    (lambda d: (d / "s.json").write_text('{"nodes": []}') and d / "s.json",
     "key 'agents' not found"),                                                    # not an instance
])
def test_bad_input_is_one_line_with_status_two(tmp_path, make_input, message):
    path = make_input(tmp_path)
    run = run_cli("solve", str(path))
    assert run.returncode == 2
    assert run.stdout == ""
    assert run.stderr.count("\n") == 1 and "Traceback" not in run.stderr
    assert run.stderr.startswith(f"ploxa: error: {path}: ") and message in run.stderr


def test_unknown_subcommand_is_a_usage_error():
    run = run_cli("frobnicate")
    assert run.returncode == 2
    assert "invalid choice" in run.stderr


def test_convert_writes_a_solvable_single_depot_instance(tmp_path):
    tsp = tmp_path / "tiny.tsp"
    tsp.write_text("NAME : tiny\nTYPE : TSP\nDIMENSION : 4\nEDGE_WEIGHT_TYPE : EUC_2D\n"
                   "NODE_COORD_SECTION\n1 0 0\n2 3 4\n3 6 0\n4 3 -4\nEOF\n")
    out = tmp_path / "tiny.json"
    run = run_cli("convert", str(tsp), "--agents", "2", "--time-limit", "1", "--output", str(out))
    assert run.returncode == 0, run.stderr
    instance = json.loads(out.read_text())
    assert [a["start_node"] for a in instance["agents"]] == [0, 0]
    assert instance["costs"]["salesman"][0][1] == 5.0  # unrounded Euclidean distance
    assert instance["nodes"][0]["type"] == "depot"
    solved = run_cli("solve", str(out), "--output", str(tmp_path / "r.json"))
    assert solved.returncode == 0, solved.stderr
    assert route_problems(instance, json.loads((tmp_path / "r.json").read_text())) == []


def test_convert_refuses_other_edge_weight_types(tmp_path):
    tsp = tmp_path / "geo.tsp"
    tsp.write_text("NAME : geo\nDIMENSION : 1\nEDGE_WEIGHT_TYPE : GEO\nNODE_COORD_SECTION\n1 0 0\nEOF\n")
    run = run_cli("convert", str(tsp), "--agents", "1")
    assert run.returncode == 2
    assert run.stderr == f"ploxa: error: {tsp}: EDGE_WEIGHT_TYPE is 'GEO', not 'EUC_2D'\n"


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
