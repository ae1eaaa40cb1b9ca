#include "solver/simple_timer.h"


#include "base/log_sink.h"

namespace tamrik {

int SimpleTimer::Start() {
    start = std::clock();
    return 0;
}

double SimpleTimer::ElapsedSeconds() const {
    return static_cast<double>(std::clock() - start) / 1000000.0;
}

void SimpleTimer::Print() const {
    LogLine(LogStream::kOut, LineOf(" System Clock Duration: ", ElapsedSeconds()));
}

}  // namespace tamrik
