// Loads and task order in the route set: prefix loads, pairs, times that wait across routes;
// and stops pinned in place.
#include <algorithm>
#include <limits>

#include "route/route_set.h"

namespace tamrik {

bool RouteSet::AfterChange(size_t r, size_t from, size_t through) {
    // Times of other routes may wait on this one: all are timed again together.
    if (!waits_on) return RefreshThrough(r, from, through);
    const bool loads_fit = !loads_on || RefreshLoads(r, from);
    return Settle() && loads_fit;
}

bool RouteSet::DelaysOthersSlow(size_t r, size_t q, Vertex node) const {
    const auto route = static_cast<int32_t>(r);
    const auto waited_for = [&](Vertex v) {
        for (Vertex after : tasks->AfterOf(v)) {
            const int32_t at = holder[static_cast<size_t>(after)];
            if (at >= 0 && at != route) return true;
        }
        return false;
    };
    if (waited_for(node)) return true;
    const std::vector<Vertex>& nodes = routes[r].nodes;
    for (size_t k = q; k < nodes.size(); ++k) {
        if (waited_for(nodes[k])) return true;
    }
    return false;
}

bool RouteSet::TryInsertion(size_t r, size_t q, Vertex node, double& largest, double& total) {
    const bool feasible = Insert(r, q, node);
    largest = Largest();
    total = Total();
    RemoveRange(r, q, q);
    return feasible;
}

bool RouteSet::RecheckAll() {
    bool feasible = true;
    for (size_t r = 0; r < routes.size(); ++r) {
        if (!waits_on) {
            feasible = Refresh(r, 0) && feasible;
        } else if (loads_on) {
            feasible = RefreshLoads(r, 0) && feasible;
        }
    }
    return (!waits_on || Settle()) && feasible;
}

bool RouteSet::RefreshLoads(size_t r, size_t from) {
    Route& route = routes[r];
    const size_t n = route.nodes.size();
    const size_t dims = tasks->Dimensions();
    route.load_before.resize(n * dims);
    route.load_after.resize(n * dims);
    if (n == 0) return true;
    for (size_t d = 0; d < dims; ++d) {
        // The start's load is the route's entry level, whatever its demand.
        const auto stretch_at = [&](size_t k) {
            return k == 0 ? LoadStretch{} : tasks->LoadOf(route.nodes[k], d);
        };
        LoadStretch* before = route.load_before.data() + d;
        LoadStretch* after = route.load_after.data() + d;
        before[0] = stretch_at(0);
        for (size_t k = std::max<size_t>(from, 1); k < n; ++k) {
            before[k * dims] = LoadStretch::Join(before[(k - 1) * dims], stretch_at(k));
        }
        after[(n - 1) * dims] = stretch_at(n - 1);
        for (size_t k = n - 1; k-- > 0;) {
            after[k * dims] = LoadStretch::Join(stretch_at(k), after[(k + 1) * dims]);
        }
    }
    const LoadStretch* whole = &route.load_before[(n - 1) * dims];
    const auto whole_in = [whole](size_t d) { return whole[d]; };
    if (!soft_loads) return LoadPrice(r, whole_in) != kInfeasible;
    route.excess[kCapacityRule] = LoadExcess(r, whole_in);
    Reprice(r);
    return true;
}

double RouteSet::ExcessWith(size_t r, size_t q, Vertex node) const {
    const Route& route = routes[r];
    const size_t dims = tasks->Dimensions();
    return LoadExcess(r, [&](size_t d) {
        return LoadStretch::Join(
            LoadStretch::Join(route.load_before[(q - 1) * dims + d], tasks->LoadOf(node, d)),
            route.load_after[q * dims + d]);
    });
}

void RouteSet::SetWeights(const RuleAmounts& wanted) {
    RuleAmounts next = wanted;
    if (!loads_on) next[kCapacityRule] = 0.0;
    // Times that wait across routes are timed jointly, under hard windows.
    if (waits_on) next[kTimeRule] = next[kCostLimitRule] = next[kStopRule] = 0.0;
    const bool loads_flip = soft_loads != (next[kCapacityRule] > 0.0);
    const bool days_flip = soft_days != DaysBend(next);
    weights = next;
    soft_loads = next[kCapacityRule] > 0.0;
    soft_days = DaysBend(next);
    for (size_t r = 0; r < routes.size(); ++r) {
        Route& route = routes[r];
        if (days_flip && !route.nodes.empty()) {
            Refresh(r, 0);
        } else if (loads_flip && loads_on) {
            RefreshLoads(r, 0);
        }
        for (size_t rule = 0; rule < kSoftRuleCount; ++rule) {
            if (weights[rule] == 0.0) route.excess[rule] = 0.0;
        }
        Reprice(r);
    }
}

bool RouteSet::LoadFits(size_t r, size_t q, Vertex node) const {
    if (soft_loads) return true;
    const Route& route = routes[r];
    const size_t dims = tasks->Dimensions();
    if (dims == 1 && !tasks->HasDeliveries()) {
        // The prefix keeps the capacity already; what follows the insertion is entered heavier.
        const double demand = tasks->Demand(node);
        if (demand == 0.0) return true;
        const LoadStretch rest = LoadStretch::Join(LoadStretch::Of(demand), route.load_after[q]);
        return rest.FitsFrom(route.load_before[q - 1].delta, tasks->Capacity(r),
                             TaskRules::kLoadTolerance);
    }
    for (size_t d = 0; d < dims; ++d) {
        const LoadStretch load = tasks->LoadOf(node, d);
        if (load.delta == 0.0 && load.delivered == 0.0) continue;
        const LoadStretch& before = route.load_before[(q - 1) * dims + d];
        const LoadStretch rest = LoadStretch::Join(load, route.load_after[q * dims + d]);
        // A delivery weighs on the prefix too.
        const bool fits = tasks->HasDeliveries()
                              ? LoadStretch::Join(before, rest).Fits(tasks->Capacity(r, d),
                                                                      TaskRules::kLoadTolerance)
                              : rest.FitsFrom(before.delta, tasks->Capacity(r, d),
                                              TaskRules::kLoadTolerance);
        if (!fits) return false;
    }
    return true;
}

bool RouteSet::PairsAllow(size_t r, size_t q, Vertex node) const {
    const auto route = static_cast<int32_t>(r);
    for (Vertex other : tasks->SameOf(node)) {
        const int32_t at = holder[static_cast<size_t>(other)];
        if (at >= 0 && at != route) return false;
    }
    for (Vertex other : tasks->DiffOf(node)) {
        if (holder[static_cast<size_t>(other)] == route) return false;
    }
    const auto before_q = static_cast<int32_t>(q);
    for (Vertex before : tasks->BeforeOf(node)) {
        if (holder[static_cast<size_t>(before)] == route &&
            position[static_cast<size_t>(before)] >= before_q) {
            return false;
        }
    }
    for (Vertex after : tasks->AfterOf(node)) {
        if (holder[static_cast<size_t>(after)] == route &&
            position[static_cast<size_t>(after)] < before_q) {
            return false;
        }
    }
    return true;
}

double RouteSet::ReleaseOf(size_t r, Vertex node) const {
    const auto route = static_cast<int32_t>(r);
    double release = -std::numeric_limits<double>::infinity();
    for (Vertex before : tasks->BeforeOf(node)) {
        const int32_t at = holder[static_cast<size_t>(before)];
        if (at < 0 || at == route) continue;
        const Route& other = routes[static_cast<size_t>(at)];
        release = std::max(release, other.arrival[static_cast<size_t>(position[static_cast<size_t>(before)])]);
    }
    return release;
}

bool RouteSet::Settle() {
    views.resize(routes.size());
    for (size_t r = 0; r < routes.size(); ++r) {
        Route& route = routes[r];
        views[r] = TaskRules::RouteView{route.nodes.data(), route.nodes.size(),
                                        route.arrival.data()};
    }
    const auto leg = [this](size_t r, Vertex from, Vertex to) {
        const double time = Leg(r, from, to);
        return std::pair{time, LegTravel(r, from, to, time)};
    };
    if (!tasks->TimeJointly(*rules, views, leg, timing)) return false;
    for (size_t r = 0; r < routes.size(); ++r) {
        routes[r].cost = views[r].cost;
        routes[r].departure = views[r].departure;
        if (rules->KeepsDays()) FillTravel(r);
    }
    return true;
}

bool RouteSet::LoadRoute(size_t r, const std::vector<Vertex>& stops) {
    Route& route = routes[r];
    if (pairs_on || route.nodes.size() != 2 || stops.empty()) return false;
    for (Vertex node : stops) {
        if (!IsMovable(node) || holder[static_cast<size_t>(node)] >= 0 || !Accepts(r, node)) {
            return false;
        }
    }
    // Held twice in `stops`: the second holder check above cannot see it.
    std::vector<Vertex> sorted = stops;
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) return false;
    for (Vertex node : stops) {
        PutIn(r, route.nodes.size() - 1, node);
    }
    if (AfterChange(r, 1, route.nodes.size() - 1)) return true;
    TakeOut(r, 1, route.nodes.size() - 2);
    AfterChange(r, 1, 1);
    return false;
}

void RouteSet::PinPrefix(size_t r, size_t count) {
    const std::vector<Vertex>& nodes = routes[r].nodes;
    count = std::min(count, nodes.size() < 2 ? 0 : nodes.size() - 2);
    if (count == 0) return;
    if (first_free.empty()) first_free.assign(routes.size(), 1);
    first_free[r] = count + 1;
    for (size_t k = 1; k <= count; ++k) movable_flag[static_cast<size_t>(nodes[k])] = 0;
    movable.erase(std::remove_if(movable.begin(), movable.end(),
                                 [this](Vertex v) { return movable_flag[static_cast<size_t>(v)] == 0; }),
                  movable.end());
}

}  // namespace tamrik
