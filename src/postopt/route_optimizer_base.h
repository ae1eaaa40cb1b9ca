#pragma once

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "graph/planner_graph.h"
#include "plugins/plugin_kinds.h"
#include "solver/search_records.h"

namespace tamrik {

// The answer of the route feasibility test: whether the path is a valid route for the agent
// and, when it is, its cost (which is also the agent's time at the last node).
struct PathEvaluation {
    bool feasible = true;
    double cost = 0.0;
};

// What the two route post-optimizers (Parts 5.1 and 5.2) share: the configuration set by the
// four setters, the instance handed to Optimize, the route feasibility test with its cost
// (EvaluatePath) and the segment-reversal pass (TwoOptRoute). Abstract: Name and Optimize
// belong to the concrete optimizers. Adds no virtual operation of its own, so the slot order
// of the post-optimizer interface is unchanged.
class RouteOptimizerBase : public PostOptimizerPlugin {
public:
    // Improvements of at most this much are not taken; insertion costs within it of the cap
    // or of each other count as equal.
    static constexpr double kEpsilon = 1e-9;

    void SetReturnToEnd(bool value) override;
    // Copies the vector and rebuilds start_set from it.
    void SetStartNodes(const std::vector<int64_t>& nodes) override;
    // Copies the vector and rebuilds end_set from it.
    void SetEndNodes(const std::vector<int64_t>& nodes) override;
    // Copies the map (not when given its own map); windows are in force exactly when it is
    // non-empty, and that flag is returned.
    bool SetTimeWindows(const TimeWindowMap& windows) override;

    // Keeps the graph pointer (may be null) and copies the records; the first step of every
    // Optimize. Public so that EvaluatePath can be used on its own.
    void BindInstance(const PlannerGraph* graph, const std::vector<PointRecord>& points,
                      const std::vector<AgentRecord>& agents);

    // EvaluatePath: end-point rule, own start only as the last node, allowed agent
    // types, no foreign start or end node, free return legs when return_to_end is false, time
    // windows with waiting, the cost limit. O(path length), allocation-free. The cost of an
    // infeasible path is 0.0. A vertex without a PointRecord, or an agent without an
    // AgentRecord (or without an entry in a non-empty start or end list), is infeasible.
    PathEvaluation EvaluatePath(const std::vector<int64_t>& path, int64_t agent) const;

    // The cost of the path by the same rules (arc costs, free return legs, waiting), summed
    // over the whole path even where EvaluatePath would stop at a violation; equal to
    // EvaluatePath's cost whenever the path is feasible.
    double RouteCost(const std::vector<int64_t>& path, int64_t agent) const;

    // TwoOptRoute: first-improvement segment reversal with fixed first and last
    // nodes, on paths of at least four nodes. A reversed path is taken when it is feasible and
    // its cost + kEpsilon is below `cost`; the scan then restarts. Returns whether anything
    // was taken (path and cost then hold the improved route).
    bool TwoOptRoute(std::vector<int64_t>& path, double& cost, int64_t agent);

protected:
    // What decides, for one agent, whether a leg of its path is paid and at what cost.
    struct LegRules {
        int64_t own_start = 0;
        int64_t own_end = 0;
        int64_t type = -1;
        bool has_starts = false;
        bool has_ends = false;
        ArcCostTable table;
    };
    // Prefix sums of the leg costs of one path: forward[k] sums the legs into positions
    // 1 .. k, backward[k] the same legs walked the other way; magnitude sums their absolute
    // values.
    struct LegSums {
        std::vector<double> forward;
        std::vector<double> backward;
        double magnitude = 0.0;
    };

    LegRules LegRulesOf(int64_t agent) const;
    // Whether the walk adds the arc cost of prev -> node: not for free legs (same node, the
    // return to the own start or end without a return obligation) nor from an unknown vertex.
    bool PaidLeg(const LegRules& rules, int64_t prev, int64_t node) const;
    double LegCost(const LegRules& rules, int64_t prev, int64_t node) const;

    // Candidate bounds. The cost EvaluatePath gives a feasible path is at least the sum of its
    // leg costs, since waiting only adds. Each bound is that sum for a candidate built from
    // `path`, less a margin far above any rounding difference between the two summations, so
    // a candidate whose bound already rules it out can be skipped without changing any
    // answer. `reference` is the magnitude of the value the bound will be compared with.
    void BuildLegSums(const std::vector<int64_t>& path, const LegRules& rules,
                      LegSums& sums) const;
    // `path` with positions i .. j reversed (0 < i < j < size - 1).
    double ReversalBound(const std::vector<int64_t>& path, const LegRules& rules,
                         const LegSums& sums, size_t i, size_t j, double reference) const;
    // `path` with `node` inserted before position q (0 < q < size).
    double InsertionBound(const std::vector<int64_t>& path, const LegRules& rules,
                          const LegSums& sums, size_t q, int64_t node, double reference) const;

    // true when `type` is one of the agent types allowed at `node` (an existing vertex).
    bool AllowsType(int64_t node, int64_t type) const;
    // Membership in start_set / end_set, answered from dense flags on the hot path.
    bool IsSomeStart(int64_t node) const { return InSet(start_flags, start_set, node); }
    bool IsSomeEnd(int64_t node) const { return InSet(end_flags, end_set, node); }

    // Configuration, replaced by the setters.
    bool return_to_end = false;
    bool use_time_windows = false;
    TimeWindowMap time_windows;
    std::vector<int64_t> starts;
    std::vector<int64_t> ends;
    std::unordered_set<int64_t> start_set;
    std::unordered_set<int64_t> end_set;

private:
    static bool InSet(const std::vector<uint8_t>& flags, const std::unordered_set<int64_t>& set,
                      int64_t node) {
        if (static_cast<uint64_t>(node) < flags.size()) return flags[static_cast<size_t>(node)] != 0;
        return node < 0 && set.count(node) != 0;
    }
    static std::vector<uint8_t> FlagsOf(const std::unordered_set<int64_t>& set);

    // flags[v] != 0 exactly when v is in the set; covers 0 .. the set's largest non-negative
    // member (kept small: vertex ids), so only negative ids fall back to the hash set.
    std::vector<uint8_t> start_flags;
    std::vector<uint8_t> end_flags;
    // Bit t of type_masks[v] is set when type t (below 64) may visit vertex v.
    std::vector<uint64_t> type_masks;

protected:

    // The instance of the current Optimize call.
    const PlannerGraph* graph = nullptr;
    std::vector<PointRecord> points;
    std::vector<AgentRecord> agents;

private:
    // One walk along the path. kWholePath false: stop at the first violation (EvaluatePath).
    // kWholePath true: record the violation and go on summing the cost (RouteCost).
    template <bool kWholePath>
    PathEvaluation Walk(const std::vector<int64_t>& path, int64_t agent) const;

    double Margin(size_t path_size, double magnitude, double reference) const;

    // The candidate of TwoOptRoute and its leg sums, reused from one call to the next.
    std::vector<int64_t> reversal_buffer;
    LegSums reversal_sums;
    // The largest |opening time| of any window: waiting resets the running cost to it.
    double window_scale = 0.0;
};

}  // namespace tamrik
