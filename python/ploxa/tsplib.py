"""TSPLIB EUC_2D files as the benchmarks use them, read through ploxa.formats (and so through
the vrplib package)."""

from typing import Any

from ploxa.formats import FilePath, FormatError, file_to_instance, read_instance_file

TsplibError = FormatError


def read_tsplib(path: FilePath) -> tuple[str, list[tuple[float, float]]]:
    """Returns (name, [(x, y), ...]) of a TSPLIB file whose EDGE_WEIGHT_TYPE is EUC_2D."""
    source = read_instance_file(path)
    if source.edge_weight_type != "EUC_2D":
        raise TsplibError(f"EDGE_WEIGHT_TYPE is {source.edge_weight_type!r}, not 'EUC_2D'")
    return source.name, source.coordinates


def tsplib_to_instance(path: FilePath, agents: int, objective: str = "min_max",
                       time_limit: float = 60.0, agent_type: str = "salesman",
                       matrix: bool = False) -> dict[str, Any]:
    """A single-depot instance: the first city (node 0) is the depot where every agent starts
    and ends, costs are unrounded Euclidean distances, one agent type serves every city. The
    costs are given as a Euclidean metric over the coordinates, or as a full matrix when
    `matrix`."""
    return file_to_instance(path, agents, objective, time_limit, agent_type, matrix,
                            node_ids="index")
