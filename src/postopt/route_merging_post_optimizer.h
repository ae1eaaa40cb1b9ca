#pragma once

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "postopt/route_optimizer_base.h"

namespace tamrik {

// Dissolves short routes, cheapest first, by inserting each interior node where the
// receiving route stays cheapest, never above the longest incoming route; then segment
// reversal on every surviving route.
//
// Written-back costs: every route gets its own cost in Result::times. A route that
// EvaluatePath judges infeasible on entry is handled as specified inside (cost 0.0, so it is
// never dissolved or reversed) and keeps the cost it came in with; a dissolved or partly
// dissolved route gets the cost of what remains of it (RouteCost of the remaining path, 0.0
// when its start and end coincide) instead of 0.0.
class RouteMergingPostOptimizer : public RouteOptimizerBase {
public:
    struct InsertionCandidate {
        bool found = false;
        int64_t route = -1;
        int64_t pos = 0;
        double cost = std::numeric_limits<double>::max();
    };

    std::string Name() const override;
    void Optimize(const PlannerGraph* graph, const std::vector<PointRecord>& points,
                  const std::vector<AgentRecord>& agents, Result& result) override;

    // The feasible insertion of u into a route other than `excluded` (between its first and
    // last node) that leaves the receiving route cheapest, with a cost of at most cap + 1e-9.
    // Costs within 1e-9 of each other count as equal and then the smaller increase wins;
    // earlier routes, then earlier positions, win exact ties.
    InsertionCandidate FindBestInsertion(int64_t u, int64_t excluded, double cap);

    // The working state after the last Optimize (for inspection).
    const std::vector<std::vector<int64_t>>& RoutePaths() const { return route_paths; }
    const std::vector<double>& RouteCosts() const { return route_costs; }

private:
    std::vector<std::vector<int64_t>> route_paths;
    std::vector<double> route_costs;

    // Per route: 1 while it is the infeasible path it came in with.
    std::vector<char> infeasible_in;
    // Per route: 1 once it has been dissolved (fully or partly).
    std::vector<char> dissolved;

    // Candidate buffer of FindBestInsertion and the interior of the route being dissolved,
    // reused from one candidate (route) to the next.
    std::vector<int64_t> insertion_buffer;
    std::vector<int64_t> interior;
    std::vector<int64_t> emptied;
    // Leg sums of each working route, rebuilt only after the route changes.
    std::vector<LegSums> route_sums;
    std::vector<char> sums_fresh;
};

}  // namespace tamrik
