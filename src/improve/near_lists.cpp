#include "improve/near_lists.h"

#include <algorithm>
#include <utility>

namespace tamrik {

NearLists BuildNearLists(const RouteSet& set) {
    const size_t keep = set.VertexCount() > static_cast<size_t>(kMaxVertices) ? kLargeNearKept : 0;
    const std::vector<Vertex>& movable = set.Movable();
    const size_t n = set.RouteCount() == 0 ? 0 : set.VertexCount();
    const size_t kept = keep == 0 ? movable.size() : std::min(keep, movable.size());
    NearLists lists(n);
    std::vector<std::pair<double, Vertex>> order;
    order.reserve(movable.size());
    for (size_t v = 0; v < n; ++v) {
        order.clear();
        for (Vertex u : movable) order.emplace_back(set.Distance(static_cast<Vertex>(v), u), u);
        const auto middle = order.begin() + static_cast<std::ptrdiff_t>(kept);
        std::partial_sort(order.begin(), middle, order.end());
        lists[v].reserve(kept);
        for (auto it = order.begin(); it != middle; ++it) lists[v].push_back(it->second);
    }
    return lists;
}

}  // namespace tamrik
