#include "improve/giant_tour.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "solver/solver_probe.h"
#include "support/busy_day.h"

namespace tamrik {
namespace {

using testing::BusyDay;
using testing::LoadsOf;
using testing::SolverProbe;

constexpr double kNone = RouteSet::kInfeasible;

// (seed, price of overload; 0: loads are hard)
using Day = std::tuple<unsigned, double>;

// An untimed day of three like agents at one depot, its stops in a random giant tour. The
// split is held to every cut of that tour into at most three runs, each walked by the route
// rules: it must find the cheapest, and serve the tour in its order.
class SplitOfAGiantTour : public ::testing::TestWithParam<Day> {
protected:
    SplitOfAGiantTour()
        : problem(BusyDay(std::get<0>(GetParam()), false, false)),
          solver(Quietly(problem)),
          rules(solver->Rules()),
          tasks(LoadsOf(problem)),
          set(rules, &tasks) {
        for (size_t a = 0; a < problem.agents_ordered.size(); ++a) tasks.SetCapacity(a, 55.0);
        EXPECT_TRUE(set.LoadEmpty().empty());
        set.SetLoadWeight(std::get<1>(GetParam()));
        tour = set.Movable();
        std::mt19937 rng(std::get<0>(GetParam()));
        std::shuffle(tour.begin(), tour.end(), rng);
    }

    static std::unique_ptr<SolverProbe> Quietly(const Problem& instance) {
        ::testing::internal::CaptureStderr();
        auto made = std::make_unique<SolverProbe>(instance, instance.options);
        ::testing::internal::GetCapturedStderr();
        return made;
    }

    // The run tour[begin, end) as a route of agent r, walked, with its fixed cost and the price
    // of its overload; kNone where it may not be a run.
    double RunCost(size_t r, size_t begin, size_t end) const {
        if (begin == end) return 0.0;
        std::vector<int64_t> path{set.RouteOf(r).nodes.front()};
        double load = 0.0;
        for (size_t k = begin; k < end; ++k) {
            path.push_back(tour[k]);
            load += tasks.Demand(tour[k]);
        }
        path.push_back(set.RouteOf(r).nodes.back());
        const double weight = std::get<1>(GetParam());
        const double capacity = tasks.Capacity(r);
        if (load > (weight > 0.0 ? 1.5 * capacity : capacity)) return kNone;
        return rules.EvaluatePath(path, static_cast<int64_t>(r)).cost +
               rules.FixedCost(static_cast<int64_t>(r)) + weight * std::max(0.0, load - capacity);
    }

    Problem problem;
    std::unique_ptr<SolverProbe> solver;
    RouteRules rules;
    TaskRules tasks;
    RouteSet set;
    std::vector<Vertex> tour;
};

TEST_P(SplitOfAGiantTour, FindsTheCheapestCutIntoRunsInTheToursOrder) {
    ASSERT_TRUE(GiantTourCrossover::Suits(set));
    const size_t n = tour.size();
    double cheapest = kNone;
    for (size_t i = 0; i <= n; ++i) {
        for (size_t j = i; j <= n; ++j) {
            const double runs = RunCost(0, 0, i) + RunCost(1, i, j) + RunCost(2, j, n);
            cheapest = std::min(cheapest, runs);
        }
    }
    GiantTourCrossover crossover;
    ASSERT_EQ(crossover.Split(tour, set), cheapest != kNone);
    if (cheapest == kNone) return;
    std::vector<Vertex> served;
    double total = 0.0;
    for (size_t r = 0; r < set.RouteCount(); ++r) {
        const std::vector<Vertex>& nodes = set.RouteOf(r).nodes;
        served.insert(served.end(), nodes.begin() + 1, nodes.end() - 1);
        total += set.RouteOf(r).Cost() + set.Fixed(r);
    }
    EXPECT_EQ(served, tour);
    EXPECT_NEAR(total, cheapest, 1e-6 * cheapest);
}

INSTANTIATE_TEST_SUITE_P(Seeded, SplitOfAGiantTour,
                         ::testing::Combine(::testing::Values(1u, 2u, 3u, 4u),
                                            ::testing::Values(0.0, 3.0)));

}  // namespace
}  // namespace tamrik
