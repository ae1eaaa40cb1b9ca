#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "improve/best_insertion.h"
#include "improve/near_lists.h"
#include "improve/route_set.h"
#include "records/route_rules.h"
#include "records/task_rules.h"

namespace tamrik {

// What the construction built: routes (vertex indices, one per agent) when it succeeded,
// else why not.
struct ConstructionOutcome {
    bool built = false;
    std::vector<std::vector<int64_t>> paths;
    std::string reason;
    // The neighbour lists it used, for the improvement stage.
    NearLists near;
};

// Builds a first solution under every route rule, at any size: each agent's route starts
// as its direct way from start to end, then every other node goes in, one at a time, at its
// best feasible position (next to its nearest placed nodes when there are many), nodes with
// the earliest closing windows (or else the farthest from the starts) first; a node that
// fits nowhere makes it try other orders. Routes without windows or limits are then
// shortened by segment reversals.
class Construction {
public:
    // With `tasks` (may be null), the routes also keep loads and task order.
    Construction(const RouteRules& rules, bool min_max, uint64_t seed,
                 const TaskRules* tasks = nullptr);

    // `interrupted` (may be empty) is asked every few hundred insertions; when it answers
    // true the construction gives up.
    ConstructionOutcome Build(const std::function<bool()>& interrupted = {});

private:
    // Inserts the movable nodes in `order`; the first node that fits nowhere, or -1. Every
    // attempt after the first passes over some places at random.
    int32_t InsertAll(RouteSet& set, const std::vector<int32_t>& order,
                      const std::vector<std::vector<int32_t>>& near,
                      const std::function<bool()>& interrupted, size_t attempt);
    // Tries the nodes that fitted nowhere again until none more fits; the first left, or -1.
    int32_t InsertDeferred(RouteSet& set, BestInsertion& insertion, std::vector<int32_t>& deferred,
                           std::vector<uint8_t>& pending);
    std::vector<int32_t> FirstOrder(const RouteSet& set) const;
    std::string NodeName(int32_t vertex) const;
    // The rules the routes keep, for messages ("the allowed types, ... and cost limits").
    std::string RulesInForce() const;
    // Which rule keeps the agent from going straight from its start to its end.
    std::string WhyNoDirectWay(size_t agent) const;

    const RouteRules& rules;
    const TaskRules* tasks;
    bool min_max;
    uint64_t seed;
};

}  // namespace tamrik
