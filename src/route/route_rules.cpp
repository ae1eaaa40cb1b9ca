#include "route/route_rules.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tamrik {
namespace {

// Matches no vertex: vertex indices are never negative.
constexpr int64_t kNoVertex = std::numeric_limits<int64_t>::min();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

bool InRange(int64_t index, size_t size) {
    return index >= 0 && static_cast<uint64_t>(index) < size;
}

}  // namespace

void RouteRules::SetReturnToEnd(bool value) { return_to_end = value; }

std::vector<uint8_t> RouteRules::FlagsOf(const std::unordered_set<Vertex>& set) {
    int64_t largest = -1;
    for (Vertex node : set) largest = std::max(largest, node);
    std::vector<uint8_t> flags(static_cast<size_t>(largest + 1), 0);
    for (Vertex node : set) {
        if (node >= 0) flags[static_cast<size_t>(node)] = 1;
    }
    return flags;
}

void RouteRules::SetStartNodes(const std::vector<Vertex>& nodes) {
    if (&nodes != &starts) starts = nodes;
    start_set.clear();
    start_set.insert(starts.begin(), starts.end());
    start_flags = FlagsOf(start_set);
}

void RouteRules::SetEndNodes(const std::vector<Vertex>& nodes) {
    if (&nodes != &ends) ends = nodes;
    end_set.clear();
    end_set.insert(ends.begin(), ends.end());
    end_flags = FlagsOf(end_set);
}

bool RouteRules::SetTimeWindows(const TimeWindowMap& windows) {
    if (&windows != &time_windows) time_windows = windows;
    use_time_windows = !time_windows.empty();
    window_scale = 0.0;
    for (const auto& [node, window] : time_windows) {
        window_scale = std::max(window_scale, std::fabs(window.first));
    }
    RebuildWindowTable();
    return use_time_windows;
}

void RouteRules::RebuildWindowTable() {
    window_open.assign(points.size(), -kInfinity);
    window_close.assign(points.size(), kInfinity);
    for (const auto& [node, window] : time_windows) {
        if (!InRange(node, points.size())) continue;
        window_open[static_cast<size_t>(node)] = window.first;
        window_close[static_cast<size_t>(node)] = window.second;
    }
    several_of.clear();
    several_lists.clear();
    for (const auto& [node, list] : several_windows) {
        if (!InRange(node, points.size()) || list.empty()) continue;
        several_of.resize(points.size(), -1);
        several_of[static_cast<size_t>(node)] = static_cast<int32_t>(several_lists.size());
        several_lists.push_back(list);
    }
}

void RouteRules::SetSeveralWindows(
    const std::unordered_map<Vertex, std::vector<TimeWindow>>& windows) {
    several_windows = windows;
    RebuildWindowTable();
}

bool RouteRules::ArriveInOneOf(uint64_t vertex, double& cost) const {
    for (const TimeWindow& window : several_lists[static_cast<size_t>(several_of[vertex])]) {
        if (PassWindow(window.first, window.second, cost)) return true;
    }
    return false;
}

bool RouteRules::ArriveOutsideTable(Vertex node, double& cost) const {
    auto window = time_windows.find(node);
    if (window == time_windows.end()) return true;
    return PassWindow(window->second.first, window->second.second, cost);
}

TimeStretch RouteRules::ServedAt(Vertex node, double start, double release, bool target,
                                 bool pinned) const {
    double open = WindowOpen(node);
    double close = WindowClose(node);
    if (InRange(node, several_of.size()) && several_of[static_cast<size_t>(node)] >= 0) {
        for (const TimeWindow& window :
             several_lists[static_cast<size_t>(several_of[static_cast<size_t>(node)])]) {
            if (start > window.second) continue;
            open = window.first;
            close = window.second;
            break;
        }
    }
    return TimeStretch::At(std::max(open, release), pinned ? std::min(close, start) : close,
                           target);
}

void RouteRules::BindCosts(const CostModel* costs_in) { costs = costs_in; }

void RouteRules::BindInstance(const PlannerGraph* graph_in,
                              const std::vector<PointRecord>& points_in,
                              const std::vector<AgentRecord>& agents_in) {
    graph = graph_in;
    const bool same_size = points_in.size() == points.size();
    if (&points_in != &points) points = points_in;
    if (&agents_in != &agents) agents = agents_in;
    type_masks.assign(points.size(), 0);
    for (size_t v = 0; v < points.size(); ++v) {
        for (int64_t type : points[v].types) {
            if (type >= 0 && type < 64) type_masks[v] |= uint64_t{1} << type;
        }
    }
    if (!same_size || window_open.size() != points.size()) RebuildWindowTable();
}

bool RouteRules::AllowsType(Vertex node, int64_t type) const {
    if (type >= 0 && type < 64) return (type_masks[static_cast<size_t>(node)] >> type) & 1u;
    const std::vector<int64_t>& types = points[static_cast<size_t>(node)].types;
    return std::find(types.begin(), types.end(), type) != types.end();
}

bool RouteRules::CanVisit(int64_t a, Vertex node) const {
    if (!InRange(a, agents.size()) || !InRange(node, points.size())) return false;
    const auto index = static_cast<size_t>(a);
    if (!AllowsType(node, agents[index].type_index)) return false;
    const bool own = (index < starts.size() && node == starts[index]) ||
                     (index < ends.size() && node == ends[index]);
    if (own) return true;
    return !(!starts.empty() && IsSomeStart(node)) && !(!ends.empty() && IsSomeEnd(node));
}

double RouteRules::WindowClose(Vertex node) const {
    if (!use_time_windows) return kInfinity;
    if (InRange(node, window_close.size())) return window_close[static_cast<size_t>(node)];
    auto window = time_windows.find(node);
    return window == time_windows.end() ? kInfinity : window->second.second;
}

double RouteRules::WindowOpen(Vertex node) const {
    if (!use_time_windows) return -kInfinity;
    if (InRange(node, window_open.size())) return window_open[static_cast<size_t>(node)];
    auto window = time_windows.find(node);
    return window == time_windows.end() ? -kInfinity : window->second.first;
}

void RouteRules::SetAgentDays(const std::vector<AgentDay>& new_days) {
    const bool any = std::any_of(new_days.begin(), new_days.end(),
                                 [](const AgentDay& day) { return day.Binds(); });
    days = any ? new_days : std::vector<AgentDay>{};
}

RouteViolation::Rule RouteRules::Depart(int64_t agent, Vertex start, RouteClock& clock,
                                        bool pinned) const {
    using Rule = RouteViolation::Rule;
    const AgentDay* day = DayOf(agent);
    const bool shift = day != nullptr && day->has_shift;
    clock = RouteClock{};
    clock.pinned = pinned;
    if (shift) clock.time = day->shift_start;
    Rule broken = Arrive(start, clock.time) ? Rule::kNone : Rule::kWindowClosed;
    // Without a shift the agent departs at 0 and a wait at its start counts; with one it
    // may leave any time from here on.
    if (shift) LeaveLater(clock, TimeStretch::At(clock.time, kInfinity, false));
    if (shift && clock.time > day->shift_end && broken == Rule::kNone) broken = Rule::kShiftOver;
    return broken;
}

RouteRules::LegRules RouteRules::LegRulesOf(int64_t agent) const {
    LegRules rules;
    rules.own.has_start = !starts.empty();
    rules.own.has_end = !ends.empty();
    const bool known = agent >= 0;
    const auto index = static_cast<size_t>(agent);
    rules.own.start = known && index < starts.size() ? starts[index] : kNoVertex;
    rules.own.end = known && index < ends.size() ? ends[index] : kNoVertex;
    rules.type = known && index < agents.size() ? agents[index].type_index : -1;
    if (graph != nullptr) rules.table = graph->CostTable();
    return rules;
}

PathEvaluation RouteRules::EvaluatePath(const std::vector<Vertex>& path, int64_t agent) const {
    return Walk<false>(path, agent, nullptr);
}

RouteViolation RouteRules::FirstViolation(const std::vector<Vertex>& path,
                                          int64_t agent) const {
    RouteViolation why;
    Walk<false>(path, agent, &why);
    return why;
}

RouteSchedule RouteRules::ScheduleOf(const std::vector<Vertex>& path, int64_t agent) const {
    RouteSchedule schedule;
    if (path.empty()) return schedule;
    const LegRules rules = LegRulesOf(agent);
    RouteClock clock;
    // The departure is known once the whole route is: walk it twice, the second time
    // leaving then.
    for (int pass = 0; pass < 2; ++pass) {
        const double departure = clock.departure;
        Depart(agent, path.front(), clock);
        if (pass == 1) clock.time = std::max(clock.time, departure);
        schedule.stops.clear();
        for (size_t i = 1; i < path.size(); ++i) {
            const double arrival = clock.time + LegCost(rules, path[i - 1], path[i]);
            const bool target = i + 1 < path.size();
            Step(agent, rules, clock, path[i - 1], path[i], target);
            if (target) schedule.stops.push_back(StopTime{arrival, clock.time});
        }
    }
    schedule.start_time = clock.departure;
    schedule.end_time = clock.time;
    schedule.travel = clock.travel;
    return schedule;
}

double RouteRules::AmountOf(RouteViolation::Rule rule, int64_t agent,
                            const RouteClock& clock) const {
    if (rule == RouteViolation::Rule::kDistanceLimit) return clock.travel;
    if (rule == RouteViolation::Rule::kDurationLimit) return clock.time - clock.departure;
    return CostOf(agent, clock);
}

double RouteRules::RouteCost(const std::vector<Vertex>& path, int64_t agent) const {
    return Walk<true>(path, agent, nullptr).cost;
}

bool RouteRules::KeepsFixedRules(const std::vector<Vertex>& path, int64_t agent) const {
    return Walk<false, true>(path, agent, nullptr).feasible;
}

void RouteRules::DepartSoft(int64_t agent, Vertex start, RouteClock& clock) const {
    const AgentDay* day = DayOf(agent);
    const bool shift = day != nullptr && day->has_shift;
    clock = RouteClock{};
    if (shift) clock.time = day->shift_start;
    WarpInto(start, clock);
    if (shift) LeaveLater(clock, TimeStretch::At(clock.time, kInfinity, false));
}

template <bool kWholePath, bool kFixedOnly>
PathEvaluation RouteRules::Walk(const std::vector<Vertex>& path, int64_t agent,
                                RouteViolation* why) const {
    using Rule = RouteViolation::Rule;
    PathEvaluation out;
    const size_t n = path.size();
    if (n == 0) return out;
    RouteClock clock;
    // Marks the path infeasible; true when the walk is to stop here.
    auto fail = [this, &out, &clock, why, agent](Rule rule, Vertex node) {
        if (why != nullptr && out.feasible) {
            *why = RouteViolation{rule, node, AmountOf(rule, agent, clock)};
        }
        out.feasible = false;
        return !kWholePath;
    };

    const bool agent_known = InRange(agent, agents.size());
    const bool start_known = !starts.empty() && InRange(agent, starts.size());
    const bool end_known = !ends.empty() && InRange(agent, ends.size());
    if ((!agent_known || (!starts.empty() && !start_known) || (!ends.empty() && !end_known)) &&
        fail(Rule::kUnknown, -1)) {
        return out;
    }
    const LegRules rules = LegRulesOf(agent);
    const bool has_starts = rules.own.has_start;
    const bool has_ends = rules.own.has_end;
    const int64_t own_start = rules.own.start;
    const int64_t own_end = rules.own.end;
    const int64_t type = rules.type;

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
    if (!ends_ok && fail(Rule::kEndpoints, first == own_start ? last : first)) return out;

    for (size_t i = 0; i < n; ++i) {
        const Vertex node = path[i];
        if (!InRange(node, points.size())) {
            if (fail(Rule::kUnknown, node)) return out;
        } else {
            // The own start may come back only as the last node.
            if (has_starts && i > 0 && node == own_start && i != n - 1 &&
                fail(Rule::kOwnStartRevisited, node)) {
                return out;
            }
            if (!AllowsType(node, type) && fail(Rule::kTypeNotAllowed, node)) return out;
        }
        // No other agent's start or end node. The own start and end are the agent's own even
        // where they are another agent's start or end too.
        const bool own = node == own_start || node == own_end;
        if (!own && ((has_starts && IsSomeStart(node)) || (has_ends && IsSomeEnd(node))) &&
            fail(Rule::kForeignEndpoint, node)) {
            return out;
        }

        const Rule broken =
            i == 0 ? Depart(agent, node, clock)
                   : Step(agent, rules, clock, path[i - 1], node, i + 1 < n);
        if (!kFixedOnly && broken != Rule::kNone && fail(broken, node)) return out;
    }
    if (kWholePath || out.feasible) out.cost = CostOf(agent, clock);
    return out;
}

}  // namespace tamrik
