#include "improve/task_order.h"

#include <algorithm>
#include <functional>

namespace tamrik {

TaskOrder::TaskOrder(const TaskRules* tasks_in, size_t vertex_count)
    : tasks(tasks_in != nullptr && tasks_in->Active() ? tasks_in : nullptr) {
    if (tasks != nullptr) {
        rank.assign(vertex_count, -1);
        waiting.assign(vertex_count, 0);
    }
}

void TaskOrder::Apply(std::vector<Vertex>& order) {
    if (tasks == nullptr) return;
    if (tasks->HasLoads() && tasks->HasNegativeDemand()) {
        std::stable_partition(order.begin(), order.end(),
                              [this](Vertex v) { return tasks->Demand(v) >= 0.0; });
    }
    if (!tasks->HasPrecedence()) return;
    for (size_t k = 0; k < order.size(); ++k) rank[static_cast<size_t>(order[k])] = static_cast<int32_t>(k);
    // Kahn's order over the precedences among the listed nodes, the earliest-listed ready
    // node first; nodes on a cycle keep their places at the end.
    ready.clear();
    for (Vertex v : order) {
        int32_t count = 0;
        for (Vertex before : tasks->BeforeOf(v)) count += rank[static_cast<size_t>(before)] >= 0;
        waiting[static_cast<size_t>(v)] = count;
        if (count == 0) ready.push_back(rank[static_cast<size_t>(v)]);
    }
    std::make_heap(ready.begin(), ready.end(), std::greater<>());
    sorted.clear();
    while (!ready.empty()) {
        std::pop_heap(ready.begin(), ready.end(), std::greater<>());
        const Vertex v = order[static_cast<size_t>(ready.back())];
        ready.pop_back();
        sorted.push_back(v);
        for (Vertex after : tasks->AfterOf(v)) {
            const int32_t at = rank[static_cast<size_t>(after)];
            if (at < 0 || --waiting[static_cast<size_t>(after)] != 0) continue;
            ready.push_back(at);
            std::push_heap(ready.begin(), ready.end(), std::greater<>());
        }
    }
    for (Vertex v : order) {
        if (waiting[static_cast<size_t>(v)] > 0) sorted.push_back(v);
    }
    for (Vertex v : order) rank[static_cast<size_t>(v)] = -1;
    order.swap(sorted);
}

}  // namespace tamrik
