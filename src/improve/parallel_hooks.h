#pragma once

#include <time.h>

#include <cstdint>
#include <functional>

#include "route/route_set.h"

namespace tamrik {

// What a stage on several threads asks its caller, always on the calling thread.
struct ParallelHooks {
    // The caller's clock when the stage starts; every thread counts its own processor time
    // from there, against `deadline`.
    double start_time = 0.0;
    double deadline = 0.0;
    // True when the host wants the solve to stop now (asked at least every 20 ms).
    std::function<bool()> interrupted;
    // Called with each better solution and the time it was found at.
    std::function<void(const RouteSet&, double)> improved;
};

// Seeds of the generators of further threads are spread by this odd constant.
constexpr uint64_t kThreadSeedStep = 0x9E3779B97F4A7C15ull;

// Processor seconds of the calling thread.
inline double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

}  // namespace tamrik
