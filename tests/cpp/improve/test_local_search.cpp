#include "improve/local_search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

#include "support/busy_day.h"

namespace tamrik {
namespace {

using testing::HighestLoad;
using Paths = std::vector<std::vector<int64_t>>;

// Seed, several windows, min-max, timed, the best improvement (else the first).
using Day = std::tuple<unsigned, bool, bool, bool, bool>;

// A seeded busy day with half of its stops placed at random, searched with every stop a
// neighbour of every other. The plan it ends with is held to the route rules' own walk: it
// keeps every rule, is no worse than the plan it started from, and no single stop moved to
// just after a stop of another route, walked whole, would make it better.
class LocalSearchOnBusyDays : public ::testing::TestWithParam<Day>, protected testing::BusyRoutes {
protected:
    LocalSearchOnBusyDays()
        : BusyRoutes(std::get<0>(GetParam()), std::get<1>(GetParam()), std::get<3>(GetParam())) {
        std::mt19937 rng(std::get<0>(GetParam()));
        testing::FillHalfAtRandom(set, rng);
    }


    // The plan's (longest route, total) under min-max and (total, 0) under min-sum, walked
    // by the route rules; none when a route breaks a rule.
    std::optional<std::pair<double, double>> Walk(const Paths& paths) const {
        double largest = 0.0;
        double total = 0.0;
        for (size_t r = 0; r < paths.size(); ++r) {
            const auto agent = static_cast<int64_t>(r);
            const PathEvaluation evaluation = rules.EvaluatePath(paths[r], agent);
            const std::vector<Vertex> nodes(paths[r].begin(), paths[r].end());
            if (!evaluation.feasible || HighestLoad(problem, nodes) > tasks.Capacity(r) + 1e-9) {
                return std::nullopt;
            }
            largest = std::max(largest, evaluation.cost);
            total += evaluation.cost + (paths[r].size() > 2 ? rules.FixedCost(agent) : 0.0);
        }
        if (std::get<2>(GetParam())) return std::pair(largest, total);
        return std::pair(total, 0.0);
    }
};

bool Better(std::pair<double, double> a, std::pair<double, double> b) {
    const double tolerance = 1e-6 * std::max(1.0, b.first);
    return a.first < b.first - tolerance ||
           (a.first <= b.first + tolerance && a.second < b.second - tolerance);
}

TEST_P(LocalSearchOnBusyDays, EndsWithCheckedRoutesThatNoSingleStopMoveImproves) {
    const auto before = Walk(set.Paths());
    ASSERT_TRUE(before.has_value());
    const NearLists near = BuildNearLists(set);
    LocalSearch search(near, set.VertexCount(), std::get<2>(GetParam()), std::get<4>(GetParam()));
    std::mt19937_64 rng(7);
    EXPECT_GT(search.Run(set, rng), 0u);
    const Paths paths = set.Paths();
    const auto after = Walk(paths);
    ASSERT_TRUE(after.has_value());
    EXPECT_FALSE(Better(*before, *after));
    size_t tried = 0;
    for (size_t r = 0; r < paths.size(); ++r) {
        for (size_t k = 1; k + 1 < paths[r].size(); ++k) {
            for (size_t s = 0; s < paths.size(); ++s) {
                for (size_t q = 1; s != r && q + 1 < paths[s].size(); ++q) {
                    Paths moved = paths;
                    moved[s].insert(moved[s].begin() + static_cast<std::ptrdiff_t>(q) + 1,
                                    paths[r][k]);
                    moved[r].erase(moved[r].begin() + static_cast<std::ptrdiff_t>(k));
                    const auto value = Walk(moved);
                    tried += value.has_value();
                    EXPECT_FALSE(value && Better(*value, *after))
                        << "stop " << paths[r][k] << " after " << paths[s][q];
                }
            }
        }
    }
    EXPECT_GT(tried, 5u);  // the oracle had moves to judge
}

INSTANTIATE_TEST_SUITE_P(Seeded, LocalSearchOnBusyDays,
                         ::testing::Combine(::testing::Values(1u, 2u, 3u), ::testing::Bool(),
                                            ::testing::Bool(), ::testing::Values(true),
                                            ::testing::Values(false)));
INSTANTIATE_TEST_SUITE_P(Untimed, LocalSearchOnBusyDays,
                         ::testing::Combine(::testing::Values(1u, 2u, 3u), ::testing::Values(false),
                                            ::testing::Bool(), ::testing::Values(false),
                                            ::testing::Values(false)));
INSTANTIATE_TEST_SUITE_P(BestImprovement, LocalSearchOnBusyDays,
                         ::testing::Combine(::testing::Values(1u, 2u, 3u), ::testing::Values(false),
                                            ::testing::Values(false), ::testing::Bool(),
                                            ::testing::Values(true)));

}  // namespace
}  // namespace tamrik
