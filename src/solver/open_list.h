#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>
#include <utility>
#include <vector>

namespace tamrik {

// The open list: a set of (f, label id) pairs in ascending order. It holds millions of pairs
// in a long search, so instead of one tree node per pair it keeps short sorted runs of pairs
// ("chunks"), each run above the previous one: finding a place is a binary search over the
// runs' last pairs (a small contiguous array) and then inside one run.
//
// Most pairs of a long search lie above the focal bound and are only ever pruned. They may be
// inserted as pending instead: kept in a binary heap, cheap to add, out of the ordered runs
// until AdmitUpTo moves those up to a bound into them. Iteration, upper_bound and erase see
// the ordered pairs only; Front, size, empty and EraseAbove see all.
class OpenList {
public:
    using Entry = std::pair<double, int64_t>;

    class Iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = Entry;
        using difference_type = std::ptrdiff_t;
        using pointer = const Entry*;
        using reference = const Entry&;

        Iterator() = default;
        Iterator(const OpenList* list, size_t chunk, size_t pos) : list_(list), chunk_(chunk), pos_(pos) {}
        reference operator*() const { return list_->chunks_[chunk_][pos_]; }
        pointer operator->() const { return &**this; }
        Iterator& operator++();
        Iterator operator++(int) {
            Iterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const Iterator& other) const {
            return chunk_ == other.chunk_ && pos_ == other.pos_;
        }

    private:
        const OpenList* list_ = nullptr;
        size_t chunk_ = 0;
        size_t pos_ = 0;
    };

    // Returns false when the pair is present already among the ordered pairs.
    bool insert(const Entry& entry);
    // Adds a pair that no other pair equals, as pending.
    void InsertPending(const Entry& entry);
    // Moves every pending pair whose f is at most `bound` into the ordered pairs.
    void AdmitUpTo(double bound);
    // The smallest pair, ordered or pending; the list must not be empty.
    Entry Front() const;
    // Returns the number of pairs removed (0 or 1).
    size_t erase(const Entry& entry);
    // Removes every pair whose f is greater than `limit`.
    void EraseAbove(double limit);

    bool empty() const { return chunks_.empty() && pending_.empty(); }
    size_t size() const { return size_ + pending_.size(); }
    Iterator begin() const { return Iterator(this, 0, 0); }
    Iterator end() const { return Iterator(this, chunks_.size(), 0); }
    // The first pair greater than `entry`.
    Iterator upper_bound(const Entry& entry) const;

private:
    // First run whose last pair is not below `entry` (or the run count).
    size_t RunFor(const Entry& entry) const;
    void DropRun(size_t run);

    std::vector<std::vector<Entry>> chunks_;
    // lasts_[c] is the last (largest) pair of chunks_[c].
    std::vector<Entry> lasts_;
    size_t size_ = 0;
    // Pending pairs, a heap with the smallest pair first.
    std::vector<Entry> pending_;
};

}  // namespace tamrik
