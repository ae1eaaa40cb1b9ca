#include "model/json_loader.h"

#include <cctype>
#include <cstdint>
#include <optional>
#include <utility>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "model/json_fields.h"
#include "model/unread_input.h"

namespace tamrik {
namespace {

using nlohmann::json;

std::string Item(const std::string& list, size_t index) {
    return list + "[" + std::to_string(index) + "]";
}

// A list of the document: an error names it when it is something else. An object stands for
// the list of its member values and null for an empty list.
const json& ListAt(const Fields& fields, const char* key) {
    const json& list = fields.Required(key);
    if (!list.is_array() && !list.is_object() && !list.is_null()) {
        RejectValue(fields.PathOf(key), list, "a list");
    }
    return list;
}

NodeType read_node_type(const Fields& node) {
    std::string text = node.Text("type", "TARGET");
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text == "DEPOT" ? NodeType::DEPOT : NodeType::TARGET;
}

// A load amount: one number, or a list of one per dimension (read into `list`, leaving
// `number` alone). Capacities are whole.
void load_amounts(const Fields& fields, const char* key, bool whole, double& number,
                  std::vector<double>& list) {
    if (!fields.Has(key)) return;
    const json& value = fields.Required(key);
    const std::string path = fields.PathOf(key);
    if (!value.is_array()) {
        number = whole ? ReadWhole(value, path) : ReadReal(value, path);
        return;
    }
    for (size_t d = 0; d < value.size(); ++d) {
        const std::string at = path + "[" + std::to_string(d) + "]";
        list.push_back(whole ? ReadWhole(value[d], at) : ReadReal(value[d], at));
    }
    if (list.empty()) RejectValue(path, value, "a number or a list of numbers");
}

// Pick-ups and deliveries are lists even when given as one number.
void load_exchange(const Fields& fields, const char* key, std::vector<double>& list) {
    double number = 0.0;
    load_amounts(fields, key, false, number, list);
    if (list.empty() && fields.Has(key)) list.push_back(number);
}

void load_nodes(const json& nodes, Problem& problem) {
    size_t index = 0;
    for (const json& item : nodes) {
        const Fields fields(item, Item("nodes", index++));
        Node node;
        node.id = fields.Id("id");
        node.position.x = fields.Real("x");
        node.position.y = fields.Real("y");
        node.position.z = fields.Real("z", 0.0);
        node.type = read_node_type(fields);
        load_amounts(fields, "demand", false, node.demand, node.demands);
        load_exchange(fields, "pickup", node.pickup);
        load_exchange(fields, "delivery", node.delivery);
        node.service = fields.Real("service", 0.0);
        node.required = fields.Flag("required", node.required);
        node.prize = fields.Real("prize", 0.0);
        problem.add_node(node);
    }
}

void load_route_prices(const Fields& fields, Agent& agent) {
    const std::pair<const char*, std::optional<double>*> keys[] = {
        {"unit_distance_cost", &agent.unit_distance_cost},
        {"unit_duration_cost", &agent.unit_duration_cost},
        {"max_distance", &agent.max_distance},
        {"max_duration", &agent.max_duration}};
    for (const auto& [key, field] : keys) {
        if (fields.Has(key)) *field = fields.Real(key);
    }
}

void load_agents(const json& agents, Problem& problem) {
    size_t index = 0;
    for (const json& item : agents) {
        const Fields fields(item, Item("agents", index++));
        Agent agent;
        agent.id = fields.Id("id");
        agent.type = fields.Text("type");
        agent.start_node = fields.Id("start_node");
        agent.end_node = fields.Id("end_node");
        load_amounts(fields, "capacity", true, agent.capacity_limit, agent.capacities);
        agent.time_limit = fields.Whole("max_length", 0.0);
        if (fields.Has("shift_start")) agent.shift_start = fields.Real("shift_start");
        if (fields.Has("shift_end")) agent.shift_end = fields.Real("shift_end");
        if (fields.Has("max_stops")) {
            agent.max_stops = static_cast<int64_t>(fields.Whole("max_stops", 0.0));
        }
        agent.fixed_cost = fields.Real("fixed_cost", 0.0);
        load_route_prices(fields, agent);
        problem.add_agent(agent, agent.id);
    }
}

CostMatrix read_matrix(const json& rows, const std::string& path) {
    if (!rows.is_array()) RejectValue(path, rows, "a list of rows of numbers");
    CostMatrix matrix;
    matrix.reserve(rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::string row_path = Item(path, i);
        if (!rows[i].is_array()) RejectValue(row_path, rows[i], "a list of numbers");
        std::vector<double>& row = matrix.emplace_back();
        row.reserve(rows[i].size());
        for (size_t j = 0; j < rows[i].size(); ++j) {
            row.push_back(ReadReal(rows[i][j], Item(row_path, j)));
        }
    }
    return matrix;
}

// An object maps type names to matrices; an array stores its matrices under "0", "1", ...
// which is exactly the key the library's items() gives to array elements.
void load_costs(const json& costs, Problem& problem, ReadMatrices* read) {
    if (!costs.is_object() && !costs.is_array()) {
        RejectValue("costs", costs, "an object mapping agent types to matrices");
    }
    for (const auto& member : costs.items()) {
        const auto found = read == nullptr ? ReadMatrices::iterator{} : read->find(member.key());
        if (read != nullptr && found != read->end()) {
            problem.set_cost_matrix(member.key(), std::move(found->second));
        } else {
            problem.set_cost_matrix(member.key(),
                                    read_matrix(member.value(), "costs." + member.key()));
        }
    }
}

// A metric's number at `key`, 1 when absent; one that is no number is refused here (its
// value is checked when the metric is made).
double metric_number(const json& metric, const std::string& field, const char* key) {
    if (!metric.contains(key)) return 1.0;
    const json& value = metric.at(key);
    if (!value.is_number()) {
        throw InputError(field + "." + key + " must be a finite number above 0, not " +
                         value.dump());
    }
    return value.get<double>();
}

// "metrics": {"<type>": {"kind": "euclidean", "factor": 1.0}, ...}; the factor is optional.
void load_metrics(const json& metrics, Problem& problem) {
    if (!metrics.is_object()) {
        throw InputError("metrics must be an object mapping agent types to metrics, not " +
                         metrics.dump());
    }
    for (const auto& [type, metric] : metrics.items()) {
        if (!metric.is_object() || !metric.contains("kind") || !metric.at("kind").is_string()) {
            throw InputError("metrics." + type + " must be an object with a \"kind\", not " +
                             metric.dump());
        }
        problem.set_metric(type, metric.at("kind").get<std::string>(),
                           metric_number(metric, "metrics." + type, "factor"));
    }
}

// "durations": {"<type>": [[...], ...] or {"kind": "euclidean", "factor": 1.0, "speed": 1.0}}.
void load_durations(const json& durations, Problem& problem) {
    if (!durations.is_object()) {
        RejectValue("durations", durations, "an object mapping agent types to matrices or metrics");
    }
    for (const auto& [type, given] : durations.items()) {
        const std::string field = "durations." + type;
        if (given.is_array()) {
            problem.set_duration_matrix(type, read_matrix(given, field));
            continue;
        }
        if (!given.is_object() || !given.contains("kind") || !given.at("kind").is_string()) {
            throw InputError(field + " must be a matrix or an object with a \"kind\", not " +
                             given.dump());
        }
        problem.set_duration_metric(type, given.at("kind").get<std::string>(),
                                    metric_number(given, field, "factor"),
                                    metric_number(given, field, "speed"));
    }
}

struct ConstraintSet {
    AssignmentConstraint assignment;
    TimeWindowConstraint timewindow;
    SequenceConstraint sequence;
};

std::vector<std::string> read_types(const json& types, const std::string& path) {
    if (!types.is_array()) RejectValue(path, types, "a list of agent types");
    std::vector<std::string> names;
    for (size_t i = 0; i < types.size(); ++i) names.push_back(ReadText(types[i], Item(path, i)));
    return names;
}

void load_assignment(const json& items, const std::string& place, AssignmentConstraint& out) {
    size_t index = 0;
    for (const json& item : items) {
        const Fields fields(item, Item(place, index++));
        out.set_assignment(fields.Id("node"), read_types(fields.Required("types"),
                                                         fields.PathOf("types")));
    }
}

std::vector<TimeWindowConstraint::Window> read_windows(const Fields& fields) {
    const json& windows = fields.Required("windows");
    const std::string path = fields.PathOf("windows");
    if (!windows.is_array()) RejectValue(path, windows, "a list of [open, close] pairs");
    std::vector<TimeWindowConstraint::Window> list;
    for (size_t i = 0; i < windows.size(); ++i) {
        const json& window = windows[i];
        if (!window.is_array() || window.size() != 2) {
            RejectValue(Item(path, i), window, "an [open, close] pair");
        }
        list.emplace_back(ReadReal(window[0], Item(path, i) + "[0]"),
                          ReadReal(window[1], Item(path, i) + "[1]"));
    }
    return list;
}

void load_timewindow(const json& items, const std::string& place, TimeWindowConstraint& out) {
    size_t index = 0;
    for (const json& item : items) {
        const Fields fields(item, Item(place, index++));
        const uint64_t node = fields.Id("node");
        if (fields.Has("windows")) {
            out.set_timewindows(node, read_windows(fields));
        } else {
            out.set_timewindow(node, fields.Real("start"), fields.Real("end"));
        }
    }
}

void load_sequence(const json& items, const std::string& place, SequenceConstraint& out) {
    size_t index = 0;
    for (const json& item : items) {
        const Fields fields(item, Item(place, index++));
        SequenceConstraint::NodePair pair;
        pair.first = fields.Id("before");
        pair.second = fields.Id("after");
        const std::string kind = fields.Text("type", "");
        if (kind == "same") {
            out.same_pairs.push_back(pair);
        } else if (kind == "diff") {
            out.diff_pairs.push_back(pair);
        } else {
            out.precedence_pairs.push_back(pair);
        }
    }
}

void load_constraint(const json& constraint, const std::string& place, ConstraintSet& out) {
    const Fields fields(constraint, place);
    const std::string kind = fields.Text("kind");
    if (kind == "assignment" && fields.Has("items")) {
        load_assignment(ListAt(fields, "items"), fields.PathOf("items"), out.assignment);
    } else if (kind == "timewindow" && fields.Has("items")) {
        load_timewindow(ListAt(fields, "items"), fields.PathOf("items"), out.timewindow);
    } else if (kind == "sequence" && fields.Has("precedence")) {
        load_sequence(ListAt(fields, "precedence"), fields.PathOf("precedence"), out.sequence);
    }
}

// An optional whole number of 0 or more (0 when absent).
uint64_t load_count(const Fields& options, const char* key) {
    if (!options.Has(key)) return 0;
    const json& value = options.Required(key);
    if (!value.is_number_unsigned()) {
        RejectValue(options.PathOf(key), value, "a whole number from 0 to 2^64 - 1");
    }
    return value.get<uint64_t>();
}

void load_options(const json& document_options, Problem& problem) {
    const Fields options(document_options, "options");
    Options& out = problem.options;
    out.return_to_end = options.Flag("return_to_end", true);
    const std::string objective = options.Text("objective", "min_sum");
    out.objective = (objective == "min_max" || objective == "MIN_MAX") ? ObjectiveType::MinMax
                                                                       : ObjectiveType::MinSum;
    if (objective != "min_max" && objective != "MIN_MAX" && objective != "min_sum" &&
        objective != "MIN_SUM") {
        problem.input_warnings.push_back("objective " + json(objective).dump() +
                                         " is neither min_max nor min_sum: min_sum is used");
    }
    out.time_limit = options.Real("time_limit", 60.0);
    out.improve = options.Flag("improve", false);
    out.seed = load_count(options, "seed");
    out.max_iterations = load_count(options, "max_iterations");
    out.stop_when_stalled = options.Flag("stop_when_stalled", true);
    if (options.Has("memory_limit")) out.memory_limit = load_count(options, "memory_limit");
    out.enforce_capacity = options.Flag("enforce_capacity", false);
    out.enforce_sequence = options.Flag("enforce_sequence", false);
    if (options.Has("threads")) out.threads = load_count(options, "threads");
    const std::string route_cost = options.Text("route_cost", "duration");
    if (route_cost != "duration" && route_cost != "travel") {
        RejectValue("options.route_cost", json(route_cost), "\"duration\" or \"travel\"");
    }
    out.route_cost = route_cost == "travel" ? RouteCostKind::Travel : RouteCostKind::Duration;
    out.allow_unassigned = options.Flag("allow_unassigned", false);
    const std::string search = options.Text("search", "auto");
    if (search != "anneal" && search != "population" && search != "auto") {
        RejectValue("options.search", json(search), "\"anneal\", \"population\" or \"auto\"");
    }
    out.search = search == "population" ? StageSearch::Population
                 : search == "auto"      ? StageSearch::Auto
                                         : StageSearch::Anneal;
    if (options.Has("neighbours")) {
        out.neighbours = load_count(options, "neighbours");
        if (out.neighbours == 0) {
            RejectValue(options.PathOf("neighbours"), json(0), "a whole number from 1 to 2^64 - 1");
        }
    }
}

// "initial_routes": [{"agent_id": a, "node_ids": [...], "pinned": k}, ...]; "pinned" is
// optional (0).
void load_initial_routes(const json& routes, Problem& problem) {
    if (!routes.is_array()) RejectValue("initial_routes", routes, "a list of routes");
    std::vector<InitialRoute> loaded;
    for (size_t index = 0; index < routes.size(); ++index) {
        const Fields fields(routes[index], Item("initial_routes", index));
        InitialRoute route;
        route.agent_id = fields.Id("agent_id");
        const json& ids = fields.Required("node_ids");
        if (!ids.is_array()) RejectValue(fields.PathOf("node_ids"), ids, "a list of node ids");
        for (size_t i = 0; i < ids.size(); ++i) {
            route.node_ids.push_back(ReadId(ids[i], Item(fields.PathOf("node_ids"), i)));
        }
        if (fields.Has("pinned")) {
            const json& pinned = fields.Required("pinned");
            if (!pinned.is_number_integer()) RejectValue(fields.PathOf("pinned"), pinned, "a whole number");
            route.pinned = pinned.is_number_unsigned() && pinned.get<uint64_t>() > INT64_MAX
                               ? INT64_MAX
                               : pinned.get<int64_t>();
        }
        loaded.push_back(std::move(route));
    }
    problem.set_initial_routes(std::move(loaded));
}

}  // namespace

void load_problem_json(const json& document, Problem& problem, ReadMatrices* read) {
    if (!document.is_object()) RejectValue("the instance", document, "a JSON object");
    report_unread_input(document, problem.input_warnings);
    const Fields root(document, "");
    load_nodes(ListAt(root, "nodes"), problem);
    load_agents(ListAt(root, "agents"), problem);
    if (root.Has("costs")) load_costs(document.at("costs"), problem, read);
    if (root.Has("metrics")) load_metrics(document.at("metrics"), problem);
    if (root.Has("durations")) load_durations(document.at("durations"), problem);

    ConstraintSet constraints;
    if (root.Has("constraints")) {
        const json& list = ListAt(root, "constraints");
        size_t index = 0;
        for (const json& constraint : list) {
            load_constraint(constraint, Item("constraints", index++), constraints);
        }
    }
    problem.assignment_constraint = std::move(constraints.assignment);
    problem.timewindow_constraint = std::move(constraints.timewindow);
    problem.sequence_constraint = std::move(constraints.sequence);

    if (document.contains("options")) load_options(document.at("options"), problem);
    if (document.contains("initial_routes")) {
        load_initial_routes(document.at("initial_routes"), problem);
    }
}

}  // namespace tamrik
