#include "route/time_stretch.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace tamrik {
namespace {

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// A random stretch of route: per node its window (some without one), and the legs between.
struct Walkable {
    std::vector<double> open;
    std::vector<double> close;
    std::vector<double> legs;  // legs[k]: from node k to node k + 1
};

Walkable RandomWalkable(std::mt19937& random, size_t nodes) {
    std::uniform_int_distribution<int> pick(0, 60);
    Walkable walk;
    for (size_t k = 0; k < nodes; ++k) {
        const bool windowed = pick(random) % 3 != 0;
        const double open = pick(random) * 2.0;
        walk.open.push_back(windowed ? open : -kInfinity);
        walk.close.push_back(windowed ? open + pick(random) : kInfinity);
        if (k + 1 < nodes) walk.legs.push_back(pick(random) / 4.0);
    }
    return walk;
}

// Service times walked node by node from `time` at node `first`: whether every window holds
// through node `last`, and when service there starts.
bool WalkFrom(const Walkable& walk, size_t first, size_t last, double& time) {
    bool kept = PassWindow(walk.open[first], walk.close[first], time);
    for (size_t k = first + 1; k <= last; ++k) {
        time += walk.legs[k - 1];
        kept = PassWindow(walk.open[k], walk.close[k], time) && kept;
    }
    return kept;
}

TimeStretch StretchOf(const Walkable& walk, size_t first, size_t last) {
    TimeStretch stretch = TimeStretch::At(walk.open[first], walk.close[first], true);
    for (size_t k = first + 1; k <= last; ++k) {
        stretch = TimeStretch::Join(stretch, walk.legs[k - 1], walk.legs[k - 1],
                                    TimeStretch::At(walk.open[k], walk.close[k], true));
    }
    return stretch;
}

TEST(TimeStretch, JoinedStretchesTimeEveryArrivalAsTheWalkDoes) {
    std::mt19937 random(7);
    for (int trial = 0; trial < 300; ++trial) {
        const Walkable walk = RandomWalkable(random, 2 + static_cast<size_t>(trial % 7));
        const size_t last = walk.open.size() - 1;
        for (size_t split = 0; split < last; ++split) {
            // Joined at any split, the two halves are the whole.
            const TimeStretch whole =
                TimeStretch::Join(StretchOf(walk, 0, split), walk.legs[split], walk.legs[split],
                                  StretchOf(walk, split + 1, last));
            EXPECT_EQ(whole.stops, static_cast<int64_t>(last + 1));
            for (double arrival = -5.0; arrival <= 130.0; arrival += 2.5) {
                double time = arrival;
                const bool kept = WalkFrom(walk, 0, last, time);
                ASSERT_EQ(whole.KeptFrom(arrival), kept) << "trial " << trial << " at " << arrival;
                if (kept) {
                    EXPECT_NEAR(whole.EndFrom(arrival), time, 1e-9);
                }
            }
        }
    }
}

TEST(TimeStretch, TheLatestStartThatEndsEarliestWaitsLeast) {
    std::mt19937 random(11);
    for (int trial = 0; trial < 300; ++trial) {
        Walkable walk = RandomWalkable(random, 3 + static_cast<size_t>(trial % 5));
        // A start that may leave from 0 on.
        walk.open[0] = 0.0;
        walk.close[0] = kInfinity;
        const size_t last = walk.open.size() - 1;
        const TimeStretch whole = StretchOf(walk, 0, last);
        double earliest_end = 0.0;
        if (!WalkFrom(walk, 0, last, earliest_end)) continue;
        // Leaving at the stretch's earliest time ends as early as leaving at 0; leaving a
        // little later ends later or breaks a window.
        double at_earliest = whole.earliest;
        ASSERT_TRUE(WalkFrom(walk, 0, last, at_earliest));
        EXPECT_NEAR(at_earliest, earliest_end, 1e-9);
        EXPECT_NEAR(whole.duration, earliest_end - whole.earliest, 1e-9);
        double later = whole.earliest + 0.25;
        if (WalkFrom(walk, 0, last, later)) {
            EXPECT_GT(later, earliest_end);
        }
    }
}

}  // namespace
}  // namespace tamrik
