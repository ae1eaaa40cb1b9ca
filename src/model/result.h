#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace tamrik {

// Why a solve ended.
// kInfeasible: rules that no solution meets (some stop fits on no route at all).
enum class StopReason { kCompleted, kTimeLimit, kMemoryLimit, kInterrupted, kPhaseLimit, kInfeasible };

// "completed", "time_limit", "memory_limit", "interrupted", "phase_limit" or "infeasible".
const char* StopReasonName(StopReason reason);

// When a stop is reached and when its service starts (later when the agent waits).
struct StopTime {
    double arrival = 0.0;
    double start = 0.0;
};

// When a route happens: the agent leaves its start at start_time, ends at end_time, travels
// `travel` on the way, and reaches each target (positions 1 .. size-2 of its path) as `stops`
// say.
struct RouteSchedule {
    double start_time = 0.0;
    double end_time = 0.0;
    double travel = 0.0;
    std::vector<StopTime> stops;
};

// A stop left out of the routes, and why.
struct UnassignedStop {
    uint64_t node_id = 0;
    std::string reason;
};

// A solution as the solver reports it: maps keyed by agent index (position in
// Problem::agents_ordered), paths made of vertex indices (positions in Problem::nodes).
struct Result {
    std::unordered_map<int64_t, std::vector<int64_t>> paths;
    std::unordered_map<int64_t, double> times;
    int64_t n_generated = 0;
    int64_t n_expanded = 0;
    bool timeout = false;
    double last_update_time = 0.0;
    StopReason stop_reason = StopReason::kCompleted;
    // How the routes were obtained: "search", "search+improvement", "construction" or
    // "construction+improvement" (empty without routes).
    std::string method{};
    // The paths as node ids (filled when the solver hands the result out).
    std::unordered_map<int64_t, std::vector<uint64_t>> node_ids{};
    // Under min-sum: the fixed costs of the agents whose routes serve a target, apart from
    // the route costs in `times`.
    double fixed_cost = 0.0;
    // The prizes of the optional stops that no route serves.
    double lost_prize = 0.0;
    // When each route happens (filled when the solver hands the result out; left empty for
    // routes that wait for one another under task order).
    std::unordered_map<int64_t, RouteSchedule> schedules{};
    // The stops left out of a partial plan, or found to fit nowhere by a failed solve, each
    // with its reason.
    std::vector<UnassignedStop> unassigned{};
};

// The largest route cost of a result (0.0 without routes).
double LargestRouteCost(const Result& result);
// The sum of the route costs, added in agent-index order so that it does not depend on the
// map's iteration order.
double TotalRouteCost(const Result& result);

}  // namespace tamrik
