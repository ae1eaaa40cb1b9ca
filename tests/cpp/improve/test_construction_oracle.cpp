// The construction builds the first routes wherever the search does not (beyond its size, or
// when it hands over without a solution). On tiny instances of every shape it builds routes
// whenever exhaustive enumeration finds a feasible solution, and the routes pass the
// independent checker.
#include <gtest/gtest.h>

#include "improve/construction.h"
#include "solver/solver_probe.h"
#include "support/brute_force.h"
#include "support/route_checker.h"
#include "support/tiny_instance.h"

namespace tamrik {
namespace {

using testing::BruteForce;
using testing::RouteChecker;
using testing::SolverProbe;
using testing::TinyInstance;

class ConstructionOracle : public ::testing::TestWithParam<unsigned> {};

TEST_P(ConstructionOracle, BuildsCheckedRoutesForEveryFeasibleInstance) {
    const Problem problem = TinyInstance(GetParam());
    const bool feasible = BruteForce(problem).Optimum().has_value();
    ::testing::internal::CaptureStderr();
    const SolverProbe solver(problem, problem.options);
    ::testing::internal::GetCapturedStderr();
    const RouteRules rules = solver.MakeRouteRules();
    const bool min_max = problem.options.objective == ObjectiveType::MinMax;
    const ConstructionOutcome outcome = Construction(rules, min_max, GetParam()).Build();
    if (!outcome.built) {
        EXPECT_FALSE(feasible) << "a feasible instance: " << outcome.reason;
        return;
    }
    Result result;
    for (size_t r = 0; r < outcome.paths.size(); ++r) {
        const auto agent = static_cast<int64_t>(r);
        result.paths[agent] = outcome.paths[r];
        result.times[agent] = rules.EvaluatePath(outcome.paths[r], agent).cost;
    }
    const auto check = RouteChecker(problem).Check(result);
    EXPECT_TRUE(check.ok()) << check.Report();
    EXPECT_TRUE(feasible) << "the enumeration finds no solution, yet routes came back";
}

INSTANTIATE_TEST_SUITE_P(Seeded, ConstructionOracle, ::testing::Range(1u, 601u));

// Agent 7 goes from node 10 to node 11, 50 apart; agent 8 (type "b") stays at node 10; node
// 12 is the only target.
struct BlockedEnd {
    double limit;
    bool window;
    bool refused;
    const char* reason;
};

class WhenAnAgentCannotReachItsEnd : public ::testing::TestWithParam<BlockedEnd> {};

TEST_P(WhenAnAgentCannotReachItsEnd, TheConstructionNamesTheRuleThatStopsIt) {
    const BlockedEnd blocked = GetParam();
    Problem problem;
    for (uint64_t id : {10, 11, 12}) problem.add_node(Node{id, {}, NodeType::TARGET, 0.0});
    problem.add_agent(Agent{7, "a", 10, 11, 0.0, blocked.limit}, 7);
    problem.add_agent(Agent{8, "b", 10, 10, 0.0, 0.0}, 8);
    const CostMatrix matrix{{0, 50, 20}, {50, 0, 40}, {20, 40, 0}};
    problem.set_cost_matrix("a", matrix);
    problem.set_cost_matrix("b", matrix);
    AssignmentConstraint assignment;
    for (uint64_t id : {10, 12}) assignment.set_assignment(id, {"a", "b"});
    assignment.set_assignment(11, blocked.refused ? std::vector<std::string>{"b"}
                                                  : std::vector<std::string>{"a", "b"});
    problem.set_assignment_constraint(assignment);
    TimeWindowConstraint windows;
    if (blocked.window) windows.set_timewindow(11, 0.0, 30.0);
    problem.set_timewindow_constraint(windows);
    ::testing::internal::CaptureStderr();
    const SolverProbe solver(problem, problem.options);
    ::testing::internal::GetCapturedStderr();
    const RouteRules rules = solver.MakeRouteRules();
    const ConstructionOutcome outcome = Construction(rules, true, 1).Build();
    EXPECT_FALSE(outcome.built);
    EXPECT_EQ(outcome.reason, blocked.reason);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, WhenAnAgentCannotReachItsEnd,
    ::testing::Values(
        BlockedEnd{40.0, false, false,
                   "agent 7 cannot go from its start to its end: the direct way costs 50, "
                   "above its cost limit of 40"},
        BlockedEnd{0.0, true, false,
                   "agent 7 cannot go from its start to its end: the window of node 11 "
                   "closes at 30, before its arrival at 50"},
        BlockedEnd{0.0, false, true,
                   "agent 7 cannot go from its start to its end: node 11 refuses its type"}));

}  // namespace
}  // namespace tamrik
