#include "bindings/bind_solver.h"

#include <pybind11/stl.h>

#include "base/log_sink.h"
#include "bindings/interrupt_guard.h"
#include "bindings/progress_relay.h"
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
                               [](const Result& r) { return StopReasonName(r.stop_reason); })
        .def_property_readonly("node_ids", [](const Result& r) { return r.node_ids; })
        .def_property_readonly("method", [](const Result& r) { return r.method; })
        .def_property_readonly("fixed_cost", [](const Result& r) { return r.fixed_cost; })
        .def_property_readonly("lost_prize", [](const Result& r) { return r.lost_prize; })
        .def_property_readonly("schedules", [](const Result& r) {
            py::dict out;
            for (const auto& [agent, schedule] : r.schedules) {
                py::list stops;
                for (const StopTime& stop : schedule.stops) {
                    stops.append(py::make_tuple(stop.arrival, stop.start));
                }
                py::dict entry;
                entry["start_time"] = schedule.start_time;
                entry["end_time"] = schedule.end_time;
                entry["travel"] = schedule.travel;
                entry["stops"] = stops;
                out[py::int_(agent)] = entry;
            }
            return out;
        }, "When each route happens, by agent index: start_time, end_time, travel and, per "
           "target, (arrival, start of service).")
        .def_property_readonly("unassigned", [](const Result& r) {
            py::list out;
            for (const UnassignedStop& stop : r.unassigned) {
                out.append(py::make_tuple(stop.node_id, stop.reason));
            }
            return out;
        }, "The stops left out of a partial plan, or found to fit nowhere by a failed solve, as "
           "(node id, reason).");
}

void BindProgress(py::module_& m) {
    py::class_<ProgressReport>(m, "Progress")
        .def_readonly("time", &ProgressReport::time)
        .def_readonly("longest", &ProgressReport::longest)
        .def_readonly("total", &ProgressReport::total)
        .def_property_readonly("source", [](const ProgressReport& p) { return p.source; })
        .def_readonly("routes", &ProgressReport::routes,
                      "Each agent's path as node ids, start and end included, in the agents' "
                      "order (the routes' \"node_ids\" of the result).")
        .def("__repr__", [](const ProgressReport& p) {
            return "Progress(time=" + py::repr(py::float_(p.time)).cast<std::string>() +
                   ", longest=" + py::repr(py::float_(p.longest)).cast<std::string>() +
                   ", total=" + py::repr(py::float_(p.total)).cast<std::string>() +
                   ", source='" + p.source + "')";
        });
}

int32_t SolveInterruptibly(Solver& solver, const py::object& progress, bool release_gil) {
    ProgressRelay relay(progress);
    const EndOfWorkNotice end_of_work;
    solver.SetInterruptCheck(release_gil ? PythonSignalPendingUnlocked : PythonSignalPending);
    solver.SetProgressCallback(relay.Callback());
    int32_t status = MaybeReleasingTheLock(release_gil, [&]() { return solver.Solve(); });
    solver.SetInterruptCheck(nullptr);
    solver.SetProgressCallback(nullptr);
    relay.RaiseIfFailed();
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
    BindProgress(m);
    py::class_<Solver>(m, "Solver")
        .def(py::init<const Problem&, const Options&>(), py::arg("problem"), py::arg("options"))
        .def("solve", &SolveInterruptibly, py::kw_only(), py::arg("progress") = py::none(),
             py::arg("release_gil") = false,
             "Run the Ploxa solver. Returns 1 on success, 0 on failure.\n"
             "With release_gil=True the interpreter lock is released while the core works "
             "(taken back only to call\nprogress), so other Python threads run meanwhile.")
        .def("get_result", &Solver::GetResult)
        .def("get_result_process",
             [](const Solver& solver) -> py::typing::List<py::typing::Tuple<float, Result>> {
                 return ResultProcess(solver);
             });
}

}  // namespace tamrik::bindings
