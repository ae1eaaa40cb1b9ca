#include "solver/frontier.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <utility>

namespace tamrik {

bool Dominates(const Label& a, const Label& b) {
    if (a.g > b.g) return false;
    for (size_t i = 0; i < a.costs.size(); ++i) {
        if (a.costs[i] > b.costs[i]) return false;
    }
    for (size_t w = 0; w < a.visited.size(); ++w) {
        if ((b.visited[w] & ~a.visited[w]) != 0) return false;
    }
    for (size_t i = 0; i < a.finished.size() && i < b.finished.size(); ++i) {
        if ((a.finished[i] != 0) != (b.finished[i] != 0)) return false;
    }
    return true;
}

void JointPositionKey(const std::vector<int64_t>& positions, std::string& key) {
    key.clear();
    char digits[24];
    for (int64_t position : positions) {
        auto end = std::to_chars(digits, digits + sizeof digits, position).ptr;
        key.append(digits, end);
        key.push_back('_');
    }
}

// Typed view of one stored record: the visited set, the unfinished agents (one bit each),
// then the costs.
struct Frontier::Record {
    static constexpr size_t kVisitedWords = 4;
    static double Cost(const uint64_t* costs, size_t i) { return std::bit_cast<double>(costs[i]); }
};

namespace {

// The index from which every visited word of the label is all ones (4 if the last is not).
size_t VaryingWords(const VisitedSet& visited) {
    size_t words = visited.size();
    while (words > 0 && visited[words - 1] == ~uint64_t{0}) --words;
    return words;
}

// Bit i of word i / 64 set when agent i has not finished.
void UnfinishedBits(const Label& label, std::vector<uint64_t>& bits) {
    bits.assign((label.finished.size() + 63) / 64, 0);
    for (size_t i = 0; i < label.finished.size(); ++i) {
        if (label.finished[i] == 0) bits[i / 64] |= uint64_t{1} << (i % 64);
    }
}

}  // namespace

template <size_t kWords>
bool Frontier::ContainsWith(const Label& label) const {
    const size_t costs = stride - cost_offset;
    const VisitedSet visited = label.visited;
    const double g = label.g;
    const double* label_costs = label.costs.data();
    const size_t size = g_values.size();
    const uint64_t* record = words.data();
    UnfinishedBits(label, unfinished);
    // Words from kWords on are all ones in every record, so they never miss anything.
    for (size_t k = 0; k < size && g_values[k] <= g; ++k, record += stride) {
        uint64_t missing = 0;
        for (size_t w = 0; w < kWords; ++w) missing |= visited[w] & ~record[w];
        for (size_t w = 0; w < unfinished.size(); ++w) {
            missing |= unfinished[w] ^ record[Record::kVisitedWords + w];
        }
        if (missing != 0) continue;
        size_t i = 0;
        while (i < costs && !(Record::Cost(record + cost_offset, i) > label_costs[i])) ++i;
        if (i == costs) return true;
    }
    return false;
}

bool Frontier::Contains(const Label& label) const {
    switch (varying_words) {
        case 0: return ContainsWith<0>(label);
        case 1: return ContainsWith<1>(label);
        case 2: return ContainsWith<2>(label);
        case 3: return ContainsWith<3>(label);
        default: return ContainsWith<4>(label);
    }
}

template <size_t kWords>
size_t Frontier::KeepUncovered(const Label& label, size_t first) {
    const size_t costs = stride - cost_offset;
    const VisitedSet visited = label.visited;
    const double* label_costs = label.costs.data();
    size_t kept = first;
    for (size_t k = first; k < g_values.size(); ++k) {
        const uint64_t* record = RecordAt(k);
        uint64_t missing = 0;
        for (size_t w = 0; w < kWords; ++w) missing |= record[w] & ~visited[w];
        for (size_t w = 0; w < unfinished.size(); ++w) {
            missing |= record[Record::kVisitedWords + w] ^ unfinished[w];
        }
        size_t i = 0;
        if (missing == 0) {
            while (i < costs && !(label_costs[i] > Record::Cost(record + cost_offset, i))) ++i;
            if (i == costs) continue;  // covered: dropped
        }
        if (kept != k) {
            g_values[kept] = g_values[k];
            std::copy_n(words.begin() + k * stride, stride, words.begin() + kept * stride);
        }
        ++kept;
    }
    return kept;
}

uint32_t Frontier::Insert(const Label& label) {
    UnfinishedBits(label, unfinished);
    if (g_values.empty()) {
        cost_offset = Record::kVisitedWords + unfinished.size();
        stride = cost_offset + label.costs.size();
    }
    size_t costs = stride - cost_offset;
    // From here on the stored labels, this one included, are all ones past varying_words, so
    // a stored label can be covered only if the new one is too; both sides skip those words.
    varying_words = std::max(varying_words, VaryingWords(label.visited));
    // Stored labels of smaller g stay; among the rest, keep those the new label does not
    // dominate, compacting them in order.
    size_t first = static_cast<size_t>(
        std::lower_bound(g_values.begin(), g_values.end(), label.g) - g_values.begin());
    size_t kept;
    switch (varying_words) {
        case 0: kept = KeepUncovered<0>(label, first); break;
        case 1: kept = KeepUncovered<1>(label, first); break;
        case 2: kept = KeepUncovered<2>(label, first); break;
        case 3: kept = KeepUncovered<3>(label, first); break;
        default: kept = KeepUncovered<4>(label, first); break;
    }
    uint32_t removed = static_cast<uint32_t>(g_values.size() - kept);
    g_values.resize(kept);
    words.resize(kept * stride);
    size_t at = static_cast<size_t>(
        std::upper_bound(g_values.begin(), g_values.end(), label.g) - g_values.begin());
    g_values.insert(g_values.begin() + at, label.g);
    auto record = words.insert(words.begin() + at * stride, stride, 0);
    std::copy(label.visited.begin(), label.visited.end(), record);
    std::copy(unfinished.begin(), unfinished.end(), record + Record::kVisitedWords);
    for (size_t i = 0; i < costs; ++i) {
        record[cost_offset + i] = std::bit_cast<uint64_t>(label.costs[i]);
    }
    return removed;
}

Label Frontier::StoredLabel(size_t k) const {
    const uint64_t* record = RecordAt(k);
    Label label;
    std::copy(record, record + Record::kVisitedWords, label.visited.begin());
    label.g = g_values[k];
    for (size_t i = 0; i < stride - cost_offset; ++i) {
        label.costs.push_back(Record::Cost(record + cost_offset, i));
        const uint64_t word = record[Record::kVisitedWords + i / 64];
        label.finished.push_back((word >> (i % 64) & 1) != 0 ? 0 : 1);
    }
    return label;
}

}  // namespace tamrik
