#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "solver/solver_probe.h"

namespace tamrik {
namespace {

using testing::SolverProbe;

// One agent type per matrix over `nodes` nodes, every node open to every type, one agent per
// type based at node 0.
Problem PairProblem(const std::vector<CostMatrix>& matrices, size_t nodes) {
    Problem problem;
    for (uint64_t id = 0; id < nodes; ++id) {
        Node node;
        node.id = id;
        problem.add_node(node);
    }
    AssignmentConstraint everyone;
    const std::vector<std::string> names = {"t0", "t1"};
    for (size_t t = 0; t < matrices.size(); ++t) {
        Agent agent;
        agent.id = t;
        agent.type = names[t];
        problem.add_agent(agent, t);
        problem.set_cost_matrix(agent.type, matrices[t]);
    }
    for (uint64_t id = 0; id < nodes; ++id) everyone.set_assignment(id, names);
    problem.set_assignment_constraint(everyone);
    return problem;
}

struct EstimateCase {
    std::vector<CostMatrix> matrices;
    size_t nodes;
    std::vector<std::tuple<uint64_t, double, double>> windows;  // (node, open, close)
    std::vector<double> weights;                                // of the pairs, ascending
    std::vector<int64_t> unreachable;
};

class SolverEstimates : public ::testing::TestWithParam<EstimateCase> {};

TEST_P(SolverEstimates, PairWeightsAndUnreachableStartsFollowTheGivenCostsAndWindows) {
    const EstimateCase& c = GetParam();
    Problem problem = PairProblem(c.matrices, c.nodes);
    TimeWindowConstraint windows;
    for (const auto& [node, open, close] : c.windows) windows.set_timewindow(node, open, close);
    problem.set_timewindow_constraint(windows);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    SolverProbe solver(problem, Options{});
    ::testing::internal::GetCapturedStdout();
    ::testing::internal::GetCapturedStderr();
    std::vector<double> weights;
    for (const MstEdge& edge : solver.mst_edges) weights.push_back(edge.w);
    EXPECT_EQ(weights, c.weights);
    EXPECT_EQ(solver.unreachable_points, c.unreachable);
}

INSTANTIATE_TEST_SUITE_P(
    Instances, SolverEstimates,
    ::testing::Values(
        // the cheapest given cost over both directions and both types
        EstimateCase{{{{0, 7, 9999}, {6, 0, 4}, {9999, 9999, 0}},
                      {{0, 5, 9999}, {8, 0, 9999}, {3, 2, 0}}},
                     3, {}, {2, 3, 5}, {}},
        // a cost a matrix gives is usable however large
        EstimateCase{{{{0, 2e7}, {3e7, 0}}}, 2, {}, {2e7}, {}},
        // arriving at 0 (window 10..20) at 25 blocks 1 -> 0 only
        EstimateCase{{{{0, 12}, {25, 0}}}, 2, {{0, 10, 20}}, {12}, {}},
        // leaving 0 (window 0..5) at 5 still waits 30 - 15 at 1 (window 30..40); back is late
        EstimateCase{{{{0, 10}, {10, 0}}}, 2, {{0, 0, 5}, {1, 30, 40}}, {25}, {}}));

}  // namespace
}  // namespace tamrik
