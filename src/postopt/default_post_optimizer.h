#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "postopt/route_optimizer_base.h"

namespace tamrik {

// The in-group route optimizer. Segment reversal on every route, one relocation of
// a node from the longest to the shortest route inside each group of agents of one type, then
// repeated relocation from the group with the longest route to the group with the shortest
// longest route, until no move gains.
//
// Written-back costs: every route gets its own cost in Result::times. A route that
// EvaluatePath judges infeasible is handled as specified inside (cost 0.0, messages on
// standard error) but keeps the cost it came in with (Result::times before Optimize, 0.0 when
// there was none).
class DefaultPostOptimizer : public RouteOptimizerBase {
public:
    struct RouteRecord {
        int64_t agent = 0;
        // EvaluatePath's cost of `path`; 0.0 while the path is infeasible.
        double cost = 0.0;
        std::vector<int64_t> path;
        // false while `path` is the infeasible path the route came in with.
        bool feasible = true;
    };

    struct GroupRecord {
        int64_t size = 0;
        int64_t type = 0;
        int64_t longest = 0;
        int64_t shortest = 0;
        std::vector<int64_t> members;
    };

    struct RelocationMove {
        int64_t from_pos = -1;
        int64_t to_pos = -1;
        int64_t from_type = 0;
        int64_t to_type = 0;
        double gain = 0.0;
    };

    std::string Name() const override;
    void Optimize(const PlannerGraph* graph, const std::vector<PointRecord>& points,
                  const std::vector<AgentRecord>& agents, Result& result) override;

    // The working state after the last Optimize (for inspection).
    const std::vector<RouteRecord>& Routes() const { return routes; }
    const std::vector<int64_t>& GroupOrder() const { return group_order; }
    const std::unordered_map<int64_t, GroupRecord>& Groups() const { return groups; }

    // Moves the node at move.from_pos of route_from before move.to_pos of route_to when both
    // resulting paths are feasible. Positions outside the interior (from_pos < 1 or
    // > len - 2, to_pos < 1 or > len - 1) write "Invalid indices." to standard error and change
    // nothing. Uses the instance of BindInstance / the last Optimize. Returns whether the move
    // was applied.
    bool ApplyRelocation(RouteRecord& route_from, RouteRecord& route_to,
                         const RelocationMove& move);

private:
    // EvaluatePath, with "[post-opt] invalid path for agent <a>, skip optimize" on standard
    // error and cost 0.0 when the path is infeasible.
    PathEvaluation PathCost(const std::vector<int64_t>& path, int64_t agent) const;
    void UpdateGroupExtremes(int64_t type);
    RelocationMove FindBestRelocation(int64_t from_type, int64_t to_type);
    // Builds in source_buffer the path without position p, in target_buffer the path with
    // `node` inserted before position q.
    void BuildSource(const std::vector<int64_t>& path, size_t p);
    void BuildTarget(const std::vector<int64_t>& path, int64_t node, size_t q);

    std::vector<int64_t> group_order;
    std::unordered_map<int64_t, GroupRecord> groups;
    std::vector<RouteRecord> routes;

    // Candidate buffers, reused from one candidate to the next.
    std::vector<int64_t> source_buffer;
    std::vector<int64_t> target_buffer;
    LegSums target_sums;
};

}  // namespace tamrik
