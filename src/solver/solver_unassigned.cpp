// Why a failed solve left stops out: what no agent may do with a stop even on a route of its
// own, and the stop for which the construction found no room.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "records/violation_text.h"
#include "solver/solver.h"

namespace tamrik {

std::string Solver::AloneReason(const RouteRules& rules, int64_t vertex) const {
    using Rule = RouteViolation::Rule;
    bool typed = false;
    bool heavy = false;
    bool counted = false;
    for (size_t r = 0; r < agents.size(); ++r) {
        const std::vector<int64_t> path{starts[r], vertex, goals[r]};
        const Rule rule = rules.FirstViolation(path, static_cast<int64_t>(r)).rule;
        if (rule == Rule::kTypeNotAllowed || rule == Rule::kForeignEndpoint) continue;
        typed = true;
        if (rule == Rule::kStopLimit) {
            counted = true;
        } else if (rule == Rule::kNone) {
            // A negative demand (a delivery) needs its pick-up first, so only its size
            // counts here.
            if (!tasks.HasLoads() || std::fabs(tasks.Demand(static_cast<int32_t>(vertex))) <=
                                         tasks.Capacity(r) + TaskRules::kLoadTolerance) {
                return "";
            }
            heavy = true;
        }
    }
    if (!typed) return "no agent type may serve it";
    if (heavy) return "its demand exceeds every allowed capacity";
    if (counted) return "every agent that may serve it has a stop limit of 0";
    return "its window cannot be reached within any allowed agent's limit or shift";
}

bool Solver::ServesTogether(const RouteRules& rules, int64_t a, int64_t b) const {
    for (size_t r = 0; r < agents.size(); ++r) {
        for (const std::vector<int64_t>& path : {std::vector<int64_t>{starts[r], a, b, goals[r]},
                                                 std::vector<int64_t>{starts[r], b, a, goals[r]}}) {
            if (!rules.EvaluatePath(path, static_cast<int64_t>(r)).feasible) continue;
            if (!tasks.HasLoads() || tasks.LoadsFit(path.data(), path.size(), r)) return true;
        }
    }
    return false;
}

std::vector<std::string> Solver::StaticReasons(const RouteRules& rules) const {
    std::vector<uint8_t> endpoint(points.size(), 0);
    for (const std::vector<int64_t>* ends : {&starts, &goals}) {
        for (int64_t v : *ends) endpoint[static_cast<size_t>(v)] = 1;
    }
    std::vector<std::string> reasons(points.size());
    for (size_t v = 0; v < points.size(); ++v) {
        // An optional stop that fits nowhere is only left out.
        if (!endpoint[v] && !tasks.IsOptional(static_cast<int32_t>(v))) {
            reasons[v] = AloneReason(rules, static_cast<int64_t>(v));
        }
    }
    for (size_t v = 0; v < points.size() && tasks.HasPairs(); ++v) {
        for (int32_t partner : tasks.SameOf(static_cast<int32_t>(v))) {
            const auto w = static_cast<size_t>(partner);
            if (!reasons[v].empty() || !reasons[w].empty() || endpoint[v] || endpoint[w]) continue;
            if (ServesTogether(rules, static_cast<int64_t>(v), partner)) continue;
            reasons[v] = "its \"same\" partner (node " + std::to_string(points[w].node_id) +
                         ") cannot go along";
        }
    }
    return reasons;
}

std::vector<UnassignedStop> Solver::StaticUnassigned() const {
    const std::vector<std::string> reasons = StaticReasons(MakeRouteRules());
    std::vector<UnassignedStop> stops;
    for (size_t v = 0; v < points.size(); ++v) {
        if (!reasons[v].empty()) stops.push_back(UnassignedStop{points[v].node_id, reasons[v]});
    }
    return stops;
}

std::vector<std::string> Solver::PinnedBreaks() const {
    std::vector<std::string> breaks;
    if (!warm_started) return breaks;
    const RouteRules rules = MakeRouteRules();
    for (size_t r = 0; r < warm_start.stops.size(); ++r) {
        const std::vector<int32_t>& stops = warm_start.stops[r];
        const size_t pinned = std::min(warm_start.pinned[r], stops.size());
        if (pinned == 0) continue;
        std::vector<int64_t> path{rules.StartNodes()[r]};
        path.insert(path.end(), stops.begin(), stops.begin() + static_cast<std::ptrdiff_t>(pinned));
        path.push_back(rules.EndNodes()[r]);
        const auto agent = static_cast<int64_t>(r);
        const RouteViolation why = rules.FirstViolation(path, agent);
        if (why.rule == RouteViolation::Rule::kNone) continue;
        breaks.push_back("the pinned stops of agent " + std::to_string(agents[r].agent_id) +
                         " break a rule of its route: " + ViolationText(rules, why, agent));
    }
    return breaks;
}

void Solver::ExplainFailure() {
    result.unassigned.clear();
    std::vector<std::string> reasons = StaticReasons(MakeRouteRules());
    // Stops that no agent may serve on any route: whatever ended the search, no plan exists.
    if (std::any_of(reasons.begin(), reasons.end(), [](const std::string& r) { return !r.empty(); })) {
        result.stop_reason = StopReason::kInfeasible;
    }
    if (construction_stuck >= 0 && reasons[static_cast<size_t>(construction_stuck)].empty()) {
        reasons[static_cast<size_t>(construction_stuck)] = construction_stuck_reason;
    }
    for (size_t v = 0; v < points.size(); ++v) {
        if (!reasons[v].empty()) result.unassigned.push_back(UnassignedStop{points[v].node_id, reasons[v]});
    }
}

}  // namespace tamrik
