#include "solver/simple_timer.h"

#include <iostream>

namespace tamrik {

int SimpleTimer::Start() {
    start = std::clock();
    return 0;
}

double SimpleTimer::ElapsedSeconds() const {
    return static_cast<double>(std::clock() - start) / 1000000.0;
}

void SimpleTimer::Print() const {
    std::cout << " System Clock Duration: " << ElapsedSeconds() << std::endl;
}

}  // namespace tamrik
