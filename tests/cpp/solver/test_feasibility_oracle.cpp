// Feasible means solvable: on tiny random instances of every shape, a search that ends on its
// own has routes whenever exhaustive enumeration finds a feasible solution, and every route
// it returns passes the independent checker at the reported cost; the post-optimizers never
// call one of its routes invalid.
#include <gtest/gtest.h>

#include <string>

#include "solver/solver_probe.h"
#include "support/brute_force.h"
#include "support/route_checker.h"
#include "support/tiny_instance.h"

namespace tamrik {
namespace {

using testing::BruteForce;
using testing::RouteChecker;
using testing::TinyInstance;

class FeasibilityOracle : public ::testing::TestWithParam<unsigned> {};

TEST_P(FeasibilityOracle, FeasibleInstancesGetRoutesThatTheCheckerAccepts) {
    const Problem problem = TinyInstance(GetParam());
    const bool feasible = BruteForce(problem).Optimum().has_value();
    Solver solver(problem, problem.options);
    const std::string diagnostics = testing::SolveQuietly(solver).err;
    // The post-optimizers get the search's routes, which keep every rule.
    EXPECT_EQ(diagnostics.find("[post-opt]"), std::string::npos) << diagnostics;
    const Result result = solver.GetResult();
    if (result.paths.empty()) {
        EXPECT_FALSE(feasible && !result.timeout) << "a feasible instance ended failed";
        return;
    }
    const auto check = RouteChecker(problem).Check(result);
    EXPECT_TRUE(check.ok()) << check.Report();
    EXPECT_TRUE(feasible) << "the enumeration finds no solution, yet routes came back";
}

INSTANTIATE_TEST_SUITE_P(Seeded, FeasibilityOracle, ::testing::Range(1u, 601u));

}  // namespace
}  // namespace tamrik
