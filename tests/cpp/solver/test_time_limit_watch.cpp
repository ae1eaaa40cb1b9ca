// The time-limit test of the search loop, which reads the processor clock only when the limit
// could have been passed, against reading it at every question.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "solver/time_limit_watch.h"

namespace tamrik {
namespace {

TEST(TimeLimitWatch, TurnsTrueExactlyWhenTheClockPassesTheLimit) {
    const double limit = 0.15;
    SimpleTimer timer;
    TimeLimitWatch watch;
    timer.Start();
    watch.Reset();
    int questions = 0;
    while (true) {
        const bool before = limit < timer.ElapsedSeconds();
        const bool passed = watch.Passed(limit, timer);
        const bool after = limit < timer.ElapsedSeconds();
        ++questions;
        ASSERT_FALSE(before && !passed) << "missed a passed limit";
        ASSERT_FALSE(passed && !after) << "passed before the clock did";
        if (passed) break;
    }
    EXPECT_GT(questions, 100);
    // Once passed, a new search after Reset starts quiet again with a fresh timer.
    timer.Start();
    watch.Reset();
    EXPECT_FALSE(watch.Passed(limit, timer));
}

TEST(TimeLimitWatch, AnswersForNegativeHugeAndUndefinedLimits) {
    SimpleTimer timer;
    TimeLimitWatch watch;
    timer.Start();
    watch.Reset();
    EXPECT_TRUE(watch.Passed(-1.0, timer));
    watch.Reset();
    for (double limit : {1e300, std::numeric_limits<double>::infinity(), std::nan("")}) {
        for (int i = 0; i < 1000; ++i) ASSERT_FALSE(watch.Passed(limit, timer)) << limit;
        watch.Reset();
    }
}

}  // namespace
}  // namespace tamrik
