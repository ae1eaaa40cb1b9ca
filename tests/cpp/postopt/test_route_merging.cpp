// Part 5.2: RouteMergingPostOptimizer.

#include <gtest/gtest.h>

#include <cmath>

#include "postopt/postopt_test_support.h"
#include "postopt/route_merging_post_optimizer.h"

namespace tamrik {
namespace {

using namespace postopt_test;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// `n` nodes, one cost dimension per agent type (the same matrix for all), every type allowed
// everywhere, agents of the given types all starting and ending at depot 0, must return.
Instance DepotInstance(const Matrix& matrix, const std::vector<int64_t>& agent_types) {
    Instance in;
    int64_t num_types = 1;
    for (int64_t type : agent_types) num_types = std::max(num_types, type + 1);
    BuildGraph(in, std::vector<Matrix>(static_cast<size_t>(num_types), matrix));
    std::vector<int64_t> all_types;
    for (int64_t t = 0; t < num_types; ++t) all_types.push_back(t);
    AddPoints(in, matrix.size(), all_types);
    for (int64_t type : agent_types) AddAgent(in, 0, 0, type);
    in.return_to_end = true;
    return in;
}

TEST(RouteMergingPostOptimizer, NameIsItsClassName) {
    EXPECT_EQ(RouteMergingPostOptimizer().Name(), "RouteMergingPostOptimizer");
}

TEST(RouteMergingPostOptimizer, DissolvesTheShortRouteIntoTheOthers) {
    // Depot 0; route 0 = [0 1 2 0] (long), route 1 = [0 3 0] where 3 lies on the way 1 -> 2.
    Instance in = DepotInstance(EuclideanMatrix({{0, 0}, {10, 0}, {10, 10}, {10, 5}}), {0, 0});
    const Result before = MakeResult(in, {{0, 1, 2, 0}, {0, 3, 0}});
    Result result = before;
    RouteMergingPostOptimizer optimizer;
    CaptureStderr();
    RunOptimizer(optimizer, in, result);
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(result.paths.at(0), (Path{0, 1, 3, 2, 0}));
    // The dissolved route keeps its two end nodes; start = end, so its cost is 0.0.
    EXPECT_EQ(result.paths.at(1), (Path{0, 0}));
    EXPECT_EQ(result.times.at(1), 0.0);
    ExpectSoundSolution(in, before, result, "dissolve");
}

TEST(RouteMergingPostOptimizer, TheCheapestRouteIsDissolvedFirst) {
    // Route 0 = [0 1 0] = 40 (cap), route 1 = [0 2 0] = 10, route 2 = [0 3 0] = 20. Route 1
    // goes first: 2 moves into route 0 (40; route 2 would cost 115). Then route 2: 3 fits into
    // route 0 again (40) but the emptied route 1 takes it cheaper (20).
    Matrix matrix = SymmetricMatrix(4, {{0, 1, 20.0}, {0, 2, 5.0}, {0, 3, 10.0}, {1, 2, 15.0},
                                        {1, 3, 10.0}, {2, 3, 100.0}});
    Instance in = DepotInstance(matrix, {0, 0, 0});
    const Result before = MakeResult(in, {{0, 1, 0}, {0, 2, 0}, {0, 3, 0}});
    Result result = before;
    RouteMergingPostOptimizer optimizer;
    RunOptimizer(optimizer, in, result);
    EXPECT_EQ(result.paths.at(0), (Path{0, 2, 1, 0}));
    EXPECT_EQ(result.paths.at(1), (Path{0, 3, 0}));
    EXPECT_EQ(result.paths.at(2), (Path{0, 0}));
    EXPECT_EQ(result.times.at(0), 40.0);
    EXPECT_EQ(result.times.at(1), 20.0);
    EXPECT_EQ(result.times.at(2), 0.0);
    ExpectSoundSolution(in, before, result, "order");
}

TEST(RouteMergingPostOptimizer, NoReceivingRouteGrowsBeyondTheLongestIncomingRoute) {
    // Route 0 = [0 1 0] costs 40 (the cap). Node 2 of route 1 would cost 40 + 0.5 in route 0.
    Matrix matrix = SymmetricMatrix(3, {{0, 1, 20.0}, {0, 2, 10.0}, {1, 2, 10.5}});
    Instance in = DepotInstance(matrix, {0, 0});
    const Result before = MakeResult(in, {{0, 1, 0}, {0, 2, 0}});
    Result result = before;
    RouteMergingPostOptimizer optimizer;
    RunOptimizer(optimizer, in, result);
    EXPECT_EQ(result.paths, before.paths);
    EXPECT_EQ(result.times, before.times);

    // With 1 -> 2 at 10 it costs exactly the cap and is moved.
    matrix = SymmetricMatrix(3, {{0, 1, 20.0}, {0, 2, 10.0}, {1, 2, 10.0}});
    in = DepotInstance(matrix, {0, 0});
    result = MakeResult(in, {{0, 1, 0}, {0, 2, 0}});
    RunOptimizer(optimizer, in, result);
    EXPECT_EQ(result.paths.at(0), (Path{0, 2, 1, 0}));
    EXPECT_EQ(result.paths.at(1), (Path{0, 0}));
    EXPECT_EQ(result.times.at(0), 40.0);
}

TEST(RouteMergingPostOptimizer, RoutesWithinOneNanoOfTheLongestAreNeverDissolved) {
    // Routes of 40 and 40 - 5e-10: the second counts as a longest route. Node 2 would fit
    // into route 0 at no extra cost.
    Matrix matrix = SymmetricMatrix(3, {{0, 1, 20.0}, {0, 2, 20.0 - 2.5e-10}, {1, 2, 0.0}});
    Instance in = DepotInstance(matrix, {0, 0});
    const Result before = MakeResult(in, {{0, 1, 0}, {0, 2, 0}});
    ASSERT_LT(before.times.at(1), before.times.at(0));
    Result result = before;
    RouteMergingPostOptimizer optimizer;
    RunOptimizer(optimizer, in, result);
    EXPECT_EQ(result.paths, before.paths);
    EXPECT_EQ(result.times, before.times);
}

TEST(RouteMergingPostOptimizer, ShortRoutesAndUnplaceableInteriorsAreLeftAsTheyWere) {
    // Agent 1 goes 3 -> 4 directly (two nodes); agent 2's interior has a node only its type
    // may serve, and one that could go elsewhere: the check pass fails, nothing moves.
    Matrix matrix = SymmetricMatrix(6, {{0, 1, 20.0}, {0, 2, 5.0}, {2, 5, 1.0}, {0, 5, 5.0},
                                        {1, 5, 15.0}, {3, 4, 7.0}}, 30.0);
    Instance in;
    BuildGraph(in, {matrix, matrix});
    AddPoints(in, 6, {0, 1});
    in.points[2].types = {1};
    AddAgent(in, 0, 0, 0);
    AddAgent(in, 3, 4, 0);
    AddAgent(in, 0, 0, 1);
    in.return_to_end = true;
    const Result before = MakeResult(in, {{0, 1, 0}, {3, 4}, {0, 2, 5, 0}});
    Result result = before;
    RouteMergingPostOptimizer optimizer;
    RunOptimizer(optimizer, in, result);
    EXPECT_EQ(result.paths, before.paths);
    EXPECT_EQ(result.times, before.times);
}

TEST(RouteMergingPostOptimizer, CanVisitFollowsTypesAndForeignEndpoints) {
    Instance in = DepotInstance(SymmetricMatrix(6, {}), {0, 1});
    in.starts = {0, 1};
    in.ends = {2, 3};
    in.points[4].types = {1};
    RouteMergingPostOptimizer optimizer;
    Configure(optimizer, in);
    optimizer.BindInstance(in.graph.get(), in.points, in.agents);
    EXPECT_TRUE(optimizer.CanVisit(0, 5));
    EXPECT_FALSE(optimizer.CanVisit(0, 4));  // type
    EXPECT_TRUE(optimizer.CanVisit(1, 4));
    EXPECT_TRUE(optimizer.CanVisit(0, 0));   // own start
    EXPECT_TRUE(optimizer.CanVisit(0, 2));   // own end
    EXPECT_FALSE(optimizer.CanVisit(0, 1));  // another agent's start
    EXPECT_FALSE(optimizer.CanVisit(0, 3));  // another agent's end
    EXPECT_FALSE(optimizer.CanVisit(1, 2));
    EXPECT_FALSE(optimizer.CanVisit(0, 9));  // no such vertex
}

TEST(RouteMergingPostOptimizer, AnotherAgentsEndpointIsNeverInsertedElsewhere) {
    // Agent 1 runs 1 -> 3 -> 2 -> 3 (15) with its own end node 3 in the middle (allowed).
    // Agent 0's route [0 1 0] (40) could take 3 (35) and then 2 (40) within the cap, but 3 is
    // agent 1's end node: agent 1's route is not dissolved, and 3 appears in no other route.
    Matrix matrix = SymmetricMatrix(4, {{0, 1, 20.0}, {0, 2, 10.0}, {0, 3, 10.0}, {1, 2, 10.0},
                                        {1, 3, 5.0}, {2, 3, 5.0}});
    Instance in;
    BuildGraph(in, {matrix});
    AddPoints(in, 4);
    AddAgent(in, 0, 0);
    AddAgent(in, 1, 3);
    in.return_to_end = true;
    const Result before = MakeResult(in, {{0, 1, 0}, {1, 3, 2, 3}});
    ASSERT_TRUE(CheckRoute(in, before.paths.at(1), 1).feasible);
    Result result = before;
    RouteMergingPostOptimizer optimizer;
    RunOptimizer(optimizer, in, result);
    EXPECT_EQ(result.paths, before.paths);
    EXPECT_EQ(result.times, before.times);
}

TEST(RouteMergingPostOptimizer, ADissolvedRouteWithDistinctEndsRecordsItsRemainingCost) {
    // Agent 1 goes 1 -> 3 -> 2 and must return to 2: once 3 has moved into route 0 the route is
    // [1 2], whose leg costs 6 (the specification would write 0.0).
    Matrix matrix = SymmetricMatrix(4, {{0, 3, 10.0}, {1, 2, 6.0}, {1, 3, 4.0}, {2, 3, 4.0}},
                                    50.0);
    matrix[0][1] = matrix[1][0] = 5.0;
    Instance in;
    BuildGraph(in, {matrix});
    AddPoints(in, 4);
    AddAgent(in, 0, 0);
    AddAgent(in, 1, 2);
    in.return_to_end = true;
    Result before;
    before.paths[0] = {0, 3, 0};
    before.paths[1] = {1, 3, 2};
    before.times[0] = 20.0;
    before.times[1] = 8.0;
    // Make route 0 the longest: 20; route 1 = 8 is dissolved into it ([0 3 3 0] = 20).
    Result result = before;
    RouteMergingPostOptimizer optimizer;
    RunOptimizer(optimizer, in, result);
    EXPECT_EQ(result.paths.at(1), (Path{1, 2}));
    EXPECT_EQ(result.times.at(1), 6.0);
    EXPECT_EQ(result.paths.at(0), (Path{0, 3, 3, 0}));
    EXPECT_EQ(result.times.at(0), 20.0);
    ExpectSoundSolution(in, before, result, "distinct ends");
}

TEST(RouteMergingPostOptimizer, APartlyDissolvedRouteRecordsTheCostOfWhatRemains) {
    // 0 depot, 1 = a (type A only), 2 = x (all types), 3 = y (types B and C), 4 = z (type C).
    // Route 0 = [0 a 0] = 40 is the cap. Route 2 = [0 z 0] = 10 cannot be dissolved (z has
    // nowhere else to go). Route 1 = [0 x y 0] = 37: the check pass finds a place for x
    // (route 2, 30) and for y (route 2, 35), but once x is in route 2, y fits nowhere any more
    // and stays: route 1 ends as [0 y 0], costing 30 (the specification would write 0.0).
    Matrix matrix = SymmetricMatrix(5, {{0, 1, 20.0}, {0, 2, 10.0}, {1, 2, 10.0}, {0, 3, 15.0},
                                        {2, 3, 12.0}, {0, 4, 5.0}, {2, 4, 15.0}, {3, 4, 15.0},
                                        {1, 3, 22.0}, {1, 4, 25.0}});
    Instance in;
    BuildGraph(in, {matrix, matrix, matrix});
    AddPoints(in, 5, {0, 1, 2});
    in.points[1].types = {0};
    in.points[3].types = {1, 2};
    in.points[4].types = {2};
    AddAgent(in, 0, 0, 0);
    AddAgent(in, 0, 0, 1);
    AddAgent(in, 0, 0, 2);
    in.return_to_end = true;
    const Result before = MakeResult(in, {{0, 1, 0}, {0, 2, 3, 0}, {0, 4, 0}});
    ASSERT_EQ(before.times.at(0), 40.0);
    ASSERT_EQ(before.times.at(1), 37.0);
    ASSERT_EQ(before.times.at(2), 10.0);
    Result result = before;
    RouteMergingPostOptimizer optimizer;
    RunOptimizer(optimizer, in, result);
    EXPECT_EQ(result.paths.at(0), (Path{0, 1, 0}));
    EXPECT_EQ(result.paths.at(1), (Path{0, 3, 0}));
    EXPECT_EQ(result.paths.at(2), (Path{0, 2, 4, 0}));  // equal positions: the earlier one
    EXPECT_EQ(result.times.at(1), 30.0);
    EXPECT_EQ(result.times.at(2), 30.0);
    ExpectSoundSolution(in, before, result, "partly dissolved");
}

// Depot 0; route 0 = [0 1 0] = 100 (cap); route 1 = [0 2 0] and route 2 = [0 3 0] only their
// own types may serve 2 and 3; route 3 = [0 4 0] = 30 is dissolved, its node 4 going to
// route 1 (cost 30, increase 20) or route 2 (base 2 * d03, cost 15 + d34 + d03).
Instance TieInstance(double d03, double d34) {
    Matrix matrix = SymmetricMatrix(5, {{0, 1, 50.0}, {0, 2, 5.0}, {0, 3, d03}, {0, 4, 15.0},
                                        {2, 4, 10.0}, {3, 4, d34}}, 100.0);
    Instance in;
    BuildGraph(in, std::vector<Matrix>(4, matrix));
    AddPoints(in, 5, {0, 1, 2, 3});
    in.points[1].types = {0};
    in.points[2].types = {1};
    in.points[3].types = {2};
    for (int64_t type = 0; type < 4; ++type) AddAgent(in, 0, 0, type);
    in.return_to_end = true;
    return in;
}

TEST(RouteMergingPostOptimizer, WithinOneNanoTheSmallerIncreaseWins) {
    // Route 2 costs 25 and would cost 30 + 2^-31 (increase 5) against route 1's 30 (increase
    // 20): not cheaper, but within 1e-9 and a smaller increase. (2^-31 keeps every sum exact.)
    Instance in = TieInstance(12.5, 2.5 + std::ldexp(1.0, -31));
    const Result before = MakeResult(in, {{0, 1, 0}, {0, 2, 0}, {0, 3, 0}, {0, 4, 0}});
    Result result = before;
    RouteMergingPostOptimizer optimizer;
    RunOptimizer(optimizer, in, result);
    EXPECT_EQ(result.paths.at(1), (Path{0, 2, 0}));
    EXPECT_EQ(result.paths.at(2), (Path{0, 4, 3, 0}));
    EXPECT_EQ(result.paths.at(3), (Path{0, 0}));
    ExpectSoundSolution(in, before, result, "tie by increase");
}

TEST(RouteMergingPostOptimizer, ExactTiesGoToTheEarlierRoute) {
    // Both receivers cost 10 and would cost 30.
    Instance in = TieInstance(5.0, 10.0);
    const Result before = MakeResult(in, {{0, 1, 0}, {0, 2, 0}, {0, 3, 0}, {0, 4, 0}});
    Result result = before;
    RouteMergingPostOptimizer optimizer;
    RunOptimizer(optimizer, in, result);
    EXPECT_EQ(result.paths.at(1), (Path{0, 4, 2, 0}));
    EXPECT_EQ(result.paths.at(2), (Path{0, 3, 0}));
    EXPECT_EQ(result.paths.at(3), (Path{0, 0}));
    ExpectSoundSolution(in, before, result, "exact tie");
}

TEST(RouteMergingPostOptimizer, AnInfeasibleRouteIsKeptWithItsIncomingCost) {
    Instance in = DepotInstance(EuclideanMatrix({{0, 0}, {10, 0}, {10, 10}, {10, 5}}), {0, 0, 0});
    Result result;
    result.paths[0] = {0, 1, 2, 0};
    result.paths[1] = {0, 3, 0, 0};  // own start in the middle
    result.paths[2] = {0, 0};
    result.times[0] = 34.142135623730951;
    result.times[1] = 12.5;
    RouteMergingPostOptimizer optimizer;
    CaptureStderr();
    RunOptimizer(optimizer, in, result);
    EXPECT_EQ(GetCapturedStderr(), "");  // this optimizer writes no messages
    EXPECT_EQ(result.paths.at(1), (Path{0, 3, 0, 0}));
    EXPECT_EQ(result.times.at(1), 12.5);
    EXPECT_EQ(result.paths.at(0), (Path{0, 1, 2, 0}));
    EXPECT_EQ(result.times.at(0), CheckRoute(in, result.paths.at(0), 0).cost);
    EXPECT_EQ(result.times.at(2), 0.0);
}

TEST(RouteMergingPostOptimizer, WithoutAPositiveRouteNothingIsWrittenBack) {
    Instance in = DepotInstance(EuclideanMatrix({{0, 0}, {10, 0}}), {0, 0});
    in.starts.clear();
    in.ends.clear();  // every path infeasible: all costs count 0.0
    Result result;
    result.paths[0] = {0, 1, 0};
    result.times[0] = 3.0;
    result.times[1] = 4.0;
    RouteMergingPostOptimizer optimizer;
    RunOptimizer(optimizer, in, result);
    EXPECT_EQ(result.paths.at(0), (Path{0, 1, 0}));
    EXPECT_TRUE(result.paths.at(1).empty());  // created, as the first step does
    EXPECT_EQ(result.times.at(0), 3.0);
    EXPECT_EQ(result.times.at(1), 4.0);

    Instance empty = DepotInstance(EuclideanMatrix({{0, 0}, {10, 0}}), {});
    Result untouched;
    untouched.times[5] = 1.0;
    RunOptimizer(optimizer, empty, untouched);
    EXPECT_TRUE(untouched.paths.empty());
    EXPECT_EQ(untouched.times.size(), 1u);
}

TEST(RouteMergingPostOptimizer, SurvivingRoutesGetTheReversalPass) {
    // Route 0 in a crossing order; route 1 = [0 0] has nothing to dissolve.
    Instance in = DepotInstance(
        EuclideanMatrix({{0, 0}, {10, 0}, {10, 10}, {-10, 0}, {-10, 10}}), {0, 0});
    const Result before = MakeResult(in, {{0, 1, 3, 2, 4, 0}, {0, 0}});
    Result result = before;
    RouteMergingPostOptimizer optimizer;
    RunOptimizer(optimizer, in, result);
    EXPECT_LT(result.times.at(0), before.times.at(0));
    ExpectSoundSolution(in, before, result, "reversal");
}

}  // namespace
}  // namespace tamrik
