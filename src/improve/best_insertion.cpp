#include "improve/best_insertion.h"

#include <algorithm>

namespace tamrik {
namespace {

// Costs within this of each other count as equal.
constexpr double kTolerance = 1e-9;

}  // namespace

BestInsertion::Choice BestInsertion::Find(const RouteSet& set, int32_t node) {
    const double largest = min_max ? set.Largest() : 0.0;
    Best best{RouteSet::kInfeasible, RouteSet::kInfeasible, Choice{}};
    if (near != nullptr) ScanNear(set, node, largest, best);
    if (!best.choice.found) ScanEverywhere(set, node, largest, best);
    return best.choice;
}

void BestInsertion::Consider(const RouteSet& set, size_t r, size_t q, int32_t node,
                             double largest, Best& best) {
    const double after = set.InsertionCost(r, q, node);
    if (after == RouteSet::kInfeasible) return;
    const double increase = after - set.RouteOf(r).Cost();
    const double primary = min_max ? std::max(after, largest) : increase;
    const double secondary = min_max ? increase : 0.0;
    if (primary < best.primary - kTolerance ||
        (primary <= best.primary + kTolerance && secondary < best.secondary)) {
        best = Best{primary, secondary, Choice{true, r, q}};
    }
}

void BestInsertion::ScanEverywhere(const RouteSet& set, int32_t node, double largest,
                                   Best& best) {
    for (size_t r = 0; r < set.RouteCount(); ++r) {
        if (!set.Accepts(r, node)) continue;
        const size_t size = set.RouteOf(r).nodes.size();
        for (size_t q = 1; q < size; ++q) {
            if (Skip()) continue;
            Consider(set, r, q, node, largest, best);
        }
    }
}

// Next to each near vertex that a route holds, and next to every route's start and end.
void BestInsertion::ScanNear(const RouteSet& set, int32_t node, double largest, Best& best) {
    for (size_t r = 0; r < set.RouteCount(); ++r) {
        if (!set.Accepts(r, node)) continue;
        const size_t size = set.RouteOf(r).nodes.size();
        Consider(set, r, 1, node, largest, best);
        if (size > 2) Consider(set, r, size - 1, node, largest, best);
    }
    const std::vector<int32_t>& close = (*near)[static_cast<size_t>(node)];
    const size_t count = std::min(near_count, close.size());
    for (size_t c = 0; c < count; ++c) {
        const int32_t holder = set.RouteHolding(close[c]);
        if (holder < 0 || !set.Accepts(static_cast<size_t>(holder), node) || Skip()) continue;
        const auto r = static_cast<size_t>(holder);
        const auto at = static_cast<size_t>(set.PositionOf(close[c]));
        Consider(set, r, at, node, largest, best);
        Consider(set, r, at + 1, node, largest, best);
    }
}

}  // namespace tamrik
