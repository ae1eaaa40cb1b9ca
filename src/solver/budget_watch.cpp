#include "solver/budget_watch.h"

#include <unistd.h>

#include <algorithm>
#include <thread>

namespace tamrik {
namespace {

// Wall seconds kept back from every quiet stretch: the processor time of other running
// threads may be accounted a scheduler tick late, and clock() truncates to microseconds.
constexpr double kAllowance = 0.02;
// The longest quiet stretch, so that huge limits never overflow the clock's duration type.
constexpr double kLongestQuiet = 3600.0;

double Processors() {
    const long configured = sysconf(_SC_NPROCESSORS_CONF);
    const auto online = static_cast<long>(std::thread::hardware_concurrency());
    return static_cast<double>(std::max({configured, online, 1L}));
}

}  // namespace

BudgetWatch::BudgetWatch() : processors(Processors()) {}

void BudgetWatch::Reset() { quiet_until = Clock::time_point{}; }

bool BudgetWatch::Passed(double budget, const SimpleTimer& timer) {
    // The wall clock is read before the processor clock, so the bound below holds from it.
    const Clock::time_point now = Clock::now();
    if (now < quiet_until) return false;
    const double elapsed = timer.ElapsedSeconds();
    if (budget < elapsed) return true;
    const double quiet = (budget - elapsed) / processors - kAllowance;
    if (quiet > 0.0) {  // also false for a NaN limit: then every question reads the clock
        const auto span = std::chrono::duration<double>(std::min(quiet, kLongestQuiet));
        quiet_until = now + std::chrono::duration_cast<Clock::duration>(span);
    }
    return false;
}

}  // namespace tamrik
