#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/constraints.h"
#include "model/metric.h"
#include "model/records.h"

namespace tamrik {

using CostMatrix = std::vector<std::vector<double>>;

// One MTSP instance. Nothing here validates its input; the solver set-up interprets ids,
// matrix shapes and type names.
//
// Nodes and ordered agents live in deques: appending never moves the elements already
// stored, so references handed out earlier (the Python views) stay valid as the problem grows.
class Problem {
public:
    std::deque<Node> nodes;
    std::unordered_map<uint64_t, Agent> agents;
    uint64_t num_agents = 0;
    uint64_t num_nodes = 0;
    std::unordered_map<std::string, CostMatrix> cost_matrices;
    // Types whose costs follow from the node coordinates instead of a matrix.
    std::unordered_map<std::string, Metric> metrics;
    // Travel times apart from the costs, by type: a matrix, or a metric over the coordinates.
    // With any, windows, shifts and every time of a route follow them, and the costs are
    // distances; without, the costs are the times as well.
    std::unordered_map<std::string, CostMatrix> duration_matrices;
    std::unordered_map<std::string, Metric> duration_metrics;
    AssignmentConstraint assignment_constraint;
    TimeWindowConstraint timewindow_constraint;
    SequenceConstraint sequence_constraint;
    Options options;
    std::deque<Agent> agents_ordered;
    std::unordered_map<uint64_t, uint64_t> agent_order_index;
    std::unordered_map<std::string, uint64_t> type_index;
    std::vector<std::string> type_names;
    std::unordered_map<uint64_t, uint64_t> agent_type_of;
    // Routes the improvement stage starts from (none: it builds its own).
    std::vector<InitialRoute> initial_routes;
    // What the loader accepted but read differently from its text (an unknown objective).
    std::vector<std::string> input_warnings;

    void add_node(const Node& node);
    // The maps are keyed by `id`, not by agent.id.
    void add_agent(const Agent& agent, uint64_t id);
    void set_cost_matrix(const std::string& agent_type, CostMatrix matrix);
    // Costs of the type from coordinates: kind "euclidean", "manhattan" or "haversine",
    // every distance times `factor`. An unknown kind or a factor that is not finite and
    // positive raises std::invalid_argument.
    void set_metric(const std::string& agent_type, const std::string& kind, double factor = 1.0);
    void set_duration_matrix(const std::string& agent_type, CostMatrix matrix);
    // Travel times from coordinates: factor times the distance, divided by speed. Errors as
    // for set_metric, naming "durations.<agent_type>".
    void set_duration_metric(const std::string& agent_type, const std::string& kind,
                             double factor = 1.0, double speed = 1.0);
    // Whether travel times are given apart from the costs.
    bool HasDurations() const { return !duration_matrices.empty() || !duration_metrics.empty(); }
    // Whether routes are priced and limited by their distance and duration: durations are
    // given, or some agent has a unit cost or a limit on either.
    bool PricesRoutes() const;
    void set_assignment_constraint(const AssignmentConstraint& constraint);
    void set_timewindow_constraint(const TimeWindowConstraint& constraint);
    void set_initial_routes(std::vector<InitialRoute> routes);

    // Type indices allowed to serve the node, ascending and unique. A node without an
    // assignment entry admits every type and gets a warning on standard error.
    std::vector<uint64_t> allowed_type_indices(uint64_t node) const;
};

}  // namespace tamrik
