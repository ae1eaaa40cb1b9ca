#pragma once

#include <cstdint>
#include <limits>
#include <iterator>
#include <memory>
#include <span>
#include <vector>

#include "route/load_stretch.h"
#include "route/route_rules.h"
#include "records/search_records.h"
#include "route/task_rules.h"
#include "route/soft_rules.h"

namespace tamrik {

// The working solution of the improvement stage: one route per agent, first and last node
// fixed, with the agent's time (its accumulated cost, waiting included) at every position.
// Leg costs come from the route rules (from dense tables built once through them when the
// rules have a graph), so every time here is the one RouteRules::EvaluatePath computes for
// the same path.
class RouteSet {
public:
    struct Route {
        std::vector<Vertex> nodes;
        // arrival[k]: when service at nodes[k] starts (after any wait).
        std::vector<double> arrival;
        // With shifts, stop limits or travel costs in force: travel[k], the travel billed up
        // to nodes[k] (empty otherwise).
        std::vector<double> travel;
        // With shifts in force: since[k], the route up to nodes[k] as one stretch (empty
        // otherwise). Where stretches time the route (see timed_by_stretch): rest[k], the
        // route from nodes[k] on as one stretch (empty otherwise).
        std::vector<TimeStretch> since;
        std::vector<TimeStretch> rest;
        // When the agent leaves its start, and what the route costs (its duration from then,
        // or its travel).
        double departure = 0.0;
        double cost = 0.0;
        // With loads in force, per load dimension d of D: load_before[k * D + d], nodes[0 .. k]
        // as one load stretch (entered empty, so its delta is the change after nodes[k]), and
        // load_after[k * D + d], nodes[k ..] (empty otherwise).
        std::vector<LoadStretch> load_before;
        std::vector<LoadStretch> load_after;
        // With soft days (see SetWeights): warp[k], the time warp up to nodes[k] (empty
        // otherwise).
        std::vector<double> warp;
        // How far the route breaks each rule that bends (how far its loads leave
        // [0, capacity], its time warp, ...), and the price of that.
        RuleAmounts excess{};
        double penalty = 0.0;
        // What the route counts for when solutions are compared: its cost and, with rules
        // that bend, the price of breaking them.
        double Cost() const { return cost + penalty; }
    };

    // `rules` (and `tasks`, when given) must stay alive and bound to the instance while this
    // set is used. With tasks, every route also keeps its loads within the agent's capacity,
    // pairs stay on one route or on two as their kind demands, and times include the waits
    // that precedence imposes, across routes too.
    explicit RouteSet(const RouteRules& rules, const TaskRules* tasks = nullptr);

    // Takes the routes (vertex indices, one per agent). Nodes between the ends that are no
    // start or end of any agent become movable. False when a route breaks the rules.
    bool Load(const std::vector<std::vector<int64_t>>& paths);
    // Every agent's route from its start straight to its end (or, without a return
    // obligation, back to its start when the end's window binds more or the way to the end
    // breaks a rule), with every vertex that is no agent's start or end movable and out. The
    // agents whose routes break the rules either way are returned (empty: the set is ready
    // to be filled).
    std::vector<size_t> LoadEmpty();

    // Takes the routes of another set loaded from the same instance, reusing storage.
    void CopyRoutesFrom(const RouteSet& other) {
        routes = other.routes;
        holder = other.holder;
        position = other.position;
        waiting_nodes = other.waiting_nodes;
        lost_prize = other.lost_prize;
    }
    // Takes the routes flagged in `which` from another set of the same instance, in which the
    // nodes of those routes (and optional stops that went out or in) are all that moved.
    void CopyRoutesFrom(const RouteSet& other, const std::vector<uint8_t>& which);

    // Rules that bend: with a weight above 0 a route may break the rule, and pays the weight
    // per unit of excess in Cost(); the rule then fails no change. Loads bend where loads are
    // in force; time (windows, shifts), cost limits and stop limits where no precedence ties
    // the routes' times together. A weight of 0 makes the rule hard again. Sets that exchange
    // routes must share the weights.
    void SetWeights(const RuleAmounts& weights);
    const RuleAmounts& Weights() const { return weights; }
    bool Bends() const { return soft_loads || soft_days; }
    // Soft loads alone, at this weight.
    void SetLoadWeight(double weight) {
        RuleAmounts only{};
        only[kCapacityRule] = weight;
        SetWeights(only);
    }
    // How far the routes break the rules that bend, in total (0: they keep them all), and
    // one rule alone.
    double Violation() const;
    double ExcessOf(SoftRule rule) const;

    size_t RouteCount() const { return routes.size(); }
    const Route& RouteOf(size_t r) const { return routes[r]; }
    const std::vector<Vertex>& Movable() const { return movable; }
    bool IsMovable(Vertex node) const { return movable_flag[static_cast<size_t>(node)] != 0; }
    // The route holding the node and its position there (-1 while the node is out).
    int32_t RouteHolding(Vertex node) const { return holder[static_cast<size_t>(node)]; }
    int32_t PositionOf(Vertex node) const {
        return holder[static_cast<size_t>(node)] < 0 ? -1 : position[static_cast<size_t>(node)];
    }
    size_t VertexCount() const { return vertex_count; }
    // Whether the node is an optional stop, and the prizes of the optional stops now out.
    bool IsOptional(Vertex node) const { return tasks != nullptr && tasks->IsOptional(node); }
    double LostPrize() const { return lost_prize; }
    // Gives the empty route r these stops in order; false, leaving it empty, when one is not
    // movable or already held, the route breaks a rule, or pairs must go in one at a time.
    bool LoadRoute(size_t r, const std::vector<Vertex>& stops);
    // Keeps the first `count` stops of route r in place (visits already made): they are no
    // longer movable, and nothing goes in before or between them.
    void PinPrefix(size_t r, size_t count);
    // The first position of route r before which a node may go in.
    size_t FirstFree(size_t r) const { return first_free.empty() ? 1 : first_free[r]; }
    // Whether route r may receive the node at all (type, foreign start or end, cost limit).
    bool Accepts(size_t r, Vertex node) const {
        return accepts[r * vertex_count + static_cast<size_t>(node)] != 0;
    }
    double Leg(size_t r, Vertex from, Vertex to) const {
        if (legs.empty()) return rules->LegCost(profile_rules[profile[r]], from, to);
        return legs[profile[r]][static_cast<size_t>(from) * vertex_count + static_cast<size_t>(to)];
    }
    // What the leg from -> to of route r, taking `leg`, bills as travel.
    double LegTravel(size_t r, Vertex from, Vertex to, double leg) const {
        return rules->LegTravel(profile_rules[profile[r]], from, to, leg);
    }
    // A cost-only distance between two vertices, for neighbour lists.
    double Distance(Vertex a, Vertex b) const;

    // The cost of route r with the node inserted before position q (0 < q < size), or
    // kInfeasible when the result would break a window, the cost limit, the capacity or a
    // pair (precedence waits for nodes on other routes at their present times). Routes without
    // windows or limit answer from their legs alone, which may differ from the summed cost
    // in the last bits.
    static constexpr double kInfeasible = std::numeric_limits<double>::infinity();
    double InsertionCost(size_t r, size_t q, Vertex node) const;
    // Both return whether the routes still keep their rules.
    bool Insert(size_t r, size_t q, Vertex node);
    // Removes the nodes at positions first .. last of route r (interior, movable).
    bool RemoveRange(size_t r, size_t first, size_t last);
    // Insert and remove for looking ahead within route r: only its own times are refreshed,
    // other routes' times stay as they are. A look must be undone before anything else
    // changes.
    void InsertForLook(size_t r, size_t q, Vertex node);
    void RemoveAfterLook(size_t r, size_t q);
    // Recomputes the times of route r from position `from` on; false when a window or the
    // cost limit is broken (the times are then meaningless until the route is mended).
    bool Refresh(size_t r, size_t from);

    // The cost (Route::Cost) route r would have with its nodes after position `keep` and
    // before position `resume` replaced by `middle` (0 <= keep < resume < size, pinned stops
    // kept), or kInfeasible when that breaks a rule that does not bend. Every node of `middle`
    // must be movable, and none may be on route r outside the stops replaced (one held by
    // another route is priced as if it were out; it must be out when the splice is made).
    // Priced from the prefix clock and the suffix
    // stretch where the route keeps them, else by walking the rest; loads from their load
    // stretches. Paired stops and waits across routes are not spliced (kInfeasible).
    double SplicePrice(size_t r, size_t keep, std::span<const Vertex> middle,
                       size_t resume) const;
    // The same for route r with its stops after position `keep` replaced by those route s
    // (s != r) has after position `s_keep`, r's own end kept (one half of a tail exchange).
    // O(1) from r's prefix and s's suffix when the two routes are twins: the same legs, the
    // same end and the same stops allowed.
    double TailSwapPrice(size_t r, size_t keep, size_t s, size_t s_keep) const;
    // The same for route r with its nodes first .. last in reverse order.
    double ReversalPrice(size_t r, size_t first, size_t last) const;
    // Makes the splice, or the reversal; both return whether the route keeps its rules.
    bool Splice(size_t r, size_t keep, std::span<const Vertex> middle, size_t resume);
    bool Reverse(size_t r, size_t first, size_t last);
    // The stops at position p of route r and position q of route s (r != s) trade places;
    // whether both routes keep their rules.
    bool Exchange(size_t r, size_t p, size_t s, size_t q);

    // What using route r's agent costs, paid while its route serves a target; and what
    // opening the route (its first target) would add now.
    double Fixed(size_t r) const {
        return routes[r].nodes.size() > 2 ? rules->FixedCost(static_cast<int64_t>(r)) : 0.0;
    }
    double OpeningCost(size_t r) const {
        return routes[r].nodes.size() > 2 ? 0.0 : rules->FixedCost(static_cast<int64_t>(r));
    }
    // The cost of route r summed leg by leg, as the route rules walk it.
    double SummedCost(size_t r) const;
    double Largest() const;
    // The route costs and the fixed costs of the agents used.
    double Total() const;
    std::vector<std::vector<int64_t>> Paths() const;

    bool IsSimple(size_t r) const { return simple[r] != 0; }
    // Whether routes r and s cost their legs alike, end at one vertex and allow the same stops.
    bool Twins(size_t r, size_t s) const { return twin[r] == twin[s]; }
    // Whether route r with the node in it costs the sum of its legs: without windows and
    // limit, and with no node that may wait for one on another route.
    bool SumsLegs(size_t r, Vertex node) const {
        return plain[r] && (!waits_on || (waiting_nodes[r] == 0 &&
                                          !may_wait[static_cast<size_t>(node)]));
    }
    const TaskRules* Tasks() const { return tasks; }
    // Whether some stop may wait for one on another route (precedence across routes).
    bool Waits() const { return waits_on; }
    // Whether inserting the node into route r before position q can change the times of
    // another route: the node, or one after it on r, is what a node elsewhere waits for.
    bool DelaysOthers(size_t r, size_t q, Vertex node) const {
        return waits_on && DelaysOthersSlow(r, q, node);
    }
    // The largest route cost and the total with the node in route r before position q, all
    // routes timed together; false when that breaks a rule. The set is left as it was.
    bool TryInsertion(size_t r, size_t q, Vertex node, double& largest, double& total);
    // Recomputes the loads of every route and the times of all routes together; whether
    // every route keeps its rules (used after several changes made in a row).
    bool RecheckAll();

private:
    // Whether route r's end has a strictly tighter window than its start.
    bool EndBindsMore(size_t r) const;
    // Sizes the tables for `route_count` routes and sets up each route's leg rules.
    void Prepare(size_t route_count);
    std::vector<double> DenseLegs(const RouteRules::LegRules& leg_rules) const;
    void FillAccepts(size_t r);
    // Flags of the vertices that are some agent's start or end.
    std::vector<uint8_t> EndpointFlags() const;
    // Refresh of a route whose day bends: the clock never stops, and the route's warp and
    // excess are measured.
    void RefreshSoftDay(size_t r, size_t from);
    // Sets route r's penalty from its excess.
    void Reprice(size_t r) { routes[r].penalty = PriceOf(routes[r].excess, weights); }
    // The insertion cost of a route whose day bends, with the price of what it breaks.
    double SoftInsertionCost(size_t r, size_t q, Vertex node) const;
    double DayPrice(size_t r, const RouteClock& clock) const {
        const RouteRules::Excess excess = rules->ExcessOf(static_cast<int64_t>(r), clock);
        return weights[kTimeRule] * excess.warp + weights[kCostLimitRule] * excess.cost +
               weights[kStopRule] * excess.stops;
    }
    void StepSoft(size_t r, RouteClock& clock, Vertex from, Vertex to, bool target) const {
        const double leg = Leg(r, from, to);
        rules->AdvanceSoft(static_cast<int64_t>(r), clock, leg, LegTravel(r, from, to, leg), to,
                           target);
    }
    // Refresh for a change that ends at position `through`: on a large instance a route without
    // windows or limit recomputes only the times up to there and shifts the rest by the
    // change (the sums may then differ from a walk's in the last bits).
    bool RefreshThrough(size_t r, size_t from, size_t through);
    void PutIn(size_t r, size_t q, Vertex node);
    void TakeOut(size_t r, size_t first, size_t last);
    // Makes every optional stop that is no route's movable (out, if no route holds it), and
    // sums the prizes of those out.
    void TakeOptionalStops(const std::vector<uint8_t>& endpoint);
    // Records the positions of route r's nodes from position `from` on.
    void Renumber(size_t r, size_t from);
    // Loads of route r from position `from` on, and its suffix bounds; whether they fit.
    bool RefreshLoads(size_t r, size_t from);
    bool LoadFits(size_t r, size_t q, Vertex node) const;
    // Route r's overload with the node inserted before position q (soft loads).
    double ExcessWith(size_t r, size_t q, Vertex node) const;
    // The cost of route r with the node inserted, before any price of overload.
    double TimedInsertionCost(size_t r, size_t q, Vertex node) const;
    // Whether the node's pairs allow it into route r before position q.
    bool PairsAllow(size_t r, size_t q, Vertex node) const;
    // The earliest time the node may be served on route r: once its `before` partners on
    // other routes are (-infinity when none waits).
    double ReleaseOf(size_t r, Vertex node) const;
    // The clock of route r's agent after position p.
    RouteClock ClockAt(size_t r, size_t p) const;
    // Recomputes route r's travel prefix from its legs.
    void FillTravel(size_t r);
    // Recomputes route r's suffix stretches.
    void FillRest(size_t r);
    // Moves route r's clock over the leg from -> to (to at position k of the route after the
    // change); whether every rule holds.
    bool Step(size_t r, RouteClock& clock, Vertex from, Vertex to, bool target) const {
        const double release = waits_on ? ReleaseOf(r, to) : -std::numeric_limits<double>::infinity();
        const double leg = Leg(r, from, to);
        return rules->Advance(static_cast<int64_t>(r), clock, leg, LegTravel(r, from, to, leg), to,
                              target, release) == RouteViolation::Rule::kNone;
    }
    bool DelaysOthersSlow(size_t r, size_t q, Vertex node) const;
    // What a splice's price is made of (see SplicePrice), over any range of nodes.
    struct Reversed {
        std::reverse_iterator<std::vector<Vertex>::const_iterator> first;
        std::reverse_iterator<std::vector<Vertex>::const_iterator> last;
        auto begin() const { return first; }
        auto end() const { return last; }
    };
    template <typename Nodes>
    double SplicePriceOver(size_t r, size_t keep, Nodes middle, size_t resume) const;
    template <typename Nodes>
    bool SpliceAllowed(size_t r, size_t keep, Nodes middle, size_t resume) const;
    // 0, or with soft loads the price of the overload; kInfeasible when hard loads break.
    template <typename Nodes>
    double SpliceLoadPrice(size_t r, size_t keep, Nodes middle, size_t resume) const;
    template <typename Nodes>
    double SpliceTimePrice(size_t r, size_t keep, Nodes middle, size_t resume) const;
    // The price of route r's loads once they run, in dimension d, as `load_in(d)`: 0 when
    // they fit, kInfeasible when hard loads break, the weighted overload when they bend.
    template <typename LoadIn>
    double LoadPrice(size_t r, const LoadIn& load_in) const {
        if (soft_loads) return weights[kCapacityRule] * LoadExcess(r, load_in);
        for (size_t d = 0; d < tasks->Dimensions(); ++d) {
            if (!load_in(d).Fits(tasks->Capacity(r, d), TaskRules::kLoadTolerance)) return kInfeasible;
        }
        return 0.0;
    }
    // How far those loads leave [0, capacity], summed over the dimensions.
    template <typename LoadIn>
    double LoadExcess(size_t r, const LoadIn& load_in) const {
        double excess = 0.0;
        for (size_t d = 0; d < tasks->Dimensions(); ++d) excess += load_in(d).Excess(tasks->Capacity(r, d));
        return excess <= TaskRules::kLoadTolerance ? 0.0 : excess;
    }
    // Whether routes r and s may exchange tails priced from their stretches alone.
    bool TailsJoinDirectly(size_t r, size_t s) const;
    // Groups the routes into twins (see TailSwapPrice), once their ends and accepts are known.
    void FindTwins();
    // Times all routes together; whether every window and cost limit holds.
    bool Settle();
    // After a change to route r from position `from` (through position `through`).
    bool AfterChange(size_t r, size_t from, size_t through);

    const RouteRules* rules;
    const TaskRules* tasks = nullptr;
    bool loads_on = false;
    RuleAmounts weights{};
    bool soft_loads = false;
    bool soft_days = false;
    bool pairs_on = false;
    bool waits_on = false;
    TaskRules::Scratch timing;
    std::vector<TaskRules::RouteView> views;
    size_t vertex_count = 0;
    std::vector<Route> routes;
    std::vector<Vertex> movable;
    std::vector<uint8_t> movable_flag;
    double lost_prize = 0.0;
    std::vector<int32_t> holder;
    // position[v]: v's index in the route holding it (meaningless while v is out).
    std::vector<int32_t> position;
    std::vector<uint8_t> accepts;
    // twin[r]: the first route that is route r's twin. Whether some route holds an agent's
    // start or end between its own ends (such a stop never moves, so no tail with it is
    // priced from stretches).
    std::vector<size_t> twin;
    bool fixed_inside = false;
    // Per route, the position after its pinned stops (empty while none is pinned).
    std::vector<size_t> first_free;
    std::vector<double> cost_limits;
    // Routes whose cost is the sum of their legs and that have no limit: their insertion
    // costs need no walk.
    std::vector<uint8_t> simple;
    // Under waits: routes without windows and limit (plain), the vertices that may wait for
    // a node on another route (a `before` that is no "same" partner), and per route how many
    // of those it holds.
    std::vector<uint8_t> plain;
    std::vector<uint8_t> may_wait;
    std::vector<int32_t> waiting_nodes;
    bool shift_times = false;
    // Whether routes keep their suffixes as stretches, so that an insertion is tested in
    // O(1): when their timing matters (not plain) and every node has one fixed window.
    bool timed_by_stretch = false;
    // One set of leg rules per distinct way of costing legs, with its dense leg table when the
    // rules have a graph (none: legs are costed when asked); profile[r] picks route r's.
    std::vector<RouteRules::LegRules> profile_rules;
    // Copies of a set share its tables, which never change once built.
    std::vector<const double*> legs;
    std::vector<std::shared_ptr<const std::vector<double>>> leg_tables;
    std::vector<size_t> profile;
};

}  // namespace tamrik
