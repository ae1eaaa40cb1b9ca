// A candidate the route optimizers skip on its bound, or on its price from the route set's
// moves, could never have been taken.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

#include "graph/sparse_graph.h"
#include "postopt/default_post_optimizer.h"

namespace tamrik {
namespace {

struct BoundProbe : DefaultPostOptimizer {  // opens the bounds to the test
    using Base = RouteOptimizerBase;
    using Base::BuildLegSums, Base::InsertionBound, Base::LegSums, Base::ReversalBound;
    using Base::mirror, Base::PricedAbove;
};

class CandidateBounds : public ::testing::TestWithParam<std::tuple<unsigned, bool, bool>> {};

TEST_P(CandidateBounds, NeverExceedTheEvaluatedCostOfAFeasibleCandidate) {
    const auto [seed, windows, return_to_end] = GetParam();
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int feasible = 0;
    int priced = 0;
    for (int round = 0; round < 40; ++round) {
        const int64_t n = 9, agent = round % 2;  // agent k starts and ends at vertex k
        SparseGraph graph;
        for (int64_t v = 0; v < n; ++v) graph.AddVertex(v);
        for (int64_t a = 0; a < n * n; ++a) {  // arc a / n -> a % n: fractional, some negative
            const double c = unit(rng) < 0.05 ? -unit(rng) : 100.0 * unit(rng) / 3.0;
            if (a / n != a % n) graph.AddArc(a / n, a % n, {c, 1.7 * c});
        }
        TimeWindowMap window_map;
        for (int64_t v = 2; windows && v < n; ++v) {
            if (unit(rng) < 0.5) window_map[v] = {200.0 * unit(rng), 1e9};
        }
        BoundProbe probe;
        probe.SetReturnToEnd(return_to_end);
        probe.SetStartNodes({0, 1});
        probe.SetEndNodes({0, 1});
        probe.SetTimeWindows(window_map);
        probe.BindInstance(&graph, std::vector<PointRecord>(n, {.types = {0, 1}}),  // both types
                           {{.type_index = 0}, {.type_index = 1}});  // agent k of type k
        std::vector<int64_t> path = {agent, 2, 3, 4, 5, 6, 7, agent};  // shuffled inside
        std::shuffle(path.begin() + 1, path.end() - 1, rng);
        const auto rules = probe.LegRulesOf(agent);
        BoundProbe::LegSums sums;
        probe.BuildLegSums(path, rules, sums);
        std::vector<std::vector<int64_t>> paths{{0, 0}, {1, 1}};
        paths[static_cast<size_t>(agent)] = path;
        probe.mirror.Load(probe.Rules(), paths);
        // Only where windows are in force does the mirror price anything.
        ASSERT_TRUE(probe.mirror.Holds(static_cast<size_t>(agent), path) || !windows ||
                    !probe.EvaluatePath(path, agent).feasible);
        auto compare = [&](const std::vector<int64_t>& candidate, double bound, double price) {
            const PathEvaluation evaluation = probe.EvaluatePath(candidate, agent);
            feasible += evaluation.feasible;
            priced += price != RouteSet::kInfeasible;
            if (!evaluation.feasible) return;
            EXPECT_LE(bound, evaluation.cost);
            EXPECT_FALSE(probe.PricedAbove(price, candidate.size(), sums.magnitude, 100.0,
                                           evaluation.cost))
                << price << " for " << evaluation.cost;
        };
        const bool held = probe.mirror.Holds(static_cast<size_t>(agent), path);
        const auto r = static_cast<size_t>(agent);
        for (size_t i = 1; i + 2 < path.size(); ++i) {
            for (size_t j = i + 1; j + 1 < path.size(); ++j) {
                auto candidate = path;
                std::reverse(candidate.begin() + i, candidate.begin() + j + 1);
                compare(candidate, probe.ReversalBound(path, rules, sums, i, j, 100.0),
                        held ? probe.mirror.ReversalPrice(r, i, j) : RouteSet::kInfeasible);
            }
        }
        for (size_t q = 1; q < path.size(); ++q) {
            auto candidate = path;
            candidate.insert(candidate.begin() + q, 8);
            compare(candidate, probe.InsertionBound(path, rules, sums, q, 8, 100.0),
                    held ? probe.mirror.InsertionPrice(r, q, 8) : RouteSet::kInfeasible);
        }
    }
    EXPECT_GT(feasible, 40 * 20);  // most candidates are feasible: the check ran
    EXPECT_EQ(priced > 40 * 20, windows);  // without windows the bounds alone decide
}

INSTANTIATE_TEST_SUITE_P(Seeds, CandidateBounds, ::testing::Values(  // seed, windows, return to end
    std::tuple{1u, false, true},    // every leg paid
    std::tuple{2u, false, false},   // the leg back to the depot is free
    std::tuple{3u, true, true},     // waiting lifts costs above the legs
    std::tuple{4u, true, false}));  // both

}  // namespace
}  // namespace tamrik
