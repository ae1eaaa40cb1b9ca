"""Distances apart from durations: Solomon's 100-customer set against PyVRP, priced by both.

Each instance is converted as in time_windows.py, then given travel times apart from its
distances: "durations" is the Euclidean metric at speed 0.8 (a duration is the distance
divided by 0.8), every vehicle pays "unit_duration_cost": 0.1 beside its distance, and may be
out at most "max_duration", the depot's horizon. A route so costs its distance plus a tenth of
its duration (waits and services included, from the latest departure that ends it earliest).
PyVRP gets the same in thousandths, its integer unit costs 10 and 1 (ten times ours).

Every answer is checked by the independent route checker of the tests, whose cost is the
value; Ploxa's routes are also evaluated by PyVRP's own Solution on PyVRP's data, and the two
evaluations must agree within the rounding to thousandths. Ploxa gets the budget in
processor seconds, PyVRP in wall-clock seconds. Results go to results/durations-solomon.md
and .json; rows of earlier runs for other instances or the other solver are kept.

    .venv/bin/python benchmarks/durations.py [--budget S] [--only C101,R201]
                                             [--solvers Ploxa,PyVRP]
"""

import json
import math
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path[:0] = [str(HERE), str(HERE.parent / "tests" / "python")]

from route_check import route_problems  # noqa: E402
from time_windows import (SCALE, gap_lines, instance, ours, peer_arguments,  # noqa: E402
                          pyvrp_model, pyvrp_routes, run_and_summarise, solomon_files)

SPEED = 0.8
UNIT_DURATION = 0.1
OUT = HERE / "results" / "durations-solomon"


def priced(document):
    """The instance with durations apart from its distances, priced and limited by both."""
    depot = document["agents"][0]["start_node"]
    horizon = next(item["end"] - item["start"] for constraint in document["constraints"]
                   if constraint["kind"] == "timewindow" for item in constraint["items"]
                   if item["node"] == depot)
    kind = next(iter(document["metrics"].values()))["kind"]
    document["durations"] = {t: {"kind": kind, "speed": SPEED} for t in document["metrics"]}
    for agent in document["agents"]:
        agent.update(unit_duration_cost=UNIT_DURATION, max_duration=horizon)
    del document["options"]["route_cost"]
    return document, horizon


def checked_cost(document, result):
    """The route checker's problems and its total cost of the result's routes."""
    costs = []
    problems = route_problems(document, result, costs)
    return problems, sum(costs)


def pyvrp_cost(document, horizon, paths):
    """PyVRP's own evaluation of routes (vertex paths), in our units, and its feasibility."""
    import pyvrp
    model, _, clients = pyvrp_model(document, **peer_options(horizon))
    where = {v: k for k, v in enumerate(clients)}  # clients numbered from 0, as in its routes
    solution = pyvrp.Solution(model.data(), [[where[v] for v in path[1:-1]]
                                             for path in paths if len(path) > 2])
    cost = solution.distance_cost() + solution.duration_cost()
    return cost / (10 * SCALE), solution.is_feasible()


def peer_options(horizon):
    return {"speed": SPEED, "vehicle_extras": {"unit_distance_cost": 10, "unit_duration_cost": 1,
                                               "shift_duration": round(SCALE * horizon)}}


def run(path, budget, solvers, log):
    document, horizon = priced(instance(path, budget, "auto"))
    rows = []
    for solver in solvers:
        if solver == "Ploxa":
            result = ours(document)
        else:
            paths, cpu = pyvrp_routes(document, budget, **peer_options(horizon))
            result = {"status": "success", "routes": [
                {"agent_id": a["id"], "path": p} for a, p in zip(document["agents"], paths)],
                "statistics": {"solve_time": cpu, "fixed_cost": 0}}
        ok = result["status"] == "success"
        problems, value = checked_cost(document, result) if ok else ([], math.nan)
        row = {"instance": path.stem, "solver": solver, "budget": budget, "value": value,
               "routes": sum(len(r["path"]) > 2 for r in result["routes"]),
               "cpu": result["statistics"]["solve_time"], "feasible": ok and not problems,
               "problems": problems[:3]}
        if ok:
            peer, feasible = pyvrp_cost(document, horizon, [r["path"] for r in result["routes"]])
            row.update(peer_value=peer, peer_feasible=feasible)
        rows.append(row)
        print(json.dumps(row), file=log, flush=True)
    return rows


def summary(rows, budget):
    by = {(row["instance"], row["solver"]): row for row in rows}
    lines = [f"# Distances apart from durations: Solomon_100, {budget:g} s each", "",
             "Route cost = distance + 0.1 x duration; durations = distance / 0.8; max_duration ="
             " the depot's horizon. \"PyVRP eval\" is PyVRP's own evaluation of Ploxa's routes.",
             "", "| instance | Ploxa | PyVRP eval | routes | PyVRP | routes | gap % |",
             "|---|---|---|---|---|---|---|"]
    gaps = []
    for name in sorted({row["instance"] for row in rows}):
        mine, peer = (by.get((name, solver), {}) for solver in ("Ploxa", "PyVRP"))
        cells = [name]
        cells += [f"{mine['value']:.2f}", f"{mine['peer_value']:.2f}", str(mine["routes"])] \
            if mine.get("feasible") else ["-"] * 3
        cells += [f"{peer['value']:.2f}", str(peer["routes"])] if peer.get("feasible") else ["-"] * 2
        if mine.get("feasible") and peer.get("feasible"):
            gaps.append(100 * (mine["value"] / peer["value"] - 1))
        cells.append(f"{gaps[-1]:.2f}" if mine.get("feasible") and peer.get("feasible") else "")
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines + gap_lines(gaps)) + "\n"


def main():
    args = peer_arguments(__doc__.splitlines()[0], 10.0)
    run_and_summarise(solomon_files(args.only), args.budget, args.solvers.split(","), OUT, run,
                      summary)


if __name__ == "__main__":
    main()
