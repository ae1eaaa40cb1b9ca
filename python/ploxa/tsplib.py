"""Conversion of TSPLIB EUC_2D instances into the solver's JSON instance format."""

import math
from pathlib import Path


class TsplibError(ValueError):
    """A file that is not a readable EUC_2D TSPLIB instance."""


def read_tsplib(path):
    """Returns (name, [(x, y), ...]) of a TSPLIB file whose EDGE_WEIGHT_TYPE is EUC_2D."""
    header = {}
    coordinates = []
    in_coordinates = False
    for number, line in enumerate(Path(path).read_text().splitlines(), start=1):
        line = line.strip()
        if not line or line == "EOF":
            continue
        if line == "NODE_COORD_SECTION":
            in_coordinates = True
        elif in_coordinates:
            fields = line.split()
            if len(fields) < 3:
                raise TsplibError(f"line {number}: expected 'index x y', got {line!r}")
            coordinates.append((float(fields[1]), float(fields[2])))
        elif ":" in line:
            key, value = line.split(":", 1)
            header[key.strip().upper()] = value.strip()
    if header.get("EDGE_WEIGHT_TYPE") != "EUC_2D":
        raise TsplibError(f"EDGE_WEIGHT_TYPE is {header.get('EDGE_WEIGHT_TYPE')!r}, not 'EUC_2D'")
    if not coordinates:
        raise TsplibError("no NODE_COORD_SECTION")
    dimension = int(header.get("DIMENSION", len(coordinates)))
    if dimension != len(coordinates):
        raise TsplibError(f"DIMENSION is {dimension} but {len(coordinates)} cities are listed")
    return header.get("NAME", Path(path).stem), coordinates


def tsplib_to_instance(path, agents, objective="min_max", time_limit=60.0, agent_type="salesman",
                       matrix=False):
    """A single-depot instance: the first city is the depot where every agent starts and ends,
    costs are unrounded Euclidean distances, one agent type serves every city. The costs are
    given as a Euclidean metric over the coordinates, or as a full matrix when `matrix`."""
    if agents < 1:
        raise TsplibError("at least one agent is needed")
    _, cities = read_tsplib(path)
    nodes = [{"id": i, "x": x, "y": y, "type": "depot" if i == 0 else "target"}
             for i, (x, y) in enumerate(cities)]
    if matrix:
        costs = {"costs": {agent_type: [[math.dist(a, b) for b in cities] for a in cities]}}
    else:
        costs = {"metrics": {agent_type: {"kind": "euclidean", "factor": 1.0}}}
    return {
        "nodes": nodes,
        "agents": [{"id": k, "type": agent_type, "start_node": 0, "end_node": 0}
                   for k in range(agents)],
        **costs,
        "constraints": [{"kind": "assignment",
                         "items": [{"node": i, "types": [agent_type]} for i in range(len(nodes))]}],
        "options": {"objective": objective, "return_to_end": True, "time_limit": time_limit},
    }
