"""The package as it is documented and shipped: its names, the README's format reference,
batches of files in processes or on a dask cluster, and its types."""
import contextlib
import csv
import json
import pathlib
import re
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


def test_the_readme_s_format_reference_lists_every_key_the_loader_reads_and_no_other():
    section = (ROOT / "README.md").read_text().split("## Instance format", 1)[1].split("\n## ", 1)[0]
    listed: dict[str, list[str]] = {}
    for line in section.splitlines():
        if found := re.match(r"^\| (top level|`[^`]+`) \| `([a-z_]+)` \|", line):
            place = "" if found[1] == "top level" else found[1].strip("`")
            listed.setdefault(place, []).append(found[2])
    assert all(len(keys) == len(set(keys)) for keys in listed.values())
    assert {place: set(keys) for place, keys in listed.items()} == {
        place: set(keys) for place, keys in core.instance_keys().items()}


@pytest.fixture
def batch_files(tmp_path):
    """The examples and one broken instance."""
    files = [shutil.copy(path, tmp_path) for path in sorted(EXAMPLES.glob("*.json"))]
    broken = tmp_path / "broken.json"
    broken.write_text('{"nodes": [], "agents": [{"id": 0}]}')
    return [str(path) for path in files] + [str(broken)]


@pytest.mark.parametrize("on_dask", [False, True], ids=["worker-processes", "dask-cluster"])
def test_a_batch_keeps_going_past_a_broken_instance(tmp_path, batch_files, on_dask):
    out = tmp_path / "results"
    with contextlib.ExitStack() as stack:
        client = None
        if on_dask:
            distributed = pytest.importorskip(
                "dask.distributed", reason="dask[distributed] (the cluster extra) is not installed")
            cluster = stack.enter_context(distributed.LocalCluster(
                n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None))
            client = stack.enter_context(distributed.Client(cluster))
        rows = ploxa.solve_many(batch_files, time_limit=1, workers=2, output_dir=out,
                                client=client)
    assert [row["instance"] for row in rows] == batch_files
    assert [row["status"] for row in rows] == ["success"] * (len(batch_files) - 1) + ["error"]
    assert "agents[0].type is missing" in rows[-1]["error"]
    for row in rows[:-1]:
        instance = json.loads(pathlib.Path(row["instance"]).read_text())
        assert route_problems(instance, json.loads(pathlib.Path(row["result_file"]).read_text())) == []
    with open(out / "summary.csv", newline="") as f:
        summary = list(csv.DictReader(f))
    assert [line["status"] for line in summary] == [row["status"] for row in rows]
    assert list(summary[0]) == ["instance", "status", "longest", "total", "time", "error"]


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
    for name in ("summary.csv", "pickup_delivery.result.json"):
        (out / name).unlink()
    (out / "summary.csv").mkdir()
    run = run_cli("batch", batch_files[0], "--output-dir", out, "--time-limit", "1")
    assert run.returncode == 2
    assert run.stderr.splitlines()[-1].startswith(f"ploxa: error: {out / 'summary.csv'}: ")
    assert (out / "pickup_delivery.result.json").is_file()  # the result is saved all the same


def test_the_package_and_the_examples_type_check():
    pytest.importorskip("mypy", reason="mypy (the typecheck extra) is not installed")
    run = subprocess.run([sys.executable, "-m", "mypy", "--strict", str(EXAMPLES),
                          str(ROOT / "python" / "ploxa")],
                         capture_output=True, text=True, timeout=300, cwd=ROOT)
    assert run.returncode == 0, run.stdout + run.stderr
