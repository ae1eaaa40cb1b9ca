#pragma once

#include "solver/solver.h"

namespace tamrik::testing {

// Opens the solver's search state to the tests.
class SolverProbe : public Solver {
public:
    using Solver::Solver;
    using Solver::agents;
    using Solver::anytime_results;
    using Solver::constraint_checker;
    using Solver::focal_bound;
    using Solver::focal_list;
    using Solver::frontiers;
    using Solver::goals;
    using Solver::graph;
    using Solver::incumbent_cost;
    using Solver::label_pool;
    using Solver::MakeRouteRules;
    using Solver::max_phases;
    using Solver::mst_edges;
    using Solver::next_frontier_number;
    using Solver::objective;
    using Solver::open_list;
    using Solver::parent;
    using Solver::points;
    using Solver::pool_capacity;
    using Solver::pool_chunk;
    using Solver::post_optimizer;
    using Solver::result;
    using Solver::starts;
    using Solver::time_windows;
    using Solver::unreachable_points;
    using Solver::weight_schedule;
};

}  // namespace tamrik::testing
