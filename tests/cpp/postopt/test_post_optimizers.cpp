// The post-optimizers and their route rules against the shared independent route check.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "postopt/default_post_optimizer.h"
#include "postopt/route_merging_post_optimizer.h"
#include "solver/solver_probe.h"
#include "support/random_instance.h"
#include "support/route_checker.h"

namespace tamrik {
namespace {

using Path = std::vector<int64_t>;
using Uniform = std::uniform_int_distribution<int64_t>;
using Row = std::pair<testing::InstanceShape, unsigned>;  // a shape and a first seed

class PostOptimizers : public ::testing::TestWithParam<Row> {
protected:
    // The row's instance under seed + i (endpoints first, then targets) and its solver, whose
    // members the post-optimizers receive; `skewable` drops what could break a skewed split.
    void Load(unsigned i, bool skewable = false) {
        auto [shape, seed] = GetParam();
        if (skewable) shape.two_types = shape.time_windows = shape.cost_limits = false;
        problem = testing::RandomInstance(shape, seed + i);
        problem.options.time_limit = 0.5;
        probe = std::make_unique<testing::SolverProbe>(problem, problem.options);
        first_target = 1 + std::max(std::ranges::max(probe->starts),
                                    std::ranges::max(probe->goals));
    }
    void Configure(auto& rules) const {
        rules.SetReturnToEnd(problem.options.return_to_end);
        rules.SetStartNodes(probe->starts);
        rules.SetEndNodes(probe->goals);
        rules.SetTimeWindows(probe->time_windows);
    }
    // `result` after `optimizer`, given the solver's configuration unless it is the solver's own.
    Result Run(PostOptimizerPlugin& optimizer, Result result) const {
        if (&optimizer != probe->post_optimizer.get()) Configure(optimizer);
        optimizer.Optimize(probe->graph, probe->points, probe->agents, result);
        return result;
    }
    double RouteCost(int64_t k, const Path& path) const {
        return testing::RouteChecker(problem).RouteCost(k, path);
    }
    // Whether the independent check accepts `path` as agent k's only route, leaving aside its
    // reports on vertices served never or twice (these concern a whole result).
    bool RouteOk(int64_t k, const Path& path) const {
        const Result one{.paths = {{k, path}}, .times = {{k, RouteCost(k, path)}}};
        return std::ranges::all_of(testing::RouteChecker(problem).Check(one).errors,
                                   [](const std::string& e) { return e.starts_with("vertex"); });
    }
    // On three instances, cost limits cut to a quarter, `check` gets configured rules and 200
    // paths of random agents: the own start; up to n vertices, mostly targets, else any but a
    // separate own end (allowed by the rules, not the check); the own end, own start or any.
    void ForRandomPaths(auto check) {
        for (unsigned i = 0; i < 3; ++i) {
            Load(i);
            for (Agent& agent : problem.agents_ordered) agent.time_limit /= 4;
            for (AgentRecord& agent : probe->agents) agent.cost_limit /= 4;
            DefaultPostOptimizer rules;
            Configure(rules);
            rules.BindInstance(probe->graph, probe->points, probe->agents);
            std::mt19937 rng(GetParam().second + i);
            auto pick = [&](int64_t size) { return Uniform(0, size - 1)(rng); };
            const int64_t n = std::ssize(probe->points);
            for (int count = 0; count < 200; ++count) {
                const int64_t k = pick(std::ssize(probe->agents));
                const int64_t start = probe->starts[k], end = probe->goals[k];
                Path path{start};
                for (int64_t left = pick(n + 1); left > 0; --left) {
                    const int64_t v = pick(4) > 0 ? first_target + pick(n - first_target) : pick(n);
                    if (v != end || v == start) path.push_back(v);
                }
                path.push_back(Path{end, start, pick(n)}[pick(3)]);
                check(rules, k, path);
            }
        }
    }
    // Agents 1 .. m-1 serve one target each, agent 0 all the others; costs as times.
    Result Skewed() const {
        Result result;
        const int64_t m = std::ssize(probe->agents);
        for (int64_t k = 0; k < m; ++k) result.paths[k] = {probe->starts[k]};
        for (int64_t v = first_target, k = 1; v < std::ssize(probe->points); ++v, ++k) {
            result.paths[k < m ? k : 0].push_back(v);
        }
        for (int64_t k = 0; k < m; ++k) {
            result.paths[k].push_back(probe->goals[k]);
            result.times[k] = RouteCost(k, result.paths[k]);
        }
        return result;
    }
    Problem problem;
    std::unique_ptr<testing::SolverProbe> probe;
    int64_t first_target = 0;
};

TEST_P(PostOptimizers, EvaluatePathJudgesRoutesAndCostsAsTheIndependentCheckDoes) {
    int feasible = 0, infeasible = 0;
    ForRandomPaths([&](const DefaultPostOptimizer& rules, int64_t k, const Path& path) {
        const PathEvaluation evaluation = rules.EvaluatePath(path, k);
        ASSERT_EQ(evaluation.feasible, RouteOk(k, path));
        EXPECT_NEAR(evaluation.cost, evaluation.feasible ? RouteCost(k, path) : 0.0, 1e-9);
        ++(evaluation.feasible ? feasible : infeasible);
    });
    EXPECT_GT(std::min(feasible, infeasible), 30);  // both answers are exercised
}

TEST_P(PostOptimizers, SegmentReversalNeverWorsensARouteAndLeavesShortPathsAlone) {
    int improved = 0;
    ForRandomPaths([&](DefaultPostOptimizer& rules, int64_t k, Path path) {
        const PathEvaluation before = rules.EvaluatePath(path, k);
        if (!before.feasible) return;
        const Path given = path;
        const double excess = given.size() < 4 ? 1.0 : 0.0;  // claimed, to tempt an edit
        double cost = before.cost + excess;
        const bool changed = rules.TwoOptRoute(path, cost, k);
        EXPECT_TRUE(RouteOk(k, path));
        EXPECT_NEAR(cost, RouteCost(k, path) + excess, 1e-9);
        EXPECT_LE(cost, before.cost + excess);
        EXPECT_TRUE(excess == 0.0 || (path == given && !changed));  // short paths are left alone
        improved += changed;
    });
    EXPECT_GT(improved, 0);  // the reversal is exercised
}

TEST_P(PostOptimizers, TheSolversCompositionKeepsSearchSolutionsFeasibleAndNoLonger) {
    Load(0);
    probe->Solve();
    const std::vector<SearchSnapshot> process = probe->GetResultProcess();
    ASSERT_FALSE(process.empty());
    for (size_t i = 0; i < process.size(); i += 2) {  // the search's own routes
        const Result optimized = Run(*probe->post_optimizer, process[i].result);
        EXPECT_TRUE(testing::RouteChecker(problem).Check(optimized).ok());
        if (problem.options.objective == ObjectiveType::MinMax) {  // min-sum may keep the search's
            EXPECT_LE(LargestRouteCost(optimized), LargestRouteCost(process[i].result) + 1e-9);
        }
    }
}

TEST_P(PostOptimizers, MergingKeepsReceiversUnderTheLongestRouteAndDissolvesOnlyShorterOnes) {
    int dissolved = 0;
    auto on = [](const Path& p) { return [&p](int64_t v) { return std::ranges::count(p, v); }; };
    for (unsigned i = 0; i < 5; ++i) {
        Load(i, true);
        RouteMergingPostOptimizer merging;
        const Result incoming = Skewed(), merged = Run(merging, incoming);
        const double cap = LargestRouteCost(incoming);
        for (const auto& [k, before] : incoming.paths) {
            const Path& after = merged.paths.at(k);
            const bool emptied = std::none_of(before.begin() + 1, before.end() - 1, on(after));
            const bool received = !std::ranges::all_of(after, on(before));
            EXPECT_FALSE(received && merged.times.at(k) > cap + 1e-9);
            EXPECT_FALSE(emptied && incoming.times.at(k) >= cap - 1e-9);  // not a longest route
            if (!emptied) continue;
            ++dissolved;  // written back as its two end nodes
            EXPECT_EQ(after, (Path{before.front(), before.back()}));
            EXPECT_NEAR(merged.times.at(k), RouteCost(k, after), 1e-9);
        }
    }
    EXPECT_GT(dissolved, 0);  // dissolution is exercised
}

TEST_P(PostOptimizers, EachPostOptimizerLeavesAnInvalidIncomingRouteUnchanged) {
    Load(0, true);
    Result incoming = Skewed();
    Path& bad = incoming.paths.at(1);  // a route merging would otherwise dissolve
    bad.insert(bad.begin() + 1, bad.front());  // back at its start before serving
    incoming.times[1] = 123.0;
    DefaultPostOptimizer in_group;
    RouteMergingPostOptimizer merging;  // each alone, then the solver's composition of both
    PostOptimizerPlugin* const optimizers[] = {&in_group, &merging, probe->post_optimizer.get()};
    for (PostOptimizerPlugin* optimizer : optimizers) {
        const Result result = Run(*optimizer, incoming);
        EXPECT_EQ(std::pair(result.paths.at(1), result.times.at(1)), std::pair(bad, 123.0));
    }
}

// Three agents throughout, so that a skewed split leaves two short routes to merge.
INSTANTIATE_TEST_SUITE_P(
    Shapes, PostOptimizers,
    ::testing::Values(
        Row{{.nodes = 10, .agents = 3}, 11},  // shared depot, closed routes
        // separate depots, open routes, paid return legs
        Row{{.nodes = 12, .agents = 3, .shared_depot = false, .open_routes = true}, 21},
        // two agent types, open routes from a shared depot, free return legs, min-sum
        Row{{.nodes = 10, .agents = 3, .open_routes = true, .two_types = true,
             .objective = ObjectiveType::MinSum, .return_to_end = false}, 31},
        // windows (with waiting) and cost limits
        Row{{.nodes = 12, .agents = 3, .time_windows = true, .cost_limits = true}, 41},
        // all at once, min-sum: separate depots, open routes, free return legs
        Row{{.nodes = 12, .agents = 3, .shared_depot = false, .open_routes = true,
             .two_types = true, .time_windows = true, .cost_limits = true,
             .objective = ObjectiveType::MinSum, .return_to_end = false}, 51}));

}  // namespace
}  // namespace tamrik
