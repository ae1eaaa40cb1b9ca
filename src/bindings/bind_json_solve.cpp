#include <string>

#include <pybind11/stl.h>

#include "api/instance_solve.h"
#include "base/log_sink.h"
#include "bindings/argument_checks.h"
#include "bindings/bind_solver.h"
#include "bindings/interrupt_guard.h"
#include "bindings/progress_relay.h"
#include "model/json_fields.h"
#include "model/unread_input.h"

namespace py = pybind11;

namespace tamrik::bindings {
namespace {

// "start_time", "end_time", "travel" and "schedule": per target, its node id, arrival and
// start of service.
void AddSchedule(py::dict& route, const RouteSchedule& schedule, const std::vector<uint64_t>& ids) {
    route["start_time"] = schedule.start_time;
    route["end_time"] = schedule.end_time;
    route["travel"] = schedule.travel;
    py::list stops;
    for (size_t k = 0; k < schedule.stops.size() && k + 1 < ids.size(); ++k) {
        py::dict stop;
        stop["node"] = ids[k + 1];
        stop["arrival"] = schedule.stops[k].arrival;
        stop["start"] = schedule.stops[k].start;
        stops.append(stop);
    }
    route["schedule"] = stops;
}

// Route entries follow Problem::agents_ordered; the result keys routes by that position.
// Routes priced by distance and duration give both: the travel, and the time from departure
// to the end.
py::list Routes(const InstanceSolve& solve) {
    py::list routes;
    const bool priced = solve.problem.PricesRoutes();
    const auto& agents = solve.problem.agents_ordered;
    for (size_t k = 0; k < agents.size(); ++k) {
        auto path = solve.result.paths.find(static_cast<int64_t>(k));
        auto time = solve.result.times.find(static_cast<int64_t>(k));
        double cost = time == solve.result.times.end() ? 0.0 : time->second;
        py::dict route;
        route["agent_id"] = agents[k].id;
        route["path"] = path == solve.result.paths.end() ? py::list() : py::cast(path->second);
        route["cost"] = cost;
        auto ids = solve.result.node_ids.find(static_cast<int64_t>(k));
        route["node_ids"] = ids == solve.result.node_ids.end() ? py::list() : py::cast(ids->second);
        auto schedule = solve.result.schedules.find(static_cast<int64_t>(k));
        if (schedule != solve.result.schedules.end() && ids != solve.result.node_ids.end()) {
            AddSchedule(route, schedule->second, ids->second);
            if (priced) {
                route["distance"] = schedule->second.travel;
                route["duration"] = schedule->second.end_time - schedule->second.start_time;
            }
        }
        routes.append(route);
    }
    return routes;
}

py::dict ResultDictionary(const InstanceSolve& solve) {
    py::dict out;
    out["status"] = solve.result.paths.empty()          ? "failed"
                    : solve.result.unassigned.empty() ? "success"
                                                      : "partial";
    out["timeout"] = solve.result.timeout;
    out["routes"] = Routes(solve);
    py::dict statistics;
    statistics["solve_time"] = solve.solve_time;
    statistics["max_cost"] = LargestRouteCost(solve.result);
    statistics["sum_cost"] = TotalRouteCost(solve.result);
    statistics["n_generated"] = solve.result.n_generated;
    statistics["n_expanded"] = solve.result.n_expanded;
    statistics["last_update_time"] = solve.result.last_update_time;
    statistics["method"] = solve.result.method;
    statistics["fixed_cost"] = solve.result.fixed_cost;
    statistics["lost_prize"] = solve.result.lost_prize;
    if (solve.problem.PricesRoutes()) {
        double distance = 0.0;
        double duration = 0.0;
        for (size_t k = 0; k < solve.problem.agents_ordered.size(); ++k) {
            auto schedule = solve.result.schedules.find(static_cast<int64_t>(k));
            if (schedule == solve.result.schedules.end()) continue;
            distance += schedule->second.travel;
            duration += schedule->second.end_time - schedule->second.start_time;
        }
        statistics["distance"] = distance;
        statistics["duration"] = duration;
    }
    out["statistics"] = statistics;
    py::list anytime;
    for (const Improvement& step : AnytimeImprovements(solve.process, solve.problem.options.objective)) {
        py::dict entry;
        entry["time"] = step.time;
        entry["max_cost"] = step.max_cost;
        entry["sum_cost"] = step.sum_cost;
        anytime.append(entry);
    }
    out["anytime"] = anytime;
    out["stop_reason"] = StopReasonName(solve.result.stop_reason);
    py::list unassigned;
    for (const UnassignedStop& stop : solve.result.unassigned) {
        py::dict entry;
        entry["node"] = stop.node_id;
        entry["reason"] = stop.reason;
        unassigned.append(entry);
    }
    out["unassigned"] = unassigned;
    return out;
}

// The keyword arguments of the solve functions, as given.
struct SolveArguments {
    py::object time_limit, improve, seed, memory_limit, progress, enforce_capacity,
        enforce_sequence, threads, release_gil;
};

py::dict SolveJsonStr(const std::string& json_str, const SolveArguments& given) {
    const double time_limit = NumberArgument("time_limit", given.time_limit);
    const OptionOverrides overrides{FlagArgument("improve", given.improve),
                                    CountArgument("seed", given.seed),
                                    CountArgument("memory_limit", given.memory_limit),
                                    FlagArgument("enforce_capacity", given.enforce_capacity),
                                    FlagArgument("enforce_sequence", given.enforce_sequence),
                                    CountArgument("threads", given.threads)};
    const bool release_gil = FlagArgument("release_gil", given.release_gil).value_or(false);
    ProgressRelay relay(given.progress);
    const EndOfWorkNotice end_of_work;
    const auto interrupt = release_gil ? PythonSignalPendingUnlocked : PythonSignalPending;
    const auto callback = relay.Callback();
    InstanceSolve solve = MaybeReleasingTheLock(release_gil, [&]() {
        return SolveInstanceText(json_str, time_limit, interrupt, overrides, callback);
    });
    py::dict out = ResultDictionary(solve);
    relay.RaiseIfFailed(out);
    RaiseIfInterrupted(solve.interrupted, out);
    return out;
}

// Binds a solve function whose first argument is turned into the instance text by `text`.
template <typename Text>
void DefineSolve(py::module_& m, const char* name, const char* first, const Text& text,
                 const char* doc) {
    m.def(
        name,
        [text](const std::string& given_first, const py::object& time_limit,
               const py::object& improve, const py::object& seed,
               const py::object& memory_limit, const py::object& progress,
               const py::object& enforce_capacity, const py::object& enforce_sequence,
               const py::object& threads, const py::object& release_gil) {
            return SolveJsonStr(text(given_first),
                                SolveArguments{time_limit, improve, seed, memory_limit, progress,
                                               enforce_capacity, enforce_sequence, threads,
                                               release_gil});
        },
        py::arg(first), py::arg("time_limit") = -1, py::kw_only(),
        py::arg("improve") = py::none(), py::arg("seed") = py::none(),
        py::arg("memory_limit") = py::none(), py::arg("progress") = py::none(),
        py::arg("enforce_capacity") = py::none(), py::arg("enforce_sequence") = py::none(),
        py::arg("threads") = py::none(), py::arg("release_gil") = false, doc);
}

py::list Findings(const std::vector<Finding>& findings) {
    py::list out;
    for (const Finding& finding : findings) {
        out.append(py::make_tuple(finding.IsError() ? "error" : "warning", finding.message));
    }
    return out;
}

}  // namespace

void BindInputError(py::module_& m) {
    // A ValueError, as the value is at fault; also a RuntimeError, which is what every
    // reading error of an instance raised before they named their field.
    static PyObject* input_error = nullptr;
    const py::tuple bases = py::make_tuple(py::handle(PyExc_ValueError), py::handle(PyExc_RuntimeError));
    input_error = PyErr_NewExceptionWithDoc(
        "_pyploxa_core.InputError",
        "A value of an instance that does not fit its field; the message names the field's "
        "path and the value.",
        bases.ptr(), nullptr);
    if (input_error == nullptr) throw py::error_already_set();
    m.attr("InputError") = py::reinterpret_borrow<py::object>(input_error);
    py::register_exception_translator([](std::exception_ptr raised) {
        try {
            if (raised) std::rethrow_exception(raised);
        } catch (const InputError& error) {
            PyErr_SetString(input_error, error.what());
        }
    });
}

void BindJsonSolve(py::module_& m) {
    BindInputError(m);
    DefineSolve(
        m, "solve_json_file", "input_path",
        [](const std::string& path) { return ReadInstanceFile(path); },
        "Solve an MTSP instance from a JSON file path.\n"
        "With release_gil=True the interpreter lock is released while the core works.\n"
        "Returns a dict with keys: status, routes, statistics, anytime, timeout.");
    DefineSolve(
        m, "solve_json_str", "json_str",
        [](const std::string& text) -> const std::string& { return text; },
        "Solve an MTSP instance from a JSON string.\n"
        "With release_gil=True the interpreter lock is released while the core works.\n"
        "Returns a dict with keys: status, routes, statistics, anytime, timeout.");
    m.def(
        "instance_keys",
        [] {
            py::dict keys;
            for (const auto& [place, names] : known_keys()) keys[py::str(place)] = names;
            return keys;
        },
        "Every key the JSON loader reads, by where it stands (\"\" is the top level,\n"
        "\"nodes[]\" a node, \"timewindow.items[]\" an item of that constraint kind, ...).");
    m.def(
        "check_problem",
        [](const Problem& problem, const std::optional<Options>& options) {
            const EndOfWorkNotice end_of_work;
            return Findings(CheckProblemAndStops(problem, options ? *options : problem.options));
        },
        py::arg("problem"), py::arg("options") = py::none(),
        "Every error and warning of a problem, without solving it.\n"
        "Returns a list of (\"error\" or \"warning\", message), errors first.");
    m.def(
        "check_json_str",
        [](const std::string& json_str, const py::object& enforce_capacity,
           const py::object& enforce_sequence) {
            OptionOverrides overrides;
            overrides.enforce_capacity = FlagArgument("enforce_capacity", enforce_capacity);
            overrides.enforce_sequence = FlagArgument("enforce_sequence", enforce_sequence);
            const EndOfWorkNotice end_of_work;
            return Findings(CheckInstanceText(json_str, overrides));
        },
        py::arg("json_str"), py::kw_only(), py::arg("enforce_capacity") = py::none(),
        py::arg("enforce_sequence") = py::none(),
        "Every error and warning of a JSON instance, without solving it.\n"
        "Returns a list of (\"error\" or \"warning\", message), errors first; text that\n"
        "cannot be read as an instance raises as solve_json_str does.");
}

}  // namespace tamrik::bindings
