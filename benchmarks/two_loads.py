"""Two load dimensions: ten instances of the X set with a seeded second demand, against PyVRP.

Each instance of ../shared/data/cvrp-x keeps its demand as the first dimension and gains a
second, drawn per instance from a seeded generator with the same mean, under a capacity as
tight as the first (the capacity scaled by the ratio of the two totals). Both solve min-sum
with rounded distances and a fleet that never binds (k + k / 10 + 2 agents, k the number in
the name). Ploxa gets the budget in processor seconds, PyVRP the same number of wall-clock
seconds. Every answer is checked by the independent route checker of the tests, whose total
is the value; Ploxa's routes are also evaluated by PyVRP's own Solution on PyVRP's data, and
the two must agree. Results go to results/two-loads.md and .json.

    .venv/bin/python benchmarks/two_loads.py [--budget S] [--only X-n101-k25,...]
                                             [--solvers Ploxa,PyVRP] [--first-only]

--first-only runs the same instances and fleets with their own demand alone, for the gap that
one dimension leaves at the same budget.
"""

import json
import math
import random
import statistics
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path[:0] = [str(HERE), str(HERE.parent / "tests" / "python")]

from loads_and_order import as_result, ours  # noqa: E402
from x_free import free_fleet  # noqa: E402
from time_windows import by_instance, gap_lines, peer_arguments, run_and_summarise  # noqa: E402
from x_set import DATA, checked_row, default_twenty, instance, size_of  # noqa: E402

OUT = HERE / "results" / "two-loads"


def second_demands(path, document):
    """Per target its second demand, seeded by the instance's name, and the second capacity."""
    depot = document["agents"][0]["start_node"]
    targets = [node for node in document["nodes"] if node["id"] != depot]
    first = [node["demand"] for node in targets]
    rng = random.Random(path.stem)
    top = max(1, round(2 * statistics.mean(first)) - 1)
    second = [rng.randint(1, top) for _ in targets]
    capacity = math.ceil(document["agents"][0]["capacity"] * sum(second) / sum(first))
    return {node["id"]: d for node, d in zip(targets, second)}, capacity


def two_dimensional(path, agents, budget, second_too=True):
    """The instance with its seeded second dimension, or (second_too false) as it stands."""
    document = instance(path, agents, budget, "auto")
    if not second_too:
        return document
    second, capacity = second_demands(path, document)
    for node in document["nodes"]:
        if node["id"] in second:
            node["demand"] = [node["demand"], second[node["id"]]]
    for agent in document["agents"]:
        agent["capacity"] = [agent["capacity"], capacity]
    return document


def as_list(amount):
    return amount if isinstance(amount, list) else [amount]


def pyvrp_data(path, agents, document):
    """PyVRP's data of the file with the document's loads, delivered from the depot."""
    import pyvrp
    data = pyvrp.read(path, round_func="round")
    clients = []
    for k, client in enumerate(data.clients()):
        node = document["nodes"][k + data.num_depots]
        clients.append(pyvrp.Client(location=client.location, delivery=as_list(node["demand"])))
    vehicle = data.vehicle_type(0).replace(
        num_available=agents, capacity=as_list(document["agents"][0]["capacity"]))
    return data.replace(clients=clients, vehicle_types=[vehicle])


def pyvrp_routes(data, document, agents, budget):
    import pyvrp
    from pyvrp.stop import MaxRuntime
    started = time.process_time()
    result = pyvrp.solve(data, stop=MaxRuntime(budget), seed=1, display=False)
    cpu = time.process_time() - started
    if not result.is_feasible():
        return [], cpu
    # Clients are numbered from 0 in its routes, after the one depot in ours.
    paths = [[0, *(stop.idx + 1 for stop in route if stop.is_client()), 0]
             for route in result.best.routes()]
    return paths + [[0, 0]] * (agents - len(paths)), cpu


def pyvrp_evaluation(data, paths):
    """PyVRP's own distance and feasibility of routes given as vertex paths."""
    import pyvrp
    solution = pyvrp.Solution(data, [[v - 1 for v in path[1:-1]] for path in paths if len(path) > 2])
    return solution.distance(), solution.is_feasible()


def run(path, budget, solvers, log, second_too=True):
    agents = free_fleet(path)
    document = two_dimensional(path, agents, budget, second_too)
    data = pyvrp_data(path, agents, document)
    assert document["agents"][0]["start_node"] == document["nodes"][0]["id"]
    rows = []
    for solver in solvers:
        if solver == "Ploxa":
            result = ours(document)
        else:
            result = as_result(document, *pyvrp_routes(data, document, agents, budget))
        row = checked_row(document, result, path, agents, budget, solver)
        if row["feasible"]:
            row["peer_value"], row["peer_feasible"] = pyvrp_evaluation(
                data, [route["path"] for route in result["routes"]])
        rows.append(row)
        print(json.dumps(row), file=log, flush=True)
    return rows


def summary(rows, budget, title="Two load dimensions: the X set with a seeded second demand"):
    by = by_instance(rows)
    lines = [f"# {title}, {budget:g} s each", "",
             "Generated by benchmarks/two_loads.py; values are the route checker's totals, "
             "\"PyVRP eval\" PyVRP's own distance and verdict on Ploxa's routes.", "",
             "| instance | agents | Ploxa | PyVRP eval | PyVRP | gap % |", "|---|---|---|---|---|---|"]
    gaps = []
    for name in sorted(by, key=lambda n: size_of(DATA / f"{n}.vrp")):
        mine, peer = by[name].get("Ploxa", {}), by[name].get("PyVRP", {})
        cells = [name, str((mine or peer)["agents"])]
        cells.append(f"{mine['value']:.0f}" if mine.get("feasible") else "-")
        cells.append(f"{mine['peer_value']:.0f}" + ("" if mine["peer_feasible"] else " INFEASIBLE")
                     if mine.get("feasible") else "-")
        cells.append(f"{peer['value']:.0f}" if peer.get("feasible") else "-")
        gap = ""
        if mine.get("feasible") and peer.get("feasible"):
            gaps.append(100 * (mine["value"] / peer["value"] - 1))
            gap = f"{gaps[-1]:+.2f}"
        lines.append("| " + " | ".join(cells + [gap]) + " |")
    return "\n".join(lines + gap_lines(gaps)) + "\n"


def main():
    args = peer_arguments(__doc__.splitlines()[0], 30.0, lambda parser: parser.add_argument(
        "--first-only", action="store_true",
        help="the same instances with their own demand alone, to results/two-loads-first-only"))
    if args.only:
        paths = [DATA / f"{name}.vrp" for name in args.only.split(",")]
    else:  # every other of x_set.py's twenty: ten spread over the sizes
        paths = default_twenty(sorted(DATA.glob("*.vrp"), key=size_of))[::2]
    if args.first_only:
        run_and_summarise(paths, args.budget, args.solvers.split(","),
                          OUT.with_name("two-loads-first-only"),
                          lambda *given: run(*given, second_too=False),
                          lambda rows, budget: summary(rows, budget, "The same, one dimension"))
    else:
        run_and_summarise(paths, args.budget, args.solvers.split(","), OUT, run, summary)


if __name__ == "__main__":
    main()
