// Feasible means solvable: on tiny random instances of every shape, a search that ends on its
// own has routes whenever exhaustive enumeration finds a feasible solution, and every route
// it returns passes the independent checker at the reported cost.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "solver/solver.h"
#include "support/brute_force.h"
#include "support/route_checker.h"

namespace tamrik {
namespace {

using testing::BruteForce;
using testing::RouteChecker;

bool IsEndpoint(const Problem& problem, uint64_t node) {
    return std::any_of(problem.agents_ordered.begin(), problem.agents_ordered.end(),
                       [node](const Agent& a) { return a.start_node == node || a.end_node == node; });
}

// Up to 7 nodes and 4 agents of one or two types, random allowed types, windows and cost
// limits, starts and ends shared or not, both objectives, return_to_end both ways.
Problem TinyInstance(unsigned seed) {
    std::mt19937 rng(seed);
    auto pick = [&rng](int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng); };
    const int agent_count = pick(1, 4);
    const int node_count = std::min(7, pick(agent_count + 1, agent_count + 4));
    const bool two_types = pick(0, 1) == 1;
    Problem problem;
    for (int i = 0; i < node_count; ++i) {
        Node node;
        node.id = 1000 + static_cast<uint64_t>(i) * 7 + static_cast<uint64_t>(pick(0, 6));
        problem.add_node(node);
    }
    for (int a = 0; a < agent_count; ++a) {
        Agent agent;
        agent.id = 50 + static_cast<uint64_t>(a);
        agent.type = two_types && pick(0, 1) == 1 ? "b" : "a";
        agent.start_node = problem.nodes[static_cast<size_t>(pick(0, 1))].id;
        const bool own_end = pick(0, 2) == 0;
        agent.end_node = own_end ? problem.nodes[static_cast<size_t>(pick(0, node_count - 1))].id
                                 : agent.start_node;
        if (pick(0, 3) == 0) agent.time_limit = pick(15, 80);
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
        if (pick(0, 3) == 0 && !endpoint) {
            const double open = pick(0, 30);
            windows.set_timewindow(node.id, open, open + pick(5, 60));
        }
    }
    problem.set_assignment_constraint(assignment);
    problem.set_timewindow_constraint(windows);
    problem.options.objective = pick(0, 1) ? ObjectiveType::MinMax : ObjectiveType::MinSum;
    problem.options.return_to_end = pick(0, 2) != 0;
    problem.options.time_limit = 10.0;
    return problem;
}

class FeasibilityOracle : public ::testing::TestWithParam<unsigned> {};

TEST_P(FeasibilityOracle, FeasibleInstancesGetRoutesThatTheCheckerAccepts) {
    const Problem problem = TinyInstance(GetParam());
    const bool feasible = BruteForce(problem).Optimum().has_value();
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    Solver solver(problem, problem.options);
    solver.Solve();
    ::testing::internal::GetCapturedStdout();
    ::testing::internal::GetCapturedStderr();
    const Result result = solver.GetResult();
    if (result.paths.empty()) {
        EXPECT_FALSE(feasible && !result.timeout) << "a feasible instance ended failed";
        return;
    }
    const auto check = RouteChecker(problem).Check(result);
    EXPECT_TRUE(check.ok()) << check.Report();
    EXPECT_TRUE(feasible) << "the enumeration finds no solution, yet routes came back";
}

INSTANTIATE_TEST_SUITE_P(Seeded, FeasibilityOracle, ::testing::Range(1u, 501u));

}  // namespace
}  // namespace tamrik
