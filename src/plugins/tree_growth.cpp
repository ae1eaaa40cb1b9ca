#include "plugins/tree_growth.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace tamrik {
namespace {

constexpr uint16_t kNone = 0xFFFFu;

// An AVX2 clone beside the default one, chosen when the program loads, on x86 builds that
// allow it. The thread sanitizer cannot run the loader's chooser, so its builds (and other
// architectures) get the default code only.
#if defined(__x86_64__) && !defined(PLOXA_PORTABLE) && !defined(__SANITIZE_THREAD__)
#define PLOXA_VECTOR_CLONES [[gnu::target_clones("avx2", "default")]]
#else
#define PLOXA_VECTOR_CLONES
#endif

// Sixteen 16-bit lanes: one AVX2 register, two SSE registers.
using Lanes16 = uint16_t __attribute__((vector_size(32)));

// One tree step's update: best[y] = min(best[y], row[y] | in_tree[y]) for every y, returning
// the smallest entry afterwards.
[[gnu::always_inline]] inline uint16_t LowerBest(const uint16_t* __restrict row,
                                                 const uint16_t* __restrict in_tree,
                                                 uint16_t* __restrict best, size_t span) {
    uint16_t smallest = kNone;
    for (size_t y = 0; y < span; ++y) {
        const uint16_t candidate = row[y] | in_tree[y];
        const uint16_t value = candidate < best[y] ? candidate : best[y];
        best[y] = value;
        smallest = value < smallest ? value : smallest;
    }
    return smallest;
}

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

// Writes in_tree[] for the lanes of block `block` (16 vertices): all ones for a vertex in the
// tree or at or past `span` (no usable pair reaches it), 0 otherwise. Returns how many are 0.
[[gnu::always_inline]] inline int FillInTree(const VisitedSet& tree, size_t block, size_t span,
                                             uint16_t* in_tree) {
    const Lanes16 lane_bits = {1, 2, 4, 8, 16, 32, 64, 128, 256, 512, 1024, 2048, 4096, 8192,
                               16384, 32768};
    const size_t low = block * 16;
    const uint32_t beyond = span <= low        ? 0xFFFFu
                            : span >= low + 16 ? 0u
                                               : 0xFFFFu & ~((1u << (span - low)) - 1u);
    const auto bits =
        static_cast<uint16_t>(static_cast<uint16_t>(tree[block / 4] >> (block % 4 * 16)) | beyond);
    const Lanes16 lanes = reinterpret_cast<Lanes16>((lane_bits & bits) != 0);
    std::memcpy(in_tree + low, &lanes, sizeof lanes);
    return 16 - std::popcount(bits);
}

// One growth. best[y] is the smallest rank of a qualifying pair reaching y; only the blocks
// of 16 lanes between the first and the last block that still holds a vertex outside the
// tree are scanned, the others holding no candidate.
class TreeGrowth {
public:
    // Sets up the growth and grows from every open tree vertex; false when already finished.
    [[gnu::always_inline]] bool Start(const RankTables& tables, const TreeSets& sets) {
        tables_ = &tables;
        const size_t blocks = tables.stride / 16;
        lo_ = blocks;
        hi_ = 0;
        for (size_t block = 0; block < blocks; ++block) {
            open_lanes_[block] = FillInTree(sets.tree, block, tables.span, in_tree_.data());
            std::fill_n(best_.data() + block * 16, 16, kNone);
            if (open_lanes_[block] > 0) {
                lo_ = std::min(lo_, block);
                hi_ = block + 1;
            }
        }
        for (size_t word = 0; word < 4 && lo_ < hi_; ++word) {
            uint64_t open = sets.tree[word] & ~sets.closed[word];
            while (open != 0) {
                const size_t x = word * 64 + static_cast<size_t>(std::countr_zero(open));
                open &= open - 1;
                if (x < tables.span) smallest_ = GrowFrom(x);
            }
        }
        for (size_t word = 0; word < 4; ++word) {
            outside_ += std::popcount(sets.all[word] & ~sets.tree[word]);
        }
        return Step();
    }

    // Takes the next pair, if any; false when the growth has finished.
    [[gnu::always_inline]] bool Step() {
        if (smallest_ == kNone) {
            total_ = kTreeUnconnected;
            return false;
        }
        const size_t first = lo_ * 16;
        const size_t y = first + IndexOf(best_.data() + first, smallest_, (hi_ - lo_) * 16);
        total_ += tables_->weights[smallest_];
        if (--outside_ == 0) return false;
        in_tree_[y] = kNone;
        best_[y] = kNone;
        if (--open_lanes_[y / 16] == 0) {
            while (lo_ < hi_ && open_lanes_[lo_] == 0) ++lo_;
            while (hi_ > lo_ && open_lanes_[hi_ - 1] == 0) --hi_;
        }
        smallest_ = lo_ < hi_ ? GrowFrom(y) : kNone;
        return true;
    }

    double Total() const { return total_; }

private:
    // Lowers best[] by the pairs of x; returns the smallest entry afterwards.
    [[gnu::always_inline]] uint16_t GrowFrom(size_t x) {
        const size_t first = lo_ * 16;
        return LowerBest(tables_->rows + x * tables_->stride + first, in_tree_.data() + first,
                         best_.data() + first, (hi_ - lo_) * 16);
    }

    alignas(32) std::array<uint16_t, kMaxVertices> best_;
    alignas(32) std::array<uint16_t, kMaxVertices> in_tree_;
    std::array<int, kMaxVertices / 16> open_lanes_{};  // lanes still outside, per block
    const RankTables* tables_ = nullptr;
    size_t lo_ = 0;
    size_t hi_ = 0;
    int outside_ = 0;
    uint16_t smallest_ = kNone;
    double total_ = 0.0;
};

}  // namespace

// Both are built twice, for AVX2 and for the baseline instruction set, and picked when the
// library loads: integer minima give the same picks either way.
PLOXA_VECTOR_CLONES double GrowTree(const RankTables& tables,
                                                          const TreeSets& sets) {
    TreeGrowth growth;
    if (growth.Start(tables, sets)) {
        while (growth.Step()) {
        }
    }
    return growth.Total();
}

PLOXA_VECTOR_CLONES void GrowTwoTrees(const RankTables& tables,
                                                            const TreeSets& first,
                                                            const TreeSets& second,
                                                            double& first_total,
                                                            double& second_total) {
    TreeGrowth one;
    TreeGrowth two;
    bool one_going = one.Start(tables, first);
    bool two_going = two.Start(tables, second);
    while (one_going && two_going) {
        one_going = one.Step();
        two_going = two.Step();
    }
    while (one_going) one_going = one.Step();
    while (two_going) two_going = two.Step();
    first_total = one.Total();
    second_total = two.Total();
}

}  // namespace tamrik
