// Part 5.1: DefaultPostOptimizer.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "postopt/default_post_optimizer.h"
#include "postopt/postopt_test_support.h"

namespace tamrik {
namespace {

using namespace postopt_test;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// Depot 0 in the middle, two targets on each side:
//   4 (-10,10)   2 (10,10)
//   3 (-10, 0) 0 (0,0) 1 (10,0)
Instance SquareInstance(std::vector<int64_t> agent_types) {
    Instance in;
    std::vector<Matrix> matrices;
    int64_t num_types = 0;
    for (int64_t type : agent_types) num_types = std::max(num_types, type + 1);
    const Matrix matrix = EuclideanMatrix({{0, 0}, {10, 0}, {10, 10}, {-10, 0}, {-10, 10}});
    for (int64_t t = 0; t < num_types; ++t) matrices.push_back(matrix);
    BuildGraph(in, matrices);
    std::vector<int64_t> all_types;
    for (int64_t t = 0; t < num_types; ++t) all_types.push_back(t);
    AddPoints(in, 5, all_types);
    for (int64_t type : agent_types) AddAgent(in, 0, 0, type);
    in.return_to_end = true;
    return in;
}

// The cost of the cheapest single-node relocation from route f to route t, as the longest of
// the two new routes (brute force with the independent checker).
double BestRelocationMax(const Instance& in, const Result& result, int64_t f, int64_t t) {
    double best = std::numeric_limits<double>::infinity();
    const Path& from = result.paths.at(f);
    const Path& to = result.paths.at(t);
    for (size_t p = 1; p + 1 < from.size(); ++p) {
        Path source = from;
        source.erase(source.begin() + p);
        const RouteCheck source_check = CheckRoute(in, source, f);
        if (!source_check.feasible) continue;
        for (size_t q = 1; q < to.size(); ++q) {
            Path target = to;
            target.insert(target.begin() + q, from[p]);
            const RouteCheck target_check = CheckRoute(in, target, t);
            if (!target_check.feasible) continue;
            best = std::min(best, std::max(source_check.cost, target_check.cost));
        }
    }
    return best;
}

TEST(DefaultPostOptimizer, NameIsItsClassName) {
    EXPECT_EQ(DefaultPostOptimizer().Name(), "DefaultPostOptimizer");
}

TEST(DefaultPostOptimizer, InGroupPhaseRelocatesAtMostOneNodePerGroup) {
    Instance in = SquareInstance({0, 0});
    const Result before = MakeResult(in, {{0, 1, 2, 4, 3, 0}, {0, 0}});
    Result result = before;
    DefaultPostOptimizer optimizer;
    CaptureStderr();
    RunOptimizer(optimizer, in, result);
    EXPECT_EQ(GetCapturedStderr(), "");
    // Moving 2 or 4 gains the same; the earlier position (2) wins. A second move would gain
    // again, but the in-group phase makes one, and a single group has no cross-group moves.
    EXPECT_EQ(result.paths.at(0), (Path{0, 1, 4, 3, 0}));
    EXPECT_EQ(result.paths.at(1), (Path{0, 2, 0}));
    EXPECT_NEAR(result.times.at(0), 30.0 + std::hypot(20.0, 10.0), 1e-9);
    EXPECT_NEAR(result.times.at(1), 2.0 * std::hypot(10.0, 10.0), 1e-9);
    EXPECT_LT(BestRelocationMax(in, result, 0, 1), result.times.at(0));
    ExpectSoundSolution(in, before, result, "in-group");
}

TEST(DefaultPostOptimizer, CrossGroupPhaseRepeatsUntilNoMoveGains) {
    Instance in = SquareInstance({0, 1});
    const Result before = MakeResult(in, {{0, 1, 2, 4, 3, 0}, {0, 0}});
    Result result = before;
    DefaultPostOptimizer optimizer;
    RunOptimizer(optimizer, in, result);
    ExpectSoundSolution(in, before, result, "cross-group");
    // More than the single in-group move: the longest route got below the first move's 52.36.
    EXPECT_LT(LongestTime(result), 30.0 + std::hypot(20.0, 10.0) - 1.0);
    // Stopped because no relocation from the longest to the other route gains.
    const int64_t longest = result.times.at(0) >= result.times.at(1) ? 0 : 1;
    EXPECT_GE(BestRelocationMax(in, result, longest, 1 - longest), LongestTime(result));
}

TEST(DefaultPostOptimizer, CrossGroupMovesOnlyNodesTheReceivingTypeMayServe) {
    Instance in = SquareInstance({0, 1});
    for (int64_t v = 1; v <= 4; ++v) in.points[v].types = {0};
    const Result before = MakeResult(in, {{0, 1, 2, 4, 3, 0}, {0, 0}});
    Result result = before;
    DefaultPostOptimizer optimizer;
    RunOptimizer(optimizer, in, result);
    EXPECT_EQ(result.paths, before.paths);
    EXPECT_EQ(result.times, before.times);
}

TEST(DefaultPostOptimizer, ASingleAgentIsOnlyReversed) {
    Instance in = SquareInstance({0});
    const Result before = MakeResult(in, {{0, 1, 3, 2, 4, 0}});
    Result result = before;
    DefaultPostOptimizer optimizer;
    RunOptimizer(optimizer, in, result);
    ExpectSoundSolution(in, before, result, "single agent");
    EXPECT_LT(result.times.at(0), before.times.at(0));
    EXPECT_NEAR(result.times.at(0), 60.0, 1e-9);  // the hull order
}

TEST(DefaultPostOptimizer, WithoutStartsAndEndsEveryPathIsReportedAndKept) {
    Instance in = SquareInstance({0, 0});
    in.starts.clear();
    in.ends.clear();
    Result result;
    result.paths[0] = {0, 1, 2, 0};
    result.paths[1] = {0, 3, 4, 0};
    result.times[0] = 34.0;  // incoming costs, whatever they were
    result.times[1] = 35.0;
    DefaultPostOptimizer optimizer;
    CaptureStderr();
    RunOptimizer(optimizer, in, result);
    const std::string err = GetCapturedStderr();
    // Reported once when grouping and once more before the reversal pass.
    EXPECT_EQ(err,
              "[post-opt] invalid path for agent 0, skip optimize\n"
              "[post-opt] invalid path for agent 1, skip optimize\n"
              "[post-opt] invalid path for agent 0, skip optimize\n"
              "[post-opt] invalid path for agent 1, skip optimize\n");
    EXPECT_EQ(result.paths.at(0), (Path{0, 1, 2, 0}));
    EXPECT_EQ(result.paths.at(1), (Path{0, 3, 4, 0}));
    // Sound behaviour: an infeasible route keeps the cost it came with, not 0.0.
    EXPECT_EQ(result.times.at(0), 34.0);
    EXPECT_EQ(result.times.at(1), 35.0);
}

TEST(DefaultPostOptimizer, AnInfeasibleRouteKeepsItsIncomingCostOrZeroWithoutOne) {
    Instance in = SquareInstance({0, 0, 0});
    Result result;
    result.paths[0] = {0, 1, 2, 0};
    result.paths[1] = {0, 3, 0, 4, 0};  // own start in the middle
    result.paths[2] = {0, 4, 3};        // does not end at the end node
    result.times[0] = 99.0;             // wrong on purpose: a feasible route gets its cost
    result.times[1] = 77.0;
    DefaultPostOptimizer optimizer;
    CaptureStderr();
    RunOptimizer(optimizer, in, result);
    const std::string err = GetCapturedStderr();
    EXPECT_NE(err.find("[post-opt] invalid path for agent 1, skip optimize\n"), std::string::npos);
    EXPECT_NE(err.find("[post-opt] invalid path for agent 2, skip optimize\n"), std::string::npos);
    EXPECT_EQ(err.find("agent 0"), std::string::npos);
    EXPECT_EQ(result.paths.at(1), (Path{0, 3, 0, 4, 0}));
    EXPECT_EQ(result.paths.at(2), (Path{0, 4, 3}));
    EXPECT_EQ(result.times.at(1), 77.0);
    EXPECT_EQ(result.times.at(2), 0.0);
    EXPECT_EQ(result.times.at(0), CheckRoute(in, result.paths.at(0), 0).cost);
}

TEST(DefaultPostOptimizer, AnInfiniteCostIsReportedAsInvalidOrOverCapacity) {
    Instance in = SquareInstance({0});
    Matrix matrix = EuclideanMatrix({{0, 0}, {10, 0}, {10, 10}, {-10, 0}, {-10, 10}});
    matrix[1][0] = std::numeric_limits<double>::infinity();
    BuildGraph(in, {matrix});
    Result result;
    result.paths[0] = {0, 2, 1, 0};
    DefaultPostOptimizer optimizer;
    CaptureStderr();
    RunOptimizer(optimizer, in, result);
    EXPECT_EQ(GetCapturedStderr(), "[post-opt] path invalid or over capacity, skip agent 0\n");
    EXPECT_EQ(result.paths.at(0), (Path{0, 2, 1, 0}));  // no reversal pass on it
    EXPECT_TRUE(std::isinf(result.times.at(0)));
}

TEST(DefaultPostOptimizer, WaitingAtTheStartBeyondTheLimitIsReportedAsOverCapacity) {
    Instance in = SquareInstance({0});
    in.agents[0].cost_limit = 50.0;
    in.windows[0] = {100.0, 200.0};
    Result result;
    result.paths[0] = {0};
    DefaultPostOptimizer optimizer;
    CaptureStderr();
    RunOptimizer(optimizer, in, result);
    EXPECT_EQ(GetCapturedStderr(), "[post-opt] path invalid or over capacity, skip agent 0\n");
    EXPECT_EQ(result.paths.at(0), (Path{0}));
    EXPECT_EQ(result.times.at(0), 100.0);
}

TEST(DefaultPostOptimizer, ApplyRelocationRejectsPositionsOutsideTheInterior) {
    Instance in = SquareInstance({0, 0});
    DefaultPostOptimizer optimizer;
    Configure(optimizer, in);
    optimizer.BindInstance(in.graph.get(), in.points, in.agents);
    DefaultPostOptimizer::RouteRecord from{0, 60.0, {0, 1, 2, 4, 3, 0}, true};
    DefaultPostOptimizer::RouteRecord to{1, 0.0, {0, 0}, true};
    for (auto [from_pos, to_pos] : {std::pair<int64_t, int64_t>{0, 1}, {5, 1}, {1, 0}, {1, 2},
                                    {-1, -1}}) {
        DefaultPostOptimizer::RelocationMove move{from_pos, to_pos, 0, 0, 1.0};
        CaptureStderr();
        EXPECT_FALSE(optimizer.ApplyRelocation(from, to, move));
        EXPECT_EQ(GetCapturedStderr(), "Invalid indices.\n") << from_pos << " " << to_pos;
        EXPECT_EQ(from.path, (Path{0, 1, 2, 4, 3, 0}));
        EXPECT_EQ(to.path, (Path{0, 0}));
    }
    // A valid move is applied with both new costs.
    CaptureStderr();
    EXPECT_TRUE(optimizer.ApplyRelocation(from, to, {2, 1, 0, 0, 1.0}));
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(from.path, (Path{0, 1, 4, 3, 0}));
    EXPECT_EQ(to.path, (Path{0, 2, 0}));
    EXPECT_NEAR(to.cost, 2.0 * std::hypot(10.0, 10.0), 1e-9);
}

TEST(DefaultPostOptimizer, ApplyRelocationOnTooShortPathsDoesNothingSilently) {
    Instance in = SquareInstance({0, 0});
    DefaultPostOptimizer optimizer;
    Configure(optimizer, in);
    optimizer.BindInstance(in.graph.get(), in.points, in.agents);
    DefaultPostOptimizer::RouteRecord from{0, 0.0, {0}, true};
    DefaultPostOptimizer::RouteRecord to{1, 0.0, {0, 0}, true};
    CaptureStderr();
    EXPECT_FALSE(optimizer.ApplyRelocation(from, to, {1, 1, 0, 0, 1.0}));
    EXPECT_EQ(GetCapturedStderr(), "");
}

TEST(DefaultPostOptimizer, MissingEntriesAreCreatedAndOtherFieldsKept) {
    Instance in = SquareInstance({0, 1, 0});
    Result result;
    result.paths[1] = {0, 1, 2, 0};
    result.n_generated = 11;
    result.n_expanded = 7;
    result.timeout = true;
    result.last_update_time = 2.5;
    DefaultPostOptimizer optimizer;
    RunOptimizer(optimizer, in, result);
    ASSERT_EQ(result.paths.size(), 3u);
    ASSERT_EQ(result.times.size(), 3u);
    EXPECT_TRUE(result.paths.at(0).empty());
    EXPECT_TRUE(result.paths.at(2).empty());
    EXPECT_EQ(result.times.at(0), 0.0);
    EXPECT_EQ(result.n_generated, 11);
    EXPECT_EQ(result.n_expanded, 7);
    EXPECT_TRUE(result.timeout);
    EXPECT_EQ(result.last_update_time, 2.5);
}

TEST(DefaultPostOptimizer, RepeatedCallsStartFromTheGivenResultOnly) {
    Instance in = SquareInstance({0, 1});
    const Result before = MakeResult(in, {{0, 1, 2, 4, 3, 0}, {0, 0}});
    DefaultPostOptimizer optimizer;
    Result first = before;
    RunOptimizer(optimizer, in, first);
    Result second = before;
    optimizer.Optimize(in.graph.get(), in.points, in.agents, second);
    EXPECT_EQ(first.paths, second.paths);
    EXPECT_EQ(first.times, second.times);
}

}  // namespace
}  // namespace tamrik
