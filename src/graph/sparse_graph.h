#pragma once

#include "graph/planner_graph.h"

namespace tamrik {

// Adjacency lists in insertion order; every arc lookup is a linear scan of one vertex's list.
// Each direction keeps its own copy of an arc's cost vector.
class SparseGraph : public PlannerGraph {
public:
    bool HasVertex(int64_t v) const override;
    bool HasArc(int64_t u, int64_t v) const override;
    std::vector<int64_t> GetSuccs(int64_t v) const override;
    std::vector<int64_t> GetPreds(int64_t v) const override;
    CostVector GetArcCost(int64_t u, int64_t v) const override;
    std::vector<CostVector> GetSuccCosts(int64_t v) const override;
    std::vector<CostVector> GetPredCosts(int64_t v) const override;
    size_t NumVertex() const override;
    size_t NumArc() const override;
    size_t NumEdge() const override;
    size_t CostDim() const override;
    std::vector<int64_t> GetAllVertices() const override;
    void AddVertex(int64_t v) override;
    void AddEdge(int64_t u, int64_t v, const CostVector& cost) override;
    void AddArc(int64_t u, int64_t v, const CostVector& cost) override;
    void CreateFromEdges(const std::vector<int64_t>& sources, const std::vector<int64_t>& targets,
                         const std::vector<CostVector>& costs) override;
    void CreateFromArcs(const std::vector<int64_t>& sources, const std::vector<int64_t>& targets,
                        const std::vector<CostVector>& costs) override;
    void ChangeCostDim(size_t new_cdim, double fill) override;
    bool SetArcCost(int64_t u, int64_t v, const CostVector& cost) override;
    std::string ToStr() const override;
    std::optional<double> ArcCostEntry(int64_t u, int64_t v, int64_t type) const override;
    // Makes room for `arcs` successors and predecessors of every existing vertex, so that
    // filling a dense graph arc by arc does not regrow the lists. Changes no answer.
    void ReserveAdjacency(size_t arcs);
    ArcCostTable CostTable() const override;

private:
    // Empties every list, sizes the tables to cover all ids and appends each connection;
    // `undirected` adds the reverse of each connection as well.
    void CreateFrom(const std::vector<int64_t>& sources, const std::vector<int64_t>& targets,
                    const std::vector<CostVector>& costs, bool undirected);
    void AppendArc(int64_t u, int64_t v, const CostVector& cost);

    // Position of v in succs[u] (its first occurrence), or -1.
    int64_t SuccessorSlot(int64_t u, int64_t v) const;
    // Builds the lookup index when it is stale and the graph is small enough; returns whether
    // the index can be used.
    bool EnsureIndex() const;
    void Invalidate() { index_state = IndexState::kStale; }
    // Records a new or updated arc u -> v at position `slot` of succs[u] in the ready index.
    void IndexArc(int64_t u, int64_t v, int64_t slot, const CostVector& cost);

    std::vector<std::vector<int64_t>> succs;
    std::vector<std::vector<CostVector>> succ_costs;
    std::vector<std::vector<int64_t>> preds;
    std::vector<std::vector<CostVector>> pred_costs;
    size_t num_arc = 0;
    size_t cdim = 0;

    // Lookup index over the adjacency lists, rebuilt on the first query after a change: it
    // turns the linear scans behind arc queries into array reads without changing any answer.
    // slot_index[u * n + v] is SuccessorSlot(u, v); dense_costs[(u * n + v) * cdim + t] is
    // entry t of that arc's cost vector, kept only while every stored vector has cdim entries.
    enum class IndexState { kStale, kReady, kTooLarge };
    mutable IndexState index_state = IndexState::kStale;
    mutable std::vector<int32_t> slot_index;
    mutable std::vector<double> dense_costs;
    mutable bool dense_ready = false;
};

}  // namespace tamrik
