#pragma once

#include <cstdint>
#include <vector>

#include "model/result.h"

namespace tamrik {

// One recorded solution state: processor seconds since the search started and the routes then.
struct SearchSnapshot {
    double time = 0.0;
    Result result;
};

// A new best solution as it is found, for a caller following the solve.
struct ProgressReport {
    double time = 0.0;        // processor seconds since the search started
    double longest = 0.0;     // largest route cost
    double total = 0.0;       // sum of the route costs
    // What found it: "search", "construction" or "improvement".
    const char* source = "search";
    // Each agent's path as node ids, start and end included, in the agents' order.
    std::vector<std::vector<uint64_t>> routes{};
};

struct SearchSummary {
    int32_t solution_found = 0;
    int32_t num_points = -1;
    int32_t num_agents = -1;
    int32_t agents_type1 = -1;
    int32_t agents_type0 = -1;
    int32_t points_type0_and_1 = -1;
    int32_t points_type0_only = -1;
    double sum_route_cost = -1.0;
    double max_route_cost = -1.0;
    double last_update_time = -1.0;
    double suboptimality_bound = -1.0;
};

}  // namespace tamrik
