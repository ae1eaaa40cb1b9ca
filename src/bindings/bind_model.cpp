#include "bindings/bind_model.h"

#include <utility>

#include <pybind11/stl.h>
#include <pybind11/typing.h>

#include "bindings/checked_fields.h"
#include "bindings/matrix_buffer.h"
#include "model/constraints.h"
#include "model/problem.h"
#include "model/records.h"

namespace py = pybind11;

namespace tamrik::bindings {
namespace {

void BindEnums(py::module_& m) {
    py::enum_<ObjectiveType>(m, "ObjectiveType")
        .value("MinMax", ObjectiveType::MinMax)
        .value("MinSum", ObjectiveType::MinSum);
    py::enum_<RouteCostKind>(m, "RouteCostKind")
        .value("Duration", RouteCostKind::Duration)
        .value("Travel", RouteCostKind::Travel);
    py::enum_<StageSearch>(m, "StageSearch")
        .value("Anneal", StageSearch::Anneal)
        .value("Population", StageSearch::Population)
        .value("Auto", StageSearch::Auto);
    py::enum_<NodeType>(m, "NodeType")
        .value("DEPOT", NodeType::DEPOT)
        .value("TARGET", NodeType::TARGET);
}

void BindRecords(py::module_& m) {
    py::class_<Position>(m, "Position")
        .def(py::init<>())
        .def_readwrite("x", &Position::x)
        .def_readwrite("y", &Position::y)
        .def_readwrite("z", &Position::z);
    // With the smart holder, `position` hands out a view that shares ownership of the node.
    py::class_<Node, py::smart_holder> node(m, "Node");
    node.def(py::init<>())
        .def_readwrite("position", &Node::position)
        .def_readwrite("type", &Node::type)
        .def_readwrite("required", &Node::required);
    CheckedField(node, "Node", "id", &Node::id);
    for (const auto& [name, member] : {std::pair{"demand", &Node::demand},
                                       std::pair{"service", &Node::service},
                                       std::pair{"prize", &Node::prize}}) {
        CheckedField(node, "Node", name, member);
    }
    for (const auto& [name, member] : {std::pair{"demands", &Node::demands},
                                       std::pair{"pickup", &Node::pickup},
                                       std::pair{"delivery", &Node::delivery}}) {
        CheckedField(node, "Node", name, member);
    }
    py::class_<Agent> agent(m, "Agent");
    agent.def(py::init<>()).def_readwrite("type", &Agent::type);
    for (const auto& [name, member] : {std::pair{"id", &Agent::id},
                                       std::pair{"start_node", &Agent::start_node},
                                       std::pair{"end_node", &Agent::end_node}}) {
        CheckedField(agent, "Agent", name, member);
    }
    for (const auto& [name, member] : {std::pair{"capacity_limit", &Agent::capacity_limit},
                                       std::pair{"time_limit", &Agent::time_limit},
                                       std::pair{"fixed_cost", &Agent::fixed_cost}}) {
        CheckedField(agent, "Agent", name, member);
    }
    CheckedField(agent, "Agent", "capacities", &Agent::capacities);
    CheckedField(agent, "Agent", "shift_start", &Agent::shift_start);
    CheckedField(agent, "Agent", "shift_end", &Agent::shift_end);
    CheckedField(agent, "Agent", "max_stops", &Agent::max_stops);
    for (const auto& [name, member] :
         {std::pair{"unit_distance_cost", &Agent::unit_distance_cost},
          std::pair{"unit_duration_cost", &Agent::unit_duration_cost},
          std::pair{"max_distance", &Agent::max_distance},
          std::pair{"max_duration", &Agent::max_duration}}) {
        CheckedField(agent, "Agent", name, member);
    }
    py::class_<Options>(m, "Options")
        .def(py::init<>())
        .def_readwrite("return_to_end", &Options::return_to_end)
        .def_readwrite("objective", &Options::objective)
        .def_readwrite("time_limit", &Options::time_limit)
        .def_readwrite("improve", &Options::improve)
        .def_readwrite("seed", &Options::seed)
        .def_readwrite("max_iterations", &Options::max_iterations)
        .def_readwrite("stop_when_stalled", &Options::stop_when_stalled)
        .def_readwrite("memory_limit", &Options::memory_limit)
        .def_readwrite("enforce_capacity", &Options::enforce_capacity)
        .def_readwrite("enforce_sequence", &Options::enforce_sequence)
        .def_readwrite("route_cost", &Options::route_cost)
        .def_readwrite("search", &Options::search,
                       "How the improvement stage searches (default Auto: the population where "
                       "the benchmark shows it\nahead, the annealing stage elsewhere).")
        .def_readwrite("neighbours", &Options::neighbours,
                       "How many nearest stops each stop's moves are tried towards in the "
                       "population search's local\nsearch (default 20; 0 is taken as 20).")
        .def_readwrite("allow_unassigned", &Options::allow_unassigned,
                       "Leave out the stops that fit nowhere instead of failing the solve: the "
                       "result is then \"partial\" and lists them with their reasons.")
        .def_readwrite("threads", &Options::threads,
                       "Threads of the improvement stage (default 1; 0: every core). With more "
                       "than one, each thread has\ntime_limit processor seconds of its own "
                       "clock, so a solve takes about time_limit seconds of wall-clock\ntime "
                       "when the cores are free.");
}

void BindConstraints(py::module_& m) {
    py::class_<AssignmentConstraint>(m, "AssignmentConstraint")
        .def(py::init<>())
        .def("set_assignment", &AssignmentConstraint::set_assignment, py::arg("node"),
             py::arg("types"));
    py::class_<TimeWindowConstraint>(m, "TimeWindowConstraint")
        .def(py::init<>())
        .def("set_timewindow", &TimeWindowConstraint::set_timewindow, py::arg("node"),
             py::arg("start"), py::arg("end"))
        .def("set_timewindows", &TimeWindowConstraint::set_timewindows, py::arg("node"),
             py::arg("windows"),
             "Several windows, sorted and disjoint, as (open, close) pairs: service starts in "
             "the earliest one the agent can still reach.");
    py::class_<InitialRoute>(m, "InitialRoute")
        .def(py::init([](uint64_t agent_id, std::vector<uint64_t> node_ids, int64_t pinned) {
                 return InitialRoute{agent_id, std::move(node_ids), pinned};
             }),
             py::arg("agent_id"), py::arg("node_ids"), py::arg("pinned") = 0)
        .def_readwrite("agent_id", &InitialRoute::agent_id)
        .def_readwrite("node_ids", &InitialRoute::node_ids)
        .def_readwrite("pinned", &InitialRoute::pinned);
}

// A list of views into `container`, each keeping `problem`'s Python object alive. The
// Problem stores these elements in deques, so the views survive later additions.
template <typename Element, typename Container>
py::typing::List<Element> ElementViews(Problem& problem, Container& container) {
    py::object owner = py::cast(&problem, py::return_value_policy::reference);
    py::typing::List<Element> views;
    for (Element& element : container) {
        views.append(py::cast(&element, py::return_value_policy::reference_internal, owner));
    }
    return views;
}

// A matrix setter read from a two-dimensional buffer without a Python object per entry, or
// from a list of rows.
void DefineMatrixSetter(py::class_<Problem>& problem, const char* name,
                        void (Problem::*set)(const std::string&, CostMatrix), const char* doc) {
    problem.def(
        name,
        [set](Problem& self, const std::string& agent_type, const py::buffer& matrix) {
            (self.*set)(agent_type, MatrixFromBuffer(matrix));
        },
        py::arg("agent_type"), py::arg("matrix"), doc);
    problem.def(name, set, py::arg("agent_type"), py::arg("matrix"));
}

void BindProblem(py::module_& m) {
    py::class_<Problem> problem(m, "Problem");
    DefineMatrixSetter(problem, "set_cost_matrix", &Problem::set_cost_matrix,
                       "Costs of the agent type: row i, column j is the cost from the i-th to the "
                       "j-th node added. A two-dimensional array (float64, float32 or integers) "
                       "is read without a Python object per entry; a list of rows works too.");
    DefineMatrixSetter(problem, "set_duration_matrix", &Problem::set_duration_matrix,
                       "Travel times of the agent type apart from its costs: row i, column j is "
                       "the time from the i-th to the j-th node added. With durations, windows, "
                       "shifts and every time follow them and the costs are distances. Arrays or "
                       "lists, as for set_cost_matrix.");
    problem.def(py::init<>())
        .def("add_node", &Problem::add_node, py::arg("node"))
        .def(
            "add_agent",
            [](Problem& problem, const Agent& agent, uint64_t id) {
                // The solver finds an agent by its own id: under another key it would be
                // planned for no one.
                if (id != agent.id) {
                    throw py::value_error("add_agent: the key " + std::to_string(id) +
                                          " differs from the agent's id " +
                                          std::to_string(agent.id));
                }
                problem.add_agent(agent, id);
            },
            py::arg("agent"), py::arg("id"))
        .def("set_metric", &Problem::set_metric, py::arg("agent_type"), py::arg("kind"),
             py::arg("factor") = 1.0,
             "Costs of the agent type from node coordinates: kind \"euclidean\" (x, y, z), "
             "\"manhattan\" or \"haversine\" (x longitude, y latitude in degrees, metres), "
             "each distance times factor.")
        .def("set_duration_metric", &Problem::set_duration_metric, py::arg("agent_type"),
             py::arg("kind"), py::arg("factor") = 1.0, py::arg("speed") = 1.0,
             "Travel times of the agent type from node coordinates: the distance of kind "
             "(as for set_metric) times factor, divided by speed.")
        .def("set_assignment_constraint", &Problem::set_assignment_constraint,
             py::arg("constraint"))
        .def("set_timewindow_constraint", &Problem::set_timewindow_constraint,
             py::arg("constraint"))
        .def("set_initial_routes", &Problem::set_initial_routes, py::arg("routes"),
             "Routes to start from: each agent's stops in order, of which the first `pinned` "
             "are visits already made and stay in place. Stops that break a rule where they "
             "stand go in again where they fit.")
        .def_readonly("initial_routes", &Problem::initial_routes)
        .def(
            "options", [](Problem& problem) -> Options& { return problem.options; },
            py::return_value_policy::reference_internal)
        .def("nodes", [](Problem& problem) { return ElementViews<Node>(problem, problem.nodes); })
        .def("agents_ordered", [](Problem& problem) {
            return ElementViews<Agent>(problem, problem.agents_ordered);
        });
}

}  // namespace

void BindModel(py::module_& m) {
    BindEnums(m);
    BindRecords(m);
    BindConstraints(m);
    BindProblem(m);
}

}  // namespace tamrik::bindings
