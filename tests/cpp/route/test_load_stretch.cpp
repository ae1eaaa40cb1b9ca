#include "route/load_stretch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace tamrik {
namespace {

LoadStretch StretchOf(const std::vector<double>& demands, size_t first, size_t last) {
    LoadStretch stretch = LoadStretch::Of(demands[first]);
    for (size_t k = first + 1; k <= last; ++k) {
        stretch = LoadStretch::Join(stretch, LoadStretch::Of(demands[k]));
    }
    return stretch;
}

TEST(LoadStretch, JoinedAtAnySplitItReachesTheLoadsOfAWalkFromAnyEntry) {
    std::mt19937 random(5);
    std::uniform_int_distribution<int> demand(-6, 9);
    for (int trial = 0; trial < 300; ++trial) {
        std::vector<double> demands(1 + static_cast<size_t>(trial % 8));
        for (double& d : demands) d = demand(random);
        const size_t last = demands.size() - 1;
        for (size_t split = 0; split < last; ++split) {
            const LoadStretch whole =
                LoadStretch::Join(StretchOf(demands, 0, split), StretchOf(demands, split + 1, last));
            for (double entry = 0.0; entry <= 12.0; entry += 3.0) {
                double load = entry;
                double low = entry;
                double high = entry;
                for (double d : demands) {
                    load += d;
                    low = std::min(low, load);
                    high = std::max(high, load);
                }
                EXPECT_EQ(entry + whole.delta, load);
                const double capacity = 15.0;
                EXPECT_EQ(whole.ExcessFrom(entry, capacity),
                          std::max(0.0, high - capacity) + std::max(0.0, -low));
                EXPECT_EQ(whole.FitsFrom(entry, capacity, 0.0), low >= 0.0 && high <= capacity);
            }
        }
    }
}

}  // namespace
}  // namespace tamrik
