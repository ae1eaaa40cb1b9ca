// The construction builds the first routes wherever the search does not (beyond its size, or
// when it hands over without a solution). On tiny instances of every shape it builds routes
// whenever exhaustive enumeration finds a feasible solution, the routes pass the independent
// checker, and so does every solution the improvement stage makes of them.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "improve/construction.h"
#include "improve/improvement_stage.h"
#include "solver/solver_probe.h"
#include "support/brute_force.h"
#include "support/route_checker.h"
#include "support/tiny_instance.h"

namespace tamrik {
namespace {

using testing::BruteForce;
using testing::RouteChecker;
using testing::QuietProbe;
using testing::SolverProbe;
using testing::TinyInstance;

Result ResultOf(const std::vector<std::vector<int64_t>>& paths, const std::vector<double>& costs) {
    Result result;
    for (size_t r = 0; r < paths.size(); ++r) {
        result.paths[static_cast<int64_t>(r)] = paths[r];
        result.times[static_cast<int64_t>(r)] = costs[r];
    }
    return result;
}

// One seeded tiny instance, its route rules, and the improvement stage run from given routes
// with every better solution checked.
class ConstructionOracle : public ::testing::TestWithParam<unsigned> {
protected:
    ConstructionOracle()
        : problem(TinyInstance(GetParam())),
          solver(QuietProbe(problem)),
          rules(solver->Rules()),
          min_max(problem.options.objective == ObjectiveType::MinMax),
          checker(problem) {}


    // Runs the stage from `paths`; each better solution passes the checker and `also`.
    std::vector<std::vector<int64_t>> RunStage(std::vector<std::vector<int64_t>> paths,
                                               uint64_t iterations, std::vector<size_t> pinned,
                                               const std::function<void(const Result&)>& also) {
        ImprovementSettings settings;
        settings.min_max = min_max;
        settings.seed = GetParam();
        settings.max_iterations = iterations;
        settings.pinned = std::move(pinned);
        ImprovementHooks hooks;
        hooks.elapsed = [] { return 0.0; };
        hooks.deadline = 1e9;
        hooks.improved = [&](const RouteSet& set) {
            std::vector<double> costs;
            for (size_t r = 0; r < set.RouteCount(); ++r) costs.push_back(set.SummedCost(r));
            const Result improved = ResultOf(set.Paths(), costs);
            const auto check = checker.Check(improved);
            EXPECT_TRUE(check.ok()) << check.Report();
            also(improved);
        };
        ImprovementStage(rules, settings).Run(paths, hooks);
        return paths;
    }

    const Problem problem;
    const std::unique_ptr<SolverProbe> solver;
    const RouteRules rules;
    const bool min_max;
    const RouteChecker checker;
};

TEST_P(ConstructionOracle, BuildsCheckedRoutesForEveryFeasibleInstanceAndTheStageKeepsThem) {
    BruteForce brute(problem);
    const std::optional<double> optimum = brute.Optimum();
    const ConstructionOutcome outcome = Construction(rules, min_max, GetParam()).Build();
    if (!outcome.built) {
        EXPECT_FALSE(optimum.has_value()) << "a feasible instance: " << outcome.reason;
        return;
    }
    ASSERT_TRUE(optimum.has_value()) << "the enumeration finds no solution, yet routes came back";
    std::vector<double> costs;
    for (size_t r = 0; r < outcome.paths.size(); ++r) {
        costs.push_back(rules.EvaluatePath(outcome.paths[r], static_cast<int64_t>(r)).cost);
    }
    const auto check = checker.Check(ResultOf(outcome.paths, costs));
    EXPECT_TRUE(check.ok()) << check.Report();
    // Each better solution of the stage is never better than the optimum.
    RunStage(outcome.paths, 300, {}, [&](const Result& improved) {
        EXPECT_GE(brute.Objective(improved), *optimum - 1e-6);
    });
}

// Every route's first pinned[r] stops, as the warm start gave them (`paths` by agent index).
template <typename Paths>
void ExpectPinnedInPlace(const Paths& paths, const WarmStart& warm) {
    for (size_t r = 0; r < warm.pinned.size(); ++r) {
        const std::vector<int64_t>& path = paths.at(static_cast<int64_t>(r));
        for (size_t k = 0; k < warm.pinned[r]; ++k) {
            ASSERT_LT(k + 1, path.size());
            EXPECT_EQ(path[k + 1], warm.stops[r][k]) << "route " << r << ", pinned stop " << k;
        }
    }
}

TEST_P(ConstructionOracle, AWarmStartRepairsAMovedStopAndTheStageLeavesPinnedStopsInPlace) {
    const ConstructionOutcome built = Construction(rules, min_max, GetParam()).Build();
    if (!built.built || built.paths.size() < 2) return;
    // The routes built, with the last stop of one route moved to the end of the next one,
    // where it may break that route's rules; a seeded share of each route's stops pinned.
    WarmStart warm;
    for (const std::vector<int64_t>& path : built.paths) {
        warm.stops.emplace_back(path.begin() + 1, path.end() - 1);
    }
    const size_t from = GetParam() % warm.stops.size();
    const size_t to = (from + 1) % warm.stops.size();
    for (size_t r = 0; r < warm.stops.size(); ++r) {
        warm.pinned.push_back((GetParam() + r) % (warm.stops[r].size() + 1));
    }
    if (!warm.stops[from].empty()) {
        warm.stops[to].push_back(warm.stops[from].back());
        warm.stops[from].pop_back();
        warm.pinned[from] = std::min(warm.pinned[from], warm.stops[from].size());
    }
    const ConstructionOutcome outcome = Construction(rules, min_max, GetParam()).Build({}, &warm);
    ASSERT_TRUE(outcome.built) << outcome.reason;
    ExpectPinnedInPlace(outcome.paths, warm);
    const auto last = RunStage(outcome.paths, 200, warm.pinned, [&](const Result& improved) {
        ExpectPinnedInPlace(improved.paths, warm);
    });
    ExpectPinnedInPlace(last, warm);
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
    const RouteRules rules = solver.Rules();
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
