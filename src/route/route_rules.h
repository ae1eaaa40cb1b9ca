#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/vertex.h"
#include "graph/planner_graph.h"
#include "model/cost_model.h"
#include "model/result.h"
#include "route/own_ends.h"
#include "route/route_clock.h"
#include "records/search_records.h"
#include "route/time_stretch.h"

namespace tamrik {

// The answer of the route feasibility test: whether the path is a valid route for the agent
// and, when it is, its cost (which is also the agent's time at the last node).
struct PathEvaluation {
    bool feasible = true;
    double cost = 0.0;
};

// The first rule a path breaks, and where: for messages, never on a hot path.
struct RouteViolation {
    enum class Rule : uint8_t {
        kNone,
        kEndpoints,         // it does not start at the own start or end at the own end
        kUnknown,           // an agent or vertex the rules do not know
        kOwnStartRevisited, // the own start again before the last node
        kTypeNotAllowed,    // a node that refuses the agent's type
        kForeignEndpoint,   // another agent's start or end node
        kWindowClosed,      // a node reached after its window closed
        kCostLimit,         // the cost passes the agent's limit
        kShiftOver,         // a node reached after the agent's shift ended
        kStopLimit,         // more targets than the agent may serve
        kDistanceLimit,     // the travel passes the agent's max_distance
        kDurationLimit,     // the time from departure passes the agent's max_duration
    };
    Rule rule = Rule::kNone;
    Vertex node = -1;
    // The agent's cost (its time) at the node when the rule broke; its travel, or its time
    // from departure, for the distance and duration limits.
    double cost = 0.0;
};

// The rules every route must follow, in one place for the post-optimizers and the
// improvement stage: each agent's own start and end, no foreign start or end node, allowed
// agent types, free return legs when return_to_end is false, time windows with waiting (the
// waiting counts as cost) and the agent's cost limit.
class RouteRules {
public:
    // What decides, for one agent, whether a leg of its path is paid and at what cost.
    struct LegRules {
        // has_start and has_end: whether the instance gives starts, and ends, at all.
        OwnEnds own;
        int64_t type = -1;
        ArcCostTable table;
    };

    void SetReturnToEnd(bool value);
    // Copies the vector and rebuilds start_set from it.
    void SetStartNodes(const std::vector<Vertex>& nodes);
    // Copies the vector and rebuilds end_set from it.
    void SetEndNodes(const std::vector<Vertex>& nodes);
    // Copies the map (not when given its own map); windows are in force exactly when it is
    // non-empty, and that flag is returned.
    bool SetTimeWindows(const TimeWindowMap& windows);
    // Vertices with several windows, sorted and disjoint (their envelopes in the map of
    // SetTimeWindows); set before BindInstance.
    void SetSeveralWindows(const std::unordered_map<Vertex, std::vector<TimeWindow>>& windows);
    // The agents' shifts and stop limits, by agent index (empty: no agent has any).
    void SetAgentDays(const std::vector<AgentDay>& days);
    // Whether a route costs its travel alone (true) or its duration (false, the default).
    void SetTravelCost(bool value) { travel_cost = value; }
    bool TravelCost() const { return travel_cost; }
    // Whether a route's cost may differ from its end time: some agent has a shift or a stop
    // limit, or routes cost their travel.
    bool KeepsDays() const { return !days.empty() || travel_cost; }

    // Where the legs cost when no graph is bound, and what a free leg takes (the service of
    // the node it leaves): the instance's cost model, which must stay alive while these rules
    // are used (null: no costs, no services).
    void BindCosts(const CostModel* costs);
    // Keeps the graph pointer (may be null) and copies the records. A bound graph gives the
    // leg costs; without one they come from the cost model.
    void BindInstance(const PlannerGraph* graph, const std::vector<PointRecord>& points,
                      const std::vector<AgentRecord>& agents);

    // The feasibility test: end-point rule, own start only as the last node, allowed agent
    // types, no other agent's start or end node (the own start and end are never another's),
    // free return legs when return_to_end is false, time windows with waiting, the cost
    // limit. O(path length), allocation-free. The cost of an infeasible path is 0.0. A vertex
    // without a PointRecord, or an agent without an AgentRecord (or without an entry in a
    // non-empty start or end list), is infeasible.
    PathEvaluation EvaluatePath(const std::vector<Vertex>& path, int64_t agent) const;
    // When the path's agent leaves, arrives and serves, as the clock times it alone.
    RouteSchedule ScheduleOf(const std::vector<Vertex>& path, int64_t agent) const;
    // The first rule that EvaluatePath finds broken (kNone for a feasible path).
    RouteViolation FirstViolation(const std::vector<Vertex>& path, int64_t agent) const;

    // The cost of the path by the same rules (arc costs, free return legs, waiting), summed
    // over the whole path even where EvaluatePath would stop at a violation; equal to
    // EvaluatePath's cost whenever the path is feasible.
    double RouteCost(const std::vector<Vertex>& path, int64_t agent) const;

    // Whether agent a may have `node` anywhere on its route: its type is allowed there and
    // the node is no other agent's start or end.
    bool CanVisit(int64_t a, Vertex node) const;

    LegRules LegRulesOf(int64_t agent) const;
    // Whether the walk adds the arc cost of prev -> node: not for free legs (same node, the
    // return to the own start or end without a return obligation) nor from an unknown vertex.
    // Inline: the improvement stage costs legs on the fly on large instances.
    bool PaidLeg(const LegRules& rules, Vertex prev, Vertex node) const {
        if ((graph == nullptr && costs == nullptr) || node == prev || prev < 0) return false;
        if (rules.own.FreeLegInto(node, return_to_end)) return false;
        if (graph == nullptr) {
            return static_cast<uint64_t>(prev) < costs->VertexCount() &&
                   static_cast<uint64_t>(node) < costs->VertexCount();
        }
        return static_cast<uint64_t>(prev) < rules.table.vertices || graph->HasVertex(prev);
    }
    // The time a leg takes: its arc cost (the service of `prev` and the travel) when paid;
    // a free leg to another node still takes the service of `prev`.
    double LegCost(const LegRules& rules, Vertex prev, Vertex node) const {
        if (PaidLeg(rules, prev, node)) return ArcCost(rules, prev, node);
        return LeavingService(prev, node);
    }
    // The travel a leg that takes `leg` bills: its cost without the service, or with
    // durations apart from the costs, its distance.
    double LegTravel(const LegRules& rules, Vertex prev, Vertex node, double leg) const {
        if (costs == nullptr || !costs->HasDurations()) return leg - LeavingService(prev, node);
        if (!PaidLeg(rules, prev, node)) return 0.0;
        return costs->Travel(rules.type, static_cast<size_t>(prev), static_cast<size_t>(node));
    }
    // Whether legs take durations apart from their costs.
    bool HasDurations() const { return costs != nullptr && costs->HasDurations(); }

    // The agent's time on reaching `node` at `cost` (leg included): false when the node's
    // window has closed; cost then becomes the window's opening time if it is later (the
    // wait). Without windows in force, always true.
    bool Arrive(Vertex node, double& cost) const {
        if (!use_time_windows) return true;
        const auto index = static_cast<uint64_t>(node);
        if (index < window_open.size()) {
            if (!several_of.empty() && several_of[index] >= 0) return ArriveInOneOf(index, cost);
            return PassWindow(window_open[index], window_close[index], cost);
        }
        return ArriveOutsideTable(node, cost);
    }
    // The clock of the agent at its start node: time 0, or with a shift the shift's start,
    // then the start's own window (the departure waits for it). The rule broken, if any.
    // `pinned`: services stay at the times of the earliest departure (see RouteClock).
    RouteViolation::Rule Depart(int64_t agent, Vertex start, RouteClock& clock,
                                bool pinned = false) const;
    // Moves the clock over a leg into `node`: `leg` is the leg's time (the service of the node
    // left and the travel), `travel` what it bills (LegTravel); service at `node` starts no
    // earlier than `release`. `target`: whether the node is served. The first rule broken, if any (the
    // clock moves all the same): the node's window, the shift, the stop limit, the cost limit.
    // The one place where time passes along a route.
    RouteViolation::Rule Advance(int64_t agent, RouteClock& clock, double leg, double travel,
                                 Vertex node, bool target,
                                 double release = -std::numeric_limits<double>::infinity()) const {
        using Rule = RouteViolation::Rule;
        clock.time += leg;
        clock.travel += travel;
        Rule broken = Arrive(node, clock.time) ? Rule::kNone : Rule::kWindowClosed;
        if (clock.time < release) {
            clock.time = release;
            if (!Arrive(node, clock.time) && broken == Rule::kNone) broken = Rule::kWindowClosed;
        }
        if (target) ++clock.stops;
        const AgentDay* day = DayOf(agent);
        if (day != nullptr && day->has_shift) {
            const TimeStretch here = ServedAt(node, clock.time, release, target, clock.pinned);
            LeaveLater(clock, TimeStretch::Join(clock.since_departure, leg, travel, here));
        }
        const Rule over = Overrun(agent, clock);
        return broken == Rule::kNone ? over : broken;
    }
    // Moves the clock over a leg (as for Advance) into the rest of a route, timed as one
    // stretch: O(1) whatever its length. The first rule broken, if any.
    RouteViolation::Rule Join(int64_t agent, RouteClock& clock, double leg, double travel,
                              const TimeStretch& rest) const {
        using Rule = RouteViolation::Rule;
        const double reach = clock.time + leg;
        const Rule broken = rest.KeptFrom(reach) ? Rule::kNone : Rule::kWindowClosed;
        clock.time = rest.EndFrom(reach);
        clock.travel += travel + rest.travel;
        clock.stops += rest.stops;
        const AgentDay* day = DayOf(agent);
        if (day != nullptr && day->has_shift) {
            LeaveLater(clock, TimeStretch::Join(clock.since_departure, leg, travel, rest));
        }
        const Rule over = Overrun(agent, clock);
        return broken == Rule::kNone ? over : broken;
    }
    // Advance over the leg prev -> node, its time and travel from the agent's leg rules.
    RouteViolation::Rule Step(int64_t agent, const LegRules& rules, RouteClock& clock, Vertex prev,
                              Vertex node, bool target) const {
        const double leg = LegCost(rules, prev, node);
        return Advance(agent, clock, leg, LegTravel(rules, prev, node, leg), node, target);
    }
    // Soft timing, for a search that may cross infeasible ground: the moves of Depart, Advance
    // and Join, but a window reached after it closed sends the clock back to its close and adds
    // the lateness to clock.warp (time warp), and no limit stops the clock; ExcessOf then says
    // what the finished route breaks. Along a route that keeps every window the clock moves
    // exactly as under the hard forms.
    void DepartSoft(int64_t agent, Vertex start, RouteClock& clock) const;
    void AdvanceSoft(int64_t agent, RouteClock& clock, double leg, double travel, Vertex node,
                     bool target) const {
        clock.time += leg;
        clock.travel += travel;
        WarpInto(node, clock);
        if (target) ++clock.stops;
        const AgentDay* day = DayOf(agent);
        if (day != nullptr && day->has_shift) {
            const TimeStretch here = ServedAt(node, clock.time, -std::numeric_limits<double>::infinity(),
                                              target, clock.pinned);
            LeaveLater(clock, TimeStretch::Join(clock.since_departure, leg, travel, here));
        }
    }
    void JoinSoft(int64_t agent, RouteClock& clock, double leg, double travel,
                  const TimeStretch& rest) const {
        const double reach = clock.time + leg;
        clock.warp += rest.time_warp + std::max(reach - rest.latest, 0.0);
        clock.time = std::min(std::max(reach, rest.earliest), rest.latest) + rest.duration -
                     rest.time_warp;
        clock.travel += travel + rest.travel;
        clock.stops += rest.stops;
        const AgentDay* day = DayOf(agent);
        if (day != nullptr && day->has_shift) {
            LeaveLater(clock, TimeStretch::Join(clock.since_departure, leg, travel, rest));
        }
    }
    // How far a finished route with this clock breaks the rules that bend: its time warp
    // (lateness at the shift's end included), its cost over the agent's limit and its targets
    // over the agent's stop limit. All 0 exactly when Finishes holds and no window was missed.
    struct Excess {
        double warp = 0.0;
        double cost = 0.0;
        double stops = 0.0;
    };
    Excess ExcessOf(int64_t agent, const RouteClock& clock) const {
        Excess excess;
        excess.warp = clock.warp;
        const AgentDay* day = DayOf(agent);
        if (day != nullptr) {
            if (clock.time > day->shift_end) excess.warp += clock.time - day->shift_end;
            if (day->max_stops >= 0 && clock.stops > day->max_stops) {
                excess.stops = static_cast<double>(clock.stops - day->max_stops);
            }
        }
        const double cost = CostOf(agent, clock);
        if (ExceedsLimit(cost, CostLimit(agent))) excess.cost = cost - CostLimit(agent);
        if (day != nullptr) {
            // Distance and duration over their limits bend as the cost limit does.
            excess.cost += std::max(clock.travel - day->max_distance, 0.0) +
                           std::max(clock.time - clock.departure - day->max_duration, 0.0);
        }
        return excess;
    }
    // Whether the path keeps every rule that does not bend: its end points, the allowed types,
    // no foreign start or end (windows, shifts, stop and cost limits aside).
    bool KeepsFixedRules(const std::vector<Vertex>& path, int64_t agent) const;

    // The node alone as a stretch, its service within its window: for routes whose nodes
    // have one window each (see HasSeveralWindows).
    TimeStretch StretchAt(Vertex node, bool target) const {
        return TimeStretch::At(WindowOpen(node), WindowClose(node), target);
    }
    // Whether some vertex has several windows: a stretch cannot time those.
    bool HasSeveralWindows() const { return !several_of.empty(); }
    // Which of the shift's end, the stop limit and the cost limit the clock has passed.
    RouteViolation::Rule Overrun(int64_t agent, const RouteClock& clock) const {
        using Rule = RouteViolation::Rule;
        const AgentDay* day = DayOf(agent);
        if (day != nullptr) {
            if (clock.time > day->shift_end) return Rule::kShiftOver;
            if (day->max_stops >= 0 && clock.stops > day->max_stops) return Rule::kStopLimit;
            if (clock.travel > day->max_distance) return Rule::kDistanceLimit;
            if (clock.time - clock.departure > day->max_duration) return Rule::kDurationLimit;
        }
        return ExceedsLimit(CostOf(agent, clock), CostLimit(agent)) ? Rule::kCostLimit
                                                                    : Rule::kNone;
    }
    double MaxDistance(int64_t agent) const {
        const AgentDay* day = DayOf(agent);
        return day == nullptr ? TimeStretch::kInfinity : day->max_distance;
    }
    double MaxDuration(int64_t agent) const {
        const AgentDay* day = DayOf(agent);
        return day == nullptr ? TimeStretch::kInfinity : day->max_duration;
    }
    // Whether the agent's route has a limit on its cost, distance or duration.
    bool HasRouteLimit(int64_t agent) const {
        const AgentDay* day = DayOf(agent);
        return CostLimit(agent) > 0.0 ||
               (day != nullptr && (day->max_distance < TimeStretch::kInfinity ||
                                   day->max_duration < TimeStretch::kInfinity));
    }
    // Whether some agent has a shift, or a stop limit.
    bool AnyShift() const {
        return std::any_of(days.begin(), days.end(), [](const AgentDay& day) { return day.has_shift; });
    }
    bool AnyStopLimit() const {
        return std::any_of(days.begin(), days.end(), [](const AgentDay& day) { return day.max_stops >= 0; });
    }
    // Whether the agent has a shift: it may leave later than its clock starts.
    bool HasShift(int64_t agent) const {
        const AgentDay* day = DayOf(agent);
        return day != nullptr && day->has_shift;
    }
    // What using the agent costs once it serves a target.
    double FixedCost(int64_t agent) const {
        const AgentDay* day = DayOf(agent);
        return day == nullptr ? 0.0 : day->fixed_cost;
    }
    // Whether a route may end with this clock.
    bool Finishes(int64_t agent, const RouteClock& clock) const {
        return Overrun(agent, clock) == RouteViolation::Rule::kNone;
    }
    // What the agent's route up to the clock costs: its travel, or its duration from
    // departure, or where the agent is priced, both at their unit costs.
    double CostOf(int64_t agent, const RouteClock& clock) const {
        const AgentDay* day = DayOf(agent);
        if (day != nullptr && day->priced) {
            return day->unit_distance * clock.travel +
                   day->unit_duration * (clock.time - clock.departure);
        }
        return travel_cost ? clock.travel : clock.time - clock.departure;
    }
    // The service a leg from -> to takes: that of `from`, none when the agent stays.
    double LeavingService(Vertex from, Vertex to) const {
        return from == to ? 0.0 : ServiceOf(from);
    }
    // The service time of a vertex (0 without a cost model).
    double ServiceOf(Vertex vertex) const {
        return costs == nullptr || static_cast<uint64_t>(vertex) >= costs->VertexCount()
                   ? 0.0
                   : costs->Service(static_cast<size_t>(vertex));
    }
    // The latest time at which the node may be reached (infinity without a window).
    double WindowClose(Vertex node) const;
    // The earliest time at which service there may start (-infinity without a window).
    double WindowOpen(Vertex node) const;
    // The cost limit of the agent, 0 or less meaning none.
    double CostLimit(int64_t agent) const {
        return static_cast<uint64_t>(agent) < agents.size()
                   ? agents[static_cast<size_t>(agent)].cost_limit
                   : 0.0;
    }
    bool UsesTimeWindows() const { return use_time_windows; }
    const TimeWindowMap& TimeWindows() const { return time_windows; }
    bool ReturnsToEnd() const { return return_to_end; }
    const std::vector<int64_t>& StartNodes() const { return starts; }
    const std::vector<int64_t>& EndNodes() const { return ends; }
    const std::vector<AgentRecord>& Agents() const { return agents; }
    const std::vector<PointRecord>& Points() const { return points; }
    const PlannerGraph* Graph() const { return graph; }
    const CostModel* Costs() const { return costs; }
    // The vertex count of the bound graph, or else of the cost model.
    size_t VertexCount() const {
        if (graph != nullptr) return graph->NumVertex();
        return costs == nullptr ? 0 : costs->VertexCount();
    }

    // true when `type` is one of the agent types allowed at `node` (an existing vertex).
    bool AllowsType(Vertex node, int64_t type) const;
    // The largest |opening time| of any window in force.
    double WindowScale() const { return window_scale; }

protected:
    // Membership in start_set / end_set, answered from dense flags on the hot path.
    bool IsSomeStart(Vertex node) const { return InSet(start_flags, start_set, node); }
    bool IsSomeEnd(Vertex node) const { return InSet(end_flags, end_set, node); }

    // Configuration, replaced by the setters.
    bool return_to_end = false;
    bool use_time_windows = false;
    TimeWindowMap time_windows;
    std::vector<Vertex> starts;
    std::vector<Vertex> ends;
    std::unordered_set<Vertex> start_set;
    std::unordered_set<Vertex> end_set;
    std::vector<AgentDay> days;
    bool travel_cost = false;
    // The largest |opening time| of any window: waiting resets the running cost to it.
    double window_scale = 0.0;

    // The bound instance.
    const PlannerGraph* graph = nullptr;
    const CostModel* costs = nullptr;
    std::vector<PointRecord> points;
    std::vector<AgentRecord> agents;

private:
    const AgentDay* DayOf(int64_t agent) const {
        return static_cast<uint64_t>(agent) < days.size() ? &days[static_cast<size_t>(agent)]
                                                          : nullptr;
    }
    static bool InSet(const std::vector<uint8_t>& flags, const std::unordered_set<Vertex>& set,
                      Vertex node) {
        if (static_cast<uint64_t>(node) < flags.size()) return flags[static_cast<size_t>(node)] != 0;
        return node < 0 && set.count(node) != 0;
    }
    static std::vector<uint8_t> FlagsOf(const std::unordered_set<Vertex>& set);
    bool ArriveOutsideTable(Vertex node, double& cost) const;
    // The node as a stretch whose service starts at `start` on the way of a shift's agent:
    // in the window holding `start`, no earlier than `release`, and (pinned) no later than
    // `start`.
    TimeStretch ServedAt(Vertex node, double start, double release, bool target,
                         bool pinned) const;
    // A window missed at `node`: the clock goes back to its close, the lateness to its warp.
    void WarpInto(Vertex node, RouteClock& clock) const {
        if (Arrive(node, clock.time)) return;
        const double close = WindowClose(node);
        clock.warp += clock.time - close;
        clock.time = close;
    }
    // The agent leaves as late as lets the route so far end as early as it can.
    static void LeaveLater(RouteClock& clock, const TimeStretch& since_departure) {
        clock.since_departure = since_departure;
        clock.departure = since_departure.earliest;
    }
    // Arrive at a vertex with several windows: service starts in the earliest window that
    // has not closed.
    bool ArriveInOneOf(uint64_t vertex, double& cost) const;
    // The arc cost of a paid leg, from the graph or else the cost model.
    double ArcCost(const LegRules& rules, Vertex prev, Vertex node) const {
        if (graph == nullptr) {
            return costs->LegTime(rules.type, static_cast<size_t>(prev), static_cast<size_t>(node));
        }
        return ArcCostOrZero(*graph, rules.table, prev, node, rules.type);
    }
    void RebuildWindowTable();
    // What a violation of `rule` records: the travel, the duration, or else the cost.
    double AmountOf(RouteViolation::Rule rule, int64_t agent, const RouteClock& clock) const;

    // One walk along the path. kWholePath false: stop at the first violation (EvaluatePath).
    // kWholePath true: record the violation and go on summing the cost (RouteCost). `why`
    // (may be null) receives the first violation.
    // kFixedOnly: rules that bend (windows, shifts, limits) are not checked.
    template <bool kWholePath, bool kFixedOnly = false>
    PathEvaluation Walk(const std::vector<Vertex>& path, int64_t agent,
                        RouteViolation* why) const;

    // flags[v] != 0 exactly when v is in the set; covers 0 .. the set's largest non-negative
    // member (kept small: vertex ids), so only negative ids fall back to the hash set.
    std::vector<uint8_t> start_flags;
    std::vector<uint8_t> end_flags;
    // Bit t of type_masks[v] is set when type t (below 64) may visit vertex v.
    std::vector<uint64_t> type_masks;
    // Windows of the vertices 0 .. size-1 (from -inf to +inf where a vertex has none);
    // vertices beyond are looked up in time_windows.
    std::vector<double> window_open;
    std::vector<double> window_close;
    std::unordered_map<Vertex, std::vector<TimeWindow>> several_windows;
    // several_of[v]: where vertex v's windows are in several_lists, -1 for a single window
    // (empty when no vertex has several).
    std::vector<int32_t> several_of;
    std::vector<std::vector<TimeWindow>> several_lists;
};

}  // namespace tamrik
