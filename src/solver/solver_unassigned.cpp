// Why a failed solve left stops out: what no agent may do with a stop even on a route of its
// own, and the stop for which the construction found no room.
#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "improve/stop_reasons.h"
#include "solver/solver.h"

namespace tamrik {

std::vector<UnassignedStop> Solver::StaticUnassigned() const {
    const std::vector<std::string> reasons = StopReasons(Rules(), tasks).PerVertex();
    std::vector<UnassignedStop> stops;
    for (size_t v = 0; v < points.size(); ++v) {
        if (!reasons[v].empty()) stops.push_back(UnassignedStop{points[v].node_id, reasons[v]});
    }
    return stops;
}

std::vector<std::string> Solver::PinnedBreaks() const {
    if (!stages.WarmStarted()) return {};
    return StopReasons(Rules(), tasks).PinnedBreaks(stages.Warm());
}

void Solver::ExplainFailure() {
    result.unassigned.clear();
    std::vector<std::string> reasons = StopReasons(Rules(), tasks).PerVertex();
    // Stops that no agent may serve on any route: whatever ended the search, no plan exists.
    if (std::any_of(reasons.begin(), reasons.end(), [](const std::string& r) { return !r.empty(); })) {
        result.stop_reason = StopReason::kInfeasible;
    }
    const Vertex stuck = stages.Stuck();
    if (stuck >= 0 && reasons[static_cast<size_t>(stuck)].empty()) {
        reasons[static_cast<size_t>(stuck)] = stages.StuckReason();
    }
    for (size_t v = 0; v < points.size(); ++v) {
        if (!reasons[v].empty()) result.unassigned.push_back(UnassignedStop{points[v].node_id, reasons[v]});
    }
}

}  // namespace tamrik
