#pragma once

#include <chrono>

#include "solver/simple_timer.h"

namespace tamrik {

// Answers "budget < timer.ElapsedSeconds()" at every pop without reading the processor
// clock, a system call, every time. A process cannot use more processor time than the wall
// time that passes times the processors it can run on. So after one reading leaves `slack`
// seconds, the test stays false until slack / processors wall seconds have passed (less a
// safety allowance), and the cheap wall clock decides until then.
class BudgetWatch {
public:
    BudgetWatch();
    // Forgets the previous search; the next question reads the processor clock.
    void Reset();
    // Exactly budget < timer.ElapsedSeconds(), the clock read only when it could be true.
    bool Passed(double budget, const SimpleTimer& timer);

private:
    using Clock = std::chrono::steady_clock;
    double processors;
    Clock::time_point quiet_until;
};

}  // namespace tamrik
