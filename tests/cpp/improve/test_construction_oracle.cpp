// The construction builds the first routes wherever the search does not (beyond its size, or
// when it hands over without a solution). On tiny instances of every shape it builds routes
// whenever exhaustive enumeration finds a feasible solution, and the routes pass the
// independent checker.
#include <gtest/gtest.h>

#include "improve/construction.h"
#include "solver/solver_probe.h"
#include "support/brute_force.h"
#include "support/route_checker.h"
#include "support/tiny_instance.h"

namespace tamrik {
namespace {

using testing::BruteForce;
using testing::RouteChecker;
using testing::SolverProbe;
using testing::TinyInstance;

class ConstructionOracle : public ::testing::TestWithParam<unsigned> {};

TEST_P(ConstructionOracle, BuildsCheckedRoutesForEveryFeasibleInstance) {
    const Problem problem = TinyInstance(GetParam());
    const bool feasible = BruteForce(problem).Optimum().has_value();
    ::testing::internal::CaptureStderr();
    const SolverProbe solver(problem, problem.options);
    ::testing::internal::GetCapturedStderr();
    const RouteRules rules = solver.MakeRouteRules();
    const bool min_max = problem.options.objective == ObjectiveType::MinMax;
    const ConstructionOutcome outcome = Construction(rules, min_max, GetParam()).Build();
    if (!outcome.built) {
        EXPECT_FALSE(feasible) << "a feasible instance: " << outcome.reason;
        return;
    }
    Result result;
    for (size_t r = 0; r < outcome.paths.size(); ++r) {
        const auto agent = static_cast<int64_t>(r);
        result.paths[agent] = outcome.paths[r];
        result.times[agent] = rules.EvaluatePath(outcome.paths[r], agent).cost;
    }
    const auto check = RouteChecker(problem).Check(result);
    EXPECT_TRUE(check.ok()) << check.Report();
    EXPECT_TRUE(feasible) << "the enumeration finds no solution, yet routes came back";
}

INSTANTIATE_TEST_SUITE_P(Seeded, ConstructionOracle, ::testing::Range(1u, 601u));

}  // namespace
}  // namespace tamrik
