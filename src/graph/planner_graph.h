#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tamrik {

// Entry t is the travel cost for agent type index t.
using CostVector = std::vector<double>;

// A read-only view of every arc's cost entries that a graph may keep for hot loops: the arc
// u -> v exists when slots[u * vertices + v] >= 0, and its entry t is
// costs[(u * vertices + v) * cost_dim + t]. Valid until the graph changes; empty (costs null)
// when the graph keeps no such table.
struct ArcCostTable {
    const double* costs = nullptr;
    const int32_t* slots = nullptr;
    size_t vertices = 0;
    size_t cost_dim = 0;
};

// Directed graph over the dense vertex range 0 .. NumVertex()-1 whose arcs carry a cost
// vector. All queries return copies.
class PlannerGraph {
public:
    virtual ~PlannerGraph() = default;

    virtual bool HasVertex(int64_t v) const = 0;
    virtual bool HasArc(int64_t u, int64_t v) const = 0;
    virtual std::vector<int64_t> GetSuccs(int64_t v) const = 0;
    virtual std::vector<int64_t> GetPreds(int64_t v) const = 0;
    virtual CostVector GetArcCost(int64_t u, int64_t v) const = 0;
    virtual std::vector<CostVector> GetSuccCosts(int64_t v) const = 0;
    virtual std::vector<CostVector> GetPredCosts(int64_t v) const = 0;
    virtual size_t NumVertex() const = 0;
    virtual size_t NumArc() const = 0;
    virtual size_t NumEdge() const = 0;
    virtual size_t CostDim() const = 0;
    virtual std::vector<int64_t> GetAllVertices() const = 0;
    virtual void AddVertex(int64_t v) = 0;
    virtual void AddEdge(int64_t u, int64_t v, const CostVector& cost) = 0;
    virtual void AddArc(int64_t u, int64_t v, const CostVector& cost) = 0;
    virtual void CreateFromEdges(const std::vector<int64_t>& sources,
                                 const std::vector<int64_t>& targets,
                                 const std::vector<CostVector>& costs) = 0;
    virtual void CreateFromArcs(const std::vector<int64_t>& sources,
                                const std::vector<int64_t>& targets,
                                const std::vector<CostVector>& costs) = 0;
    virtual void ChangeCostDim(size_t new_cdim, double fill) = 0;
    virtual bool SetArcCost(int64_t u, int64_t v, const CostVector& cost) = 0;
    virtual std::string ToStr() const = 0;

    // Entry `type` of the cost vector of u -> v without copying the vector: nullopt when
    // there is no such arc or the vector has no such entry. u must be an existing vertex.
    virtual std::optional<double> ArcCostEntry(int64_t u, int64_t v, int64_t type) const = 0;

    // The graph's dense cost table, if it keeps one (see ArcCostTable).
    virtual ArcCostTable CostTable() const { return {}; }
};

// ArcCostEntry(u, v, type), read from `table` when it covers u and v.
inline std::optional<double> ArcCostEntryFrom(const PlannerGraph& graph, const ArcCostTable& table,
                                              int64_t u, int64_t v, int64_t type) {
    if (table.costs != nullptr && static_cast<uint64_t>(u) < table.vertices &&
        static_cast<uint64_t>(v) < table.vertices) {
        size_t cell = static_cast<size_t>(u) * table.vertices + static_cast<size_t>(v);
        if (table.slots[cell] < 0 || static_cast<uint64_t>(type) >= table.cost_dim) {
            return std::nullopt;
        }
        return table.costs[cell * table.cost_dim + static_cast<size_t>(type)];
    }
    return graph.ArcCostEntry(u, v, type);
}

// ArcCostEntry(u, v, type).value_or(0.0), read from `table` when it covers u and v.
inline double ArcCostOrZero(const PlannerGraph& graph, const ArcCostTable& table, int64_t u,
                            int64_t v, int64_t type) {
    return ArcCostEntryFrom(graph, table, u, v, type).value_or(0.0);
}

}  // namespace tamrik
