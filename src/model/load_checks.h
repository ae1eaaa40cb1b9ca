#pragma once

#include <vector>

#include "model/problem.h"
#include "model/problem_checks.h"

namespace tamrik {

// Appends a finding for every load amount the solver cannot use: a demand, pick-up, delivery
// or capacity that is not finite, a negative pick-up, delivery or capacity, a list of
// another length than the loads have dimensions (or one number where they have several),
// and a number that disagrees with the first entry of the list beside it.
void CheckLoadValues(const Problem& problem, std::vector<Finding>& findings);

}  // namespace tamrik
