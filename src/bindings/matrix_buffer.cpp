#include "bindings/matrix_buffer.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace py = pybind11;

namespace tamrik::bindings {
namespace {

template <class T>
CostMatrix RowsOf(const py::buffer_info& info) {
    const auto rows = static_cast<size_t>(info.shape[0]);
    const auto columns = static_cast<size_t>(info.shape[1]);
    const auto* base = static_cast<const char*>(info.ptr);
    CostMatrix matrix(rows);
    for (size_t i = 0; i < rows; ++i) {
        std::vector<double>& row = matrix[i];
        row.resize(columns);
        const char* entry = base + static_cast<ptrdiff_t>(i) * info.strides[0];
        for (size_t j = 0; j < columns; ++j, entry += info.strides[1]) {
            T value;
            std::memcpy(&value, entry, sizeof(T));  // strides need not keep T aligned
            row[j] = static_cast<double>(value);
        }
    }
    return matrix;
}

template <class Signed, class Unsigned>
CostMatrix IntegerRows(const py::buffer_info& info, bool is_signed) {
    return is_signed ? RowsOf<Signed>(info) : RowsOf<Unsigned>(info);
}

[[noreturn]] void RejectFormat(const py::buffer_info& info) {
    throw py::type_error("matrix must hold float64, float32 or integer entries in the "
                         "machine's byte order, not buffer format '" + info.format + "'");
}

CostMatrix ConvertedRows(const py::buffer_info& info) {
    std::string format = info.format;
    // '@' and '=' are native; '<' is too on the little-endian machines the module is built for.
    if (!format.empty() && (format[0] == '@' || format[0] == '=' || format[0] == '<')) {
        format.erase(0, 1);
    }
    if (format.size() != 1) RejectFormat(info);
    const char code = format[0];
    if (code == 'd' && info.itemsize == 8) return RowsOf<double>(info);
    if (code == 'f' && info.itemsize == 4) return RowsOf<float>(info);
    if (std::strchr("bhilqn", code) == nullptr && std::strchr("BHILQN", code) == nullptr) {
        RejectFormat(info);
    }
    const bool is_signed = std::strchr("bhilqn", code) != nullptr;
    switch (info.itemsize) {
        case 1: return IntegerRows<int8_t, uint8_t>(info, is_signed);
        case 2: return IntegerRows<int16_t, uint16_t>(info, is_signed);
        case 4: return IntegerRows<int32_t, uint32_t>(info, is_signed);
        case 8: return IntegerRows<int64_t, uint64_t>(info, is_signed);
        default: RejectFormat(info);
    }
}

}  // namespace

CostMatrix MatrixFromBuffer(const py::buffer& buffer) {
    py::buffer_info info;
    try {
        info = buffer.request();
    } catch (py::error_already_set& error) {
        throw py::type_error("matrix must be a list of rows or a two-dimensional array of "
                             "numbers: " + std::string(error.what()));
    }
    if (info.ndim != 2) {
        throw py::type_error("matrix must be two-dimensional, not " + std::to_string(info.ndim) +
                             "-dimensional");
    }
    return ConvertedRows(info);
}

}  // namespace tamrik::bindings
