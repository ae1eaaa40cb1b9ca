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

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// Tight windows on every target (a third with two or three windows when `several`), a shift
// on the first agent, a stop limit on the second and short cost limits: random routes break
// all of them.
Problem TightDay(bool several, unsigned seed) {
    InstanceShape shape{40, 3, true, false, false, true, true, ObjectiveType::MinSum, true};
    Problem problem = RandomInstance(shape, seed);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> opening(0.0, 300.0);
    std::uniform_real_distribution<double> width(10.0, 60.0);
    TimeWindowConstraint windows;
    for (size_t v = 1; v < problem.nodes.size(); ++v) {
        const uint64_t id = problem.nodes[v].id;
        std::vector<TimeWindowConstraint::Window> list;
        const size_t count = several && v % 3 == 0 ? 2 + v % 2 : 1;
        double open = opening(rng);
        for (size_t k = 0; k < count; ++k) {
            const double close = open + width(rng);
            list.emplace_back(open, close);
            open = close + width(rng);
        }
        windows.set_timewindows(id, list);
    }
    problem.set_timewindow_constraint(windows);
    for (size_t a = 0; a < problem.agents_ordered.size(); ++a) {
        Agent& agent = problem.agents_ordered[a];
        agent.time_limit = 250.0;
        if (a == 0) {
            agent.shift_start = 20.0;
            agent.shift_end = 400.0;
        }
        if (a == 1) agent.max_stops = 4;
        problem.agents[agent.id] = agent;
    }
    for (Node& node : problem.nodes) node.service = 3.0;
    return problem;
}

// An independent walk of the route, leaving as early as the agent may: how far it must go
// back in time to meet every window and its shift's end.
double WalkedWarp(const Problem& problem, const RouteRules& rules, size_t agent,
                  const std::vector<int32_t>& nodes) {
    const Agent& who = problem.agents_ordered[agent];
    const auto& windows = problem.timewindow_constraint;
    const RouteRules::LegRules legs = rules.LegRulesOf(static_cast<int64_t>(agent));
    double time = who.shift_start.value_or(0.0);
    double warp = 0.0;
    for (size_t k = 0; k < nodes.size(); ++k) {
        if (k > 0) time += rules.LegCost(legs, nodes[k - 1], nodes[k]);
        const uint64_t id = problem.nodes[static_cast<size_t>(nodes[k])].id;
        std::vector<TimeWindowConstraint::Window> list;
        if (windows.several.count(id) != 0) {
            list = windows.several.at(id);
        } else if (windows.windows.count(id) != 0) {
            list = {windows.windows.at(id)};
        }
        if (list.empty()) continue;
        const auto open = std::find_if(list.begin(), list.end(),
                                       [time](const auto& window) { return time <= window.second; });
        if (open == list.end()) {
            warp += time - list.back().second;
            time = list.back().second;
        } else {
            time = std::max(time, open->first);
        }
    }
    return warp + std::max(0.0, time - who.shift_end.value_or(kInfinity));
}

// Random routes of every agent: each target goes to a random place of a random route that may
// take it, as a search on infeasible ground would put it.
void FillAtRandom(RouteSet& set, std::mt19937& rng) {
    std::vector<int32_t> order = set.Movable();
    std::shuffle(order.begin(), order.end(), rng);
    for (int32_t node : order) {
        const size_t r = rng() % set.RouteCount();
        if (!set.Accepts(r, node)) continue;
        const size_t q = 1 + rng() % (set.RouteOf(r).nodes.size() - 1);
        ASSERT_TRUE(set.Insert(r, q, node));
    }
}

RuleAmounts DaysSoft() {
    RuleAmounts weights{};
    weights[kTimeRule] = 2.0;
    weights[kCostLimitRule] = 0.5;
    weights[kStopRule] = 7.0;
    return weights;
}

class SoftDays : public ::testing::TestWithParam<bool> {};

TEST_P(SoftDays, MeasureTheWarpOfADirectWalkAndBreakNothingExactlyWhenTheRulesHold) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
        const Problem problem = TightDay(GetParam(), seed);
        SolverProbe solver(problem, problem.options);
        const RouteRules rules = solver.MakeRouteRules();
        RouteSet set(rules);
        ASSERT_TRUE(set.LoadEmpty().empty());
        set.SetWeights(DaysSoft());
        std::mt19937 rng(seed);
        FillAtRandom(set, rng);
        size_t broken = 0;
        for (size_t r = 0; r < set.RouteCount(); ++r) {
            const RouteSet::Route& route = set.RouteOf(r);
            EXPECT_NEAR(route.excess[kTimeRule], WalkedWarp(problem, rules, r, route.nodes), 1e-6)
                << "seed " << seed << " route " << r;
            const int64_t stops = static_cast<int64_t>(route.nodes.size()) - 2;
            const int64_t most = problem.agents_ordered[r].max_stops.value_or(stops);
            EXPECT_EQ(route.excess[kStopRule], static_cast<double>(std::max<int64_t>(0, stops - most)));
            const std::vector<int64_t> path(route.nodes.begin(), route.nodes.end());
            const bool kept = rules.EvaluatePath(path, static_cast<int64_t>(r)).feasible;
            EXPECT_EQ(kept, route.penalty == 0.0) << "seed " << seed << " route " << r;
            broken += kept ? 0 : 1;
        }
        EXPECT_GT(broken, 0u) << "seed " << seed << ": the routes were meant to break rules";
    }
}

TEST_P(SoftDays, PriceAnInsertionAsTheRouteCostsOnceItIsMade) {
    const Problem problem = TightDay(GetParam(), 11);
    SolverProbe solver(problem, problem.options);
    const RouteRules rules = solver.MakeRouteRules();
    RouteSet set(rules);
    ASSERT_TRUE(set.LoadEmpty().empty());
    set.SetWeights(DaysSoft());
    std::mt19937 rng(11);
    FillAtRandom(set, rng);
    // Each routed target, taken out and priced back in at every place of every route.
    for (int32_t node : set.Movable()) {
        const int32_t holder = set.RouteHolding(node);
        if (holder < 0) continue;
        const auto home = static_cast<size_t>(holder);
        const auto at = static_cast<size_t>(set.PositionOf(node));
        ASSERT_TRUE(set.RemoveRange(home, at, at));
        for (size_t r = 0; r < set.RouteCount(); ++r) {
            if (!set.Accepts(r, node)) continue;
            for (size_t q = 1; q < set.RouteOf(r).nodes.size(); ++q) {
                const double priced = set.InsertionCost(r, q, node);
                RouteSet made = set;
                ASSERT_TRUE(made.Insert(r, q, node));
                EXPECT_NEAR(priced, made.RouteOf(r).Cost(), 1e-6 * std::max(1.0, priced))
                    << "node " << node << " into route " << r << " at " << q;
            }
        }
        ASSERT_TRUE(set.Insert(home, at, node));
    }
}

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
    const RouteRules rules = plain.MakeRouteRules();
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
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    SolverProbe solver(problem, options);
    const int32_t status = solver.Solve();
    const std::string out = ::testing::internal::GetCapturedStdout();
    ::testing::internal::GetCapturedStderr();
    EXPECT_NE(out.find("no order keeps every rule"), std::string::npos);
    ASSERT_EQ(status, 1);
    const std::vector<SearchSnapshot> process = solver.GetResultProcess();
    ASSERT_FALSE(process.empty());
    for (const SearchSnapshot& snapshot : process) {
        const auto check = RouteChecker(problem).Check(snapshot.result);
        EXPECT_TRUE(check.ok()) << "at " << snapshot.time << "\n" << check.Report();
    }
    EXPECT_TRUE(RouteChecker(problem).Check(solver.GetResult()).ok());
}

INSTANTIATE_TEST_SUITE_P(Seeded, HiddenPlans, ::testing::Values(2u, 4u));

INSTANTIATE_TEST_SUITE_P(Windows, SoftDays, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Several" : "One"; });

}  // namespace
}  // namespace tamrik
