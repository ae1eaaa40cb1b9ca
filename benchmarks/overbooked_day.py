"""An overbooked day: a Homberger instance with half the fleet of its best-known solution and
"allow_unassigned". The plan serves what it can: every served stop must pass the independent
route checker of the tests, and every stop left out must carry a reason.

    .venv/bin/python benchmarks/overbooked_day.py [--instance RC2_4_5] [--budget 60]

Results go to results/overbooked-day.md.
"""

import argparse
import collections
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
DATA = HERE.parent.parent / "shared" / "data" / "vrptw" / "Homberger_400"
sys.path[:0] = [str(HERE), str(HERE.parent / "tests" / "python")]

from route_check import route_problems  # noqa: E402
from time_windows import instance, ours  # noqa: E402


def best_known_fleet(name):
    for line in (DATA / "fleet-of-best-known.txt").read_text().splitlines():
        fields = line.split()
        if len(fields) == 2 and fields[0].upper() == name.upper():
            return int(fields[1])
    raise SystemExit(f"no best-known fleet for {name}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--instance", default="RC2_4_5")
    parser.add_argument("--budget", type=float, default=60.0)
    args = parser.parse_args()
    document = instance(DATA / f"{args.instance}.txt", args.budget)
    fleet = best_known_fleet(args.instance) // 2
    document["agents"] = document["agents"][:fleet]
    document["options"]["allow_unassigned"] = True
    result = ours(document)
    problems = route_problems(document, result)
    targets = len(document["nodes"]) - 1
    left = result["unassigned"]
    reasons = collections.Counter(stop["reason"] for stop in left)
    lines = [f"# An overbooked day: {args.instance} with {fleet} agents (half the best-known "
             f"fleet), {args.budget:g} s", "",
             f"- status: {result['status']}",
             f"- stops served: {targets - len(left)} of {targets}; left out: {len(left)}",
             f"- travel of the routes: {result['statistics']['sum_cost']:.2f}",
             f"- route checker: {'no problem' if not problems else problems[:3]}",
             f"- stops left out without a reason: {sum(1 for stop in left if not stop['reason'])}",
             "", "| reason | stops |", "|---|---|"]
    lines += [f"| {reason} | {count} |" for reason, count in reasons.most_common()]
    text = "\n".join(lines) + "\n"
    (HERE / "results" / "overbooked-day.md").write_text(text)
    print(text)


if __name__ == "__main__":
    main()
