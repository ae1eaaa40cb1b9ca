#pragma once

#include "solver/solver.h"

namespace tamrik::testing {

// Opens to the tests what they build on: the route rules of an instance, and the few pieces of
// the search state that the search tests set or read.
class SolverProbe : public Solver {
public:
    using Solver::Solver;
    using Solver::agents;
    using Solver::goals;
    using Solver::graph;
    using Solver::points;
    using Solver::post_optimizer;
    using Solver::Rules;
    using Solver::starts;
    using Solver::time_windows;
    using Solver::weight_schedule;
};

}  // namespace tamrik::testing
