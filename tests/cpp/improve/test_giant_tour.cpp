#include "improve/giant_tour.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "improve/population_search.h"
#include "support/busy_day.h"

namespace tamrik {
namespace {

using testing::HighestLoad;

constexpr double kNone = RouteSet::kInfeasible;

// (seed, price of overload; 0: loads are hard)
using Day = std::tuple<unsigned, double>;

// An untimed day of three like agents at one depot, its stops in a random giant tour. The
// split is held to every cut of that tour into at most three runs, each walked by the route
// rules: it must find the cheapest, and serve the tour in its order.
class SplitOfAGiantTour : public ::testing::TestWithParam<Day>, protected testing::BusyRoutes {
protected:
    SplitOfAGiantTour() : BusyRoutes(std::get<0>(GetParam()), false, false) {
        for (size_t a = 0; a < problem.agents_ordered.size(); ++a) tasks.SetCapacity(a, 55.0);
        set.SetLoadWeight(std::get<1>(GetParam()));
        tour = set.Movable();
        std::mt19937 rng(std::get<0>(GetParam()));
        std::shuffle(tour.begin(), tour.end(), rng);
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

TEST_P(SplitOfAGiantTour, APopulationOfGiantToursAloneTurnsOneOverloadedRouteIntoAPlanThatFits) {
    std::vector<std::vector<int64_t>> paths;
    for (size_t r = 0; r < set.RouteCount(); ++r) {
        paths.push_back({set.RouteOf(r).nodes.front(), set.RouteOf(r).nodes.back()});
    }
    paths[0].insert(paths[0].begin() + 1, tour.begin(), tour.end());
    ImprovementSettings settings;
    settings.min_max = false;
    settings.seed = std::get<0>(GetParam());
    settings.max_iterations = 300;
    settings.weights[kCapacityRule] = 3.0;
    PopulationSettings population;
    population.giant_tour_share = 1.0;
    ImprovementHooks hooks;
    hooks.elapsed = [] { return 0.0; };
    hooks.deadline = 1e9;
    PopulationSearch search(rules, settings, &tasks, population);
    ASSERT_EQ(search.Run(paths, hooks), PopulationSearch::Stop::kIterations);
    std::vector<int64_t> served;
    for (size_t r = 0; r < paths.size(); ++r) {
        served.insert(served.end(), paths[r].begin() + 1, paths[r].end() - 1);
        EXPECT_TRUE(rules.EvaluatePath(paths[r], static_cast<int64_t>(r)).feasible);
        EXPECT_LE(HighestLoad(problem, {paths[r].begin(), paths[r].end()}), tasks.Capacity(r));
    }
    std::sort(served.begin(), served.end());
    std::vector<int64_t> stops(tour.begin(), tour.end());
    std::sort(stops.begin(), stops.end());
    EXPECT_EQ(served, stops);
}

INSTANTIATE_TEST_SUITE_P(Seeded, SplitOfAGiantTour,
                         ::testing::Combine(::testing::Values(1u, 2u, 3u, 4u),
                                            ::testing::Values(0.0, 3.0)));

}  // namespace
}  // namespace tamrik
