"""Instance files of the routing literature, read through the vrplib package, turned into the
solver's JSON instance format; results written back as VRPLIB solutions.

Three kinds of file are read: TSPLIB (EUC_2D coordinates or an EXPLICIT matrix), VRPLIB (the
same with CAPACITY, VEHICLES, DISTANCE, SERVICE_TIME and the DEMAND, DEPOT, TIME_WINDOW,
SERVICE_TIME and PICKUP_AND_DELIVERY sections) and Solomon (told apart by its content: a name
line, then a line starting with VEHICLE).

Node ids number the nodes 0, 1, ... in file order (the depot of a VRPLIB file is 0), the
numbering of the published VRPLIB solutions, so that the solutions written back read as the
field's tools expect; node_ids="file" keeps the file's own node numbers (the first column of
its node rows) instead.
The DEPOT_SECTION is read as vrplib reads it, as the place of the depot among the listed nodes
(1 for the first); without it the first node is the depot.

Service times become the nodes' "service" durations, and a file with time windows is billed
by travel ("route_cost": "travel", the field's objective there). With fold_service they are
folded into the costs instead, cost(i, j) = travel(i, j) + service(i), and a route's cost is
its duration from departure at time 0.
"""

import importlib
import math
import re
from collections.abc import Mapping
from dataclasses import dataclass, field
from os import PathLike
from pathlib import Path
from typing import Any

VRPLIB_MISSING = ("reading instance files needs the vrplib package; install it with: "
                  "pip install '.[formats]' (or pip install vrplib)")

Number = int | float
# A load: one number, or one per load dimension.
Amount = Number | list[Number]
FilePath = str | PathLike[str]


class FormatError(ValueError):
    """A file that is not a readable instance, or a conversion it cannot take."""


class VrplibMissing(RuntimeError):
    """The vrplib package is not installed."""


@dataclass
class FileInstance:
    """What a file says, every list in the file's node order; nodes are named by position."""
    name: str
    tsp: bool                                   # TYPE TSP
    ids: list[int]                              # the file's node numbers
    coordinates: list[tuple[float, float]]
    edge_weight_type: str
    travel: list[list[float]] | None = None     # an explicit matrix
    depot: int = 0
    vehicles: int | None = None
    capacity: int | list[int] | None = None     # a list: one per load dimension
    max_length: int | None = None
    demands: list[Amount] | None = None
    deliveries: list[Amount] | None = None      # LINEHAUL_SECTION: carried from the depot
    pickups: list[Amount] | None = None         # BACKHAUL_SECTION: brought back to it
    service: list[Number] | None = None
    windows: dict[int, tuple[Number, Number]] = field(default_factory=dict)
    pairs: list[tuple[int, int]] = field(default_factory=list)  # (pick-up, delivery)


def vrplib_module() -> Any:
    try:
        # Imported by name: vrplib has no type information.
        vrplib = importlib.import_module("vrplib")
    except ImportError:
        raise VrplibMissing(VRPLIB_MISSING) from None
    return vrplib


def _vrplib_part(name: str) -> Any:
    """A module of the vrplib package: its reader's own line and section splitting."""
    vrplib_module()
    return importlib.import_module(f"vrplib.parse.{name}")


def _lines(text: str) -> list[str]:
    """The non-empty, non-comment lines, stripped, as vrplib sees them."""
    return list(_vrplib_part("parse_utils").text2lines(text))


def is_solomon(text: str) -> bool:
    """Whether the text is a Solomon file: a name line, then a line starting with VEHICLE."""
    lines = _lines(text)
    return len(lines) > 1 and ":" not in lines[0] and lines[1].upper().startswith("VEHICLE")


def _section_ids(lines: list[str]) -> dict[str, list[str]]:
    """The first field of every row of each section, in the sections vrplib parsed (its data
    drops that column)."""
    _, sections = _vrplib_part("parse_vrplib").group_specifications_and_sections(lines)
    ids: dict[str, list[str]] = {}
    for section in sections:
        name = section[0].strip(" :").removesuffix("_SECTION").lower()
        ids.setdefault(name, []).extend(row.split()[0] for row in section[1:])
    return ids


def _rows(value: Any, section: str, width: int) -> list[list[float]]:
    """A section's rows as numbers, each `width` wide."""
    rows = [[cell] for cell in value] if getattr(value, "ndim", 2) == 1 else list(value)
    out = []
    for number, row in enumerate(rows, start=1):
        try:
            cells = [float(cell) for cell in row]
        except (TypeError, ValueError):
            cells = []
        if len(cells) != width:
            raise FormatError(f"{section}_SECTION row {number}: expected the node number and "
                              f"{width} number(s), got {' '.join(map(str, row))!r}")
        out.append(cells)
    return out


def _whole(value: Any, key: str) -> int:
    if isinstance(value, (int, float)) and float(value).is_integer():
        return int(value)
    raise FormatError(f"{key} must be a whole number, not {value!r}")


def _capacity(value: Any) -> int | list[int]:
    """CAPACITY: one whole number, or one per load dimension (\"10 20\")."""
    if isinstance(value, str):
        try:
            cells = [float(cell) for cell in value.split()]
        except ValueError:
            cells = []
        if len(cells) < 2 or not all(cell.is_integer() for cell in cells):
            raise FormatError(f"CAPACITY must be whole numbers, not {value!r}")
        return [int(cell) for cell in cells]
    return _whole(value, "CAPACITY")


def _amounts(data: dict[str, Any], ids: dict[str, list[str]], key: str,
             position: dict[int, int]) -> list[Amount]:
    """A load section, one amount per node or, with several columns, one list per node."""
    value = data[key]
    width = 1 if getattr(value, "ndim", 2) == 1 else len(value[0]) if len(value) else 1
    rows = _node_values(data, ids, key, width, position)
    zero = [0.0] * width
    return [(_number(row[0]) if width == 1 else [_number(cell) for cell in row])
            for row in (rows.get(k, zero) for k in range(len(position)))]


def _number(value: float) -> Number:
    return int(value) if float(value).is_integer() else float(value)


def _node_number(text: str, section: str) -> int:
    try:
        return int(text)
    except ValueError:
        raise FormatError(f"{section}_SECTION: {text!r} is not a node number") from None


def _node_values(data: dict[str, Any], ids: dict[str, list[str]], key: str, width: int,
                 position: dict[int, int]) -> dict[int, list[float]]:
    """A node section's rows by node position, checked against the listed nodes."""
    rows = _rows(data[key], key.upper(), width)
    out = {}
    for text, row in zip(ids.get(key, []), rows):
        node = position.get(_node_number(text, key.upper()))
        if node is None:
            raise FormatError(f"{key.upper()}_SECTION names node {text}, which is not listed")
        out[node] = row
    return out


def read_instance_file(path: FilePath) -> FileInstance:
    """Reads a TSPLIB, VRPLIB or Solomon file (a Solomon one told apart by its content)."""
    vrplib = vrplib_module()
    try:
        text = Path(path).read_bytes().decode("utf-8")
    except UnicodeDecodeError as error:
        raise FormatError(f"not UTF-8 text (byte {error.start})") from error
    solomon = is_solomon(text)
    try:
        data = vrplib.read_instance(path, instance_format="solomon" if solomon else "vrplib",
                                    compute_edge_weights=False)
    except (ValueError, RuntimeError, IndexError, TypeError) as error:
        raise FormatError(str(error)) from error
    if solomon:
        return _solomon(data, _lines(text)[6:])
    return _vrplib_file(data, _section_ids(_lines(text)), Path(path).stem)


def _solomon(data: dict[str, Any], rows: list[str]) -> FileInstance:
    try:
        ids = [int(row.split()[0]) for row in rows]
    except ValueError as error:
        raise FormatError(f"a customer row does not start with its number ({error})") from None
    return FileInstance(
        name=str(data["name"]), tsp=False, ids=ids,
        coordinates=[(float(x), float(y)) for x, y in data["node_coord"]],
        edge_weight_type="EUC_2D", vehicles=int(data["vehicles"]),
        capacity=int(data["capacity"]), demands=[int(d) for d in data["demand"]],
        service=[int(s) for s in data["service_time"]],
        windows={k: (int(a), int(b)) for k, (a, b) in enumerate(data["time_window"])})


def _vrplib_file(data: dict[str, Any], ids: dict[str, list[str]], stem: str) -> FileInstance:
    weight_type = data.get("edge_weight_type")
    if weight_type not in ("EUC_2D", "EXPLICIT"):
        raise FormatError(f"EDGE_WEIGHT_TYPE is {weight_type!r}, not 'EUC_2D' or 'EXPLICIT'")
    coordinate_key = next((key for key in ("node_coord", "display_data") if key in data), None)
    if coordinate_key is not None:
        coordinates = [(x, y) for x, y in _rows(data[coordinate_key], coordinate_key.upper(), 2)]
        numbers = [_node_number(text, coordinate_key.upper()) for text in ids[coordinate_key]]
    elif weight_type == "EUC_2D":
        raise FormatError("no NODE_COORD_SECTION")
    else:
        numbers = list(range(1, int(data.get("dimension", 0)) + 1))
        coordinates = [(0.0, 0.0)] * len(numbers)
    count = len(numbers)
    dimension = data.get("dimension", count)
    if dimension != count:
        raise FormatError(f"DIMENSION is {dimension} but {count} nodes are listed")
    if count == 0:
        raise FormatError("no nodes are listed")
    position: dict[int, int] = {}
    for k, number in enumerate(numbers):
        if position.setdefault(number, k) != k:
            raise FormatError(f"node {number} is listed twice")
    source = FileInstance(name=str(data.get("name", stem)),
                          tsp=str(data.get("type", "")).upper() == "TSP", ids=numbers,
                          coordinates=coordinates, edge_weight_type=weight_type)
    if "edge_weight" in data:
        travel = [[float(cost) for cost in row] for row in data["edge_weight"]]
        if len(travel) != count or any(len(row) != count for row in travel):
            raise FormatError(f"EDGE_WEIGHT_SECTION does not hold {count} x {count} costs")
        source.travel = travel
    depots = [int(depot) for depot in data.get("depot", [0])]
    if len(depots) != 1 or not 0 <= depots[0] < count:
        raise FormatError(f"DEPOT_SECTION must name one of the {count} listed nodes "
                          f"(1 for the first), not {' '.join(str(d + 1) for d in depots)}")
    source.depot = depots[0]
    for key, attribute in (("vehicles", "vehicles"), ("distance", "max_length")):
        if key in data:
            setattr(source, attribute, _whole(data[key], key.upper()))
    if "capacity" in data:
        source.capacity = _capacity(data["capacity"])
    _read_node_sections(source, data, ids, position)
    return source


def _read_node_sections(source: FileInstance, data: dict[str, Any], ids: dict[str, list[str]],
                        position: dict[int, int]) -> None:
    count = len(source.ids)
    pd = _node_values(data, ids, "pickup_and_delivery", 6, position) \
        if "pickup_and_delivery" in data else {}
    if "demand" in data:
        source.demands = _amounts(data, ids, "demand", position)
    elif pd:
        source.demands = [_number(pd[k][0]) if k in pd else 0 for k in range(count)]
    if "linehaul" in data:
        source.deliveries = _amounts(data, ids, "linehaul", position)
    if "backhaul" in data:
        source.pickups = _amounts(data, ids, "backhaul", position)
    windows = _node_values(data, ids, "time_window", 2, position) if "time_window" in data \
        else {node: row[1:3] for node, row in pd.items()}
    source.windows = {node: (_number(a), _number(b)) for node, (a, b) in sorted(windows.items())}
    service = data.get("service_time")
    if isinstance(service, (int, float)):
        source.service = [0 if k == source.depot else _number(service) for k in range(count)]
    else:
        times = _node_values(data, ids, "service_time", 1, position) if service is not None \
            else {node: row[3:4] for node, row in pd.items()}
        if times:
            source.service = [_number(times.get(k, [0])[0]) for k in range(count)]
    pairs = set()
    for node, row in pd.items():
        for partner, is_pickup in ((row[4], False), (row[5], True)):
            if partner == 0:
                continue
            other = position.get(int(partner))
            if other is None:
                raise FormatError(f"PICKUP_AND_DELIVERY_SECTION pairs node {source.ids[node]} "
                                  f"with node {int(partner)}, which is not listed")
            pairs.add((node, other) if is_pickup else (other, node))
    source.pairs = sorted(pairs)


def _agent_count(source: FileInstance, agents: int | None) -> int:
    if agents is None:
        agents = source.vehicles
    if agents is None:
        match = re.search(r"-k(\d+)", source.name)
        if match is None:
            raise FormatError("the number of agents is not in the file (no VEHICLES, no -kNN "
                              "in its name); give it with --agents N")
        agents = int(match.group(1))
    if agents < 1:
        raise FormatError("at least one agent is needed")
    return agents


def _costs(source: FileInstance, round_costs: bool, fold_service: bool) -> list[list[Number]]:
    """cost(i, j) = travel(i, j), plus service(i) when folded."""
    points = source.coordinates
    service = (source.service if fold_service else None) or [0] * len(points)
    matrix: list[list[Number]] = []
    for i, a in enumerate(points):
        row: list[Number] = []
        for j, b in enumerate(points):
            travel = source.travel[i][j] if source.travel is not None else math.dist(a, b)
            if round_costs:
                travel = math.floor(travel + 0.5)
            row.append(travel + service[i] if i != j else travel)
        matrix.append(row)
    return matrix


def to_instance(source: FileInstance, agents: int | None = None, objective: str | None = None,
                time_limit: float = 60.0, agent_type: str = "salesman", matrix: bool = False,
                round_costs: bool = False, node_ids: str | None = None,
                fold_service: bool = False) -> dict[str, Any]:
    """The JSON instance of a file: every agent starts and ends at the depot; `agents` else the
    file's VEHICLES else the k of a "-kNN" name; node_ids "file", "index" or None (the
    file's numbers, positions for TYPE TSP); service times as the nodes' "service", or folded
    into the costs with `fold_service`; the costs as a Euclidean metric unless `matrix`,
    `round_costs` (travel rounded to whole numbers), folded service times or an explicit
    matrix ask for a matrix."""
    count = _agent_count(source, agents)
    if node_ids is None:
        node_ids = "index"
    ids = source.ids if node_ids == "file" else list(range(len(source.ids)))
    depot = ids[source.depot]
    nodes: list[dict[str, Any]] = [
        {"id": ids[k], "x": float(x), "y": float(y),
         "type": "depot" if k == source.depot else "target"}
        for k, (x, y) in enumerate(source.coordinates)]
    for node, demand in zip(nodes, source.demands or []):
        node["demand"] = demand
    for key, amounts in (("delivery", source.deliveries), ("pickup", source.pickups)):
        for node, amount in zip(nodes, amounts or []):
            if any(amount if isinstance(amount, list) else [amount]):
                node[key] = amount
    if not fold_service:
        for node, service in zip(nodes, source.service or []):
            if service:
                node["service"] = service
    agent_fields: dict[str, int | list[int]] = {}
    if source.capacity is not None:
        agent_fields["capacity"] = source.capacity
    if source.max_length is not None:
        agent_fields["max_length"] = source.max_length
    folded = fold_service and any(source.service or [])
    if matrix or round_costs or source.travel is not None or folded:
        costs: dict[str, Any] = {"costs": {agent_type: _costs(source, round_costs, fold_service)}}
    else:
        costs = {"metrics": {agent_type: {"kind": "euclidean", "factor": 1.0}}}
    constraints: list[dict[str, Any]] = [
        {"kind": "assignment", "items": [{"node": i, "types": [agent_type]} for i in ids]}]
    if source.windows:
        constraints.append({"kind": "timewindow", "items": [
            {"node": ids[k], "start": a, "end": b} for k, (a, b) in source.windows.items()]})
    if source.pairs:
        constraints.append({"kind": "sequence", "precedence": [
            item for p, d in source.pairs
            for item in ({"before": ids[p], "after": ids[d], "type": "same"},
                         {"before": ids[p], "after": ids[d]})]})
    loads = any(amounts is not None for amounts in (
        source.demands, source.capacity, source.deliveries, source.pickups))
    options: dict[str, Any] = {
        "objective": objective or ("min_sum" if loads or source.pairs else "min_max"),
        "return_to_end": True, "time_limit": time_limit}
    if loads:
        options["enforce_capacity"] = True
    if source.pairs:
        options["enforce_sequence"] = True
    if source.windows and not fold_service:
        # The field bills travel on time-window files; waits and services still bind.
        options["route_cost"] = "travel"
    return {
        "nodes": nodes,
        "agents": [{"id": k, "type": agent_type, "start_node": depot, "end_node": depot,
                    **agent_fields} for k in range(count)],
        **costs,
        "constraints": constraints,
        "options": options,
    }


def file_to_instance(path: FilePath, agents: int | None = None, objective: str | None = None,
                     time_limit: float = 60.0, agent_type: str = "salesman",
                     matrix: bool = False, round_costs: bool = False,
                     node_ids: str | None = None, fold_service: bool = False) -> dict[str, Any]:
    """read_instance_file, then to_instance."""
    return to_instance(read_instance_file(path), agents, objective, time_limit, agent_type,
                       matrix, round_costs, node_ids, fold_service)


def solution_routes(instance: dict[str, Any], result: Mapping[str, Any]) -> list[list[int]]:
    """The served nodes of each non-empty route, by node id: the route's node ids without its
    agent's start and end."""
    ends = {agent["id"]: (agent["start_node"], agent["end_node"]) for agent in instance["agents"]}
    routes = []
    for route in result["routes"]:
        stops = list(route["node_ids"])
        start, end = ends.get(route["agent_id"], (None, None))
        if stops and stops[0] == start:
            stops = stops[1:]
        if stops and stops[-1] == end:
            stops = stops[:-1]
        if stops:
            routes.append(stops)
    return routes


def write_vrplib_solution(path: FilePath, instance: dict[str, Any],
                          result: Mapping[str, Any]) -> None:
    """Writes the VRPLIB solution of a result with vrplib: "Route #1: 3 5 7" per non-empty
    route, then "Cost: <total>"."""
    total = float(result["statistics"]["sum_cost"])
    vrplib_module().write_solution(path, solution_routes(instance, result),
                             {"Cost": int(total) if total.is_integer() else format(total, ".15g")})
