#include "model/json_loader.h"

#include <cctype>
#include <cstdint>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "model/unread_input.h"

namespace tamrik {
namespace {

using nlohmann::json;

// Where a value sits in the document ("agents[2].max_length"), spelt out only for errors.
struct Where {
    const char* list;
    size_t index;
    const char* key;

    std::string Text() const {
        return std::string(list) + "[" + std::to_string(index) + "]." + key;
    }
};

[[noreturn]] void reject(const Where& where, const json& value, const char* wanted) {
    throw std::invalid_argument(where.Text() + " must be " + wanted + ", not " + value.dump());
}

// The three number readings of the format. A number outside the target type's range is an
// error (its conversion would be undefined or wrap); within range a floating value is
// truncated toward zero. Non-numbers fall through to the library's own type errors:
// get<uint64_t>() and get<double>() reject booleans, get<int>() accepts them.
uint64_t read_id(const json& value, const Where& where) {
    if (value.is_number_integer() && !value.is_number_unsigned()) {
        reject(where, value, "an unsigned 64-bit integer");
    }
    if (value.is_number_float()) {
        const double number = value.get<double>();
        if (!(number > -1.0 && number < 18446744073709551616.0)) {
            reject(where, value, "an unsigned 64-bit integer");
        }
    }
    return value.get<uint64_t>();
}

double read_real(const json& value) { return value.get<double>(); }

double read_whole(const json& value, const Where& where) {
    constexpr double kLow = -2147483648.0;
    constexpr double kHigh = 2147483647.0;
    const bool out_of_range =
        (value.is_number_unsigned() && value.get<uint64_t>() > static_cast<uint64_t>(kHigh)) ||
        (value.is_number_integer() && !value.is_number_unsigned() &&
         (value.get<int64_t>() < static_cast<int64_t>(kLow) ||
          value.get<int64_t>() > static_cast<int64_t>(kHigh))) ||
        (value.is_number_float() &&
         !(value.get<double>() > kLow - 1.0 && value.get<double>() < kHigh + 1.0));
    if (out_of_range) reject(where, value, "a whole number within the signed 32-bit range");
    return static_cast<double>(value.get<int>());
}

NodeType read_node_type(const json& node) {
    if (!node.contains("type")) return NodeType::TARGET;
    std::string text = node.at("type").get<std::string>();
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text == "DEPOT" ? NodeType::DEPOT : NodeType::TARGET;
}

void load_nodes(const json& nodes, Problem& problem) {
    size_t index = 0;
    for (const json& item : nodes) {
        Node node;
        node.id = read_id(item.at("id"), Where{"nodes", index++, "id"});
        node.position.x = read_real(item.at("x"));
        node.position.y = read_real(item.at("y"));
        node.position.z = item.contains("z") ? read_real(item.at("z")) : 0.0;
        node.type = read_node_type(item);
        node.demand = item.contains("demand") ? read_real(item.at("demand")) : 0.0;
        node.service = item.contains("service") ? read_real(item.at("service")) : 0.0;
        if (item.contains("required")) node.required = item.at("required").get<bool>();
        node.prize = item.contains("prize") ? read_real(item.at("prize")) : 0.0;
        problem.add_node(node);
    }
}

void load_agents(const json& agents, Problem& problem) {
    size_t index = 0;
    for (const json& item : agents) {
        auto where = [index](const char* key) { return Where{"agents", index, key}; };
        ++index;
        Agent agent;
        agent.id = read_id(item.at("id"), where("id"));
        agent.type = item.at("type").get<std::string>();
        agent.start_node = read_id(item.at("start_node"), where("start_node"));
        agent.end_node = read_id(item.at("end_node"), where("end_node"));
        agent.capacity_limit =
            item.contains("capacity") ? read_whole(item.at("capacity"), where("capacity")) : 0.0;
        agent.time_limit = item.contains("max_length")
                               ? read_whole(item.at("max_length"), where("max_length"))
                               : 0.0;
        if (item.contains("shift_start")) agent.shift_start = read_real(item.at("shift_start"));
        if (item.contains("shift_end")) agent.shift_end = read_real(item.at("shift_end"));
        if (item.contains("max_stops")) {
            agent.max_stops =
                static_cast<int64_t>(read_whole(item.at("max_stops"), where("max_stops")));
        }
        agent.fixed_cost = item.contains("fixed_cost") ? read_real(item.at("fixed_cost")) : 0.0;
        problem.add_agent(agent, agent.id);
    }
}

// An object maps type names to matrices; an array stores its matrices under "0", "1", ...
// which is exactly the key the library's items() gives to array elements.
void load_costs(const json& costs, Problem& problem, ReadMatrices* read) {
    for (const auto& member : costs.items()) {
        const auto found = read == nullptr ? ReadMatrices::iterator{} : read->find(member.key());
        if (read != nullptr && found != read->end()) {
            problem.set_cost_matrix(member.key(), std::move(found->second));
        } else {
            problem.set_cost_matrix(member.key(), member.value().get<CostMatrix>());
        }
    }
}

// "metrics": {"<type>": {"kind": "euclidean", "factor": 1.0}, ...}; the factor is optional.
void load_metrics(const json& metrics, Problem& problem) {
    if (!metrics.is_object()) {
        throw std::invalid_argument("metrics must be an object mapping agent types to metrics, "
                                    "not " + metrics.dump());
    }
    for (const auto& [type, metric] : metrics.items()) {
        if (!metric.is_object() || !metric.contains("kind") || !metric.at("kind").is_string()) {
            throw std::invalid_argument("metrics." + type +
                                        " must be an object with a \"kind\", not " + metric.dump());
        }
        double factor = 1.0;
        if (metric.contains("factor")) {
            const json& value = metric.at("factor");
            if (!value.is_number()) {
                throw std::invalid_argument("metrics." + type +
                                            ".factor must be a finite number above 0, not " +
                                            value.dump());
            }
            factor = value.get<double>();
        }
        problem.set_metric(type, metric.at("kind").get<std::string>(), factor);
    }
}

struct ConstraintSet {
    AssignmentConstraint assignment;
    TimeWindowConstraint timewindow;
    SequenceConstraint sequence;
};

void load_assignment(const json& items, AssignmentConstraint& out) {
    size_t index = 0;
    for (const json& item : items) {
        uint64_t node = read_id(item.at("node"), Where{"assignment items", index++, "node"});
        out.set_assignment(node, item.at("types").get<std::vector<std::string>>());
    }
}

void load_timewindow(const json& items, TimeWindowConstraint& out) {
    size_t index = 0;
    for (const json& item : items) {
        const Where where{"timewindow items", index++, "windows"};
        uint64_t node = read_id(item.at("node"), Where{"timewindow items", where.index, "node"});
        if (item.contains("windows")) {
            const json& windows = item.at("windows");
            if (!windows.is_array()) reject(where, windows, "a list of [open, close] pairs");
            std::vector<TimeWindowConstraint::Window> list;
            for (const json& window : windows) {
                if (!window.is_array() || window.size() != 2) {
                    reject(where, windows, "a list of [open, close] pairs");
                }
                list.emplace_back(read_real(window.at(0)), read_real(window.at(1)));
            }
            out.set_timewindows(node, std::move(list));
            continue;
        }
        double start = read_real(item.at("start"));
        double end = read_real(item.at("end"));
        out.set_timewindow(node, start, end);
    }
}

void load_sequence(const json& items, SequenceConstraint& out) {
    size_t index = 0;
    for (const json& item : items) {
        SequenceConstraint::NodePair pair;
        pair.first = read_id(item.at("before"), Where{"precedence", index, "before"});
        pair.second = read_id(item.at("after"), Where{"precedence", index++, "after"});
        std::string kind = item.contains("type") ? item.at("type").get<std::string>() : "";
        if (kind == "same") {
            out.same_pairs.push_back(pair);
        } else if (kind == "diff") {
            out.diff_pairs.push_back(pair);
        } else {
            out.precedence_pairs.push_back(pair);
        }
    }
}

void load_constraint(const json& constraint, ConstraintSet& out) {
    std::string kind = constraint.at("kind").get<std::string>();
    if (kind == "assignment" && constraint.contains("items")) {
        load_assignment(constraint.at("items"), out.assignment);
    } else if (kind == "timewindow" && constraint.contains("items")) {
        load_timewindow(constraint.at("items"), out.timewindow);
    } else if (kind == "sequence" && constraint.contains("precedence")) {
        load_sequence(constraint.at("precedence"), out.sequence);
    }
}

// An optional whole number of 0 or more (0 when absent).
uint64_t load_count(const json& options, const char* key) {
    if (!options.contains(key)) return 0;
    const json& value = options.at(key);
    if (!value.is_number_unsigned()) {
        throw std::invalid_argument(std::string("options.") + key +
                                    " must be a whole number from 0 to 2^64 - 1, not " +
                                    value.dump());
    }
    return value.get<uint64_t>();
}

void load_options(const json& options, Problem& problem) {
    Options& out = problem.options;
    out.return_to_end = options.value("return_to_end", true);
    std::string objective = options.value("objective", std::string("min_sum"));
    out.objective = (objective == "min_max" || objective == "MIN_MAX") ? ObjectiveType::MinMax
                                                                       : ObjectiveType::MinSum;
    if (objective != "min_max" && objective != "MIN_MAX" && objective != "min_sum" &&
        objective != "MIN_SUM") {
        problem.input_warnings.push_back("objective " + json(objective).dump() +
                                         " is neither min_max nor min_sum: min_sum is used");
    }
    out.time_limit = options.value("time_limit", 60.0);
    out.improve = options.value("improve", false);
    out.seed = load_count(options, "seed");
    out.max_iterations = load_count(options, "max_iterations");
    out.stop_when_stalled = options.value("stop_when_stalled", true);
    if (options.contains("memory_limit")) out.memory_limit = load_count(options, "memory_limit");
    out.enforce_capacity = options.value("enforce_capacity", false);
    out.enforce_sequence = options.value("enforce_sequence", false);
    if (options.contains("threads")) out.threads = load_count(options, "threads");
    const std::string route_cost = options.value("route_cost", std::string("duration"));
    if (route_cost != "duration" && route_cost != "travel") {
        throw std::invalid_argument("options.route_cost must be \"duration\" or \"travel\", not " +
                                    json(route_cost).dump());
    }
    out.route_cost = route_cost == "travel" ? RouteCostKind::Travel : RouteCostKind::Duration;
    out.allow_unassigned = options.value("allow_unassigned", false);
}

// "initial_routes": [{"agent_id": a, "node_ids": [...], "pinned": k}, ...]; "pinned" is
// optional (0).
void load_initial_routes(const json& routes, Problem& problem) {
    if (!routes.is_array()) {
        throw std::invalid_argument("initial_routes must be a list of routes, not " + routes.dump());
    }
    std::vector<InitialRoute> loaded;
    size_t index = 0;
    for (const json& item : routes) {
        auto where = [index](const char* key) { return Where{"initial_routes", index, key}; };
        ++index;
        if (!item.is_object() || !item.contains("agent_id") || !item.contains("node_ids")) {
            throw std::invalid_argument("initial_routes[" + std::to_string(index - 1) +
                                        "] must be an object with \"agent_id\" and "
                                        "\"node_ids\", not " + item.dump());
        }
        InitialRoute route;
        route.agent_id = read_id(item.at("agent_id"), where("agent_id"));
        const json& ids = item.at("node_ids");
        if (!ids.is_array()) reject(where("node_ids"), ids, "a list of node ids");
        for (const json& id : ids) route.node_ids.push_back(read_id(id, where("node_ids")));
        if (item.contains("pinned")) {
            const json& pinned = item.at("pinned");
            if (!pinned.is_number_integer()) reject(where("pinned"), pinned, "a whole number");
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
    report_unread_input(document, problem.input_warnings);
    load_nodes(document.at("nodes"), problem);
    load_agents(document.at("agents"), problem);
    if (document.contains("costs")) load_costs(document.at("costs"), problem, read);
    if (document.contains("metrics")) load_metrics(document.at("metrics"), problem);

    ConstraintSet constraints;
    if (document.contains("constraints")) {
        for (const json& constraint : document.at("constraints")) {
            load_constraint(constraint, constraints);
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
