#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tamrik {

// Agent type names allowed per node id; a node without an entry admits every type.
struct AssignmentConstraint {
    std::unordered_map<uint64_t, std::vector<std::string>> allowed_types;

    void set_assignment(uint64_t node, std::vector<std::string> types);
};

// (start, end) window per node id, in the units of the cost matrices.
struct TimeWindowConstraint {
    std::unordered_map<uint64_t, std::pair<double, double>> windows;

    void set_timewindow(uint64_t node, double start, double end);
};

// Node pairs read from "sequence" constraints; stored and handed on unchanged.
struct SequenceConstraint {
    using NodePair = std::pair<uint64_t, uint64_t>;
    std::vector<NodePair> precedence_pairs;
    std::vector<NodePair> same_pairs;
    std::vector<NodePair> diff_pairs;
};

}  // namespace tamrik
