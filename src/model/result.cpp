#include "model/result.h"

#include <algorithm>
#include <utility>

namespace tamrik {

double LargestRouteCost(const Result& result) {
    double largest = 0.0;
    for (const auto& [agent, cost] : result.times) largest = std::max(largest, cost);
    return largest;
}

double TotalRouteCost(const Result& result) {
    std::vector<std::pair<int64_t, double>> costs(result.times.begin(), result.times.end());
    std::sort(costs.begin(), costs.end());
    double total = 0.0;
    for (const auto& [agent, cost] : costs) total += cost;
    return total;
}

}  // namespace tamrik
