// Pricing and making insertions and removals of single stops, the moves that the
// construction, the repair and the ruin and recreate steps are made of.
#include <algorithm>
#include <cmath>

#include "route/route_set.h"

namespace tamrik {

double RouteSet::InsertionCost(size_t r, size_t q, Vertex node) const {
    if (q < FirstFree(r)) return kInfeasible;
    const double timed = TimedInsertionCost(r, q, node);
    if (!soft_loads || timed == kInfeasible) return timed;
    return timed + weights[kCapacityRule] * ExcessWith(r, q, node);
}

double RouteSet::TimedInsertionCost(size_t r, size_t q, Vertex node) const {
    const Route& route = routes[r];
    const std::vector<Vertex>& nodes = route.nodes;
    const Vertex prev = nodes[q - 1];
    const Vertex next = nodes[q];
    if (tasks != nullptr && ((loads_on && !LoadFits(r, q, node)) ||
                             (pairs_on && !PairsAllow(r, q, node)))) {
        return kInfeasible;
    }
    if (SumsLegs(r, node)) {
        return route.cost + Leg(r, prev, node) + Leg(r, node, next) - Leg(r, prev, next);
    }
    if (soft_days) return SoftInsertionCost(r, q, node);
    RouteClock clock = ClockAt(r, q - 1);
    if (!Step(r, clock, prev, node, true)) return kInfeasible;
    if (!route.rest.empty()) {
        const auto agent = static_cast<int64_t>(r);
        const double leg = Leg(r, node, next);
        const bool kept = rules->Join(agent, clock, leg, LegTravel(r, node, next, leg),
                                      route.rest[q]) == RouteViolation::Rule::kNone;
        return kept ? rules->CostOf(agent, clock) : kInfeasible;
    }
    for (size_t k = q;; ++k) {
        const Vertex from = k == q ? node : nodes[k - 1];
        if (!Step(r, clock, from, nodes[k], k + 1 < nodes.size())) return kInfeasible;
        if (k + 1 == nodes.size()) return rules->CostOf(static_cast<int64_t>(r), clock);
        // From the same time at the same node on, the rest of the route is as before, but for
        // its travel and one stop more.
        if (clock.time == route.arrival[k] && route.since.empty()) {
            if (!rules->KeepsDays()) return route.cost;
            clock.travel += route.travel.back() - route.travel[k];
            clock.time = route.arrival.back();
            clock.stops = static_cast<int64_t>(nodes.size()) - 1;
            return rules->Finishes(static_cast<int64_t>(r), clock) ? rules->CostOf(static_cast<int64_t>(r), clock) : kInfeasible;
        }
    }
}

double RouteSet::SoftInsertionCost(size_t r, size_t q, Vertex node) const {
    const Route& route = routes[r];
    const std::vector<Vertex>& nodes = route.nodes;
    const Vertex next = nodes[q];
    RouteClock clock = ClockAt(r, q - 1);
    StepSoft(r, clock, nodes[q - 1], node, true);
    if (!route.rest.empty()) {
        const double leg = Leg(r, node, next);
        rules->JoinSoft(static_cast<int64_t>(r), clock, leg, LegTravel(r, node, next, leg),
                        route.rest[q]);
        return rules->CostOf(static_cast<int64_t>(r), clock) + DayPrice(r, clock);
    }
    for (size_t k = q; k < nodes.size(); ++k) {
        StepSoft(r, clock, k == q ? node : nodes[k - 1], nodes[k], k + 1 < nodes.size());
        // From the same time at the same node on, the rest of the route is as before, but for
        // one stop more.
        if (k + 1 < nodes.size() && clock.time == route.arrival[k] && route.since.empty()) {
            if (!route.travel.empty()) clock.travel += route.travel.back() - route.travel[k];
            clock.warp += route.warp.back() - route.warp[k];
            clock.time = route.arrival.back();
            clock.stops = static_cast<int64_t>(nodes.size()) - 1;
            break;
        }
    }
    return rules->CostOf(static_cast<int64_t>(r), clock) + DayPrice(r, clock);
}

bool RouteSet::Insert(size_t r, size_t q, Vertex node) {
    PutIn(r, q, node);
    return AfterChange(r, q, q + 1);
}

void RouteSet::InsertForLook(size_t r, size_t q, Vertex node) {
    PutIn(r, q, node);
    Refresh(r, q);
}

void RouteSet::RemoveAfterLook(size_t r, size_t q) {
    TakeOut(r, q, q);
    Refresh(r, q);
}

void RouteSet::PutIn(size_t r, size_t q, Vertex node) {
    Route& route = routes[r];
    route.nodes.insert(route.nodes.begin() + static_cast<std::ptrdiff_t>(q), node);
    route.arrival.insert(route.arrival.begin() + static_cast<std::ptrdiff_t>(q), 0.0);
    holder[static_cast<size_t>(node)] = static_cast<int32_t>(r);
    if (waits_on) waiting_nodes[r] += may_wait[static_cast<size_t>(node)];
    if (IsOptional(node)) lost_prize -= tasks->Prize(node);
    Renumber(r, q);
}

void RouteSet::TakeOut(size_t r, size_t first, size_t last) {
    Route& route = routes[r];
    for (size_t k = first; k <= last; ++k) {
        const auto node = static_cast<size_t>(route.nodes[k]);
        holder[node] = -1;
        if (waits_on) waiting_nodes[r] -= may_wait[node];
        if (IsOptional(route.nodes[k])) lost_prize += tasks->Prize(route.nodes[k]);
    }
    route.nodes.erase(route.nodes.begin() + static_cast<std::ptrdiff_t>(first),
                      route.nodes.begin() + static_cast<std::ptrdiff_t>(last) + 1);
    route.arrival.erase(route.arrival.begin() + static_cast<std::ptrdiff_t>(first),
                        route.arrival.begin() + static_cast<std::ptrdiff_t>(last) + 1);
    Renumber(r, first);
}

bool RouteSet::RemoveRange(size_t r, size_t first, size_t last) {
    TakeOut(r, first, last);
    return AfterChange(r, first, first);
}

}  // namespace tamrik
