#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugins/plugin_kinds.h"
#include "plugins/tree_growth.h"

namespace tamrik {

// Spanning-tree estimate of the cost still needed to serve the unvisited vertices, grown
// Prim-style from the agents' positions over the Solver's sorted pair list `mst_edges`.
class DefaultHeuristic : public HeuristicPlugin {
public:
    // Returned when the remaining vertices cannot be connected (bit pattern 0x7FAFFFFFFFFFFFFF).
    static constexpr double kUnconnected = kTreeUnconnected;
    // Pair costs at or above this are never used, unless SetMstEdges is told otherwise.
    static constexpr double kUnusable = 9999.0;

    std::string Name() const override;
    void Init(const PlannerGraph* graph, const std::vector<PointRecord>& points,
              const std::vector<AgentRecord>& agents) override;
    double ComputeHeuristic(const Label& label) const override;
    // Whether every estimate is finite (a sum of finite pair weights, 0 or kUnconnected), and
    // whether it is also never negative.
    bool FiniteEstimates() const { return finite_; }
    bool NonNegativeEstimates() const { return finite_ && non_negative_; }
    // ComputeHeuristic of two labels at once, faster than one after the other.
    void ComputeHeuristicPair(const Label& first, const Label& second, double& first_h,
                              double& second_h) const;

    // The Solver's pair list: larger vertex index first, ascending by w. Replaces
    // the previous list. Pairs of weight `unusable_weight` or more are never used; a list
    // that holds only usable pairs, however costly, passes infinity.
    void SetMstEdges(std::vector<MstEdge> edges, double unusable_weight = kUnusable);
    const std::vector<MstEdge>& MstEdges() const { return mst_edges; }

    // The same estimate computed literally (each step scans mst_edges
    // from the front for the first qualifying pair). Kept as the reference that
    // ComputeHeuristic is tested and benchmarked against.
    double ComputeHeuristicByListScan(const Label& label) const;

private:
    const PlannerGraph* graph = nullptr;
    std::vector<PointRecord> points;
    std::vector<AgentRecord> agents;
    uint64_t agent_count = 0;
    std::vector<MstEdge> mst_edges;

    // Derived from mst_edges by SetMstEdges. Only pairs that could ever be taken count
    // (w < 9999.0, two distinct endpoints below 256); each such pair {x, y} gets its rank
    // among them by first list position, so ranks keep the list order. span_ is 1 + their
    // largest endpoint (0 without any); row_[x * stride_ + y] is the rank of {x, y}, or
    // kNoPair. Rows make one tree step a pass over stride_ entries (span_ rounded up to a
    // multiple of 16, padded with kNoPair). At most 32640 pairs, so ranks fit 16 bits.
    static constexpr uint16_t kNoPair = 0xFFFFu;
    RankTables Tables() const { return {row_.data(), rank_weight_.data(), span_, stride_}; }
    // Fills the label's tree sets; false when the estimate is 0 without any growth.
    bool NeedsGrowth(const Label& label, TreeSets& sets) const;
    size_t span_ = 0;
    size_t stride_ = 0;
    std::vector<uint16_t> row_;
    std::vector<double> rank_weight_;
    bool finite_ = true;
    bool non_negative_ = true;
    double unusable_weight_ = kUnusable;
};

// The unfinished agent with the smallest accumulated cost moves next (ties: lowest index).
class DefaultExpansion : public ExpansionPlugin {
public:
    std::string Name() const override;
    void Init(const std::vector<int64_t>& end_nodes) override;
    int64_t SelectAgent(const Label& label) const override;

    const std::vector<int64_t>& EndNodes() const { return end_nodes; }
    uint64_t AgentCount() const { return agent_count; }

private:
    std::vector<int64_t> end_nodes;
    uint64_t agent_count = 0;
};

// Deepest labels first, then smaller f, then smaller cost sum.
class DefaultFocalComparator : public FocalComparatorPlugin {
public:
    std::string Name() const override;
    bool Compare(const FocalEntry& a, const FocalEntry& b) const override;
};

}  // namespace tamrik
