#pragma once

#include <cstdint>
#include <vector>

#include "route/task_rules.h"

namespace tamrik {

// Reorders nodes about to be inserted one by one so that each can fit when its turn comes:
// every `before` ahead of its `after`, and, where loads can go down, the nodes that load
// ahead of those that unload. Otherwise the given order stands.
class TaskOrder {
public:
    // `tasks` may be null (then Apply leaves every order alone).
    TaskOrder(const TaskRules* tasks, size_t vertex_count);

    void Apply(std::vector<Vertex>& order);

private:
    const TaskRules* tasks;
    // rank[v]: v's place in the order being sorted, -1 when v is not in it.
    std::vector<int32_t> rank;
    std::vector<int32_t> waiting;
    std::vector<int32_t> ready;
    std::vector<Vertex> sorted;
};

}  // namespace tamrik
