import itertools
import json
import math

import pytest

import ploxa
from conftest import DATA, ROOT, solve_checked
from ploxa import cli
from ploxa.formats import file_to_instance

vrplib = pytest.importorskip("vrplib", reason="vrplib (the formats extra) is not installed")

BENCHMARK_DATA = ROOT / "benchmarks" / "data" / "vrplib"

FORMATS = DATA / "formats"
# Depot listed second; more demand than one agent can carry.
CVRP = (FORMATS / "tiny-n4-k2.vrp").read_text()
# Numbers with a gap and no node 1 (the depot is the first node listed); one pair 2 -> 5,
# given from both of its sides; node 3 stands at distance 2.5 from the depot.
PDPTW = (FORMATS / "pd.vrp").read_text()
# Four cities, the first the depot; min-max by default, as no loads are given.
TSP = ("NAME : tiny\nTYPE : TSP\nDIMENSION : 4\nEDGE_WEIGHT_TYPE : EUC_2D\nNODE_COORD_SECTION\n"
       "1 0 0\n2 3 4\n3 6 0\n4 3 -4\nEOF\n")
# Solomon's layout: two vehicles of capacity 50, a depot and two customers with windows.
SOLOMON = (FORMATS / "tiny.txt").read_text()


def convert(tmp_path, text, *options):
    path, out = tmp_path / "instance.vrp", tmp_path / "instance.json"
    path.write_text(text)
    assert cli.main(["convert", str(path), "--output", str(out), *options]) == 0
    return json.loads(out.read_text())


def test_a_capacitated_file_keeps_its_node_numbers_depot_capacities_demands_and_agent_count(
        tmp_path):
    instance = convert(tmp_path, CVRP, "--node-ids", "file")
    assert [(n["id"], n["type"], n["demand"]) for n in instance["nodes"]] == [
        (1, "target", 4), (2, "depot", 0), (3, "target", 5), (4, "target", 6)]
    assert [(a["start_node"], a["end_node"], a["capacity"])
            for a in instance["agents"]] == [(2, 2, 10)] * 2  # the k of "-k2"
    # The count comes from --agents, else VEHICLES, else the name.
    vehicles = CVRP.replace("CAPACITY", "VEHICLES : 3\nCAPACITY")
    assert [len(convert(tmp_path, vehicles, *more)["agents"])
            for more in ([], ["--agents", "5"])] == [3, 5]
    assert instance["metrics"] == {"salesman": {"kind": "euclidean", "factor": 1.0}}
    assert instance["options"] == {"objective": "min_sum", "return_to_end": True,
                                   "time_limit": 60.0, "enforce_capacity": True}
    # Numbering by position, the default, is read back by the solution test below.
    assert convert(tmp_path, CVRP, "--objective", "min_max")["options"]["objective"] == "min_max"


def test_several_load_columns_deliveries_and_pickups_become_lists_the_solve_keeps(tmp_path):
    # Two dimensions; node 4 is delivered to from the depot, node 2 also sends some back.
    instance = convert(tmp_path, (FORMATS / "two-dims.vrp").read_text(), "--node-ids", "file")
    assert [(n["id"], n["demand"], n.get("delivery"), n.get("pickup"))
            for n in instance["nodes"]] == [(1, [0, 0], None, None), (2, [4, 1], None, [2, 0]),
                                            (3, [3, 2], None, None), (4, [0, 0], [5, 3], None)]
    assert instance["agents"][0]["capacity"] == [10, 6]
    result = solve_checked(instance)
    # Out the other way round the first dimension would carry 11: 5 for node 4 and 6 picked up.
    assert result["routes"][0]["node_ids"] == [1, 4, 3, 2, 1]


def test_pickup_and_delivery_pairs_become_same_and_precedence_pairs(tmp_path):
    instance = convert(tmp_path, PDPTW, "--node-ids", "file")
    assert [(n["id"], n["type"], n["demand"]) for n in instance["nodes"]] == [
        (0, "depot", 0), (2, "target", 10), (3, "target", 0), (5, "target", -10)]
    assert {(a["start_node"], a["capacity"], a["max_length"])
            for a in instance["agents"]} == {(0, 15, 100)}
    windows, sequence = instance["constraints"][1:]
    assert [(w["node"], w["start"], w["end"]) for w in windows["items"]] == [
        (0, 0, 100), (2, 5, 50), (3, 0, 80), (5, 10, 90)]
    assert sequence == {"kind": "sequence", "precedence": [
        {"before": 2, "after": 5, "type": "same"}, {"before": 2, "after": 5}]}
    assert instance["options"]["enforce_sequence"] and instance["options"]["enforce_capacity"]


def test_service_times_become_durations_or_fold_into_the_costs_of_leaving_a_node_alike(
        tmp_path):
    plain = convert(tmp_path, PDPTW)
    assert [node.get("service", 0) for node in plain["nodes"]] == [0, 2, 4, 1]
    assert "metrics" in plain  # no matrix is needed for them
    assert plain["options"].pop("route_cost") == "travel"  # the file has windows
    folded, rounded = (convert(tmp_path, PDPTW, "--fold-service", *more) for more in ([], ["--round"]))
    assert all("service" not in node for node in folded["nodes"])
    assert "route_cost" not in folded["options"]
    # The depot serves nothing; node 5 (row 3) takes 1; 2.5 rounds up, as TSPLIB's nint. The
    # unrounded matrix is held to the durations by the costs of the two solves below.
    assert [rounded["costs"]["salesman"][row] for row in (0, 3)] == [[0, 5, 3, 5], [6, 9, 7, 0]]
    plain_cost, folded_cost = (solve_checked(document, time_limit=2)["statistics"]["sum_cost"]
                               for document in (plain, folded))
    assert plain_cost == pytest.approx(folded_cost)


@pytest.mark.parametrize("matrix", [False, True])  # a Euclidean metric, or the full matrix
def test_a_tsp_file_converts_with_a_metric_or_its_matrix_and_solves_to_the_best_split(tmp_path,
                                                                                     matrix):
    instance = convert(tmp_path, TSP, "--agents", "2", "--time-limit", "1",
                       *(["--matrix"] if matrix else []))
    assert [a["start_node"] for a in instance["agents"]] == [0, 0]
    assert instance["nodes"][0]["type"] == "depot"
    assert ("costs" in instance, "metrics" in instance) == (matrix, not matrix)
    assert solve_checked(instance)["statistics"]["max_cost"] == pytest.approx(16.0)  # 0-1-2-0, 0-3-0


def test_a_solomon_file_is_recognised_by_its_content(tmp_path):
    instance = convert(tmp_path, SOLOMON)
    assert [(n["id"], n["demand"]) for n in instance["nodes"]] == [(0, 0), (1, 10), (2, 20)]
    assert [a["capacity"] for a in instance["agents"]] == [50, 50]
    assert instance["constraints"][1]["items"][1] == {"node": 1, "start": 5, "end": 50}
    assert instance["nodes"][1]["service"] == 10
    assert convert(tmp_path, SOLOMON, "--fold-service")["costs"]["salesman"][1] == [15, 0, 15]


def test_an_explicit_matrix_is_kept_and_its_nodes_numbered_from_zero(tmp_path):
    instance = convert(tmp_path, "NAME : m\nTYPE : CVRP\nDIMENSION : 3\nEDGE_WEIGHT_TYPE : "
                       "EXPLICIT\nEDGE_WEIGHT_FORMAT : LOWER_ROW\nSERVICE_TIME : 10\n"
                       "EDGE_WEIGHT_SECTION\n1\n2 3\nEOF\n", "--agents", "1")
    assert [n["id"] for n in instance["nodes"]] == [0, 1, 2]
    assert instance["costs"]["salesman"] == [[0, 1, 2], [1, 0, 3], [2, 3, 0]]
    # SERVICE_TIME alone holds for every node but the depot.
    assert [node.get("service", 0) for node in instance["nodes"]] == [0, 10, 10]


def test_rounded_costs_and_indices_give_the_published_x_solution_its_published_cost():
    costs = file_to_instance(BENCHMARK_DATA / "X-n439-k37.vrp",
                             round_costs=True)["costs"]["salesman"]
    published = vrplib.read_solution(BENCHMARK_DATA / "X-n439-k37.sol")
    total = sum(costs[a][b] for route in published["routes"]
                for a, b in zip([0, *route], [*route, 0]))
    assert total == published["cost"] == 36391


@pytest.mark.parametrize("text, options, message", [
    (CVRP.replace("-k2", ""), [],
     "the number of agents is not in the file (no VEHICLES, no -kNN in its name); "
     "give it with --agents N"),                                              # no count anywhere
    (CVRP.replace("2\n-1", "2\n3\n-1"), [],
     "DEPOT_SECTION must name one of the 4 listed nodes (1 for the first), not 2 3"),  # two depots
    (CVRP.replace("2\n-1", "9\n-1"), [],
     "DEPOT_SECTION must name one of the 4 listed nodes (1 for the first), not 9"),  # beyond them
    (CVRP.replace("CAPACITY : 10", "CAPACITY : 7.5"), [],
     "CAPACITY must be a whole number, not 7.5"),                             # fractional capacity
    (CVRP.replace("4 6\n", "9 6\n"), [], "DEMAND_SECTION names node 9, which is not listed"),
    (CVRP.replace("4 3 -4", "3 3 -4"), [], "node 3 is listed twice"),         # repeated number
    (PDPTW.replace("1 2 0", "1 2 7"), [],
     "PICKUP_AND_DELIVERY_SECTION pairs node 5 with node 7, which is not listed"),  # lost partner
    (TSP.replace("EUC_2D", "GEO"), ["--agents", "1"],
     "EDGE_WEIGHT_TYPE is 'GEO', not 'EUC_2D' or 'EXPLICIT'"),                # not planar
])
def test_a_file_the_conversion_cannot_take_gives_one_error_line(tmp_path, capsys, text, options,
                                                                message):
    path = tmp_path / "bad.vrp"
    path.write_text(text)
    assert cli.main(["convert", str(path), *options]) == 2
    assert capsys.readouterr().err == f"ploxa: error: {path}: {message}\n"


def test_solve_writes_its_routes_as_a_vrplib_solution_of_the_file_at_their_cost(tmp_path):
    instance = convert(tmp_path, CVRP, "--time-limit", "1")
    solution = tmp_path / "tiny.sol"
    assert cli.main(["solve", str(tmp_path / "instance.json"), "--quiet", "--output",
                     str(solution), "--format", "vrplib"]) == 0
    written = vrplib.read_solution(solution)
    assert sorted(node for route in written["routes"] for node in route) == [0, 2, 3]
    demand = {node["id"]: node["demand"] for node in instance["nodes"]}
    assert all(sum(demand[node] for node in route) <= 10 for route in written["routes"])
    at, depot = {node["id"]: (node["x"], node["y"]) for node in instance["nodes"]}, 1
    assert written["cost"] == pytest.approx(sum(
        math.dist(at[a], at[b]) for route in written["routes"]
        for a, b in itertools.pairwise([depot, *route, depot])))
