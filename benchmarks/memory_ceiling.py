"""Peak memory of long plain searches under the memory ceiling.

    python benchmarks/memory_ceiling.py [--budget SECONDS] [--limits MIB ...]

The plain search (improvement stage off) keeps every label, so its memory grows for as long
as it runs; the ceiling (`memory_limit`, 4096 MiB by default) must stop it in time. Each solve
runs in its own interpreter so that its peak resident memory is its own. Results are appended
to benchmarks/results/memory_ceiling.md.
"""

import argparse
import datetime
import json
import resource
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))


def child(budget, limit):
    import _pyploxa_core as core
    from run_benchmarks import instance
    document = instance("eil76", 3, "min_max", budget)
    if limit is not None:
        document["options"]["memory_limit"] = limit
    started = time.process_time()
    result = core.solve_json_str(json.dumps(document))
    print(json.dumps({"cpu": time.process_time() - started, "status": result["status"],
                      "stop_reason": result["stop_reason"], "timeout": result["timeout"],
                      "max_cost": result["statistics"]["max_cost"],
                      "n_generated": result["statistics"]["n_generated"],
                      "peak_mib": resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024}))


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--budget", type=float, default=600.0, help="processor seconds per solve")
    parser.add_argument("--limits", type=int, nargs="*", default=[],
                        help="memory limits in MiB to try besides the default")
    args = parser.parse_args()
    rows = []
    for limit in [None, *args.limits]:
        done = subprocess.run([sys.executable, __file__, "--child", str(args.budget), str(limit)],
                              capture_output=True, text=True, check=True)
        row = json.loads(done.stdout.strip().splitlines()[-1])
        row["limit"] = "default (4096)" if limit is None else str(limit)
        rows.append(row)
        print(row, flush=True)
    lines = [f"## {datetime.date.today().isoformat()}: eil76, 3 agents, min-max, plain search, "
             f"budget {args.budget:.0f} s", "",
             "| memory_limit MiB | stop_reason | cpu s | labels | peak MiB | longest route |",
             "|---|---|---|---|---|---|"]
    lines += [f"| {r['limit']} | {r['stop_reason']} | {r['cpu']:.1f} | {r['n_generated']} | "
              f"{r['peak_mib']:.0f} | {r['max_cost']:.2f} |" for r in rows]
    out = HERE / "results" / "memory_ceiling.md"
    previous = out.read_text() if out.exists() else "# Memory ceiling of the plain search\n\n"
    out.write_text(previous + "\n".join(lines) + "\n\n")


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "--child":
        child(float(sys.argv[2]), None if sys.argv[3] == "None" else int(sys.argv[3]))
    else:
        main()
