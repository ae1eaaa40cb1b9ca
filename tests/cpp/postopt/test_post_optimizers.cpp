// The route rules, segment reversal, route merging and the solver's composition of the
// post-optimizers, checked against the shared independent route check on random instances.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "postopt/default_post_optimizer.h"
#include "postopt/route_merging_post_optimizer.h"
#include "solver/solver_probe.h"
#include "support/random_instance.h"
#include "support/route_checker.h"

namespace tamrik {
namespace {

using testing::RouteChecker;
using ::testing::PrintToString;
using Path = std::vector<int64_t>;
using Uniform = std::uniform_int_distribution<int64_t>;

template <class Run>
void Quietly(Run run) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    run();
    ::testing::internal::GetCapturedStdout();
    ::testing::internal::GetCapturedStderr();
}

using Row = std::pair<testing::InstanceShape, unsigned>;  // a shape and a first seed

class PostOptimizers : public ::testing::TestWithParam<Row> {
protected:
    // The row's instance under seed + i and a solver for it, whose members are the instance as
    // the post-optimizers receive it; `skewable` drops what could break a skewed split.
    void Load(unsigned i, bool skewable = false) {
        auto [shape, seed] = GetParam();
        if (skewable) shape.two_types = shape.time_windows = shape.cost_limits = false;
        problem = testing::RandomInstance(shape, seed + i);
        Options options = problem.options;
        options.time_limit = 0.5;
        Quietly([&] { probe = std::make_unique<testing::SolverProbe>(problem, options); });
        // The instance lists the endpoints first, then the targets.
        first_target = 1 + std::max(std::ranges::max(probe->starts),
                                    std::ranges::max(probe->goals));
    }
    // The solver's configuration, given to route rules or to a post-optimizer.
    template <class Rules>
    void Configure(Rules& rules) const {
        rules.SetReturnToEnd(problem.options.return_to_end);
        rules.SetStartNodes(probe->starts);
        rules.SetEndNodes(probe->goals);
        rules.SetTimeWindows(probe->time_windows);
    }
    void Run(PostOptimizerPlugin& optimizer, Result& result) const {
        Quietly([&] { optimizer.Optimize(probe->graph, probe->points, probe->agents, result); });
    }
    double RouteCost(int64_t k, const Path& path) const {
        return RouteChecker(problem).RouteCost(k, path);
    }
    // What the independent check finds wrong with `path` as agent k's only route (its reports
    // on vertices served never or twice concern a whole result and are dropped).
    std::vector<std::string> RouteErrors(int64_t k, const Path& path) const {
        Result one;
        one.paths[k] = path;
        one.times[k] = std::isnan(RouteCost(k, path)) ? 0.0 : RouteCost(k, path);
        std::vector<std::string> errors = RouteChecker(problem).Check(one).errors;
        std::erase_if(errors, [](const std::string& error) { return error.starts_with("vertex"); });
        return errors;
    }

    // Three instances, cost limits cut to a quarter so that short paths reach them; in each,
    // `check` gets configured rules and 200 paths of random agents: the own start; up to n
    // vertices, mostly targets, else any but a separate own end (which the rules allow and
    // the check does not); then the own end, the own start or any vertex.
    template <class Rules, class Check>
    void ForRandomPaths(Check check) {
        for (unsigned i = 0; i < 3; ++i) {
            Load(i);
            for (Agent& agent : problem.agents_ordered) agent.time_limit /= 4;
            for (AgentRecord& agent : probe->agents) agent.cost_limit /= 4;
            Rules rules;
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
                const int64_t last[] = {end, start, pick(n)};
                path.push_back(last[pick(3)]);
                SCOPED_TRACE("agent " + std::to_string(k) + " path " + PrintToString(path));
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
    ForRandomPaths<RouteRules>([&](const RouteRules& rules, int64_t k, const Path& path) {
        const std::vector<std::string> errors = RouteErrors(k, path);
        const PathEvaluation evaluation = rules.EvaluatePath(path, k);
        ASSERT_EQ(evaluation.feasible, errors.empty()) << PrintToString(errors);
        EXPECT_NEAR(evaluation.cost, errors.empty() ? RouteCost(k, path) : 0.0, 1e-9);
        ++(evaluation.feasible ? feasible : infeasible);
    });
    EXPECT_GT(feasible, 30);  // both answers are exercised
    EXPECT_GT(infeasible, 30);
}

TEST_P(PostOptimizers, SegmentReversalNeverWorsensARouteAndLeavesShortPathsAlone) {
    int improved = 0;
    ForRandomPaths<DefaultPostOptimizer>([&](DefaultPostOptimizer& rules, int64_t k, Path path) {
        const PathEvaluation before = rules.EvaluatePath(path, k);
        if (!before.feasible) return;
        const bool short_path = path.size() < 4;  // left alone even given a claimed excess
        double cost = before.cost + (short_path ? 1.0 : 0.0);
        const Path given = path;
        const bool changed = rules.TwoOptRoute(path, cost, k);
        if (short_path) {
            EXPECT_EQ(std::tuple(path, changed, cost), std::tuple(given, false, before.cost + 1.0));
            return;
        }
        EXPECT_TRUE(RouteErrors(k, path).empty()) << PrintToString(path);
        EXPECT_NEAR(cost, RouteCost(k, path), 1e-9);
        EXPECT_LE(cost, before.cost);
        EXPECT_TRUE(path.front() == given.front() && std::ranges::is_permutation(path, given));
        improved += changed;
    });
    EXPECT_GT(improved, 0);  // the reversal is exercised
}

TEST_P(PostOptimizers, TheSolversCompositionKeepsSearchSolutionsFeasibleAndNoLonger) {
    Load(0);
    Quietly([&] { probe->Solve(); });
    const std::vector<SearchSnapshot> process = probe->GetResultProcess();
    ASSERT_FALSE(process.empty());
    for (size_t i = 0; i < process.size(); i += 2) {  // the search's own routes
        Result optimized = process[i].result;
        Run(*probe->post_optimizer, optimized);
        const auto check = RouteChecker(problem).Check(optimized);
        EXPECT_TRUE(check.ok()) << "snapshot " << i << "\n" << check.Report();
        if (problem.options.objective == ObjectiveType::MinMax) {  // min-sum may keep the search's
            EXPECT_LE(LargestRouteCost(optimized), LargestRouteCost(process[i].result) + 1e-9);
        }
    }
}

TEST_P(PostOptimizers, MergingKeepsReceiversUnderTheLongestRouteAndDissolvesOnlyShorterOnes) {
    int dissolved = 0;
    auto on = [](const Path& path) {
        return [&path](int64_t v) { return std::ranges::count(path, v) > 0; };
    };
    for (unsigned i = 0; i < 5; ++i) {
        Load(i, true);
        const Result incoming = Skewed();
        ASSERT_TRUE(RouteChecker(problem).Check(incoming).ok());
        Result merged = incoming;
        RouteMergingPostOptimizer merging;
        Configure(merging);
        Run(merging, merged);
        const auto check = RouteChecker(problem).Check(merged);
        EXPECT_TRUE(check.ok()) << check.Report();
        const double cap = LargestRouteCost(incoming);
        for (const auto& [k, before] : incoming.paths) {
            SCOPED_TRACE("instance " + std::to_string(i) + " agent " + std::to_string(k));
            const Path& after = merged.paths.at(k);
            const bool emptied = std::none_of(before.begin() + 1, before.end() - 1, on(after));
            const bool received = !std::ranges::all_of(after, on(before));
            EXPECT_FALSE(received && merged.times.at(k) > cap + 1e-9) << merged.times.at(k);
            EXPECT_FALSE(emptied && incoming.times.at(k) >= cap - 1e-9) << "a longest route";
            if (!emptied) continue;
            ++dissolved;  // written back as its two end nodes, free when no leg is paid
            EXPECT_EQ(after, (Path{before.front(), before.back()}));
            const bool free = after.front() == after.back() || !problem.options.return_to_end;
            EXPECT_NEAR(merged.times.at(k), free ? 0.0 : RouteCost(k, after), 1e-9);
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
    ASSERT_FALSE(RouteErrors(1, bad).empty());
    DefaultPostOptimizer in_group;
    RouteMergingPostOptimizer merging;  // each alone, then the solver's composition of both
    PostOptimizerPlugin* const optimizers[] = {&in_group, &merging, probe->post_optimizer.get()};
    for (PostOptimizerPlugin* optimizer : optimizers) {
        Result result = incoming;
        Configure(*optimizer);
        Run(*optimizer, result);
        EXPECT_EQ(std::pair(result.paths.at(1), result.times.at(1)), std::pair(bad, 123.0))
            << optimizer->Name();
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
