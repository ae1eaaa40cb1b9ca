#include <gtest/gtest.h>

#include <cstdlib>

#include "solver/solver_probe.h"

namespace tamrik {
namespace {

using testing::SolverProbe;

// Two agent types over `matrices.size()` nodes, every node open to both, one agent per type
// based at node 0.
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

std::vector<double> Weights(const SolverProbe& solver) {
    std::vector<double> weights;
    for (const MstEdge& edge : solver.mst_edges) weights.push_back(edge.w);
    return weights;
}

TEST(SolverEstimates, PairWeightIsTheCheapestUsableCostOverDirectionsAndTypes) {
    Problem problem = PairProblem({{{0, 7, 9999}, {6, 0, 4}, {9999, 9999, 0}},
                                   {{0, 5, 9999}, {8, 0, 9999}, {3, 2, 0}}},
                                  3);
    SolverProbe solver(problem, Options{});
    ASSERT_EQ(solver.mst_edges.size(), 3u);
    EXPECT_EQ(Weights(solver), (std::vector<double>{2, 3, 5}));
    for (const MstEdge& edge : solver.mst_edges) EXPECT_GT(edge.u, edge.v);
    EXPECT_EQ(solver.mst_edges[0].u, 2);
    EXPECT_EQ(solver.mst_edges[0].v, 1);
    // A cost that a matrix gives is usable however large; only missing entries are no arcs.
    Problem large = PairProblem({{{0, 2e7}, {3e7, 0}}}, 2);
    ::testing::internal::CaptureStderr();
    SolverProbe costly(large, Options{});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(Weights(costly), (std::vector<double>{2e7}));
    EXPECT_TRUE(costly.unreachable_points.empty());
}

TEST(SolverEstimates, ArrivalAfterTheTargetWindowBlocksThatDirectionOnly) {
    // Vertex 0 has window (10, 20); vertex 1 has none. 1 -> 0 costs 25, 0 -> 1 costs 12.
    Problem problem = PairProblem({{{0, 12}, {25, 0}}}, 2);
    TimeWindowConstraint windows;
    windows.set_timewindow(0, 10, 20);
    problem.set_timewindow_constraint(windows);
    SolverProbe solver(problem, Options{});
    EXPECT_EQ(Weights(solver), (std::vector<double>{12}));
    // Once the matrix gives no cost for the other direction either, the pair is blocked.
    Problem blocked = PairProblem({{{0}, {25, 0}}}, 2);
    blocked.set_timewindow_constraint(windows);
    ::testing::internal::CaptureStdout();
    SolverProbe none(blocked, Options{});
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "[TW-MST] blocked edges: 1 / 1 (set MTSP_DEBUG_TW_EDGES=1 for details)\n");
    EXPECT_TRUE(none.mst_edges.empty());
}

TEST(SolverEstimates, AddsTheWaitThatRemainsWhenLeavingAsLateAsPossible) {
    // Windows (0, 5) at vertex 0 and (30, 40) at vertex 1, arcs of cost 10 both ways: going
    // 0 -> 1 waits 30 - (5 + 10); going back arrives too late.
    Problem problem = PairProblem({{{0, 10}, {10, 0}}}, 2);
    TimeWindowConstraint windows;
    windows.set_timewindow(0, 0, 5);
    windows.set_timewindow(1, 30, 40);
    problem.set_timewindow_constraint(windows);
    SolverProbe solver(problem, Options{});
    EXPECT_EQ(Weights(solver), (std::vector<double>{25}));
}

TEST(SolverEstimates, CountsAndOnRequestListsBlockedPairs) {
    // A matrix without entries: every arc holds the fill value.
    Problem problem = PairProblem({CostMatrix{}}, 3);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    { SolverProbe solver(problem, Options{}); }
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "[TW-MST] blocked edges: 3 / 3 (set MTSP_DEBUG_TW_EDGES=1 for details)\n");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "point: 0 can't be reached\n");

    setenv("MTSP_DEBUG_TW_EDGES", "", 1);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    { SolverProbe solver(problem, Options{}); }
    unsetenv("MTSP_DEBUG_TW_EDGES");
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(::testing::internal::GetCapturedStdout(),
              "edge: 1->0 cost: 1.79769e+308\n"
              "edge: 2->0 cost: 1.79769e+308\n"
              "edge: 2->1 cost: 1.79769e+308\n"
              "[TW-MST] blocked edges: 3 / 3 (set MTSP_DEBUG_TW_EDGES=1 for details)\n");
}

}  // namespace
}  // namespace tamrik
