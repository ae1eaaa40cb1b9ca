#include <gtest/gtest.h>

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "solver/solver_probe.h"
#include "support/brute_force.h"
#include "support/random_instance.h"
#include "support/route_checker.h"

namespace tamrik {
namespace {

using testing::BruteForce;
using testing::InstanceShape;
using testing::RandomInstance;
using testing::RouteChecker;
using testing::SolverProbe;

struct Solved {
    int32_t status = 0;
    Result result;
    std::vector<SearchSnapshot> process;
};

Solved SolveQuietly(const Problem& problem, const Options& options) {
    SolverProbe solver(problem, options);
    Solved out;
    out.status = testing::SolveQuietly(solver).status;
    out.result = solver.GetResult();
    out.process = solver.GetResultProcess();
    return out;
}

Options Improving(const Problem& problem, uint64_t seed) {
    Options options = problem.options;
    options.improve = true;
    options.seed = seed;
    options.time_limit = 20.0;
    return options;
}

// Tiny instances of every kind the route rules distinguish, small enough to enumerate.
std::vector<std::pair<InstanceShape, unsigned>> TinyFamily() {
    std::vector<std::pair<InstanceShape, unsigned>> family;
    for (unsigned variant = 0; variant < 24; ++variant) {
        InstanceShape shape;
        shape.agents = 1 + static_cast<int>(variant % 3);
        shape.shared_depot = variant % 4 != 1;
        shape.open_routes = variant % 5 == 2;
        // Separate starts and open routes use nodes of their own; keep six or seven targets.
        const int endpoints = (shape.shared_depot ? 1 : shape.agents) +
                              (shape.open_routes ? shape.agents : 0);
        shape.nodes = endpoints + 6 + static_cast<int>(variant % 2);
        shape.two_types = shape.agents >= 2 && variant % 3 != 0;
        shape.time_windows = variant % 2 == 0;
        shape.cost_limits = variant % 4 == 3;
        shape.objective = variant % 2 == 0 ? ObjectiveType::MinMax : ObjectiveType::MinSum;
        shape.return_to_end = variant % 6 < 4;
        family.emplace_back(shape, 500 + variant);
    }
    return family;
}

class ImprovementOnTinyInstances
    : public ::testing::TestWithParam<std::pair<InstanceShape, unsigned>> {};

TEST_P(ImprovementOnTinyInstances, ReachesTheOptimumWithFeasibleRoutesAndNeverWorsens) {
    auto [shape, seed] = GetParam();
    Problem problem = RandomInstance(shape, seed);
    BruteForce brute(problem);
    std::optional<double> optimum = brute.Optimum();
    Solved solved = SolveQuietly(problem, Improving(problem, seed));
    if (solved.status == 0) {
        // The search found nothing to improve; the stage does not start from scratch.
        EXPECT_TRUE(solved.result.paths.empty());
        return;
    }
    ASSERT_TRUE(optimum.has_value()) << "the solver returned routes the enumeration rejects";
    auto check = RouteChecker(problem).Check(solved.result);
    ASSERT_TRUE(check.ok()) << check.Report();
    const double value = brute.Objective(solved.result);
    EXPECT_NEAR(value, *optimum, 1e-6);
    EXPECT_FALSE(solved.result.timeout) << "a tiny instance ends by the stall rule";
    for (const SearchSnapshot& snapshot : solved.process) {
        auto snapshot_check = RouteChecker(problem).Check(snapshot.result);
        EXPECT_TRUE(snapshot_check.ok()) << "at " << snapshot.time << "\n"
                                         << snapshot_check.Report();
        EXPECT_LE(value, brute.Objective(snapshot.result) + 1e-9);
    }
}

INSTANTIATE_TEST_SUITE_P(Seeded, ImprovementOnTinyInstances, ::testing::ValuesIn(TinyFamily()));

InstanceShape Beyond(int agents, bool shared_depot, bool open_routes, bool two_types,
                     bool cost_limits, ObjectiveType objective, bool return_to_end) {
    return InstanceShape{300, agents, shared_depot, open_routes, two_types, false, cost_limits,
                         objective, return_to_end};
}

// Pick-ups with their deliveries ("same" plus precedence) among the first forty targets, one "diff"
// pair and one precedence across the fleet, capacities of 15; every rule enforced.
Problem WithLoadsAndPairs(InstanceShape shape, unsigned seed) {
    shape.shared_depot = true;
    shape.open_routes = false;
    shape.two_types = false;
    Problem problem = RandomInstance(shape, seed);
    const auto id = [&](int k) { return problem.nodes[static_cast<size_t>(k)].id; };
    const int loaded = std::min(shape.nodes, 41);
    for (int k = 1; k < loaded; ++k) problem.nodes[static_cast<size_t>(k)].demand = 1 + k % 3;
    for (int k = 1; k + 1 < loaded; k += 2) {
        problem.nodes[static_cast<size_t>(k + 1)].demand = -problem.nodes[static_cast<size_t>(k)].demand;
        problem.sequence_constraint.same_pairs.emplace_back(id(k), id(k + 1));
        problem.sequence_constraint.precedence_pairs.emplace_back(id(k), id(k + 1));
    }
    problem.sequence_constraint.diff_pairs.emplace_back(id(shape.nodes - 1), id(shape.nodes - 2));
    problem.sequence_constraint.precedence_pairs.emplace_back(id(shape.nodes - 3), id(shape.nodes - 4));
    for (Agent& agent : problem.agents_ordered) agent.capacity_limit = 15.0;
    problem.options.enforce_capacity = true;
    problem.options.enforce_sequence = true;
    return problem;
}

// Loads within 0 .. 15 along every route; each "same" pair on one route, its first node ahead.
void ExpectLoadsAndPairsKept(const Problem& problem, const Result& result) {
    std::unordered_map<uint64_t, std::pair<int64_t, size_t>> where;
    for (const auto& [agent, path] : result.paths) {
        double load = 0.0;
        for (size_t k = 1; k + 1 < path.size(); ++k) {
            const Node& node = problem.nodes[static_cast<size_t>(path[k])];
            load += node.demand;
            EXPECT_TRUE(load >= -1e-9 && load <= 15.0 + 1e-9) << "agent " << agent << " at " << k;
            where[node.id] = {agent, k};
        }
    }
    for (const auto& [first, second] : problem.sequence_constraint.same_pairs) {
        EXPECT_EQ(where[first].first, where[second].first) << first << ", " << second;
        EXPECT_LT(where[first].second, where[second].second) << first << ", " << second;
    }
    const auto& [a, b] = problem.sequence_constraint.diff_pairs.front();
    EXPECT_NE(where[a].first, where[b].first);
}

class WithLoadsAndOrder : public ::testing::TestWithParam<InstanceShape> {};

TEST_P(WithLoadsAndOrder, EveryRecordedSolutionKeepsLoadsAndPairs) {
    Problem problem = WithLoadsAndPairs(GetParam(), 41);
    Options options = Improving(problem, 3);
    options.max_iterations = 3000;
    // The search's share of the budget, spent on goals that break the loads, stays short.
    options.time_limit = 5.0;
    Solved solved = SolveQuietly(problem, options);
    ASSERT_EQ(solved.status, 1);
    ASSERT_FALSE(solved.process.empty());
    for (const SearchSnapshot& snapshot : solved.process) {
        auto check = RouteChecker(problem).Check(snapshot.result);
        EXPECT_TRUE(check.ok()) << "at " << snapshot.time << "\n" << check.Report();
        ExpectLoadsAndPairsKept(problem, snapshot.result);
    }
}

InstanceShape Loaded(int nodes, int agents, bool windows, ObjectiveType objective) {
    return InstanceShape{nodes, agents, true, false, false, windows, false, objective, true};
}

INSTANTIATE_TEST_SUITE_P(
    Seeded, WithLoadsAndOrder,
    ::testing::Values(
        // the search's goals checked, then the stage; min-sum
        Loaded(30, 3, false, ObjectiveType::MinSum),
        // windows: waits across the fleet, min-max
        Loaded(30, 4, true, ObjectiveType::MinMax),
        // beyond the search
        Loaded(300, 6, false, ObjectiveType::MinSum)));

struct Threaded {
    InstanceShape shape;
    bool loads_and_pairs;
    uint64_t threads;
    StageSearch search = StageSearch::Anneal;
    uint64_t iterations = 5000;
};

// Two runs of the same seed give the same routes, and every plan recorded keeps the rules.
void ExpectRepeatedCheckedRuns(const Threaded& param) {
    Problem problem = param.loads_and_pairs ? WithLoadsAndPairs(param.shape, 57)
                                            : RandomInstance(param.shape, 57);
    Options options = Improving(problem, 9);
    // The iteration cap, not the budget, must end the stage, also under the sanitizers.
    options.time_limit = 600.0;
    options.max_iterations = param.iterations;
    options.threads = param.threads;
    options.search = param.search;
    const Solved first = SolveQuietly(problem, options);
    const Solved second = SolveQuietly(problem, options);
    ASSERT_EQ(first.status, 1);
    EXPECT_FALSE(first.result.timeout);
    // Beyond the search's 256 nodes the construction builds the first routes.
    EXPECT_EQ(first.result.method == "construction+improvement", param.shape.nodes > 256);
    ASSERT_FALSE(first.process.empty());
    EXPECT_EQ(first.result.paths, second.result.paths);
    EXPECT_EQ(first.result.times, second.result.times);
    double previous = 0.0;
    for (const SearchSnapshot& snapshot : first.process) {
        auto check = RouteChecker(problem).Check(snapshot.result);
        EXPECT_TRUE(check.ok()) << "at " << snapshot.time << "\n" << check.Report();
        if (param.loads_and_pairs) ExpectLoadsAndPairsKept(problem, snapshot.result);
        EXPECT_GE(snapshot.time, previous);
        previous = snapshot.time;
    }
}

class InThreads : public ::testing::TestWithParam<Threaded> {};

TEST_P(InThreads, RepeatsItselfWithCheckedRoutesRecordedInTimeOrder) {
    ExpectRepeatedCheckedRuns(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Seeded, InThreads,
    ::testing::Values(
        // one thread: two types and windows, then beyond the search with own depots, open
        // routes without a return obligation and cost limits, min-sum
        Threaded{InstanceShape{.nodes = 10, .agents = 3, .two_types = true, .time_windows = true},
                 false, 1},
        Threaded{Beyond(3, false, true, false, true, ObjectiveType::MinSum, false), false, 1},
        // beyond the search, two types, min-max
        Threaded{Beyond(4, true, false, true, false, ObjectiveType::MinMax, true), false, 2},
        // own depots, both types, limits, min-max
        Threaded{Beyond(5, false, false, true, true, ObjectiveType::MinMax, true), false, 2},
        // windows, loads, pairs and waits across the fleet, min-sum, three threads; beyond the
        // search, whose hand-over on the clock would make the stage's start differ
        Threaded{Loaded(300, 12, true, ObjectiveType::MinSum), true, 3},
        // a small instance whose runs stall at different times
        Threaded{InstanceShape{10, 2, false, true, false, true, true, ObjectiveType::MinSum,
                               false},
                 false, 2},
        // beyond the search with pairs: one accepted move per round
        Threaded{Loaded(300, 6, false, ObjectiveType::MinMax), true, 2},
        // the population search on two islands, beyond the search
        Threaded{Beyond(4, false, true, true, true, ObjectiveType::MinSum, false), false, 2,
                 StageSearch::Population, 120},
        // the population on one thread: within the search's size with windows, cost limits
        // and two types; beyond it; and with pairs, where the annealing stage runs instead
        Threaded{InstanceShape{.nodes = 12, .agents = 3, .two_types = true, .time_windows = true,
                               .cost_limits = true},
                 false, 1, StageSearch::Population, 400},
        Threaded{Beyond(4, false, true, true, true, ObjectiveType::MinSum, false), false, 1,
                 StageSearch::Population, 150},
        Threaded{Loaded(300, 6, false, ObjectiveType::MinMax), true, 1, StageSearch::Population,
                 300}));

// Outside the thread sanitizer's run (its filter is "InThreads"): slowed down that much, the
// search hands over on the clock, so the two runs would start the stage from different routes.
TEST(ThreadedStageOnSmallInstances, AnswersNoWorseThanOneThread) {
    for (uint64_t seed : {3u, 4u, 5u}) {
        Problem problem = RandomInstance(Loaded(40, 3, true, ObjectiveType::MinMax), seed);
        Options options = Improving(problem, seed);
        options.max_iterations = 3000;
        const Solved one = SolveQuietly(problem, options);
        options.threads = 3;
        const Solved three = SolveQuietly(problem, options);
        ASSERT_EQ(one.status, 1);
        ASSERT_EQ(three.status, 1);
        EXPECT_LE(LargestRouteCost(three.result), LargestRouteCost(one.result) + 1e-9);
    }
}

// "auto" answers as the search it picks: the population on loads under min-sum with routes of
// ten stops, the annealing stage on routes of a hundred, under min-max and with windows on 299
// targets.
struct AutoCase {
    double capacity;
    ObjectiveType objective;
    StageSearch picked;
    bool windows = false;
};

class AutoSearch : public ::testing::TestWithParam<AutoCase> {};

TEST_P(AutoSearch, AnswersAsTheSearchItPicks) {
    const AutoCase param = GetParam();
    Problem problem = RandomInstance(Loaded(300, 32, param.windows, param.objective), 71);
    for (size_t k = 1; k < problem.nodes.size(); ++k) problem.nodes[k].demand = 1.0;
    for (Agent& agent : problem.agents_ordered) agent.capacity_limit = param.capacity;
    problem.options.enforce_capacity = true;
    const auto solve = [&](StageSearch search) {
        Options options = Improving(problem, 5);
        options.time_limit = 600.0;
        options.max_iterations = 60;
        options.search = search;
        return SolveQuietly(problem, options).result.paths;
    };
    const StageSearch other =
        param.picked == StageSearch::Anneal ? StageSearch::Population : StageSearch::Anneal;
    const auto automatic = solve(StageSearch::Auto);
    EXPECT_EQ(automatic, solve(param.picked));
    EXPECT_NE(automatic, solve(other));
}

INSTANTIATE_TEST_SUITE_P(Seeded, AutoSearch,
                         ::testing::Values(AutoCase{10, ObjectiveType::MinSum, StageSearch::Population},
                                           AutoCase{100, ObjectiveType::MinSum, StageSearch::Anneal},
                                           AutoCase{10, ObjectiveType::MinMax, StageSearch::Anneal},
                                           AutoCase{10, ObjectiveType::MinSum, StageSearch::Anneal,
                                                    true}));

}  // namespace
}  // namespace tamrik
