#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "base/vertex.h"
#include "route/load_stretch.h"
#include "route/route_rules.h"

namespace tamrik {

// The answer of the whole-solution test: whether the routes keep every rule and, when they
// do, each route's cost with the waits that precedence across routes imposes.
struct SolutionCheck {
    bool feasible = false;
    std::vector<double> costs;
};

// Loads and task order, in vertex and agent indices, on top of the route rules: node demands
// against agent capacities, and pairs of nodes that must share a route ("same"), must not
// ("diff"), or must be served in order (precedence: `after` no earlier than `before`; an agent
// bound for `after` waits for `before` to be served, and the wait counts as cost). Only what
// is enforced is filled in; with nothing filled in, no rule applies.
class TaskRules {
public:
    // One route while routes are timed together (route r is agent r's): its nodes, where its
    // service times go (one per node), and what timing finds: its cost and departure.
    struct RouteView {
        const Vertex* nodes = nullptr;
        size_t size = 0;
        double* times = nullptr;
        double cost = 0.0;
        double departure = 0.0;
    };
    // Storage that joint timing reuses from one call to the next.
    struct Scratch {
        std::vector<double> time_of;
        std::vector<uint8_t> placed;
        std::vector<uint8_t> served;
        std::vector<size_t> next;
        std::vector<RouteClock> clocks;
    };

    // Sizes the tables for the instance and its load dimensions; no rule applies until one
    // is added.
    void Reset(size_t vertex_count, size_t agent_count, size_t dimensions = 1);
    // Loads of start and end nodes must be left at 0: a route's load is what it delivers at
    // its start. In dimension `dim` serving `vertex` changes the load by `change` (pick-ups
    // less deliveries), `delivered` of which it drops off from what the route set out with.
    void SetLoad(Vertex vertex, size_t dim, double change, double delivered = 0.0);
    void SetDemand(Vertex vertex, double demand) { SetLoad(vertex, 0, demand); }
    // 0 means no limit.
    void SetCapacity(size_t agent, size_t dim, double capacity);
    void SetCapacity(size_t agent, double capacity) { SetCapacity(agent, 0, capacity); }
    void AddSame(Vertex a, Vertex b);
    void AddDiff(Vertex a, Vertex b);
    void AddPrecedence(Vertex before, Vertex after);
    // An optional stop: it may stay off every route, losing its prize.
    void SetOptional(Vertex vertex, double prize);

    bool Active() const { return HasLoads() || has_pairs; }
    bool HasLoads() const { return has_loads; }
    bool HasPairs() const { return has_pairs; }
    bool HasPrecedence() const { return has_precedence; }
    bool HasNegativeDemand() const { return has_negative; }
    bool HasOptional() const { return !optional.empty(); }
    bool IsOptional(Vertex vertex) const {
        return !optional.empty() && optional[static_cast<size_t>(vertex)] != 0;
    }
    double Prize(Vertex vertex) const {
        return optional.empty() ? 0.0 : prize[static_cast<size_t>(vertex)];
    }
    size_t Dimensions() const { return dims; }
    bool HasDeliveries() const { return !delivery.empty(); }
    // The change of the first dimension's load, the size by which stops are ordered.
    double Demand(Vertex vertex) const {
        return has_loads ? demand[static_cast<size_t>(vertex) * dims] : 0.0;
    }
    LoadStretch LoadOf(Vertex vertex, size_t dim) const {
        const size_t at = static_cast<size_t>(vertex) * dims + dim;
        return LoadStretch::Of(demand[at], delivery.empty() ? 0.0 : delivery[at]);
    }
    // Infinity for an agent without a limit.
    double Capacity(size_t agent, size_t dim = 0) const { return capacity[agent * dims + dim]; }
    // Whether what the node loads or unloads, and what is carried to it, is within the
    // agent's capacity in every dimension.
    bool FitsAlone(Vertex vertex, size_t agent) const {
        for (size_t d = 0; d < dims; ++d) {
            const LoadStretch load = LoadOf(vertex, d);
            const double peak = std::max(load.delivered, std::fabs(load.delta + load.delivered));
            if (peak > Capacity(agent, d) + kLoadTolerance) return false;
        }
        return true;
    }
    const std::vector<Vertex>& SameOf(Vertex v) const { return Partners(same_of, v); }
    const std::vector<Vertex>& DiffOf(Vertex v) const { return Partners(diff_of, v); }
    const std::vector<Vertex>& BeforeOf(Vertex v) const { return Partners(before_of, v); }
    const std::vector<Vertex>& AfterOf(Vertex v) const { return Partners(after_of, v); }

    // Whether the loads along the route stay within 0 .. the agent's capacity.
    template <typename Node>
    bool LoadsFit(const Node* nodes, size_t size, size_t agent) const {
        for (size_t d = 0; d < dims; ++d) {
            LoadStretch whole;
            for (size_t k = 1; k < size; ++k) {
                whole = LoadStretch::Join(whole, LoadOf(static_cast<Vertex>(nodes[k]), d));
            }
            if (!whole.Fits(Capacity(agent, d), kLoadTolerance)) return false;
        }
        return true;
    }

    // The whole-solution test: every route by the route rules, loads, pairs, and service
    // times computed jointly with the waits for precedence (a cycle of waits is infeasible).
    SolutionCheck Check(const RouteRules& rules, const std::vector<std::vector<int64_t>>& paths) const;

    // Times the routes together: each node is served at its arrival, after any wait for its
    // window and for every placed `before` partner; a partner that is not placed is ignored.
    // False when a window or a cost limit is broken or the routes wait on each other in a
    // cycle (the times are then incomplete). `leg(r, from, to)` is the time of a leg of route r
    // and its travel, as a pair.
    template <typename Leg>
    bool TimeJointly(const RouteRules& rules, std::vector<RouteView>& routes, const Leg& leg,
                     Scratch& scratch) const;

    // Whether the nodes of each pair share a route or not as their kind demands.
    bool PairsKept(const std::vector<std::vector<int64_t>>& paths) const;

    static constexpr double kLoadTolerance = 1e-9;

private:
    static const std::vector<Vertex>& Partners(const std::vector<std::vector<Vertex>>& table,
                                                Vertex v) {
        static const std::vector<Vertex> kNone;
        return table.empty() ? kNone : table[static_cast<size_t>(v)];
    }
    void SizePairTables();

    size_t vertex_count = 0;
    size_t dims = 1;
    // Per vertex (empty while no stop is optional).
    std::vector<uint8_t> optional;
    std::vector<double> prize;
    bool has_loads = false;
    bool has_negative = false;
    bool has_pairs = false;
    bool has_precedence = false;
    // demand[v * dims + d] and capacity[agent * dims + d]; delivery like demand, empty while
    // nothing is delivered.
    std::vector<double> demand;
    std::vector<double> delivery;
    std::vector<double> capacity;
    std::vector<std::vector<Vertex>> same_of;
    std::vector<std::vector<Vertex>> diff_of;
    std::vector<std::vector<Vertex>> before_of;
    std::vector<std::vector<Vertex>> after_of;
};

template <typename Leg>
bool TaskRules::TimeJointly(const RouteRules& rules, std::vector<RouteView>& routes,
                            const Leg& leg, Scratch& scratch) const {
    scratch.time_of.resize(vertex_count);
    scratch.served.assign(vertex_count, 0);
    scratch.placed.assign(vertex_count, 0);
    scratch.next.assign(routes.size(), 0);
    scratch.clocks.assign(routes.size(), RouteClock{});
    for (const RouteView& route : routes) {
        for (size_t k = 0; k < route.size; ++k) scratch.placed[static_cast<size_t>(route.nodes[k])] = 1;
    }
    for (bool progress = true; progress;) {
        progress = false;
        for (size_t r = 0; r < routes.size(); ++r) {
            RouteView& route = routes[r];
            size_t& k = scratch.next[r];
            if (k == route.size) continue;
            for (; k < route.size; ++k) {
                const Vertex v = route.nodes[k];
                double release = -std::numeric_limits<double>::infinity();
                bool blocked = false;
                for (Vertex before : BeforeOf(v)) {
                    const auto b = static_cast<size_t>(before);
                    if (!scratch.placed[b]) continue;
                    blocked = !scratch.served[b];
                    if (blocked) break;
                    release = std::max(release, scratch.time_of[b]);
                }
                if (blocked) break;
                RouteClock& clock = scratch.clocks[r];
                const auto agent = static_cast<int64_t>(r);
                RouteViolation::Rule broken;
                if (k == 0) {
                    // Other routes wait for these services: they keep their times.
                    broken = rules.Depart(agent, v, clock, true);
                } else {
                    const auto [time, travel] = leg(r, route.nodes[k - 1], v);
                    broken = rules.Advance(agent, clock, time, travel, v, k + 1 < route.size,
                                           release);
                }
                if (broken != RouteViolation::Rule::kNone) return false;
                const double t = clock.time;
                route.times[k] = t;
                route.cost = rules.CostOf(agent, clock);
                route.departure = clock.departure;
                scratch.time_of[static_cast<size_t>(v)] = t;
                scratch.served[static_cast<size_t>(v)] = 1;
                progress = true;
            }
        }
    }
    for (size_t r = 0; r < routes.size(); ++r) {
        if (scratch.next[r] != routes[r].size) return false;
    }
    return true;
}

}  // namespace tamrik
