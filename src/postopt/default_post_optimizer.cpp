#include "postopt/default_post_optimizer.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "base/log_sink.h"
#include "route/time_stretch.h"

namespace tamrik {

std::string DefaultPostOptimizer::Name() const { return "DefaultPostOptimizer"; }

PathEvaluation DefaultPostOptimizer::PathCost(const std::vector<int64_t>& path,
                                              int64_t agent) const {
    PathEvaluation evaluation = EvaluatePath(path, agent);
    if (!evaluation.feasible) {
        LogLine(LogStream::kError,
                LineOf("[post-opt] invalid path for agent ", agent, ", skip optimize"));
        evaluation.cost = 0.0;
    }
    return evaluation;
}

void DefaultPostOptimizer::UpdateGroupExtremes(int64_t type) {
    auto found = groups.find(type);
    if (found == groups.end()) return;
    GroupRecord& group = found->second;
    double best_max = -1.0;
    double best_min = std::numeric_limits<double>::max();
    for (int64_t member : group.members) {
        const double cost = routes[static_cast<size_t>(member)].cost;
        if (cost > best_max) {
            best_max = cost;
            group.longest = member;
        }
        if (cost < best_min) {
            best_min = cost;
            group.shortest = member;
        }
    }
}

void DefaultPostOptimizer::BuildSource(const std::vector<int64_t>& path, size_t p) {
    source_buffer.assign(path.begin(), path.end());
    source_buffer.erase(source_buffer.begin() + static_cast<std::ptrdiff_t>(p));
}

void DefaultPostOptimizer::BuildTarget(const std::vector<int64_t>& path, int64_t node, size_t q) {
    target_buffer.assign(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(q));
    target_buffer.push_back(node);
    target_buffer.insert(target_buffer.end(), path.begin() + static_cast<std::ptrdiff_t>(q),
                         path.end());
}

DefaultPostOptimizer::RelocationMove DefaultPostOptimizer::FindBestRelocation(int64_t from_type,
                                                                              int64_t to_type) {
    RelocationMove best_move;
    auto from_group = groups.find(from_type);
    auto to_group = groups.find(to_type);
    if (from_group == groups.end() || to_group == groups.end()) return best_move;
    const int64_t f = from_group->second.longest;
    const int64_t t = to_group->second.shortest;
    if (f == t) return best_move;
    const RouteRecord& from = routes[static_cast<size_t>(f)];
    const RouteRecord& to = routes[static_cast<size_t>(t)];
    const std::vector<int64_t>& path_f = from.path;
    const std::vector<int64_t>& path_t = to.path;
    if (path_f.size() < 3 || path_t.size() < 2) return best_move;

    double best = 0.0;
    const LegRules to_rules = LegRulesOf(t);
    BuildLegSums(path_t, to_rules, target_sums);
    const bool mirrored = mirror.Holds(static_cast<size_t>(t), path_t);
    // source_buffer holds path_f without position p; moving from p - 1 to p puts path_f[p - 1]
    // back at position p - 1. target_buffer holds path_t with the node before position q;
    // moving from q - 1 to q swaps the node one place to the right.
    BuildSource(path_f, 1);
    for (size_t p = 1; p + 2 <= path_f.size(); ++p) {
        if (p > 1) source_buffer[p - 1] = path_f[p - 1];
        const int64_t node = path_f[p];
        if (from_type != to_type &&
            (node < 0 || static_cast<uint64_t>(node) >= Rules().Points().size() ||
             !Rules().AllowsType(node, to_type))) {
            continue;
        }
        // The source candidate does not depend on q: evaluated once per p.
        const PathEvaluation source = EvaluatePath(source_buffer, f);
        if (!source.feasible) continue;
        // The gain is at most from.cost - source.cost (rounding is monotone).
        if (!(from.cost - source.cost > best)) continue;
        BuildTarget(path_t, node, 1);
        for (size_t q = 1; q + 1 <= path_t.size(); ++q) {
            if (q > 1) std::swap(target_buffer[q - 1], target_buffer[q]);
            // A target costing from.cost - best or more gains no more than best.
            const double room = from.cost - best;
            const double reference = std::fabs(from.cost) + std::fabs(best);
            if (InsertionBound(path_t, to_rules, target_sums, q, node, reference) >
                room + kEpsilon) {
                continue;
            }
            if (mirrored &&
                PricedAbove(mirror.InsertionPrice(static_cast<size_t>(t), q, node),
                            path_t.size() + 1, target_sums.magnitude, reference,
                            room + kEpsilon)) {
                continue;
            }
            const PathEvaluation target = EvaluatePath(target_buffer, t);
            if (!target.feasible) continue;
            const double gain = from.cost - std::max(source.cost, target.cost);
            if (gain > best) {
                best = gain;
                best_move = {static_cast<int64_t>(p), static_cast<int64_t>(q), from_type, to_type,
                             gain};
            }
        }
    }
    return best_move;
}

bool DefaultPostOptimizer::ApplyRelocation(RouteRecord& route_from, RouteRecord& route_to,
                                           const RelocationMove& move) {
    if (&route_from == &route_to) return false;
    std::vector<int64_t>& path_f = route_from.path;
    std::vector<int64_t>& path_t = route_to.path;
    if (path_f.size() < 2 || path_t.size() < 2) return false;
    const int64_t len_f = static_cast<int64_t>(path_f.size());
    const int64_t len_t = static_cast<int64_t>(path_t.size());
    if (move.from_pos < 1 || move.from_pos > len_f - 2 || move.to_pos < 1 ||
        move.to_pos > len_t - 1) {
        LogLine(LogStream::kError, "Invalid indices.");
        return false;
    }
    const int64_t node = path_f[static_cast<size_t>(move.from_pos)];
    BuildSource(path_f, static_cast<size_t>(move.from_pos));
    BuildTarget(path_t, node, static_cast<size_t>(move.to_pos));
    const PathEvaluation source = EvaluatePath(source_buffer, route_from.agent);
    if (!source.feasible) return false;
    const PathEvaluation target = EvaluatePath(target_buffer, route_to.agent);
    if (!target.feasible) return false;
    path_f.swap(source_buffer);
    path_t.swap(target_buffer);
    const auto f = static_cast<size_t>(route_from.agent);
    const auto t = static_cast<size_t>(route_to.agent);
    mirror.Release(f);
    mirror.Release(t);
    mirror.Take(f, path_f);
    mirror.Take(t, path_t);
    route_from.cost = source.cost;
    route_to.cost = target.cost;
    route_from.feasible = true;
    route_to.feasible = true;
    return true;
}

void DefaultPostOptimizer::Optimize(const PlannerGraph* graph_in,
                                    const std::vector<PointRecord>& points_in,
                                    const std::vector<AgentRecord>& agents_in, Result& result) {
    // 1. Reset.
    groups.clear();
    group_order.clear();
    BindInstance(graph_in, points_in, agents_in);
    const std::vector<AgentRecord>& agents = Rules().Agents();
    const int64_t m = static_cast<int64_t>(agents.size());
    routes.resize(static_cast<size_t>(m));

    // 2. Grouping by agent type. The incoming costs are kept for routes judged infeasible.
    std::vector<double> incoming(static_cast<size_t>(m), 0.0);
    for (int64_t k = 0; k < m; ++k) {
        auto time = result.times.find(k);
        if (time != result.times.end()) incoming[static_cast<size_t>(k)] = time->second;
        const std::vector<int64_t>& path = result.paths[k];
        const PathEvaluation evaluation = PathCost(path, k);
        const int64_t type = agents[static_cast<size_t>(k)].type_index;
        auto [entry, inserted] = groups.try_emplace(type);
        GroupRecord& group = entry->second;
        if (inserted) {
            group = GroupRecord{1, type, k, k, {k}};
            group_order.push_back(type);
        } else {
            group.members.push_back(k);
            if (evaluation.cost > routes[static_cast<size_t>(group.longest)].cost) {
                group.longest = k;
            } else if (evaluation.cost < routes[static_cast<size_t>(group.shortest)].cost) {
                group.shortest = k;
            }
            group.size += 1;
        }
        RouteRecord& route = routes[static_cast<size_t>(k)];
        route.agent = k;
        route.cost = evaluation.cost;
        route.path.assign(path.begin(), path.end());
        route.feasible = evaluation.feasible;
    }

    mirror.Load(Rules(), {});
    for (int64_t k = 0; k < m; ++k) {
        mirror.Take(static_cast<size_t>(k), routes[static_cast<size_t>(k)].path);
    }

    // 3. In-group phase: reversal on every route, then at most one relocation per group.
    for (int64_t type : group_order) {
        GroupRecord& group = groups[type];
        for (int64_t a : group.members) {
            RouteRecord& route = routes[static_cast<size_t>(a)];
            const PathEvaluation evaluation = PathCost(route.path, a);
            if (std::isfinite(evaluation.cost)) {
                route.cost = evaluation.cost;
                if (TwoOptRoute(route.path, route.cost, a)) route.feasible = true;
            }
            const double limit = agents[static_cast<size_t>(a)].cost_limit;
            if (!std::isfinite(route.cost) || ExceedsLimit(route.cost, limit)) {
                LogLine(LogStream::kError,
                        LineOf("[post-opt] path invalid or over capacity, skip agent ", a));
            }
        }
        UpdateGroupExtremes(type);
        const RelocationMove move = FindBestRelocation(type, type);
        if (move.gain > 0.0) {
            ApplyRelocation(routes[static_cast<size_t>(group.longest)],
                            routes[static_cast<size_t>(group.shortest)], move);
            UpdateGroupExtremes(type);
        }
    }

    // 4. Cross-group phase: from the group with the longest route to the group whose longest
    // route is the shortest, until no move gains.
    while (!group_order.empty()) {
        int64_t a_type = 0;
        int64_t b_type = 0;
        bool a_found = false;
        bool b_found = false;
        double best_max = -1.0;
        double best_min = std::numeric_limits<double>::max();
        for (int64_t type : group_order) {
            const double cost = routes[static_cast<size_t>(groups[type].longest)].cost;
            if (cost > best_max) {
                best_max = cost;
                a_type = type;
                a_found = true;
            }
            if (cost < best_min) {
                best_min = cost;
                b_type = type;
                b_found = true;
            }
        }
        if (!a_found || !b_found || a_type == b_type) break;
        const RelocationMove move = FindBestRelocation(a_type, b_type);
        if (!(move.gain > 0.0)) break;
        if (!ApplyRelocation(routes[static_cast<size_t>(groups[a_type].longest)],
                             routes[static_cast<size_t>(groups[b_type].shortest)], move)) {
            break;  // cannot happen: the move was just evaluated on the same routes
        }
        UpdateGroupExtremes(a_type);
        UpdateGroupExtremes(b_type);
    }

    mirror.Clear();

    // 5. Write back; a route still judged infeasible keeps its incoming cost.
    for (int64_t k = 0; k < m; ++k) {
        const RouteRecord& route = routes[static_cast<size_t>(k)];
        result.paths[k] = route.path;
        result.times[k] = route.feasible ? route.cost : incoming[static_cast<size_t>(k)];
    }
}

}  // namespace tamrik
