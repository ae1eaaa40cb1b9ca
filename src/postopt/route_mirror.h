#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "route/route_set.h"

namespace tamrik {

// The route optimizers' routes held as a route set too, so that a candidate is priced by the
// route layer's moves before the exact path walk decides. A route the set cannot hold (it
// breaks a rule, visits a node twice, ends elsewhere than its empty route) has no mirror and
// its candidates are bounded by their legs alone, as are all candidates where no window is
// in force (their prices would be those sums).
class RouteMirror {
public:
    // Holds what it can of `paths` under `rules` (which must outlive the mirror's use); the
    // other routes start empty, and Take adds them.
    void Load(const RouteRules& rules, const std::vector<std::vector<int64_t>>& paths);
    void Clear() { set.reset(); }
    // Whether route r is held, as exactly this path.
    bool Holds(size_t r, const std::vector<Vertex>& path) const;
    // After routes change: each changed route lets go of its stops (Release), then takes its
    // new path (Take); a stop may have moved between them.
    void Release(size_t r);
    void Take(size_t r, const std::vector<Vertex>& path);
    // Route r with positions i .. j reversed, and with `node` before position q: what the
    // route would cost (RouteSet::Route::Cost), or RouteSet::kInfeasible when the moves cannot
    // tell. Route r must be held.
    double ReversalPrice(size_t r, size_t i, size_t j) const;
    double InsertionPrice(size_t r, size_t q, Vertex node) const;

private:
    bool Fits(size_t r, const std::vector<Vertex>& path) const;

    std::unique_ptr<RouteSet> set;
    std::vector<uint8_t> held;
};

}  // namespace tamrik
