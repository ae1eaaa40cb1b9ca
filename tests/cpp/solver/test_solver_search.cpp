#include <gtest/gtest.h>

#include <cmath>

#include "solver/solver_probe.h"
#include "support/brute_force.h"
#include "support/random_instance.h"
#include "support/route_checker.h"

namespace tamrik {
namespace {

using testing::InstanceShape;
using testing::RandomInstance;
using testing::RouteChecker;
using testing::SolverProbe;

using testing::SolveQuietly;

TEST(SolverSearch, AFocalListThatRunsEmptyIsRefilledFromTheOpenList) {
    Problem problem = RandomInstance(InstanceShape{}, 8);
    SolverProbe solver(problem, problem.options);
    // A zero weight admits nothing but the root, so the first phase ends without a goal with
    // every successor left on the open list; the later phases must take them up again.
    solver.weight_schedule = {0.0};
    EXPECT_EQ(SolveQuietly(solver).status, 1);
    EXPECT_EQ(solver.weight_schedule[1], 1.0);
    const auto check = RouteChecker(problem).Check(solver.GetResult());
    EXPECT_TRUE(check.ok()) << check.Report();
}

TEST(SolverSearch, ZeroTimeLimitStopsAtOnceWithTimeout) {
    InstanceShape shape;
    shape.nodes = 14;
    Problem problem = RandomInstance(shape, 3);
    Options options = problem.options;
    options.time_limit = 0.0;
    SolverProbe solver(problem, options);
    EXPECT_EQ(SolveQuietly(solver).status, 0);
    EXPECT_TRUE(solver.GetResult().timeout);
    EXPECT_LE(solver.GetResult().n_expanded, 3);
}

TEST(SolverSearch, SolveRefusesAGraphOfMoreThan256Vertices) {
    Problem problem = RandomInstance(InstanceShape{}, 2);
    SolverProbe solver(problem, problem.options);
    SparseGraph large;
    large.AddVertex(256);
    solver.SetGraph(&large);
    try {
        solver.Solve();
        FAIL() << "accepted 257 vertices";
    } catch (const std::length_error& error) {
        EXPECT_STREQ(error.what(), "the instance has 257 nodes, but the solver handles at most 256");
    }
}

double Total(const Result& result) { return TotalRouteCost(result); }

// Min-sum instances of two agents with a return obligation and without windows, small
// enough to enumerate. (The search's estimates and dominance rules are not exact for every
// shape: it can end above the optimum with three agents or free last legs.)
std::vector<Problem> MinSumFamily() {
    std::vector<Problem> family;
    for (unsigned seed = 1; seed <= 12; ++seed) {
        InstanceShape shape;
        shape.nodes = 7 + static_cast<int>(seed % 2);
        shape.agents = 2;
        shape.two_types = seed % 3 == 0;
        shape.objective = ObjectiveType::MinSum;
        family.push_back(RandomInstance(shape, 300 + seed));
    }
    return family;
}

TEST(SolverSearch, MinSumSearchGoesOnPastItsFirstSolutionToTheOptimum) {
    int improved_on_first = 0;
    for (const Problem& problem : MinSumFamily()) {
        SolverProbe solver(problem, problem.options);
        ASSERT_EQ(SolveQuietly(solver).status, 1);
        const Result result = solver.GetResult();
        EXPECT_FALSE(result.timeout);
        std::optional<double> optimum = testing::BruteForce(problem).Optimum();
        ASSERT_TRUE(optimum.has_value());
        EXPECT_NEAR(Total(result), *optimum, 1e-6);
        const std::vector<SearchSnapshot> process = solver.GetResultProcess();
        improved_on_first += Total(process.front().result) > *optimum + 1e-6;
    }
    // Otherwise the family would not show that the search goes on.
    EXPECT_GT(improved_on_first, 0);
}

TEST(SolverSearch, MinSumKeepsTheSearchRoutesWhenPostOptimizingWouldRaiseTheTotal) {
    int raised = 0;
    for (unsigned seed = 1; seed <= 8; ++seed) {
        InstanceShape shape;
        shape.nodes = 16;
        shape.agents = 4;
        shape.objective = ObjectiveType::MinSum;
        Problem problem = RandomInstance(shape, 700 + seed);
        Options options = problem.options;
        options.time_limit = 0.3;
        SolverProbe solver(problem, options);
        SolveQuietly(solver);
        const std::vector<SearchSnapshot> process = solver.GetResultProcess();
        // Snapshots come in pairs: the search's solution, then the post-optimized one.
        for (size_t k = 0; k + 1 < process.size(); k += 2) {
            EXPECT_LE(Total(process[k + 1].result), Total(process[k].result));
            Result balanced = process[k].result;
            ::testing::internal::CaptureStderr();
            solver.post_optimizer->Optimize(solver.graph, solver.points, solver.agents, balanced);
            ::testing::internal::GetCapturedStderr();
            raised += Total(balanced) > Total(process[k].result) + 1e-9;
        }
    }
    // The post-optimizers alone would have raised some total.
    EXPECT_GT(raised, 0);
}

TEST(SolverSearch, CostsInOtherUnitsGiveTheSameRoutes) {
    InstanceShape shape;
    shape.nodes = 11;
    shape.agents = 2;
    Problem problem = RandomInstance(shape, 41);
    Problem scaled = problem;
    for (auto* matrices : {&problem.cost_matrices, &scaled.cost_matrices}) {
        const double factor = matrices == &problem.cost_matrices ? 1.0 : 1000.0;
        for (auto& [type, matrix] : *matrices) {
            for (auto& row : matrix) {
                for (double& cost : row) cost = std::round(cost) * factor;
            }
        }
    }
    Options options = problem.options;
    options.time_limit = 20.0;
    SolverProbe plain(problem, options);
    SolverProbe thousandfold(scaled, options);
    ASSERT_EQ(SolveQuietly(plain).status, 1);
    ASSERT_EQ(SolveQuietly(thousandfold).status, 1);
    const Result a = plain.GetResult(), b = thousandfold.GetResult();
    EXPECT_FALSE(a.timeout);
    EXPECT_FALSE(b.timeout);
    EXPECT_EQ(a.paths, b.paths);
    EXPECT_NEAR(LargestRouteCost(b), 1000.0 * LargestRouteCost(a), 1e-6);
}

}  // namespace
}  // namespace tamrik
