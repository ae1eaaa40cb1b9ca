#pragma once

#include <Python.h>
#include <pybind11/pybind11.h>

#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

namespace tamrik::bindings {

// Number fields of the records read what their JSON keys read: a value of the wrong kind,
// or a fraction where a whole number is meant, raises ValueError naming the field and the
// value, where the binding library would raise a TypeError that names neither, or truncate.
namespace fields {

[[noreturn]] inline void Reject(const std::string& field, const pybind11::handle& value,
                                const char* wanted) {
    throw pybind11::value_error(field + " must be " + wanted + ", not " +
                                std::string(pybind11::repr(value)));
}

inline bool IsNumber(const pybind11::handle& value) {
    return !PyBool_Check(value.ptr()) && (PyLong_Check(value.ptr()) || PyFloat_Check(value.ptr()));
}

inline double Real(const std::string& field, const pybind11::handle& value) {
    if (!IsNumber(value)) Reject(field, value, "a number");
    return value.cast<double>();
}

// A whole value from an int, or from a float with nothing after the point.
template <typename Whole>
Whole WholeOf(const std::string& field, const pybind11::handle& value, const char* wanted) {
    if (!IsNumber(value)) Reject(field, value, wanted);
    if (PyFloat_Check(value.ptr())) {
        const double number = value.cast<double>();
        if (!std::isfinite(number) || std::floor(number) != number) Reject(field, value, wanted);
    }
    try {
        return pybind11::int_(pybind11::reinterpret_borrow<pybind11::object>(value)).cast<Whole>();
    } catch (const pybind11::cast_error&) {
        Reject(field, value, wanted);
    }
}

template <typename Value>
Value Read(const std::string& field, const pybind11::handle& value) {
    if constexpr (std::is_same_v<Value, double>) {
        return Real(field, value);
    } else if constexpr (std::is_same_v<Value, uint64_t>) {
        return WholeOf<uint64_t>(field, value, "a whole number from 0 to 2**64 - 1");
    } else if constexpr (std::is_same_v<Value, std::vector<double>>) {
        if (!pybind11::isinstance<pybind11::list>(value) && !pybind11::isinstance<pybind11::tuple>(value)) {
            Reject(field, value, "a list of numbers");
        }
        std::vector<double> amounts;
        for (const pybind11::handle item : value) {
            if (!IsNumber(item)) Reject(field, value, "a list of numbers");
            amounts.push_back(item.cast<double>());
        }
        return amounts;
    } else if constexpr (std::is_same_v<Value, std::optional<double>>) {
        if (value.is_none()) return std::nullopt;
        return Real(field, value);
    } else {
        static_assert(std::is_same_v<Value, std::optional<int64_t>>);
        if (value.is_none()) return std::nullopt;
        return WholeOf<int64_t>(field, value, "a whole number or None");
    }
}

}  // namespace fields

// Binds `member` of the record as a read-write attribute whose setter checks its value.
template <typename Class, typename Record, typename Value>
void CheckedField(Class& cls, const char* record_name, const char* name, Value Record::*member) {
    const std::string field = std::string(record_name) + "." + name;
    cls.def_property(
        name, [member](const Record& record) { return record.*member; },
        [member, field](Record& record, const pybind11::handle& value) {
            record.*member = fields::Read<Value>(field, value);
        });
}

}  // namespace tamrik::bindings
