// set_log_handler: the core's lines to a Python callable.
#include <pybind11/pybind11.h>

#include <memory>
#include <string>

#include "base/log_sink.h"
#include "bindings/bind_solver.h"

namespace py = pybind11;

namespace tamrik::bindings {
namespace {

// A handler may be dropped on a thread without the interpreter lock (the last line logged
// with it may end after it was replaced), so the callable is released under the lock.
struct PythonCallable {
    py::object callable;
    explicit PythonCallable(py::object held) : callable(std::move(held)) {}
    PythonCallable(const PythonCallable&) = delete;
    PythonCallable& operator=(const PythonCallable&) = delete;
    ~PythonCallable() {
        if (!Py_IsInitialized()) {
            callable.release();
            return;
        }
        py::gil_scoped_acquire lock;
        callable = py::object();
    }
};

void CallHandler(const PythonCallable& handler, const std::string& line) {
    py::gil_scoped_acquire lock;
    // Lines hold instance text, which need not be valid UTF-8.
    py::object text = py::reinterpret_steal<py::object>(
        PyUnicode_DecodeUTF8(line.data(), static_cast<Py_ssize_t>(line.size()), "replace"));
    try {
        if (!text) throw py::error_already_set();
        handler.callable(text);
    } catch (py::error_already_set& error) {
        // The solve goes on; Python reports the handler's failure as it does for a finaliser.
        error.discard_as_unraisable("ploxa log handler");
    }
}

// A handler that holds lines back may have flush() to let them out when a solve ends.
void CallFlush(const PythonCallable& handler) {
    py::gil_scoped_acquire lock;
    try {
        if (py::hasattr(handler.callable, "flush")) handler.callable.attr("flush")();
    } catch (py::error_already_set& error) {
        error.discard_as_unraisable("ploxa log handler");
    }
}

void SetPythonLogHandler(const py::object& handler) {
    if (handler.is_none()) {
        SetLogHandler(nullptr);
        return;
    }
    if (!PyCallable_Check(handler.ptr())) {
        throw py::type_error("set_log_handler: the handler must be callable or None, not " +
                             std::string(py::str(py::type::of(handler).attr("__name__"))));
    }
    auto held = std::make_shared<PythonCallable>(handler);
    SetLogHandler([held](LogStream stream, const std::string& line) {
        if (stream == LogStream::kEndOfWork) {
            CallFlush(*held);
        } else {
            CallHandler(*held, line);
        }
    });
}

}  // namespace

void BindLog(py::module_& m) {
    m.def("set_log_handler", &SetPythonLogHandler, py::arg("handler"),
          "Send every line the core prints (warnings, notes of the search and the stages) to\n"
          "handler(line) instead of standard output and standard error; None restores them.\n"
          "The handler is called from the solving thread, one line at a time, without the\n"
          "newline. A handler with a flush() method has it called when a solve or a check\n"
          "ends.");
    // The handler must not outlive the interpreter.
    py::module_::import("atexit").attr("register")(
        py::cpp_function([]() { SetLogHandler(nullptr); }));
}

}  // namespace tamrik::bindings
