"""Loads and task order: capacitated and pick-up-and-delivery instances against the peers.

Runs (processor-second budgets; the peers get the same number of wall-clock seconds on the
otherwise idle machine):
  E-n22-k4     capacitated, 4 agents, rounded distances, min-sum, 1 s (optimum 375)
  X-n439-k37   capacitated, 40 agents, rounded distances, min-sum, 60 s (best known 36,391),
               with OR-Tools and PyVRP
  X-n439-k37   the same with min-max, with OR-Tools
  lrc206       pick-up and delivery with windows, 25 agents, min-sum of the route durations
               (service folded into the costs, waiting counted), 10 s, with OR-Tools' pick-up
               and delivery model minimising the same durations

Every route of every answer, the peers' included, is checked by the independent route checker
of the tests, and every cost is the checker's. Results go to results/loads-and-order.md and
.json. `--short` runs the 60 s runs at 5 s (a smoke run).

    .venv/bin/python benchmarks/loads_and_order.py [--short] [--no-peer]
"""

import argparse
import json
import math
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
DATA = HERE / "data" / "vrplib"
sys.path[:0] = [str(HERE), str(HERE.parent / "tests" / "python")]

from route_check import route_problems  # noqa: E402
from run_benchmarks import solution_paths  # noqa: E402

BEST_KNOWN = {"E-n22-k4": 375, "X-n439-k37": 36391}


def instance(name, agents, objective, budget):
    from ploxa.formats import file_to_instance
    document = file_to_instance(DATA / f"{name}.vrp", agents=agents, objective=objective,
                                time_limit=budget, round_costs=name != "lrc206")
    document["options"].update(improve=True, seed=1)
    return document


def route_times(document, paths):
    """Each route's cost by the instance's rules: legs, waits for windows (precedence is kept
    within routes by every answer here, so it adds no wait)."""
    matrix = document["costs"]["salesman"]
    windows = {item["node"]: (item["start"], item["end"])
               for constraint in document.get("constraints", [])
               if constraint["kind"] == "timewindow" for item in constraint["items"]}
    ids = [node["id"] for node in document["nodes"]]
    costs = []
    for path in paths:
        t = 0.0
        for a, b in zip(path, path[1:]):
            t = max(t + matrix[a][b], windows.get(ids[b], (-math.inf,))[0])
        costs.append(t)
    return costs


def as_result(document, paths, cpu):
    """A result dictionary for routes found elsewhere, for the route checker."""
    ids = [node["id"] for node in document["nodes"]]
    costs = route_times(document, paths)
    routes = [{"agent_id": agent["id"], "path": path, "cost": cost,
               "node_ids": [ids[v] for v in path]}
              for agent, path, cost in zip(document["agents"], paths, costs)]
    return {"status": "success" if paths else "failed", "routes": routes,
            "statistics": {"max_cost": max(costs, default=math.nan),
                           "sum_cost": sum(costs) if costs else math.nan, "solve_time": cpu}}


def ours(document):
    import ploxa
    started = time.process_time()
    result = ploxa.solve_json_str(json.dumps(document))
    result["statistics"]["solve_time"] = time.process_time() - started
    return result


def ortools_routes(document, budget, pickup_delivery):
    """OR-Tools' routes for the instance: arc costs (or, with windows, route durations) in
    whole thousandths, a load dimension, and for pick-ups and deliveries the same vehicle and
    the delivery no earlier."""
    from ortools.constraint_solver import pywrapcp, routing_enums_pb2
    matrix = document["costs"]["salesman"]
    n, agents = len(matrix), len(document["agents"])
    depot = document["agents"][0]["start_node"]
    ids = [node["id"] for node in document["nodes"]]
    manager = pywrapcp.RoutingIndexManager(n, agents, ids.index(depot))
    routing = pywrapcp.RoutingModel(manager)
    scaled = [[int(round(1000 * c)) for c in row] for row in matrix]
    transit = routing.RegisterTransitCallback(
        lambda i, j: scaled[manager.IndexToNode(i)][manager.IndexToNode(j)])
    demands = [int(node["demand"]) for node in document["nodes"]]
    load = routing.RegisterUnaryTransitCallback(lambda i: demands[manager.IndexToNode(i)])
    routing.AddDimensionWithVehicleCapacity(
        load, 0, [agent["capacity"] for agent in document["agents"]], True, "load")
    parameters = pywrapcp.DefaultRoutingSearchParameters()
    parameters.local_search_metaheuristic = (
        routing_enums_pb2.LocalSearchMetaheuristic.GUIDED_LOCAL_SEARCH)
    parameters.time_limit.FromMilliseconds(int(budget * 1000))
    if pickup_delivery:
        add_pickup_delivery(document, manager, routing, transit, ids)
        parameters.first_solution_strategy = (
            routing_enums_pb2.FirstSolutionStrategy.PARALLEL_CHEAPEST_INSERTION)
    else:
        routing.SetArcCostEvaluatorOfAllVehicles(transit)
        if document["options"]["objective"] == "min_max":
            routing.AddDimension(transit, 0, 10**12, True, "distance")
            routing.GetDimensionOrDie("distance").SetGlobalSpanCostCoefficient(100)
        parameters.first_solution_strategy = (
            routing_enums_pb2.FirstSolutionStrategy.PATH_CHEAPEST_ARC)
    started = time.process_time()
    solution = routing.SolveWithParameters(parameters)
    cpu = time.process_time() - started
    return solution_paths(manager, routing, solution), cpu


def add_pickup_delivery(document, manager, routing, transit, ids):
    """Time with waiting, windows, departure at 0, the sum of route durations as the
    objective, and the pairs."""
    windows = {ids.index(item["node"]): (item["start"], item["end"])
               for constraint in document["constraints"] if constraint["kind"] == "timewindow"
               for item in constraint["items"]}
    horizon = int(1000 * max(end for _, end in windows.values())) + 1
    routing.AddDimension(transit, horizon, horizon, False, "time")
    time_dimension = routing.GetDimensionOrDie("time")
    time_dimension.SetSpanCostCoefficientForAllVehicles(1)
    for node, (start, end) in windows.items():
        low, high = int(math.ceil(1000 * start)), int(1000 * end)
        if node == manager.IndexToNode(routing.Start(0)):
            for vehicle in range(routing.vehicles()):
                time_dimension.CumulVar(routing.Start(vehicle)).SetRange(0, 0)
                time_dimension.CumulVar(routing.End(vehicle)).SetRange(0, high)
            continue
        time_dimension.CumulVar(manager.NodeToIndex(node)).SetRange(low, high)
    solver = routing.solver()
    for constraint in document["constraints"]:
        if constraint["kind"] != "sequence":
            continue
        for pair in constraint["precedence"]:
            if pair.get("type") != "same":
                continue
            pickup = manager.NodeToIndex(ids.index(pair["before"]))
            delivery = manager.NodeToIndex(ids.index(pair["after"]))
            routing.AddPickupAndDelivery(pickup, delivery)
            solver.Add(routing.VehicleVar(pickup) == routing.VehicleVar(delivery))
            solver.Add(time_dimension.CumulVar(pickup) <= time_dimension.CumulVar(delivery))


def pyvrp_routes(document, name, agents, budget):
    """PyVRP's routes (capacitated only), its vehicles limited to the agent count."""
    import pyvrp
    from pyvrp.stop import MaxRuntime
    data = pyvrp.read(DATA / f"{name}.vrp", round_func="round")
    vehicle_type = data.vehicle_type(0).replace(num_available=agents)
    data = data.replace(vehicle_types=[vehicle_type])
    started = time.process_time()
    result = pyvrp.solve(data, stop=MaxRuntime(budget), seed=1, display=False)
    cpu = time.process_time() - started
    # PyVRP numbers its clients from 0; in file order they follow the depot, as in convert's
    # numbering.
    depot = document["agents"][0]["start_node"]
    paths = [[depot, *(stop.idx + data.num_depots for stop in route if stop.is_client()), depot]
             for route in result.best.routes()]
    paths += [[depot, depot]] * (agents - len(paths))
    return paths, cpu


def round_trip_bound(document):
    """A lower bound on the longest route: the farthest node's trip there and back."""
    matrix = document["costs"]["salesman"]
    depot = [node["id"] for node in document["nodes"]].index(document["agents"][0]["start_node"])
    return max(matrix[depot][v] + matrix[v][depot] for v in range(len(matrix)) if v != depot)


def run(name, agents, objective, budget, peers, log):
    document = instance(name, agents, objective, budget)
    rows = []
    answers = [("Ploxa", lambda: ours(document))]
    pickup_delivery = name == "lrc206"
    if "ortools" in peers:
        answers.append(("OR-Tools", lambda: as_result(
            document, *ortools_routes(document, budget, pickup_delivery))))
    if "pyvrp" in peers and not pickup_delivery and objective == "min_sum":
        answers.append(("PyVRP", lambda: as_result(
            document, *pyvrp_routes(document, name, agents, budget))))
    for solver, answer in answers:
        result = answer()
        problems = route_problems(document, result) if result["status"] == "success" else []
        stats = result["statistics"]
        value = stats["sum_cost"] if objective == "min_sum" else stats["max_cost"]
        row = {"instance": name, "agents": agents, "objective": objective, "budget": budget,
               "bound": round_trip_bound(document) if objective == "min_max" else None,
               "solver": solver, "status": result["status"], "value": value,
               "cpu": stats["solve_time"], "method": stats.get("method", ""),
               "feasible": result["status"] == "success" and not problems,
               "problems": problems[:3]}
        rows.append(row)
        log(f"{name:11} m={agents:<3} {objective:8} {budget:5.0f} s  {solver:8} {row['status']:8} "
            f"{value:12.2f}  feasible {row['feasible']}  {row['method']}")
    return rows


def write(rows, path):
    path.with_suffix(".json").write_text(json.dumps(rows, indent=1) + "\n")
    lines = ["# Loads and task order", "",
             "Generated by benchmarks/loads_and_order.py. Values are the route checker's: total "
             "(min-sum) or longest route (min-max); lrc206's costs are route durations with "
             "service and waiting. The gap is to the best known total (min-sum) or to the "
             "farthest node's round trip, a lower bound on the longest route (min-max).", "",
             "| instance | agents | objective | budget s | solver | value | gap | "
             "feasible | method |", "|---|---|---|---|---|---|---|---|---|"]
    for row in rows:
        best = BEST_KNOWN.get(row["instance"]) if row["objective"] == "min_sum" else row["bound"]
        gap = f"{100 * (row['value'] / best - 1):+.2f} %" if best and row["feasible"] else ""
        lines.append(f"| {row['instance']} | {row['agents']} | {row['objective']} | "
                     f"{row['budget']:g} | {row['solver']} | {row['value']:.2f} | {gap} | "
                     f"{'yes' if row['feasible'] else 'NO'} | {row['method']} |")
    path.with_suffix(".md").write_text("\n".join(lines) + "\n")


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--short", action="store_true", help="5 s instead of 60 s runs")
    parser.add_argument("--no-peer", action="store_true", help="Ploxa only")
    parser.add_argument("--output", type=Path, default=HERE / "results" / "loads-and-order")
    args = parser.parse_args()
    peers = set() if args.no_peer else {"ortools", "pyvrp"}
    long = 5.0 if args.short else 60.0
    log = lambda line: print(line, flush=True)  # noqa: E731
    rows = run("E-n22-k4", 4, "min_sum", 1.0, set(), log)
    rows += run("X-n439-k37", 40, "min_sum", long, peers, log)
    rows += run("X-n439-k37", 40, "min_max", long, peers, log)
    rows += run("lrc206", 25, "min_sum", 10.0, peers, log)
    write(rows, args.output)
    log(f"results written to {args.output}.md")


if __name__ == "__main__":
    main()
