#pragma once

#include <Python.h>
#include <pybind11/pybind11.h>

namespace tamrik::bindings {

// Lets the search notice pending signals (Ctrl-C) while it holds the interpreter lock: the
// check runs the Python signal handlers, which leave an exception set when they raise.
inline bool PythonSignalPending() { return PyErr_CheckSignals() != 0; }

// Turns an interrupted search into the Python exception its signal handler raised. A
// `partial` result other than None rides along as the exception's attribute "result", so
// the caller keeps the best solution found before the interrupt.
inline void RaiseIfInterrupted(bool interrupted,
                               const pybind11::object& partial = pybind11::none()) {
    if (!interrupted) return;
    pybind11::error_already_set error;
    if (!partial.is_none()) pybind11::setattr(error.value(), "result", partial);
    throw error;
}

}  // namespace tamrik::bindings
