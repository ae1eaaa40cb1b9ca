#include "postopt/route_merging_post_optimizer.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <utility>

namespace tamrik {

std::string RouteMergingPostOptimizer::Name() const { return "RouteMergingPostOptimizer"; }

RouteMergingPostOptimizer::InsertionCandidate RouteMergingPostOptimizer::FindBestInsertion(
    int64_t u, int64_t excluded, double cap) {
    InsertionCandidate best;
    const int64_t m = static_cast<int64_t>(route_paths.size());
    if (route_sums.size() != route_paths.size()) {  // called before any Optimize
        route_sums.resize(route_paths.size());
        sums_fresh.assign(route_paths.size(), 0);
    }
    for (int64_t r = 0; r < m; ++r) {
        if (r == excluded || !Rules().CanVisit(r, u)) continue;
        const std::vector<int64_t>& path = route_paths[static_cast<size_t>(r)];
        if (path.size() < 2) continue;
        const LegRules rules = LegRulesOf(r);
        const bool mirrored = mirror.Holds(static_cast<size_t>(r), path);
        LegSums& sums = route_sums[static_cast<size_t>(r)];
        if (!sums_fresh[static_cast<size_t>(r)]) {
            BuildLegSums(path, rules, sums);
            sums_fresh[static_cast<size_t>(r)] = 1;
        }
        // insertion_buffer holds the path with u before position q; moving from q - 1 to q
        // swaps u one place to the right.
        insertion_buffer.assign(path.begin(), path.begin() + 1);
        insertion_buffer.push_back(u);
        insertion_buffer.insert(insertion_buffer.end(), path.begin() + 1, path.end());
        for (size_t q = 1; q + 1 <= path.size(); ++q) {
            if (q > 1) std::swap(insertion_buffer[q - 1], insertion_buffer[q]);
            // Neither within the cap nor within kEpsilon of the best so far: cannot be taken.
            const double limit = std::min(cap, best.cost);
            if (InsertionBound(path, rules, sums, q, u, limit) > limit + kEpsilon) {
                continue;
            }
            if (mirrored && PricedAbove(mirror.InsertionPrice(static_cast<size_t>(r), q, u),
                                        path.size() + 1, sums.magnitude, limit,
                                        limit + kEpsilon)) {
                continue;
            }
            const PathEvaluation candidate = EvaluatePath(insertion_buffer, r);
            if (!candidate.feasible) continue;
            const double c = candidate.cost;
            if (!(c <= cap + kEpsilon)) continue;
            bool take = c < best.cost;
            if (!take && best.found && std::fabs(c - best.cost) < kEpsilon) {
                const double increase = c - route_costs[static_cast<size_t>(r)];
                const double best_increase =
                    best.cost - route_costs[static_cast<size_t>(best.route)];
                take = increase < best_increase;
            }
            if (take) best = {true, r, static_cast<int64_t>(q), c};
        }
    }
    return best;
}

void RouteMergingPostOptimizer::Optimize(const PlannerGraph* graph_in,
                                         const std::vector<PointRecord>& points_in,
                                         const std::vector<AgentRecord>& agents_in,
                                         Result& result) {
    // 1. Reset.
    BindInstance(graph_in, points_in, agents_in);
    const size_t m = Rules().Agents().size();
    route_paths.assign(m, {});
    route_costs.assign(m, 0.0);
    infeasible_in.assign(m, 0);
    dissolved.assign(m, 0);
    route_sums.resize(m);
    sums_fresh.assign(m, 0);

    // 2. Working routes and their costs; an infeasible route counts 0.0.
    for (size_t k = 0; k < m; ++k) {
        route_paths[k] = result.paths[static_cast<int64_t>(k)];
        const PathEvaluation evaluation = EvaluatePath(route_paths[k], static_cast<int64_t>(k));
        if (evaluation.feasible) {
            route_costs[k] = evaluation.cost;
        } else {
            infeasible_in[k] = 1;
        }
    }

    // 3. Nothing to do without a positive longest route.
    double cap = 0.0;
    for (double cost : route_costs) cap = std::max(cap, cost);
    if (m == 0 || cap <= 0.0) return;
    mirror.Load(Rules(), route_paths);

    // 4. Cheapest route first, equal costs by agent index; the costs of step 2 are kept.
    std::vector<size_t> order(m);
    std::iota(order.begin(), order.end(), size_t{0});
    const std::vector<double> initial_costs = route_costs;
    std::stable_sort(order.begin(), order.end(), [&initial_costs](size_t a, size_t b) {
        return initial_costs[a] < initial_costs[b];
    });

    // 5. Dissolution.
    for (size_t k : order) {
        const double c = initial_costs[k];
        if (c <= 0.0 || c >= cap - kEpsilon) continue;
        const std::vector<int64_t>& path = route_paths[k];
        if (path.size() < 3) continue;
        interior.assign(path.begin() + 1, path.end() - 1);
        const int64_t excluded = static_cast<int64_t>(k);
        // Without the triangle inequality the direct leg from start to end can cost more than
        // the route through its nodes, and break the agent's window or cost limit.
        emptied.assign({path.front(), path.back()});
        if (!EvaluatePath(emptied, excluded).feasible) continue;

        // Check pass: every interior node must have somewhere to go.
        bool placeable = true;
        for (int64_t u : interior) {
            if (!FindBestInsertion(u, excluded, cap).found) {
                placeable = false;
                break;
            }
        }
        if (!placeable) continue;

        // Move pass, undone when a node found no place after all and the route left behind
        // breaks its rules (without the triangle inequality, fewer nodes can cost more).
        const std::vector<std::vector<int64_t>> paths_before = route_paths;
        const std::vector<double> costs_before = route_costs;
        const std::vector<char> infeasible_before = infeasible_in;
        for (int64_t u : interior) {
            const InsertionCandidate best = FindBestInsertion(u, excluded, cap);
            if (!best.found) continue;
            const size_t r = static_cast<size_t>(best.route);
            std::vector<int64_t>& receiver = route_paths[r];
            receiver.insert(receiver.begin() + static_cast<std::ptrdiff_t>(best.pos), u);
            sums_fresh[r] = 0;
            const PathEvaluation evaluation = EvaluatePath(receiver, best.route);
            if (evaluation.feasible) {
                route_costs[r] = evaluation.cost;
                infeasible_in[r] = 0;
            }
            std::vector<int64_t>& source = route_paths[k];
            auto first = std::find(source.begin(), source.end(), u);
            if (first != source.end()) source.erase(first);
            sums_fresh[k] = 0;
            mirror.Release(k);
            mirror.Release(r);
            mirror.Take(k, source);
            mirror.Take(r, receiver);
        }
        if (route_paths[k].size() > 2 && !EvaluatePath(route_paths[k], excluded).feasible) {
            route_paths = paths_before;
            route_costs = costs_before;
            infeasible_in = infeasible_before;
            std::fill(sums_fresh.begin(), sums_fresh.end(), 0);
            for (size_t r = 0; r < m; ++r) mirror.Release(r);
            for (size_t r = 0; r < m; ++r) mirror.Take(r, route_paths[r]);
            continue;
        }
        route_costs[k] = 0.0;
        dissolved[k] = 1;
    }

    // 6. Reversal pass on the surviving routes.
    for (size_t k = 0; k < m; ++k) {
        if (route_costs[k] > 0.0) {
            TwoOptRoute(route_paths[k], route_costs[k], static_cast<int64_t>(k));
        }
    }

    mirror.Clear();

    // 7. Write back, each route with its own cost.
    for (size_t k = 0; k < m; ++k) {
        const int64_t key = static_cast<int64_t>(k);
        double cost = route_costs[k];
        if (dissolved[k]) {
            cost = Rules().RouteCost(route_paths[k], key);
        } else if (infeasible_in[k]) {
            auto time = result.times.find(key);
            cost = time != result.times.end() ? time->second : 0.0;
        }
        result.paths[key] = route_paths[k];
        result.times[key] = cost;
    }
}

}  // namespace tamrik
