#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "model/result.h"

namespace tamrik {

// Writes the routes of a solution to "paths/paths_astar/<instance>_astar.json" (creating the
// folders). A file that cannot be opened is reported on standard error and skipped.
void WritePathDumpFile(const std::string& instance_name, const std::vector<int64_t>& starts,
                       const std::vector<int64_t>& goals, int32_t num_agents,
                       double max_route_cost, Result& result);

}  // namespace tamrik
