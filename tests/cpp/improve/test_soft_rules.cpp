#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "route/route_set.h"
#include "solver/solver_probe.h"
#include "support/random_instance.h"
#include "support/route_checker.h"

namespace tamrik {
namespace {

using testing::InstanceShape;
using testing::RandomInstance;
using testing::RouteChecker;
using testing::SolverProbe;

// Narrow windows around the service times of a hidden plan (random routes, one per agent), so
// that a plan exists that the greedy construction does not find. The first agent's shift ends
// with its route, which also keeps the joint search out.
Problem HiddenPlanDay(unsigned seed) {
    InstanceShape shape{60, 4, true, false, false, false, false, ObjectiveType::MinSum, true};
    Problem problem = RandomInstance(shape, seed);
    for (Node& node : problem.nodes) node.service = 3.0;
    std::vector<int64_t> sweep;
    for (size_t v = 1; v < problem.nodes.size(); ++v) sweep.push_back(static_cast<int64_t>(v));
    std::mt19937 rng(seed);
    std::shuffle(sweep.begin(), sweep.end(), rng);
    SolverProbe plain(problem, problem.options);
    const RouteRules rules = plain.Rules();
    TimeWindowConstraint windows;
    const size_t agents = problem.agents_ordered.size();
    const size_t share = (sweep.size() + agents - 1) / agents;
    for (size_t a = 0; a < agents; ++a) {
        std::vector<int64_t> path{0};
        for (size_t k = a * share; k < std::min(sweep.size(), (a + 1) * share); ++k) {
            path.push_back(sweep[k]);
        }
        path.push_back(0);
        const RouteSchedule schedule = rules.ScheduleOf(path, static_cast<int64_t>(a));
        for (size_t k = 0; k < schedule.stops.size(); ++k) {
            const double at = schedule.stops[k].start;
            windows.set_timewindow(problem.nodes[static_cast<size_t>(path[k + 1])].id, at - 1.0, at + 1.0);
        }
        if (a == 0) {
            Agent& agent = problem.agents_ordered[0];
            agent.shift_start = 0.0;
            agent.shift_end = schedule.end_time + 1.0;
            problem.agents[agent.id] = agent;
        }
    }
    problem.set_timewindow_constraint(windows);
    return problem;
}

class HiddenPlans : public ::testing::TestWithParam<unsigned> {};

TEST_P(HiddenPlans, AreFoundFromRoutesThatBreakWindowsAndOnlyRepairedOnesAreRecorded) {
    const Problem problem = HiddenPlanDay(GetParam());
    Options options = problem.options;
    options.improve = true;
    options.seed = 2;
    options.time_limit = 20.0;
    options.max_iterations = 40000;
    SolverProbe solver(problem, options);
    const testing::QuietSolve solve = testing::SolveQuietly(solver);
    EXPECT_NE(solve.out.find("no order keeps every rule"), std::string::npos);
    ASSERT_EQ(solve.status, 1);
    const std::vector<SearchSnapshot> process = solver.GetResultProcess();
    ASSERT_FALSE(process.empty());
    for (const SearchSnapshot& snapshot : process) {
        const auto check = RouteChecker(problem).Check(snapshot.result);
        EXPECT_TRUE(check.ok()) << "at " << snapshot.time << "\n" << check.Report();
    }
    EXPECT_TRUE(RouteChecker(problem).Check(solver.GetResult()).ok());
}

INSTANTIATE_TEST_SUITE_P(Seeded, HiddenPlans, ::testing::Values(2u, 4u));


}  // namespace
}  // namespace tamrik
