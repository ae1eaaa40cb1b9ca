// EvaluatePath and TwoOptRoute, the route test and reversal pass shared by both optimizers.

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <random>

#include "postopt/default_post_optimizer.h"
#include "postopt/route_merging_post_optimizer.h"
#include "postopt/postopt_test_support.h"

namespace tamrik {
namespace {

using namespace postopt_test;

// Six nodes on a line, ten apart: type 0 pays 10 per step, type 1 pays 20.
Instance LineInstance() {
    Instance in;
    Matrix type0(6, std::vector<double>(6));
    Matrix type1(6, std::vector<double>(6));
    for (int i = 0; i < 6; ++i) {
        for (int j = 0; j < 6; ++j) {
            type0[i][j] = 10.0 * std::abs(i - j);
            type1[i][j] = 20.0 * std::abs(i - j);
        }
    }
    BuildGraph(in, {type0, type1});
    AddPoints(in, 6, {0, 1});
    return in;
}

// An optimizer bound to the instance (configuration and records), ready for EvaluatePath.
DefaultPostOptimizer Bound(const Instance& in) {
    DefaultPostOptimizer optimizer;
    Configure(optimizer, in);
    optimizer.BindInstance(in.graph.get(), in.points, in.agents);
    return optimizer;
}

TEST(EvaluatePath, EmptyPathIsFeasibleWithCostZero) {
    Instance in = LineInstance();
    AddAgent(in, 0, 5);
    PathEvaluation evaluation = Bound(in).EvaluatePath({}, 0);
    EXPECT_TRUE(evaluation.feasible);
    EXPECT_EQ(evaluation.cost, 0.0);
}

TEST(EvaluatePath, WithoutStartsAndEndsEveryNonEmptyPathIsInfeasible) {
    Instance in = LineInstance();
    AddAgent(in, 0, 0);
    in.starts.clear();
    in.ends.clear();
    DefaultPostOptimizer optimizer = Bound(in);
    EXPECT_FALSE(optimizer.EvaluatePath({0}, 0).feasible);
    EXPECT_FALSE(optimizer.EvaluatePath({0, 1, 0}, 0).feasible);
}

TEST(EvaluatePath, WithoutEndsOnlyAClosedTourWithoutReturnIsAccepted) {
    Instance in = LineInstance();
    AddAgent(in, 0, 5);
    in.ends.clear();
    DefaultPostOptimizer optimizer = Bound(in);
    EXPECT_TRUE(optimizer.EvaluatePath({0, 1, 2, 0}, 0).feasible);
    EXPECT_FALSE(optimizer.EvaluatePath({0, 1, 2}, 0).feasible);
    optimizer.SetReturnToEnd(true);
    EXPECT_FALSE(optimizer.EvaluatePath({0, 1, 2, 0}, 0).feasible);
}

TEST(EvaluatePath, WithoutStartsTheLastNodeMustBeTheEnd) {
    Instance in = LineInstance();
    AddAgent(in, 0, 5);
    in.starts.clear();
    in.return_to_end = true;
    DefaultPostOptimizer optimizer = Bound(in);
    PathEvaluation evaluation = optimizer.EvaluatePath({2, 3, 5}, 0);
    EXPECT_TRUE(evaluation.feasible);
    EXPECT_DOUBLE_EQ(evaluation.cost, 30.0);
    EXPECT_FALSE(optimizer.EvaluatePath({2, 3, 4}, 0).feasible);
}

TEST(EvaluatePath, ClosedTourWithoutReturnIsFeasibleAndItsLastLegIsFree) {
    Instance in = LineInstance();
    AddAgent(in, 0, 5);
    DefaultPostOptimizer optimizer = Bound(in);
    PathEvaluation evaluation = optimizer.EvaluatePath({0, 1, 2, 0}, 0);
    EXPECT_TRUE(evaluation.feasible);
    EXPECT_DOUBLE_EQ(evaluation.cost, 20.0);
    // Must return: the start is not the end, so the tour is not a route.
    optimizer.SetReturnToEnd(true);
    EXPECT_FALSE(optimizer.EvaluatePath({0, 1, 2, 0}, 0).feasible);
}

TEST(EvaluatePath, ClosedTourWithReturnIsFeasibleWhenTheStartIsTheEnd) {
    Instance in = LineInstance();
    AddAgent(in, 0, 0);
    in.return_to_end = true;
    PathEvaluation evaluation = Bound(in).EvaluatePath({0, 1, 2, 0}, 0);
    EXPECT_TRUE(evaluation.feasible);
    EXPECT_DOUBLE_EQ(evaluation.cost, 40.0);
}

TEST(EvaluatePath, ClosedTourOnAnotherAgentsEndNodeIsInfeasible) {
    Instance in = LineInstance();
    AddAgent(in, 0, 5);
    AddAgent(in, 3, 0);  // agent 1 ends at agent 0's start
    EXPECT_FALSE(Bound(in).EvaluatePath({0, 1, 2, 0}, 0).feasible);
}

TEST(EvaluatePath, ReturnLegIntoTheOwnEndIsFreeUnlessTheAgentMustReturn) {
    Instance in = LineInstance();
    AddAgent(in, 0, 5);
    DefaultPostOptimizer optimizer = Bound(in);
    EXPECT_DOUBLE_EQ(optimizer.EvaluatePath({0, 1, 5}, 0).cost, 10.0);
    optimizer.SetReturnToEnd(true);
    EXPECT_DOUBLE_EQ(optimizer.EvaluatePath({0, 1, 5}, 0).cost, 50.0);
}

TEST(EvaluatePath, RevisitingTheOwnStartInTheMiddleIsInfeasible) {
    Instance in = LineInstance();
    AddAgent(in, 0, 5);
    EXPECT_FALSE(Bound(in).EvaluatePath({0, 1, 0, 2, 5}, 0).feasible);
}

TEST(EvaluatePath, PassingThroughAnotherAgentsStartOrEndIsInfeasible) {
    Instance in = LineInstance();
    AddAgent(in, 0, 5);
    AddAgent(in, 3, 4);
    DefaultPostOptimizer optimizer = Bound(in);
    EXPECT_TRUE(optimizer.EvaluatePath({0, 1, 2, 5}, 0).feasible);
    EXPECT_FALSE(optimizer.EvaluatePath({0, 3, 5}, 0).feasible);
    EXPECT_FALSE(optimizer.EvaluatePath({0, 4, 5}, 0).feasible);
}

TEST(EvaluatePath, EveryNodeIncludingTheEndpointsMustAllowTheAgentsType) {
    Instance in = LineInstance();
    AddAgent(in, 0, 5, /*type=*/1);
    in.points[2].types = {0};
    DefaultPostOptimizer optimizer = Bound(in);
    EXPECT_FALSE(optimizer.EvaluatePath({0, 2, 5}, 0).feasible);
    EXPECT_TRUE(optimizer.EvaluatePath({0, 1, 5}, 0).feasible);
    in.points[5].types = {0};
    optimizer.BindInstance(in.graph.get(), in.points, in.agents);
    EXPECT_FALSE(optimizer.EvaluatePath({0, 1, 5}, 0).feasible);
}

TEST(EvaluatePath, TheAgentsTypeSelectsTheCostEntry) {
    Instance in = LineInstance();
    AddAgent(in, 0, 5, 0);
    AddAgent(in, 1, 4, 1);
    DefaultPostOptimizer optimizer = Bound(in);
    EXPECT_DOUBLE_EQ(optimizer.EvaluatePath({0, 2, 3, 5}, 0).cost, 30.0);
    EXPECT_DOUBLE_EQ(optimizer.EvaluatePath({1, 2, 3, 4}, 1).cost, 40.0);
}

TEST(EvaluatePath, ArrivingBeforeAWindowWaitsAndAfterItIsInfeasible) {
    Instance in = LineInstance();
    AddAgent(in, 0, 5);
    in.windows[1] = {25.0, 100.0};
    DefaultPostOptimizer optimizer = Bound(in);
    PathEvaluation evaluation = optimizer.EvaluatePath({0, 1, 2, 5}, 0);
    EXPECT_TRUE(evaluation.feasible);
    EXPECT_DOUBLE_EQ(evaluation.cost, 35.0);  // wait at 1 until 25, then 10 more
    in.windows[2] = {0.0, 34.0};
    Configure(optimizer, in);
    EXPECT_FALSE(optimizer.EvaluatePath({0, 1, 2, 5}, 0).feasible);
    in.windows[2] = {0.0, 35.0};  // arriving exactly at the end is in time
    Configure(optimizer, in);
    EXPECT_TRUE(optimizer.EvaluatePath({0, 1, 2, 5}, 0).feasible);
}

TEST(EvaluatePath, TheCostLimitIsInclusiveAndNotCheckedAtTheFirstNode) {
    Instance in = LineInstance();
    AddAgent(in, 0, 5, 0, /*limit=*/20.0);
    DefaultPostOptimizer optimizer = Bound(in);
    EXPECT_TRUE(optimizer.EvaluatePath({0, 1, 2, 5}, 0).feasible);
    EXPECT_FALSE(optimizer.EvaluatePath({0, 1, 2, 3, 5}, 0).feasible);
    // Waiting at the start to 50 is not checked against the limit at position 0.
    in.windows[0] = {50.0, 60.0};
    Configure(optimizer, in);
    PathEvaluation alone = optimizer.EvaluatePath({0}, 0);
    EXPECT_TRUE(alone.feasible);
    EXPECT_DOUBLE_EQ(alone.cost, 50.0);
    EXPECT_FALSE(optimizer.EvaluatePath({0, 1, 5}, 0).feasible);
}

TEST(EvaluatePath, WithoutAGraphEveryArcIsFree) {
    Instance in = LineInstance();
    AddAgent(in, 0, 5);
    in.return_to_end = true;
    DefaultPostOptimizer optimizer;
    Configure(optimizer, in);
    optimizer.BindInstance(nullptr, in.points, in.agents);
    PathEvaluation evaluation = optimizer.EvaluatePath({0, 1, 2, 5}, 0);
    EXPECT_TRUE(evaluation.feasible);
    EXPECT_EQ(evaluation.cost, 0.0);
}

TEST(EvaluatePath, UnknownVerticesAndAgentsAreInfeasibleNotUndefined) {
    Instance in = LineInstance();
    AddAgent(in, 0, 5);
    DefaultPostOptimizer optimizer = Bound(in);
    EXPECT_FALSE(optimizer.EvaluatePath({0, 9, 5}, 0).feasible);
    EXPECT_FALSE(optimizer.EvaluatePath({0, -1, 5}, 0).feasible);
    EXPECT_FALSE(optimizer.EvaluatePath({0, 1, 5}, 3).feasible);
}

TEST(EvaluatePath, ReadsCostsOnlyThroughTheAllocationFreeEntry) {
    Instance in = LineInstance();
    AddAgent(in, 0, 5);
    in.return_to_end = true;
    CountingGraph counting(*in.graph);
    DefaultPostOptimizer optimizer;
    Configure(optimizer, in);
    optimizer.BindInstance(&counting, in.points, in.agents);
    EXPECT_DOUBLE_EQ(optimizer.EvaluatePath({0, 1, 2, 5}, 0).cost, 50.0);
    EXPECT_EQ(counting.arc_cost_calls, 0);
    EXPECT_EQ(counting.arc_cost_entry_calls, 3);
}

TEST(RouteCost, SumsTheWholePathPastAViolation) {
    Instance in = LineInstance();
    AddAgent(in, 0, 5);
    in.return_to_end = true;
    in.windows[1] = {0.0, 5.0};  // reached at 10: too late
    DefaultPostOptimizer optimizer = Bound(in);
    EXPECT_FALSE(optimizer.EvaluatePath({0, 1, 2, 5}, 0).feasible);
    EXPECT_DOUBLE_EQ(optimizer.RouteCost({0, 1, 2, 5}, 0), 50.0);
    in.windows.clear();
    Configure(optimizer, in);
    EXPECT_DOUBLE_EQ(optimizer.RouteCost({0, 1, 2, 5}, 0),
                     optimizer.EvaluatePath({0, 1, 2, 5}, 0).cost);
}

// ---- TwoOptRoute ----

// Four nodes 0..3 for an agent from 0 to 3 that must return; the direct order costs 1e-9 per
// `first_leg` on 0 -> 1 and nothing else, the reversed middle costs nothing.
Instance TinyReversalInstance(double first_leg) {
    Instance in;
    BuildGraph(in, {SymmetricMatrix(4, {{0, 1, first_leg}, {1, 2, 0.0}, {2, 3, 0.0},
                                        {0, 2, 0.0}, {1, 3, 0.0}, {0, 3, 0.0}})});
    AddPoints(in, 4);
    AddAgent(in, 0, 3);
    in.return_to_end = true;
    return in;
}

TEST(TwoOptRoute, AnImprovementOfExactly1e9IsRejected) {
    Instance in = TinyReversalInstance(1e-9);
    DefaultPostOptimizer optimizer = Bound(in);
    Path path{0, 1, 2, 3};
    double cost = optimizer.EvaluatePath(path, 0).cost;
    ASSERT_EQ(cost, 1e-9);
    EXPECT_FALSE(optimizer.TwoOptRoute(path, cost, 0));
    EXPECT_EQ(path, (Path{0, 1, 2, 3}));
    EXPECT_EQ(cost, 1e-9);
}

TEST(TwoOptRoute, AnImprovementAbove1e9IsTaken) {
    Instance in = TinyReversalInstance(2e-9);
    DefaultPostOptimizer optimizer = Bound(in);
    Path path{0, 1, 2, 3};
    double cost = optimizer.EvaluatePath(path, 0).cost;
    EXPECT_TRUE(optimizer.TwoOptRoute(path, cost, 0));
    EXPECT_EQ(path, (Path{0, 2, 1, 3}));
    EXPECT_EQ(cost, 0.0);
}

TEST(TwoOptRoute, AFourNodePathHasExactlyOneCandidate) {
    Instance in = TinyReversalInstance(1e-9);
    CountingGraph counting(*in.graph);
    DefaultPostOptimizer optimizer;
    Configure(optimizer, in);
    optimizer.BindInstance(&counting, in.points, in.agents);
    Path path{0, 1, 2, 3};
    double cost = 1.0;  // anything cheaper is taken
    EXPECT_TRUE(optimizer.TwoOptRoute(path, cost, 0));
    EXPECT_EQ(path, (Path{0, 2, 1, 3}));
    // One candidate (3 arcs); after taking it the rescan has one candidate again, the original
    // order, which is not cheaper.
    EXPECT_EQ(counting.arc_cost_entry_calls, 6);
}

TEST(TwoOptRoute, PathsOfTwoOrThreeNodesAreNeverReversed) {
    Instance in = LineInstance();
    AddAgent(in, 0, 5);
    CountingGraph counting(*in.graph);
    DefaultPostOptimizer optimizer;
    Configure(optimizer, in);
    optimizer.BindInstance(&counting, in.points, in.agents);
    for (Path path : {Path{0, 5}, Path{0, 3, 5}, Path{0}, Path{}}) {
        const Path before = path;
        double cost = 1e9;
        EXPECT_FALSE(optimizer.TwoOptRoute(path, cost, 0));
        EXPECT_EQ(path, before);
        EXPECT_EQ(cost, 1e9);
    }
    EXPECT_EQ(counting.arc_cost_entry_calls, 0);
}

TEST(TwoOptRoute, KeepsEndpointsAndEndsWithNoImprovingReversal) {
    std::mt19937_64 random(7);
    for (int trial = 0; trial < 50; ++trial) {
        const size_t n = 8;
        Matrix matrix(n, std::vector<double>(n, 0.0));
        for (size_t i = 0; i < n; ++i) {
            for (size_t j = 0; j < n; ++j) {
                if (i != j) matrix[i][j] = static_cast<double>(random() % 50 + 1);
            }
        }
        Instance in;
        BuildGraph(in, {matrix});
        AddPoints(in, n);
        AddAgent(in, 0, 7);
        in.return_to_end = true;
        DefaultPostOptimizer optimizer = Bound(in);
        Path path{0, 1, 2, 3, 4, 5, 6, 7};
        std::shuffle(path.begin() + 1, path.end() - 1, random);
        double cost = CheckRoute(in, path, 0).cost;
        const double start_cost = cost;
        optimizer.TwoOptRoute(path, cost, 0);
        EXPECT_EQ(path.front(), 0);
        EXPECT_EQ(path.back(), 7);
        EXPECT_LE(cost, start_cost);
        EXPECT_EQ(cost, CheckRoute(in, path, 0).cost);
        for (size_t i = 1; i + 3 <= n; ++i) {
            for (size_t j = i + 1; j + 2 <= n; ++j) {
                Path candidate = path;
                std::reverse(candidate.begin() + i, candidate.begin() + j + 1);
                EXPECT_GE(CheckRoute(in, candidate, 0).cost + 1e-9, cost);
            }
        }
    }
}

TEST(SharedConfiguration, SettersBehaveTheSameInBothOptimizers) {
    Instance in = LineInstance();
    AddAgent(in, 0, 5);
    in.windows[1] = {25.0, 100.0};
    DefaultPostOptimizer in_group;
    RouteMergingPostOptimizer merging;
    EXPECT_TRUE(in_group.SetTimeWindows(in.windows));
    EXPECT_TRUE(merging.SetTimeWindows(in.windows));
    EXPECT_FALSE(in_group.SetTimeWindows({}));
    Configure(in_group, in);
    Configure(merging, in);
    in_group.BindInstance(in.graph.get(), in.points, in.agents);
    merging.BindInstance(in.graph.get(), in.points, in.agents);
    for (const Path& path : {Path{0, 1, 2, 5}, Path{0, 2, 1, 0}, Path{0, 3, 0, 5}}) {
        EXPECT_EQ(in_group.EvaluatePath(path, 0).feasible, merging.EvaluatePath(path, 0).feasible);
        EXPECT_EQ(in_group.EvaluatePath(path, 0).cost, merging.EvaluatePath(path, 0).cost);
    }
}

}  // namespace
}  // namespace tamrik
