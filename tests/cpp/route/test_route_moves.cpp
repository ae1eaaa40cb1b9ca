#include "route/route_moves.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <vector>

#include "support/busy_day.h"

namespace tamrik {
namespace {

using testing::FillHalfAtRandom;
using testing::HighestLoad;
using testing::WalkedOverload;

enum class Bends { kNothing, kLoads, kDays };

struct Case {
    unsigned seed;
    bool several;
    Bends bends;
    bool timed = true;
    bool priced = false;
    size_t dims = 1;
};

constexpr double kLoadPrice = 3.0;
constexpr double kInfinity = std::numeric_limits<double>::infinity();

// An independent walk of the route, leaving as early as the agent may: how far it must go
// back in time to meet every window and its shift's end.
double WalkedWarp(const Problem& problem, const RouteRules& rules, size_t agent,
                  const std::vector<Vertex>& nodes) {
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

std::vector<Vertex> Held(const RouteSet& set) {
    std::vector<Vertex> held;
    for (Vertex node : set.Movable()) {
        if (set.RouteHolding(node) >= 0) held.push_back(node);
    }
    return held;
}

// One seeded day with half of its targets placed at random, and the oracle every move is held
// to: priced, then made on a copy, the routes it changes cost what the price said (with the
// price of what they break, where rules bend), their loads peak where a walk says, and they
// keep every rule (walked whole, loads included) exactly when the price was feasible.
class Moves : public ::testing::TestWithParam<Case>, protected testing::BusyRoutes {
protected:
    Moves()
        : BusyRoutes(GetParam().seed, GetParam().several, GetParam().timed, GetParam().priced,
                     GetParam().dims) {
        if (GetParam().bends == Bends::kLoads) set.SetLoadWeight(kLoadPrice);
        if (GetParam().bends == Bends::kDays) {
            RuleAmounts weights{};
            weights[kTimeRule] = 2.0;
            weights[kCostLimitRule] = 0.5;
            weights[kStopRule] = 7.0;
            set.SetWeights(weights);
        }
        std::mt19937 rng(GetParam().seed);
        FillHalfAtRandom(set, rng);
    }


    double Overload(size_t r, const std::vector<Vertex>& nodes) const {
        return WalkedOverload(problem, nodes, tasks.Capacity(r), GetParam().dims);
    }

    // Whether route r of `made` keeps every rule that does not bend, walked whole.
    bool Keeps(const RouteSet& made, size_t r) const {
        const std::vector<Vertex>& nodes = made.RouteOf(r).nodes;
        const std::vector<int64_t> path(nodes.begin(), nodes.end());
        const bool days = rules.EvaluatePath(path, static_cast<int64_t>(r)).feasible;
        const bool loads = Overload(r, nodes) <= 1e-9;
        switch (GetParam().bends) {
            case Bends::kNothing: return days && loads;
            case Bends::kLoads: return days;
            case Bends::kDays: return rules.KeepsFixedRules(path, static_cast<int64_t>(r)) && loads;
        }
        return false;
    }

    template <typename Move>
    void Check(const Move& move) {
        const MovePrice price = move.Price(set);
        if (price.count == 0) return;
        RouteSet made = set;
        move.Apply(made);
        ExpectEveryStopHeldOnce(made);
        bool kept = true;
        for (size_t k = 0; k < price.count; ++k) kept = kept && Keeps(made, price.routes[k]);
        ASSERT_EQ(price.Feasible(), kept);
        if (!kept) {
            ++refused;
            return;
        }
        ++priced;
        for (size_t k = 0; k < price.count; ++k) {
            const RouteSet::Route& route = made.RouteOf(price.routes[k]);
            ASSERT_EQ(route.nodes.size(), price.sizes[k]);
            ASSERT_NEAR(price.costs[k], route.Cost(), 1e-6 * std::max(1.0, route.Cost()));
            ASSERT_NEAR(route.load_before[(route.nodes.size() - 1) * GetParam().dims].high,
                        HighestLoad(problem, route.nodes), 1e-9);
            if (GetParam().bends == Bends::kLoads) {
                ASSERT_NEAR(route.excess[kCapacityRule], Overload(price.routes[k], route.nodes), 1e-9);
            }
        }
    }

    // The set's own record of where each stop is agrees with its routes, and no stop that
    // was held is lost or held twice.
    void ExpectEveryStopHeldOnce(const RouteSet& made) const {
        for (size_t r = 0; r < made.RouteCount(); ++r) {
            const std::vector<Vertex>& nodes = made.RouteOf(r).nodes;
            for (size_t k = 1; k + 1 < nodes.size(); ++k) {
                ASSERT_EQ(made.RouteHolding(nodes[k]), static_cast<int32_t>(r));
                ASSERT_EQ(made.PositionOf(nodes[k]), static_cast<int32_t>(k));
            }
        }
        for (Vertex node : Held(set)) ASSERT_GE(made.RouteHolding(node), 0) << node;
    }

    // Where windows and limits bend, only loads and the fixed rules refuse a move; untimed
    // days with soft loads refuse none.
    void ExpectBothOutcomes() const {
        EXPECT_GT(priced, 20u);
        const Bends bends = GetParam().bends;
        if (bends == Bends::kNothing || (bends == Bends::kLoads && GetParam().timed)) {
            EXPECT_GT(refused, 20u);
        }
    }

    size_t priced = 0;
    size_t refused = 0;
};

TEST_P(Moves, RelocationsOfOneToThreeStopsCostWhatTheyArePricedAt) {
    for (Vertex node : Held(set)) {
        for (size_t r = 0; r < set.RouteCount(); ++r) {
            for (size_t q = 1; q < set.RouteOf(r).nodes.size(); ++q) {
                for (size_t count = 1; count <= kLongestRelocation; ++count) {
                    Check(RelocateMove{node, r, q, count});
                }
            }
        }
    }
    ExpectBothOutcomes();
}

TEST_P(Moves, TailExchangesCostWhatTheyArePricedAt) {
    for (size_t r = 0; r < set.RouteCount(); ++r) {
        for (size_t s = 0; s < set.RouteCount(); ++s) {
            for (size_t p = 0; p + 1 < set.RouteOf(r).nodes.size(); ++p) {
                for (size_t q = 0; q + 1 < set.RouteOf(s).nodes.size(); ++q) {
                    Check(TailExchangeMove{r, p, s, q});
                }
            }
        }
    }
    ExpectBothOutcomes();
}

TEST_P(Moves, ExchangesOfOneOrTwoStopsCostWhatTheyArePricedAt) {
    const std::vector<Vertex> held = Held(set);
    for (Vertex a : held) {
        for (Vertex b : held) {
            for (size_t first = 1; first <= kLongestExchange; ++first) {
                for (size_t second = 1; second <= kLongestExchange; ++second) {
                    Check(ExchangeMove{a, b, first, second});
                }
            }
        }
    }
    ExpectBothOutcomes();
}

TEST_P(Moves, SwapsOfStopsIntoTheirBestPlacesCostWhatTheyArePricedAt) {
    const std::vector<Vertex> held = Held(set);
    for (Vertex a : held) {
        for (Vertex b : held) {
            const size_t into_b = set.RouteOf(static_cast<size_t>(set.RouteHolding(b))).nodes.size();
            const size_t into_a = set.RouteOf(static_cast<size_t>(set.RouteHolding(a))).nodes.size();
            for (size_t p = 1; p < into_b; ++p) {
                for (size_t q = 1; q < into_a; ++q) Check(SwapStarMove{a, p, b, q});
            }
        }
    }
    ExpectBothOutcomes();
}

TEST_P(Moves, ReversalsCostWhatTheyArePricedAt) {
    for (size_t r = 0; r < set.RouteCount(); ++r) {
        const size_t n = set.RouteOf(r).nodes.size();
        for (size_t i = 1; i + 2 < n; ++i) {
            for (size_t j = i + 1; j + 1 < n; ++j) Check(ReverseMove{r, i, j});
        }
    }
    // Windows let few orders run backwards.
    EXPECT_GT(priced, 3u);
    EXPECT_GT(priced + refused, 20u);
}

TEST_P(Moves, InsertionsCostWhatTheyArePricedAt) {
    for (Vertex node : set.Movable()) {
        if (set.RouteHolding(node) >= 0) continue;
        for (size_t r = 0; r < set.RouteCount(); ++r) {
            for (size_t q = 1; q < set.RouteOf(r).nodes.size(); ++q) Check(InsertMove{node, r, q});
        }
    }
    ExpectBothOutcomes();
}

// A stop the route holds elsewhere cannot be spliced in again, and moves off the routes' ends
// are not moves at all.
TEST_P(Moves, RefuseAStopTwiceOnARouteAndPlacesOffItsEnds) {
    size_t tried = 0;
    for (size_t r = 0; r < set.RouteCount(); ++r) {
        const std::vector<Vertex> nodes = set.RouteOf(r).nodes;
        const size_t n = nodes.size();
        EXPECT_EQ((ReverseMove{r, 0, n - 2}.Price(set).count), 0u);
        EXPECT_EQ((ReverseMove{r, 1, n - 1}.Price(set).count), 0u);
        if (n < 5) continue;
        ++tried;
        EXPECT_EQ(set.SplicePrice(r, 2, {&nodes[1], 1}, 3), RouteSet::kInfeasible);
        const size_t other = (r + 1) % set.RouteCount();
        const size_t beyond = set.RouteOf(other).nodes.size();
        for (size_t position : {size_t{0}, beyond}) {
            EXPECT_EQ((RelocateMove{nodes[1], other, position}.Price(set).count), 0u);
        }
    }
    EXPECT_GT(tried, 0u);
}

// Each route's time warp is what a direct walk must go back in time to meet every window and
// the shift's end, its stops over the limit are counted, and it pays a price exactly when it
// breaks a rule; where only loads or nothing bends no route is late.
TEST_P(Moves, RoutesMeasureWhatTheyBreakAsADirectWalkDoes) {
    size_t warped = 0;
    for (size_t r = 0; r < set.RouteCount(); ++r) {
        const RouteSet::Route& route = set.RouteOf(r);
        const double walked = WalkedWarp(problem, rules, r, route.nodes);
        EXPECT_NEAR(route.excess[kTimeRule], walked, 1e-6) << "route " << r;
        warped += walked > 0.0 ? 1 : 0;
        const int64_t stops = static_cast<int64_t>(route.nodes.size()) - 2;
        const int64_t most = problem.agents_ordered[r].max_stops.value_or(stops);
        EXPECT_EQ(route.excess[kStopRule], GetParam().bends == Bends::kDays
                                               ? static_cast<double>(std::max<int64_t>(0, stops - most))
                                               : 0.0);
        const std::vector<int64_t> path(route.nodes.begin(), route.nodes.end());
        const bool kept = rules.EvaluatePath(path, static_cast<int64_t>(r)).feasible &&
                          Overload(r, route.nodes) <= 1e-9;
        EXPECT_EQ(kept, route.penalty == 0.0) << "route " << r;
    }
    EXPECT_EQ(warped > 0, GetParam().bends == Bends::kDays);
}

INSTANTIATE_TEST_SUITE_P(
    Seeded, Moves,
    ::testing::Values(Case{1, false, Bends::kNothing}, Case{2, true, Bends::kNothing},
                      Case{3, false, Bends::kLoads}, Case{4, true, Bends::kLoads},
                      Case{5, false, Bends::kDays}, Case{6, true, Bends::kDays},
                      Case{7, false, Bends::kNothing, false}, Case{8, false, Bends::kLoads, false},
                      // durations apart from the costs, priced routes, distance and duration limits
                      Case{13, false, Bends::kNothing, true, true},
                      Case{10, true, Bends::kDays, true, true},
                      // a second load dimension of pick-ups and deliveries
                      Case{11, false, Bends::kNothing, true, false, 2},
                      Case{12, true, Bends::kLoads, false, false, 2}));

}  // namespace
}  // namespace tamrik
