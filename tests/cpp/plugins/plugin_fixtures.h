#pragma once

// Small builders shared by the plug-in tests.

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <vector>

#include "graph/sparse_graph.h"
#include "solver/search_records.h"

namespace tamrik::test {

// Complete directed graph on n vertices, arcs added in the Solver's order (i, then j != i);
// cost(i, j) gives the cost vector of i -> j.
inline SparseGraph CompleteGraph(int64_t n, size_t dims,
                                 const std::function<CostVector(int64_t, int64_t)>& cost) {
    SparseGraph graph;
    graph.ChangeCostDim(dims, 9999.0);
    for (int64_t i = 0; i < n; ++i) graph.AddVertex(i);
    for (int64_t i = 0; i < n; ++i) {
        for (int64_t j = 0; j < n; ++j) {
            if (i != j) graph.AddArc(i, j, cost(i, j));
        }
    }
    return graph;
}

// n points that each allow exactly the type indices `types`.
inline std::vector<PointRecord> Points(size_t n, std::vector<int64_t> types = {0}) {
    std::vector<PointRecord> points(n);
    for (size_t i = 0; i < n; ++i) {
        points[i].node_id = i;
        points[i].types = types;
    }
    return points;
}

inline AgentRecord Agent(int64_t type_index, double cost_limit = 0.0) {
    AgentRecord agent;
    agent.type_index = type_index;
    agent.cost_limit = cost_limit;
    return agent;
}

// A label over n vertices as the search builds it: bits n .. 255 set, then the bits of
// `served`; one entry per agent in positions, costs and finished.
inline Label MakeLabel(int32_t n, std::vector<int64_t> positions, std::vector<double> costs,
                       std::vector<uint8_t> finished, std::initializer_list<int64_t> served) {
    Label label;
    label.visited_size = n;
    for (int64_t v = n; v < kMaxVertices; ++v) SetBit(label.visited, v);
    for (int64_t v : served) SetBit(label.visited, v);
    label.positions = std::move(positions);
    label.costs = std::move(costs);
    label.finished = std::move(finished);
    int64_t remaining = 0;
    for (uint8_t f : label.finished) remaining += f == 0;
    label.remaining_agents = remaining;
    return label;
}

}  // namespace tamrik::test
