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

const char* StopReasonName(StopReason reason) {
    switch (reason) {
        case StopReason::kTimeLimit: return "time_limit";
        case StopReason::kMemoryLimit: return "memory_limit";
        case StopReason::kInterrupted: return "interrupted";
        case StopReason::kPhaseLimit: return "phase_limit";
        case StopReason::kInfeasible: return "infeasible";
        case StopReason::kCompleted: break;
    }
    return "completed";
}

}  // namespace tamrik
