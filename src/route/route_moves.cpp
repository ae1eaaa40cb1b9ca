#include "route/route_moves.h"

namespace tamrik {
namespace {

MovePrice OneRoute(size_t route, double cost) {
    MovePrice price;
    price.routes[0] = route;
    price.costs[0] = cost;
    price.count = 1;
    return price;
}

MovePrice TwoRoutes(size_t first, double first_cost, size_t second, double second_cost) {
    MovePrice price;
    price.routes = {first, second};
    price.costs = {first_cost, second_cost};
    price.count = 2;
    return price;
}

// Where a stop is held: its route and position, false while it is out.
bool Holding(const RouteSet& set, Vertex node, size_t& route, size_t& position) {
    if (set.RouteHolding(node) < 0) return false;
    route = static_cast<size_t>(set.RouteHolding(node));
    position = static_cast<size_t>(set.PositionOf(node));
    return true;
}

// Whether a stop may go in before `position` of route `route`.
bool Placeable(const RouteSet& set, size_t route, size_t position) {
    return route < set.RouteCount() && position >= 1 && position < set.RouteOf(route).nodes.size();
}

// Whether stops first .. last of the route lie between its ends.
bool Reversible(const RouteSet& set, size_t route, size_t first, size_t last) {
    return route < set.RouteCount() && first >= 1 && first < last &&
           last + 1 < set.RouteOf(route).nodes.size();
}

}  // namespace

bool MovePrice::Feasible() const {
    if (count == 0) return false;
    for (size_t k = 0; k < count; ++k) {
        if (costs[k] == RouteSet::kInfeasible) return false;
    }
    return true;
}

double MovePrice::Delta(const RouteSet& set) const {
    double delta = 0.0;
    for (size_t k = 0; k < count; ++k) delta += costs[k] - set.RouteOf(routes[k]).Cost();
    return delta;
}


MovePrice InsertMove::Price(const RouteSet& set) const {
    if (set.RouteHolding(node) >= 0 || !Placeable(set, route, position) ||
        !set.Accepts(route, node)) {
        return {};
    }
    return OneRoute(route, set.InsertionCost(route, position, node));
}

bool InsertMove::Apply(RouteSet& set) const {
    return Placeable(set, route, position) && set.Insert(route, position, node);
}

MovePrice RelocateMove::Price(const RouteSet& set) const {
    size_t from = 0;
    size_t at = 0;
    if (!Holding(set, node, from, at) || from == route || !Placeable(set, route, position)) {
        return {};
    }
    const double left = set.SplicePrice(from, at - 1, {}, at + 1);
    if (left == RouteSet::kInfeasible) return TwoRoutes(from, left, route, left);
    return TwoRoutes(from, left, route, set.SplicePrice(route, position - 1, {&node, 1}, position));
}

bool RelocateMove::Apply(RouteSet& set) const {
    size_t from = 0;
    size_t at = 0;
    if (!Holding(set, node, from, at) || from == route || !Placeable(set, route, position)) {
        return false;
    }
    const bool left = set.Splice(from, at - 1, {}, at + 1);
    return set.Splice(route, position - 1, {&node, 1}, position) && left;
}

MovePrice ReverseMove::Price(const RouteSet& set) const {
    if (!Reversible(set, route, first, last)) return {};
    return OneRoute(route, set.ReversalPrice(route, first, last));
}

bool ReverseMove::Apply(RouteSet& set) const {
    return Reversible(set, route, first, last) && set.Reverse(route, first, last);
}

MovePrice ExchangeMove::Price(const RouteSet& set) const {
    size_t r = 0;
    size_t p = 0;
    size_t s = 0;
    size_t q = 0;
    if (!Holding(set, first, r, p) || !Holding(set, second, s, q) || r == s) return {};
    const double here = set.SplicePrice(r, p - 1, {&second, 1}, p + 1);
    if (here == RouteSet::kInfeasible) return TwoRoutes(r, here, s, here);
    return TwoRoutes(r, here, s, set.SplicePrice(s, q - 1, {&first, 1}, q + 1));
}

bool ExchangeMove::Apply(RouteSet& set) const {
    size_t r = 0;
    size_t p = 0;
    size_t s = 0;
    size_t q = 0;
    if (!Holding(set, first, r, p) || !Holding(set, second, s, q) || r == s) return false;
    return set.Exchange(r, p, s, q);
}

}  // namespace tamrik
