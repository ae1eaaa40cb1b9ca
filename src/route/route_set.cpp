#include "route/route_set.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <tuple>

namespace tamrik {
namespace {

// Dense leg tables of an instance without a graph take at most this much memory.
constexpr double kMaxTableBytes = 64.0 * 1024 * 1024;

}  // namespace

RouteSet::RouteSet(const RouteRules& rules_in, const TaskRules* tasks_in)
    : rules(&rules_in),
      tasks(tasks_in != nullptr && (tasks_in->Active() || tasks_in->HasOptional()) ? tasks_in
                                                                                   : nullptr) {
    loads_on = tasks != nullptr && tasks->HasLoads();
    pairs_on = tasks != nullptr && tasks->HasPairs();
    waits_on = tasks != nullptr && tasks->HasPrecedence();
}

void RouteSet::Prepare(size_t m) {
    vertex_count = rules->VertexCount();
    routes.assign(m, Route{});
    movable.clear();
    movable_flag.assign(vertex_count, 0);
    first_free.clear();
    holder.assign(vertex_count, -1);
    position.assign(vertex_count, 0);
    accepts.assign(m * vertex_count, 0);
    fixed_inside = false;
    cost_limits.assign(m, 0.0);
    simple.assign(m, 0);
    plain.assign(m, 0);
    waiting_nodes.assign(m, 0);
    may_wait.assign(waits_on ? vertex_count : 0, 0);
    for (size_t v = 0; v < may_wait.size(); ++v) {
        const auto node = static_cast<Vertex>(v);
        const std::vector<Vertex>& same = tasks->SameOf(node);
        for (Vertex before : tasks->BeforeOf(node)) {
            if (std::find(same.begin(), same.end(), before) == same.end()) may_wait[v] = 1;
        }
    }
    profile_rules.clear();
    legs.clear();
    leg_tables.clear();
    profile.assign(m, 0);
    shift_times = vertex_count > static_cast<size_t>(kMaxVertices);
    timed_by_stretch = !waits_on && !rules->HasSeveralWindows();

    const bool free_returns = !rules->ReturnsToEnd();
    const bool dense = rules->Graph() != nullptr;
    std::map<std::tuple<int64_t, int64_t, int64_t>, size_t> profiles;
    for (size_t r = 0; r < m; ++r) {
        const auto agent = static_cast<int64_t>(r);
        const RouteRules::LegRules leg_rules = rules->LegRulesOf(agent);
        // Legs differ between agents only by type and, without a return obligation, by
        // the free legs into their own start and end.
        const auto key = std::make_tuple(leg_rules.type, free_returns ? leg_rules.own.start : 0,
                                         free_returns ? leg_rules.own.end : 0);
        auto [entry, added] = profiles.emplace(key, profile_rules.size());
        if (added) profile_rules.push_back(leg_rules);
        profile[r] = entry->second;
        cost_limits[r] = rules->CostLimit(agent);
        // Reversals keep a route's loads feasible only while every stop only loads.
        plain[r] = !rules->UsesTimeWindows() && !(cost_limits[r] > 0.0) && !rules->KeepsDays();
        simple[r] = plain[r] && !waits_on &&
                    !(loads_on && (tasks->HasNegativeDemand() || tasks->HasDeliveries()));
    }
    // Table lookups are much faster than costing legs from coordinates; the tables are kept
    // while they stay small.
    const double table_bytes = static_cast<double>(profile_rules.size()) *
                               static_cast<double>(vertex_count) *
                               static_cast<double>(vertex_count) * sizeof(double);
    if (!dense && table_bytes > kMaxTableBytes) return;
    for (const RouteRules::LegRules& leg_rules : profile_rules) {
        leg_tables.push_back(std::make_shared<const std::vector<double>>(DenseLegs(leg_rules)));
        legs.push_back(leg_tables.back()->data());
    }
}

std::vector<double> RouteSet::DenseLegs(const RouteRules::LegRules& leg_rules) const {
    std::vector<double> table(vertex_count * vertex_count);
    for (size_t a = 0; a < vertex_count; ++a) {
        for (size_t b = 0; b < vertex_count; ++b) {
            table[a * vertex_count + b] =
                rules->LegCost(leg_rules, static_cast<int64_t>(a), static_cast<int64_t>(b));
        }
    }
    return table;
}

void RouteSet::FillAccepts(size_t r) {
    for (size_t v = 0; v < vertex_count; ++v) {
        accepts[r * vertex_count + v] =
            rules->CanVisit(static_cast<int64_t>(r), static_cast<int64_t>(v));
    }
}

std::vector<uint8_t> RouteSet::EndpointFlags() const {
    std::vector<uint8_t> endpoint(vertex_count, 0);
    for (const std::vector<int64_t>* nodes : {&rules->StartNodes(), &rules->EndNodes()}) {
        for (Vertex node : *nodes) {
            if (node >= 0 && static_cast<size_t>(node) < vertex_count) endpoint[node] = 1;
        }
    }
    return endpoint;
}

bool RouteSet::Load(const std::vector<std::vector<int64_t>>& paths) {
    const size_t m = paths.size();
    Prepare(m);
    // Rules that bend take routes that break them; pairs and the fixed rules must still hold.
    if (tasks != nullptr && !Bends() && !tasks->Check(*rules, paths).feasible) return false;
    if (tasks != nullptr && Bends() && !tasks->PairsKept(paths)) return false;
    for (size_t r = 0; r < m; ++r) {
        const auto agent = static_cast<int64_t>(r);
        if (soft_days ? !rules->KeepsFixedRules(paths[r], agent)
                      : !rules->EvaluatePath(paths[r], agent).feasible) {
            return false;
        }
        Route& route = routes[r];
        for (Vertex node : paths[r]) {
            if (node < 0 || static_cast<size_t>(node) >= vertex_count) return false;
            route.nodes.push_back(static_cast<Vertex>(node));
            if (waits_on) waiting_nodes[r] += may_wait[static_cast<size_t>(node)];
        }
        route.arrival.assign(route.nodes.size(), 0.0);
        if (!route.nodes.empty() && !Refresh(r, 0)) return false;
        if (route.nodes.size() >= 2) FillAccepts(r);
    }
    const std::vector<uint8_t> endpoint = EndpointFlags();
    for (size_t r = 0; r < m; ++r) {
        const std::vector<Vertex>& nodes = routes[r].nodes;
        for (size_t k = 1; k + 1 < nodes.size(); ++k) {
            const Vertex node = nodes[k];
            fixed_inside = fixed_inside || endpoint[node] != 0;
            if (endpoint[node] || movable_flag[node]) continue;
            movable_flag[node] = 1;
            movable.push_back(node);
            holder[node] = static_cast<int32_t>(r);
            position[node] = static_cast<int32_t>(k);
        }
    }
    TakeOptionalStops(endpoint);
    FindTwins();
    return !waits_on || Settle();
}

void RouteSet::TakeOptionalStops(const std::vector<uint8_t>& endpoint) {
    lost_prize = 0.0;
    if (tasks == nullptr || !tasks->HasOptional()) return;
    for (size_t v = 0; v < vertex_count; ++v) {
        const auto node = static_cast<Vertex>(v);
        if (endpoint[v] || !tasks->IsOptional(node)) continue;
        if (!movable_flag[v]) {
            movable_flag[v] = 1;
            movable.push_back(node);
        }
        if (holder[v] < 0) lost_prize += tasks->Prize(node);
    }
}

std::vector<size_t> RouteSet::LoadEmpty() {
    const std::vector<int64_t>& starts = rules->StartNodes();
    const std::vector<int64_t>& ends = rules->EndNodes();
    const size_t m = std::min(starts.size(), ends.size());
    Prepare(m);
    std::vector<size_t> broken;
    for (size_t r = 0; r < m; ++r) {
        const auto agent = static_cast<int64_t>(r);
        std::vector<int64_t> path{starts[r], ends[r]};
        if (!rules->ReturnsToEnd() && starts[r] != ends[r]) {
            const std::vector<int64_t> home{starts[r], starts[r]};
            const bool home_ok = rules->EvaluatePath(home, agent).feasible;
            if (home_ok && (EndBindsMore(r) || !rules->EvaluatePath(path, agent).feasible)) {
                path = home;
            }
        }
        if (!rules->EvaluatePath(path, agent).feasible) broken.push_back(r);
        Route& route = routes[r];
        route.nodes.assign(path.begin(), path.end());
        route.arrival.assign(2, 0.0);
        Refresh(r, 0);
        FillAccepts(r);
    }
    const std::vector<uint8_t> endpoint = EndpointFlags();
    for (size_t v = 0; v < vertex_count; ++v) {
        if (endpoint[v]) continue;
        movable_flag[v] = 1;
        movable.push_back(static_cast<Vertex>(v));
    }
    TakeOptionalStops(endpoint);
    FindTwins();
    return broken;
}

bool RouteSet::EndBindsMore(size_t r) const {
    // Without a return obligation the last leg is free into the start and into the end
    // alike, so only their windows tell the two endings apart.
    const Vertex start = rules->StartNodes()[r];
    const Vertex end = rules->EndNodes()[r];
    const double end_open = rules->WindowOpen(end);
    const double end_close = rules->WindowClose(end);
    const double start_open = rules->WindowOpen(start);
    const double start_close = rules->WindowClose(start);
    const bool same = end_open == start_open && end_close == start_close;
    return !same && end_open >= start_open && end_close <= start_close;
}

void RouteSet::Renumber(size_t r, size_t from) {
    const std::vector<Vertex>& nodes = routes[r].nodes;
    for (size_t k = from; k < nodes.size(); ++k) {
        position[static_cast<size_t>(nodes[k])] = static_cast<int32_t>(k);
    }
}

double RouteSet::Distance(Vertex a, Vertex b) const {
    double best = kInfeasible;
    for (size_t p = 0; p < profile_rules.size(); ++p) {
        double both;
        if (legs.empty()) {
            both = rules->LegCost(profile_rules[p], a, b) + rules->LegCost(profile_rules[p], b, a);
        } else {
            const double* table = legs[p];
            both = table[static_cast<size_t>(a) * vertex_count + static_cast<size_t>(b)] +
                   table[static_cast<size_t>(b) * vertex_count + static_cast<size_t>(a)];
        }
        best = std::min(best, both);
    }
    return best;
}

bool RouteSet::Refresh(size_t r, size_t from) {
    if (soft_days && !plain[r]) {
        RefreshSoftDay(r, from);
        return !loads_on || RefreshLoads(r, from);
    }
    Route& route = routes[r];
    const std::vector<Vertex>& nodes = route.nodes;
    const bool days = rules->KeepsDays();
    const bool shift = rules->HasShift(static_cast<int64_t>(r));
    if (days) route.travel.resize(nodes.size());
    if (shift) route.since.resize(nodes.size());
    bool feasible = true;
    RouteClock clock = from == 0 ? RouteClock{} : ClockAt(r, from - 1);
    for (size_t k = from; k < nodes.size(); ++k) {
        if (k == 0) {
            feasible = rules->Depart(static_cast<int64_t>(r), nodes[0], clock, waits_on) ==
                           RouteViolation::Rule::kNone &&
                       feasible;
        } else {
            feasible = Step(r, clock, nodes[k - 1], nodes[k], k + 1 < nodes.size()) && feasible;
        }
        route.arrival[k] = clock.time;
        if (days) route.travel[k] = clock.travel;
        if (shift) route.since[k] = clock.since_departure;
    }
    route.departure = clock.departure;
    route.cost = nodes.empty() ? 0.0 : rules->CostOf(static_cast<int64_t>(r), clock);
    if (timed_by_stretch && !plain[r]) FillRest(r);
    route.warp.clear();
    route.excess[kTimeRule] = route.excess[kCostLimitRule] = route.excess[kStopRule] = 0.0;
    if (loads_on) feasible = RefreshLoads(r, from) && feasible;
    Reprice(r);
    return feasible;
}

void RouteSet::RefreshSoftDay(size_t r, size_t from) {
    Route& route = routes[r];
    const std::vector<Vertex>& nodes = route.nodes;
    const auto agent = static_cast<int64_t>(r);
    const bool days = rules->KeepsDays();
    const bool shift = rules->HasShift(agent);
    if (days) route.travel.resize(nodes.size());
    if (shift) route.since.resize(nodes.size());
    route.warp.resize(nodes.size());
    RouteClock clock = from == 0 ? RouteClock{} : ClockAt(r, from - 1);
    for (size_t k = from; k < nodes.size(); ++k) {
        if (k == 0) {
            rules->DepartSoft(agent, nodes[0], clock);
        } else {
            StepSoft(r, clock, nodes[k - 1], nodes[k], k + 1 < nodes.size());
        }
        route.arrival[k] = clock.time;
        route.warp[k] = clock.warp;
        if (days) route.travel[k] = clock.travel;
        if (shift) route.since[k] = clock.since_departure;
    }
    route.departure = clock.departure;
    route.cost = nodes.empty() ? 0.0 : rules->CostOf(static_cast<int64_t>(r), clock);
    const RouteRules::Excess excess =
        nodes.empty() ? RouteRules::Excess{} : rules->ExcessOf(agent, clock);
    route.excess[kTimeRule] = excess.warp;
    route.excess[kCostLimitRule] = excess.cost;
    route.excess[kStopRule] = excess.stops;
    if (timed_by_stretch) FillRest(r);
    Reprice(r);
}

void RouteSet::FillRest(size_t r) {
    Route& route = routes[r];
    const std::vector<Vertex>& nodes = route.nodes;
    const size_t n = nodes.size();
    route.rest.resize(n);
    if (n == 0) return;
    route.rest[n - 1] = rules->StretchAt(nodes[n - 1], false);
    for (size_t k = n - 1; k-- > 0;) {
        const Vertex from = nodes[k];
        const Vertex to = nodes[k + 1];
        const double leg = Leg(r, from, to);
        route.rest[k] = TimeStretch::Join(rules->StretchAt(from, k > 0), leg,
                                          LegTravel(r, from, to, leg), route.rest[k + 1]);
    }
}

RouteClock RouteSet::ClockAt(size_t r, size_t p) const {
    const Route& route = routes[r];
    RouteClock clock;
    if (p == 0) {
        rules->Depart(static_cast<int64_t>(r), route.nodes[0], clock, waits_on);
        return clock;
    }
    clock.time = route.arrival[p];
    clock.warp = route.warp.empty() ? 0.0 : route.warp[p];
    clock.pinned = waits_on;
    if (route.since.empty()) {
        clock.departure = route.departure;
    } else {
        clock.since_departure = route.since[p];
        clock.departure = route.since[p].earliest;
    }
    clock.travel = route.travel.empty() ? 0.0 : route.travel[p];
    const size_t targets = route.nodes.size() < 2 ? 0 : route.nodes.size() - 2;
    clock.stops = static_cast<int64_t>(std::min(p, targets));
    return clock;
}

void RouteSet::FillTravel(size_t r) {
    Route& route = routes[r];
    const std::vector<Vertex>& nodes = route.nodes;
    route.travel.assign(nodes.size(), 0.0);
    for (size_t k = 1; k < nodes.size(); ++k) {
        const Vertex from = nodes[k - 1];
        const double leg = Leg(r, from, nodes[k]);
        route.travel[k] = route.travel[k - 1] + LegTravel(r, from, nodes[k], leg);
    }
}

bool RouteSet::RefreshThrough(size_t r, size_t from, size_t through) {
    if (!shift_times || !IsSimple(r)) return Refresh(r, from);
    std::vector<double>& arrival = routes[r].arrival;
    const std::vector<Vertex>& nodes = routes[r].nodes;
    const size_t n = nodes.size();
    through = std::min(through, n - 1);
    const double old_time = arrival[through];
    double t = from == 0 ? 0.0 : arrival[from - 1];
    for (size_t k = from; k <= through; ++k) {
        if (k > 0) t += Leg(r, nodes[k - 1], nodes[k]);
        arrival[k] = t;
    }
    const double shift = t - old_time;
    for (size_t k = through + 1; k < n; ++k) arrival[k] += shift;
    routes[r].cost = arrival[n - 1];
    return !loads_on || RefreshLoads(r, from);
}

double RouteSet::SummedCost(size_t r) const {
    if (!shift_times || !IsSimple(r)) return routes[r].cost;
    const std::vector<Vertex>& nodes = routes[r].nodes;
    double t = 0.0;
    for (size_t k = 1; k < nodes.size(); ++k) t += Leg(r, nodes[k - 1], nodes[k]);
    return t;
}

void RouteSet::CopyRoutesFrom(const RouteSet& other, const std::vector<uint8_t>& which) {
    // Optional stops may leave the routes taken: all of theirs go out first.
    for (size_t r = 0; r < routes.size() && tasks != nullptr && tasks->HasOptional(); ++r) {
        if (!which[r]) continue;
        const std::vector<Vertex>& nodes = routes[r].nodes;
        for (size_t k = 1; k + 1 < nodes.size(); ++k) {
            holder[static_cast<size_t>(nodes[k])] = -1;
            if (IsOptional(nodes[k])) lost_prize += tasks->Prize(nodes[k]);
        }
    }
    for (size_t r = 0; r < routes.size(); ++r) {
        if (!which[r]) continue;
        routes[r] = other.routes[r];
        waiting_nodes[r] = other.waiting_nodes[r];
        const std::vector<Vertex>& nodes = routes[r].nodes;
        for (size_t k = 1; k + 1 < nodes.size(); ++k) {
            const auto node = static_cast<size_t>(nodes[k]);
            holder[node] = other.holder[node];
            position[node] = other.position[node];
            if (IsOptional(nodes[k])) lost_prize -= tasks->Prize(nodes[k]);
        }
    }
}

double RouteSet::Violation() const {
    double violation = 0.0;
    for (const Route& route : routes) {
        for (double excess : route.excess) violation += excess;
    }
    return violation;
}

double RouteSet::ExcessOf(SoftRule rule) const {
    double excess = 0.0;
    for (const Route& route : routes) excess += route.excess[rule];
    return excess;
}

double RouteSet::Largest() const {
    double largest = 0.0;
    for (const Route& route : routes) largest = std::max(largest, route.Cost());
    return largest;
}

double RouteSet::Total() const {
    double total = 0.0;
    for (size_t r = 0; r < routes.size(); ++r) total += routes[r].Cost() + Fixed(r);
    return total;
}

std::vector<std::vector<int64_t>> RouteSet::Paths() const {
    std::vector<std::vector<int64_t>> paths(routes.size());
    for (size_t r = 0; r < routes.size(); ++r) {
        paths[r].assign(routes[r].nodes.begin(), routes[r].nodes.end());
    }
    return paths;
}

}  // namespace tamrik
