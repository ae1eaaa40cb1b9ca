#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "records/search_records.h"

namespace tamrik {

// a dominates b: no larger g, no larger cost for any agent, every vertex b has served is
// served in a, and the same agents have finished in both. The last rule matters because
// finishing at the current vertex is a move that changes nothing else: with it ignored, the
// label before the move would dominate the label after it, and no agent could ever end
// without moving. Reflexive: a label dominates an exact copy of itself.
bool Dominates(const Label& a, const Label& b);

// Writes the joint position key ("3_0_12_" for agents at 3, 0 and 12) into `key`, reusing its
// storage.
void JointPositionKey(const std::vector<int64_t>& positions, std::string& key);

// The expanded labels at one joint position that no other stored label dominates.
//
// Dominance reads only g, the costs, the visited set and which agents have finished, so a
// stored label keeps just those: its g in one contiguous array, its visited set, unfinished
// agents and costs in a record of 64-bit words in another, both ordered by ascending g. A label can only be dominated by stored labels of no
// larger g (a prefix) and can only dominate those of no smaller g (a suffix), so each scan
// stops or starts at a binary-search boundary. The order of stored labels changes no answer.
// All labels of one frontier have the same number of costs (one per agent).
//
// The visited words past a search's vertices are all ones in every label, so the frontier
// tracks how many leading words its stored labels can differ in and compares only those.
class Frontier {
public:
    virtual ~Frontier() = default;
    virtual bool Contains(const Label& label) const;
    // Removes every stored label that `label` dominates, adds it and returns the count removed.
    virtual uint32_t Insert(const Label& label);

    size_t Size() const { return g_values.size(); }
    // Stored label k (in ascending g) as dominance sees it: g, costs, finished flags and
    // visited set.
    Label StoredLabel(size_t k) const;

private:
    struct Record;
    template <size_t kWords>
    bool ContainsWith(const Label& label) const;
    // Removes the stored labels from `first` on that `label` covers; returns how many remain.
    template <size_t kWords>
    size_t KeepUncovered(const Label& label, size_t first);
    const uint64_t* RecordAt(size_t k) const { return words.data() + k * stride; }

    // Words per stored label: 4 for the visited set, 1 per 64 agents for the unfinished
    // flags, 1 per cost; the costs start at cost_offset.
    size_t stride = 0;
    size_t cost_offset = 0;
    // Scratch: the unfinished flags of the label being compared or inserted.
    mutable std::vector<uint64_t> unfinished;
    // Visited words from this index on are all ones in every stored label.
    size_t varying_words = 0;
    std::vector<double> g_values;
    std::vector<uint64_t> words;
};

}  // namespace tamrik
