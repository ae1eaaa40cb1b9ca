#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <utility>
#include <vector>

namespace tamrik {

// The search's view of one vertex (the node at the same position of Problem::nodes).
struct PointRecord {
    int64_t x = 0;
    int64_t y = 0;
    int64_t z = 0;
    uint64_t node_id = 0;
    // Agent type indices allowed to serve the vertex, ascending, without duplicates.
    std::vector<int64_t> types;
};

// The search's view of one agent (the agent at the same position of Problem::agents_ordered).
struct AgentRecord {
    uint64_t agent_id = 0;
    // -1 when the agent's type has no index.
    int64_t type_index = -1;
    double capacity_limit = 0.0;
    // Largest accumulated cost the agent may reach; 0 or less means no limit.
    double cost_limit = 0.0;
};

constexpr int kMaxVertices = 256;

// 256 vertex bits: vertex v is bit v % 64 of word v / 64.
using VisitedSet = std::array<uint64_t, 4>;

inline bool TestBit(const VisitedSet& set, int64_t v) {
    return (set[static_cast<size_t>(v) >> 6] >> (static_cast<size_t>(v) & 63)) & 1u;
}

inline void SetBit(VisitedSet& set, int64_t v) {
    set[static_cast<size_t>(v) >> 6] |= uint64_t{1} << (static_cast<size_t>(v) & 63);
}

inline void ClearBit(VisitedSet& set, int64_t v) {
    set[static_cast<size_t>(v) >> 6] &= ~(uint64_t{1} << (static_cast<size_t>(v) & 63));
}

// One joint state of all agents.
struct Label {
    int64_t id = 0;
    std::vector<int64_t> positions;
    // Accumulated cost of each agent, which is also its current time.
    std::vector<double> costs;
    std::vector<double> aux;
    VisitedSet visited{};
    // Number of graph vertices; -1 in a fresh pool slot.
    int32_t visited_size = -1;
    double h = 0.0;
    double g = 0.0;
    double f = 0.0;
    int64_t remaining_agents = 0;
    int64_t last_agent = 0;
    std::vector<uint8_t> finished;
};

struct FocalEntry {
    int64_t id = 0;
    int64_t visited_count = 0;
    int64_t remaining_agents = 0;
    double f = 0.0;
    double cost_sum = 0.0;
};

// A vertex pair with its usable cost, larger vertex index first.
struct MstEdge {
    int64_t u = 0;
    int64_t v = 0;
    double w = 0.0;
};

// (earliest, latest) admissible time per vertex index.
using TimeWindow = std::pair<double, double>;
using TimeWindowMap = std::unordered_map<int64_t, TimeWindow>;

}  // namespace tamrik
