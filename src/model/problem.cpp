#include "model/problem.h"

#include <algorithm>

#include "base/log_sink.h"

namespace tamrik {

void Problem::add_node(const Node& node) {
    nodes.push_back(node);
    num_nodes = nodes.size();
}

void Problem::add_agent(const Agent& agent, uint64_t id) {
    auto [it, inserted] = type_index.try_emplace(agent.type, type_index.size());
    if (inserted) type_names.push_back(agent.type);
    agent_type_of[id] = it->second;
    agent_order_index[id] = agents_ordered.size();
    agents_ordered.push_back(agent);
    agents[id] = agent;
    num_agents = agents.size();
}

void Problem::set_cost_matrix(const std::string& agent_type, CostMatrix matrix) {
    cost_matrices[agent_type] = std::move(matrix);
}

void Problem::set_metric(const std::string& agent_type, const std::string& kind, double factor) {
    metrics[agent_type] = MakeMetric(agent_type, kind, factor);
}

void Problem::set_duration_matrix(const std::string& agent_type, CostMatrix matrix) {
    duration_matrices[agent_type] = std::move(matrix);
}

void Problem::set_duration_metric(const std::string& agent_type, const std::string& kind,
                                  double factor, double speed) {
    duration_metrics[agent_type] = MakeMetric(agent_type, kind, factor, speed, "durations");
}

bool Problem::PricesRoutes() const {
    return HasDurations() ||
           std::any_of(agents_ordered.begin(), agents_ordered.end(), [](const Agent& agent) {
               return agent.unit_distance_cost || agent.unit_duration_cost || agent.max_distance ||
                      agent.max_duration;
           });
}

void Problem::set_assignment_constraint(const AssignmentConstraint& constraint) {
    assignment_constraint = constraint;
}

void Problem::set_timewindow_constraint(const TimeWindowConstraint& constraint) {
    timewindow_constraint = constraint;
}

void Problem::set_initial_routes(std::vector<InitialRoute> routes) {
    initial_routes = std::move(routes);
}

std::vector<uint64_t> Problem::allowed_type_indices(uint64_t node) const {
    std::vector<uint64_t> indices;
    auto entry = assignment_constraint.allowed_types.find(node);
    if (entry != assignment_constraint.allowed_types.end()) {
        for (const auto& name : entry->second) {
            auto type = type_index.find(name);
            if (type != type_index.end()) indices.push_back(type->second);
        }
    } else {
        LogLine(LogStream::kError, LineOf("[warning] node ", node,
                                          " has no assignment constraint; allowing all types"));
        for (const auto& [name, index] : type_index) indices.push_back(index);
    }
    std::sort(indices.begin(), indices.end());
    indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
    return indices;
}

}  // namespace tamrik
