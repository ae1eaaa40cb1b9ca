// Segment reversals within one route: from prefix sums of the legs where the route costs
// the sum of its legs, else priced from its stretches and kept where the walk agrees.
#include <algorithm>
#include <cmath>

#include "route/route_set.h"

namespace tamrik {

double RouteSet::PrepareReversals(size_t r) {
    const std::vector<Vertex>& nodes = routes[r].nodes;
    const size_t n = nodes.size();
    backward.assign(n, 0.0);
    for (size_t k = 1; k < n; ++k) backward[k] = backward[k - 1] + Leg(r, nodes[k], nodes[k - 1]);
    if (!IsSimple(r)) {
        forward_legs.assign(n, 0.0);
        for (size_t k = 1; k < n; ++k) {
            forward_legs[k] = forward_legs[k - 1] + Leg(r, nodes[k - 1], nodes[k]);
        }
    }
    // Each reversal must gain more than the rounding of the prefix sums can fake: a gain
    // within it (huge costs make it large) could undo the last one, over and over.
    return 1e-9 * std::max(1.0, std::fabs(routes[r].arrival[n - 1]) + std::fabs(backward[n - 1]));
}

size_t RouteSet::ReverseFrom(size_t r, size_t i, const std::vector<std::vector<Vertex>>& near,
                             size_t candidates, double tolerance) {
    std::vector<Vertex>& nodes = routes[r].nodes;
    const bool timed = !IsSimple(r);
    // Without windows or limit, arrival[k] is the sum of the legs into 1 .. k.
    const std::vector<double>& forward = timed ? forward_legs : routes[r].arrival;
    const size_t n = nodes.size();
    const Vertex before = nodes[i - 1];
    const Vertex first = nodes[i];
    const std::vector<Vertex>& close = near[static_cast<size_t>(before)];
    const size_t count = std::min(candidates, close.size());
    for (size_t c = 0; c < count; ++c) {
        // Reversing i .. j links `before` to nodes[j].
        if (RouteHolding(close[c]) != static_cast<int32_t>(r)) continue;
        const int32_t at = position[static_cast<size_t>(close[c])];
        if (at <= static_cast<int32_t>(i) || static_cast<size_t>(at) + 1 >= n) continue;
        const auto j = static_cast<size_t>(at);
        if (timed && j - i >= kLongestTimedReversal) continue;
        const Vertex last = nodes[j];
        const Vertex after = nodes[j + 1];
        const double old_legs =
            Leg(r, before, first) + (forward[j] - forward[i]) + Leg(r, last, after);
        const double new_legs =
            Leg(r, before, last) + (backward[j] - backward[i]) + Leg(r, first, after);
        if (!(new_legs < old_legs - tolerance)) continue;
        // Where days or limits are timed, only reversals that shorten the legs are priced:
        // walking every one would cost more than the few that gain through shorter waits.
        if (timed) {
            if (!(ReversalPrice(r, i, j) < routes[r].Cost() - tolerance)) continue;
            // The walk has the last word where it rounds otherwise than the joined stretches.
            if (!Reverse(r, i, j)) {
                Reverse(r, i, j);
                continue;
            }
            return j;
        }
        std::reverse(nodes.begin() + static_cast<std::ptrdiff_t>(i),
                     nodes.begin() + static_cast<std::ptrdiff_t>(j) + 1);
        Renumber(r, i);
        RefreshThrough(r, i, j + 1);
        return j;
    }
    return 0;
}

bool RouteSet::ImproveByReversal(size_t r, const std::vector<std::vector<Vertex>>& near,
                                 size_t candidates) {
    if ((!IsSimple(r) && waits_on) || routes[r].nodes.size() < 4) return false;
    const size_t n = routes[r].nodes.size();
    bool changed = false;
    for (bool again = true; again;) {
        again = false;
        const double tolerance = PrepareReversals(r);
        for (size_t i = FirstFree(r); i + 2 < n && !again; ++i) {
            again = ReverseFrom(r, i, near, candidates, tolerance) != 0;
        }
        changed = changed || again;
    }
    return changed;
}

bool RouteSet::ImproveReversalsNear(size_t r, const std::vector<std::vector<Vertex>>& near,
                                    size_t candidates, std::vector<Vertex>& dirty) {
    const std::vector<Vertex>& nodes = routes[r].nodes;
    const size_t n = nodes.size();
    if ((!IsSimple(r) && waits_on) || n < 4) {
        dirty.clear();
        return false;
    }
    bool changed = false;
    double tolerance = PrepareReversals(r);
    while (!dirty.empty()) {
        const Vertex node = dirty.back();
        dirty.pop_back();
        const bool held = RouteHolding(node) == static_cast<int32_t>(r);
        if (!held && node != nodes.front()) continue;
        const size_t at = held ? static_cast<size_t>(position[static_cast<size_t>(node)]) : 0;
        // The node as the one before a reversal, then as its first node.
        for (size_t i : {at + 1, at}) {
            if (i < FirstFree(r) || i + 2 >= n) continue;
            const size_t j = ReverseFrom(r, i, near, candidates, tolerance);
            if (j == 0) continue;
            changed = true;
            tolerance = PrepareReversals(r);
            dirty.insert(dirty.end(), {nodes[i - 1], nodes[i], nodes[j], nodes[j + 1]});
            break;
        }
    }
    return changed;
}

}  // namespace tamrik
