#pragma once

#include <vector>

#include "model/problem.h"
#include "model/problem_checks.h"

namespace tamrik {

// Appends the findings on the initial routes: an agent or node id that names nothing, an
// agent given two routes, a node held twice, an agent's start or end among the stops, and a
// pinned count outside 0 .. the number of stops.
void CheckInitialRoutes(const Problem& problem, std::vector<Finding>& findings);

// The stops of an initial route: its node ids without the agent's start leading and its end
// closing the list.
std::vector<uint64_t> StopsOf(const InitialRoute& route, const Agent& agent);

}  // namespace tamrik
