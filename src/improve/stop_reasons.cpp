#include "improve/stop_reasons.h"

#include <algorithm>
#include <cmath>

#include "route/violation_text.h"

namespace tamrik {

std::string StopReasons::Alone(int64_t vertex) const {
    using Rule = RouteViolation::Rule;
    bool typed = false;
    bool heavy = false;
    bool counted = false;
    for (size_t r = 0; r < rules.Agents().size(); ++r) {
        const std::vector<int64_t> path{rules.StartNodes()[r], vertex, rules.EndNodes()[r]};
        const Rule rule = rules.FirstViolation(path, static_cast<int64_t>(r)).rule;
        if (rule == Rule::kTypeNotAllowed || rule == Rule::kForeignEndpoint) continue;
        typed = true;
        if (rule == Rule::kStopLimit) {
            counted = true;
        } else if (rule == Rule::kNone) {
            // A negative demand (a delivery) needs its pick-up first, so only its size
            // counts here.
            if (!tasks.HasLoads() || tasks.FitsAlone(static_cast<Vertex>(vertex), r)) return "";
            heavy = true;
        }
    }
    if (!typed) return "no agent type may serve it";
    if (heavy) return "its demand exceeds every allowed capacity";
    if (counted) return "every agent that may serve it has a stop limit of 0";
    return "its window cannot be reached within any allowed agent's limit or shift";
}

bool StopReasons::ServedTogether(int64_t a, int64_t b) const {
    for (size_t r = 0; r < rules.Agents().size(); ++r) {
        const int64_t start = rules.StartNodes()[r];
        const int64_t end = rules.EndNodes()[r];
        for (const std::vector<int64_t>& path : {std::vector<int64_t>{start, a, b, end},
                                                 std::vector<int64_t>{start, b, a, end}}) {
            if (!rules.EvaluatePath(path, static_cast<int64_t>(r)).feasible) continue;
            if (!tasks.HasLoads() || tasks.LoadsFit(path.data(), path.size(), r)) return true;
        }
    }
    return false;
}

std::vector<std::string> StopReasons::PerVertex() const {
    const std::vector<PointRecord>& points = rules.Points();
    std::vector<uint8_t> endpoint(points.size(), 0);
    for (const std::vector<int64_t>* ends : {&rules.StartNodes(), &rules.EndNodes()}) {
        for (int64_t v : *ends) endpoint[static_cast<size_t>(v)] = 1;
    }
    std::vector<std::string> reasons(points.size());
    for (size_t v = 0; v < points.size(); ++v) {
        // An optional stop that fits nowhere is only left out.
        if (!endpoint[v] && !tasks.IsOptional(static_cast<Vertex>(v))) {
            reasons[v] = Alone(static_cast<int64_t>(v));
        }
    }
    for (size_t v = 0; v < points.size() && tasks.HasPairs(); ++v) {
        for (Vertex partner : tasks.SameOf(static_cast<Vertex>(v))) {
            const auto w = static_cast<size_t>(partner);
            if (!reasons[v].empty() || !reasons[w].empty() || endpoint[v] || endpoint[w]) continue;
            if (ServedTogether(static_cast<int64_t>(v), partner)) continue;
            reasons[v] = "its \"same\" partner (node " + std::to_string(points[w].node_id) +
                         ") cannot go along";
        }
    }
    return reasons;
}

std::vector<std::string> StopReasons::PinnedBreaks(const WarmStart& warm) const {
    std::vector<std::string> breaks;
    for (size_t r = 0; r < warm.stops.size(); ++r) {
        const std::vector<Vertex>& stops = warm.stops[r];
        const size_t pinned = std::min(warm.pinned[r], stops.size());
        if (pinned == 0) continue;
        std::vector<int64_t> path{rules.StartNodes()[r]};
        path.insert(path.end(), stops.begin(), stops.begin() + static_cast<std::ptrdiff_t>(pinned));
        path.push_back(rules.EndNodes()[r]);
        const auto agent = static_cast<int64_t>(r);
        const RouteViolation why = rules.FirstViolation(path, agent);
        if (why.rule == RouteViolation::Rule::kNone) continue;
        breaks.push_back("the pinned stops of agent " + std::to_string(rules.Agents()[r].agent_id) +
                         " break a rule of its route: " + ViolationText(rules, why, agent));
    }
    return breaks;
}

}  // namespace tamrik
