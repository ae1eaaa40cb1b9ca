// Seconds and extra peak resident memory of reading one JSON instance into a problem: the
// plain way (the whole document tree, then the loader) against load_problem_text (matrix
// entries straight into the matrices). Make the instance with benchmarks/matrix_input.py
// --write FILE.json. One way per run, so that memory freed by the other does not hide the
// peak; Linux only (reads /proc/self/status).
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPLOXA_BENCHMARKS=ON
//   cmake --build build-bench --target json_load_bench
//   build-bench/benchmarks/json_load_bench FILE.json tree|parsing

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "model/instance_text.h"
#include "model/json_loader.h"

namespace {

long StatusMiB(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::strlen(key))) / 1024;
    }
    return 0;
}

void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

template <class Load>
void Measure(const char* name, Load load) {
    ResetPeak();
    const long before = StatusMiB("VmRSS:");
    const auto start = std::chrono::steady_clock::now();
    tamrik::Problem problem;
    load(problem);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%-22s %.3f s, extra peak %ld MiB\n", name, seconds,
                StatusMiB("VmHWM:") - before);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string way = argc == 3 ? argv[2] : "";
    if (way != "tree" && way != "parsing") {
        std::fprintf(stderr, "usage: json_load_bench INSTANCE.json tree|parsing\n");
        return 2;
    }
    std::ifstream in(argv[1]);
    std::stringstream text;
    text << in.rdbuf();
    const std::string document = text.str();
    if (way == "tree") {
        Measure("document tree", [&](tamrik::Problem& problem) {
            tamrik::load_problem_json(nlohmann::json::parse(document), problem);
        });
    } else {
        Measure("matrices while parsing", [&](tamrik::Problem& problem) {
            tamrik::load_problem_text(document, problem);
        });
    }
}
