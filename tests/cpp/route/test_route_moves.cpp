#include "route/route_moves.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
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

enum class Bends { kNothing, kLoads, kDays };

struct Case {
    unsigned seed;
    bool several;
    Bends bends;
};

constexpr double kLoadPrice = 3.0;

// One seeded day with half of its targets placed at random, and the oracle every move is held
// to: priced, then made on a copy, the routes it changes cost what the price said, and they
// keep every rule (walked whole, loads included) exactly when the price was feasible.
class Moves : public ::testing::TestWithParam<Case> {
protected:
    Moves()
        : problem(BusyDay(GetParam().seed, GetParam().several)),
          solver(Quietly(problem)),
          rules(solver->MakeRouteRules()),
          tasks(LoadsOf(problem)),
          set(rules, &tasks) {
        EXPECT_TRUE(set.LoadEmpty().empty());
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

    static std::unique_ptr<SolverProbe> Quietly(const Problem& instance) {
        ::testing::internal::CaptureStderr();
        auto made = std::make_unique<SolverProbe>(instance, instance.options);
        ::testing::internal::GetCapturedStderr();
        return made;
    }

    // Whether route r of `made` keeps every rule that does not bend, walked whole.
    bool Keeps(const RouteSet& made, size_t r) const {
        const std::vector<int32_t>& nodes = made.RouteOf(r).nodes;
        const std::vector<int64_t> path(nodes.begin(), nodes.end());
        const bool days = rules.EvaluatePath(path, static_cast<int64_t>(r)).feasible;
        const bool loads = HighestLoad(problem, nodes) <= tasks.Capacity(r);
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
        bool kept = true;
        for (size_t k = 0; k < price.count; ++k) kept = kept && Keeps(made, price.routes[k]);
        ASSERT_EQ(price.Feasible(), kept);
        if (!kept) {
            ++refused;
            return;
        }
        ++priced;
        for (size_t k = 0; k < price.count; ++k) {
            const double cost = made.RouteOf(price.routes[k]).Cost();
            ASSERT_NEAR(price.costs[k], cost, 1e-6 * std::max(1.0, cost));
        }
    }

    // Where windows and limits bend, only loads and the fixed rules refuse a move.
    void ExpectBothOutcomes() const {
        EXPECT_GT(priced, 20u);
        if (GetParam().bends != Bends::kDays) {
            EXPECT_GT(refused, 20u);
        }
    }

    Problem problem;
    std::unique_ptr<SolverProbe> solver;
    RouteRules rules;
    TaskRules tasks;
    RouteSet set;
    size_t priced = 0;
    size_t refused = 0;
};

std::vector<int32_t> Held(const RouteSet& set) {
    std::vector<int32_t> held;
    for (int32_t node : set.Movable()) {
        if (set.RouteHolding(node) >= 0) held.push_back(node);
    }
    return held;
}

TEST_P(Moves, RelocationsCostWhatTheyArePricedAt) {
    for (int32_t node : Held(set)) {
        for (size_t r = 0; r < set.RouteCount(); ++r) {
            for (size_t q = 1; q < set.RouteOf(r).nodes.size(); ++q) {
                Check(RelocateMove{node, r, q});
            }
        }
    }
    ExpectBothOutcomes();
}

TEST_P(Moves, ExchangesCostWhatTheyArePricedAt) {
    const std::vector<int32_t> held = Held(set);
    for (int32_t a : held) {
        for (int32_t b : held) Check(ExchangeMove{a, b});
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
    for (int32_t node : set.Movable()) {
        if (set.RouteHolding(node) >= 0) continue;
        for (size_t r = 0; r < set.RouteCount(); ++r) {
            for (size_t q = 1; q < set.RouteOf(r).nodes.size(); ++q) Check(InsertMove{node, r, q});
        }
    }
    ExpectBothOutcomes();
}

INSTANTIATE_TEST_SUITE_P(
    Seeded, Moves,
    ::testing::Values(Case{1, false, Bends::kNothing}, Case{2, true, Bends::kNothing},
                      Case{3, false, Bends::kLoads}, Case{4, true, Bends::kLoads},
                      Case{5, false, Bends::kDays}, Case{6, true, Bends::kDays}));

}  // namespace
}  // namespace tamrik
