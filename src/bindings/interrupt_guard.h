#pragma once

#include <Python.h>
#include <pybind11/pybind11.h>

namespace tamrik::bindings {

// Lets the search notice pending signals (Ctrl-C) while it holds the interpreter lock: the
// check runs the Python signal handlers, which leave an exception set when they raise.
inline bool PythonSignalPending() { return PyErr_CheckSignals() != 0; }

// The same check for a solve that runs with the interpreter lock released: it takes the lock
// for the check only.
inline bool PythonSignalPendingUnlocked() {
    pybind11::gil_scoped_acquire acquire;
    return PyErr_CheckSignals() != 0;
}

// Runs `solve` with the interpreter lock released when `release` is true (other Python
// threads then run meanwhile), else holding it.
template <typename Solve>
auto MaybeReleasingTheLock(bool release, const Solve& solve) {
    if (!release) return solve();
    pybind11::gil_scoped_release released;
    return solve();
}

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
