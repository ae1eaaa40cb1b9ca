#include "postopt/route_mirror.h"

#include "route/route_moves.h"

namespace tamrik {

void RouteMirror::Load(const RouteRules& rules, const std::vector<std::vector<int64_t>>& paths) {
    // Without windows a move's price is the sum of its legs, which the bounds already give.
    if (!rules.UsesTimeWindows()) {
        set.reset();
        return;
    }
    set = std::make_unique<RouteSet>(rules);
    set->LoadEmpty();
    held.assign(set->RouteCount(), 0);
    for (size_t r = 0; r < paths.size() && r < held.size(); ++r) Take(r, paths[r]);
}

bool RouteMirror::Holds(size_t r, const std::vector<Vertex>& path) const {
    if (!set || r >= held.size() || !held[r]) return false;
    const std::vector<Vertex>& nodes = set->RouteOf(r).nodes;
    if (nodes.size() != path.size()) return false;
    for (size_t k = 0; k < nodes.size(); ++k) {
        if (nodes[k] != path[k]) return false;
    }
    return true;
}

void RouteMirror::Release(size_t r) {
    if (!set || r >= held.size() || !held[r]) return;
    const size_t size = set->RouteOf(r).nodes.size();
    if (size > 2) set->RemoveRange(r, 1, size - 2);
    held[r] = 0;
}

bool RouteMirror::Fits(size_t r, const std::vector<Vertex>& path) const {
    const std::vector<Vertex>& ends = set->RouteOf(r).nodes;
    if (path.size() < 2 || ends.size() != 2) return false;
    if (path.front() != ends.front() || path.back() != ends.back()) return false;
    const auto count = static_cast<int64_t>(set->VertexCount());
    for (Vertex node : path) {
        if (node < 0 || node >= count) return false;
    }
    return true;
}

void RouteMirror::Take(size_t r, const std::vector<Vertex>& path) {
    if (!set || r >= held.size() || held[r] || !Fits(r, path)) return;
    if (path.size() == 2) {
        held[r] = 1;
        return;
    }
    const std::vector<Vertex> stops(path.begin() + 1, path.end() - 1);
    held[r] = set->LoadRoute(r, stops) ? 1 : 0;
}

double RouteMirror::ReversalPrice(size_t r, size_t i, size_t j) const {
    const MovePrice price = ReverseMove{r, i, j}.Price(*set);
    return price.Feasible() ? price.costs[0] : RouteSet::kInfeasible;
}

double RouteMirror::InsertionPrice(size_t r, size_t q, Vertex node) const {
    const auto stop = static_cast<Vertex>(node);
    if (set->RouteHolding(stop) < 0) {
        const MovePrice price = InsertMove{stop, r, q}.Price(*set);
        return price.Feasible() ? price.costs[0] : RouteSet::kInfeasible;
    }
    const MovePrice price = RelocateMove{stop, r, q}.Price(*set);
    return price.Feasible() ? price.costs[1] : RouteSet::kInfeasible;
}

}  // namespace tamrik
