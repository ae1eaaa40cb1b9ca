#include "plugins/search_guidance.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <utility>

namespace tamrik {

namespace {

bool InRange(int64_t v) { return v >= 0 && v < kMaxVertices; }

// The sets A (served vertices and every agent's position) and B (served vertices that no
// unfinished agent stands on) of ComputeHeuristic, and the mask of the vertices 0 .. N-1.
struct TreeSets {
    VisitedSet tree;
    VisitedSet closed;
    VisitedSet all;
};

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

// One tree step's update: best[y] = min(best[y], row[y] | in_tree[y]) for every y, returning
// the smallest entry afterwards.
[[gnu::always_inline]] inline uint16_t LowerBest(const uint16_t* __restrict row,
                                                 const uint16_t* __restrict in_tree,
                                                 uint16_t* __restrict best, size_t span) {
    uint16_t smallest = 0xFFFFu;
    for (size_t y = 0; y < span; ++y) {
        const uint16_t candidate = row[y] | in_tree[y];
        const uint16_t value = candidate < best[y] ? candidate : best[y];
        best[y] = value;
        smallest = value < smallest ? value : smallest;
    }
    return smallest;
}

// Sixteen 16-bit lanes: one AVX2 register, two SSE registers.
using Lanes16 = uint16_t __attribute__((vector_size(32)));

// The first y with best[y] == value; one exists below `span` (a multiple of 16). Compares
// sixteen lanes at a time, then finds the lane inside the matching block.
[[gnu::always_inline]] inline size_t IndexOf(const uint16_t* best, uint16_t value, size_t span) {
    size_t base = 0;
    for (; base + 16 <= span; base += 16) {
        Lanes16 block;
        std::memcpy(&block, best + base, sizeof block);
        const Lanes16 hit = block == value;
        uint64_t words[4];
        std::memcpy(words, &hit, sizeof words);
        if ((words[0] | words[1] | words[2] | words[3]) != 0) break;
    }
    while (best[base] != value) ++base;
    return base;
}

// The tables of DefaultHeuristic that the tree growth reads.
struct RankTables {
    const uint16_t* rows;
    const double* weights;
    size_t span;
    size_t stride;
};

// Writes in_tree[] for the lanes of block `block` (16 vertices): all ones for a vertex in the
// tree or at or past `span` (no usable pair reaches it), 0 otherwise. Returns how many are 0.
[[gnu::always_inline]] inline int FillInTree(const VisitedSet& tree, size_t block, size_t span,
                                             uint16_t* in_tree) {
    const Lanes16 lane_bits = {1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096, 8192,
                               16384, 32768};
    const auto bits = static_cast<uint16_t>(tree[block / 4] >> (block % 4 * 16));
    Lanes16 beyond = {};
    for (size_t lane = 0; lane < 16; ++lane) {
        beyond[lane] = block * 16 + lane >= span ? 0xFFFFu : 0u;
    }
    const Lanes16 lanes = reinterpret_cast<Lanes16>((lane_bits & bits) != 0) | beyond;
    std::memcpy(in_tree + block * 16, &lanes, sizeof lanes);
    int open = 0;
    for (size_t lane = 0; lane < 16; ++lane) open += lanes[lane] == 0;
    return open;
}

// The tree growth of ComputeHeuristic from the sets of a label whose tree does not yet cover
// every vertex. Only the blocks of 16 lanes between the first and the last block that still
// holds a vertex outside the tree are scanned; the others hold no candidate. Built twice, for
// AVX2 and for the baseline instruction set, and picked when the library loads: integer
// minima give the same picks either way.
[[gnu::target_clones("avx2", "default")]] double GrowTree(const RankTables& tables,
                                                          TreeSets& sets) {
    constexpr uint16_t kNone = 0xFFFFu;
    const size_t stride = tables.stride;
    const size_t blocks = stride / 16;
    alignas(32) std::array<uint16_t, kMaxVertices> best;
    alignas(32) std::array<uint16_t, kMaxVertices> in_tree;
    std::array<int, kMaxVertices / 16> open_lanes{};  // lanes still outside, per block
    size_t lo = blocks;
    size_t hi = 0;
    for (size_t block = 0; block < blocks; ++block) {
        open_lanes[block] = FillInTree(sets.tree, block, tables.span, in_tree.data());
        std::fill_n(best.data() + block * 16, 16, kNone);
        if (open_lanes[block] > 0) {
            lo = std::min(lo, block);
            hi = block + 1;
        }
    }
    // Lowers best[] by the pairs of x; returns the smallest entry afterwards.
    auto grow_from = [&](size_t x) {
        const size_t first = lo * 16;
        return LowerBest(tables.rows + x * stride + first, in_tree.data() + first,
                         best.data() + first, (hi - lo) * 16);
    };
    uint16_t smallest = kNone;
    for (size_t word = 0; word < 4 && lo < hi; ++word) {
        uint64_t open = sets.tree[word] & ~sets.closed[word];
        while (open != 0) {
            const size_t x = word * 64 + static_cast<size_t>(std::countr_zero(open));
            open &= open - 1;
            if (x < tables.span) smallest = grow_from(x);
        }
    }
    int outside = 0;
    for (size_t word = 0; word < 4; ++word) {
        outside += std::popcount(sets.all[word] & ~sets.tree[word]);
    }
    double total = 0.0;
    while (true) {
        if (smallest == kNone) return DefaultHeuristic::kUnconnected;
        const size_t y = lo * 16 + IndexOf(best.data() + lo * 16, smallest, (hi - lo) * 16);
        total += tables.weights[smallest];
        if (--outside == 0) return total;
        in_tree[y] = kNone;
        best[y] = kNone;
        if (--open_lanes[y / 16] == 0) {
            while (lo < hi && open_lanes[lo] == 0) ++lo;
            while (hi > lo && open_lanes[hi - 1] == 0) --hi;
        }
        smallest = lo < hi ? grow_from(y) : kNone;
    }
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

void DefaultHeuristic::SetMstEdges(std::vector<MstEdge> edges) {
    mst_edges = std::move(edges);
    auto usable = [](const MstEdge& e) {
        return e.w < kUnusable && InRange(e.u) && InRange(e.v) && e.u != e.v;
    };
    span_ = 0;
    for (const MstEdge& e : mst_edges) {
        if (usable(e)) span_ = std::max(span_, static_cast<size_t>(std::max(e.u, e.v)) + 1);
    }
    // The first list position of every pair, then ranks in position order.
    constexpr size_t kNone = std::numeric_limits<size_t>::max();
    std::vector<size_t> first(span_ * span_, kNone);
    for (size_t i = mst_edges.size(); i-- > 0;) {  // backwards: the first position stays
        const MstEdge& e = mst_edges[i];
        if (!usable(e)) continue;
        const auto lo = static_cast<size_t>(std::min(e.u, e.v));
        const auto hi = static_cast<size_t>(std::max(e.u, e.v));
        first[lo * span_ + hi] = i;
    }
    std::vector<std::pair<size_t, size_t>> by_position;  // (position, lo * span_ + hi)
    for (size_t cell = 0; cell < first.size(); ++cell) {
        if (first[cell] != kNone) by_position.emplace_back(first[cell], cell);
    }
    std::sort(by_position.begin(), by_position.end());
    stride_ = (span_ + 15) / 16 * 16;
    row_.assign(span_ * stride_, kNoPair);
    rank_weight_.clear();
    for (const auto& [position, cell] : by_position) {
        const auto rank = static_cast<uint16_t>(rank_weight_.size());
        const size_t lo = cell / span_;
        const size_t hi = cell % span_;
        row_[lo * stride_ + hi] = rank;
        row_[hi * stride_ + lo] = rank;
        rank_weight_.push_back(mst_edges[position].w);
    }
}

double DefaultHeuristic::ComputeHeuristicByListScan(const Label& label) const {
    TreeSets sets = MakeTreeSets(label, agent_count);
    double total = 0.0;
    while (true) {
        if (label.visited_size <= 0 || Covers(sets.tree, sets.all)) return total;
        const MstEdge* taken = nullptr;
        for (const MstEdge& e : mst_edges) {
            if (!(e.w < kUnusable) || !InRange(e.u) || !InRange(e.v)) continue;
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
double DefaultHeuristic::ComputeHeuristic(const Label& label) const {
    if (label.visited_size <= 0) return 0.0;
    TreeSets sets = MakeTreeSets(label, agent_count);
    if (Covers(sets.tree, sets.all)) return 0.0;
    return GrowTree({row_.data(), rank_weight_.data(), span_, stride_}, sets);
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
