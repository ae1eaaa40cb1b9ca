#include "improve/reversal_descent.h"

#include <algorithm>
#include <cmath>

#include "route/route_moves.h"

namespace tamrik {

double ReversalDescent::Prepare(const RouteSet& set, size_t r) {
    const std::vector<Vertex>& nodes = set.RouteOf(r).nodes;
    const size_t n = nodes.size();
    backward.assign(n, 0.0);
    for (size_t k = 1; k < n; ++k) backward[k] = backward[k - 1] + set.Leg(r, nodes[k], nodes[k - 1]);
    if (!set.IsSimple(r)) {
        forward.assign(n, 0.0);
        for (size_t k = 1; k < n; ++k) forward[k] = forward[k - 1] + set.Leg(r, nodes[k - 1], nodes[k]);
    }
    // Each reversal must gain more than the rounding of the sums can fake: a gain within it
    // (huge costs make it large) could undo the last one, over and over.
    return 1e-9 * std::max(1.0, std::fabs(set.RouteOf(r).Cost()) + std::fabs(backward[n - 1]));
}

bool ReversalDescent::Reversible(const RouteSet& set, size_t r) {
    // Where routes wait for one another, a timed route's times are the plan's.
    return !(set.Waits() && !set.IsSimple(r)) && set.RouteOf(r).nodes.size() >= 4;
}

size_t ReversalDescent::ReverseFrom(RouteSet& set, size_t r, size_t i, double tolerance) {
    const std::vector<Vertex>& nodes = set.RouteOf(r).nodes;
    const bool timed = !set.IsSimple(r);
    // A route that sums its legs has their sums in its times.
    const std::vector<double>& legs = timed ? forward : set.RouteOf(r).arrival;
    const size_t n = nodes.size();
    const Vertex before = nodes[i - 1];
    const Vertex first = nodes[i];
    const std::vector<Vertex>& close = (*near)[static_cast<size_t>(before)];
    const size_t count = std::min(candidates, close.size());
    for (size_t c = 0; c < count; ++c) {
        // Reversing i .. j links `before` to nodes[j].
        if (set.RouteHolding(close[c]) != static_cast<int32_t>(r)) continue;
        const auto j = static_cast<size_t>(set.PositionOf(close[c]));
        if (j <= i || j + 1 >= n) continue;
        if (timed && j - i >= kLongestTimedReversal) continue;
        const Vertex last = nodes[j];
        const Vertex after = nodes[j + 1];
        const double old_legs =
            set.Leg(r, before, first) + (legs[j] - legs[i]) + set.Leg(r, last, after);
        const double new_legs =
            set.Leg(r, before, last) + (backward[j] - backward[i]) + set.Leg(r, first, after);
        // Where days or limits are timed, only reversals that shorten the legs are priced:
        // walking every one would cost more than the few that gain through shorter waits.
        if (!(new_legs < old_legs - tolerance)) continue;
        const ReverseMove move{r, i, j};
        if (timed && !(move.Price(set).costs[0] < set.RouteOf(r).Cost() - tolerance)) continue;
        // The walk has the last word where it rounds otherwise than the joined stretches.
        if (!move.Apply(set)) {
            move.Apply(set);
            continue;
        }
        return j;
    }
    return 0;
}

bool ReversalDescent::Improve(RouteSet& set, size_t r) {
    if (!Reversible(set, r)) return false;
    const size_t n = set.RouteOf(r).nodes.size();
    bool changed = false;
    for (bool again = true; again;) {
        again = false;
        const double tolerance = Prepare(set, r);
        for (size_t i = set.FirstFree(r); i + 2 < n && !again; ++i) {
            again = ReverseFrom(set, r, i, tolerance) != 0;
        }
        changed = changed || again;
    }
    return changed;
}

bool ReversalDescent::ImproveNear(RouteSet& set, size_t r, std::vector<Vertex>& dirty) {
    if (!Reversible(set, r)) {
        dirty.clear();
        return false;
    }
    const std::vector<Vertex>& nodes = set.RouteOf(r).nodes;
    const size_t n = nodes.size();
    bool changed = false;
    double tolerance = Prepare(set, r);
    while (!dirty.empty()) {
        const Vertex node = dirty.back();
        dirty.pop_back();
        const bool held = set.RouteHolding(node) == static_cast<int32_t>(r);
        if (!held && node != nodes.front()) continue;
        const size_t at = held ? static_cast<size_t>(set.PositionOf(node)) : 0;
        // The node as the one before a reversal, then as its first node.
        for (size_t i : {at + 1, at}) {
            if (i < set.FirstFree(r) || i + 2 >= n) continue;
            const size_t j = ReverseFrom(set, r, i, tolerance);
            if (j == 0) continue;
            changed = true;
            tolerance = Prepare(set, r);
            dirty.insert(dirty.end(), {nodes[i - 1], nodes[i], nodes[j], nodes[j + 1]});
            break;
        }
    }
    return changed;
}

}  // namespace tamrik
