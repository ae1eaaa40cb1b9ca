#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>

namespace tamrik {

// The one window step: service at a node reached at `time` starts no earlier than `open`;
// false once `close` has passed (time then still moves up to `open` if it is earlier).
inline bool PassWindow(double open, double close, double& time) {
    const bool in_time = !(time > close);
    if (time < open) time = open;
    return in_time;
}

// Whether a cost exceeds a limit (0 or less: none).
inline bool ExceedsLimit(double cost, double limit) { return limit > 0.0 && cost > limit; }

// A stretch of route timed as a whole. Reached at a time t in [earliest, latest], it ends at
// t + duration; reached earlier it waits and ends at earliest + duration; reached later it
// breaks a window. time_warp > 0: it breaks a window whenever it is reached. Two stretches
// joined by a leg make one in O(1), so a route keeps them for its prefixes and suffixes and
// tests an insertion without walking.
struct TimeStretch {
    static constexpr double kInfinity = std::numeric_limits<double>::infinity();

    // Waiting included, from the start of service at its first node.
    double duration = 0.0;
    double earliest = -kInfinity;
    double latest = kInfinity;
    double time_warp = 0.0;
    // The travel billed within it (its legs without their services) and the targets served.
    double travel = 0.0;
    int64_t stops = 0;

    // One node whose service may start within [open, close].
    static TimeStretch At(double open, double close, bool target) {
        TimeStretch stretch;
        stretch.earliest = open;
        stretch.latest = close;
        stretch.stops = target ? 1 : 0;
        return stretch;
    }

    // `first`, then a leg taking `leg` (its travel `leg_travel`), then `second`.
    static TimeStretch Join(const TimeStretch& first, double leg, double leg_travel,
                            const TimeStretch& second) {
        // When `second` is reached, counted from the start of `first`.
        const double reach = first.duration - first.time_warp + leg;
        const double wait = std::max(second.earliest - (first.latest + reach), 0.0);
        const double warp = std::max(first.earliest + reach - second.latest, 0.0);
        TimeStretch joined;
        joined.duration = first.duration + second.duration + leg + wait;
        joined.time_warp = first.time_warp + second.time_warp + warp;
        joined.earliest = std::max(second.earliest - reach, first.earliest) - wait;
        joined.latest = std::min(second.latest - reach, first.latest) + warp;
        joined.travel = first.travel + leg_travel + second.travel;
        joined.stops = first.stops + second.stops;
        return joined;
    }

    // Whether it can be reached at `time` without breaking a window.
    bool KeptFrom(double time) const { return time_warp <= 0.0 && !(time > latest); }
    // When it ends if reached at `time` (a time it is kept from).
    double EndFrom(double time) const { return std::max(time, earliest) + duration; }
};

}  // namespace tamrik
