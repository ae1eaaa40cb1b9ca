#pragma once

#include <pybind11/pybind11.h>

namespace tamrik::bindings {

// Registers the enumerations, the instance records, the constraint classes and Problem.
void BindModel(pybind11::module_& m);

}  // namespace tamrik::bindings
