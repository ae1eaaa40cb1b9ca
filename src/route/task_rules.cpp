#include "route/task_rules.h"

#include <algorithm>

namespace tamrik {

void TaskRules::Reset(size_t vertices, size_t agents, size_t dimensions) {
    vertex_count = vertices;
    dims = std::max<size_t>(dimensions, 1);
    has_loads = has_negative = has_pairs = has_precedence = false;
    demand.assign(vertices * dims, 0.0);
    delivery.clear();
    capacity.assign(agents * dims, std::numeric_limits<double>::infinity());
    optional.clear();
    prize.clear();
    same_of.clear();
    diff_of.clear();
    before_of.clear();
    after_of.clear();
}

void TaskRules::SetOptional(Vertex vertex, double value) {
    if (optional.empty()) {
        optional.assign(vertex_count, 0);
        prize.assign(vertex_count, 0.0);
    }
    optional[static_cast<size_t>(vertex)] = 1;
    prize[static_cast<size_t>(vertex)] = value;
}

void TaskRules::SetLoad(Vertex vertex, size_t dim, double change, double delivered) {
    const size_t at = static_cast<size_t>(vertex) * dims + dim;
    demand[at] = change;
    if (delivered != 0.0) {
        if (delivery.empty()) delivery.assign(demand.size(), 0.0);
        delivery[at] = delivered;
    }
    has_loads = has_loads || change != 0.0 || delivered != 0.0;
    has_negative = has_negative || change < 0.0;
}

void TaskRules::SetCapacity(size_t agent, size_t dim, double value) {
    capacity[agent * dims + dim] =
        value > 0.0 ? value : std::numeric_limits<double>::infinity();
}

void TaskRules::SizePairTables() {
    if (has_pairs) return;
    has_pairs = true;
    for (auto* table : {&same_of, &diff_of, &before_of, &after_of}) table->assign(vertex_count, {});
}

void TaskRules::AddSame(Vertex a, Vertex b) {
    SizePairTables();
    same_of[static_cast<size_t>(a)].push_back(b);
    same_of[static_cast<size_t>(b)].push_back(a);
}

void TaskRules::AddDiff(Vertex a, Vertex b) {
    SizePairTables();
    diff_of[static_cast<size_t>(a)].push_back(b);
    diff_of[static_cast<size_t>(b)].push_back(a);
}

void TaskRules::AddPrecedence(Vertex before, Vertex after) {
    SizePairTables();
    has_precedence = true;
    before_of[static_cast<size_t>(after)].push_back(before);
    after_of[static_cast<size_t>(before)].push_back(after);
}

bool TaskRules::PairsKept(const std::vector<std::vector<int64_t>>& paths) const {
    std::vector<int64_t> holder(vertex_count, -1);
    for (size_t r = 0; r < paths.size(); ++r) {
        const std::vector<Vertex>& path = paths[r];
        for (size_t k = 1; k + 1 < path.size(); ++k) {
            if (path[k] >= 0 && static_cast<size_t>(path[k]) < vertex_count) {
                holder[static_cast<size_t>(path[k])] = static_cast<int64_t>(r);
            }
        }
    }
    // A pair left out whole (allowed when stops may be left out) keeps its rule.
    for (size_t v = 0; v < same_of.size(); ++v) {
        for (Vertex w : same_of[v]) {
            if (holder[v] != holder[static_cast<size_t>(w)]) return false;
        }
        for (Vertex w : diff_of[v]) {
            if (holder[v] >= 0 && holder[v] == holder[static_cast<size_t>(w)]) return false;
        }
    }
    return true;
}

SolutionCheck TaskRules::Check(const RouteRules& rules,
                               const std::vector<std::vector<int64_t>>& paths) const {
    SolutionCheck out;
    out.costs.assign(paths.size(), 0.0);
    std::vector<std::vector<Vertex>> nodes(paths.size());
    for (size_t r = 0; r < paths.size(); ++r) {
        const auto agent = static_cast<int64_t>(r);
        const PathEvaluation evaluation = rules.EvaluatePath(paths[r], agent);
        if (!evaluation.feasible) return out;
        out.costs[r] = evaluation.cost;
        if (!LoadsFit(paths[r].data(), paths[r].size(), r)) return out;
        nodes[r].assign(paths[r].begin(), paths[r].end());
    }
    if (has_pairs && !PairsKept(paths)) return out;
    if (has_precedence) {
        std::vector<std::vector<double>> times(paths.size());
        std::vector<RouteView> views(paths.size());
        std::vector<RouteRules::LegRules> legs(paths.size());
        for (size_t r = 0; r < paths.size(); ++r) {
            times[r].assign(nodes[r].size(), 0.0);
            legs[r] = rules.LegRulesOf(static_cast<int64_t>(r));
            views[r] = RouteView{nodes[r].data(), nodes[r].size(), times[r].data()};
        }
        Scratch scratch;
        const auto leg = [&](size_t r, Vertex from, Vertex to) {
            const double time = rules.LegCost(legs[r], from, to);
            return std::pair{time, rules.LegTravel(legs[r], from, to, time)};
        };
        if (!TimeJointly(rules, views, leg, scratch)) return out;
        for (size_t r = 0; r < paths.size(); ++r) out.costs[r] = views[r].cost;
    }
    out.feasible = true;
    return out;
}

}  // namespace tamrik
