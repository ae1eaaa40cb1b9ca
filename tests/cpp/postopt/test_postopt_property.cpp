// Randomised property test of the post-optimizers: seeded instances of 8 to 15 nodes and 2 to
// 4 agents, with and without time windows, agent types and cost limits, one shared depot or
// per-agent depots, starting from random feasible solutions. Every output is checked with the
// independent checker of postopt_test_support.h.

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "postopt/composite_post_optimizer.h"
#include "postopt/default_post_optimizer.h"
#include "postopt/postopt_test_support.h"
#include "postopt/route_merging_post_optimizer.h"

namespace tamrik {
namespace {

using namespace postopt_test;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

struct Generated {
    Instance in;
    int64_t first_target = 0;  // vertices from here on are targets, the others endpoints
    Result start;
    std::set<int64_t> infeasible;  // routes made infeasible on purpose
    std::string description;
};

int64_t Uniform(std::mt19937_64& random, int64_t low, int64_t high) {
    return std::uniform_int_distribution<int64_t>(low, high)(random);
}

bool Chance(std::mt19937_64& random, double p) {
    return std::uniform_real_distribution<double>(0.0, 1.0)(random) < p;
}

// The time at each position of the path for agent a, by the rules of CheckRoute, given the
// windows already placed.
double LegCost(const Instance& in, const Path& path, size_t i, int64_t a) {
    const int64_t node = path[i];
    const int64_t prev = path[i - 1];
    if (node == prev) return 0.0;
    if (!in.return_to_end && (node == in.starts[a] || node == in.ends[a])) return 0.0;
    return in.graph->GetArcCost(prev, node).at(static_cast<size_t>(in.agents[a].type_index));
}

Generated Generate(std::mt19937_64& random, bool with_windows, bool with_types,
                   bool with_infeasible) {
    Generated g;
    Instance& in = g.in;
    const int64_t m = Uniform(random, 2, 4);
    const int depot_mode = static_cast<int>(Uniform(random, 0, 2));  // shared, own, start != end
    int64_t n = Uniform(random, 8, 15);
    const int64_t endpoints = depot_mode == 0 ? 1 : (depot_mode == 1 ? m : 2 * m);
    n = std::max(n, endpoints + 3);
    in.return_to_end = Chance(random, 0.5);
    const int64_t num_types = with_types ? Uniform(random, 1, 3) : 1;

    // Costs: ceil of a scaled Euclidean distance between integer points (a metric).
    std::vector<std::pair<double, double>> coords;
    for (int64_t i = 0; i < n; ++i) {
        coords.emplace_back(static_cast<double>(Uniform(random, 0, 100)),
                            static_cast<double>(Uniform(random, 0, 100)));
    }
    const Matrix base = EuclideanMatrix(coords);
    std::vector<Matrix> matrices;
    for (int64_t t = 0; t < num_types; ++t) {
        Matrix matrix = base;
        for (auto& row : matrix) {
            for (double& cost : row) cost = std::ceil(cost * (1.0 + 0.5 * static_cast<double>(t)));
        }
        matrices.push_back(matrix);
    }
    BuildGraph(in, matrices);
    std::vector<int64_t> all_types;
    for (int64_t t = 0; t < num_types; ++t) all_types.push_back(t);
    AddPoints(in, static_cast<size_t>(n), all_types);

    for (int64_t k = 0; k < m; ++k) {
        int64_t start = 0;
        int64_t end = 0;
        if (depot_mode == 1) start = end = k;
        if (depot_mode == 2) {
            start = k;
            end = m + k;
        }
        AddAgent(in, start, end, Uniform(random, 0, num_types - 1));
    }

    // A random feasible solution: a random order of the targets cut into m routes.
    g.first_target = endpoints;
    Path targets;
    for (int64_t v = endpoints; v < n; ++v) targets.push_back(v);
    std::shuffle(targets.begin(), targets.end(), random);
    std::vector<Path> paths(static_cast<size_t>(m));
    for (int64_t v : targets) paths[static_cast<size_t>(Uniform(random, 0, m - 1))].push_back(v);
    for (int64_t k = 0; k < m; ++k) {
        Path& path = paths[static_cast<size_t>(k)];
        if (path.empty() && Chance(random, 0.15)) continue;  // an empty route
        const int64_t start = in.starts[k];
        int64_t last = in.ends[k];
        if (!in.return_to_end && start != last && Chance(random, 0.25)) last = start;  // closed
        if (with_types) {
            for (int64_t v : path) {
                std::vector<int64_t> types{in.agents[k].type_index};
                for (int64_t t = 0; t < num_types; ++t) {
                    if (t != types[0] && Chance(random, 0.4)) types.push_back(t);
                }
                std::sort(types.begin(), types.end());
                in.points[v].types = types;
            }
        }
        path.insert(path.begin(), start);
        path.push_back(last);
    }

    // Windows around the times of that solution, some forcing a wait; limits above its costs.
    for (int64_t k = 0; k < m; ++k) {
        const Path& path = paths[static_cast<size_t>(k)];
        double time = 0.0;
        for (size_t i = 1; i < path.size(); ++i) {
            time += LegCost(in, path, i, k);
            const bool target = i + 1 < path.size();
            if (with_windows && target && Chance(random, 0.6)) {
                const double open = Chance(random, 0.3)
                                        ? time + static_cast<double>(Uniform(random, 1, 20))
                                        : std::max(0.0, time - static_cast<double>(
                                                                   Uniform(random, 0, 40)));
                time = std::max(time, open);
                in.windows[path[i]] = {open, time + static_cast<double>(Uniform(random, 0, 40))};
            }
        }
        if (Chance(random, 0.4)) {
            in.agents[k].cost_limit = time + static_cast<double>(Uniform(random, 0, 20));
        }
    }
    g.start = MakeResult(in, paths);

    // Optionally one route made infeasible by a limit below its cost.
    if (with_infeasible) {
        const int64_t k = Uniform(random, 0, m - 1);
        const double cost = g.start.times.at(k);
        if (paths[static_cast<size_t>(k)].size() >= 3 && cost > 2.0) {
            in.agents[k].cost_limit = cost / 2.0;
            g.infeasible.insert(k);
        }
    }

    std::ostringstream out;
    out << "n=" << n << " m=" << m << " depots=" << depot_mode << " return=" << in.return_to_end
        << " types=" << num_types << " windows=" << in.windows.size() << " routes:";
    for (const Path& path : paths) out << " " << PathText(path);
    g.description = out.str();
    return g;
}

void ExpectStartIsAsIntended(const Generated& g) {
    for (const auto& [k, path] : g.start.paths) {
        const RouteCheck check = CheckRoute(g.in, path, k);
        ASSERT_EQ(check.feasible, g.infeasible.count(k) == 0)
            << g.description << " agent " << k << ": " << check.why;
    }
}

// Every target is served exactly once over all routes, strictly inside a route.
void ExpectEveryTargetOnce(const Generated& g, const Result& result, const std::string& context) {
    std::map<int64_t, int> served;
    for (const auto& [k, path] : result.paths) {
        for (size_t i = 0; i < path.size(); ++i) {
            if (path[i] < g.first_target) continue;
            ++served[path[i]];
            EXPECT_TRUE(i > 0 && i + 1 < path.size()) << context << " target " << path[i];
        }
    }
    const int64_t n = static_cast<int64_t>(g.in.points.size());
    for (int64_t v = g.first_target; v < n; ++v) {
        EXPECT_EQ(served[v], 1) << context << " target " << v;
    }
}

struct Totals {
    int instances = 0;
    int improved = 0;
    int dissolved = 0;
};

void RunProperty(uint64_t seed, bool with_windows, bool with_types, bool with_infeasible,
                 int count, Totals& totals) {
    std::mt19937_64 random(seed);
    for (int i = 0; i < count; ++i) {
        Generated g = Generate(random, with_windows, with_types, with_infeasible);
        ASSERT_NO_FATAL_FAILURE(ExpectStartIsAsIntended(g));
        const std::string context = "instance " + std::to_string(i) + ": " + g.description;
        ++totals.instances;

        Result in_group = g.start;
        DefaultPostOptimizer default_optimizer;
        CaptureStderr();
        RunOptimizer(default_optimizer, g.in, in_group);
        const std::string err = GetCapturedStderr();
        ExpectSoundSolution(g.in, g.start, in_group, "in-group, " + context, g.infeasible);
        ExpectEveryTargetOnce(g, in_group, "in-group, " + context);
        if (g.infeasible.empty()) {
            EXPECT_EQ(err, "") << context;
        }

        Result merged = g.start;
        RouteMergingPostOptimizer merging;
        RunOptimizer(merging, g.in, merged);
        ExpectSoundSolution(g.in, g.start, merged, "merging, " + context, g.infeasible);
        ExpectEveryTargetOnce(g, merged, "merging, " + context);

        Result both = g.start;
        CompositePostOptimizer composite;
        composite.AddMember(std::make_unique<DefaultPostOptimizer>());
        composite.AddMember(std::make_unique<RouteMergingPostOptimizer>());
        CaptureStderr();
        RunOptimizer(composite, g.in, both);
        GetCapturedStderr();
        ExpectSoundSolution(g.in, g.start, both, "composite, " + context, g.infeasible);
        ExpectEveryTargetOnce(g, both, "composite, " + context);

        if (LongestTime(both) < LongestTime(g.start) - 1e-9) ++totals.improved;
        for (const auto& [k, path] : merged.paths) {
            if (path.size() == 2 && g.start.paths.at(k).size() > 2) {
                ++totals.dissolved;
                break;
            }
        }
        if (::testing::Test::HasFailure()) return;  // one failing instance is enough to read
    }
}

// The tests also make sure that the moves are exercised at all.
TEST(PostOptimizerProperty, PlainInstances) {
    Totals totals;
    RunProperty(1, false, false, false, 100, totals);
    EXPECT_GT(totals.improved, 60);
    EXPECT_GT(totals.dissolved, 20);
}

TEST(PostOptimizerProperty, WithTypes) {
    Totals totals;
    RunProperty(2, false, true, false, 100, totals);
    EXPECT_GT(totals.improved, 50);
    EXPECT_GT(totals.dissolved, 15);
}

TEST(PostOptimizerProperty, WithWindowsAndLimits) {
    Totals totals;
    RunProperty(3, true, false, false, 100, totals);
    EXPECT_GT(totals.improved, 30);
    EXPECT_GT(totals.dissolved, 15);
}

TEST(PostOptimizerProperty, WithWindowsTypesAndAnInfeasibleRoute) {
    Totals totals;
    RunProperty(4, true, true, true, 100, totals);
    EXPECT_GT(totals.improved, 15);
    EXPECT_GT(totals.dissolved, 5);
}

}  // namespace
}  // namespace tamrik
