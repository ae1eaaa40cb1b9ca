"""Random feasibility oracle: seeded instances that mix agent types, windows (one or two per
stop), shifts, cost limits, stop limits, ends apart from starts, one to three depots and fleets
from loose to tight. OR-Tools certifies an instance feasible when it finds routes that the
independent route checker accepts; Ploxa then solves it, and must plan every certified one
without breaking a rule.

    .venv/bin/python benchmarks/feasibility_oracle.py [--count 2000] [--budget 5]
                                                      [--peer-budget 3] [--workers 2]

Data are integers (rounded Euclidean matrices per type, windows, services), so that both
solvers read the same instance; routes cost their travel, and a cost limit bounds it. Ploxa
solves only the certified instances, each until its first plan (which the progress callback
stops at) or its budget: a plan within the budget is all that "not failed" asks, and that plan
is what is checked. Results go to results/feasibility-oracle.md and .json.
"""

import argparse
import json
import math
import multiprocessing
import random
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path[:0] = [str(HERE.parent / "tests" / "python")]

from route_check import route_problems  # noqa: E402


TYPES = {"van": 1.0, "drone": 0.7}


def instance(seed, budget):
    rng = random.Random(seed)
    depots = 1 + rng.randrange(3)
    targets = rng.randint(10, 45)
    points = [(rng.randint(0, 100), rng.randint(0, 100)) for _ in range(depots + targets)]
    nodes = [{"id": k, "x": x, "y": y} for k, (x, y) in enumerate(points)]
    for node in nodes[depots:]:
        node["service"] = rng.choice([0, 2, 5, 10])
    costs = {kind: [[round(factor * math.dist(a, b)) for b in points] for a in points]
             for kind, factor in TYPES.items()}
    # Tight fleets are a few agents; each may get a shift, a cost limit or a stop limit.
    fleet = max(1, round(targets / rng.choice([4, 6, 8, 12, 16])))
    agents = []
    for k in range(fleet):
        start = rng.randrange(depots)
        agent = {"id": 100 + k, "type": "drone" if rng.random() < 0.3 else "van",
                 "start_node": start,
                 "end_node": rng.randrange(depots) if rng.random() < 0.3 else start}
        if rng.random() < 0.4:
            opens = rng.randint(0, 100)
            agent.update(shift_start=opens, shift_end=opens + rng.randint(300, 900))
        if rng.random() < 0.3:
            agent["max_length"] = rng.randint(150, 500)
        if rng.random() < 0.3:
            agent["max_stops"] = rng.randint(3, max(4, 2 * targets // fleet))
        agents.append(agent)
    windows, types = [], []
    kinds = sorted({agent["type"] for agent in agents})
    for node in nodes[depots:]:
        roll = rng.random()
        opens = rng.randint(0, 600)
        if roll < 0.45:
            windows.append({"node": node["id"], "start": opens, "end": opens + rng.randint(20, 150)})
        elif roll < 0.6:
            later = opens + rng.randint(60, 250)
            windows.append({"node": node["id"], "windows": [[opens, opens + rng.randint(10, 50)],
                                                            [later, later + rng.randint(10, 80)]]})
        if len(kinds) > 1 and rng.random() < 0.15:
            types.append({"node": node["id"], "types": [rng.choice(kinds)]})
    costs = {kind: matrix for kind, matrix in costs.items() if kind in kinds}
    return {"nodes": nodes, "agents": agents, "costs": costs,
            "constraints": [{"kind": "timewindow", "items": windows},
                            {"kind": "assignment", "items": types}],
            "options": {"objective": rng.choice(["min_sum", "min_max"]), "route_cost": "travel",
                        "time_limit": budget, "improve": True, "seed": seed}}


def windows_of(document):
    out = {}
    for item in document["constraints"][0]["items"]:
        out[item["node"]] = item.get("windows") or [[item["start"], item["end"]]]
    return out


def ortools_routes(document, budget):
    """OR-Tools' routes (vertex paths per agent), or None when it finds none in time."""
    from ortools.constraint_solver import pywrapcp, routing_enums_pb2
    nodes, agents = document["nodes"], document["agents"]
    n, depots = len(nodes), {a["start_node"] for a in agents} | {a["end_node"] for a in agents}
    service = [0 if v in depots else nodes[v].get("service", 0) for v in range(n)]
    manager = pywrapcp.RoutingIndexManager(n, len(agents), [a["start_node"] for a in agents],
                                           [a["end_node"] for a in agents])
    model = pywrapcp.RoutingModel(manager)
    travel, timed = [], []
    for kind, matrix in document["costs"].items():

        def leg(i, j, matrix=matrix):
            return matrix[manager.IndexToNode(i)][manager.IndexToNode(j)]

        def took(i, j, matrix=matrix):
            a, b = manager.IndexToNode(i), manager.IndexToNode(j)
            return matrix[a][b] + service[a]
        travel.append(model.RegisterTransitCallback(leg))
        timed.append(model.RegisterTransitCallback(took))
    kinds = {kind: k for k, kind in enumerate(document["costs"])}
    per_agent = [kinds[a["type"]] for a in agents]
    for v, agent in enumerate(agents):
        model.SetArcCostEvaluatorOfVehicle(travel[per_agent[v]], v)
    big = 10**7
    model.AddDimensionWithVehicleTransits([travel[k] for k in per_agent], 0,
                                          big, True, "travel")
    model.AddDimensionWithVehicleTransits([timed[k] for k in per_agent], big, big, False, "time")
    stops = model.RegisterUnaryTransitCallback(lambda i: 0 if manager.IndexToNode(i) in depots else 1)
    model.AddDimensionWithVehicleCapacity(
        stops, 0, [a.get("max_stops", n) for a in agents], True, "stops")
    distance, clock = model.GetDimensionOrDie("travel"), model.GetDimensionOrDie("time")
    for v, agent in enumerate(agents):
        if "max_length" in agent:
            distance.CumulVar(model.End(v)).SetMax(agent["max_length"])
        start, end = clock.CumulVar(model.Start(v)), clock.CumulVar(model.End(v))
        if "shift_start" in agent:
            start.SetRange(agent["shift_start"], agent["shift_end"])
            end.SetMax(agent["shift_end"])
        else:
            start.SetRange(0, 0)
    allowed = {item["node"]: item["types"] for item in document["constraints"][1]["items"]}
    for vertex, spans in windows_of(document).items():
        index = manager.NodeToIndex(vertex)
        cumul = clock.CumulVar(index)
        cumul.SetRange(spans[0][0], spans[-1][1])
        for (_, close), (opens, _) in zip(spans, spans[1:]):
            cumul.RemoveInterval(close + 1, opens - 1)
    for vertex, kinds_allowed in allowed.items():
        for v, agent in enumerate(agents):
            if agent["type"] not in kinds_allowed:
                model.VehicleVar(manager.NodeToIndex(vertex)).RemoveValue(v)
    parameters = pywrapcp.DefaultRoutingSearchParameters()
    parameters.first_solution_strategy = routing_enums_pb2.FirstSolutionStrategy.PARALLEL_CHEAPEST_INSERTION
    parameters.local_search_metaheuristic = routing_enums_pb2.LocalSearchMetaheuristic.GUIDED_LOCAL_SEARCH
    parameters.time_limit.FromMilliseconds(int(1000 * budget))
    # Stops may be dropped at a price, so that the search always has a plan to improve; a
    # plan that drops one certifies nothing.
    for vertex in range(n):
        if vertex not in depots:
            model.AddDisjunction([manager.NodeToIndex(vertex)], 10**6)
    solution = model.SolveWithParameters(parameters)
    if solution is None or any(solution.Value(model.NextVar(manager.NodeToIndex(v))) ==
                               manager.NodeToIndex(v) for v in range(n) if v not in depots):
        return None
    paths = []
    for v in range(len(agents)):
        index, path = model.Start(v), []
        while not model.IsEnd(index):
            path.append(manager.IndexToNode(index))
            index = solution.Value(model.NextVar(index))
        paths.append(path + [manager.IndexToNode(index)])
    return paths


class FirstPlan(Exception):
    """Raised by the progress callback: the first plan settles the question asked here."""


def stop_at_first_plan(report):
    raise FirstPlan()


def travel(document, agent, path):
    matrix = document["costs"][agent["type"]]
    return float(sum(matrix[a][b] for a, b in zip(path, path[1:])))


def certify(document, peer_budget):
    paths = ortools_routes(document, peer_budget)
    return paths is not None and route_problems(document, {"routes": [
        {"agent_id": agent["id"], "path": path, "cost": travel(document, agent, path)}
        for agent, path in zip(document["agents"], paths)]}) == []


def one(task):
    seed, budget, peer_budget, known = task
    document = instance(seed, budget)
    certified = known if known is not None else certify(document, peer_budget)
    row = {"seed": seed, "certified": certified, "status": "", "cpu": 0.0, "problems": [],
           "targets": len(document["nodes"]), "agents": len(document["agents"])}
    if not certified:
        return row
    import ploxa
    started = time.process_time()
    try:
        result = ploxa.solve_json_str(json.dumps(document), progress=stop_at_first_plan)
    except FirstPlan as found:
        result = found.result
    cpu = time.process_time() - started
    problems = route_problems(document, result) if result["status"] == "success" else []
    row.update(status=result["status"], cpu=round(cpu, 2), problems=problems[:3])
    return row


def summary(rows, budget):
    certified = [row for row in rows if row["certified"]]
    failed = [row["seed"] for row in certified if row["status"] != "success"]
    broken = [row["seed"] for row in rows if row["problems"]]
    lines = [f"# Feasibility oracle: {len(rows)} seeded instances, Ploxa at {budget:g} s", "",
             f"- certified feasible by OR-Tools (routes that pass the route checker): {len(certified)}",
             f"- of those, ending \"failed\" in Ploxa: {len(failed)}"
             + (f" (seeds {', '.join(map(str, failed[:30]))})" if failed else ""),
             f"- answers of Ploxa that break a rule: {len(broken)}"
             + (f" (seeds {', '.join(map(str, broken[:30]))})" if broken else ""),
             f"- Ploxa's processor time per certified instance: mean "
             f"{sum(row['cpu'] for row in certified) / max(len(certified), 1):.2f} s",
             "", "Ploxa solves only the certified instances: on the others nothing is known."]
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--count", type=int, default=2000)
    parser.add_argument("--first", type=int, default=0)
    parser.add_argument("--budget", type=float, default=5.0)
    parser.add_argument("--peer-budget", type=float, default=3.0)
    parser.add_argument("--workers", type=int, default=2)
    parser.add_argument("--recheck", action="store_true",
                        help="solve again with Ploxa alone, taking the certificates of the "
                             "results file (they do not depend on Ploxa)")
    args = parser.parse_args()
    out = HERE / "results" / "feasibility-oracle"
    known = {}
    if args.recheck:
        known = {row["seed"]: row["certified"] for row in json.loads(out.with_suffix(".json").read_text())}
    tasks = [(seed, args.budget, args.peer_budget, known.get(seed))
             for seed in range(args.first, args.first + args.count)]
    rows = []
    with multiprocessing.Pool(args.workers, maxtasksperchild=50) as pool, \
            open(out.with_suffix(".log"), "w") as log:
        for row in pool.imap_unordered(one, tasks):
            rows.append(row)
            print(json.dumps(row), file=log, flush=True)
    rows.sort(key=lambda row: row["seed"])
    out.with_suffix(".json").write_text(json.dumps(rows, indent=1) + "\n")
    out.with_suffix(".md").write_text(summary(rows, args.budget))
    print(summary(rows, args.budget))


if __name__ == "__main__":
    main()
