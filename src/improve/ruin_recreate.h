#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <vector>

#include "improve/best_insertion.h"
#include "improve/near_lists.h"
#include "improve/reversal_descent.h"
#include "route/route_set.h"
#include "improve/task_order.h"
#include "route/task_rules.h"

namespace tamrik {

// The move of the improvement stage: removes a few strings of adjacent nodes near a random
// seed node (under min-sum now and then a whole route), reinserts them one by one at their
// best feasible position (for min-max, the one that keeps the longest route shortest) and
// straightens the changed routes by segment reversals. A copy is an independent move over the
// same instance, for another thread.
class RuinRecreate {
public:
    RuinRecreate(bool min_max, const TaskRules* tasks, size_t vertex_count);

    // Sizes the move for the routes of `set`. `neighbours` (movable nodes by increasing
    // distance from each vertex) and `depot_distance` (each vertex's distance from the nearest
    // route start) belong to the caller and must outlive the move; a granular move inserts
    // only next to near neighbours.
    void Prepare(const RouteSet& set, const NearLists& neighbours,
                 const std::vector<double>& depot_distance, bool granular);
    // One ruin and recreate of `work`, drawing from `rng`; false when the ruin or the recreate
    // breaks a rule (`work` is then to be discarded).
    bool Apply(RouteSet& work, std::mt19937_64& rng);
    // Whether the last Apply changed route r.
    bool Changed(size_t r) const { return ruined[r] != 0 || touched[r] != 0; }
    BestInsertion& Insertion() { return insertion; }

private:
    // Removes strings of nodes from `work`; false when a shortened route breaks its rules.
    bool Ruin(RouteSet& work);
    // Under rules that bend, half of the ruins of a solution that breaks one start on a route
    // that breaks one: the strings removed there go back wherever they cost least with the
    // price of what they break.
    void SeedOnBroken(const RouteSet& work);
    // Removes every node of one route: none when no route can be emptied, else whether what
    // is left of it keeps its rules.
    std::optional<bool> EmptyOneRoute(RouteSet& work);
    // Also removes the partners (same route, precedence) of every removed node, so that
    // pairs move together; whether the routes left keep their rules.
    bool RemovePartners(RouteSet& work);
    // Puts every removed node back; false when one has no feasible position.
    bool Recreate(RouteSet& work);
    void OrderRemoved(const RouteSet& work);
    uint64_t Draw(uint64_t bound) { return bound == 0 ? 0 : (*rng)() % bound; }

    bool min_max;
    bool granular = false;
    BestInsertion insertion;
    TaskOrder task_order;
    const NearLists* neighbours = nullptr;
    ReversalDescent descent;
    const std::vector<double>* depot_distance = nullptr;
    std::mt19937_64* rng = nullptr;
    std::vector<Vertex> removed;
    // The route each removed node came from (while the ruin lasts).
    std::vector<int32_t> removed_from;
    std::vector<uint8_t> ruined;
    // Removed nodes not yet back (used when pairs must go in together).
    std::vector<uint8_t> pending;
    // Routes that the move changed, and per route the nodes next to its changes.
    std::vector<uint8_t> touched;
    std::vector<std::vector<Vertex>> dirty;
    Vertex seed_node = 0;
};

}  // namespace tamrik
