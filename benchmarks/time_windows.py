"""Time windows: the Solomon and Homberger sets against PyVRP, billed by travel.

Each instance is converted as `python -m ploxa convert` does it: its vehicles (25 for
Solomon's 100 customers, 100 for Homberger's 400) as agents, capacities enforced, min-sum,
service times as the nodes' "service", unrounded Euclidean distances and "route_cost":
"travel" (the field's objective here: waits and services bind but are not billed). Ploxa gets
the budget in processor seconds, PyVRP the same number of wall-clock seconds on the otherwise
idle machine, over the same instance in thousandths (distances, times and services rounded to
0.001). Every answer, PyVRP's included, is checked by the independent route checker of the
tests, and every value is the checker's travel. Results go to results/time-windows-<set>.md
and .json.

    .venv/bin/python benchmarks/time_windows.py [--set solomon|homberger200|homberger400]
                                                [--budget S] [--fleet best-known]
                                                [--only C101,R201] [--no-peer | --peer-only]
                                                [--search anneal|population|auto] [--output P]

`--fleet best-known` gives each instance as many vehicles as its best-known solution uses
(the set's fleet-of-best-known.txt), both solvers alike; results then go to
results/time-windows-<set>-tight.md and .json.

Rows of earlier runs for other instances or the other solver are kept, so the two solvers may
run at once, one per core.

`--shifts` instead solves RC208 twice, departing at 0 and with shifts over its horizon, and
compares the routes' waiting (end minus start, travel and service) and travel:
results/time-windows-shifts.md.
"""

import argparse
import fcntl
import json
import math
import statistics
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
DATA = HERE.parent.parent / "shared" / "data" / "vrptw"
sys.path[:0] = [str(HERE), str(HERE.parent / "tests" / "python")]

from route_check import route_problems  # noqa: E402

SETS = {"solomon": ("Solomon_100", 10.0), "homberger200": ("Homberger_200", 30.0),
        "homberger400": ("Homberger_400", 60.0)}
FLEETS = "fleet-of-best-known.txt"


def best_known_fleets(folder):
    lines = (DATA / folder / FLEETS).read_text().split("\n")
    return {name.upper(): int(count) for name, count in (line.split() for line in lines if line.strip())}
SCALE = 1000


def instance(path, budget, search="anneal"):
    from ploxa.formats import file_to_instance
    document = file_to_instance(path, objective="min_sum", time_limit=budget)
    document["options"].update(improve=True, seed=1, search=search)
    return document


def travel_of(document, paths):
    points = [(node["x"], node["y"]) for node in document["nodes"]]
    return [sum(math.dist(points[a], points[b]) for a, b in zip(path, path[1:])) for path in paths]


def as_result(document, paths, cpu):
    """A result dictionary for routes found elsewhere, each costing its travel."""
    costs = travel_of(document, paths)
    routes = [{"agent_id": agent["id"], "path": path, "cost": cost}
              for agent, path, cost in zip(document["agents"], paths, costs)]
    return {"status": "success" if paths else "failed", "routes": routes,
            "statistics": {"sum_cost": sum(costs), "solve_time": cpu, "fixed_cost": 0}}


def ours(document):
    import ploxa
    started = time.process_time()
    result = ploxa.solve_json_str(json.dumps(document))
    result["statistics"]["solve_time"] = time.process_time() - started
    return result


def pyvrp_model(document, client_extras=lambda node: {}, speed=1.0, vehicle_extras=None):
    """The instance as a PyVRP model in thousandths, its fleet the agent count; durations are
    the distances divided by `speed`, `vehicle_extras` more arguments of the vehicle type. With
    it, the vertex of the depot and those of the clients in PyVRP's order."""
    import pyvrp
    nodes = document["nodes"]
    windows = {item["node"]: (item["start"], item["end"])
               for constraint in document["constraints"] if constraint["kind"] == "timewindow"
               for item in constraint["items"]}
    agents = document["agents"]
    model = pyvrp.Model()
    locations = [model.add_location(node["x"], node["y"]) for node in nodes]
    depot_id = agents[0]["start_node"]
    ids = [node["id"] for node in nodes]
    early, late = (round(SCALE * t) for t in windows.get(depot_id, (0, 10**9)))
    depot = model.add_depot(locations[ids.index(depot_id)], tw_early=early, tw_late=late)
    model.add_vehicle_type(num_available=len(agents), capacity=int(agents[0]["capacity"]),
                           start_depot=depot, end_depot=depot, tw_early=early, tw_late=late,
                           **(vehicle_extras or {}))
    for node, location in zip(nodes, locations):
        if node["id"] == depot_id:
            continue
        opens, closes = windows.get(node["id"], (0, 10**9))
        model.add_client(location, delivery=int(node.get("demand", 0)),
                         service_duration=round(SCALE * node.get("service", 0)),
                         tw_early=round(SCALE * opens), tw_late=round(SCALE * closes),
                         **client_extras(node))
    for a, frm in zip(nodes, locations):
        for b, to in zip(nodes, locations):
            distance = SCALE * math.dist((a["x"], a["y"]), (b["x"], b["y"]))
            # 0 from a node to itself
            model.add_edge(frm, to, distance=round(distance), duration=round(distance / speed))
    depot_vertex = ids.index(depot_id)
    # Clients are numbered from 0 in the order they were added: node order without the depot.
    clients = [v for v, node in enumerate(nodes) if node["id"] != depot_id]
    return model, depot_vertex, clients


def pyvrp_routes(document, budget, client_extras=lambda node: {}, **model_options):
    """PyVRP's routes over the same instance (see pyvrp_model) and its processor time."""
    from pyvrp.stop import MaxRuntime
    model, depot_vertex, clients = pyvrp_model(document, client_extras, **model_options)
    started = time.process_time()
    result = model.solve(stop=MaxRuntime(budget), seed=1, display=False)
    cpu = time.process_time() - started
    paths = [[depot_vertex, *(clients[stop.idx] for stop in route if stop.is_client()),
              depot_vertex] for route in result.best.routes()]
    paths += [[depot_vertex, depot_vertex]] * (len(document["agents"]) - len(paths))
    return paths, cpu


def run(path, budget, solvers, log, fleet=None, search="anneal"):
    document = instance(path, budget, search)
    if fleet is not None:
        document["agents"] = document["agents"][:fleet]
    answers = []
    if "Ploxa" in solvers:
        answers.append(("Ploxa", lambda: ours(document)))
    if "PyVRP" in solvers:
        answers.append(("PyVRP", lambda: as_result(document, *pyvrp_routes(document, budget))))
    rows = []
    for solver, answer in answers:
        result = answer()
        problems = route_problems(document, result) if result["status"] == "success" else []
        stats = result["statistics"]
        row = {"instance": path.stem, "solver": solver, "budget": budget,
               "status": result["status"], "value": stats.get("sum_cost", math.nan),
               "routes": sum(len(r["path"]) > 2 for r in result["routes"]),
               "cpu": stats["solve_time"], "feasible": result["status"] == "success" and not problems,
               "problems": problems[:3]}
        rows.append(row)
        print(json.dumps(row), file=log, flush=True)
    return rows


def summary(rows, name, budget):
    by = {}
    for row in rows:
        by.setdefault(row["instance"], {})[row["solver"]] = row
    lines = [f"# Time windows: {name}, {budget:g} s each, travel billed", "",
             "| instance | Ploxa | routes | PyVRP | routes | gap % |", "|---|---|---|---|---|---|"]
    gaps = []
    for instance_name, answers in sorted(by.items()):
        ours_row, peer = answers.get("Ploxa"), answers.get("PyVRP")
        gap = ""
        if ours_row and peer and ours_row["feasible"] and peer["feasible"]:
            value = 100 * (ours_row["value"] / peer["value"] - 1)
            gaps.append(value)
            gap = f"{value:.2f}"

        def cell(row):
            if row is None:
                return "-", "-"
            if not row["feasible"]:
                return row["status"] if row["status"] != "success" else "infeasible", "-"
            return f"{row['value']:.2f}", str(row["routes"])
        lines.append(f"| {instance_name} | {' | '.join(cell(ours_row))} | "
                     f"{' | '.join(cell(peer))} | {gap} |")
    feasible = sum(1 for a in by.values() if a.get("Ploxa", {}).get("feasible"))
    peer_feasible = sum(1 for a in by.values() if a.get("PyVRP", {}).get("feasible"))
    missed = sorted(name for name, a in by.items() if a.get("PyVRP", {}).get("feasible")
                    and not a.get("Ploxa", {}).get("feasible"))
    lines += ["", f"Ploxa feasible on {feasible} of {len(by)}, PyVRP on {peer_feasible}."]
    if missed:
        lines.append(f"PyVRP plans where Ploxa does not: {', '.join(missed)}.")
    if gaps:
        lines.append(f"Gap to PyVRP at the same budget: mean {statistics.mean(gaps):.2f} %, "
                     f"largest {max(gaps):.2f} %, over {len(gaps)} instances.")
    return "\n".join(lines) + "\n"


def waiting(document, result, from_zero=False):
    """The routes' waiting in total; `from_zero`: as if every agent left at time 0, which
    ends each route at the same time."""
    service = {node["id"]: node.get("service", 0) for node in document["nodes"]}
    return sum(route["end_time"] - (0 if from_zero else route["start_time"]) - route["travel"]
               - sum(service[stop["node"]] for stop in route["schedule"])
               for route in result["routes"] if len(route["path"]) > 2)


def shifts(budget):
    path = DATA / "Solomon_100" / "RC208.txt"
    rows = []
    for label in ("departure at 0", "shifts over the horizon"):
        document = instance(path, budget)
        if label.startswith("shifts"):
            horizon = next(item["end"] for item in document["constraints"][1]["items"]
                           if item["node"] == document["agents"][0]["start_node"])
            for agent in document["agents"]:
                agent.update(shift_start=0, shift_end=horizon)
        result = ours(document)
        assert route_problems(document, result) == []
        rows.append((label, result["statistics"]["sum_cost"], waiting(document, result)))
    rows.append(("the shifts' routes, departing at 0", rows[1][1],
                 waiting(document, result, from_zero=True)))
    lines = [f"# Shifts on RC208, {budget:g} s each, travel billed", "",
             "| departure | travel | waiting |", "|---|---|---|"]
    lines += [f"| {label} | {travel:.2f} | {wait:.2f} |" for label, travel, wait in rows]
    lines += ["", f"Waiting falls by {100 * (1 - rows[1][2] / rows[0][2]):.1f} %, travel changes "
              f"by {100 * (rows[1][1] / rows[0][1] - 1):+.2f} % (two solves; with shifts only the "
              "construction and the improvement stage run).",
              f"On the same routes, waiting falls by {100 * (1 - rows[1][2] / rows[2][2]):.1f} % "
              "and travel is unchanged."]
    text = "\n".join(lines) + "\n"
    (HERE / "results" / "time-windows-shifts.md").write_text(text)
    print(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--set", choices=sorted(SETS), default="solomon")
    parser.add_argument("--budget", type=float, default=None)
    parser.add_argument("--only", default="", help="comma-separated instance names")
    parser.add_argument("--no-peer", action="store_true", help="run Ploxa alone")
    parser.add_argument("--peer-only", action="store_true", help="run PyVRP alone")
    parser.add_argument("--shifts", action="store_true")
    parser.add_argument("--fleet", choices=["best-known"], default=None)
    parser.add_argument("--search", default="auto", choices=["anneal", "population", "auto"],
                        help="how Ploxa's improvement stage searches")
    parser.add_argument("--output", type=Path, default=None,
                        help="where the results go (without suffix)")
    args = parser.parse_args()
    if args.shifts:
        shifts(args.budget or 10.0)
        return
    folder, default_budget = SETS[args.set]
    budget = args.budget or default_budget
    wanted = {name.upper() for name in args.only.split(",") if name}
    paths = sorted(p for p in (DATA / folder).glob("*.txt")
                   if p.name != FLEETS and (not wanted or p.stem.upper() in wanted))
    fleets = best_known_fleets(folder) if args.fleet else {}
    solvers = {"Ploxa", "PyVRP"} - ({"PyVRP"} if args.no_peer else set()) - (
        {"Ploxa"} if args.peer_only else set())
    out = args.output or HERE / "results" / f"time-windows-{args.set}{'-tight' if args.fleet else ''}"
    rows = []
    log_name = out.with_suffix(".log" if len(solvers) == 2 else f".{min(solvers).lower()}.log")
    # Appended, so that runs apart (one per core) keep each other's lines.
    with open(log_name, "a") as log:
        for path in paths:
            rows += run(path, budget, solvers, log, fleets.get(path.stem.upper()), args.search)
    rows = merged(out.with_suffix(".json"), rows)
    name = folder + (", the fleet of the best-known solution" if args.fleet else "")
    out.with_suffix(".md").write_text(summary(rows, name, budget))
    print(summary(rows, name, budget))


def solomon_files(only):
    """The Solomon 100 instance files, or those named in `only` (comma-separated)."""
    wanted = {name.upper() for name in only.split(",") if name}
    return sorted(p for p in (DATA / "Solomon_100").glob("*.txt")
                  if p.name != FLEETS and (not wanted or p.stem.upper() in wanted))


def peer_arguments(description, budget, more=None):
    """The arguments of a comparison with PyVRP: --budget, --only (comma-separated instance
    names), --solvers, and those `more(parser)` adds."""
    parser = argparse.ArgumentParser(description=description)
    parser.add_argument("--budget", type=float, default=budget)
    parser.add_argument("--only", default="", help="comma-separated instance names")
    parser.add_argument("--solvers", default="Ploxa,PyVRP")
    if more is not None:
        more(parser)
    return parser.parse_args()


def by_instance(rows):
    """The rows as {instance: {solver: row}}."""
    by = {}
    for row in rows:
        by.setdefault(row["instance"], {})[row["solver"]] = row
    return by


def gap_lines(gaps):
    """The closing lines of a summary: the mean and the worst gap, if any."""
    if not gaps:
        return []
    return ["", f"Mean gap {statistics.mean(gaps):+.2f} % over {len(gaps)} instances, "
                f"worst {max(gaps):+.2f} %."]


def run_and_summarise(paths, budget, solvers, out, run, summary):
    """`run(path, budget, solvers, log)` over the paths, logged to out.<solvers>.log; the rows
    then join those of out.json, and `summary(rows, budget)` goes to out.md."""
    rows = []
    with open(out.with_suffix(f".{'-'.join(solvers).lower()}.log"), "a") as log:
        for path in paths:
            rows += run(path, budget, solvers, log)
    rows = merged(out.with_suffix(".json"), rows)
    out.with_suffix(".md").write_text(summary(rows, budget))
    print(summary(rows, budget))


def merged(json_path, rows):
    """The rows run now, and those of the file for other instances or solvers (so that Ploxa
    and PyVRP may run apart, each on its own core); the file then holds them all."""
    with open(json_path.with_suffix(".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        new = {(row["instance"], row["solver"]) for row in rows}
        kept = json.loads(json_path.read_text()) if json_path.exists() else []
        rows = [row for row in kept if (row["instance"], row["solver"]) not in new] + rows
        rows.sort(key=lambda row: (row["instance"], row["solver"]))
        json_path.write_text(json.dumps(rows, indent=1) + "\n")
    json_path.with_suffix(".lock").unlink(missing_ok=True)
    return rows


if __name__ == "__main__":
    main()
