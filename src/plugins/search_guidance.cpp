#include "plugins/search_guidance.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <limits>
#include <utility>

#include "plugins/tree_growth.h"

namespace tamrik {

namespace {

bool InRange(int64_t v) { return v >= 0 && v < kMaxVertices; }

TreeSets MakeTreeSets(const Label& label, uint64_t agent_count) {
    TreeSets sets{label.visited, label.visited, {}};
    for (uint64_t i = 0; i < agent_count; ++i) {
        const int64_t p = label.positions[i];
        if (!InRange(p)) continue;
        SetBit(sets.tree, p);
        if (label.finished[i] == 0) ClearBit(sets.closed, p);
    }
    const int64_t n = std::min<int64_t>(label.visited_size, kMaxVertices);
    for (int64_t word = 0; word < 4; ++word) {
        const int64_t low = word * 64;
        if (n >= low + 64) {
            sets.all[word] = ~uint64_t{0};
        } else if (n > low) {
            sets.all[word] = (uint64_t{1} << (n - low)) - 1;
        }
    }
    return sets;
}

bool Covers(const VisitedSet& set, const VisitedSet& all) {
    for (size_t word = 0; word < 4; ++word) {
        if ((set[word] & all[word]) != all[word]) return false;
    }
    return true;
}

}  // namespace

// ------------------------------------------------------------------------ DefaultHeuristic

std::string DefaultHeuristic::Name() const { return "DefaultHeuristic"; }

void DefaultHeuristic::Init(const PlannerGraph* new_graph,
                            const std::vector<PointRecord>& new_points,
                            const std::vector<AgentRecord>& new_agents) {
    graph = new_graph;
    points = new_points;
    agents = new_agents;
    agent_count = agents.size();
}

void DefaultHeuristic::SetMstEdges(std::vector<MstEdge> edges, double unusable_weight) {
    mst_edges = std::move(edges);
    unusable_weight_ = unusable_weight;
    auto usable = [unusable_weight](const MstEdge& e) {
        return e.w < unusable_weight && InRange(e.u) && InRange(e.v) && e.u != e.v;
    };
    span_ = 0;
    for (const MstEdge& e : mst_edges) {
        if (usable(e)) span_ = std::max(span_, static_cast<size_t>(std::max(e.u, e.v)) + 1);
    }
    // Walking the list forwards, a pair's first position gets the next rank, so ranks keep
    // the order of first positions.
    stride_ = (span_ + 15) / 16 * 16;
    row_.assign(span_ * stride_, kNoPair);
    rank_weight_.clear();
    for (const MstEdge& e : mst_edges) {
        if (!usable(e)) continue;
        const auto u = static_cast<size_t>(e.u);
        const auto v = static_cast<size_t>(e.v);
        if (row_[u * stride_ + v] != kNoPair) continue;
        const auto rank = static_cast<uint16_t>(rank_weight_.size());
        row_[u * stride_ + v] = rank;
        row_[v * stride_ + u] = rank;
        rank_weight_.push_back(e.w);
    }
    finite_ = std::all_of(rank_weight_.begin(), rank_weight_.end(),
                          [](double w) { return std::isfinite(w); });
    non_negative_ = std::all_of(rank_weight_.begin(), rank_weight_.end(),
                                [](double w) { return w >= 0.0; });
}

double DefaultHeuristic::ComputeHeuristicByListScan(const Label& label) const {
    TreeSets sets = MakeTreeSets(label, agent_count);
    double total = 0.0;
    while (true) {
        if (label.visited_size <= 0 || Covers(sets.tree, sets.all)) return total;
        const MstEdge* taken = nullptr;
        for (const MstEdge& e : mst_edges) {
            if (!(e.w < unusable_weight_) || !InRange(e.u) || !InRange(e.v)) continue;
            const bool u_in = TestBit(sets.tree, e.u);
            const bool v_in = TestBit(sets.tree, e.v);
            if (u_in == v_in) continue;
            if (TestBit(sets.closed, e.u) || TestBit(sets.closed, e.v)) continue;
            taken = &e;
            break;
        }
        if (taken == nullptr) return kUnconnected;
        total += taken->w;
        SetBit(sets.tree, TestBit(sets.tree, taken->u) ? taken->v : taken->u);
    }
}

// The same tree growth as ComputeHeuristicByListScan, pair for pair and in the same order,
// without rescanning the list. Each step takes the qualifying pair that comes first in
// mst_edges. A pair qualifies when one endpoint is in the tree A and not closed, the other
// not in A (the closed set B lies inside A, and neither set loses members). So every vertex
// y outside A keeps best[y], the smallest rank of a qualifying pair reaching it (ranks keep
// the order of positions); a step takes the smallest best[] entry, held by the vertex it
// adds since a rank names one pair and its other endpoint is in A, and only the pairs of
// that vertex can then lower entries. Entries of vertices in A are held at kNoPair by or-ing
// in_tree[y] (all ones for them) into every candidate.
bool DefaultHeuristic::NeedsGrowth(const Label& label, TreeSets& sets) const {
    if (label.visited_size <= 0) return false;
    sets = MakeTreeSets(label, agent_count);
    return !Covers(sets.tree, sets.all);
}

double DefaultHeuristic::ComputeHeuristic(const Label& label) const {
    TreeSets sets;
    return NeedsGrowth(label, sets) ? GrowTree(Tables(), sets) : 0.0;
}

void DefaultHeuristic::ComputeHeuristicPair(const Label& first, const Label& second,
                                            double& first_h, double& second_h) const {
    TreeSets first_sets, second_sets;
    const bool grow_first = NeedsGrowth(first, first_sets);
    const bool grow_second = NeedsGrowth(second, second_sets);
    if (grow_first && grow_second) {
        GrowTwoTrees(Tables(), first_sets, second_sets, first_h, second_h);
        return;
    }
    first_h = grow_first ? GrowTree(Tables(), first_sets) : 0.0;
    second_h = grow_second ? GrowTree(Tables(), second_sets) : 0.0;
}

// ------------------------------------------------------------------------ DefaultExpansion

std::string DefaultExpansion::Name() const { return "DefaultExpansion"; }

void DefaultExpansion::Init(const std::vector<int64_t>& new_end_nodes) {
    end_nodes = new_end_nodes;
    agent_count = end_nodes.size();
}

int64_t DefaultExpansion::SelectAgent(const Label& label) const {
    if (agent_count == 0) return -1;
    double best = std::numeric_limits<double>::max();
    int64_t choice = -1;
    for (uint64_t i = 0; i < agent_count; ++i) {
        if (label.finished[i] == 0 && label.costs[i] < best) {
            best = label.costs[i];
            choice = static_cast<int64_t>(i);
        }
    }
    return choice;
}

// ------------------------------------------------------------------ DefaultFocalComparator

std::string DefaultFocalComparator::Name() const { return "DefaultFocalComparator"; }

bool DefaultFocalComparator::Compare(const FocalEntry& a, const FocalEntry& b) const {
    if (a.visited_count != b.visited_count) return a.visited_count > b.visited_count;
    if (a.f != b.f) return a.f < b.f;
    return a.cost_sum < b.cost_sum;
}

}  // namespace tamrik
