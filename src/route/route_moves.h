#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "base/vertex.h"
#include "route/route_set.h"

namespace tamrik {

// What a move costs: the routes it changes (one or two) and what each costs once it is made
// (RouteSet::Route::Cost), or not Feasible when it would break a rule that does not bend.
struct MovePrice {
    std::array<size_t, 2> routes{};
    std::array<double, 2> costs{RouteSet::kInfeasible, RouteSet::kInfeasible};
    // How many nodes each route has once the move is made, its ends included.
    std::array<size_t, 2> sizes{};
    size_t count = 0;

    bool Feasible() const;
    // How much the routes' summed cost changes (prizes won or lost and fixed costs aside).
    double Delta(const RouteSet& set) const;
    // How much the fixed costs of the agents used change: a route that gets its first stop
    // starts paying its agent's, one that loses its last stops no longer does.
    double FixedDelta(const RouteSet& set) const;
};

// The moves every stage makes on a route set. Each has one interface: Price says what the
// move costs against the routes as they are now, in O(1) from the routes' stretches where
// the rules allow it (else from a walk of the stops that change), and Apply makes it, the
// routes then costing what Price said. Apply returns whether the changed routes keep their
// rules. A move is made only on the routes it was priced against.

// An out stop into route `route` before position `position`.
struct InsertMove {
    Vertex node = -1;
    size_t route = 0;
    size_t position = 1;
    MovePrice Price(const RouteSet& set) const;
    bool Apply(RouteSet& set) const;
};

// A stop from its route into another route, before position `position` there; with a count
// above one, the stop and the next count - 1 of its route (kLongestRelocation at most), in
// their order.
constexpr size_t kLongestRelocation = 3;
struct RelocateMove {
    Vertex node = -1;
    size_t route = 0;
    size_t position = 1;
    size_t count = 1;
    MovePrice Price(const RouteSet& set) const;
    // The same, with what the route the stops leave costs without them (LeftCost) already
    // known: a search that tries one run of stops in many places prices its leaving once.
    MovePrice Price(const RouteSet& set, double left_cost) const;
    double LeftCost(const RouteSet& set) const;
    bool Apply(RouteSet& set) const;
};

// The stops at positions first .. last of a route in reverse order (2-opt within a route).
struct ReverseMove {
    size_t route = 0;
    size_t first = 1;
    size_t last = 2;
    MovePrice Price(const RouteSet& set) const;
    bool Apply(RouteSet& set) const;
};

// Two routes trade their tails (2-opt between routes): route `first` keeps its nodes up to
// position `first_keep` and then serves the stops that route `second` has after position
// `second_keep`, before its own end; route `second` the other way round.
struct TailExchangeMove {
    size_t first = 0;
    size_t first_keep = 0;
    size_t second = 1;
    size_t second_keep = 0;
    MovePrice Price(const RouteSet& set) const;
    bool Apply(RouteSet& set) const;
};

// Two stops on different routes trade routes, each going in where it fits best rather than
// where the other was (SWAP*): `first` into the route of `second` before position
// `first_before` there, and `second` into the route of `first` before `second_before`
// (positions as the routes are before the move; the place of the stop that leaves counts too).
struct SwapStarMove {
    Vertex first = -1;
    size_t first_before = 1;
    Vertex second = -1;
    size_t second_before = 1;
    MovePrice Price(const RouteSet& set) const;
    bool Apply(RouteSet& set) const;
};

// Two stops on different routes trade places; with counts above one, the runs of that many
// stops from each (up to kLongestExchange, none past its route's end) trade places in their
// order.
constexpr size_t kLongestExchange = 2;
struct ExchangeMove {
    Vertex first = -1;
    Vertex second = -1;
    size_t first_count = 1;
    size_t second_count = 1;
    MovePrice Price(const RouteSet& set) const;
    bool Apply(RouteSet& set) const;
};

}  // namespace tamrik
