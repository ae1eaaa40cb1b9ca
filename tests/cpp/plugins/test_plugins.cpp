// The search plug-ins: constraint checkers, the spanning-tree heuristic (worked cases and its
// indexed growth against the list scan, bit for bit), the expansion, the focal order, objectives.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "graph/sparse_graph.h"
#include "plugins/constraint_checkers.h"
#include "plugins/objectives.h"
#include "plugins/search_guidance.h"

namespace tamrik {
namespace {

// n points that each allow exactly the type indices `types`.
std::vector<PointRecord> Points(size_t n, std::vector<int64_t> types = {0}) {
    std::vector<PointRecord> points(n);
    for (PointRecord& point : points) point.types = types;
    return points;
}

AgentRecord Agent(int64_t type_index, double cost_limit = 0.0) {
    return {0, type_index, 0.0, cost_limit};
}

// A label over n vertices as the search builds it: bits n .. 255 set, then those of `served`.
Label MakeLabel(int32_t n, std::vector<int64_t> positions, std::vector<double> costs,
                std::vector<uint8_t> finished, const std::vector<int64_t>& served) {
    Label label;
    label.visited_size = n;
    for (int64_t v = n; v < kMaxVertices; ++v) SetBit(label.visited, v);
    for (int64_t v : served) SetBit(label.visited, v);
    label.positions = std::move(positions);
    label.costs = std::move(costs);
    label.finished = std::move(finished);
    return label;
}

// ----------------------------------------------------------------- constraint checkers

using Answer = std::tuple<bool, double, bool>;  // feasible, new_cost, updated

const Answer kAccepted{true, 0.0, false};
const Answer kRejected{false, 0.0, false};

Answer Ask(const ConstraintCheckerPlugin& checker, const Label& label, int64_t a, int64_t v) {
    const TransitionCheck check = checker.CheckTransition(label, a, v);
    return {check.feasible, check.new_cost, check.updated};
}

// Complete directed graph on n vertices; cost(i, j) is the cost vector of i -> j.
SparseGraph CompleteGraph(int64_t n, size_t dims,
                          const std::function<CostVector(int64_t, int64_t)>& cost) {
    SparseGraph graph;
    graph.ChangeCostDim(dims, 9999.0);
    for (int64_t i = 0; i < n; ++i) graph.AddVertex(i);
    for (int64_t i = 0; i < n; ++i) {
        for (int64_t j = 0; j < n; ++j) {
            if (i != j) graph.AddArc(i, j, cost(i, j));
        }
    }
    return graph;
}

TEST(ConstraintCheckers, EveryCheckerForbidsUnlistedTypesAndDropsLabelsOnlyType0CanFinish) {
    std::vector<PointRecord> points = Points(4, {0, 1});
    points[1].types = {};
    points[3].types = {0};
    SparseGraph graph = CompleteGraph(4, 1, [](int64_t, int64_t) { return CostVector{1.0}; });
    DefaultConstraintChecker plain;
    TimeLimitConstraintChecker limit;
    TimeWindowConstraintChecker windows;
    for (auto* checker : std::vector<ConstraintCheckerPlugin*>{&plain, &limit, &windows}) {
        SCOPED_TRACE(checker->Name());
        checker->Init(&graph, points, {Agent(1), Agent(0), Agent(2)});
        EXPECT_FALSE(checker->IsForbidden(0, 2) || checker->IsForbidden(1, 2));
        EXPECT_TRUE(checker->IsForbidden(2, 2));
        for (int64_t a = 0; a < 3; ++a) EXPECT_TRUE(checker->IsForbidden(a, 1));
        Label label = MakeLabel(4, {0, 0, 0}, {0, 0, 0}, {1, 0, 1}, {0, 1});
        EXPECT_FALSE(checker->IsDeadEnd(label));  // the type-0 agent may still serve 3
        label.finished[1] = 1;
        EXPECT_TRUE(checker->IsDeadEnd(label));
        SetBit(label.visited, 3);  // vertex 2 also allows type 1
        EXPECT_FALSE(checker->IsDeadEnd(label));
        checker->Init(&graph, points, {Agent(1)});  // no type-0 agent at all
        EXPECT_TRUE(checker->IsDeadEnd(MakeLabel(4, {0}, {0}, {0}, {0})));
    }
}

TEST(TimeWindowConstraintChecker, WaitsForTheWindowFiveToEightAndRejectsLateArrivals) {
    SparseGraph graph = CompleteGraph(2, 1, [](int64_t, int64_t) { return CostVector{3.0}; });
    for (const PlannerGraph* with : std::vector<const PlannerGraph*>{nullptr, &graph}) {
        TimeWindowConstraintChecker checker;
        checker.Init(with, Points(2), {Agent(0)});
        checker.SetTimeWindows({{1, {5.0, 8.0}}});
        auto arrive = [&](double t) {
            return Ask(checker, MakeLabel(2, {0}, {t}, {0}, {0, 1}), 0, 1);
        };
        EXPECT_EQ(arrive(3.0), (Answer{true, 5.0, true}));  // early: waits for the opening
        EXPECT_EQ(arrive(5.0), kAccepted);
        EXPECT_EQ(arrive(8.0), kAccepted);  // the closing time itself is in time
        EXPECT_EQ(arrive(9.0), kRejected);
    }
}

class WordEdge : public ::testing::TestWithParam<int64_t> {};

TEST_P(WordEdge, LookAheadAndDeadEndFindTheOnlyUnservedVertex) {
    // 256 vertices, all served but w; every arc 5 except 0 -> 1 (10) and 0 -> w -> 1 (1 + 1).
    const int64_t w = GetParam();
    SparseGraph graph = CompleteGraph(256, 1, [w](int64_t i, int64_t j) {
        if (i == 0 && j == 1) return CostVector{10.0};
        return CostVector{(i == 0 && j == w) || (i == w && j == 1) ? 1.0 : 5.0};
    });
    TimeWindowConstraintChecker checker;
    checker.Init(&graph, Points(256), {Agent(0)});
    Label label = MakeLabel(256, {0}, {10.0}, {1}, {});
    for (int64_t v = 0; v < 256; ++v) SetBit(label.visited, v);
    ClearBit(label.visited, w);
    EXPECT_EQ(Ask(checker, label, 0, 1), kRejected);  // 1 through w at 2, w afterwards at 15
    checker.SetTimeWindows({{w, {12.0, 100.0}}});  // through w: wait to 12, reach 1 at 13
    EXPECT_EQ(Ask(checker, label, 0, 1), kAccepted);
    EXPECT_TRUE(checker.IsDeadEnd(label));
    SetBit(label.visited, w);
    EXPECT_FALSE(checker.IsDeadEnd(label));
}

INSTANTIATE_TEST_SUITE_P(Vertices, WordEdge, ::testing::Values(63, 64, 127, 128, 255));

TEST(CompositeConstraintChecker, HandsEachMemberTheCostEarlierMembersSetAndAppliesEveryLimit) {
    CompositeConstraintChecker composite;
    Label label = MakeLabel(4, {0, 0}, {7.0, 1e12}, {0, 0}, {0, 1, 2, 3});
    // Without members it forbids nothing and accepts everything.
    EXPECT_FALSE(composite.IsForbidden(0, 1) || composite.IsDeadEnd(label));
    EXPECT_TRUE(composite.IsWithinLimit(label, 1));
    EXPECT_EQ(Ask(composite, label, 0, 1), kAccepted);
    // Member 0 makes the agent wait to 12 at vertices 1 and 2; member 1 closes vertex 1 at
    // 11 (it rejects only if it sees 12), keeps 2 open to 14 and makes it wait at 3 to 15.
    for (TimeWindowMap windows : {TimeWindowMap{{1, {12, 20}}, {2, {12, 20}}},
                                  TimeWindowMap{{1, {0, 11}}, {2, {0, 14}}, {3, {15, 20}}}}) {
        auto member = std::make_unique<TimeWindowConstraintChecker>();
        member->SetTimeWindows(windows);
        composite.AddMember(std::move(member));
    }
    composite.AddMember(std::make_unique<TimeLimitConstraintChecker>());
    composite.AddMember(nullptr);  // ignored
    composite.Init(nullptr, Points(4), {Agent(0, 10.0), Agent(0, 0.0)});
    EXPECT_EQ(Ask(composite, label, 0, 1), kRejected);
    EXPECT_EQ(Ask(composite, label, 0, 2), (Answer{true, 12.0, true}));
    EXPECT_EQ(Ask(composite, label, 0, 3), (Answer{true, 15.0, true}));
    EXPECT_EQ(label.costs[0], 7.0);  // the caller's label is untouched
    label.costs[0] = 10.0;  // the last member limits costs to 10, and not without a limit
    EXPECT_TRUE(composite.IsWithinLimit(label, 0) && composite.IsWithinLimit(label, 1));
    label.costs[0] = 10.5;
    EXPECT_FALSE(composite.IsWithinLimit(label, 0));
}

// ------------------------------------------------------- heuristic, expansion, order, objectives

constexpr double kUnconnected = 1.1235582092889473e307;  // bit pattern 0x7FAFFFFFFFFFFFFF

// The indexed estimate, after checking it bit for bit against the literal list scan.
double Estimate(const std::vector<MstEdge>& edges, size_t agents, const Label& label) {
    DefaultHeuristic heuristic;
    heuristic.Init(nullptr, Points(static_cast<size_t>(label.visited_size)),
                   std::vector<AgentRecord>(agents, Agent(0)));
    heuristic.SetMstEdges(edges);
    const double fast = heuristic.ComputeHeuristic(label);
    EXPECT_EQ(std::bit_cast<uint64_t>(fast),
              std::bit_cast<uint64_t>(heuristic.ComputeHeuristicByListScan(label)));
    return fast;
}

TEST(DefaultHeuristic, GrowsFromTheOpenTreeAlongTheFirstQualifyingPairInListOrder) {
    const std::vector<MstEdge> three = {{2, 1, 1.0}, {2, 0, 2.0}, {1, 0, 5.0}};
    auto label = [](int64_t position, uint8_t finished, std::vector<int64_t> served) {
        return MakeLabel(3, {position}, {0.0}, {finished}, served);
    };
    // (2, 1) touches no tree vertex at first: (2, 0), then (2, 1).
    EXPECT_EQ(Estimate(three, 1, label(0, 0, {0})), 3.0);
    EXPECT_EQ(Estimate(three, 1, label(0, 1, {0})), kUnconnected);  // a finished agent closes 0
    EXPECT_EQ(Estimate(three, 1, label(1, 1, {0})), 1.0);  // an unserved position is not closed
    EXPECT_EQ(Estimate(three, 1, label(2, 0, {0, 1})), 0.0);  // all served or occupied
    // A pair of weight 9999 is never taken; one just below it is.
    EXPECT_EQ(Estimate({{1, 0, 9999.0}, {2, 0, 1.0}}, 1, label(0, 0, {0})), kUnconnected);
    EXPECT_EQ(Estimate({{2, 0, 9998.5}, {1, 0, 1.0}}, 1, label(0, 0, {0})), 9999.5);
    // The list order, not the weight, picks among qualifying pairs: (2, 0) before (1, 0).
    EXPECT_EQ(Estimate({{2, 0, 5.0}, {1, 0, 1.0}, {2, 1, 1.0}}, 1, label(0, 0, {0})), 6.0);
}

TEST(DefaultHeuristic, ReportsWhetherItsEstimatesAreFiniteAndNeverNegative) {
    const double inf = std::numeric_limits<double>::infinity();
    // (pair list, finite, never negative)
    const std::vector<std::tuple<std::vector<MstEdge>, bool, bool>> cases = {
        {{{1, 0, 1.0}, {2, 0, 0.0}}, true, true},      // ordinary weights
        {{{1, 0, 1.0}, {2, 0, -0.5}}, true, false},    // a negative weight
        {{{1, 0, 1.0}, {2, 0, -inf}}, false, false},   // an infinite one
        {{{1, 0, 9999.0}, {2, 0, inf}}, true, true}};  // unusable weights never count
    for (const auto& [edges, finite, non_negative] : cases) {
        DefaultHeuristic heuristic;
        heuristic.SetMstEdges(edges);
        EXPECT_EQ(heuristic.FiniteEstimates(), finite) << edges.back().w;
        EXPECT_EQ(heuristic.NonNegativeEstimates(), non_negative) << edges.back().w;
    }
}

TEST(DefaultHeuristic, IndexedGrowthMatchesTheListScanBitForBitOnRandomLabels) {
    std::mt19937 rng(7);
    auto uniform = [&](int64_t lo, int64_t hi) {
        return std::uniform_int_distribution<int64_t>(lo, hi)(rng);
    };
    std::set<int> kinds;  // of the estimates seen: zero, unconnected, finite
    for (int64_t n : {2, 3, 5, 10, 63, 64, 65, 100, 129, 256}) {
        std::vector<MstEdge> edges = {{n / 2, n / 2, 0.5}};  // a self pair never qualifies
        for (int64_t i = 1; i < n; ++i) {  // ties are common, some pairs unusable or missing
            for (int64_t j = 0; j < i; ++j) {
                const int64_t pick = uniform(0, 19);
                if (pick > 0) edges.push_back({i, j, pick == 1 ? 9999.0 : uniform(1, 30) * 0.1});
            }
        }
        std::stable_sort(edges.begin(), edges.end(),
                         [](const MstEdge& a, const MstEdge& b) { return a.w < b.w; });
        if (n % 2 == 1) std::shuffle(edges.begin(), edges.end(), rng);  // unsorted lists too
        const size_t agents = static_cast<size_t>(uniform(0, 4));
        DefaultHeuristic paired;
        paired.Init(nullptr, Points(static_cast<size_t>(n)),
                    std::vector<AgentRecord>(agents, Agent(0)));
        paired.SetMstEdges(edges);
        Label previous = MakeLabel(static_cast<int32_t>(n), std::vector<int64_t>(agents, 0),
                                   std::vector<double>(agents, 0.0),
                                   std::vector<uint8_t>(agents, 0), {});
        for (int trial = 0; trial < 200; ++trial) {
            Label label = MakeLabel(static_cast<int32_t>(n), {}, {}, {}, {});
            const int64_t served_percent = uniform(0, 99);
            // Odd trials leave one run of ids unserved, as a search sweeping a region does.
            const int64_t run_start = uniform(0, n - 1), run_end = uniform(run_start, n);
            for (int64_t v = 0; v < n; ++v) {
                const bool in_run = v >= run_start && v < run_end;
                if (trial % 2 == 1 ? !in_run : uniform(0, 99) < served_percent) {
                    SetBit(label.visited, v);
                }
            }
            for (size_t k = 0; k < agents; ++k) {
                label.positions.push_back(uniform(0, n - 1));
                label.costs.push_back(0.0);
                label.finished.push_back(uniform(0, 9) < 3);
            }
            const double estimate = Estimate(edges, agents, label);
            ASSERT_FALSE(HasFailure()) << "n " << n << " trial " << trial;
            // Estimated two at a time, each label gets the same estimate as alone.
            double first = -1.0, second = -1.0;
            paired.ComputeHeuristicPair(label, previous, first, second);
            ASSERT_EQ(std::bit_cast<uint64_t>(first), std::bit_cast<uint64_t>(estimate));
            ASSERT_EQ(std::bit_cast<uint64_t>(second),
                      std::bit_cast<uint64_t>(paired.ComputeHeuristicByListScan(previous)));
            previous = label;
            kinds.insert(estimate == 0.0 ? 0 : estimate == kUnconnected ? 1 : 2);
        }
    }
    EXPECT_EQ(kinds.size(), 3u);
}

TEST(DefaultExpansion, SelectsTheCheapestUnfinishedAgentWithTiesToTheLowerIndex) {
    DefaultExpansion expansion;
    auto select = [&](std::vector<double> costs, std::vector<uint8_t> finished) {
        return expansion.SelectAgent(MakeLabel(1, {0, 0, 0}, costs, finished, {}));
    };
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(select({5.0, 3.0, 3.0}, {0, 0, 0}), -1);  // before Init there are no agents
    expansion.Init({7, 8, 9});
    EXPECT_EQ(select({5.0, 3.0, 3.0}, {0, 0, 0}), 1);   // a tie goes to the lower index
    EXPECT_EQ(select({5.0, 3.0, 3.0}, {0, 1, 0}), 2);   // finished agents never move
    EXPECT_EQ(select({5.0, 3.0, 3.0}, {1, 1, 1}), -1);  // nobody left
    // Costs of infinity, NaN or the largest double never move; any smaller one does.
    EXPECT_EQ(select({inf, nan, std::numeric_limits<double>::max()}, {0, 0, 0}), -1);
    EXPECT_EQ(select({inf, nan, 1e300}, {0, 0, 0}), 2);
    expansion.Init({7});  // only the agents given to Init count
    EXPECT_EQ(select({5.0, 1.0, 1.0}, {0, 0, 0}), 0);
}

TEST(DefaultFocalComparator, ServesDeeperLabelsFirstThenSmallerFThenSmallerCostSum) {
    auto entry = [](int64_t visited, double f, double cost_sum) {
        return FocalEntry{0, visited, 0, f, cost_sum};
    };
    const DefaultFocalComparator compare;
    const std::vector<std::pair<FocalEntry, FocalEntry>> ordered = {  // first before second
        {entry(4, 100, 100), entry(3, 1, 1)},  // more served vertices, whatever f
        {entry(3, 1, 9), entry(3, 2, 1)},      // equal depth: smaller f
        {entry(3, 2, 1), entry(3, 2, 1.5)}};   // equal f: smaller cost sum
    for (const auto& [a, b] : ordered) {
        EXPECT_TRUE(compare.Compare(a, b));
        EXPECT_FALSE(compare.Compare(b, a) || compare.Compare(a, a));  // strict
    }
}

TEST(Objectives, MinMaxSpreadsRemainingWorkButNeverGoesBelowTheLongestRouteAndMinSumAddsIt) {
    const DefaultObjective max;
    const MinSumObjective sum;
    EXPECT_EQ(max.Evaluate({-2.0, -1.0}), -1.0);  // the longest route, even below 0
    EXPECT_EQ(max.Evaluate({}) + sum.Evaluate({}), 0.0);
    // Routes of 4 and 2: (first agent finished, agents left, heuristic, min-max f)
    const std::vector<std::tuple<uint8_t, int64_t, double, double>> cases = {
        {0, 2, 10.0, 8.0},  // the heuristic and both routes spread over the two agents
        {0, 2, 0.0, 4.0},   // never below the longest route
        {0, 4, 14.0, 5.0},  // spread over the given count of agents
        {1, 1, 5.0, 7.0},   // a finished agent's route is not spread
        {1, 0, 1e9, 4.0}};  // nobody left: the longest route
    for (const auto& [finished, left, heuristic, f] : cases) {
        const Label label = MakeLabel(3, {0, 0}, {4.0, 2.0}, {finished, 0}, {});
        EXPECT_EQ(max.EvaluateWithHeuristic(label, left, heuristic), f) << left << " " << heuristic;
    }
    const Label first_done = MakeLabel(3, {0, 0}, {4.0, 2.0}, {1, 0}, {});
    EXPECT_EQ(sum.EvaluateWithHeuristic(first_done, 0, 1.5), 7.5);  // every route counts
}

}  // namespace
}  // namespace tamrik
