import json
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
