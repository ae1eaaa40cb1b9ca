#pragma once

#include <Python.h>
#include <pybind11/pybind11.h>

namespace tamrik::bindings {

// Lets the search notice pending signals (Ctrl-C) while it holds the interpreter lock: the
// check runs the Python signal handlers, which leave an exception set when they raise.
inline bool PythonSignalPending() { return PyErr_CheckSignals() != 0; }

// Turns an interrupted search into the Python exception its signal handler raised.
inline void RaiseIfInterrupted(bool interrupted) {
    if (interrupted) throw pybind11::error_already_set();
}

}  // namespace tamrik::bindings
