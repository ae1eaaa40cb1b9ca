#pragma once

#include <vector>

#include "model/problem.h"
#include "model/problem_checks.h"

namespace tamrik {

// Appends the findings on travel times and route prices: durations for a type no agent has,
// for some types but not all, matrices of the wrong size or with entries that are not finite
// and not negative, and unit costs and distance and duration limits that are not finite
// numbers at or above 0 (above 0 for the limits).
void CheckPrices(const Problem& problem, std::vector<Finding>& findings);

}  // namespace tamrik
