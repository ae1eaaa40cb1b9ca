#include "route/route_moves.h"

#include <algorithm>
#include <span>
#include <vector>

namespace tamrik {
namespace {

MovePrice OneRoute(size_t route, double cost, size_t size) {
    MovePrice price;
    price.routes[0] = route;
    price.costs[0] = cost;
    price.sizes[0] = size;
    price.count = 1;
    return price;
}

MovePrice TwoRoutes(size_t first, double first_cost, size_t first_size, size_t second,
                    double second_cost, size_t second_size) {
    MovePrice price;
    price.routes = {first, second};
    price.costs = {first_cost, second_cost};
    price.sizes = {first_size, second_size};
    price.count = 2;
    return price;
}

size_t SizeOf(const RouteSet& set, size_t route) { return set.RouteOf(route).nodes.size(); }

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

double MovePrice::FixedDelta(const RouteSet& set) const {
    double delta = 0.0;
    for (size_t k = 0; k < count; ++k) {
        const size_t r = routes[k];
        const double fixed = set.Fixed(r) + set.OpeningCost(r);  // one of them is 0
        delta += (sizes[k] > 2 ? fixed : 0.0) - set.Fixed(r);
    }
    return delta;
}


MovePrice InsertMove::Price(const RouteSet& set) const {
    if (set.RouteHolding(node) >= 0 || !Placeable(set, route, position) ||
        !set.Accepts(route, node)) {
        return {};
    }
    return OneRoute(route, set.InsertionCost(route, position, node), SizeOf(set, route) + 1);
}

bool InsertMove::Apply(RouteSet& set) const {
    return Placeable(set, route, position) && set.Insert(route, position, node);
}

namespace {

// Where the stops of a relocation are: their route and the position of the first, when the
// move is one.
bool Relocatable(const RouteSet& set, const RelocateMove& move, size_t& from, size_t& at) {
    return Holding(set, move.node, from, at) && from != move.route &&
           Placeable(set, move.route, move.position) && move.count != 0 &&
           move.count <= kLongestRelocation && at + move.count < SizeOf(set, from);
}

}  // namespace

double RelocateMove::LeftCost(const RouteSet& set) const {
    size_t from = 0;
    size_t at = 0;
    if (!Holding(set, node, from, at) || at + count >= SizeOf(set, from)) return RouteSet::kInfeasible;
    return set.SplicePrice(from, at - 1, {}, at + count);
}

MovePrice RelocateMove::Price(const RouteSet& set) const {
    size_t from = 0;
    size_t at = 0;
    if (!Relocatable(set, *this, from, at)) return {};
    return Price(set, LeftCost(set));
}

MovePrice RelocateMove::Price(const RouteSet& set, double left) const {
    size_t from = 0;
    size_t at = 0;
    if (!Relocatable(set, *this, from, at)) return {};
    const size_t left_size = SizeOf(set, from) - count;
    const size_t right_size = SizeOf(set, route) + count;
    if (left == RouteSet::kInfeasible) return TwoRoutes(from, left, left_size, route, left, right_size);
    const std::span<const Vertex> stops(set.RouteOf(from).nodes.data() + at, count);
    return TwoRoutes(from, left, left_size, route,
                     set.SplicePrice(route, position - 1, stops, position), right_size);
}

bool RelocateMove::Apply(RouteSet& set) const {
    size_t from = 0;
    size_t at = 0;
    if (!Relocatable(set, *this, from, at)) return false;
    std::array<Vertex, kLongestRelocation> stops{};
    std::copy_n(set.RouteOf(from).nodes.begin() + static_cast<std::ptrdiff_t>(at), count,
                stops.begin());
    const bool left = set.Splice(from, at - 1, {}, at + count);
    return set.Splice(route, position - 1, {stops.data(), count}, position) && left;
}

MovePrice ReverseMove::Price(const RouteSet& set) const {
    if (!Reversible(set, route, first, last)) return {};
    return OneRoute(route, set.ReversalPrice(route, first, last), SizeOf(set, route));
}

bool ReverseMove::Apply(RouteSet& set) const {
    return Reversible(set, route, first, last) && set.Reverse(route, first, last);
}

namespace {

// Whether both routes keep at least their starts and at least one of them gives up a stop.
bool TailsExchangeable(const RouteSet& set, const TailExchangeMove& move) {
    if (move.first == move.second || move.first >= set.RouteCount() ||
        move.second >= set.RouteCount()) {
        return false;
    }
    const size_t first_size = SizeOf(set, move.first);
    const size_t second_size = SizeOf(set, move.second);
    return move.first_keep + 1 < first_size && move.second_keep + 1 < second_size &&
           (move.first_keep + 2 < first_size || move.second_keep + 2 < second_size);
}

// The stops of route r after position keep, its end left out.
std::span<const Vertex> TailOf(const RouteSet& set, size_t r, size_t keep) {
    const std::vector<Vertex>& nodes = set.RouteOf(r).nodes;
    return {nodes.data() + keep + 1, nodes.size() - 2 - keep};
}

}  // namespace

MovePrice TailExchangeMove::Price(const RouteSet& set) const {
    if (!TailsExchangeable(set, *this)) return {};
    const std::span<const Vertex> first_tail = TailOf(set, first, first_keep);
    const std::span<const Vertex> second_tail = TailOf(set, second, second_keep);
    const size_t first_size = first_keep + 2 + second_tail.size();
    const size_t second_size = second_keep + 2 + first_tail.size();
    const double here = set.TailSwapPrice(first, first_keep, second, second_keep);
    if (here == RouteSet::kInfeasible) {
        return TwoRoutes(first, here, first_size, second, here, second_size);
    }
    return TwoRoutes(first, here, first_size, second,
                     set.TailSwapPrice(second, second_keep, first, first_keep), second_size);
}

bool TailExchangeMove::Apply(RouteSet& set) const {
    if (!TailsExchangeable(set, *this)) return false;
    const std::span<const Vertex> first_view = TailOf(set, first, first_keep);
    const std::span<const Vertex> second_view = TailOf(set, second, second_keep);
    const std::vector<Vertex> first_tail(first_view.begin(), first_view.end());
    const std::vector<Vertex> second_tail(second_view.begin(), second_view.end());
    // The first tail goes out, the second route trades its tail for it, and the first route
    // takes the second tail once that is out.
    set.Splice(first, first_keep, {}, SizeOf(set, first) - 1);
    const bool second_kept = set.Splice(second, second_keep, first_tail, SizeOf(set, second) - 1);
    return set.Splice(first, first_keep, second_tail, first_keep + 1) && second_kept;
}

namespace {

// Route r with its stop at `out` taken out and `in` put in before position `before`, as one
// splice: the nodes after `keep` and before `resume` give way to `middle`.
struct OneOutOneIn {
    size_t keep = 0;
    size_t resume = 0;
    std::vector<Vertex> middle;

    OneOutOneIn(const RouteSet& set, size_t r, size_t out, Vertex in, size_t before) {
        const std::vector<Vertex>& nodes = set.RouteOf(r).nodes;
        const auto at = [&nodes](size_t k) { return nodes.begin() + static_cast<std::ptrdiff_t>(k); };
        if (before <= out) {
            keep = before - 1;
            resume = out + 1;
            middle.push_back(in);
            middle.insert(middle.end(), at(before), at(out));
        } else {
            keep = out - 1;
            resume = before;
            middle.assign(at(out + 1), at(before));
            middle.push_back(in);
        }
    }
};

struct SwapStarPlaces {
    size_t r = 0;
    size_t p = 0;
    size_t s = 0;
    size_t q = 0;
};

// Where both stops are, when the move is one: on different routes, each going in between the
// ends of the other's route.
bool SwapStarPlaced(const RouteSet& set, const SwapStarMove& move, SwapStarPlaces& places) {
    if (!Holding(set, move.first, places.r, places.p) ||
        !Holding(set, move.second, places.s, places.q) || places.r == places.s) {
        return false;
    }
    return Placeable(set, places.s, move.first_before) && Placeable(set, places.r, move.second_before);
}

}  // namespace

MovePrice SwapStarMove::Price(const RouteSet& set) const {
    SwapStarPlaces at;
    if (!SwapStarPlaced(set, *this, at)) return {};
    const size_t r_size = SizeOf(set, at.r);
    const size_t s_size = SizeOf(set, at.s);
    const OneOutOneIn here(set, at.r, at.p, second, second_before);
    const double here_cost = set.SplicePrice(at.r, here.keep, here.middle, here.resume);
    if (here_cost == RouteSet::kInfeasible) {
        return TwoRoutes(at.r, here_cost, r_size, at.s, here_cost, s_size);
    }
    const OneOutOneIn there(set, at.s, at.q, first, first_before);
    return TwoRoutes(at.r, here_cost, r_size, at.s,
                     set.SplicePrice(at.s, there.keep, there.middle, there.resume), s_size);
}

bool SwapStarMove::Apply(RouteSet& set) const {
    SwapStarPlaces at;
    if (!SwapStarPlaced(set, *this, at)) return false;
    // The second stop goes out first, so that the first route may take it in.
    const OneOutOneIn here(set, at.r, at.p, second, second_before);
    set.RemoveRange(at.s, at.q, at.q);
    const bool here_kept = set.Splice(at.r, here.keep, here.middle, here.resume);
    const size_t before = first_before > at.q ? first_before - 1 : first_before;
    return set.Splice(at.s, before - 1, {&first, 1}, before) && here_kept;
}

namespace {

struct ExchangePlaces {
    size_t r = 0;
    size_t p = 0;
    size_t s = 0;
    size_t q = 0;
};

// Where both runs begin, when the move is one: on different routes, each run whole before its
// route's end.
bool Exchangeable(const RouteSet& set, const ExchangeMove& move, ExchangePlaces& at) {
    const auto fits = [&set](size_t count, size_t route, size_t position) {
        return count >= 1 && count <= kLongestExchange && position + count < SizeOf(set, route);
    };
    return Holding(set, move.first, at.r, at.p) && Holding(set, move.second, at.s, at.q) &&
           at.r != at.s && fits(move.first_count, at.r, at.p) && fits(move.second_count, at.s, at.q);
}

std::span<const Vertex> RunAt(const RouteSet& set, size_t route, size_t position, size_t count) {
    return {set.RouteOf(route).nodes.data() + position, count};
}

}  // namespace

MovePrice ExchangeMove::Price(const RouteSet& set) const {
    ExchangePlaces at;
    if (!Exchangeable(set, *this, at)) return {};
    const size_t r_size = SizeOf(set, at.r) - first_count + second_count;
    const size_t s_size = SizeOf(set, at.s) - second_count + first_count;
    const double here =
        set.SplicePrice(at.r, at.p - 1, RunAt(set, at.s, at.q, second_count), at.p + first_count);
    if (here == RouteSet::kInfeasible) return TwoRoutes(at.r, here, r_size, at.s, here, s_size);
    return TwoRoutes(
        at.r, here, r_size, at.s,
        set.SplicePrice(at.s, at.q - 1, RunAt(set, at.r, at.p, first_count), at.q + second_count),
        s_size);
}

bool ExchangeMove::Apply(RouteSet& set) const {
    ExchangePlaces at;
    if (!Exchangeable(set, *this, at)) return false;
    if (first_count == 1 && second_count == 1) return set.Exchange(at.r, at.p, at.s, at.q);
    std::array<Vertex, kLongestExchange> firsts{};
    std::array<Vertex, kLongestExchange> seconds{};
    const std::span<const Vertex> first_run = RunAt(set, at.r, at.p, first_count);
    const std::span<const Vertex> second_run = RunAt(set, at.s, at.q, second_count);
    std::copy(first_run.begin(), first_run.end(), firsts.begin());
    std::copy(second_run.begin(), second_run.end(), seconds.begin());
    // The first run goes out, the second route trades its run for it, and the first route
    // takes the second run once that is out.
    set.Splice(at.r, at.p - 1, {}, at.p + first_count);
    const bool there = set.Splice(at.s, at.q - 1, {firsts.data(), first_count}, at.q + second_count);
    return set.Splice(at.r, at.p - 1, {seconds.data(), second_count}, at.p) && there;
}

}  // namespace tamrik
