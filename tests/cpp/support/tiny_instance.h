#pragma once

// Seeded tiny instances of every shape the route rules distinguish, small enough for
// exhaustive enumeration: up to 7 nodes and 4 agents of one or two types; one, two or three
// depots; ends at the own start, at another depot or at a node of their own; cost limits on
// some agents only; random allowed types; one or two windows on targets and ends; service
// times on some nodes; shifts and stop limits on some agents; both objectives, both route
// costs and return_to_end both ways.

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "model/problem.h"

namespace tamrik::testing {

inline bool IsEndpoint(const Problem& problem, uint64_t node, bool starts_only = false) {
    return std::any_of(problem.agents_ordered.begin(), problem.agents_ordered.end(),
                       [=](const Agent& a) {
                           return a.start_node == node || (!starts_only && a.end_node == node);
                       });
}

inline Problem TinyInstance(unsigned seed) {
    std::mt19937 rng(seed);
    auto pick = [&rng](int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); };
    const int agent_count = pick(1, 4);
    const int node_count = std::min(7, pick(agent_count + 1, agent_count + 4));
    const int depots = std::min(node_count - 1, pick(1, 3));
    const bool two_types = pick(0, 1) == 1;
    Problem problem;
    const bool services = pick(0, 2) == 0;
    for (int i = 0; i < node_count; ++i) {
        Node node;
        node.id = 1000 + static_cast<uint64_t>(i) * 7 + static_cast<uint64_t>(pick(0, 6));
        // Services on depots too: they are ignored there.
        if (services) node.service = pick(0, 6);
        problem.add_node(node);
    }
    auto node_id = [&problem](int index) { return problem.nodes[static_cast<size_t>(index)].id; };
    for (int a = 0; a < agent_count; ++a) {
        Agent agent;
        agent.id = 50 + static_cast<uint64_t>(a);
        agent.type = two_types && pick(0, 1) == 1 ? "b" : "a";
        agent.start_node = node_id(pick(0, depots - 1));
        switch (pick(0, 3)) {
            case 0: agent.end_node = node_id(pick(0, depots - 1)); break;
            case 1: agent.end_node = node_id(pick(0, node_count - 1)); break;
            default: agent.end_node = agent.start_node;
        }
        if (pick(0, 2) == 0) agent.time_limit = pick(15, 80);
        if (pick(0, 4) == 0) {
            agent.shift_start = pick(0, 10);
            agent.shift_end = *agent.shift_start + pick(30, 150);
        }
        if (pick(0, 4) == 0) agent.max_stops = pick(0, 3);
        problem.add_agent(agent, agent.id);
    }
    // Rounded-up distances keep the triangle inequality, which the search's dominance rule
    // relies on.
    std::vector<std::pair<int, int>> xy;
    for (int i = 0; i < node_count; ++i) xy.emplace_back(pick(0, 20), pick(0, 20));
    for (const std::string& type : problem.type_names) {
        const double scale = type == "b" ? 1.5 : 1.0;
        CostMatrix matrix(static_cast<size_t>(node_count), std::vector<double>(node_count, 0.0));
        for (int i = 0; i < node_count; ++i) {
            for (int j = 0; j < node_count; ++j) {
                const double d = std::hypot(xy[i].first - xy[j].first, xy[i].second - xy[j].second);
                matrix[i][j] = std::ceil(scale * d);
            }
        }
        problem.set_cost_matrix(type, matrix);
    }
    AssignmentConstraint assignment;
    TimeWindowConstraint windows;
    for (const Node& node : problem.nodes) {
        const bool endpoint = IsEndpoint(problem, node.id);
        if (two_types && !endpoint && pick(0, 2) == 0) {
            assignment.set_assignment(node.id, {pick(0, 1) ? "a" : "b"});
        } else {
            assignment.set_assignment(node.id, {"a", "b"});
        }
        // Windows on targets and on ends; a start's own window would bind from time 0.
        if (pick(0, 3) == 0 && !IsEndpoint(problem, node.id, true)) {
            const double open = pick(0, 30);
            const double close = open + pick(5, 60);
            if (pick(0, 2) == 0) {
                const double reopen = close + pick(1, 20);
                windows.set_timewindows(node.id, {{open, close}, {reopen, reopen + pick(0, 30)}});
            } else {
                windows.set_timewindow(node.id, open, close);
            }
        }
    }
    problem.set_assignment_constraint(assignment);
    problem.set_timewindow_constraint(windows);
    problem.options.objective = pick(0, 1) ? ObjectiveType::MinMax : ObjectiveType::MinSum;
    problem.options.return_to_end = pick(0, 2) != 0;
    if (pick(0, 3) == 0) problem.options.route_cost = RouteCostKind::Travel;
    problem.options.time_limit = 10.0;
    return problem;
}

}  // namespace tamrik::testing
