#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "improve/route_set.h"

namespace tamrik {

// For every vertex, the movable nodes of `set` by increasing RouteSet::Distance (ties by
// index): all of them when keep is 0, else only the `keep` nearest.
std::vector<std::vector<int32_t>> NearLists(const RouteSet& set, size_t keep);

}  // namespace tamrik
