// The in-group route optimizer, route merging and their composite: seeded random instances
// whose every output is checked against an independent route check, and worked cases of
// route merging.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "graph/sparse_graph.h"
#include "postopt/composite_post_optimizer.h"
#include "postopt/default_post_optimizer.h"
#include "postopt/route_merging_post_optimizer.h"

namespace tamrik {
namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using Path = std::vector<int64_t>;
using Matrix = std::vector<std::vector<double>>;

// What the Solver hands to a post-optimizer: the instance, and the setters' arguments.
struct Instance {
    std::unique_ptr<SparseGraph> graph = std::make_unique<SparseGraph>();
    std::vector<PointRecord> points;
    std::vector<AgentRecord> agents;
    std::vector<int64_t> starts, ends;
    TimeWindowMap windows;
    bool return_to_end = true;

    // A complete graph in which type t pays (1 + step * t) times the matrix entry; every
    // point allows every type.
    explicit Instance(const Matrix& matrix, int64_t types = 1, double step = 0.0) {
        const int64_t n = std::ssize(matrix);
        graph->ChangeCostDim(static_cast<size_t>(types), 9999.0);
        for (int64_t i = 0; i < n; ++i) graph->AddVertex(i);
        for (int64_t i = 0; i < n; ++i) {
            for (int64_t j = 0; j < n; ++j) {
                CostVector cost;
                for (int64_t t = 0; t < types; ++t) cost.push_back(matrix[i][j] * (1 + step * t));
                if (i != j) graph->AddArc(i, j, cost);
            }
        }
        points.resize(static_cast<size_t>(n));
        for (int64_t t = 0; t < types; ++t) {
            for (PointRecord& point : points) point.types.push_back(t);
        }
    }
    void AddAgent(int64_t start, int64_t end, int64_t type = 0, double limit = 0.0) {
        agents.push_back({0, type, 0.0, limit});
        starts.push_back(start);
        ends.push_back(end);
    }
    // The setters in the Solver's order.
    void Configure(PostOptimizerPlugin& optimizer) const {
        optimizer.SetReturnToEnd(return_to_end);
        optimizer.SetStartNodes(starts);
        optimizer.SetEndNodes(ends);
        optimizer.SetTimeWindows(windows);
    }
    void Run(PostOptimizerPlugin& optimizer, Result& result) const {
        Configure(optimizer);
        optimizer.Optimize(graph.get(), points, agents, result);
    }
};

struct RouteCheck {
    bool feasible = true;
    double cost = 0.0;  // summed over the whole path, also past a violation
};

// A route's validity and cost by the route rules, written independently of the optimizers.
RouteCheck CheckRoute(const Instance& in, const Path& path, int64_t a) {
    RouteCheck check;
    if (path.empty()) return check;
    auto own = [&](const std::vector<int64_t>& list, int64_t node) {
        return !list.empty() && list.at(a) == node;
    };
    auto foreign = [&](const std::vector<int64_t>& list, int64_t node) {
        return std::count(list.begin(), list.end(), node) > 0 && !own(list, node);
    };
    const bool closed_tour = path.front() == path.back() && !in.return_to_end;
    if (!in.starts.empty()) {
        check.feasible = own(in.starts, path.front()) && (own(in.ends, path.back()) || closed_tour);
    } else {
        check.feasible = own(in.ends, path.back());
    }
    const int64_t type = in.agents.at(a).type_index;
    const double limit = in.agents.at(a).cost_limit;
    for (size_t i = 0; i < path.size(); ++i) {
        const int64_t node = path[i];
        const std::vector<int64_t>& types = in.points.at(node).types;
        if ((i > 0 && i + 1 < path.size() && own(in.starts, node)) ||
            std::count(types.begin(), types.end(), type) == 0 || foreign(in.starts, node) ||
            foreign(in.ends, node)) {
            check.feasible = false;
        }
        const bool free_leg = !in.return_to_end && (own(in.starts, node) || own(in.ends, node));
        if (i > 0 && path[i - 1] != node && !free_leg) {
            check.cost += in.graph->GetArcCost(path[i - 1], node).at(type);
        }
        if (auto window = in.windows.find(node); window != in.windows.end()) {
            if (check.cost > window->second.second) check.feasible = false;
            check.cost = std::max(check.cost, window->second.first);
        }
        if (i > 0 && limit > 0.0 && check.cost > limit) check.feasible = false;
    }
    return check;
}

// Distances between the points, rounded up.
Matrix Distances(const std::vector<std::pair<double, double>>& points) {
    Matrix matrix(points.size(), std::vector<double>(points.size()));
    for (size_t i = 0; i < points.size(); ++i) {
        for (size_t j = 0; j < points.size(); ++j) {
            const auto [x, y] = points[i];
            matrix[i][j] = std::ceil(std::hypot(x - points[j].first, y - points[j].second));
        }
    }
    return matrix;
}

// A result holding these paths, with their costs as times.
Result MakeResult(const Instance& in, const std::vector<Path>& paths) {
    Result result;
    for (int64_t k = 0; k < std::ssize(paths); ++k) {
        result.paths[k] = paths[k];
        result.times[k] = CheckRoute(in, paths[k], k).cost;
    }
    return result;
}

// ------------------------------------------------------------------ property test

struct Generated {
    Instance in;
    Result start;
    std::set<int64_t> infeasible;  // routes made infeasible on purpose
};

// One shared depot, one depot per agent, or separate start and end nodes; the other nodes
// cut at random into the routes. Windows lie around the solution's own times (some make the
// agent wait) and limits above its costs, so that the solution is feasible.
Generated Generate(std::mt19937_64& rng, bool windows, bool types, bool infeasible) {
    auto uniform = [&](int64_t lo, int64_t hi) {
        return std::uniform_int_distribution<int64_t>(lo, hi)(rng);
    };
    const int64_t m = uniform(2, 4), depots = uniform(0, 2);
    const int64_t num_types = types ? uniform(1, 3) : 1;
    const int64_t endpoints = depots == 0 ? 1 : depots == 1 ? m : 2 * m;
    const int64_t n = std::max(uniform(8, 15), endpoints + 3);
    std::vector<std::pair<double, double>> points(n);
    for (auto& point : points) point = {uniform(0, 100), uniform(0, 100)};
    Generated g{Instance(Distances(points), num_types, 0.5), {}, {}};
    Instance& in = g.in;
    in.return_to_end = uniform(0, 1) == 1;
    for (int64_t k = 0; k < m; ++k) {
        in.AddAgent(depots == 0 ? 0 : k, depots == 0 ? 0 : depots == 1 ? k : m + k,
                    uniform(0, num_types - 1));
    }
    std::vector<Path> paths(m);
    for (int64_t v = endpoints; v < n; ++v) {
        const int64_t k = uniform(0, m - 1);
        paths[k].insert(paths[k].begin() + uniform(0, std::ssize(paths[k])), v);
        in.points[v].types.clear();  // the agent's type, maybe others
        for (int64_t t = 0; t < num_types; ++t) {
            if (t == in.agents[k].type_index || uniform(0, 4) < 2) {
                in.points[v].types.push_back(t);
            }
        }
    }
    for (int64_t k = 0; k < m; ++k) {
        Path& path = paths[k];
        if (path.empty() && uniform(0, 6) == 0) continue;  // an empty route
        path.insert(path.begin(), in.starts[k]);
        path.push_back(!in.return_to_end && uniform(0, 3) == 0 ? in.starts[k] : in.ends[k]);
        for (size_t i = 1; windows && i + 1 < path.size(); ++i) {
            const double time = CheckRoute(in, Path(path.begin(), path.begin() + i + 1), k).cost;
            const double open = uniform(0, 9) < 3 ? time + uniform(1, 20) : time - uniform(0, 40);
            const double close = std::max(open, time) + uniform(0, 40);
            if (uniform(0, 9) < 6) in.windows[path[i]] = {open, close};
        }
        const double limit = CheckRoute(in, path, k).cost + uniform(0, 20);
        if (uniform(0, 9) < 4) in.agents[k].cost_limit = limit;
    }
    g.start = MakeResult(in, paths);
    const int64_t k = uniform(0, m - 1);
    if (infeasible && paths[k].size() >= 3 && g.start.times.at(k) > 2.0) {
        in.agents[k].cost_limit = g.start.times.at(k) / 2;  // the route now breaks its limit
        g.infeasible.insert(k);
    }
    return g;
}

double Longest(const Result& result) {
    double longest = 0.0;
    for (const auto& [k, time] : result.times) longest = std::max(longest, time);
    return longest;
}

// Every route feasible with its recomputed cost as time, the interior nodes served once as
// before, end nodes kept, the longest route not longer; a route
// that came in infeasible comes out unchanged with its incoming cost. When the routes were
// `reversed` last, no route that kept its nodes gains from reversing a segment.
void ExpectSound(const Generated& g, const Result& after, const std::string& who,
                 bool reversed) {
    SCOPED_TRACE(who);
    ASSERT_EQ(after.paths.size(), g.in.agents.size());
    ASSERT_EQ(after.times.size(), g.in.agents.size());
    std::multiset<int64_t> served_before, served_after;
    for (int64_t k = 0; k < std::ssize(g.in.agents); ++k) {
        const Path& before = g.start.paths.at(k);
        const Path& path = after.paths.at(k);
        if (before.size() >= 2) served_before.insert(before.begin() + 1, before.end() - 1);
        if (path.size() >= 2) served_after.insert(path.begin() + 1, path.end() - 1);
        SCOPED_TRACE("agent " + std::to_string(k));
        if (before.size() < 2 || g.infeasible.count(k)) {
            EXPECT_EQ(std::tie(path, after.times.at(k)), std::tie(before, g.start.times.at(k)));
            continue;
        }
        EXPECT_TRUE(path.size() >= 2 && path.front() == before.front());
        EXPECT_EQ(path.back(), before.back());
        const RouteCheck check = CheckRoute(g.in, path, k);
        EXPECT_TRUE(check.feasible);
        EXPECT_NEAR(after.times.at(k), check.cost, 1e-6);
        for (size_t i = 1; reversed && path.size() >= before.size() && i + 2 < path.size(); ++i) {
            for (size_t j = i + 1; j + 1 < path.size(); ++j) {  // no reversal gains any more
                Path candidate = path;
                std::reverse(candidate.begin() + i, candidate.begin() + j + 1);
                const RouteCheck other = CheckRoute(g.in, candidate, k);
                EXPECT_FALSE(other.feasible && other.cost + 1e-9 < check.cost) << i << " " << j;
            }
        }
    }
    EXPECT_EQ(served_after, served_before);
    EXPECT_LE(Longest(after), Longest(g.start) + 1e-9);
}

// (seed, windows and limits, agent types, one route infeasible, at least this many instances
// of 100 improved by the composite and with a route dissolved by merging)
class PostOptimizerProperty
    : public ::testing::TestWithParam<std::tuple<uint64_t, bool, bool, bool, int, int>> {};

TEST_P(PostOptimizerProperty, EveryOutputIsFeasibleServesEachNodeOnceAndKeepsTheLongestRoute) {
    const auto [seed, windows, types, infeasible, min_improved, min_dissolved] = GetParam();
    std::mt19937_64 rng(seed);
    int improved = 0, dissolved = 0;
    for (int i = 0; i < 100 && !HasFailure(); ++i) {
        SCOPED_TRACE("instance " + std::to_string(i));
        const Generated g = Generate(rng, windows, types, infeasible);
        DefaultPostOptimizer in_group;
        RouteMergingPostOptimizer merging;
        CompositePostOptimizer composite;
        composite.AddMember(std::make_unique<DefaultPostOptimizer>());
        composite.AddMember(std::make_unique<RouteMergingPostOptimizer>());
        Result first = g.start, merged = g.start, both = g.start;
        CaptureStderr();
        g.in.Run(in_group, first);
        g.in.Run(merging, merged);
        g.in.Run(composite, both);
        const std::string messages = GetCapturedStderr();
        EXPECT_TRUE(infeasible || messages.empty()) << messages;
        ExpectSound(g, first, "in-group", false);
        ExpectSound(g, merged, "merging", true);
        ExpectSound(g, both, "composite", true);
        g.in.Run(merging, first);  // the composite is merging applied to the in-group output
        EXPECT_EQ(both.paths, first.paths);
        EXPECT_EQ(both.times, first.times);
        improved += Longest(both) < Longest(g.start) - 1e-9;
        for (const auto& [k, path] : merged.paths) {
            dissolved += path.size() == 2 && g.start.paths.at(k).size() > 2;
        }
    }
    EXPECT_GE(improved, min_improved);  // the moves are exercised at all
    EXPECT_GE(dissolved, min_dissolved);
}

INSTANTIATE_TEST_SUITE_P(
    Seeds, PostOptimizerProperty,
    ::testing::Values(std::tuple{1, false, false, false, 80, 40},  // plain instances
                      std::tuple{2, false, true, false, 80, 30},   // agent types
                      std::tuple{3, true, false, false, 50, 25},   // windows and limits
                      std::tuple{4, true, true, true, 25, 12}));    // all, one route infeasible

TEST(EvaluatePath, JudgesRoutesAndTheirCostsAsTheIndependentCheckDoes) {
    // Feasible routes of random instances, some nodes then replaced by random ones; some
    // instances without start nodes, end nodes or both.
    std::mt19937_64 rng(5);
    auto uniform = [&](int64_t lo, int64_t hi) {
        return std::uniform_int_distribution<int64_t>(lo, hi)(rng);
    };
    int feasible = 0, infeasible = 0;
    for (int i = 0; i < 300; ++i) {
        Generated g = Generate(rng, i % 2 == 0, i % 3 == 0, false);
        if (i % 5 == 1 || i % 5 == 3) g.in.starts.clear();
        if (i % 5 == 2 || i % 5 == 3) g.in.ends.clear();
        g.in.return_to_end = uniform(0, 1) == 1;
        DefaultPostOptimizer optimizer;
        g.in.Configure(optimizer);
        optimizer.BindInstance(g.in.graph.get(), g.in.points, g.in.agents);
        const int64_t n = std::ssize(g.in.points), m = std::ssize(g.in.agents);
        for (auto [k, path] : g.start.paths) {
            while (!path.empty() && uniform(0, 2) == 0) {  // end nodes are the lowest, below 2m
                const int64_t node = uniform(0, (uniform(0, 1) ? n : 2 * m) - 1);
                path[uniform(0, std::ssize(path) - 1)] = node;
            }
            const RouteCheck check = CheckRoute(g.in, path, k);
            const PathEvaluation evaluation = optimizer.EvaluatePath(path, k);
            ASSERT_EQ(evaluation.feasible, check.feasible) << "instance " << i << " agent " << k;
            ASSERT_EQ(evaluation.cost, check.feasible ? check.cost : 0.0) << "instance " << i;
            ++(check.feasible ? feasible : infeasible);
        }
    }
    EXPECT_GT(feasible, 300);
    EXPECT_GT(infeasible, 350);
}

// ------------------------------------------------------------------- worked cases

// A symmetric matrix over n nodes from (i, j, cost) triples; other pairs cost `fill`.
Matrix Symmetric(size_t n, const std::vector<std::tuple<int, int, double>>& pairs,
                 double fill = 50.0) {
    Matrix matrix(n, std::vector<double>(n, fill));
    for (const auto& [i, j, cost] : pairs) matrix[i][j] = matrix[j][i] = cost;
    return matrix;
}

TEST(DefaultPostOptimizer, LeavesInvalidRoutesAsTheyCameAndRecostsTheValidOnes) {
    // Agents 0 to 2 at depot 0; agent 3 at depot 5 waits there until 100, over its limit 50.
    Instance in(Symmetric(6, {}, 10.0));
    for (int k = 0; k < 3; ++k) in.AddAgent(0, 0);
    in.AddAgent(5, 5, 0, 50.0);
    in.windows[5] = {100.0, 200.0};
    Result result;
    result.paths = {{0, {0, 1, 2, 0}}, {1, {0, 3, 0, 4, 0}}, {2, {0, 4, 3}}, {3, {5}}};
    result.times = {{0, 99.0}, {1, 77.0}};  // 0's is wrong, 2 and 3 have none
    DefaultPostOptimizer optimizer;
    CaptureStderr();
    in.Run(optimizer, result);
    GetCapturedStderr();
    EXPECT_EQ(result.paths.at(1), (Path{0, 3, 0, 4, 0}));
    EXPECT_EQ(result.paths.at(2), (Path{0, 4, 3}));
    // 0's cost recomputed; 1 and 2 keep theirs (none is 0); 3 records what its route costs.
    EXPECT_EQ(result.times, (std::unordered_map<int64_t, double>{
                                {0, 30.0}, {1, 77.0}, {2, 0.0}, {3, 100.0}}));
}

struct MergeCase {
    size_t nodes;
    std::vector<std::tuple<int, int, double>> costs;  // symmetric; other pairs cost 50
    std::vector<std::pair<int64_t, int64_t>> depots;  // (start, end) of each agent
    std::vector<Path> before, after;
};

class RouteMerging : public ::testing::TestWithParam<MergeCase> {};

TEST_P(RouteMerging, DissolvesARouteOnlyWhenEachNodeFitsUnderTheLongestIncomingRoute) {
    const MergeCase& c = GetParam();
    Instance in(Symmetric(c.nodes, c.costs));
    for (const auto& [start, end] : c.depots) in.AddAgent(start, end);
    Result result = MakeResult(in, c.before);
    const Result expected = MakeResult(in, c.after);
    RouteMergingPostOptimizer optimizer;
    in.Run(optimizer, result);
    EXPECT_EQ(result.paths, expected.paths);
    EXPECT_EQ(result.times, expected.times);  // each route's own cost
}

INSTANTIATE_TEST_SUITE_P(
    WorkedCases, RouteMerging,
    ::testing::Values(
        // [0 1 0] costs 40 and sets the cap; [0 2 0] fits into it exactly at the cap
        MergeCase{3, {{0, 1, 20.0}, {0, 2, 10.0}, {1, 2, 10.0}}, {{0, 0}, {0, 0}},
                  {{0, 1, 0}, {0, 2, 0}}, {{0, 2, 1, 0}, {0, 0}}},
        // the same half over the cap: nothing moves
        MergeCase{3, {{0, 1, 20.0}, {0, 2, 10.0}, {1, 2, 10.5}}, {{0, 0}, {0, 0}},
                  {{0, 1, 0}, {0, 2, 0}}, {{0, 1, 0}, {0, 2, 0}}},
        // agent 1 runs 1 3 2 2 with its own end 2 inside; [0 4 0] (40) has room for 3 and
        // for 2, but 2 may only end agent 1's route, so the route stays whole
        MergeCase{5,
                  {{0, 4, 20.0}, {0, 3, 5.0}, {3, 4, 5.0}, {1, 3, 5.0}, {2, 3, 5.0},
                   {0, 2, 1.0}, {2, 4, 1.0}},
                  {{0, 0}, {1, 2}}, {{0, 4, 0}, {1, 3, 2, 2}}, {{0, 4, 0}, {1, 3, 2, 2}}},
        // [0 4 0] (24) cannot be dissolved; [0 2 3 0] (35) could place 2 or 3 into it but
        // not both: 2 moves, 3 stays and its route records the 20 of [0 3 0]
        MergeCase{5,
                  {{0, 1, 20.0}, {0, 2, 10.0}, {0, 3, 10.0}, {2, 3, 15.0}, {0, 4, 12.0},
                   {2, 4, 12.0}, {3, 4, 12.0}},
                  {{0, 0}, {0, 0}, {0, 0}}, {{0, 1, 0}, {0, 2, 3, 0}, {0, 4, 0}},
                  {{0, 1, 0}, {0, 3, 0}, {0, 2, 4, 0}}}));

}  // namespace
}  // namespace tamrik
