#include "bindings/bind_solver.h"

#include <pybind11/stl.h>

#include "bindings/interrupt_guard.h"
#include "solver/solver.h"

namespace py = pybind11;

namespace tamrik::bindings {
namespace {

void BindResult(py::module_& m) {
    // No constructor: Results come only from a Solver. Every read builds new Python objects.
    py::class_<Result>(m, "Result")
        .def_property_readonly("n_generated", [](const Result& r) { return r.n_generated; })
        .def_property_readonly("n_expanded", [](const Result& r) { return r.n_expanded; })
        .def_property_readonly("timeout", [](const Result& r) { return r.timeout; })
        .def_property_readonly("last_update_time",
                               [](const Result& r) { return r.last_update_time; })
        .def_property_readonly("paths", [](const Result& r) { return r.paths; })
        .def_property_readonly("times", [](const Result& r) { return r.times; })
        .def_property_readonly("stop_reason",
                               [](const Result& r) { return StopReasonName(r.stop_reason); });
}

int32_t SolveInterruptibly(Solver& solver) {
    solver.SetInterruptCheck(PythonSignalPending);
    int32_t status = solver.Solve();
    solver.SetInterruptCheck(nullptr);
    RaiseIfInterrupted(solver.Interrupted());
    return status;
}

py::list ResultProcess(const Solver& solver) {
    py::list process;
    for (SearchSnapshot& snapshot : solver.GetResultProcess()) {
        process.append(py::make_tuple(snapshot.time, std::move(snapshot.result)));
    }
    return process;
}

}  // namespace

void BindSolver(py::module_& m) {
    BindResult(m);
    py::class_<Solver>(m, "Solver")
        .def(py::init<const Problem&, const Options&>(), py::arg("problem"), py::arg("options"))
        .def("solve", &SolveInterruptibly,
             "Run the Ploxa solver. Returns 1 on success, 0 on failure.")
        .def("get_result", &Solver::GetResult)
        .def("get_result_process",
             [](const Solver& solver) -> py::typing::List<py::typing::Tuple<float, Result>> {
                 return ResultProcess(solver);
             });
}

}  // namespace tamrik::bindings
