#include "route/violation_text.h"

#include "model/problem_checks.h"

namespace tamrik {

std::string ViolationText(const RouteRules& rules, const RouteViolation& why, int64_t agent) {
    using Rule = RouteViolation::Rule;
    const auto& points = rules.Points();
    const std::string node =
        why.node >= 0 && static_cast<size_t>(why.node) < points.size()
            ? "node " + std::to_string(points[static_cast<size_t>(why.node)].node_id)
            : "a node";
    switch (why.rule) {
        case Rule::kTypeNotAllowed:
            return node + " refuses its type";
        case Rule::kForeignEndpoint:
            return node + " is another agent's start or end";
        case Rule::kOwnStartRevisited:
            return "it comes back to its start at " + node + " before the end";
        case Rule::kWindowClosed:
            return "the window of " + node + " closes at " + NumberText(rules.WindowClose(why.node)) +
                   ", before its arrival at " + NumberText(why.cost);
        case Rule::kShiftOver:
            return "its shift is over before it reaches " + node;
        case Rule::kCostLimit:
            return "the way costs " + NumberText(why.cost) + " by " + node +
                   ", above its cost limit of " + NumberText(rules.CostLimit(agent));
        case Rule::kStopLimit:
            return "it serves more stops than its limit by " + node;
        case Rule::kDistanceLimit:
            return "it has gone " + NumberText(why.cost) + " by " + node +
                   ", above its max_distance of " + NumberText(rules.MaxDistance(agent));
        case Rule::kDurationLimit:
            return "it has been out " + NumberText(why.cost) + " by " + node +
                   ", above its max_duration of " + NumberText(rules.MaxDuration(agent));
        case Rule::kNone:
            return "nothing";
        default:
            return "its start or end is not a node of the instance";
    }
}

}  // namespace tamrik
