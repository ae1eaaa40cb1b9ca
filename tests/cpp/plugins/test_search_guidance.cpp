#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "plugins/plugin_fixtures.h"
#include "plugins/search_guidance.h"

namespace tamrik {
namespace {

using test::Agent;
using test::MakeLabel;
using test::Points;

DefaultHeuristic HeuristicFor(size_t agent_count, std::vector<MstEdge> edges) {
    DefaultHeuristic heuristic;
    heuristic.Init(nullptr, Points(3), std::vector<AgentRecord>(agent_count, Agent(0)));
    heuristic.SetMstEdges(std::move(edges));
    return heuristic;
}

// Both the indexed growth and the literal list scan; they must agree to the bit.
double Estimate(const DefaultHeuristic& heuristic, const Label& label) {
    double fast = heuristic.ComputeHeuristic(label);
    double literal = heuristic.ComputeHeuristicByListScan(label);
    EXPECT_EQ(std::bit_cast<uint64_t>(fast), std::bit_cast<uint64_t>(literal));
    return fast;
}

// ------------------------------------------------------------------------ DefaultHeuristic

TEST(DefaultHeuristic, NameIsTheClassName) {
    EXPECT_EQ(DefaultHeuristic().Name(), "DefaultHeuristic");
}

TEST(DefaultHeuristic, UnconnectedValueHasTheSpecifiedBits) {
    EXPECT_EQ(std::bit_cast<uint64_t>(DefaultHeuristic::kUnconnected), 0x7FAFFFFFFFFFFFFFull);
}

TEST(DefaultHeuristic, ZeroWhenEveryVertexIsServedOrOccupied) {
    DefaultHeuristic heuristic = HeuristicFor(1, {{2, 1, 1.0}, {2, 0, 2.0}, {1, 0, 5.0}});
    EXPECT_EQ(Estimate(heuristic, MakeLabel(3, {2}, {0.0}, {0}, {0, 1})), 0.0);
    EXPECT_EQ(Estimate(heuristic, MakeLabel(3, {2}, {0.0}, {1}, {0, 1})), 0.0);
}

TEST(DefaultHeuristic, ZeroForAnEmptyVertexRange) {
    DefaultHeuristic heuristic = HeuristicFor(1, {{1, 0, 1.0}});
    Label label = MakeLabel(3, {0}, {0.0}, {0}, {});
    label.visited = {};
    label.visited_size = 0;
    EXPECT_EQ(Estimate(heuristic, label), 0.0);
    label.visited_size = -1;
    EXPECT_EQ(Estimate(heuristic, label), 0.0);
}

TEST(DefaultHeuristic, ThreeVertexCase) {
    // Stored ascending: (2, 1, 1.0) does not touch the tree at first, so (2, 0, 2.0) comes
    // first, then (2, 1, 1.0).
    DefaultHeuristic heuristic = HeuristicFor(1, {{2, 1, 1.0}, {2, 0, 2.0}, {1, 0, 5.0}});
    EXPECT_EQ(Estimate(heuristic, MakeLabel(3, {0}, {0.0}, {0}, {0})), 3.0);
}

TEST(DefaultHeuristic, FinishedAgentClosesItsVertex) {
    DefaultHeuristic heuristic = HeuristicFor(1, {{2, 1, 1.0}, {2, 0, 2.0}, {1, 0, 5.0}});
    EXPECT_EQ(Estimate(heuristic, MakeLabel(3, {0}, {0.0}, {1}, {0})),
              DefaultHeuristic::kUnconnected);
}

TEST(DefaultHeuristic, UnvisitedPositionOfAFinishedAgentStillGrowsTheTree) {
    // The finished agent stands on unserved vertex 1: it is in the tree and not closed.
    DefaultHeuristic heuristic = HeuristicFor(1, {{2, 1, 1.0}, {2, 0, 2.0}, {1, 0, 5.0}});
    EXPECT_EQ(Estimate(heuristic, MakeLabel(3, {1}, {0.0}, {1}, {0})), 1.0);
}

TEST(DefaultHeuristic, PairsOf9999OrMoreAreNeverUsed) {
    DefaultHeuristic heavy = HeuristicFor(1, {{1, 0, 9999.0}});
    EXPECT_EQ(Estimate(heavy, MakeLabel(2, {0}, {0.0}, {0}, {0})), DefaultHeuristic::kUnconnected);
    DefaultHeuristic heavier = HeuristicFor(1, {{1, 0, 1e300}});
    EXPECT_EQ(Estimate(heavier, MakeLabel(2, {0}, {0.0}, {0}, {0})),
              DefaultHeuristic::kUnconnected);
    DefaultHeuristic light = HeuristicFor(1, {{1, 0, 9998.5}, {1, 0, 9999.0}});
    EXPECT_EQ(Estimate(light, MakeLabel(2, {0}, {0.0}, {0}, {0})), 9998.5);
}

TEST(DefaultHeuristic, NoPairsOrNoAgents) {
    DefaultHeuristic empty = HeuristicFor(1, {});
    EXPECT_EQ(Estimate(empty, MakeLabel(2, {0}, {0.0}, {0}, {0})), DefaultHeuristic::kUnconnected);
    EXPECT_EQ(Estimate(empty, MakeLabel(2, {0}, {0.0}, {0}, {0, 1})), 0.0);
    // Without agents nothing is open to grow from.
    DefaultHeuristic nobody = HeuristicFor(0, {{1, 0, 1.0}});
    EXPECT_EQ(Estimate(nobody, MakeLabel(2, {}, {}, {}, {0})), DefaultHeuristic::kUnconnected);
    EXPECT_EQ(Estimate(nobody, MakeLabel(2, {}, {}, {}, {0, 1})), 0.0);
}

TEST(DefaultHeuristic, VerticesAtWordEdgesOf256) {
    std::vector<MstEdge> chain = {
        {63, 0, 1.0}, {64, 63, 2.0}, {127, 64, 3.0}, {128, 127, 4.0}, {255, 128, 5.0}};
    DefaultHeuristic heuristic = HeuristicFor(1, chain);
    Label label = MakeLabel(256, {0}, {0.0}, {0}, {});
    for (int64_t v = 0; v < 256; ++v) SetBit(label.visited, v);
    for (int64_t v : {63, 64, 127, 128, 255}) ClearBit(label.visited, v);
    EXPECT_EQ(Estimate(heuristic, label), 15.0);
    // The agent on 255 instead: vertex 0 is closed, the chain grows down from 255.
    label.positions = {255};
    EXPECT_EQ(Estimate(heuristic, label), 14.0);
    // With 128 served and closed the chain breaks.
    SetBit(label.visited, 128);
    label.positions = {0};
    EXPECT_EQ(Estimate(heuristic, label), DefaultHeuristic::kUnconnected);
    // Only the first N bits count: with N = 128 vertices 128 and 255 need not be reached.
    label.visited_size = 128;
    EXPECT_EQ(Estimate(heuristic, label), 6.0);
}

TEST(DefaultHeuristic, SetMstEdgesReplacesTheList) {
    DefaultHeuristic heuristic = HeuristicFor(1, {{1, 0, 1.0}});
    Label label = MakeLabel(2, {0}, {0.0}, {0}, {0});
    EXPECT_EQ(Estimate(heuristic, label), 1.0);
    heuristic.SetMstEdges({{1, 0, 4.0}});
    EXPECT_EQ(heuristic.MstEdges().size(), 1u);
    EXPECT_EQ(Estimate(heuristic, label), 4.0);
    heuristic.Init(nullptr, Points(2), {Agent(0)});  // Init keeps the list
    EXPECT_EQ(Estimate(heuristic, label), 4.0);
}

TEST(DefaultHeuristic, ListOrderDecidesAmongEqualAndUnsortedWeights) {
    // The first qualifying pair in the list is taken even if a later one is cheaper.
    DefaultHeuristic heuristic = HeuristicFor(1, {{2, 0, 5.0}, {1, 0, 1.0}, {2, 1, 1.0}});
    EXPECT_EQ(Estimate(heuristic, MakeLabel(3, {0}, {0.0}, {0}, {0})), 6.0);
}

// A complete pair list over n vertices (larger index first), sorted by weight; weights
// from a small range so that ties are common, some unusable, some pairs missing.
std::vector<MstEdge> RandomPairs(int64_t n, std::mt19937& rng) {
    std::uniform_int_distribution<int> weight(1, 30);
    std::uniform_int_distribution<int> pick(0, 19);
    std::vector<MstEdge> edges;
    for (int64_t i = 1; i < n; ++i) {
        for (int64_t j = 0; j < i; ++j) {
            int p = pick(rng);
            if (p == 0) continue;
            double w = p == 1 ? 9999.0 : weight(rng) * 0.1;
            edges.push_back({i, j, w});
        }
    }
    std::stable_sort(edges.begin(), edges.end(),
                     [](const MstEdge& a, const MstEdge& b) { return a.w < b.w; });
    return edges;
}

TEST(DefaultHeuristic, IndexedGrowthAgreesWithTheListScan) {
    std::mt19937 rng(7);
    int zero = 0, unconnected = 0, finite = 0;
    for (int64_t n : {2, 3, 5, 10, 63, 64, 65, 100, 129, 256}) {
        DefaultHeuristic heuristic;
        std::uniform_int_distribution<int> agents_dist(0, 4);
        size_t agent_count = static_cast<size_t>(agents_dist(rng));
        heuristic.Init(nullptr, Points(static_cast<size_t>(n)),
                       std::vector<AgentRecord>(agent_count, Agent(0)));
        heuristic.SetMstEdges(RandomPairs(n, rng));
        std::uniform_int_distribution<int64_t> vertex(0, n - 1);
        std::uniform_int_distribution<int> percent(0, 99);
        for (int trial = 0; trial < 200; ++trial) {
            Label label = MakeLabel(static_cast<int32_t>(n), {}, {}, {}, {});
            int served = percent(rng);
            for (int64_t v = 0; v < n; ++v) {
                if (percent(rng) < served) SetBit(label.visited, v);
            }
            for (size_t k = 0; k < agent_count; ++k) {
                label.positions.push_back(vertex(rng));
                label.costs.push_back(0.0);
                label.finished.push_back(static_cast<uint8_t>(percent(rng) < 30));
            }
            double fast = heuristic.ComputeHeuristic(label);
            double literal = heuristic.ComputeHeuristicByListScan(label);
            ASSERT_EQ(std::bit_cast<uint64_t>(fast), std::bit_cast<uint64_t>(literal))
                << "n " << n << " trial " << trial;
            ++(fast == 0.0 ? zero : fast == DefaultHeuristic::kUnconnected ? unconnected : finite);
        }
    }
    // Every kind of answer came up.
    EXPECT_GT(zero, 0);
    EXPECT_GT(unconnected, 0);
    EXPECT_GT(finite, 100);
}

TEST(DefaultHeuristic, IndexedGrowthAgreesOnShuffledLists) {
    std::mt19937 rng(11);
    for (int round = 0; round < 20; ++round) {
        std::vector<MstEdge> edges = RandomPairs(40, rng);
        std::shuffle(edges.begin(), edges.end(), rng);
        edges.push_back({5, 5, 0.5});  // a self pair never qualifies
        DefaultHeuristic heuristic = HeuristicFor(2, edges);
        Label label = MakeLabel(40, {3, 17}, {0.0, 0.0}, {0, static_cast<uint8_t>(round % 2)},
                                {3, 9, 17, 20});
        double fast = heuristic.ComputeHeuristic(label);
        double literal = heuristic.ComputeHeuristicByListScan(label);
        ASSERT_EQ(std::bit_cast<uint64_t>(fast), std::bit_cast<uint64_t>(literal)) << round;
    }
}

// ------------------------------------------------------------------------ DefaultExpansion

TEST(DefaultExpansion, NameIsTheClassName) {
    EXPECT_EQ(DefaultExpansion().Name(), "DefaultExpansion");
}

TEST(DefaultExpansion, PicksTheCheapestUnfinishedAgentLowestIndexOnTies) {
    DefaultExpansion expansion;
    expansion.Init({0, 0, 0});
    EXPECT_EQ(expansion.AgentCount(), 3u);
    EXPECT_EQ(expansion.SelectAgent(MakeLabel(1, {0, 0, 0}, {5.0, 3.0, 3.0}, {0, 0, 0}, {})), 1);
    EXPECT_EQ(expansion.SelectAgent(MakeLabel(1, {0, 0, 0}, {5.0, 3.0, 3.0}, {0, 1, 0}, {})), 2);
    EXPECT_EQ(expansion.SelectAgent(MakeLabel(1, {0, 0, 0}, {5.0, 3.0, 3.0}, {1, 1, 1}, {})), -1);
}

TEST(DefaultExpansion, NoAgentsGivesMinusOne) {
    DefaultExpansion expansion;
    EXPECT_EQ(expansion.SelectAgent(MakeLabel(1, {}, {}, {}, {})), -1);
    expansion.Init({});
    EXPECT_EQ(expansion.SelectAgent(MakeLabel(1, {}, {}, {}, {})), -1);
}

TEST(DefaultExpansion, CostsNotBelowTheLargestDoubleAreNeverChosen) {
    DefaultExpansion expansion;
    expansion.Init({0, 0, 0});
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double max = std::numeric_limits<double>::max();
    EXPECT_EQ(expansion.SelectAgent(MakeLabel(1, {0, 0, 0}, {inf, nan, max}, {0, 0, 0}, {})), -1);
    EXPECT_EQ(expansion.SelectAgent(MakeLabel(1, {0, 0, 0}, {inf, nan, 1e300}, {0, 0, 0}, {})), 2);
}

TEST(DefaultExpansion, InitAgainReplacesTheEndNodes) {
    DefaultExpansion expansion;
    expansion.Init({4, 5, 6});
    expansion.Init({7});
    EXPECT_EQ(expansion.EndNodes(), (std::vector<int64_t>{7}));
    // Only the first agent is looked at now.
    EXPECT_EQ(expansion.SelectAgent(MakeLabel(1, {0, 0}, {5.0, 1.0}, {0, 0}, {})), 0);
}

// ------------------------------------------------------------------ DefaultFocalComparator

FocalEntry Entry(int64_t visited_count, double f, double cost_sum) {
    FocalEntry entry;
    entry.visited_count = visited_count;
    entry.f = f;
    entry.cost_sum = cost_sum;
    return entry;
}

TEST(DefaultFocalComparator, NameIsTheClassName) {
    EXPECT_EQ(DefaultFocalComparator().Name(), "DefaultFocalComparator");
}

TEST(DefaultFocalComparator, MoreServedVerticesComeFirstWhateverF) {
    DefaultFocalComparator compare;
    EXPECT_TRUE(compare.Compare(Entry(4, 100.0, 100.0), Entry(3, 1.0, 1.0)));
    EXPECT_FALSE(compare.Compare(Entry(3, 1.0, 1.0), Entry(4, 100.0, 100.0)));
}

TEST(DefaultFocalComparator, ThenSmallerFThenSmallerCostSum) {
    DefaultFocalComparator compare;
    EXPECT_TRUE(compare.Compare(Entry(3, 1.0, 9.0), Entry(3, 2.0, 1.0)));
    EXPECT_FALSE(compare.Compare(Entry(3, 2.0, 1.0), Entry(3, 1.0, 9.0)));
    EXPECT_TRUE(compare.Compare(Entry(3, 2.0, 1.0), Entry(3, 2.0, 1.5)));
    EXPECT_FALSE(compare.Compare(Entry(3, 2.0, 1.5), Entry(3, 2.0, 1.0)));
}

TEST(DefaultFocalComparator, EqualKeysAreEquivalent) {
    DefaultFocalComparator compare;
    FocalEntry a = Entry(3, 2.0, 1.0);
    FocalEntry b = Entry(3, 2.0, 1.0);
    a.id = 1;
    b.id = 2;
    b.remaining_agents = 7;  // not a key
    EXPECT_FALSE(compare.Compare(a, b));
    EXPECT_FALSE(compare.Compare(b, a));
}

TEST(DefaultFocalComparator, IsAStrictWeakOrdering) {
    DefaultFocalComparator compare;
    std::vector<FocalEntry> entries = {Entry(4, 5.0, 2.0), Entry(4, 5.0, 3.0), Entry(4, 1.0, 9.0),
                                       Entry(3, 0.5, 0.5), Entry(3, 0.5, 0.5), Entry(0, 0.0, 0.0),
                                       Entry(10, 7.0, -1.0), Entry(3, -2.0, 4.0)};
    auto less = [&](const FocalEntry& a, const FocalEntry& b) { return compare.Compare(a, b); };
    auto equivalent = [&](const FocalEntry& a, const FocalEntry& b) {
        return !less(a, b) && !less(b, a);
    };
    for (const FocalEntry& a : entries) {
        EXPECT_FALSE(less(a, a));  // irreflexive
        for (const FocalEntry& b : entries) {
            if (less(a, b)) {
                EXPECT_FALSE(less(b, a));  // asymmetric
            }
            for (const FocalEntry& c : entries) {
                if (less(a, b) && less(b, c)) {
                    EXPECT_TRUE(less(a, c));  // transitive
                }
                if (equivalent(a, b) && equivalent(b, c)) {
                    EXPECT_TRUE(equivalent(a, c));  // transitive equivalence
                }
            }
        }
    }
    // Sorting puts them deepest first.
    std::sort(entries.begin(), entries.end(), less);
    EXPECT_EQ(entries.front().visited_count, 10);
    EXPECT_EQ(entries[1].f, 1.0);
    EXPECT_EQ(entries.back().visited_count, 0);
}

}  // namespace
}  // namespace tamrik
