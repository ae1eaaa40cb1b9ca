#include "plugins/constraint_checkers.h"

#include <algorithm>
#include <bit>
#include <utility>

#include "route/time_stretch.h"

namespace tamrik {

namespace {

constexpr TransitionCheck kAccept{true, 0.0, false};
constexpr TransitionCheck kReject{false, 0.0, false};

// The set of the ids 0 .. n-1 (n at most 256).
VisitedSet Prefix(size_t n) {
    VisitedSet set{};
    n = std::min<size_t>(n, kMaxVertices);
    for (size_t word = 0; word < 4; ++word) {
        size_t low = word * 64;
        if (n >= low + 64) {
            set[word] = ~uint64_t{0};
        } else if (n > low) {
            set[word] = (uint64_t{1} << (n - low)) - 1;
        }
    }
    return set;
}

bool InRange(int64_t v) { return v >= 0 && v < kMaxVertices; }

bool Empty(const VisitedSet& set) { return (set[0] | set[1] | set[2] | set[3]) == 0; }

// Calls visit(v) for each member v in ascending order until it returns false; returns
// whether every call returned true.
template <typename Visit>
bool ForEachBit(const VisitedSet& set, Visit visit) {
    for (size_t word = 0; word < 4; ++word) {
        uint64_t bits = set[word];
        while (bits != 0) {
            int64_t v = static_cast<int64_t>(word * 64 + std::countr_zero(bits));
            bits &= bits - 1;
            if (!visit(v)) return false;
        }
    }
    return true;
}

// The window step at a vertex with window `window` (null: none).
bool PassWindowOf(const TimeWindow* window, double& x) {
    return window == nullptr || PassWindow(window->first, window->second, x);
}

}  // namespace

// ---------------------------------------------------------------- DefaultConstraintChecker

std::string DefaultConstraintChecker::Name() const { return "DefaultConstraintChecker"; }

void DefaultConstraintChecker::Init(const PlannerGraph* new_graph,
                                    const std::vector<PointRecord>& new_points,
                                    const std::vector<AgentRecord>& new_agents) {
    graph = new_graph;
    points = new_points;
    agents = new_agents;
    agent_count = agents.size();
    type0_only_ = VisitedSet{};
    for (size_t v = 0; v < points.size() && v < static_cast<size_t>(kMaxVertices); ++v) {
        const std::vector<int64_t>& types = points[v].types;
        if (types.size() == 1 && types[0] == 0) SetBit(type0_only_, static_cast<int64_t>(v));
    }
}

bool DefaultConstraintChecker::IsForbidden(int64_t agent, int64_t vertex) const {
    const std::vector<int64_t>& types = points[vertex].types;
    if (types.empty()) return true;
    return std::find(types.begin(), types.end(), agents[agent].type_index) == types.end();
}

TransitionCheck DefaultConstraintChecker::CheckTransition(const Label&, int64_t,
                                                          int64_t) const {
    return kAccept;
}

bool DefaultConstraintChecker::IsWithinLimit(const Label&, int64_t) const { return true; }

bool DefaultConstraintChecker::IsDeadEnd(const Label& label) const {
    for (uint64_t i = 0; i < agent_count; ++i) {
        if (agents[i].type_index == 0 && label.finished[i] == 0) return false;
    }
    if (graph == nullptr) return false;
    // Vertices 0 .. NumVertex()-1 that allow exactly type 0 and are not served.
    VisitedSet range = Prefix(graph->NumVertex());
    for (size_t word = 0; word < 4; ++word) {
        if ((type0_only_[word] & range[word] & ~label.visited[word]) != 0) return true;
    }
    return false;
}

// -------------------------------------------------------------- TimeLimitConstraintChecker

std::string TimeLimitConstraintChecker::Name() const { return "TimeLimitConstraintChecker"; }

void TimeLimitConstraintChecker::Init(const PlannerGraph* graph,
                                      const std::vector<PointRecord>& points,
                                      const std::vector<AgentRecord>& new_agents) {
    base.Init(graph, points, new_agents);
    agents = new_agents;
}

bool TimeLimitConstraintChecker::IsForbidden(int64_t agent, int64_t vertex) const {
    return base.IsForbidden(agent, vertex);
}

TransitionCheck TimeLimitConstraintChecker::CheckTransition(const Label&, int64_t,
                                                            int64_t) const {
    return kAccept;
}

bool TimeLimitConstraintChecker::IsWithinLimit(const Label& label, int64_t agent) const {
    return !ExceedsLimit(label.costs[agent], agents[agent].cost_limit);
}

bool TimeLimitConstraintChecker::IsDeadEnd(const Label& label) const {
    return base.IsDeadEnd(label);
}

// ------------------------------------------------------------- TimeWindowConstraintChecker

std::string TimeWindowConstraintChecker::Name() const { return "TimeConstraintChecker"; }

void TimeWindowConstraintChecker::Init(const PlannerGraph* new_graph,
                                       const std::vector<PointRecord>& new_points,
                                       const std::vector<AgentRecord>& new_agents) {
    base.Init(new_graph, new_points, new_agents);
    graph = new_graph;
    points = new_points;
    agents = new_agents;
    agent_count = agents.size();
    RebuildDerived();
}

bool TimeWindowConstraintChecker::IsForbidden(int64_t agent, int64_t vertex) const {
    return base.IsForbidden(agent, vertex);
}

bool TimeWindowConstraintChecker::IsWithinLimit(const Label&, int64_t) const { return true; }

bool TimeWindowConstraintChecker::IsDeadEnd(const Label& label) const {
    return base.IsDeadEnd(label);
}

void TimeWindowConstraintChecker::ReadRules(const RouteRules& rules) {
    SetEnds(rules.EndNodes());
    SetTimeWindows(rules.TimeWindows());
    SetStarts(rules.StartNodes());
    SetReturnToEnd(rules.ReturnsToEnd());
    SetServices(rules.Costs() == nullptr ? std::vector<double>{} : rules.Costs()->Services());
}

void TimeWindowConstraintChecker::SetEnds(const std::vector<int64_t>& new_ends) {
    ends = new_ends;
    end_set = std::unordered_set<int64_t>(ends.begin(), ends.end());
    RebuildDerived();
}

void TimeWindowConstraintChecker::SetTimeWindows(const TimeWindowMap& windows) {
    time_windows = windows;
    dense_windows_ = {};
    window_mask_ = VisitedSet{};
    for (const auto& [vertex, window] : time_windows) {
        if (!InRange(vertex)) continue;
        dense_windows_[static_cast<size_t>(vertex)] = window;
        SetBit(window_mask_, vertex);
    }
}

void TimeWindowConstraintChecker::SetStarts(const std::vector<int64_t>& new_starts) {
    starts = new_starts;
    start_set = std::unordered_set<int64_t>(starts.begin(), starts.end());
    RebuildDerived();
}

void TimeWindowConstraintChecker::SetReturnToEnd(bool value) {
    return_to_end = value;
    RebuildDerived();
}

const TimeWindow* TimeWindowConstraintChecker::WindowOf(int64_t vertex) const {
    if (InRange(vertex)) {
        return TestBit(window_mask_, vertex) ? &dense_windows_[static_cast<size_t>(vertex)]
                                             : nullptr;
    }
    auto found = time_windows.find(vertex);
    return found == time_windows.end() ? nullptr : &found->second;
}

TimeWindowConstraintChecker::AgentLegs TimeWindowConstraintChecker::LegsOf(
    int64_t agent) const {
    AgentLegs legs;
    if (agent >= 0 && static_cast<uint64_t>(agent) < agents.size()) {
        legs.type = agents[static_cast<size_t>(agent)].type_index;
    }
    if (!starts.empty() && agent >= 0 && static_cast<size_t>(agent) < starts.size()) {
        legs.own.has_start = true;
        legs.own.start = starts[static_cast<size_t>(agent)];
    }
    if (!ends.empty() && agent >= 0 && static_cast<size_t>(agent) < ends.size()) {
        legs.own.has_end = true;
        legs.own.end = ends[static_cast<size_t>(agent)];
    }
    return legs;
}

double TimeWindowConstraintChecker::Travel(int64_t from, int64_t to, const AgentLegs& legs,
                                           const ArcCostTable& table) const {
    if (graph == nullptr || from == to) return 0.0;
    if (legs.own.FreeLegInto(to, return_to_end)) {
        const bool served = from >= 0 && static_cast<size_t>(from) < services.size();
        return served ? services[static_cast<size_t>(from)] : 0.0;
    }
    return ArcCostOrZero(*graph, table, from, to, legs.type);
}

double TimeWindowConstraintChecker::TravelTime(int64_t from, int64_t to, int64_t agent) const {
    return Travel(from, to, LegsOf(agent), graph ? graph->CostTable() : ArcCostTable{});
}

bool TimeWindowConstraintChecker::CanServe(int64_t agent, int64_t vertex) const {
    const std::vector<PointRecord>& base_points = base.Points();
    const std::vector<AgentRecord>& base_agents = base.Agents();
    if (agent < 0 || static_cast<uint64_t>(agent) >= base_agents.size()) return false;
    if (vertex < 0 || static_cast<uint64_t>(vertex) >= base_points.size()) return false;
    const size_t a = static_cast<size_t>(agent);
    const std::vector<int64_t>& types = base_points[static_cast<size_t>(vertex)].types;
    if (std::find(types.begin(), types.end(), base_agents[a].type_index) == types.end()) {
        return false;  // also when `types` is empty
    }
    if (!ends.empty() && end_set.count(vertex) != 0 &&
        !(a < ends.size() && ends[a] == vertex)) {
        return false;  // another agent's end vertex
    }
    if (starts.empty() || start_set.count(vertex) == 0) return true;
    return a < starts.size() && starts[a] == vertex;
}

void TimeWindowConstraintChecker::RebuildDerived() {
    legs_.clear();
    for (uint64_t k = 0; k < agent_count; ++k) legs_.push_back(LegsOf(static_cast<int64_t>(k)));
    serve_masks_.assign(static_cast<size_t>(agent_count), VisitedSet{});
    const size_t n = std::min<size_t>(points.size(), kMaxVertices);
    for (size_t k = 0; k < serve_masks_.size(); ++k) {
        for (size_t w = 0; w < n; ++w) {
            if (CanServe(static_cast<int64_t>(k), static_cast<int64_t>(w))) {
                SetBit(serve_masks_[k], static_cast<int64_t>(w));
            }
        }
    }
}

TransitionCheck TimeWindowConstraintChecker::CheckTransition(const Label& label,
                                                             int64_t agent,
                                                             int64_t vertex) const {
    const size_t a = static_cast<size_t>(agent);
    const double arrival = label.costs[a];

    // 1. Window at the target: t is the (possibly delayed) arrival time at `vertex`.
    double t = arrival;
    const TimeWindow* target_window = WindowOf(vertex);
    if (!PassWindowOf(target_window, t)) return kReject;

    if (graph != nullptr) {
        const ArcCostTable table = graph->CostTable();
        // The vertices 0 .. min(points, 256)-1 that are not served.
        const VisitedSet range = Prefix(points.size());
        VisitedSet unserved;
        for (size_t word = 0; word < 4; ++word) {
            unserved[word] = range[word] & ~label.visited[word];
        }
        const bool known_agent = agent >= 0 && static_cast<uint64_t>(agent) < agent_count;

        // 3. Departure time from the vertex the agent leaves.
        const AgentLegs legs = known_agent ? legs_[a] : LegsOf(agent);
        const int64_t p = label.positions[a];
        const double d = arrival - Travel(p, vertex, legs, table);

        // 4. Look-ahead over the vertices the move skips: w unserved, w != vertex, w != p,
        //    CanServe(agent, w), w not the agent's start, and (return_to_end false) not its end.
        if (known_agent) {
            VisitedSet skipped;
            for (size_t word = 0; word < 4; ++word) {
                skipped[word] = unserved[word] & serve_masks_[a][word];
            }
            if (InRange(vertex)) ClearBit(skipped, vertex);
            if (InRange(p)) ClearBit(skipped, p);
            if (legs.own.has_start && InRange(legs.own.start)) ClearBit(skipped, legs.own.start);
            // The agent's own end closes its route: it is never served on the way.
            if (legs.own.has_end && InRange(legs.own.end)) ClearBit(skipped, legs.own.end);

            const bool ok = ForEachBit(skipped, [&](int64_t w) {
                const TimeWindow* w_window = WindowOf(w);
                double x = d + Travel(p, w, legs, table);
                if (!PassWindowOf(w_window, x)) return true;
                x += Travel(w, vertex, legs, table);
                if (!PassWindowOf(target_window, x)) return true;
                // x: arrival at `vertex` when serving w on the way.
                if (x <= t) {
                    double y = t + Travel(vertex, w, legs, table);
                    if (!PassWindowOf(w_window, y)) return false;
                    if (y > x) return false;
                }
                return true;
            });
            if (!ok) return kReject;
        }

        // 5. Every unserved vertex must remain reachable in its window by some agent.
        if (!Empty(unserved)) {
            if (agent_count == 0) return kReject;
            const bool skip_finished = !ends.empty();
            auto skipped_agent = [&](size_t k) {
                return skip_finished && label.finished[k] == 1;
            };
            // Unserved vertices without a window need only an agent that can serve them.
            VisitedSet servable{};
            for (size_t k = 0; k < agent_count; ++k) {
                if (skipped_agent(k)) continue;
                for (size_t word = 0; word < 4; ++word) servable[word] |= serve_masks_[k][word];
            }
            for (size_t word = 0; word < 4; ++word) {
                if ((unserved[word] & ~window_mask_[word] & ~servable[word]) != 0) {
                    return kReject;
                }
            }
            // Unserved vertices with a window need an agent arriving before its end.
            VisitedSet windowed;
            for (size_t word = 0; word < 4; ++word) {
                windowed[word] = unserved[word] & window_mask_[word];
            }
            const bool ok = ForEachBit(windowed, [&](int64_t w) {
                const double end = dense_windows_[static_cast<size_t>(w)].second;
                for (size_t k = 0; k < agent_count; ++k) {
                    if (skipped_agent(k) || !TestBit(serve_masks_[k], w)) continue;
                    const bool moving = k == a;
                    const int64_t from = moving ? vertex : label.positions[k];
                    const double time = moving ? t : label.costs[k];
                    const double reach =
                        time + Travel(from, w, moving ? legs : legs_[k], table);
                    if (!(reach > end)) return true;
                }
                return false;
            });
            if (!ok) return kReject;
        }
    }

    // 6. Waiting becomes part of the agent's accumulated cost.
    if (t == arrival) return kAccept;
    return TransitionCheck{true, t, true};
}

// -------------------------------------------------------------- CompositeConstraintChecker

CompositeConstraintChecker::~CompositeConstraintChecker() {
    for (std::unique_ptr<ConstraintCheckerPlugin>& member : members) member.reset();
    members.clear();
}

std::string CompositeConstraintChecker::Name() const { return "CompositeConstraintChecker"; }

void CompositeConstraintChecker::AddMember(std::unique_ptr<ConstraintCheckerPlugin> member) {
    if (member) members.push_back(std::move(member));
}

void CompositeConstraintChecker::Init(const PlannerGraph* graph,
                                      const std::vector<PointRecord>& points,
                                      const std::vector<AgentRecord>& agents) {
    for (const auto& member : members) member->Init(graph, points, agents);
}

bool CompositeConstraintChecker::IsForbidden(int64_t agent, int64_t vertex) const {
    for (const auto& member : members) {
        if (member->IsForbidden(agent, vertex)) return true;
    }
    return false;
}

TransitionCheck CompositeConstraintChecker::CheckTransition(const Label& label, int64_t agent,
                                                            int64_t vertex) const {
    // Every member sees the label with the cost left by the members before it. Until the
    // first update that is the caller's label itself; from then on the one copy.
    const Label* view = &label;
    bool updated = false;
    double cost = 0.0;
    const size_t count = members.size();
    for (size_t i = 0; i < count; ++i) {
        TransitionCheck answer = members[i]->CheckTransition(*view, agent, vertex);
        if (!answer.feasible) return answer;
        if (!answer.updated) continue;
        updated = true;
        cost = answer.new_cost;
        if (i + 1 < count) {  // someone is still to see the new cost
            if (view == &label) {
                scratch_ = label;
                view = &scratch_;
            }
            scratch_.costs[static_cast<size_t>(agent)] = cost;
        }
    }
    if (updated) return TransitionCheck{true, cost, true};
    return kAccept;
}

bool CompositeConstraintChecker::IsWithinLimit(const Label& label, int64_t agent) const {
    for (const auto& member : members) {
        if (!member->IsWithinLimit(label, agent)) return false;
    }
    return true;
}

bool CompositeConstraintChecker::IsDeadEnd(const Label& label) const {
    for (const auto& member : members) {
        if (member->IsDeadEnd(label)) return true;
    }
    return false;
}

}  // namespace tamrik
