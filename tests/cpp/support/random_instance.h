#pragma once

// Seeded random MTSP instances for whole-solve tests.

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "model/problem.h"

namespace tamrik::testing {

struct InstanceShape {
    int nodes = 8;
    int agents = 2;
    bool shared_depot = true;
    // Each agent ends somewhere other than where it starts.
    bool open_routes = false;
    bool two_types = false;
    bool time_windows = false;
    bool cost_limits = false;
    ObjectiveType objective = ObjectiveType::MinMax;
    bool return_to_end = true;
};

inline Problem RandomInstance(const InstanceShape& shape, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> coordinate(0.0, 100.0);
    Problem problem;
    std::vector<std::pair<double, double>> xy;
    for (int i = 0; i < shape.nodes; ++i) {
        Node node;
        node.id = 100 + static_cast<uint64_t>(i) * 3;  // ids are not positions
        node.position = {coordinate(rng), coordinate(rng), 0.0};
        xy.emplace_back(node.position.x, node.position.y);
        problem.add_node(node);
    }
    // Endpoints come first; every other node is a target.
    int endpoint = 0;
    auto next_endpoint = [&] { return problem.nodes[endpoint++].id; };
    uint64_t depot = next_endpoint();
    double longest_tour = 0.0;
    for (int a = 0; a < shape.agents; ++a) {
        Agent agent;
        agent.id = 10 * static_cast<uint64_t>(a) + 7;
        agent.type = shape.two_types && a % 2 == 1 ? "heavy" : "light";
        agent.start_node = shape.shared_depot && a > 0 ? depot : (a == 0 ? depot : next_endpoint());
        agent.end_node = shape.open_routes ? next_endpoint() : agent.start_node;
        problem.add_agent(agent, agent.id);
    }
    for (const std::string& type : problem.type_names) {
        double scale = type == "heavy" ? 1.5 : 1.0;
        CostMatrix matrix(shape.nodes, std::vector<double>(shape.nodes, 0.0));
        for (int i = 0; i < shape.nodes; ++i) {
            for (int j = 0; j < shape.nodes; ++j) {
                double d = std::hypot(xy[i].first - xy[j].first, xy[i].second - xy[j].second);
                matrix[i][j] = std::round(scale * d * 10.0) / 10.0;
                longest_tour += matrix[i][j] / shape.nodes;
            }
        }
        problem.set_cost_matrix(type, matrix);
    }
    AssignmentConstraint assignment;
    TimeWindowConstraint windows;
    std::uniform_int_distribution<int> coin(0, 3);
    for (int i = endpoint; i < shape.nodes; ++i) {
        uint64_t id = problem.nodes[i].id;
        if (shape.two_types) {
            int pick = coin(rng);
            if (pick == 0) assignment.set_assignment(id, {"light"});
            else if (pick == 1) assignment.set_assignment(id, {"heavy"});
            else assignment.set_assignment(id, {"light", "heavy"});
        }
        if (shape.time_windows && coin(rng) == 0) {
            double open = std::uniform_real_distribution<double>(0.0, 150.0)(rng);
            windows.set_timewindow(id, open, open + 400.0);
        }
    }
    if (shape.two_types) {
        for (int i = 0; i < endpoint; ++i) {
            assignment.set_assignment(problem.nodes[i].id, {"light", "heavy"});
        }
    }
    problem.set_assignment_constraint(assignment);
    problem.set_timewindow_constraint(windows);
    if (shape.cost_limits) {
        for (Agent& agent : problem.agents_ordered) agent.time_limit = 2.0 * longest_tour + 400.0;
        for (auto& [id, agent] : problem.agents) agent.time_limit = 2.0 * longest_tour + 400.0;
    }
    problem.options.objective = shape.objective;
    problem.options.return_to_end = shape.return_to_end;
    return problem;
}

}  // namespace tamrik::testing
