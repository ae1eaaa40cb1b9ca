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
    using Window = std::pair<double, double>;
    std::unordered_map<uint64_t, Window> windows;
    // Nodes with several windows, sorted and disjoint: service starts in the earliest one the
    // agent can still reach. `windows` holds such a node's first opening and last closing.
    std::unordered_map<uint64_t, std::vector<Window>> several;

    void set_timewindow(uint64_t node, double start, double end);
    // One window is set as by set_timewindow.
    void set_timewindows(uint64_t node, std::vector<Window> list);
};

// Node pairs read from "sequence" constraints; stored and handed on unchanged.
struct SequenceConstraint {
    using NodePair = std::pair<uint64_t, uint64_t>;
    std::vector<NodePair> precedence_pairs;
    std::vector<NodePair> same_pairs;
    std::vector<NodePair> diff_pairs;
};

// A route to start from: the agent's stops in order (ids; the agent's start and end may lead
// and close the list), of which the first `pinned` are visits already made and stay in place.
struct InitialRoute {
    uint64_t agent_id = 0;
    std::vector<uint64_t> node_ids;
    int64_t pinned = 0;
};

}  // namespace tamrik
