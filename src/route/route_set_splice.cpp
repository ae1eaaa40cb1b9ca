// Pricing and making a change of one route: its nodes after position `keep` and before
// position `resume` give way to others. Every move of the route layer is one or two of these.
#include <algorithm>
#include <iterator>

#include "route/route_set.h"

namespace tamrik {

template <typename Nodes>
bool RouteSet::SpliceAllowed(size_t r, size_t keep, Nodes middle, size_t resume) const {
    const std::vector<Vertex>& nodes = routes[r].nodes;
    if (keep + 1 < FirstFree(r) || resume <= keep || resume >= nodes.size()) return false;
    // Paired stops (and those that wait across routes) move only through insertion, which
    // keeps their pairs.
    const auto unpaired = [this](Vertex v) {
        return tasks == nullptr || !tasks->HasPairs() ||
               (tasks->SameOf(v).empty() && tasks->DiffOf(v).empty() &&
                tasks->BeforeOf(v).empty() && tasks->AfterOf(v).empty());
    };
    if (waits_on) return false;
    for (size_t k = keep + 1; k < resume; ++k) {
        if (!unpaired(nodes[k])) return false;
    }
    const auto outside = [&](Vertex v) {
        if (RouteHolding(v) != static_cast<int32_t>(r)) return false;
        const auto at = static_cast<size_t>(PositionOf(v));
        return at <= keep || at >= resume;
    };
    return std::all_of(middle.begin(), middle.end(), [&](Vertex v) {
        return IsMovable(v) && Accepts(r, v) && unpaired(v) && !outside(v);
    });
}

template <typename Nodes>
double RouteSet::SpliceLoadPrice(size_t r, size_t keep, Nodes middle, size_t resume) const {
    if (!loads_on) return 0.0;
    const Route& route = routes[r];
    const size_t dims = tasks->Dimensions();
    return LoadPrice(r, [&](size_t d) {
        LoadStretch load = route.load_before[keep * dims + d];
        for (Vertex v : middle) load = LoadStretch::Join(load, tasks->LoadOf(v, d));
        return LoadStretch::Join(load, route.load_after[resume * dims + d]);
    });
}

template <typename Nodes>
double RouteSet::SpliceTimePrice(size_t r, size_t keep, Nodes middle, size_t resume) const {
    const Route& route = routes[r];
    const std::vector<Vertex>& nodes = route.nodes;
    const auto agent = static_cast<int64_t>(r);
    const size_t n = nodes.size();
    if (plain[r]) {
        // Without windows, limits or days the route costs the sum of its legs.
        double cost = route.arrival[keep] + (route.arrival[n - 1] - route.arrival[resume]);
        Vertex from = nodes[keep];
        for (Vertex v : middle) {
            cost += Leg(r, from, v);
            from = v;
        }
        return cost + Leg(r, from, nodes[resume]);
    }
    RouteClock clock = ClockAt(r, keep);
    Vertex from = nodes[keep];
    const bool soft = soft_days;
    for (Vertex v : middle) {
        if (soft) {
            StepSoft(r, clock, from, v, true);
        } else if (!Step(r, clock, from, v, true)) {
            return kInfeasible;
        }
        from = v;
    }
    if (!route.rest.empty()) {
        const double leg = Leg(r, from, nodes[resume]);
        const double travel = LegTravel(r, from, nodes[resume], leg);
        if (soft) {
            rules->JoinSoft(agent, clock, leg, travel, route.rest[resume]);
            return rules->CostOf(static_cast<int64_t>(r), clock) + DayPrice(r, clock);
        }
        const bool kept =
            rules->Join(agent, clock, leg, travel, route.rest[resume]) == RouteViolation::Rule::kNone;
        return kept ? rules->CostOf(static_cast<int64_t>(r), clock) : kInfeasible;
    }
    for (size_t k = resume; k < n; ++k) {
        const Vertex to = nodes[k];
        if (soft) {
            StepSoft(r, clock, from, to, k + 1 < n);
        } else if (!Step(r, clock, from, to, k + 1 < n)) {
            return kInfeasible;
        }
        from = to;
    }
    if (soft) return rules->CostOf(static_cast<int64_t>(r), clock) + DayPrice(r, clock);
    return rules->CostOf(static_cast<int64_t>(r), clock);
}

template <typename Nodes>
double RouteSet::SplicePriceOver(size_t r, size_t keep, Nodes middle, size_t resume) const {
    if (!SpliceAllowed(r, keep, middle, resume)) return kInfeasible;
    const double load_price = SpliceLoadPrice(r, keep, middle, resume);
    if (load_price == kInfeasible) return kInfeasible;
    const double time_price = SpliceTimePrice(r, keep, middle, resume);
    return time_price == kInfeasible ? kInfeasible : time_price + load_price;
}

double RouteSet::SplicePrice(size_t r, size_t keep, std::span<const Vertex> middle,
                             size_t resume) const {
    return SplicePriceOver(r, keep, middle, resume);
}

double RouteSet::ReversalPrice(size_t r, size_t first, size_t last) const {
    const std::vector<Vertex>& nodes = routes[r].nodes;
    if (first == 0 || last <= first || last + 1 >= nodes.size()) return kInfeasible;
    const auto begin = nodes.begin() + static_cast<std::ptrdiff_t>(first);
    const auto end = nodes.begin() + static_cast<std::ptrdiff_t>(last) + 1;
    const Reversed reversed{std::make_reverse_iterator(end), std::make_reverse_iterator(begin)};
    return SplicePriceOver(r, first - 1, reversed, last + 1);
}

void RouteSet::FindTwins() {
    twin.assign(routes.size(), 0);
    for (size_t r = 0; r < routes.size(); ++r) {
        twin[r] = r;
        const std::vector<Vertex>& nodes = routes[r].nodes;
        if (nodes.size() < 2) continue;
        const auto row = accepts.begin() + static_cast<std::ptrdiff_t>(r * vertex_count);
        for (size_t s = 0; s < r; ++s) {
            if (twin[s] != s || routes[s].nodes.size() < 2) continue;
            const auto other = accepts.begin() + static_cast<std::ptrdiff_t>(s * vertex_count);
            if (profile[s] == profile[r] && plain[s] == plain[r] &&
                routes[s].nodes.back() == nodes.back() &&
                std::equal(row, row + static_cast<std::ptrdiff_t>(vertex_count), other)) {
                twin[r] = s;
                break;
            }
        }
    }
}

bool RouteSet::TailsJoinDirectly(size_t r, size_t s) const {
    const bool paired = tasks != nullptr && tasks->HasPairs();
    return twin[r] == twin[s] && !fixed_inside && !waits_on && !paired &&
           (plain[r] || (!routes[r].rest.empty() && !routes[s].rest.empty()));
}

double RouteSet::TailSwapPrice(size_t r, size_t keep, size_t s, size_t s_keep) const {
    const Route& mine = routes[r];
    const Route& theirs = routes[s];
    if (!TailsJoinDirectly(r, s)) {
        const std::span<const Vertex> tail(theirs.nodes.data() + s_keep + 1,
                                           theirs.nodes.size() - 2 - s_keep);
        return SplicePrice(r, keep, tail, mine.nodes.size() - 1);
    }
    // Pinned stops stay where they are, on either route.
    if (keep + 1 < FirstFree(r) || s_keep + 1 < FirstFree(s)) return kInfeasible;
    const size_t dims = loads_on ? tasks->Dimensions() : 0;
    const double load_price = loads_on ? LoadPrice(r, [&](size_t d) {
        return LoadStretch::Join(mine.load_before[keep * dims + d],
                                 theirs.load_after[(s_keep + 1) * dims + d]);
    }) : 0.0;
    if (load_price == kInfeasible) return kInfeasible;
    const Vertex from = mine.nodes[keep];
    const Vertex to = theirs.nodes[s_keep + 1];
    const double leg = Leg(r, from, to);
    if (plain[r]) {
        return mine.arrival[keep] + leg + (theirs.arrival.back() - theirs.arrival[s_keep + 1]) +
               load_price;
    }
    RouteClock clock = ClockAt(r, keep);
    const double travel = LegTravel(r, from, to, leg);
    const auto agent = static_cast<int64_t>(r);
    if (soft_days) {
        rules->JoinSoft(agent, clock, leg, travel, theirs.rest[s_keep + 1]);
        return rules->CostOf(static_cast<int64_t>(r), clock) + DayPrice(r, clock) + load_price;
    }
    const bool kept =
        rules->Join(agent, clock, leg, travel, theirs.rest[s_keep + 1]) == RouteViolation::Rule::kNone;
    return kept ? rules->CostOf(static_cast<int64_t>(r), clock) + load_price : kInfeasible;
}

bool RouteSet::Splice(size_t r, size_t keep, std::span<const Vertex> middle, size_t resume) {
    if (resume > keep + 1) TakeOut(r, keep + 1, resume - 1);
    for (size_t k = 0; k < middle.size(); ++k) PutIn(r, keep + 1 + k, middle[k]);
    return AfterChange(r, keep + 1, keep + 1 + middle.size());
}

bool RouteSet::Reverse(size_t r, size_t first, size_t last) {
    std::vector<Vertex>& nodes = routes[r].nodes;
    std::reverse(nodes.begin() + static_cast<std::ptrdiff_t>(first),
                 nodes.begin() + static_cast<std::ptrdiff_t>(last) + 1);
    Renumber(r, first);
    return AfterChange(r, first, last + 1);
}

bool RouteSet::Exchange(size_t r, size_t p, size_t s, size_t q) {
    Vertex& here = routes[r].nodes[p];
    Vertex& there = routes[s].nodes[q];
    if (waits_on) {
        const int32_t moved = may_wait[static_cast<size_t>(there)] - may_wait[static_cast<size_t>(here)];
        waiting_nodes[r] += moved;
        waiting_nodes[s] -= moved;
    }
    std::swap(here, there);
    holder[static_cast<size_t>(here)] = static_cast<int32_t>(r);
    holder[static_cast<size_t>(there)] = static_cast<int32_t>(s);
    position[static_cast<size_t>(here)] = static_cast<int32_t>(p);
    position[static_cast<size_t>(there)] = static_cast<int32_t>(q);
    const bool kept = AfterChange(r, p, p + 1);
    return AfterChange(s, q, q + 1) && kept;
}

}  // namespace tamrik
