#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tamrik {

// Entry t is the travel cost for agent type index t.
using CostVector = std::vector<double>;

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
};

}  // namespace tamrik
