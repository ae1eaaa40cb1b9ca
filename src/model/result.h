#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

namespace tamrik {

// A solution as the solver reports it: maps keyed by agent index (position in
// Problem::agents_ordered), paths made of vertex indices (positions in Problem::nodes).
struct Result {
    std::unordered_map<int64_t, std::vector<int64_t>> paths;
    std::unordered_map<int64_t, double> times;
    int64_t n_generated = 0;
    int64_t n_expanded = 0;
    bool timeout = false;
    double last_update_time = 0.0;
};

}  // namespace tamrik
