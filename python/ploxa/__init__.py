"""Ploxa: a multiple travelling salesman solver.

Everything is here: the core's classes and functions (``Problem``, ``Solver``,
``solve_json_file``, ...), batches (``solve_many``), pictures (``plot_solution``, with the
``plot`` extra), the shape of the result dictionary (``SolveResult``), the TSPLIB reader,
and where the core's own lines go (``set_log_handler``, ``log_to_logging``). The core itself
is the extension module ``_pyploxa_core``, which keeps its own name and surface.
"""

from importlib import metadata

from _pyploxa_core import (
    Agent,
    AssignmentConstraint,
    InitialRoute,
    InputError,
    Node,
    NodeType,
    ObjectiveType,
    Options,
    Position,
    Problem,
    Progress,
    Result,
    RouteCostKind,
    StageSearch,
    Solver,
    TimeWindowConstraint,
    check_json_str,
    check_problem,
    instance_keys,
    set_log_handler,
    solve_json_file,
    solve_json_str,
)
from ploxa.batch import BatchRow, solve_many
from ploxa.logs import log_to_logging
from ploxa.plot import plot_solution
from ploxa.results import SolveResult
from ploxa.tsplib import read_tsplib, tsplib_to_instance

__all__ = [
    "Agent", "AssignmentConstraint", "BatchRow", "InitialRoute", "InputError", "Node", "NodeType", "ObjectiveType", "Options",
    "Position", "Problem", "Progress", "Result", "RouteCostKind", "Solver", "StageSearch", "TimeWindowConstraint",
    "check_json_str", "check_problem", "instance_keys", "log_to_logging", "plot_solution", "read_tsplib",
    "set_log_handler", "solve_json_file", "solve_json_str", "solve_many", "tsplib_to_instance",
    "SolveResult", "__version__",
]

try:
    __version__ = metadata.version("ploxa")
except metadata.PackageNotFoundError:  # run from the source tree without being installed
    __version__ = "0+unknown"
