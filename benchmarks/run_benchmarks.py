"""Quality and throughput benchmarks of the solver, with an optional peer solver.

    python benchmarks/run_benchmarks.py [--budget SECONDS] [--peer] [--memory-budget SECONDS]

Every solve runs in its own process, so that peak memory is measured per solve. Quality solves
run with the improvement stage on (the plain search is what the throughput part measures).
Results go to standard output and, as CSV and Markdown, to benchmarks/results/. Throughput figures recorded
earlier in benchmarks/results/baseline/results.json (an older build measured by this script)
are shown beside the new ones. PLOXA_BENCH_COMMIT names the build measured when it is not the
checked-out commit (for example a baseline module put first on PYTHONPATH).
"""

import argparse
import csv
import datetime
import json
import math
import os
import platform
import resource
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
DATA = HERE / "data"
SETS = [(name, m) for name in ("eil51", "berlin52", "eil76", "rat99") for m in (2, 3, 5, 7)]
# Larger instances without published min-max values, compared with the peer only.
LARGE_SETS = [(name, m) for name in ("st70", "kroA100", "ch150", "kroA200") for m in (3, 5)]
LARGE_NAMES = {name for name, _ in LARGE_SETS}
# Budget of the short quality solves, which show how fast the answers come.
SHORT_BUDGET = 1.0
# The first complete version of the solver, before any speed-up.
BASELINE_COMMIT = "e61ca4f"
THROUGHPUT_RUNS = [("eil76", 3, "min_max"), ("rat99", 5, "min_sum")]


def instance(name, agents, objective, budget):
    from ploxa.tsplib import tsplib_to_instance
    return tsplib_to_instance(DATA / "tsplib" / f"{name}.tsp", agents, objective, budget,
                              matrix=True)


def route_costs(document, routes):
    matrix = next(iter(document["costs"].values()))
    return [sum(matrix[a][b] for a, b in zip(path, path[1:])) for path in routes]


def child_ours(name, agents, objective, budget, repeat_cpu=0.0, mode="plain"):
    """One solve; a solve that ends on its own within repeat_cpu processor seconds is run again
    until the runs total that much, and its processor time is their mean. Mode "improve" turns
    the improvement stage on, "full" also keeps it going to the budget."""
    import _pyploxa_core as core
    document = instance(name, agents, objective, budget)
    if mode in ("improve", "full"):
        document["options"]["improve"] = True
        document["options"]["stop_when_stalled"] = mode == "improve"
    text = json.dumps(document)
    runs, cpu = 0, 0.0
    while True:
        started = time.process_time()
        result = core.solve_json_str(text)
        cpu += time.process_time() - started
        runs += 1
        if result["timeout"] or cpu >= repeat_cpu:
            break
    costs = route_costs(document, [r["path"] for r in result["routes"]])
    stats = result["statistics"]
    return {"max_cost": max(costs, default=0.0), "sum_cost": sum(costs), "cpu": cpu / runs,
            "runs": runs, "first": result["anytime"][0]["time"] if result["anytime"] else None,
            "last": stats["last_update_time"], "n_generated": stats["n_generated"],
            "n_expanded": stats["n_expanded"], "status": result["status"], "module": core.__file__,
            "timeout": result["timeout"], "anytime": result["anytime"]}


def peer_routes(count, agents, scaled_distance, objective, budget):
    """Routes of the peer solver from vertex 0 with `agents` vehicles, `scaled_distance(i, j)`
    the cost in whole thousandths, and the processor seconds it took; no routes when it found
    none."""
    from ortools.constraint_solver import pywrapcp, routing_enums_pb2
    manager = pywrapcp.RoutingIndexManager(count, agents, 0)
    routing = pywrapcp.RoutingModel(manager)
    transit = routing.RegisterTransitCallback(
        lambda i, j: scaled_distance(manager.IndexToNode(i), manager.IndexToNode(j)))
    routing.SetArcCostEvaluatorOfAllVehicles(transit)
    if objective == "min_max":
        routing.AddDimension(transit, 0, 10**12, True, "distance")
        routing.GetDimensionOrDie("distance").SetGlobalSpanCostCoefficient(100)
    parameters = pywrapcp.DefaultRoutingSearchParameters()
    parameters.first_solution_strategy = routing_enums_pb2.FirstSolutionStrategy.PATH_CHEAPEST_ARC
    parameters.local_search_metaheuristic = (
        routing_enums_pb2.LocalSearchMetaheuristic.GUIDED_LOCAL_SEARCH)
    parameters.time_limit.FromMilliseconds(int(budget * 1000))
    started = time.process_time()
    solution = routing.SolveWithParameters(parameters)
    cpu = time.process_time() - started
    return solution_paths(manager, routing, solution), cpu


def solution_paths(manager, routing, solution):
    """Every vehicle's route in the peer's solution, as vertices; none without a solution."""
    routes = []
    for vehicle in range(routing.vehicles() if solution else 0):
        index, path = routing.Start(vehicle), []
        while not routing.IsEnd(index):
            path.append(manager.IndexToNode(index))
            index = solution.Value(routing.NextVar(index))
        routes.append(path + [manager.IndexToNode(index)])
    return routes


def child_peer(name, agents, objective, budget):
    document = instance(name, agents, objective, budget)
    matrix = document["costs"]["salesman"]
    scaled = [[int(round(1000 * d)) for d in row] for row in matrix]
    routes, cpu = peer_routes(len(matrix), agents, lambda i, j: scaled[i][j], objective, budget)
    costs = route_costs(document, routes)
    return {"max_cost": max(costs, default=math.nan), "sum_cost": sum(costs) if costs else math.nan,
            "cpu": cpu, "status": "success" if routes else "failed"}


def run_child(kind, name, agents, objective, budget, repeat_cpu=0.0, module_dir=None,
              mode="plain"):
    """Runs one solve in a fresh interpreter; adds its peak resident memory in MiB. With
    module_dir, the core module found there is the one measured."""
    command = [sys.executable, __file__, "--child", kind, name, str(agents), objective, str(budget),
               str(repeat_cpu), mode]
    env = dict(os.environ)
    if module_dir:
        env["PYTHONPATH"] = os.pathsep.join(filter(None, [str(module_dir), env.get("PYTHONPATH")]))
    done = subprocess.run(command, capture_output=True, text=True, check=True, env=env)
    return json.loads(done.stdout.strip().splitlines()[-1])


def child_main(kind, name, agents, objective, budget, repeat_cpu, mode):
    if kind == "ours":
        result = child_ours(name, int(agents), objective, float(budget), float(repeat_cpu), mode)
    else:
        result = child_peer(name, int(agents), objective, float(budget))
    result["peak_mib"] = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024.0
    print(json.dumps(result))


def quality(budget, peer, sets, log, short_budget=SHORT_BUDGET):
    """Each instance and objective solved with the improvement stage on, at the budget and (for
    min-max, whose best-known values are published) at the short budget; the peer at the budget."""
    best_known = json.loads((DATA / "mtsplib-bks.json").read_text())
    rows = []
    for name, m in sets:
        for objective in ("min_max", "min_sum"):
            ours = run_child("ours", name, m, objective, budget, mode="improve")
            row = {"instance": f"{name}-m{m}", "objective": objective, "ours": ours}
            score = "max_cost" if objective == "min_max" else "sum_cost"
            row["value"] = ours[score]
            known = best_known.get(f"{name}-m{m}", {}).get("minmax") if objective == "min_max" else None
            row["gap_pct"] = 100 * (ours[score] / known - 1) if known else None
            if not ours["timeout"]:
                # Ended by the stall rule: what the rest of the budget would have given.
                row["full"] = run_child("ours", name, m, objective, budget, mode="full")
                row["full_value"] = row["full"][score]
            if known and short_budget:
                row["short"] = run_child("ours", name, m, objective, short_budget, mode="improve")
                row["short_gap_pct"] = 100 * (row["short"][score] / known - 1)
            if peer:
                row["peer"] = run_child("peer", name, m, objective, budget)
                row["peer_value"] = row["peer"][score]
                row["ratio"] = ours[score] / row["peer_value"]
                if known:
                    row["peer_gap_pct"] = 100 * (row["peer_value"] / known - 1)
            rows.append(row)
            log(quality_line(row))
    return rows


def memory(budgets, log):
    """Peak memory of one large improving solve at growing budgets: it should not grow."""
    rows = []
    for budget in budgets:
        ours = run_child("ours", "kroA200", 3, "min_max", budget, mode="improve")
        rows.append({"run": "kroA200-m3 min_max, improvement on", "budget": budget,
                     "cpu": ours["cpu"], "peak_mib": ours["peak_mib"], "max_cost": ours["max_cost"]})
        log(f"kroA200-m3 min_max improving, {budget:.0f} s: peak {ours['peak_mib']:.0f} MiB, "
            f"cpu {ours['cpu']:.2f} s, longest {ours['max_cost']:.2f}")
    return rows


def fmt(value, digits=2):
    return "" if value is None else f"{value:.{digits}f}"


def quality_line(row):
    ours = row["ours"]
    line = (f"{row['instance']:12} {row['objective']:8} {row['value']:10.2f} gap {fmt(row['gap_pct']):>6}% "
            f"1s gap {fmt(row.get('short_gap_pct')):>6}% last {fmt(ours['last'], 3):>7}s "
            f"cpu {ours['cpu']:.2f}s peak {ours['peak_mib']:.0f} MiB")
    if "peer" in row:
        line += f" | peer {row['peer_value']:10.2f} ratio {row['ratio']:.3f}"
    return line


def rate_row(run, budget, solves):
    """The solve with the median rate of generated labels, as a row."""
    rates = sorted(solves, key=lambda solve: solve["n_generated"] / max(solve["cpu"], 1e-9))
    solve = rates[len(rates) // 2]
    cpu = max(solve["cpu"], 1e-9)
    return {"run": run, "budget": budget, "cpu": solve["cpu"], "runs": solve["runs"],
            "generated_per_s": solve["n_generated"] / cpu, "expanded_per_s": solve["n_expanded"] / cpu,
            "first": solve["first"], "peak_mib": solve["peak_mib"]}


def throughput(budget, memory_budget, repeat_cpu, rounds, baseline_dir, log):
    """Each run is solved `rounds` times, alternating with the baseline module when one is given,
    so that both see the same machine; the median of each is reported."""
    rows = []
    for name, m, objective in THROUGHPUT_RUNS:
        run = f"{name}-m{m} {objective}"
        ours, before = [], []
        for _ in range(rounds):
            if baseline_dir:
                before.append(run_child("ours", name, m, objective, budget, repeat_cpu, baseline_dir))
                if Path(before[-1]["module"]).parent.resolve() != Path(baseline_dir).resolve():
                    raise SystemExit(f"the baseline run loaded {before[-1]['module']}")
            ours.append(run_child("ours", name, m, objective, budget, repeat_cpu))
        row = rate_row(run, budget, ours)
        row["rounds"] = rounds
        if before:
            old = rate_row(run, budget, before)
            for key in ("generated_per_s", "expanded_per_s", "first", "peak_mib"):
                row[f"before_{key}"] = old[key]
        rows.append(row)
        line = (f"{run:22} {row['generated_per_s']:12.0f} generated/s {row['expanded_per_s']:12.0f} "
                f"expanded/s first {fmt(row['first'], 4)}s peak {row['peak_mib']:.0f} MiB "
                f"(median of {rounds}; cpu {row['cpu']:.3f}s, mean of {row['runs']} runs)")
        if before:
            line += (f" | before {row['before_generated_per_s']:.0f}/s, "
                     f"x{row['generated_per_s'] / row['before_generated_per_s']:.2f}")
        log(line)
    if memory_budget:
        ours = run_child("ours", "eil76", 3, "min_max", memory_budget)
        rows.append(rate_row("eil76-m3 min_max", memory_budget, [ours]))
        log(f"eil76-m3 min_max, {memory_budget:.0f} s: peak {ours['peak_mib']:.0f} MiB, "
            f"{ours['n_generated']} labels")
    return rows


def machine():
    cpu = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo")
                if line.startswith("model name")), platform.processor())
    commit = os.environ.get("PLOXA_BENCH_COMMIT") or subprocess.run(
        ["git", "rev-parse", "--short", "HEAD"], capture_output=True, text=True, cwd=HERE).stdout.strip()
    return {"date": datetime.date.today().isoformat(), "cpu": cpu, "cores": os.cpu_count(),
            "python": platform.python_version(), "commit": commit}


def write_results(out_dir, info, budget, quality_rows, throughput_rows, memory_rows):
    out_dir.mkdir(parents=True, exist_ok=True)
    with open(out_dir / "quality.csv", "w", newline="") as f:
        writer = csv.writer(f)
        writer.writerow(["instance", "objective", "ours", "gap_pct", "short_gap_pct", "last_s",
                         "cpu_s", "timeout", "without_stall_rule", "peak_mib", "peer", "peer_gap_pct",
                         "ratio"])
        for r in quality_rows:
            writer.writerow([r["instance"], r["objective"], r["value"], r["gap_pct"],
                             r.get("short_gap_pct"), r["ours"]["last"], r["ours"]["cpu"],
                             r["ours"]["timeout"], r.get("full_value"), r["ours"]["peak_mib"],
                             r.get("peer_value"),
                             r.get("peer_gap_pct"), r.get("ratio")])
    with open(out_dir / "throughput.csv", "w", newline="") as f:
        writer = csv.DictWriter(f, fieldnames=list(throughput_rows[0]) if throughput_rows else ["run"])
        writer.writeheader()
        writer.writerows(throughput_rows)
    (out_dir / "results.json").write_text(json.dumps(
        {"machine": info, "budget": budget, "quality": quality_rows, "throughput": throughput_rows,
         "memory": memory_rows}, indent=1) + "\n")
    (out_dir / "latest.md").write_text(markdown(info, budget, quality_rows, throughput_rows, memory_rows))


def baseline_throughput():
    """Throughput rows of the recorded baseline, keyed by (run, budget), and its commit."""
    path = HERE / "results" / "baseline" / "results.json"
    if not path.exists():
        return {}, None
    recorded = json.loads(path.read_text())
    rows = {(r["run"], r["budget"]): r for r in recorded["throughput"]}
    return rows, recorded["machine"]["commit"]


def throughput_markdown(info, rows):
    recorded, recorded_commit = baseline_throughput()
    measured = any("before_generated_per_s" in r for r in rows)
    source = (f"commit {info.get('baseline_commit')}, built from source and measured in this run, "
              "each solve alternating with the current one" if measured else
              f"commit {recorded_commit or '-'} as recorded earlier on this machine by this script")
    recorded_only = [r["run"] + f" ({r['budget']:.0f} s)" for r in rows
                     if measured and "before_generated_per_s" not in r]
    if recorded_only:
        source += (f"; for {', '.join(recorded_only)}, solved once to see the memory, the 'before' "
                   f"figures are those of commit {recorded_commit or '-'} recorded earlier on this "
                   "machine by this script")
    lines = ["## Throughput", "",
             "Labels per processor second of the whole solve call (parsing and set-up included), the "
             "median of the rounds. A solve that ends on its own before the budget is run again until "
             "its runs total the repeat time, and its time is their mean; 'runs' counts them. "
             f"'Before' is the first complete version: {source}.", "",
             "| run | budget s | runs | labels generated / CPU s | before | speed-up | expanded / CPU s "
             "| before | first solution s | before | peak MiB | before |",
             "|---|---|---|---|---|---|---|---|---|---|---|---|"]
    for r in rows:
        old = recorded.get((r["run"], r["budget"]), {})
        before = {key: r.get(f"before_{key}", old.get(key))
                  for key in ("generated_per_s", "expanded_per_s", "first", "peak_mib")}
        ratio = r["generated_per_s"] / before["generated_per_s"] if before["generated_per_s"] else None
        lines.append(f"| {r['run']} | {r['budget']:.0f} | {r.get('runs', 1)} | {r['generated_per_s']:.0f} | "
                     f"{fmt(before['generated_per_s'], 0)} | {fmt(ratio)} | {r['expanded_per_s']:.0f} | "
                     f"{fmt(before['expanded_per_s'], 0)} | {fmt(r['first'], 4)} | {fmt(before['first'], 4)} | "
                     f"{r['peak_mib']:.0f} | {fmt(before['peak_mib'], 0)} |")
    lines.append("")
    return lines


def targets_markdown(rows, budget):
    """How the quality rows stand against the targets of the improvement stage."""
    minmax = [r for r in rows if r["objective"] == "min_max" and r["gap_pct"] is not None]
    lines = ["### Targets", ""]
    if minmax:
        gaps = [r["gap_pct"] for r in minmax]
        worst = max(minmax, key=lambda r: r["gap_pct"])
        lines.append(f"- Min-max gap to the best-known value at the budget: mean {sum(gaps) / len(gaps):.2f} %, "
                     f"largest {worst['gap_pct']:.2f} % ({worst['instance']}); {len(minmax)} instances.")
        short = [r["short_gap_pct"] for r in minmax if r.get("short_gap_pct") is not None]
        if short:
            lines.append(f"- Min-max gap after {SHORT_BUDGET:.0f} s: mean {sum(short) / len(short):.2f} %, "
                         f"largest {max(short):.2f} %.")
    for objective in ("min_max", "min_sum"):
        compared = [r for r in rows if r["objective"] == objective and "ratio" in r]
        if compared:
            # Equal within rounding of the peer's scaled integer costs counts as a tie.
            wins = sum(r["ratio"] <= 1 + 1e-6 for r in compared)
            worst = max(compared, key=lambda r: r["ratio"])
            lines.append(f"- {objective}: at least as good as the peer on {wins} of {len(compared)}; "
                         f"largest ours / peer {worst['ratio']:.4f} ({worst['instance']}).")
    stalled = [r for r in rows if "full_value" in r]
    if stalled:
        worst = max(stalled, key=lambda r: r["value"] / r["full_value"])
        better = sum(r["full_value"] < r["value"] - 1e-6 for r in stalled)
        lines.append(f"- Stall rule: {len(stalled)} solves ended by it; running them on to the budget "
                     f"found a better value for {better}; largest ours / without the rule "
                     f"{worst['value'] / worst['full_value']:.4f} ({worst['instance']} {worst['objective']}).")
    slowest = max(rows, key=lambda r: r["ours"]["cpu"])
    lines.append(f"- Slowest solve call: {slowest['ours']['cpu']:.2f} processor seconds for a budget of "
                 f"{budget:g} ({slowest['instance']} {slowest['objective']}, parsing and set-up included).")
    lines.append("")
    return lines


def quality_markdown(title, rows):
    lines = [f"## {title}", "",
             "Improvement stage on, seed 0. 'Last' is the processor time of the last improvement; "
             "'cpu' the whole solve call's processor time; 'ended' says whether the budget (rather "
             "than the stall rule or the search itself) ended the solve.", "",
             "| instance | objective | ours | gap to best known % | gap after 1 s % | last s | cpu s "
             "| ended by budget | without the stall rule | peak MiB | peer | peer gap % | ours / peer |",
             "|---|---|---|---|---|---|---|---|---|---|---|---|---|"]
    for r in rows:
        ours = r["ours"]
        lines.append(f"| {r['instance']} | {r['objective']} | {r['value']:.2f} | {fmt(r['gap_pct'])} | "
                     f"{fmt(r.get('short_gap_pct'))} | {fmt(ours['last'], 3)} | {ours['cpu']:.2f} | "
                     f"{'yes' if ours['timeout'] else 'no'} | {fmt(r.get('full_value'))} | {ours['peak_mib']:.0f} | "
                     f"{fmt(r.get('peer_value'))} | {fmt(r.get('peer_gap_pct'))} | {fmt(r.get('ratio'), 4)} |")
    lines.append("")
    return lines


def markdown(info, budget, quality_rows, throughput_rows, memory_rows):
    lines = [f"# Benchmark results ({info['date']})", "",
             f"Machine: {info['cpu']}, {info['cores']} cores; Python {info['python']}; commit {info['commit']}.",
             f"Budget per solve: {budget} processor seconds (the peer gets the same time limit).", ""]
    if throughput_rows:
        lines += throughput_markdown(info, throughput_rows)
    standard = [r for r in quality_rows if r["instance"].split("-")[0] not in LARGE_NAMES]
    large = [r for r in quality_rows if r["instance"].split("-")[0] in LARGE_NAMES]
    if standard:
        lines += quality_markdown("Quality: the standard min-max set", standard) + targets_markdown(standard, budget)
    if large:
        lines += quality_markdown("Quality: larger instances", large) + targets_markdown(large, budget)
    if memory_rows:
        lines += ["## Memory of long improving solves", "",
                  "| run | budget s | cpu s | peak MiB | longest route |", "|---|---|---|---|---|"]
        lines += [f"| {r['run']} | {r['budget']:.0f} | {r['cpu']:.2f} | {r['peak_mib']:.0f} | "
                  f"{r['max_cost']:.2f} |" for r in memory_rows]
        lines.append("")
    lines += ["The anytime curve of every solve (processor time, longest, total) is in results.json.", ""]
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--budget", type=float, default=10.0, help="processor seconds per solve")
    parser.add_argument("--peer", action="store_true", help="also run the peer solver (needs ortools)")
    parser.add_argument("--memory-budget", type=float, default=60.0,
                        help="budget of the long solve measured for peak memory (0 skips it)")
    parser.add_argument("--repeat-cpu", type=float, default=2.0,
                        help="a throughput solve that ends on its own sooner is repeated until its "
                             "runs total this many processor seconds; its time is their mean")
    parser.add_argument("--rounds", type=int, default=3,
                        help="solves per throughput run (each alternating with the baseline)")
    parser.add_argument("--baseline-module", type=Path,
                        help="folder holding an older build of the core module, measured "
                             "alternately with the current one")
    parser.add_argument("--baseline-commit", default=BASELINE_COMMIT,
                        help="commit the baseline module was built from")
    parser.add_argument("--only", choices=["quality", "throughput", "memory"], help="run one part only")
    parser.add_argument("--sets", type=int, default=len(SETS), help="number of instances (first N)")
    parser.add_argument("--large-sets", type=int, default=len(LARGE_SETS),
                        help="number of larger instances (first N)")
    parser.add_argument("--output", type=Path, default=HERE / "results", help="results folder")
    args = parser.parse_args()
    info = machine()
    if args.baseline_module:
        info["baseline_commit"] = args.baseline_commit
    log = lambda line: print(line, flush=True)  # noqa: E731
    log(f"{info['date']} {info['cpu']} ({info['cores']} cores), commit {info['commit']}")
    throughput_rows = [] if args.only in ("quality", "memory") else throughput(
        args.budget, args.memory_budget, args.repeat_cpu, args.rounds, args.baseline_module, log)
    quality_rows = [] if args.only in ("throughput", "memory") else quality(
        args.budget, args.peer, SETS[:args.sets] + LARGE_SETS[:args.large_sets], log)
    memory_rows = [] if args.only in ("throughput", "quality") or not args.memory_budget else memory(
        [args.budget, args.memory_budget], log)
    write_results(args.output, info, args.budget, quality_rows, throughput_rows, memory_rows)
    log(f"results written to {args.output}")


if __name__ == "__main__":
    if len(sys.argv) == 9 and sys.argv[1] == "--child":
        child_main(*sys.argv[2:])
    else:
        main()
