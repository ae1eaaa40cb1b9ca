"""How fast and at what memory cost a full cost matrix goes in.

- A 5,000 x 5,000 NumPy array (float64, float32, int32) through Problem.set_cost_matrix,
  against the same matrix as lists of Python floats.
- A 3,000-node JSON instance with one full matrix: check_json_str (parse, load, check; no
  solve).

Each case runs in a fresh process, which reports the seconds of the call and the growth of
its peak resident memory during the call, against the size of the matrix itself (8 bytes an
entry). Results go to results/matrix-input.md.

    .venv/bin/python benchmarks/matrix_input.py [--nodes-numpy N] [--nodes-json N]
    .venv/bin/python benchmarks/matrix_input.py --write FILE.json [--nodes-json N]

--write only writes the JSON instance, for json_load_bench.cpp, which times reading it alone.
"""

import argparse
import json
import resource
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
RESULTS = HERE / "results" / "matrix-input.md"


def peak_bytes() -> int:
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) * 1024 for line in f if line.startswith("VmHWM:"))


def reset_peak() -> None:
    """Sets the peak resident memory to the current one (Linux)."""
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")


def current_bytes() -> int:
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * resource.getpagesize()


def measure(call) -> tuple[float, int]:
    """Seconds of the call and how far the peak resident memory rose above the memory
    held before it."""
    reset_peak()
    before = current_bytes()
    start = time.perf_counter()
    call()
    seconds = time.perf_counter() - start
    return seconds, max(0, peak_bytes() - before)


def numpy_case(n: int, dtype: str) -> tuple[float, int]:
    import numpy as np

    import _pyploxa_core as core
    rng = np.random.default_rng(1)
    matrix = (rng.random((n, n)) * 1000).astype(dtype)
    problem = core.Problem()
    return measure(lambda: problem.set_cost_matrix("truck", matrix))


def list_case(n: int) -> tuple[float, int]:
    import numpy as np

    import _pyploxa_core as core
    rows = (np.random.default_rng(1).random((n, n)) * 1000).tolist()
    problem = core.Problem()
    return measure(lambda: problem.set_cost_matrix("truck", rows))


def json_instance(n: int) -> str:
    import numpy as np
    rng = np.random.default_rng(1)
    points = rng.random((n, 2)) * 1000
    matrix = np.rint(np.hypot(*(points[:, None, :] - points[None, :, :]).transpose(2, 0, 1)))
    return json.dumps({
        "nodes": [{"id": i, "x": float(x), "y": float(y)} for i, (x, y) in enumerate(points)],
        "agents": [{"id": k, "type": "truck", "start_node": 0, "end_node": 0} for k in range(5)],
        "costs": {"truck": matrix.astype(int).tolist()},
        "constraints": [{"kind": "assignment",
                         "items": [{"node": i, "types": ["truck"]} for i in range(n)]}],
        "options": {"objective": "min_max"}})


def json_case(n: int) -> tuple[float, int]:
    import _pyploxa_core as core
    text = json_instance(n).encode()
    return measure(lambda: core.check_json_str(text))


def run_case(name: str, n: int) -> tuple[float, int]:
    code = (f"import sys; sys.path.insert(0, {str(HERE)!r}); import matrix_input as m; "
            f"print(*m.case({name!r}, {n}))")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                         check=True).stdout.split()
    return float(out[0]), int(out[1])


def case(name: str, n: int) -> tuple[float, int]:
    if name == "lists":
        return list_case(n)
    if name == "json":
        return json_case(n)
    return numpy_case(n, name)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--nodes-numpy", type=int, default=5000)
    parser.add_argument("--nodes-json", type=int, default=3000)
    parser.add_argument("--write", metavar="FILE.json")
    args = parser.parse_args()
    if args.write:
        Path(args.write).write_text(json_instance(args.nodes_json))
        return
    lines = ["# Cost matrices going in", "",
             "| input | nodes | seconds | extra peak memory (MiB) | times the matrix's size |",
             "| --- | ---: | ---: | ---: | ---: |"]
    for name, n in [("float64", args.nodes_numpy), ("float32", args.nodes_numpy),
                    ("int32", args.nodes_numpy), ("lists", args.nodes_numpy),
                    ("json", args.nodes_json)]:
        seconds, extra = run_case(name, n)
        size = 8 * n * n
        lines.append(f"| {name} | {n} | {seconds:.3f} | {extra / 2**20:.0f} | "
                     f"{extra / size:.2f} |")
        print(lines[-1], flush=True)
    RESULTS.write_text("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
