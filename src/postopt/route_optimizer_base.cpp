#include "postopt/route_optimizer_base.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tamrik {
namespace {

bool InRange(int64_t index, size_t size) {
    return index >= 0 && static_cast<uint64_t>(index) < size;
}

}  // namespace

void RouteOptimizerBase::SetReturnToEnd(bool value) { return_to_end = value; }

std::vector<uint8_t> RouteOptimizerBase::FlagsOf(const std::unordered_set<int64_t>& set) {
    int64_t largest = -1;
    for (int64_t node : set) largest = std::max(largest, node);
    std::vector<uint8_t> flags(static_cast<size_t>(largest + 1), 0);
    for (int64_t node : set) {
        if (node >= 0) flags[static_cast<size_t>(node)] = 1;
    }
    return flags;
}

void RouteOptimizerBase::SetStartNodes(const std::vector<int64_t>& nodes) {
    if (&nodes != &starts) starts = nodes;
    start_set.clear();
    start_set.insert(starts.begin(), starts.end());
    start_flags = FlagsOf(start_set);
}

void RouteOptimizerBase::SetEndNodes(const std::vector<int64_t>& nodes) {
    if (&nodes != &ends) ends = nodes;
    end_set.clear();
    end_set.insert(ends.begin(), ends.end());
    end_flags = FlagsOf(end_set);
}

bool RouteOptimizerBase::SetTimeWindows(const TimeWindowMap& windows) {
    if (&windows != &time_windows) time_windows = windows;
    use_time_windows = !time_windows.empty();
    window_scale = 0.0;
    for (const auto& [node, window] : time_windows) {
        window_scale = std::max(window_scale, std::fabs(window.first));
    }
    return use_time_windows;
}

void RouteOptimizerBase::BindInstance(const PlannerGraph* graph_in,
                                      const std::vector<PointRecord>& points_in,
                                      const std::vector<AgentRecord>& agents_in) {
    graph = graph_in;
    if (&points_in != &points) points = points_in;
    if (&agents_in != &agents) agents = agents_in;
    type_masks.assign(points.size(), 0);
    for (size_t v = 0; v < points.size(); ++v) {
        for (int64_t type : points[v].types) {
            if (type >= 0 && type < 64) type_masks[v] |= uint64_t{1} << type;
        }
    }
}

bool RouteOptimizerBase::AllowsType(int64_t node, int64_t type) const {
    if (type >= 0 && type < 64) return (type_masks[static_cast<size_t>(node)] >> type) & 1u;
    const std::vector<int64_t>& types = points[static_cast<size_t>(node)].types;
    return std::find(types.begin(), types.end(), type) != types.end();
}

PathEvaluation RouteOptimizerBase::EvaluatePath(const std::vector<int64_t>& path,
                                                int64_t agent) const {
    return Walk<false>(path, agent);
}

double RouteOptimizerBase::RouteCost(const std::vector<int64_t>& path, int64_t agent) const {
    return Walk<true>(path, agent).cost;
}

template <bool kWholePath>
PathEvaluation RouteOptimizerBase::Walk(const std::vector<int64_t>& path, int64_t agent) const {
    PathEvaluation out;
    const size_t n = path.size();
    if (n == 0) return out;
    // Marks the path infeasible; true when the walk is to stop here.
    auto fail = [&out]() {
        out.feasible = false;
        return !kWholePath;
    };

    const bool agent_known = InRange(agent, agents.size());
    const bool start_known = !starts.empty() && InRange(agent, starts.size());
    const bool end_known = !ends.empty() && InRange(agent, ends.size());
    if ((!agent_known || (!starts.empty() && !start_known) || (!ends.empty() && !end_known)) &&
        fail()) {
        return out;
    }
    const LegRules rules = LegRulesOf(agent);
    const bool has_starts = rules.has_starts;
    const bool has_ends = rules.has_ends;
    const int64_t own_start = rules.own_start;
    const int64_t own_end = rules.own_end;
    const int64_t type = rules.type;
    const double limit = agent_known ? agents[static_cast<size_t>(agent)].cost_limit : 0.0;

    // End-point rule.
    const int64_t first = path.front();
    const int64_t last = path.back();
    bool ends_ok;
    if (has_starts) {
        const bool closed_tour = first == last && !return_to_end;
        ends_ok = first == own_start && (has_ends ? (last == own_end || closed_tour) : closed_tour);
    } else {
        ends_ok = has_ends && last == own_end;
    }
    if (!ends_ok && fail()) return out;

    double cost = 0.0;
    for (size_t i = 0; i < n; ++i) {
        const int64_t node = path[i];
        if (!InRange(node, points.size())) {
            if (fail()) return out;
        } else {
            // The own start may come back only as the last node.
            if (has_starts && i > 0 && node == own_start && i != n - 1 && fail()) return out;
            if (!AllowsType(node, type) && fail()) return out;
        }
        // No other agent's start or end node.
        if (has_starts && node != own_start && IsSomeStart(node) && fail()) return out;
        if (has_ends && node != own_end && IsSomeEnd(node) && fail()) return out;

        if (i > 0 && PaidLeg(rules, path[i - 1], node)) {
            cost += ArcCostOrZero(*graph, rules.table, path[i - 1], node, type);
        }
        if (use_time_windows) {
            auto window = time_windows.find(node);
            if (window != time_windows.end()) {
                if (cost > window->second.second && fail()) return out;
                if (cost < window->second.first) cost = window->second.first;  // wait
            }
        }
        if (i > 0 && limit > 0.0 && cost > limit && fail()) return out;
    }
    if (kWholePath || out.feasible) out.cost = cost;
    return out;
}

bool RouteOptimizerBase::TwoOptRoute(std::vector<int64_t>& path, double& cost, int64_t agent) {
    const size_t n = path.size();
    if (n < 4) return false;
    const LegRules rules = LegRulesOf(agent);
    bool changed = false;
    bool restart = true;
    while (restart) {
        restart = false;
        BuildLegSums(path, rules, reversal_sums);
        for (size_t i = 1; i + 3 <= n && !restart; ++i) {
            for (size_t j = i + 1; j + 2 <= n; ++j) {
                // Taken only below cost - kEpsilon, which the bound may already rule out.
                if (ReversalBound(path, rules, reversal_sums, i, j, cost) >= cost - kEpsilon) {
                    continue;
                }
                reversal_buffer.assign(path.begin(), path.end());
                std::reverse(reversal_buffer.begin() + static_cast<std::ptrdiff_t>(i),
                             reversal_buffer.begin() + static_cast<std::ptrdiff_t>(j) + 1);
                const PathEvaluation candidate = EvaluatePath(reversal_buffer, agent);
                if (candidate.feasible && candidate.cost + kEpsilon < cost) {
                    path.swap(reversal_buffer);
                    cost = candidate.cost;
                    changed = true;
                    restart = true;
                    break;
                }
            }
        }
    }
    return changed;
}

}  // namespace tamrik
