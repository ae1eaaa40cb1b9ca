#pragma once

#include <cstddef>
#include <vector>

#include "improve/near_lists.h"
#include "route/route_set.h"

namespace tamrik {

// Segment reversals within one route (2-opt), made through ReverseMove until none gains. A
// reversal is tried where it links a stop to one of the first `candidates` entries of its
// near list, and priced only once the legs say it shortens them (prefix sums of the legs
// both ways, O(1) each); where days or limits are timed, only reversals of at most
// kLongestTimedReversal stops are tried, and none where routes wait for one another.
class ReversalDescent {
public:
    ReversalDescent() = default;
    ReversalDescent(const NearLists& near, size_t candidates) : near(&near), candidates(candidates) {}

    // Every stop of route r in turn; whether the route changed.
    bool Improve(RouteSet& set, size_t r);
    // Only next to the stops of route r in `dirty` and next to the ends of each reversal
    // made (which join the list); empties the list.
    bool ImproveNear(RouteSet& set, size_t r, std::vector<Vertex>& dirty);

    static constexpr size_t kLongestTimedReversal = 32;

private:
    // Fills the leg sums of route r; returns the gain a reversal must beat.
    double Prepare(const RouteSet& set, size_t r);
    // Makes the first gaining reversal of stops i .. j of route r that links the stop before
    // i to one of its near stops; returns j, or 0 when there is none.
    size_t ReverseFrom(RouteSet& set, size_t r, size_t i, double tolerance);
    static bool Reversible(const RouteSet& set, size_t r);

    const NearLists* near = nullptr;
    size_t candidates = 0;
    // backward[k]: the legs into positions 1 .. k walked the other way; forward[k], the same
    // legs as they are walked (kept for timed routes only).
    std::vector<double> forward;
    std::vector<double> backward;
};

}  // namespace tamrik
