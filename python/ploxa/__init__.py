"""Ploxa: a multiple travelling salesman solver.

The solver itself lives in the extension module ``_pyploxa_core``; this package adds the
command line (``python -m ploxa``) and helpers around the JSON instance format.
"""

from _pyploxa_core import solve_json_file, solve_json_str
from ploxa.tsplib import read_tsplib, tsplib_to_instance

__all__ = ["read_tsplib", "solve_json_file", "solve_json_str", "tsplib_to_instance"]
