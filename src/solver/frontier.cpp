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

// Typed view of one stored record: the visited set, then the costs.
struct Frontier::Record {
    static constexpr size_t kVisitedWords = 4;
    static double Cost(const uint64_t* record, size_t i) {
        return std::bit_cast<double>(record[kVisitedWords + i]);
    }
    // The stored record covers `label`: it served every vertex the label served, at no larger
    // cost for any agent.
    static bool Covers(const uint64_t* record, size_t costs, const Label& label) {
        uint64_t missing = 0;
        for (size_t w = 0; w < kVisitedWords; ++w) missing |= label.visited[w] & ~record[w];
        if (missing != 0) return false;
        for (size_t i = 0; i < costs; ++i) {
            if (Cost(record, i) > label.costs[i]) return false;
        }
        return true;
    }
    // `label` covers the stored record.
    static bool CoveredBy(const uint64_t* record, size_t costs, const Label& label) {
        uint64_t missing = 0;
        for (size_t w = 0; w < kVisitedWords; ++w) missing |= record[w] & ~label.visited[w];
        if (missing != 0) return false;
        for (size_t i = 0; i < costs; ++i) {
            if (label.costs[i] > Cost(record, i)) return false;
        }
        return true;
    }
};

bool Frontier::Contains(const Label& label) const {
    size_t costs = stride - Record::kVisitedWords;
    for (size_t k = 0; k < g_values.size() && g_values[k] <= label.g; ++k) {
        if (Record::Covers(RecordAt(k), costs, label)) return true;
    }
    return false;
}

uint32_t Frontier::Insert(const Label& label) {
    if (g_values.empty()) stride = Record::kVisitedWords + label.costs.size();
    size_t costs = stride - Record::kVisitedWords;
    // Stored labels of smaller g stay; among the rest, keep those the new label does not
    // dominate, compacting them in order.
    size_t first = static_cast<size_t>(
        std::lower_bound(g_values.begin(), g_values.end(), label.g) - g_values.begin());
    size_t kept = first;
    for (size_t k = first; k < g_values.size(); ++k) {
        if (Record::CoveredBy(RecordAt(k), costs, label)) continue;
        if (kept != k) {
            g_values[kept] = g_values[k];
            std::copy_n(words.begin() + k * stride, stride, words.begin() + kept * stride);
        }
        ++kept;
    }
    uint32_t removed = static_cast<uint32_t>(g_values.size() - kept);
    g_values.resize(kept);
    words.resize(kept * stride);
    size_t at = static_cast<size_t>(
        std::upper_bound(g_values.begin(), g_values.end(), label.g) - g_values.begin());
    g_values.insert(g_values.begin() + at, label.g);
    auto record = words.insert(words.begin() + at * stride, stride, 0);
    std::copy(label.visited.begin(), label.visited.end(), record);
    for (size_t i = 0; i < costs; ++i) {
        record[Record::kVisitedWords + i] = std::bit_cast<uint64_t>(label.costs[i]);
    }
    return removed;
}

Label Frontier::StoredLabel(size_t k) const {
    const uint64_t* record = RecordAt(k);
    Label label;
    std::copy(record, record + Record::kVisitedWords, label.visited.begin());
    label.g = g_values[k];
    for (size_t i = 0; i < stride - Record::kVisitedWords; ++i) {
        label.costs.push_back(Record::Cost(record, i));
    }
    return label;
}

}  // namespace tamrik
