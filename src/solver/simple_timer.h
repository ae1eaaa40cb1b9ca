#pragma once

#include <ctime>

namespace tamrik {

// Processor-time stopwatch on the C library's clock().
class SimpleTimer {
public:
    virtual ~SimpleTimer() = default;
    virtual int Start();
    virtual double ElapsedSeconds() const;
    virtual void Print() const;

private:
    std::clock_t start = 0;
};

}  // namespace tamrik
