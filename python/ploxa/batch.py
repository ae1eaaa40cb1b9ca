"""Many instances at once: one solve per worker process, or per task on a Dask cluster.

Locally the solves run in separate processes. Each releases the interpreter lock while the
core works, so the threads of one Dask worker solve at the same time.
"""

from __future__ import annotations

import contextlib
import csv
import json
import multiprocessing
import os
import sys
from collections.abc import Callable, Iterable, Sequence
from pathlib import Path
from typing import Any, TextIO, TypedDict

import _pyploxa_core as core
from ploxa.results import SolveResult

SUMMARY_FIELDS = ["instance", "status", "longest", "total", "time", "error"]
# One solve for a worker: index, path, time limit, improve, output folder, result name, enforce.
Task = tuple[int, str, float, "bool | None", "str | None", str, "bool | None"]


class BatchRow(TypedDict):
    """One instance of a batch: "status" is the solve's ("success", "partial", "failed"),
    "error" when the instance could not be solved at all, or "interrupted"; "error" then says
    why (for "partial", how many stops were left out)."""

    instance: str
    status: str
    longest: float | None
    total: float | None
    time: float | None
    error: str
    result_file: str


def solve_one(path: str, time_limit: float = -1, improve: bool | None = None,
              output_dir: str | None = None, result_name: str | None = None,
              enforce: bool | None = None) -> BatchRow:
    """Solves one instance file and never raises for a bad instance: its row says why. With
    output_dir, the result dictionary goes to output_dir/result_name. `enforce` sets both
    enforce_capacity and enforce_sequence (None: the instance's own)."""
    row: BatchRow = {"instance": path, "status": "error", "longest": None, "total": None,
                     "time": None, "error": "", "result_file": ""}
    try:
        text = Path(path).read_bytes()
        # Without the interpreter lock, a Dask worker's threads solve at the same time.
        result = core.solve_json_str(text, time_limit, improve=improve, enforce_capacity=enforce,
                                     enforce_sequence=enforce, release_gil=True)
    except KeyboardInterrupt as interrupt:
        partial: SolveResult | None = getattr(interrupt, "result", None)
        if partial is None:
            row["status"], row["error"] = "interrupted", "interrupted before a solution"
            return row
        result = partial
    except (OSError, RuntimeError, ValueError, IndexError) as error:
        row["error"] = f"{type(error).__name__}: {getattr(error, 'strerror', None) or error}"
        return row
    stats = result["statistics"]
    row["status"] = "interrupted" if result["stop_reason"] == "interrupted" else result["status"]
    row["longest"], row["total"], row["time"] = (stats["max_cost"], stats["sum_cost"],
                                                 stats["solve_time"])
    if result["status"] == "partial":
        row["error"] = f"{len(result['unassigned'])} stops left out"
    elif result["status"] != "success":
        row["error"] = f"no solution ({result['stop_reason']})"
    if output_dir:
        target = Path(output_dir) / (result_name or f"{Path(path).stem}.result.json")
        try:
            target.write_text(json.dumps(result, indent=1) + "\n")
        except (OSError, ValueError) as error:
            # The solve stands in the row; only its file is missing.
            row["status"] = "error"
            row["error"] = f"result file {target}: {getattr(error, 'strerror', None) or error}"
            return row
        row["result_file"] = str(target)
    return row


def result_names(paths: Sequence[str]) -> list[str]:
    """One result file name per instance, unique even when two instances share a stem."""
    names, used = [], set()
    for path in paths:
        stem = Path(path).stem
        name, k = f"{stem}.result.json", 1
        while name in used:
            k += 1
            name = f"{stem}-{k}.result.json"
        used.add(name)
        names.append(name)
    return names


def _quiet_worker() -> None:
    """The core's own lines and warnings would garble the progress bar: workers drop them."""
    core.set_log_handler(lambda line: None)


def _solve_task(arguments: Task) -> tuple[int, BatchRow]:
    index, path, time_limit, improve, output_dir, name, enforce = arguments
    return index, solve_one(path, time_limit, improve, output_dir, name, enforce)


def solve_many(paths: Iterable[str | os.PathLike[str]], time_limit: float = -1,
               workers: int | None = None, *, improve: bool | None = None,
               enforce: bool | None = None, output_dir: str | os.PathLike[str] | None = None, client: Any = None,
               on_done: Callable[[BatchRow, int, int], None] | None = None) -> list[BatchRow]:
    """Solves every instance file, `workers` at a time (default: one per core), and returns one
    row per instance in the given order. A failing instance does not stop the others. With
    output_dir, each result goes to its own JSON file there, beside summary.csv. With a
    dask.distributed `client`, the solves run as tasks on its cluster instead. `on_done(row,
    finished, total)` follows each finished instance. `enforce` sets both enforce_capacity and
    enforce_sequence of every solve (None: each instance's own). A result file that cannot be
    written makes its row "error"; a summary.csv that cannot be written raises OSError with the
    rows as its attribute "rows", once every result is saved. Ctrl-C stops the workers and
    raises KeyboardInterrupt with the finished rows as its attribute "rows"."""
    if workers is not None and (isinstance(workers, bool) or not isinstance(workers, int)
                                or workers < 1):
        raise ValueError(f"workers = {workers!r} is not a whole number of at least 1")
    files = [os.fspath(path) for path in paths]
    out = None if output_dir is None else os.fspath(output_dir)
    if out:
        Path(out).mkdir(parents=True, exist_ok=True)
    tasks: list[Task] = [(k, path, time_limit, improve, out, name, enforce)
                         for k, (path, name) in enumerate(zip(files, result_names(files)))]
    rows: list[BatchRow | None] = [None] * len(tasks)

    def finish(index: int, row: BatchRow) -> None:
        rows[index] = row
        if on_done:
            on_done(row, sum(r is not None for r in rows), len(rows))

    try:
        if client is not None:
            _run_on_cluster(client, tasks, finish)
        else:
            _run_on_pool(workers or os.cpu_count() or 1, tasks, finish)
    except KeyboardInterrupt as interrupt:
        done = [row for row in rows if row is not None]
        interrupt.rows = done  # type: ignore[attr-defined]
        if out:
            # The interrupt is the news; a summary that cannot be written is not.
            with contextlib.suppress(OSError):
                write_summary(Path(out) / "summary.csv", done)
        raise
    finished = [row for row in rows if row is not None]
    if out:
        try:
            write_summary(Path(out) / "summary.csv", finished)
        except OSError as error:
            error.rows = finished  # type: ignore[attr-defined]
            raise
    return finished


def _run_on_pool(workers: int, tasks: list[Task], finish: Callable[[int, BatchRow], None]) -> None:
    context = multiprocessing.get_context("spawn")
    pool = context.Pool(min(workers, max(len(tasks), 1)), initializer=_quiet_worker)
    try:
        for index, row in pool.imap_unordered(_solve_task, tasks):
            finish(index, row)
        pool.close()
    except BaseException:
        pool.terminate()
        raise
    finally:
        pool.join()


def _run_on_cluster(client: Any, tasks: list[Task],
                    finish: Callable[[int, BatchRow], None]) -> None:
    from dask import distributed

    # dask has no type information: its functions are taken as untyped.
    as_completed: Any = distributed.as_completed
    futures = client.map(_solve_task, tasks, pure=False)
    try:
        for future in as_completed(futures):
            index, row = future.result()
            finish(index, row)
    except BaseException:
        client.cancel(futures)
        raise


def write_summary(path: Path, rows: Sequence[BatchRow]) -> None:
    with open(path, "w", newline="", encoding="utf-8") as f:
        writer = csv.DictWriter(f, fieldnames=SUMMARY_FIELDS, extrasaction="ignore")
        writer.writeheader()
        for row in rows:
            fields: dict[str, Any] = dict(row)
            writer.writerow({key: "" if fields[key] is None else fields[key]
                             for key in SUMMARY_FIELDS})


class ProgressBar:
    """One line on standard error, redrawn in place on a terminal, else one line per instance."""

    def __init__(self, stream: TextIO = sys.stderr, width: int = 30) -> None:
        self.stream, self.width = stream, width
        self.failed = 0

    def __call__(self, row: BatchRow, finished: int, total: int) -> None:
        self.failed += row["status"] not in ("success", "partial")
        filled = self.width * finished // max(total, 1)
        line = (f"[{'#' * filled}{'.' * (self.width - filled)}] {finished}/{total} done, "
                f"{self.failed} without a solution")
        if self.stream.isatty():
            self.stream.write("\r" + line + ("\n" if finished == total else ""))
        else:
            self.stream.write(f"{line}: {row['instance']} {row['status']}\n")
        self.stream.flush()
