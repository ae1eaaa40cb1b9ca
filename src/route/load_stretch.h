#pragma once

#include <algorithm>

namespace tamrik {

// What a stretch of route does to one dimension of the load: the net change over it and the
// lowest and highest the running load reaches within it (its entry level, 0, included), all
// counted from the load it is entered with, and what its stops deliver. A route leaves its
// start carrying every delivery it makes, so a whole route is entered with its `delivered`.
// Two stretches make one in O(1), so a route keeps them for its prefixes and suffixes and
// tests an insertion without walking.
struct LoadStretch {
    double delta = 0.0;
    double low = 0.0;
    double high = 0.0;
    double delivered = 0.0;

    // One node whose load changes by `demand` (negative: it unloads), `delivered` of it
    // dropped off from what the route set out with.
    static LoadStretch Of(double demand, double delivered = 0.0) {
        return {demand, std::min(0.0, demand), std::max(0.0, demand), delivered};
    }

    // `first`, then `second` entered with what `first` leaves.
    static LoadStretch Join(const LoadStretch& first, const LoadStretch& second) {
        return {first.delta + second.delta, std::min(first.low, first.delta + second.low),
                std::max(first.high, first.delta + second.high),
                first.delivered + second.delivered};
    }

    // As a whole route: entered with what it delivers.
    double Excess(double capacity) const { return ExcessFrom(delivered, capacity); }
    bool Fits(double capacity, double tolerance) const {
        return FitsFrom(delivered, capacity, tolerance);
    }

    // How far the load, entered at `entry`, leaves [0, capacity].
    double ExcessFrom(double entry, double capacity) const {
        return std::max(0.0, entry + high - capacity) + std::max(0.0, -(entry + low));
    }
    // Whether it stays within [0, capacity] from `entry`, give or take `tolerance`.
    bool FitsFrom(double entry, double capacity, double tolerance) const {
        return entry + high <= capacity + tolerance && entry + low >= -tolerance;
    }
};

}  // namespace tamrik
