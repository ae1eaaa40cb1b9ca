// Times one full Optimize of the Solver's standard post-optimizer composition
// (DefaultPostOptimizer, then RouteMergingPostOptimizer) on a seeded random instance: 100
// nodes in the plane, one agent type, a complete SparseGraph built as the Solver builds it,
// and a 5-agent single-depot solution made by cutting a random permutation of the targets.
//
// With windows=1 every target opens at a random time and never closes, so routes wait.
//
// Usage: postopt_bench [seed=1] [repeats=5] [nodes=100] [agents=5] [windows=0]

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "graph/sparse_graph.h"
#include "postopt/composite_post_optimizer.h"
#include "postopt/default_post_optimizer.h"
#include "postopt/route_merging_post_optimizer.h"

namespace {

using tamrik::Result;
using Clock = std::chrono::steady_clock;

double Longest(const Result& result) {
    double longest = 0.0;
    for (const auto& entry : result.times) longest = std::max(longest, entry.second);
    return longest;
}

double Sum(const Result& result) {
    double sum = 0.0;
    for (const auto& entry : result.times) sum += entry.second;
    return sum;
}

template <typename Optimizer>
double TimeOnce(Optimizer& optimizer, const tamrik::PlannerGraph& graph,
                const std::vector<tamrik::PointRecord>& points,
                const std::vector<tamrik::AgentRecord>& agents, Result& result) {
    const auto begin = Clock::now();
    optimizer.Optimize(&graph, points, agents, result);
    return std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
}

}  // namespace

int main(int argc, char** argv) {
    const unsigned long seed = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1;
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 5;
    const int64_t n = argc > 3 ? std::atoll(argv[3]) : 100;
    const int64_t m = argc > 4 ? std::atoll(argv[4]) : 5;
    const bool windows = argc > 5 && std::atoi(argv[5]) != 0;
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> coordinate(0.0, 1000.0);

    // The instance, built like the Solver set-up does.
    std::vector<std::pair<double, double>> coords(static_cast<size_t>(n));
    for (auto& point : coords) point = {coordinate(random), coordinate(random)};
    tamrik::SparseGraph graph;
    graph.ChangeCostDim(1, 9999.0);
    for (int64_t v = 0; v < n; ++v) graph.AddVertex(v);
    for (int64_t u = 0; u < n; ++u) {
        for (int64_t v = 0; v < n; ++v) {
            if (u == v) continue;
            const double dx = coords[u].first - coords[v].first;
            const double dy = coords[u].second - coords[v].second;
            graph.AddArc(u, v, {std::sqrt(dx * dx + dy * dy)});
        }
    }
    std::vector<tamrik::PointRecord> points(static_cast<size_t>(n));
    for (int64_t v = 0; v < n; ++v) {
        points[v].node_id = static_cast<uint64_t>(v);
        points[v].types = {0};
    }
    std::vector<tamrik::AgentRecord> agents(static_cast<size_t>(m));
    for (int64_t k = 0; k < m; ++k) {
        agents[k].agent_id = static_cast<uint64_t>(k);
        agents[k].type_index = 0;
    }
    const std::vector<int64_t> depots(static_cast<size_t>(m), 0);
    tamrik::TimeWindowMap window_map;
    std::uniform_real_distribution<double> opening(0.0, 3000.0);
    for (int64_t v = 1; windows && v < n; ++v) window_map[v] = {opening(random), 1e9};

    // The solution: a random order of the targets cut at m - 1 random places.
    std::vector<int64_t> order;
    for (int64_t v = 1; v < n; ++v) order.push_back(v);
    std::shuffle(order.begin(), order.end(), random);
    std::vector<size_t> cuts;
    for (int64_t k = 0; k + 1 < m; ++k) cuts.push_back(random() % (order.size() + 1));
    cuts.push_back(0);
    cuts.push_back(order.size());
    std::sort(cuts.begin(), cuts.end());
    Result start;
    for (int64_t k = 0; k < m; ++k) {
        std::vector<int64_t> path{0};
        path.insert(path.end(), order.begin() + cuts[k], order.begin() + cuts[k + 1]);
        path.push_back(0);
        double cost = 0.0;
        for (size_t i = 1; i < path.size(); ++i) {
            cost += graph.ArcCostEntry(path[i - 1], path[i], 0).value_or(0.0);
        }
        start.paths[k] = path;
        start.times[k] = cost;
    }

    tamrik::CompositePostOptimizer composite;
    composite.AddMember(std::make_unique<tamrik::DefaultPostOptimizer>());
    composite.AddMember(std::make_unique<tamrik::RouteMergingPostOptimizer>());
    tamrik::DefaultPostOptimizer in_group;
    tamrik::RouteMergingPostOptimizer merging;
    for (tamrik::PostOptimizerPlugin* optimizer :
         {static_cast<tamrik::PostOptimizerPlugin*>(&composite),
          static_cast<tamrik::PostOptimizerPlugin*>(&in_group),
          static_cast<tamrik::PostOptimizerPlugin*>(&merging)}) {
        optimizer->SetReturnToEnd(true);
        optimizer->SetStartNodes(depots);
        optimizer->SetEndNodes(depots);
        optimizer->SetTimeWindows(window_map);
    }

    std::printf("postopt_bench: seed %lu, %lld nodes, %lld agents, single depot%s\n", seed,
                static_cast<long long>(n), static_cast<long long>(m),
                windows ? ", windows" : "");
    std::printf("route lengths:");
    for (int64_t k = 0; k < m; ++k) std::printf(" %zu", start.paths[k].size());
    std::printf("\nbefore: longest %.3f, sum %.3f\n", Longest(start), Sum(start));

    std::vector<double> composite_ms;
    std::vector<double> in_group_ms;
    std::vector<double> merging_ms;
    Result final_result;
    for (int r = 0; r < repeats; ++r) {
        Result result = start;
        composite_ms.push_back(TimeOnce(composite, graph, points, agents, result));
        final_result = result;
        Result first = start;
        in_group_ms.push_back(TimeOnce(in_group, graph, points, agents, first));
        merging_ms.push_back(TimeOnce(merging, graph, points, agents, first));
    }
    std::printf("after:  longest %.3f, sum %.3f\n", Longest(final_result), Sum(final_result));
    std::printf("route lengths:");
    for (int64_t k = 0; k < m; ++k) std::printf(" %zu", final_result.paths[k].size());
    std::printf("\n");

    auto report = [](const char* what, std::vector<double> ms) {
        std::sort(ms.begin(), ms.end());
        std::printf("%-28s min %9.2f ms  median %9.2f ms  max %9.2f ms  (%zu runs)\n", what,
                    ms.front(), ms[ms.size() / 2], ms.back(), ms.size());
    };
    report("composite Optimize", composite_ms);
    report("  DefaultPostOptimizer", in_group_ms);
    report("  RouteMergingPostOptimizer", merging_ms);
    return 0;
}
