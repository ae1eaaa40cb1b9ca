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
    positions_.resize(slots);
    costs_.resize(slots);
    finished_.resize(slots);
}

void LabelPool::Store(int64_t id, const Label& label) {
    size_t slot = static_cast<size_t>(id);
    *heads_.Row(slot) = Record{label.visited, label.h,    label.g,           label.f,
                          label.id,      label.remaining_agents, label.last_agent,
                          label.visited_size};
    CopyPadded(label.positions, positions_.Row(slot), agents_);
    CopyPadded(label.costs, costs_.Row(slot), agents_);
    CopyPadded(label.finished, finished_.Row(slot), agents_);
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
    const size_t slot = static_cast<size_t>(id);
    out.positions.assign(positions_.Row(slot), positions_.Row(slot) + agents_);
    out.costs.assign(costs_.Row(slot), costs_.Row(slot) + agents_);
    out.finished.assign(finished_.Row(slot), finished_.Row(slot) + agents_);
    auto aux = aux_.find(id);
    if (aux == aux_.end()) {
        out.aux.clear();
    } else {
        out.aux = aux->second;
    }
}

}  // namespace tamrik
