#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

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

// A probe of the instance, its set-up warnings held back from the test's output. The rules
// point into the solver's cost model, so the probe must outlive them.
inline std::unique_ptr<SolverProbe> QuietProbe(const Problem& instance) {
    ::testing::internal::CaptureStderr();
    auto made = std::make_unique<SolverProbe>(instance, instance.options);
    ::testing::internal::GetCapturedStderr();
    return made;
}

// What a solve returned and printed, its lines held back from the test's own output.
struct QuietSolve {
    int32_t status = 0;
    std::string out;
    std::string err;
};

inline QuietSolve SolveQuietly(Solver& solver) {
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    QuietSolve solve;
    solve.status = solver.Solve();
    solve.out = ::testing::internal::GetCapturedStdout();
    solve.err = ::testing::internal::GetCapturedStderr();
    return solve;
}

}  // namespace tamrik::testing
