#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "route/route_set.h"
#include "records/search_records.h"

namespace tamrik {

// For every vertex, the movable nodes of `set` by increasing RouteSet::Distance (ties by
// index): all of them up to kMaxVertices vertices, else only the nearest kLargeNearKept.
using NearLists = std::vector<std::vector<Vertex>>;
constexpr size_t kLargeNearKept = 40;
NearLists BuildNearLists(const RouteSet& set);

}  // namespace tamrik
