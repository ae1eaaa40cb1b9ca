#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <tuple>

#include "graph/sparse_graph.h"

namespace tamrik {
namespace {

using Ids = std::vector<int64_t>;
using Costs = std::vector<CostVector>;

// Every arc query, answered from the lookup index or the cost table, against the successor
// lists, for ids and cost entries inside and outside the graph; and the two copies of each
// arc (successor and predecessor lists) against each other.
void ExpectQueriesMatchTheLists(const SparseGraph& graph) {
    const auto n = static_cast<int64_t>(graph.NumVertex());
    const ArcCostTable table = graph.CostTable();
    Ids ids = {-1, n, int64_t{1} << 40};
    for (int64_t v = 0; v < n; ++v) ids.push_back(v);
    std::multiset<std::tuple<int64_t, int64_t, CostVector>> forward, backward;
    for (int64_t u : ids) {
        const Ids succs = graph.GetSuccs(u), preds = graph.GetPreds(u);
        const Costs costs = graph.GetSuccCosts(u), pred_costs = graph.GetPredCosts(u);
        for (size_t k = 0; k < succs.size(); ++k) forward.insert({u, succs[k], costs[k]});
        for (size_t k = 0; k < preds.size(); ++k) backward.insert({preds[k], u, pred_costs[k]});
        for (int64_t v : ids) {
            const auto at = std::find(succs.begin(), succs.end(), v);
            const CostVector cost = at == succs.end() ? CostVector{} : costs[at - succs.begin()];
            ASSERT_EQ(graph.GetArcCost(u, v), cost) << u << " -> " << v;
            ASSERT_EQ(graph.HasArc(u, v), at != succs.end()) << u << " -> " << v;
            for (int64_t t = -1; t <= static_cast<int64_t>(graph.CostDim()); ++t) {
                const std::optional<double> entry =
                    t >= 0 && t < std::ssize(cost) ? std::optional(cost[t]) : std::nullopt;
                ASSERT_EQ(graph.ArcCostEntry(u, v, t), entry) << u << " -> " << v << " " << t;
                ASSERT_EQ(ArcCostEntryFrom(graph, table, u, v, t), entry);
            }
        }
    }
    ASSERT_EQ(forward, backward);
}

TEST(SparseGraph, AnswersEveryQueryFromItsListsAfterAnyMixOfEdits) {
    std::mt19937 rng(11);
    auto pick = [&](int hi) { return std::uniform_int_distribution<int>(0, hi)(rng); };
    for (int round = 0; round < 30; ++round) {
        SparseGraph graph;
        graph.ChangeCostDim(2, 9999.0);
        for (int v = 0; v < 6; ++v) graph.AddVertex(v);
        for (int step = 0; step < 60; ++step) {
            const int u = pick(8), v = pick(8), action = pick(9);
            CostVector cost(graph.CostDim());
            for (double& entry : cost) entry = pick(50);
            if (action < 6) graph.AddArc(u, v, cost);  // new vertices, new and repeated arcs
            if (action == 6 && graph.HasArc(u, v)) graph.SetArcCost(u, v, cost);
            if (action <= 6 && graph.HasArc(u, v)) { ASSERT_EQ(graph.GetArcCost(u, v), cost); }
            if (action == 7) graph.AddVertex(pick(10));
            if (action == 8) {  // pads every cost vector with the fill, or truncates it
                Costs expected = graph.GetSuccCosts(u);
                for (CostVector& c : expected) c.resize(1 + v % 3, 0.5 * v);
                graph.ChangeCostDim(1 + v % 3, 0.5 * v);
                ASSERT_EQ(graph.GetSuccCosts(u), expected);
            }
            if (action == 9 && pick(5) == 0) {  // replaces the whole graph, with one arc twice
                graph.CreateFromArcs({0, 1, 1}, {1, 2, 2}, {cost, cost, cost});
                ASSERT_EQ(graph.GetSuccs(1), (Ids{2, 2}));
            }
            if (step % 3 == 2) ExpectQueriesMatchTheLists(graph);  // some edits on a stale index
            if (HasFatalFailure()) return;
        }
    }
}

TEST(SparseGraph, MisuseThrowsARuntimeErrorWithItsMessageAndLeavesTheArcs) {
    // (misuse of the graph {0 -> 1 costing (1, 1), isolated 2}, message, vertices after it)
    const std::vector<std::tuple<std::function<void(SparseGraph&)>, std::string, size_t>> cases = {
        // an arc of another dimension: its new vertex survives the failure
        {[](SparseGraph& g) { g.AddArc(0, 7, {1}); },
         "[ERROR] SparseGraph::AddArc cdim does not match", 8},
        // a cost of another dimension is reported first, even between missing vertices
        {[](SparseGraph& g) { g.SetArcCost(8, 9, {1}); },
         "[ERROR] SparseGraph::SetArcCost new edge cost dimension does not match! "
         "Maybe call ChangeCostDim() at first.", 3},
        // a negative vertex
        {[](SparseGraph& g) { g.SetArcCost(-1, 0, {1, 1}); },
         "[ERROR] SparseGraph::SetArcCost vertex does not exist!", 3},
        // the arc exists only in the opposite direction
        {[](SparseGraph& g) { g.SetArcCost(1, 0, {1, 1}); },
         "[ERROR] SparseGraph::SetArcCost arc does not exist!", 3}};
    for (const auto& [misuse, message, vertices] : cases) {
        SparseGraph graph;
        graph.AddArc(0, 1, {1, 1});
        graph.AddVertex(2);
        try { misuse(graph); ADD_FAILURE() << "nothing thrown: " << message; }
        catch (const std::runtime_error& error) { EXPECT_EQ(error.what(), message); }
        EXPECT_EQ(graph.NumVertex(), vertices) << message;
        EXPECT_EQ(graph.GetArcCost(0, 1), (CostVector{1, 1})) << message;
    }
}

}  // namespace
}  // namespace tamrik
