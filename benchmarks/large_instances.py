"""Benchmark of instances beyond the joint search: hundreds to thousands of nodes, costs from
coordinates, solved by the construction and the improvement stage.

    python benchmarks/large_instances.py [--large] [--peer] [--budget SECONDS]

The short default run solves lin318 and rat783 with 5 and 10 agents at 10 processor seconds,
measures the first solution and peak memory at about 1,000 (pr1002) and 6,000 nodes (rl5915),
and solves pr1002 min-sum with 5 agents. --large runs the published min-max set (lin318,
rat783, pcb1173, nrw1379 at 60 s; pr2392, pcb3038, rl5915 at 300 s; 3, 5, 10 and 20 agents)
and min-sum pr1002 and pcb1173 with 5 agents at 60 s; it takes hours. --peer also solves each
quality instance with the peer solver on the same budget (OR-Tools, the `bench` extra).

Every solve runs in its own process. Longest routes are recomputed here from the coordinates.
Results go to benchmarks/results/large.md and large.json (with the anytime curves).
"""

import argparse
import json
import math
import resource
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
DATA = HERE / "data"
BEST_KNOWN = json.loads((DATA / "minmax-large" / "bks.json").read_text())["instances"]
# Published single-tour optima (rounded distances) of the min-sum instances.
TOUR_OPTIMA = {"pr1002": 259045, "pcb1173": 56892}
AGENT_COUNTS = (3, 5, 10, 20)
SHORT_QUALITY = [("lin318", 5), ("lin318", 10), ("rat783", 5), ("rat783", 10)]
LARGE_QUALITY = [(name, m, 60.0) for name in ("lin318", "rat783", "pcb1173", "nrw1379")
                 for m in AGENT_COUNTS] + \
                [(name, m, 300.0) for name in ("pr2392", "pcb3038", "rl5915") for m in AGENT_COUNTS]
FIRST_SOLUTION = [("pr1002", 10), ("rl5915", 10)]


def cities(name):
    path = DATA / "minmax-large" / f"{name}.txt"
    if path.exists():
        rows = [line.split() for line in path.read_text().splitlines()[1:] if line.strip()]
        rows = [row for row in rows if len(row) == 3]
        return [(float(x), float(y)) for _, x, y in rows]
    from ploxa.tsplib import read_tsplib
    return read_tsplib(DATA / "tsplib" / f"{name}.tsp")[1]


def document(name, agents, objective, budget):
    points = cities(name)
    return {
        "nodes": [{"id": i, "x": x, "y": y} for i, (x, y) in enumerate(points)],
        "agents": [{"id": k, "type": "salesman", "start_node": 0, "end_node": 0}
                   for k in range(agents)],
        "metrics": {"salesman": {"kind": "euclidean"}},
        "constraints": [{"kind": "assignment",
                         "items": [{"node": i, "types": ["salesman"]} for i in range(len(points))]}],
        "options": {"objective": objective, "time_limit": budget, "improve": True},
    }


def route_lengths(points, routes):
    return [sum(math.dist(points[a], points[b]) for a, b in zip(path, path[1:]))
            for path in routes]


def child_ours(name, agents, objective, budget):
    import _pyploxa_core as core
    text = json.dumps(document(name, agents, objective, budget))
    started = time.process_time()
    result = core.solve_json_str(text)
    cpu = time.process_time() - started
    lengths = route_lengths(cities(name), [route["path"] for route in result["routes"]])
    return {"status": result["status"], "method": result["statistics"]["method"],
            "max_cost": max(lengths, default=math.nan), "sum_cost": sum(lengths), "cpu": cpu,
            "first": result["anytime"][0]["time"] if result["anytime"] else None,
            "anytime": [(step["time"], step["max_cost"], step["sum_cost"])
                        for step in result["anytime"]]}


def child_peer(name, agents, objective, budget):
    from run_benchmarks import peer_routes
    points = cities(name)
    routes, cpu = peer_routes(
        len(points), agents, lambda i, j: int(round(1000 * math.dist(points[i], points[j]))),
        objective, budget)
    lengths = route_lengths(points, routes)
    return {"status": "success" if routes else "failed", "cpu": cpu,
            "max_cost": max(lengths, default=math.nan), "sum_cost": sum(lengths) if lengths else math.nan}


# Where each solve's answer is kept; a peer's answer is reused when present (so that the peer
# can run once, on its own), and with --reuse ours too (to write the tables again).
RUNS = HERE / "results" / "large-runs"
REUSE = {"peer"}


def run_child(kind, name, agents, objective, budget):
    kept = RUNS / f"{kind}-{name}-m{agents}-{objective}-{budget:g}.json"
    if kind in REUSE and kept.exists():
        return json.loads(kept.read_text())
    command = [sys.executable, __file__, "--child", kind, name, str(agents), objective, str(budget)]
    done = subprocess.run(command, capture_output=True, text=True, check=True)
    result = json.loads(done.stdout.strip().splitlines()[-1])
    RUNS.mkdir(parents=True, exist_ok=True)
    kept.write_text(json.dumps(result) + "\n")
    return result


def depot_bound(name):
    points = cities(name)
    return 2 * max(math.dist(points[0], p) for p in points)


def time_to(anytime, best_known, gap):
    """Processor seconds until the longest route is within `gap` of the best-known value."""
    for seconds, longest, _ in anytime:
        if longest <= best_known * (1 + gap):
            return seconds
    return None


def fmt(value, digits=2):
    return "—" if value is None or (isinstance(value, float) and math.isnan(value)) \
        else f"{value:.{digits}f}"


def minmax_rows(runs, peer, log):
    rows = []
    for name, agents, budget in runs:
        ours = run_child("ours", name, agents, "min_max", budget)
        best = BEST_KNOWN[f"{name}-m{agents}"]["recomputed"]
        row = {"instance": f"{name}-m{agents}", "budget": budget, "best_known": best,
               "bound": depot_bound(name), "ours": ours,
               "gap": 100 * (ours["max_cost"] / best - 1),
               "to5": time_to(ours["anytime"], best, 0.05),
               "to2": time_to(ours["anytime"], best, 0.02),
               "to1": time_to(ours["anytime"], best, 0.01)}
        if peer:
            row["peer"] = run_child("peer", name, agents, "min_max", budget)
            row["peer_gap"] = 100 * (row["peer"]["max_cost"] / best - 1)
        log(f"{row['instance']:>12} {budget:5.0f} s  ours {ours['max_cost']:10.2f} "
            f"({row['gap']:+.2f} %)  best known {best:10.2f}"
            + (f"  peer {row['peer']['max_cost']:10.2f} ({row['peer_gap']:+.2f} %)" if peer else ""))
        rows.append(row)
    return rows


def minsum_rows(runs, peer, log):
    rows = []
    for name, agents, budget in runs:
        ours = run_child("ours", name, agents, "min_sum", budget)
        row = {"instance": f"{name}-m{agents}", "budget": budget, "tour": TOUR_OPTIMA[name],
               "ours": ours, "gap": 100 * (ours["sum_cost"] / TOUR_OPTIMA[name] - 1)}
        if peer:
            row["peer"] = run_child("peer", name, agents, "min_sum", budget)
        log(f"{row['instance']:>12} {budget:5.0f} s  ours total {ours['sum_cost']:12.1f} "
            f"({row['gap']:+.2f} % from the tour optimum)")
        rows.append(row)
    return rows


def first_rows(runs, log):
    rows = []
    for name, agents in runs:
        ours = run_child("ours", name, agents, "min_max", 2.0)
        row = {"instance": f"{name}-m{agents}", "nodes": len(cities(name)), "first": ours["first"],
               "peak_mib": ours["peak_mib"]}
        log(f"{row['instance']:>12} first solution after {fmt(row['first'], 3)} s, "
            f"peak {row['peak_mib']:.0f} MiB")
        rows.append(row)
    return rows


def markdown(args, minmax, minsum, first):
    lines = ["# Large instances", "",
             f"Run of {time.strftime('%Y-%m-%d')} ({'--large' if args.large else 'short default run'}"
             f"{', with the peer' if args.peer else ''}); processor seconds; longest routes "
             "recomputed from the coordinates. Bound: twice the farthest city from the depot.", "",
             "## Min-max against the best-known values", "",
             "| instance | budget | best known | bound | ours | gap % | to 5 % | to 2 % | to 1 % | peer | peer gap % |",
             "|---|---|---|---|---|---|---|---|---|---|---|"]
    for row in minmax:
        peer = row.get("peer", {})
        lines.append(f"| {row['instance']} | {row['budget']:.0f} | {row['best_known']:.2f} | "
                     f"{row['bound']:.2f} | {row['ours']['max_cost']:.2f} | {row['gap']:+.2f} | "
                     f"{fmt(row['to5'])} | {fmt(row['to2'])} | {fmt(row['to1'])} | "
                     f"{fmt(peer.get('max_cost'))} | {fmt(row.get('peer_gap'))} |")
    lines.append("")
    for budget in sorted({row["budget"] for row in minmax}):
        rows = [row for row in minmax if row["budget"] == budget]
        gaps = [row["gap"] for row in rows]
        line = (f"- At {budget:g} s ({len(rows)} instances): mean gap {sum(gaps) / len(gaps):+.2f} %, "
                f"worst {max(gaps):+.2f} %")
        peers = [row for row in rows if "peer" in row]
        if peers:
            ahead = sum(row["ours"]["max_cost"] < row["peer"]["max_cost"] for row in peers)
            line += f"; shorter longest route than the peer on {ahead} of {len(peers)}"
        lines.append(line + ".")
    lines += ["", "## Min-sum against the single-tour optimum", "",
              "| instance | budget | tour optimum | ours | gap % | peer |", "|---|---|---|---|---|---|"]
    for row in minsum:
        lines.append(f"| {row['instance']} | {row['budget']:.0f} | {row['tour']} | "
                     f"{row['ours']['sum_cost']:.1f} | {row['gap']:+.2f} | "
                     f"{fmt(row.get('peer', {}).get('sum_cost'), 1)} |")
    lines += ["", "## First solution and peak memory (metric costs)", "",
              "| instance | nodes | first solution s | peak MiB |", "|---|---|---|---|"]
    for row in first:
        lines.append(f"| {row['instance']} | {row['nodes']} | {fmt(row['first'], 3)} | "
                     f"{row['peak_mib']:.0f} |")
    return "\n".join(lines) + "\n"


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--child":
        kind, name, agents, objective, budget = sys.argv[2:7]
        child = child_ours if kind == "ours" else child_peer
        result = child(name, int(agents), objective, float(budget))
        result["peak_mib"] = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0
        print(json.dumps(result))
        return
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--large", action="store_true", help="the full published set (hours)")
    parser.add_argument("--peer", action="store_true", help="also run the peer solver")
    parser.add_argument("--peer-only", action="store_true",
                        help="run only the peer's solves (kept for later runs)")
    parser.add_argument("--budget", type=float, default=10.0,
                        help="processor seconds per solve of the short run")
    parser.add_argument("--output", type=Path, default=HERE / "results", help="results folder")
    parser.add_argument("--reuse", action="store_true",
                        help="reuse our kept answers as well (only to rewrite the tables)")
    args = parser.parse_args()
    if args.reuse:
        REUSE.add("ours")
    log = lambda line: print(line, flush=True)  # noqa: E731
    if args.peer_only:
        runs = LARGE_QUALITY if args.large else [(n, m, args.budget) for n, m in SHORT_QUALITY]
        minsum = [("pr1002", 5, 60.0), ("pcb1173", 5, 60.0)] if args.large else \
            [("pr1002", 5, args.budget)]
        for objective, group in (("min_max", runs), ("min_sum", minsum)):
            for name, agents, budget in group:
                peer = run_child("peer", name, agents, objective, budget)
                log(f"{name}-m{agents} {objective} {budget:g} s: peer {peer['max_cost']:.2f} "
                    f"{peer['sum_cost']:.1f}")
        return
    if args.large:
        minmax = minmax_rows(LARGE_QUALITY, args.peer, log)
        minsum = minsum_rows([("pr1002", 5, 60.0), ("pcb1173", 5, 60.0)], args.peer, log)
    else:
        minmax = minmax_rows([(n, m, args.budget) for n, m in SHORT_QUALITY], args.peer, log)
        minsum = minsum_rows([("pr1002", 5, args.budget)], args.peer, log)
    first = first_rows(FIRST_SOLUTION, log)
    args.output.mkdir(parents=True, exist_ok=True)
    suffix = "" if not args.large else "-full"
    (args.output / f"large{suffix}.md").write_text(markdown(args, minmax, minsum, first))
    (args.output / f"large{suffix}.json").write_text(
        json.dumps({"minmax": minmax, "minsum": minsum, "first": first}, indent=1) + "\n")


if __name__ == "__main__":
    main()
