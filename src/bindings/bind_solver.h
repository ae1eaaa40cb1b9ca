#pragma once

#include <pybind11/pybind11.h>

namespace tamrik::bindings {

// Registers Result and Solver.
void BindSolver(pybind11::module_& m);

// Registers solve_json_file and solve_json_str.
void BindJsonSolve(pybind11::module_& m);

// Registers set_log_handler.
void BindLog(pybind11::module_& m);

}  // namespace tamrik::bindings
