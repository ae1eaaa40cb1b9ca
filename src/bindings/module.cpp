// Entry point of the _pyploxa_core extension module: version check, multi-phase
// initialisation, and registration of every name in a fixed order.
#include <Python.h>
#include <pybind11/pybind11.h>

#include "bindings/bind_model.h"
#include "bindings/bind_solver.h"
#include "bindings/version_check.h"

namespace py = pybind11;

namespace {

constexpr const char* kCompiledVersion = PYBIND11_TOSTRING(PY_MAJOR_VERSION) "." PYBIND11_TOSTRING(
    PY_MINOR_VERSION);

void RegisterModule(py::module_& m) {
    m.doc() = "Ploxa MTSP Solver \u2014 C++ core bindings";
    tamrik::bindings::BindModel(m);
    tamrik::bindings::BindSolver(m);
    tamrik::bindings::BindJsonSolve(m);
    tamrik::bindings::BindLog(m);
}

int ExecModule(PyObject* module) {
    try {
        py::detail::ensure_internals();
        auto m = py::reinterpret_borrow<py::module_>(module);
        if (!py::detail::get_cached_module(m.attr("__spec__").attr("name"))) {
            RegisterModule(m);
            py::detail::cache_completed_module(m);
        }
        return 0;
    }
    PYBIND11_CATCH_INIT_EXCEPTIONS
    return -1;
}

}  // namespace

extern "C" PYBIND11_EXPORT PyObject* PyInit__pyploxa_core() {
    const char* running = Py_GetVersion();
    if (!tamrik::PythonVersionMatches(running, kCompiledVersion)) {
        PyErr_SetString(PyExc_ImportError,
                        tamrik::PythonVersionMismatchMessage(running, kCompiledVersion).c_str());
        return nullptr;
    }
    try {
        py::detail::ensure_internals();
        static py::detail::slots_array slots =
            py::detail::init_slots(&ExecModule, py::multiple_interpreters::not_supported());
        static PyModuleDef definition{PyModuleDef_HEAD_INIT,
                                      "_pyploxa_core",
                                      nullptr,
                                      0,
                                      nullptr,
                                      slots.data(),
                                      nullptr,
                                      nullptr,
                                      nullptr};
        return PyModuleDef_Init(&definition);
    }
    PYBIND11_CATCH_INIT_EXCEPTIONS
    return nullptr;
}
