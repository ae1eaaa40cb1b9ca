#pragma once

#include <Python.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>

namespace tamrik::bindings {

// Keyword arguments of the solve functions are taken as plain objects and checked here, so
// that a wrong one raises an error naming it rather than the binding library's overload
// error, which quotes every argument, the whole instance text included.

inline std::string TypeName(const pybind11::handle& value) {
    return Py_TYPE(value.ptr())->tp_name;
}

// None, or a whole number from 0 to 2**64 - 1.
inline std::optional<uint64_t> CountArgument(const char* name, const pybind11::handle& value) {
    if (value.is_none()) return std::nullopt;
    if (!PyLong_Check(value.ptr()) || PyBool_Check(value.ptr())) {
        throw pybind11::type_error(std::string(name) + " must be a whole number or None, not " +
                                   TypeName(value));
    }
    const std::string shown = pybind11::str(value);
    if (!shown.empty() && shown.front() == '-') {
        throw pybind11::value_error(std::string(name) + " = " + shown + " is negative");
    }
    const unsigned long long count = PyLong_AsUnsignedLongLong(value.ptr());
    if (PyErr_Occurred()) {
        PyErr_Clear();
        throw pybind11::value_error(std::string(name) + " = " + shown +
                                    " is above 2**64 - 1");
    }
    return static_cast<uint64_t>(count);
}

// None, True or False.
inline std::optional<bool> FlagArgument(const char* name, const pybind11::handle& value) {
    if (value.is_none()) return std::nullopt;
    if (!PyBool_Check(value.ptr())) {
        throw pybind11::type_error(std::string(name) + " must be True, False or None, not " +
                                   TypeName(value));
    }
    return value.ptr() == Py_True;
}

// A real number (an int or a float).
inline double NumberArgument(const char* name, const pybind11::handle& value) {
    if (PyBool_Check(value.ptr()) || !(PyLong_Check(value.ptr()) || PyFloat_Check(value.ptr()))) {
        throw pybind11::type_error(std::string(name) + " must be a number, not " +
                                   TypeName(value));
    }
    return value.cast<double>();
}

}  // namespace tamrik::bindings
