// The constraint checkers and the spanning-tree heuristic against its list scan, bit for bit.
// (Expansion, focal order and objectives show in the search counts the regression test pins.)

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "graph/sparse_graph.h"
#include "plugins/constraint_checkers.h"
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

using Answer = std::tuple<bool, double, bool>;  // feasible, new_cost, updated
const Answer kAccepted{true, 0.0, false}, kRejected{false, 0.0, false};

Answer Ask(const ConstraintCheckerPlugin& checker, const Label& label, int64_t a, int64_t v) {
    const TransitionCheck check = checker.CheckTransition(label, a, v);
    return {check.feasible, check.new_cost, check.updated};
}

// Complete directed graph on n vertices of one cost type; cost(i, j) is the cost of i -> j.
template <typename Cost>
SparseGraph CompleteGraph(int64_t n, Cost cost) {
    SparseGraph graph;
    graph.ChangeCostDim(1, 9999.0);
    for (int64_t i = 0; i < n; ++i) graph.AddVertex(i);
    for (int64_t i = 0; i < n; ++i) {
        for (int64_t j = 0; j < n; ++j) {
            if (i != j) graph.AddArc(i, j, {cost(i, j)});
        }
    }
    return graph;
}

TEST(ConstraintCheckers, EveryCheckerForbidsUnlistedTypesAndDropsLabelsOnlyType0CanFinish) {
    std::vector<PointRecord> points = Points(4, {0, 1});
    points[1].types = {};
    points[3].types = {0};
    SparseGraph graph = CompleteGraph(4, [](int64_t, int64_t) { return 1.0; });
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
    }
}

class WordEdge : public ::testing::TestWithParam<int64_t> {};

TEST_P(WordEdge, LookAheadAndDeadEndFindTheOnlyUnservedVertex) {
    // 256 vertices, all served but w; every arc 5 except 0 -> 1 (10) and 0 -> w -> 1 (1 + 1).
    const int64_t w = GetParam();
    SparseGraph graph = CompleteGraph(256, [w](int64_t i, int64_t j) {
        if (i == 0 && j == 1) return 10.0;
        return (i == 0 && j == w) || (i == w && j == 1) ? 1.0 : 5.0;
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
    // Member 0 makes the agent wait to 12 at vertices 1 and 2. Member 1, seeing 12, finds 1
    // closed at 11, admits 2 at its closing time 12 and makes the agent wait at 3 to 15.
    CompositeConstraintChecker composite;
    for (TimeWindowMap windows : {TimeWindowMap{{1, {12, 20}}, {2, {12, 20}}},
                                  TimeWindowMap{{1, {0, 11}}, {2, {0, 12}}, {3, {15, 20}}}}) {
        auto member = std::make_unique<TimeWindowConstraintChecker>();
        member->SetTimeWindows(windows);
        composite.AddMember(std::move(member));
    }
    composite.AddMember(std::make_unique<TimeLimitConstraintChecker>());
    composite.AddMember(nullptr);  // ignored
    composite.Init(nullptr, Points(4), {Agent(0, 10.0), Agent(0, 0.0)});
    Label label = MakeLabel(4, {0, 0}, {7.0, 1e12}, {0, 0}, {0, 1, 2, 3});
    EXPECT_EQ(Ask(composite, label, 0, 1), kRejected);
    EXPECT_EQ(Ask(composite, label, 0, 2), (Answer{true, 12.0, true}));
    EXPECT_EQ(Ask(composite, label, 0, 3), (Answer{true, 15.0, true}));
    EXPECT_EQ(label.costs[0], 7.0);  // the caller's label is untouched
    label.costs[0] = 10.0;  // the last member limits costs to 10, and not without a limit
    EXPECT_TRUE(composite.IsWithinLimit(label, 0) && composite.IsWithinLimit(label, 1));
    label.costs[0] = 10.5;
    EXPECT_FALSE(composite.IsWithinLimit(label, 0));
}

uint64_t Bits(double x) { return std::bit_cast<uint64_t>(x); }

TEST(DefaultHeuristic, TellsWhetherItsEstimatesAreFiniteAndNeverNegative) {
    const double inf = std::numeric_limits<double>::infinity();
    // (weight of a pair next to one of weight 1, finite, never negative)
    for (const auto& [w, finite, non_negative] : std::vector<std::tuple<double, bool, bool>>{
             {-0.5, true, false},   // a negative weight
             {-inf, false, false},  // an infinite one
             {inf, true, true}}) {  // unusable weights never count
        DefaultHeuristic heuristic;
        heuristic.SetMstEdges({{1, 0, 1.0}, {2, 0, w}});
        EXPECT_EQ(heuristic.FiniteEstimates(), finite) << w;
        EXPECT_EQ(heuristic.NonNegativeEstimates(), non_negative) << w;
    }
}

TEST(DefaultHeuristic, IndexedGrowthMatchesTheListScanBitForBitOnRandomLabels) {
    std::mt19937 rng(7);
    auto uniform = [&](int64_t lo, int64_t hi) {
        return std::uniform_int_distribution<int64_t>(lo, hi)(rng);
    };
    std::set<int> kinds;  // of the estimates seen: zero, unconnected, finite
    for (int32_t n : {2, 3, 5, 10, 63, 64, 65, 100, 129, 256}) {
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
        DefaultHeuristic heuristic;
        heuristic.Init(nullptr, Points(size_t(n)), std::vector<AgentRecord>(agents, Agent(0)));
        heuristic.SetMstEdges(edges);
        Label previous;  // the label of the trial before, paired with each
        for (int trial = 0; trial < 200; ++trial) {
            Label label = MakeLabel(n, {}, {}, {}, {});
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
            if (trial == 0) previous = label;
            const double scan = heuristic.ComputeHeuristicByListScan(label);
            ASSERT_EQ(Bits(heuristic.ComputeHeuristic(label)), Bits(scan))
                << "n " << n << " trial " << trial;
            // Estimated two at a time, each label gets the same estimate as alone.
            double first = -1.0, second = -1.0;
            heuristic.ComputeHeuristicPair(label, previous, first, second);
            ASSERT_EQ(Bits(first), Bits(scan));
            ASSERT_EQ(Bits(second), Bits(heuristic.ComputeHeuristicByListScan(previous)));
            previous = label;
            kinds.insert(scan == 0.0 ? 0 : scan == DefaultHeuristic::kUnconnected ? 1 : 2);
        }
    }
    EXPECT_EQ(kinds.size(), 3u);
}

}  // namespace
}  // namespace tamrik
