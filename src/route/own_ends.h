#pragma once

#include <cstdint>

#include "base/vertex.h"

namespace tamrik {

// An agent's own start and end, where the instance gives them.
struct OwnEnds {
    bool has_start = false;
    bool has_end = false;
    Vertex start = 0;
    Vertex end = 0;

    // Without a return obligation the last leg, into the own start or the own end, is free
    // but for the service of the node it leaves: the search, the checkers, the route rules and
    // every stage ask this one rule.
    bool FreeLegInto(Vertex to, bool return_to_end) const {
        return !return_to_end && ((has_start && to == start) || (has_end && to == end));
    }
};

}  // namespace tamrik
