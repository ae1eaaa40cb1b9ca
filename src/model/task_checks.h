#pragma once

#include <vector>

#include "model/problem.h"
#include "model/problem_checks.h"

namespace tamrik {

// Appends the findings on loads and task order that `options` enforce: values the solver
// cannot use (non-finite demands and capacities, negative capacities, pairs naming unknown
// nodes, a node with itself, or a start or end node), then rules that no solution can meet
// (a cycle of precedences, a demand above every capacity that may serve it, a "same" pair
// that no agent may serve whole).
void CheckTasks(const Problem& problem, const Options& options, std::vector<Finding>& findings);

}  // namespace tamrik
