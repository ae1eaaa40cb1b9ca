import csv
import json
import pathlib
import shutil
import subprocess
import sys
import tomllib

import pytest

import _pyploxa_core as core
import ploxa
from conftest import EXAMPLES, ROOT, run_cli
from route_check import route_problems


def test_the_package_re_exports_every_public_name_of_the_core():
    public = {name for name in dir(core) if not name.startswith("_")}
    assert public <= set(ploxa.__all__)
    assert all(getattr(ploxa, name) is getattr(core, name) for name in public)
    project = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]
    assert ploxa.__version__ == project["version"]


@pytest.fixture
def batch_files(tmp_path):
    """The examples and one broken instance."""
    files = [shutil.copy(path, tmp_path) for path in sorted(EXAMPLES.glob("*.json"))]
    broken = tmp_path / "broken.json"
    broken.write_text('{"nodes": [], "agents": [{"id": 0}]}')
    return [str(path) for path in files] + [str(broken)]


def check_batch(rows, files, out):
    assert [row["instance"] for row in rows] == files
    assert [row["status"] for row in rows] == ["success"] * (len(files) - 1) + ["error"]
    assert "agents[0].type is missing" in rows[-1]["error"]
    for row in rows[:-1]:
        instance = json.loads(pathlib.Path(row["instance"]).read_text())
        assert route_problems(instance, json.loads(pathlib.Path(row["result_file"]).read_text())) == []
    with open(out / "summary.csv", newline="") as f:
        summary = list(csv.DictReader(f))
    assert [line["status"] for line in summary] == [row["status"] for row in rows]
    assert list(summary[0]) == ["instance", "status", "longest", "total", "time", "error"]


def test_a_batch_keeps_going_past_a_broken_instance(tmp_path, batch_files):
    out = tmp_path / "results"
    rows = ploxa.solve_many(batch_files, time_limit=1, workers=2, output_dir=out)
    check_batch(rows, batch_files, out)


def test_unwritable_results_fail_their_row_and_an_unwritable_summary_fails_the_command(
        tmp_path, batch_files):
    out = tmp_path / "results"
    # Folders where a result file and then summary.csv should go.
    (out / "shared_depot.result.json").mkdir(parents=True)
    rows = ploxa.solve_many(batch_files[:3], time_limit=1, workers=2, output_dir=out)
    assert [row["status"] for row in rows] == ["success", "error", "success"]
    assert rows[1]["error"].startswith(f"result file {out / 'shared_depot.result.json'}: ")
    with open(out / "summary.csv", newline="") as f:
        assert [line["status"] for line in csv.DictReader(f)] == ["success", "error", "success"]
    (out / "summary.csv").unlink()
    (out / "summary.csv").mkdir()
    run = run_cli("batch", batch_files[0], "--output-dir", out, "--time-limit", "1")
    assert run.returncode == 2
    assert run.stderr.splitlines()[-1].startswith(f"ploxa: error: {out / 'summary.csv'}: ")
    assert (out / "pickup_delivery.result.json").is_file()


def test_the_same_batch_runs_on_a_dask_cluster(tmp_path, batch_files):
    distributed = pytest.importorskip("dask.distributed",
                                      reason="dask[distributed] (the cluster extra) is not installed")
    out = tmp_path / "results"
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                                  dashboard_address=None) as cluster, \
            distributed.Client(cluster) as client:
        rows = ploxa.solve_many(batch_files, time_limit=1, output_dir=out, client=client)
    check_batch(rows, batch_files, out)


def test_the_package_and_the_examples_type_check():
    pytest.importorskip("mypy", reason="mypy (the typecheck extra) is not installed")
    run = subprocess.run([sys.executable, "-m", "mypy", "--strict", str(EXAMPLES),
                          str(ROOT / "python" / "ploxa")],
                         capture_output=True, text=True, timeout=300, cwd=ROOT)
    assert run.returncode == 0, run.stdout + run.stderr
