#pragma once

#include <pybind11/pybind11.h>

#include "model/problem.h"

namespace tamrik::bindings {

// A cost matrix read straight from a two-dimensional buffer (a NumPy array of float64,
// float32 or integers, strided or not), without a Python object per entry. Raises
// TypeError for any other shape or element type.
CostMatrix MatrixFromBuffer(const pybind11::buffer& buffer);

}  // namespace tamrik::bindings
