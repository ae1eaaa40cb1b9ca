#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

#include "graph/sparse_graph.h"

namespace tamrik {
namespace {

using Ids = std::vector<int64_t>;
using Costs = std::vector<CostVector>;

// Runs `action`, expecting a runtime_error; returns the thrown text and what was printed.
template <typename Action>
std::pair<std::string, std::string> Failure(Action action) {
    ::testing::internal::CaptureStdout();
    std::string thrown;
    try {
        action();
    } catch (const std::runtime_error& error) {
        thrown = error.what();
    }
    return {thrown, ::testing::internal::GetCapturedStdout()};
}

TEST(SparseGraph, AddArcCreatesEveryVertexUpToTheLargestId) {
    SparseGraph graph;
    graph.AddArc(0, 5, {1.0});
    EXPECT_EQ(graph.NumVertex(), 6u);
    EXPECT_EQ(graph.GetAllVertices(), (Ids{0, 1, 2, 3, 4, 5}));
    for (int64_t v = 1; v <= 4; ++v) {
        EXPECT_TRUE(graph.GetSuccs(v).empty());
        EXPECT_TRUE(graph.GetPreds(v).empty());
    }
    EXPECT_EQ(graph.GetSuccs(0), (Ids{5}));
    EXPECT_EQ(graph.GetPreds(5), (Ids{0}));
    EXPECT_EQ(graph.NumArc(), 2u);
    EXPECT_EQ(graph.NumEdge(), 1u);
}

TEST(SparseGraph, FirstArcFixesTheDimensionAndLaterMismatchesFail) {
    SparseGraph graph;
    graph.AddArc(0, 1, {1, 2, 3});
    EXPECT_EQ(graph.CostDim(), 3u);
    auto [thrown, printed] = Failure([&] { graph.AddArc(0, 7, {1, 2}); });
    EXPECT_EQ(thrown, "[ERROR] SparseGraph::AddArc cdim does not match");
    EXPECT_EQ(printed, "[ERROR] SparseGraph::AddArc cdim does not match: 3 != 2\n");
    EXPECT_EQ(graph.NumVertex(), 8u);  // the new vertex survives the failure
    EXPECT_FALSE(graph.HasArc(0, 7));
}

TEST(SparseGraph, AddingAnExistingArcOnlyReplacesItsCost) {
    SparseGraph graph;
    graph.AddArc(0, 1, {1});
    graph.AddArc(0, 1, {4});
    EXPECT_EQ(graph.GetSuccs(0), (Ids{1}));
    EXPECT_EQ(graph.GetPreds(1), (Ids{0}));
    EXPECT_EQ(graph.GetSuccCosts(0), (Costs{{4}}));
    EXPECT_EQ(graph.GetPredCosts(1), (Costs{{4}}));
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

TEST(SparseGraph, QueriesOutsideTheVertexRangeAreEmpty) {
    SparseGraph graph;
    graph.AddArc(0, 1, {1});
    EXPECT_FALSE(graph.HasVertex(-1));
    EXPECT_FALSE(graph.HasVertex(2));
    EXPECT_TRUE(graph.GetSuccs(-1).empty());
    EXPECT_TRUE(graph.GetSuccs(2).empty());
    EXPECT_TRUE(graph.GetPredCosts(-1).empty());
    EXPECT_TRUE(graph.GetSuccCosts(2).empty());
    EXPECT_TRUE(graph.GetArcCost(1, 0).empty());
    // A first vertex outside the range answers "no arc" instead of reading past the tables.
    for (int64_t u : {int64_t{-1}, int64_t{2}, int64_t{1} << 40}) {
        EXPECT_FALSE(graph.HasArc(u, 1));
        EXPECT_TRUE(graph.GetArcCost(u, 1).empty());
        EXPECT_FALSE(graph.ArcCostEntry(u, 1, 0).has_value());
    }
}

TEST(SparseGraph, ArcCostEntryReadsOneEntryOfAnExistingArc) {
    SparseGraph graph;
    graph.AddArc(0, 1, {2, 3});
    EXPECT_EQ(graph.ArcCostEntry(0, 1, 1), 3.0);
    EXPECT_EQ(graph.ArcCostEntry(1, 0, 0), std::nullopt);   // no such arc
    EXPECT_EQ(graph.ArcCostEntry(0, 1, 2), std::nullopt);   // no such entry
    EXPECT_EQ(graph.ArcCostEntry(0, 1, -1), std::nullopt);  // a type without an index
}

TEST(SparseGraph, ChangeCostDimOnAnEmptyGraphOnlySetsTheDimension) {
    SparseGraph graph;
    graph.ChangeCostDim(2, 9999.0);
    EXPECT_EQ(graph.CostDim(), 2u);
    EXPECT_EQ(graph.NumVertex(), 0u);
    auto [thrown, printed] = Failure([&] { graph.AddArc(0, 1, {1}); });
    EXPECT_EQ(printed, "[ERROR] SparseGraph::AddArc cdim does not match: 2 != 1\n");
}

TEST(SparseGraph, ChangeCostDimPadsAndTruncatesBothCopies) {
    SparseGraph graph;
    graph.AddArc(0, 1, {5});
    graph.ChangeCostDim(3, 9999.0);
    EXPECT_EQ(graph.GetSuccCosts(0), (Costs{{5, 9999, 9999}}));
    EXPECT_EQ(graph.GetPredCosts(1), (Costs{{5, 9999, 9999}}));
    graph.ChangeCostDim(2, 0.0);
    EXPECT_EQ(graph.GetSuccCosts(0), (Costs{{5, 9999}}));
    EXPECT_EQ(graph.GetPredCosts(1), (Costs{{5, 9999}}));
    EXPECT_EQ(graph.CostDim(), 2u);
}

TEST(SparseGraph, SetArcCostUpdatesBothCopiesWithoutAddingAnything) {
    SparseGraph graph;
    graph.AddArc(0, 1, {1, 1});
    EXPECT_TRUE(graph.SetArcCost(0, 1, {7, 8}));
    EXPECT_EQ(graph.GetArcCost(0, 1), (CostVector{7, 8}));
    EXPECT_EQ(graph.GetPredCosts(1), (Costs{{7, 8}}));
    EXPECT_EQ(graph.NumArc(), 2u);
}

struct SetArcCostCase {
    int64_t u;
    int64_t v;
    CostVector cost;
    const char* message;
};

class SparseGraphSetArcCostErrors : public ::testing::TestWithParam<SetArcCostCase> {};

TEST_P(SparseGraphSetArcCostErrors, PrintAndThrowTheSameLine) {
    SparseGraph graph;
    graph.AddArc(0, 1, {1, 1});
    graph.AddVertex(2);
    const auto& c = GetParam();
    auto [thrown, printed] = Failure([&] { graph.SetArcCost(c.u, c.v, c.cost); });
    EXPECT_EQ(thrown, c.message);
    EXPECT_EQ(printed, std::string(c.message) + "\n");
    EXPECT_EQ(graph.NumVertex(), 3u);
    EXPECT_EQ(graph.NumArc(), 2u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SparseGraphSetArcCostErrors,
    ::testing::Values(
        // wrong length is reported first, even for vertices that do not exist
        SetArcCostCase{8, 9, {1},
                       "[ERROR] SparseGraph::SetArcCost new edge cost dimension does not match! "
                       "Maybe call ChangeCostDim() at first."},
        // a vertex beyond the range
        SetArcCostCase{0, 9, {1, 1}, "[ERROR] SparseGraph::SetArcCost vertex does not exist!"},
        // a negative vertex
        SetArcCostCase{-1, 0, {1, 1}, "[ERROR] SparseGraph::SetArcCost vertex does not exist!"},
        // both vertices exist but the arc does not
        SetArcCostCase{1, 2, {1, 1}, "[ERROR] SparseGraph::SetArcCost arc does not exist!"},
        // only the opposite direction exists
        SetArcCostCase{1, 0, {1, 1}, "[ERROR] SparseGraph::SetArcCost arc does not exist!"}));

TEST(SparseGraph, CreateFromEdgesLinksBothWaysAndLeavesGapsIsolated) {
    SparseGraph graph;
    graph.CreateFromEdges({0}, {2}, {{3}});
    EXPECT_EQ(graph.NumVertex(), 3u);
    EXPECT_EQ(graph.GetSuccs(0), (Ids{2}));
    EXPECT_EQ(graph.GetSuccs(2), (Ids{0}));
    EXPECT_EQ(graph.GetPreds(0), (Ids{2}));
    EXPECT_EQ(graph.GetPreds(2), (Ids{0}));
    EXPECT_TRUE(graph.GetSuccs(1).empty());
    EXPECT_EQ(graph.NumArc(), 0u);
    EXPECT_EQ(graph.CostDim(), 0u);
}

TEST(SparseGraph, CreateFromArcsReplacesThePreviousGraph) {
    SparseGraph graph;
    graph.AddArc(0, 6, {1});
    graph.CreateFromArcs({0, 0}, {2, 2}, {{3}, {4}});
    EXPECT_EQ(graph.NumVertex(), 3u);
    EXPECT_EQ(graph.GetSuccs(0), (Ids{2, 2}));  // no duplicate check
    EXPECT_TRUE(graph.GetSuccs(2).empty());
    EXPECT_EQ(graph.GetPreds(2), (Ids{0, 0}));
    EXPECT_EQ(graph.NumArc(), 2u);  // untouched by the bulk build
}

TEST(SparseGraph, ToStrDumpsBothDirections) {
    SparseGraph graph;
    graph.AddArc(0, 1, {2, 3});
    EXPECT_EQ(graph.ToStr(),
              "=== SparseGraph Begin ===\n"
              " |V| = 2 outgoing edges \n"
              " -- 0:[1([2.000000,3.000000]),]\n"
              " -- 1:[]\n"
              " incoming edges \n"
              " -- 0:[]\n"
              " -- 1:[0([2.000000,3.000000]),]\n"
              "=== SparseGraph End ===");
}

TEST(SparseGraph, ToStrOfAnEmptyGraphHasNoVertexLines) {
    SparseGraph graph;
    EXPECT_EQ(graph.ToStr(),
              "=== SparseGraph Begin ===\n |V| = 0 outgoing edges \n incoming edges \n"
              "=== SparseGraph End ===");
}

}  // namespace
}  // namespace tamrik
