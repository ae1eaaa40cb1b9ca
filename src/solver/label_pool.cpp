#include "solver/label_pool.h"

#include <algorithm>

namespace tamrik {
namespace {

template <typename T>
void CopyPadded(const std::vector<T>& from, T* to, size_t count) {
    size_t copied = std::min(from.size(), count);
    std::copy_n(from.begin(), copied, to);
    std::fill(to + copied, to + count, T{});
}

}  // namespace

void LabelPool::resize(size_t slots) {
    heads_.resize(slots);
    positions_.resize(slots * agents_, 0);
    costs_.resize(slots * agents_, 0.0);
    finished_.resize(slots * agents_, 0);
}

void LabelPool::Store(int64_t id, const Label& label) {
    size_t slot = static_cast<size_t>(id);
    heads_[slot] = Record{label.visited, label.h,    label.g,           label.f,
                          label.id,      label.remaining_agents, label.last_agent,
                          label.visited_size};
    size_t base = slot * agents_;
    CopyPadded(label.positions, positions_.data() + base, agents_);
    CopyPadded(label.costs, costs_.data() + base, agents_);
    CopyPadded(label.finished, finished_.data() + base, agents_);
    if (!label.aux.empty()) {
        aux_[id] = label.aux;
    } else if (!aux_.empty()) {
        aux_.erase(id);
    }
}

void LabelPool::Load(int64_t id, Label& out) const {
    const Record& head = Head(id);
    out.id = head.id;
    out.visited = head.visited;
    out.visited_size = head.visited_size;
    out.h = head.h;
    out.g = head.g;
    out.f = head.f;
    out.remaining_agents = head.remaining_agents;
    out.last_agent = head.last_agent;
    size_t base = static_cast<size_t>(id) * agents_;
    out.positions.assign(positions_.begin() + base, positions_.begin() + base + agents_);
    out.costs.assign(costs_.begin() + base, costs_.begin() + base + agents_);
    out.finished.assign(finished_.begin() + base, finished_.begin() + base + agents_);
    auto aux = aux_.find(id);
    if (aux == aux_.end()) {
        out.aux.clear();
    } else {
        out.aux = aux->second;
    }
}

}  // namespace tamrik
