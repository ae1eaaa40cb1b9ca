#include "route/route_set.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "solver/solver_probe.h"
#include "support/busy_day.h"

namespace tamrik {
namespace {

using testing::BusyDay;
using testing::FillHalfAtRandom;
using testing::HighestLoad;
using testing::LoadsOf;
using testing::SolverProbe;

struct Case {
    unsigned seed;
    bool several;
    bool soft_loads;
};

class Insertions : public ::testing::TestWithParam<Case> {};

// Every insertion of every target that is out, priced in O(1) and then made: the price is what
// the route walked whole costs (with the price of its overload when loads bend), it is
// infeasible exactly when the walked route breaks a rule, and the loads kept are the walk's.
TEST_P(Insertions, ArePricedAsTheWholeRouteWalksOnceTheyAreMade) {
    const Case c = GetParam();
    const Problem problem = BusyDay(c.seed, c.several);
    ::testing::internal::CaptureStderr();
    SolverProbe solver(problem, problem.options);
    ::testing::internal::GetCapturedStderr();
    const RouteRules rules = solver.MakeRouteRules();
    const TaskRules tasks = LoadsOf(problem);
    RouteSet set(rules, &tasks);
    ASSERT_TRUE(set.LoadEmpty().empty());
    if (c.soft_loads) set.SetLoadWeight(3.0);
    std::mt19937 rng(c.seed);
    FillHalfAtRandom(set, rng);
    size_t priced = 0;
    size_t refused = 0;
    for (int32_t node : set.Movable()) {
        if (set.RouteHolding(node) >= 0) continue;
        for (size_t r = 0; r < set.RouteCount(); ++r) {
            if (!set.Accepts(r, node)) continue;
            for (size_t q = 1; q < set.RouteOf(r).nodes.size(); ++q) {
                const double price = set.InsertionCost(r, q, node);
                std::vector<int32_t> nodes = set.RouteOf(r).nodes;
                nodes.insert(nodes.begin() + static_cast<std::ptrdiff_t>(q), node);
                const std::vector<int64_t> path(nodes.begin(), nodes.end());
                const PathEvaluation walked = rules.EvaluatePath(path, static_cast<int64_t>(r));
                const double overload =
                    std::max(0.0, HighestLoad(problem, nodes) - tasks.Capacity(r));
                const bool keeps = walked.feasible && (c.soft_loads || overload == 0.0);
                ASSERT_EQ(price != RouteSet::kInfeasible, keeps)
                    << "node " << node << " into route " << r << " at " << q;
                if (!keeps) {
                    ++refused;
                    continue;
                }
                ++priced;
                const double expected = walked.cost + 3.0 * (c.soft_loads ? overload : 0.0);
                EXPECT_NEAR(price, expected, 1e-6 * std::max(1.0, expected));
                RouteSet made = set;
                ASSERT_TRUE(made.Insert(r, q, node));
                EXPECT_NEAR(made.RouteOf(r).Cost(), expected, 1e-6 * std::max(1.0, expected));
                EXPECT_NEAR(made.RouteOf(r).load_before.back().high, HighestLoad(problem, nodes),
                            1e-9);
            }
        }
    }
    EXPECT_GT(priced, 50u);
    EXPECT_GT(refused, 50u);
}

INSTANTIATE_TEST_SUITE_P(Seeded, Insertions,
                         ::testing::Values(Case{1, false, false}, Case{2, true, false},
                                           Case{3, false, true}, Case{4, true, true}));

}  // namespace
}  // namespace tamrik
