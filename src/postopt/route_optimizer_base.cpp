#include "postopt/route_optimizer_base.h"

#include <algorithm>

namespace tamrik {

void RouteOptimizerBase::BindInstance(const PlannerGraph* graph,
                                      const std::vector<PointRecord>& points,
                                      const std::vector<AgentRecord>& agents) {
    if (shared_rules == nullptr) own_rules.BindInstance(graph, points, agents);
}

bool RouteOptimizerBase::TwoOptRoute(std::vector<int64_t>& path, double& cost, int64_t agent) {
    const size_t n = path.size();
    if (n < 4) return false;
    const LegRules rules = LegRulesOf(agent);
    const auto route = static_cast<size_t>(agent);
    bool mirrored = mirror.Holds(route, path);
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
                if (mirrored && PricedAbove(mirror.ReversalPrice(route, i, j), n,
                                            reversal_sums.magnitude, cost, cost - kEpsilon)) {
                    continue;
                }
                reversal_buffer.assign(path.begin(), path.end());
                std::reverse(reversal_buffer.begin() + static_cast<std::ptrdiff_t>(i),
                             reversal_buffer.begin() + static_cast<std::ptrdiff_t>(j) + 1);
                const PathEvaluation candidate = EvaluatePath(reversal_buffer, agent);
                if (candidate.feasible && candidate.cost + kEpsilon < cost) {
                    path.swap(reversal_buffer);
                    cost = candidate.cost;
                    if (mirrored) {
                        mirror.Release(route);
                        mirror.Take(route, path);
                        mirrored = mirror.Holds(route, path);
                    }
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
