#include "model/json_loader.h"

#include <cctype>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace tamrik {
namespace {

using nlohmann::json;

// The three number readings of the format. get<uint64_t>() and get<double>() reject
// booleans; get<int>() accepts them and truncates wider values to 32 bits.
uint64_t read_id(const json& value) { return value.get<uint64_t>(); }
double read_real(const json& value) { return value.get<double>(); }
double read_whole(const json& value) { return static_cast<double>(value.get<int>()); }

NodeType read_node_type(const json& node) {
    if (!node.contains("type")) return NodeType::TARGET;
    std::string text = node.at("type").get<std::string>();
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text == "DEPOT" ? NodeType::DEPOT : NodeType::TARGET;
}

void load_nodes(const json& nodes, Problem& problem) {
    for (const json& item : nodes) {
        Node node;
        node.id = read_id(item.at("id"));
        node.position.x = read_real(item.at("x"));
        node.position.y = read_real(item.at("y"));
        node.position.z = item.contains("z") ? read_real(item.at("z")) : 0.0;
        node.type = read_node_type(item);
        node.demand = item.contains("demand") ? read_real(item.at("demand")) : 0.0;
        problem.add_node(node);
    }
}

void load_agents(const json& agents, Problem& problem) {
    for (const json& item : agents) {
        Agent agent;
        agent.id = read_id(item.at("id"));
        agent.type = item.at("type").get<std::string>();
        agent.start_node = read_id(item.at("start_node"));
        agent.end_node = read_id(item.at("end_node"));
        agent.capacity_limit = item.contains("capacity") ? read_whole(item.at("capacity")) : 0.0;
        agent.time_limit = item.contains("max_length") ? read_whole(item.at("max_length")) : 0.0;
        problem.add_agent(agent, agent.id);
    }
}

// An object maps type names to matrices; an array stores its matrices under "0", "1", ...
// which is exactly the key the library's items() gives to array elements.
void load_costs(const json& costs, Problem& problem) {
    for (const auto& member : costs.items()) {
        problem.set_cost_matrix(member.key(), member.value().get<CostMatrix>());
    }
}

struct ConstraintSet {
    AssignmentConstraint assignment;
    TimeWindowConstraint timewindow;
    SequenceConstraint sequence;
};

void load_assignment(const json& items, AssignmentConstraint& out) {
    for (const json& item : items) {
        uint64_t node = read_id(item.at("node"));
        out.set_assignment(node, item.at("types").get<std::vector<std::string>>());
    }
}

void load_timewindow(const json& items, TimeWindowConstraint& out) {
    for (const json& item : items) {
        uint64_t node = read_id(item.at("node"));
        double start = read_real(item.at("start"));
        double end = read_real(item.at("end"));
        out.set_timewindow(node, start, end);
    }
}

void load_sequence(const json& items, SequenceConstraint& out) {
    for (const json& item : items) {
        SequenceConstraint::NodePair pair;
        pair.first = read_id(item.at("before"));
        pair.second = read_id(item.at("after"));
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

void load_options(const json& options, Options& out) {
    out.return_to_end = options.value("return_to_end", true);
    std::string objective = options.value("objective", std::string("min_sum"));
    out.objective = (objective == "min_max" || objective == "MIN_MAX") ? ObjectiveType::MinMax
                                                                       : ObjectiveType::MinSum;
    out.time_limit = options.value("time_limit", 60.0);
    out.improve = options.value("improve", false);
    out.seed = load_count(options, "seed");
    out.max_iterations = load_count(options, "max_iterations");
    out.stop_when_stalled = options.value("stop_when_stalled", true);
}

}  // namespace

void load_problem_json(const json& document, Problem& problem) {
    load_nodes(document.at("nodes"), problem);
    load_agents(document.at("agents"), problem);
    if (document.contains("costs")) load_costs(document.at("costs"), problem);

    ConstraintSet constraints;
    if (document.contains("constraints")) {
        for (const json& constraint : document.at("constraints")) {
            load_constraint(constraint, constraints);
        }
    }
    problem.assignment_constraint = std::move(constraints.assignment);
    problem.timewindow_constraint = std::move(constraints.timewindow);
    problem.sequence_constraint = std::move(constraints.sequence);

    if (document.contains("options")) load_options(document.at("options"), problem.options);
}

}  // namespace tamrik
