#include "solver/frontier.h"

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

bool Frontier::Contains(const Label& label) const {
    for (const Label& stored : labels) {
        if (Dominates(stored, label)) return true;
    }
    return false;
}

uint32_t Frontier::Insert(Label label) {
    size_t boundary = labels.size();
    uint32_t removed = 0;
    for (size_t k = labels.size(); k-- > 0;) {
        if (!Dominates(label, labels[k])) continue;
        if (k != boundary - 1) std::swap(labels[k], labels[boundary - 1]);
        --boundary;
        ++removed;
    }
    labels.resize(boundary);
    labels.push_back(std::move(label));
    return removed;
}

}  // namespace tamrik
