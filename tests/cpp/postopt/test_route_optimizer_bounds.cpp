// The candidate bounds that let the route optimizers skip reversals and insertions: never
// above the cost the route evaluation gives a feasible candidate, and close to it when no
// window makes the agent wait.

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

#include "graph/sparse_graph.h"
#include "postopt/default_post_optimizer.h"

namespace tamrik {
namespace {

using Path = std::vector<int64_t>;

// Opens the bounds to the test.
class BoundProbe : public DefaultPostOptimizer {
public:
    using RouteOptimizerBase::BuildLegSums;
    using RouteOptimizerBase::InsertionBound;
    using RouteOptimizerBase::LegRules;
    using RouteOptimizerBase::LegRulesOf;
    using RouteOptimizerBase::LegSums;
    using RouteOptimizerBase::ReversalBound;
};

// Compares every candidate of `path` with its bound; `waiting` tells whether windows may
// lift the cost above the sum of its legs.
void CheckCandidates(BoundProbe& probe, const Path& path, int64_t agent, int64_t extra_node,
                     bool waiting, int& feasible) {
    const BoundProbe::LegRules rules = probe.LegRulesOf(agent);
    BoundProbe::LegSums sums;
    probe.BuildLegSums(path, rules, sums);
    auto compare = [&](const Path& candidate, double bound) {
        const PathEvaluation evaluation = probe.EvaluatePath(candidate, agent);
        if (!evaluation.feasible) return;
        ++feasible;
        ASSERT_LE(bound, evaluation.cost);
        if (!waiting) {
            ASSERT_GT(bound, evaluation.cost - 1e-6);
        }
    };
    for (size_t i = 1; i + 2 < path.size(); ++i) {
        for (size_t j = i + 1; j + 1 < path.size(); ++j) {
            Path candidate = path;
            std::reverse(candidate.begin() + i, candidate.begin() + j + 1);
            compare(candidate, probe.ReversalBound(path, rules, sums, i, j, 100.0));
        }
    }
    for (size_t q = 1; q < path.size(); ++q) {
        Path candidate = path;
        candidate.insert(candidate.begin() + q, extra_node);
        compare(candidate, probe.InsertionBound(path, rules, sums, q, extra_node, 100.0));
    }
}

// (seed, time windows, return to end)
class CandidateBounds : public ::testing::TestWithParam<std::tuple<unsigned, bool, bool>> {};

TEST_P(CandidateBounds, NeverExceedTheEvaluatedCostOfAFeasibleCandidate) {
    const auto [seed, windows, return_to_end] = GetParam();
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int feasible = 0;
    for (int round = 0; round < 40; ++round) {
        // Asymmetric costs with fractional parts, a few of them negative, and two types.
        const int64_t n = 9;
        SparseGraph graph;
        graph.ChangeCostDim(2, 9999.0);
        for (int64_t v = 0; v < n; ++v) graph.AddVertex(v);
        for (int64_t u = 0; u < n; ++u) {
            for (int64_t v = 0; v < n; ++v) {
                const double c = unit(rng) < 0.05 ? -unit(rng) : 100.0 * unit(rng) / 3.0;
                if (u != v) graph.AddArc(u, v, {c, 1.7 * c});
            }
        }
        std::vector<PointRecord> points(static_cast<size_t>(n));
        for (PointRecord& point : points) point.types = {0, 1};
        std::vector<AgentRecord> agents = {{0, 0, 0.0, 0.0}, {0, 1, 0.0, 0.0}};
        TimeWindowMap window_map;
        for (int64_t v = 2; windows && v < n; ++v) {
            if (unit(rng) < 0.5) window_map[v] = {200.0 * unit(rng), 1e9};
        }
        BoundProbe probe;
        probe.SetReturnToEnd(return_to_end);
        probe.SetStartNodes({0, 1});
        probe.SetEndNodes({0, 1});
        probe.SetTimeWindows(window_map);
        probe.BindInstance(&graph, points, agents);
        Path path = {2, 3, 4, 5, 6, 7};
        std::shuffle(path.begin(), path.end(), rng);
        const int64_t agent = round % 2;
        path.insert(path.begin(), agent);
        path.push_back(agent);
        CheckCandidates(probe, path, agent, 8, windows, feasible);
        if (HasFatalFailure()) return;
    }
    EXPECT_GT(feasible, 40 * 20);  // most candidates are feasible: the check ran
}

INSTANTIATE_TEST_SUITE_P(
    Seeds, CandidateBounds,
    ::testing::Values(std::tuple{1u, false, true},    // every leg paid
                      std::tuple{2u, false, false},   // the leg back to the depot is free
                      std::tuple{3u, true, true},     // waiting lifts costs above the legs
                      std::tuple{4u, true, false}));  // both

}  // namespace
}  // namespace tamrik
