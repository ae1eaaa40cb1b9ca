#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <stdexcept>

#include "graph/sparse_graph.h"

namespace tamrik {
namespace {

using Ids = std::vector<int64_t>;
using Costs = std::vector<CostVector>;

TEST(SparseGraph, AddArcCreatesEveryVertexUpToTheLargestIdAsAnIsolatedOne) {
    SparseGraph graph;
    graph.AddArc(0, 5, {1.0});
    EXPECT_EQ(graph.GetAllVertices(), (Ids{0, 1, 2, 3, 4, 5}));
    for (int64_t v = 1; v <= 4; ++v) {
        EXPECT_TRUE(graph.GetSuccs(v).empty() && graph.GetPreds(v).empty());
    }
    EXPECT_EQ(graph.GetSuccs(0), (Ids{5}));
    EXPECT_EQ(graph.GetPreds(5), (Ids{0}));
    EXPECT_EQ(graph.NumArc(), 2u);
    EXPECT_EQ(graph.NumEdge(), 1u);
}

TEST(SparseGraph, AddArcOnAnExistingArcAndSetArcCostReplaceTheCostInBothCopiesOnly) {
    SparseGraph graph;
    graph.AddArc(0, 1, {1, 1});
    graph.AddArc(0, 1, {4, 4});
    EXPECT_EQ(graph.GetSuccs(0), (Ids{1}));
    EXPECT_EQ(graph.GetPredCosts(1), (Costs{{4, 4}}));
    EXPECT_TRUE(graph.SetArcCost(0, 1, {7, 8}));
    EXPECT_EQ(graph.GetSuccCosts(0), (Costs{{7, 8}}));
    EXPECT_EQ(graph.GetPredCosts(1), (Costs{{7, 8}}));
    EXPECT_EQ(graph.NumArc(), 2u);
}

// Every arc query, answered from the lookup index or the cost table, against the adjacency
// lists themselves.
void ExpectQueriesMatchTheLists(const SparseGraph& graph) {
    const auto n = static_cast<int64_t>(graph.NumVertex());
    const ArcCostTable table = graph.CostTable();
    for (int64_t u = 0; u < n; ++u) {
        const Ids succs = graph.GetSuccs(u);
        const Costs costs = graph.GetSuccCosts(u);
        for (int64_t v = 0; v < n; ++v) {
            const auto at = std::find(succs.begin(), succs.end(), v);
            const CostVector expected =
                at == succs.end() ? CostVector{} : costs[at - succs.begin()];
            ASSERT_EQ(graph.GetArcCost(u, v), expected) << u << " -> " << v;
            ASSERT_EQ(graph.HasArc(u, v), at != succs.end());
            for (int64_t t = 0; t < static_cast<int64_t>(graph.CostDim()); ++t) {
                const double entry = t < std::ssize(expected) ? expected[t] : 0.0;
                ASSERT_EQ(graph.ArcCostEntry(u, v, t).value_or(0.0), entry);
                if (table.costs != nullptr) {
                    ASSERT_EQ(ArcCostOrZero(graph, table, u, v, t), entry);
                }
            }
        }
    }
}

TEST(SparseGraph, ArcQueriesFollowEveryMixOfVerticesArcsAndCostChanges) {
    std::mt19937 rng(11);
    auto pick = [&](int hi) { return std::uniform_int_distribution<int>(0, hi)(rng); };
    for (int round = 0; round < 30; ++round) {
        SparseGraph graph;
        graph.ChangeCostDim(2, 9999.0);
        for (int v = 0; v < 6; ++v) graph.AddVertex(v);
        for (int step = 0; step < 60; ++step) {
            const int u = pick(8), v = pick(8), action = pick(9);
            const CostVector cost = {double(pick(50)), double(pick(50))};
            if (action < 6) {
                graph.AddArc(u, v, cost);  // new vertices, new arcs and repeated arcs
            } else if (action == 6 && graph.HasArc(u, v)) {
                graph.SetArcCost(u, v, cost);
            } else if (action == 7) {
                graph.AddVertex(pick(10));
            } else if (action == 8 && pick(5) == 0) {
                graph.CreateFromArcs({0, 1, 1}, {1, 2, 2}, {cost, cost, cost});  // a duplicate
            }
            if (step % 7 == 0) ExpectQueriesMatchTheLists(graph);
            if (HasFatalFailure()) return;
        }
        ExpectQueriesMatchTheLists(graph);
    }
}

TEST(SparseGraph, QueriesOutsideTheVerticesArcsOrCostEntriesAreEmpty) {
    SparseGraph graph;
    graph.AddArc(0, 1, {2, 3});
    EXPECT_EQ(graph.ArcCostEntry(0, 1, 1), 3.0);
    EXPECT_EQ(graph.ArcCostEntry(1, 0, 0), std::nullopt);   // only the opposite arc exists
    EXPECT_EQ(graph.ArcCostEntry(0, 1, 2), std::nullopt);   // no such entry
    EXPECT_EQ(graph.ArcCostEntry(0, 1, -1), std::nullopt);  // a type without an index
    EXPECT_TRUE(graph.GetArcCost(1, 0).empty());
    for (int64_t u : {int64_t{-1}, int64_t{2}, int64_t{1} << 40}) {  // below, above, far above
        EXPECT_FALSE(graph.HasVertex(u));
        EXPECT_TRUE(graph.GetSuccs(u).empty() && graph.GetPredCosts(u).empty());
        EXPECT_FALSE(graph.HasArc(u, 1));
        EXPECT_TRUE(graph.GetArcCost(u, 1).empty());
        EXPECT_FALSE(graph.ArcCostEntry(u, 1, 0).has_value());
    }
}

TEST(SparseGraph, ChangeCostDimPadsAndTruncatesBothCopiesAndFixesTheDimensionOfAnEmptyGraph) {
    SparseGraph graph;
    graph.AddArc(0, 1, {5});
    graph.ChangeCostDim(3, 9999.0);
    EXPECT_EQ(graph.GetSuccCosts(0), (Costs{{5, 9999, 9999}}));
    EXPECT_EQ(graph.GetPredCosts(1), (Costs{{5, 9999, 9999}}));
    graph.ChangeCostDim(2, 0.0);
    EXPECT_EQ(graph.GetSuccCosts(0), (Costs{{5, 9999}}));
    EXPECT_EQ(graph.GetPredCosts(1), (Costs{{5, 9999}}));
    SparseGraph empty;
    empty.ChangeCostDim(2, 9999.0);
    EXPECT_EQ(empty.NumVertex(), 0u);
    EXPECT_THROW(empty.AddArc(0, 1, {1}), std::runtime_error);  // the first arc must match
}

// A misuse of the graph {0 -> 1 costing (1, 1), isolated 2}, the message it throws and the
// vertex count after it.
struct Misuse {
    std::function<void(SparseGraph&)> act;
    const char* message;
    size_t vertices;
};

class SparseGraphMisuse : public ::testing::TestWithParam<Misuse> {};

TEST_P(SparseGraphMisuse, ThrowsARuntimeErrorWithItsMessageAndChangesNoArc) {
    SparseGraph graph;
    graph.AddArc(0, 1, {1, 1});
    graph.AddVertex(2);
    try {
        GetParam().act(graph);
        FAIL() << "nothing thrown";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), GetParam().message);
    }
    EXPECT_EQ(graph.NumVertex(), GetParam().vertices);
    EXPECT_EQ(graph.NumArc(), 2u);
    EXPECT_EQ(graph.GetArcCost(0, 1), (CostVector{1, 1}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SparseGraphMisuse,
    ::testing::Values(
        // an arc of another dimension: its new vertex survives the failure
        Misuse{[](SparseGraph& g) { g.AddArc(0, 7, {1}); },
               "[ERROR] SparseGraph::AddArc cdim does not match", 8},
        // a cost of another dimension is reported first, even between missing vertices
        Misuse{[](SparseGraph& g) { g.SetArcCost(8, 9, {1}); },
               "[ERROR] SparseGraph::SetArcCost new edge cost dimension does not match! "
               "Maybe call ChangeCostDim() at first.",
               3},
        // a negative vertex
        Misuse{[](SparseGraph& g) { g.SetArcCost(-1, 0, {1, 1}); },
               "[ERROR] SparseGraph::SetArcCost vertex does not exist!", 3},
        // the arc exists only in the opposite direction
        Misuse{[](SparseGraph& g) { g.SetArcCost(1, 0, {1, 1}); },
               "[ERROR] SparseGraph::SetArcCost arc does not exist!", 3}));

TEST(SparseGraph, BulkBuildsReplaceTheGraphWithoutDuplicateChecksOrArcCounts) {
    SparseGraph graph;
    graph.AddArc(0, 6, {1});
    graph.CreateFromArcs({0, 0}, {2, 2}, {{3}, {4}});
    EXPECT_EQ(graph.NumVertex(), 3u);
    EXPECT_EQ(graph.GetSuccs(0), (Ids{2, 2}));
    EXPECT_EQ(graph.GetPreds(2), (Ids{0, 0}));
    EXPECT_TRUE(graph.GetSuccs(2).empty());
    EXPECT_EQ(graph.NumArc(), 2u);  // still the count of the single AddArc
    graph.CreateFromEdges({0}, {2}, {{3}});  // both directions; the gap stays isolated
    EXPECT_EQ(graph.GetSuccs(0), (Ids{2}));
    EXPECT_EQ(graph.GetPreds(0), (Ids{2}));
    EXPECT_TRUE(graph.GetSuccs(1).empty());
}

}  // namespace
}  // namespace tamrik
