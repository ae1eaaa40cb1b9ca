#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "improve/best_insertion.h"
#include "improve/near_lists.h"
#include "route/route_set.h"
#include "route/soft_rules.h"
#include "route/route_rules.h"
#include "route/task_rules.h"

namespace tamrik {

// Routes to build from: per agent its stops (vertex indices) in order, of which the first
// pinned[agent] stay in place.
struct WarmStart {
    std::vector<std::vector<Vertex>> stops;
    std::vector<size_t> pinned;
};

// What the construction built: routes (vertex indices, one per agent) when it succeeded,
// else why not.
struct ConstructionOutcome {
    bool built = false;
    std::vector<std::vector<int64_t>> paths;
    std::string reason;
    // The stops of a warm start that broke their route's rules there, as (agent, vertex):
    // they went in again wherever they fit best.
    std::vector<std::pair<size_t, Vertex>> moved;
    // The node that fitted nowhere (-1: none), and what blocked it.
    Vertex stuck = -1;
    std::string stuck_reason;
    // Some above 0 (see Soften): no order kept every rule, and the routes built may break
    // the rules priced here; the improvement stage is to start from them with those rules
    // soft at these prices. `stuck` and `stuck_reason` then tell what blocked the last hard
    // attempt.
    RuleAmounts weights{};
    // With stops left out (see LeaveOut): each left out, and why.
    std::vector<std::pair<Vertex, std::string>> left_out;
    // The neighbour lists it used, for the improvement stage.
    NearLists near;
};

// The first price per unit of excess of each rule that may bend on this instance (0 for
// those not in force): loads by the distances and demands, time warp and cost over a limit
// at a fixed price, stops over a limit by the distances.
RuleAmounts FirstPrices(const RouteRules& rules, const TaskRules* tasks, const RouteSet& set);

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
    // true the construction gives up. With `warm` (may be null), each route first takes the
    // stops given for it, in order, as far as its rules allow; pinned stops must fit.
    ConstructionOutcome Build(const std::function<bool()>& interrupted = {},
                              const WarmStart* warm = nullptr);
    // When no order of insertion places every node, leave out those that fit nowhere (with
    // their "same" partners) instead of failing.
    void LeaveOut(bool value) { leave_out = value; }
    // When no order places every node under the rules, build routes that may break those
    // that bend (capacities, time windows and shifts, cost and stop limits) instead (see
    // ConstructionOutcome::weights): each node goes where the priced cost rises least, and
    // the improvement stage repairs the routes.
    void Soften(bool value) { soften = value; }

private:
    // Inserts the movable nodes in `order`; the first node that fits nowhere, or -1. Every
    // attempt after the first passes over some places at random.
    // With `left_out`, nodes that fit nowhere go there and the insertion goes on.
    Vertex InsertAll(RouteSet& set, const std::vector<Vertex>& order,
                      const std::vector<std::vector<Vertex>>& near,
                      const std::function<bool()>& interrupted, size_t attempt,
                      std::vector<Vertex>* left_out = nullptr);
    // Tries the nodes that fitted nowhere again until none more fits; the first left, or -1
    // (with `left_out`, all those left go there).
    Vertex InsertDeferred(RouteSet& set, BestInsertion& insertion, std::vector<Vertex>& deferred,
                           std::vector<uint8_t>& pending, std::vector<Vertex>* left_out);
    // Takes out the "same" partners of the nodes left out, which join them.
    void DropPartners(RouteSet& set, std::vector<Vertex>& left_out) const;
    std::vector<Vertex> FirstOrder(const RouteSet& set) const;
    // Puts the warm start's stops in; false (with the reason) when a pinned one breaks a rule.
    bool StartWarm(RouteSet& set, const WarmStart& warm, ConstructionOutcome& outcome) const;
    std::string NodeName(Vertex vertex) const;
    // The rule the path of route r breaks first: "time", "cost limit", "stops", "capacity",
    // "task order" or "type".
    std::string RuleBrokenBy(const std::vector<Vertex>& path, size_t r) const;
    // The rule that keeps the node out of the routes of `set` at most places.
    std::string MostBlocking(const RouteSet& set, Vertex node) const;
    // Why the node fits nowhere in the routes of `set`, for "unassigned".
    std::string WhyNoRoom(const RouteSet& set, Vertex node) const;
    // Builds routes under the rules that bend, soft, after the hard attempts failed on
    // `stuck`; whether every node went in (the outcome then holds the prices).
    bool BuildSoft(RouteSet& set, const RouteSet& empty, const NearLists& near,
                   const std::function<bool()>& interrupted, Vertex stuck,
                   ConstructionOutcome& outcome);
    // First prices of the rules that bend in this instance (0 for the others): per unit of
    // overload the farthest node's distance from the first agent's start over the largest
    // demand; per unit of time warp or of cost over a limit 1; per stop over a limit that
    // farthest distance.
    RuleAmounts FirstWeights(const RouteSet& set) const;
    // Fills the empty soft routes of `set` in one insertion order; the sum of their priced
    // costs (kInfeasible when a node fits nowhere even so).
    double BuildSoftInOrder(RouteSet& set, std::vector<Vertex> order, const NearLists& near,
                            const std::function<bool()>& interrupted);
    // Which rule keeps the agent from going straight from its start to its end.
    std::string WhyNoDirectWay(size_t agent) const;

    const RouteRules& rules;
    const TaskRules* tasks;
    bool min_max;
    uint64_t seed;
    bool leave_out = false;
    bool soften = false;
};

}  // namespace tamrik
