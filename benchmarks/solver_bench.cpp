// Solves one JSON instance with the C++ core and prints search throughput.
//   solver_bench INSTANCE.json [TIME_LIMIT_SECONDS] [REPEATS]
// With REPEATS > 1 the same solve runs that many times and the fastest run is reported, which
// keeps short solves comparable from one build to the next.
#include <algorithm>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <limits>
#include <string>

#include "api/instance_solve.h"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::cerr << "usage: solver_bench INSTANCE.json [TIME_LIMIT_SECONDS] [REPEATS]\n";
        return 2;
    }
    double time_limit = argc > 2 ? std::stod(argv[2]) : -1.0;
    int repeats = argc > 3 ? std::max(1, std::stoi(argv[3])) : 1;
    const std::string text = tamrik::ReadInstanceFile(argv[1]);
    double cpu = std::numeric_limits<double>::max();
    tamrik::InstanceSolve solve;
    for (int r = 0; r < repeats; ++r) {
        std::clock_t start = std::clock();
        solve = tamrik::SolveInstanceText(text, time_limit);
        cpu = std::min(cpu, static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
    }
    double longest = 0.0;
    double total = 0.0;
    for (const auto& [agent, cost] : solve.result.times) {
        longest = std::max(longest, cost);
        total += cost;
    }
    std::printf("cpu %.4f s, generated %lld (%.0f / s), expanded %lld (%.0f / s), "
                "longest %.6f, total %.6f, timeout %d\n",
                cpu, static_cast<long long>(solve.result.n_generated),
                static_cast<double>(solve.result.n_generated) / cpu,
                static_cast<long long>(solve.result.n_expanded),
                static_cast<double>(solve.result.n_expanded) / cpu, longest, total,
                solve.result.timeout ? 1 : 0);
    return 0;
}
