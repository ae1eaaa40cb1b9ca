#pragma once

#include <cstdint>
#include <vector>

#include "postopt/post_optimizer_plugin.h"
#include "postopt/route_mirror.h"
#include "route/route_rules.h"

namespace tamrik {

// What the two route post-optimizers share: the route rules and the segment-reversal pass
// (TwoOptRoute). The rules are the optimizer's own, configured through the four setters of
// the post-optimizer interface and bound to the instance of each Optimize call, unless a
// solver lends its rules for the solve (ReadRules); the two agree on every instance the
// search runs on. Abstract: Name and Optimize belong to the concrete optimizers. Adds no
// virtual operation of its own, so the slot order of the post-optimizer interface is
// unchanged.
class RouteOptimizerBase : public PostOptimizerPlugin {
public:
    using LegRules = RouteRules::LegRules;

    // Improvements of at most this much are not taken; insertion costs within it of the cap
    // or of each other count as equal.
    static constexpr double kEpsilon = 1e-9;

    void SetReturnToEnd(bool value) override { own_rules.SetReturnToEnd(value); }
    void SetStartNodes(const std::vector<int64_t>& nodes) override {
        own_rules.SetStartNodes(nodes);
    }
    void SetEndNodes(const std::vector<int64_t>& nodes) override {
        own_rules.SetEndNodes(nodes);
    }
    bool SetTimeWindows(const TimeWindowMap& windows) override {
        return own_rules.SetTimeWindows(windows);
    }
    // Where the own rules' legs cost without a graph, and the services of free legs.
    void BindCosts(const CostModel* costs) { own_rules.BindCosts(costs); }
    // Reads `shared` (bound to the instance that Optimize is given, alive while it runs)
    // instead of the own rules; null returns to the own rules.
    void ReadRules(const RouteRules* shared) { shared_rules = shared; }
    // The rules Optimize reads, bound to the instance of BindInstance or the last Optimize.
    const RouteRules& Rules() const { return shared_rules ? *shared_rules : own_rules; }
    // Binds the own rules to an instance (lent rules come bound).
    void BindInstance(const PlannerGraph* graph, const std::vector<PointRecord>& points,
                      const std::vector<AgentRecord>& agents);
    // The route rules' feasibility test and leg rules, through Rules().
    PathEvaluation EvaluatePath(const std::vector<int64_t>& path, int64_t agent) const {
        return Rules().EvaluatePath(path, agent);
    }
    LegRules LegRulesOf(int64_t agent) const { return Rules().LegRulesOf(agent); }

    // TwoOptRoute: first-improvement segment reversal with fixed first and last
    // nodes, on paths of at least four nodes. A reversed path is taken when it is feasible and
    // its cost + kEpsilon is below `cost`; the scan then restarts. Returns whether anything
    // was taken (path and cost then hold the improved route).
    bool TwoOptRoute(std::vector<int64_t>& path, double& cost, int64_t agent);

protected:
    // Prefix sums of the leg costs of one path: forward[k] sums the legs into positions
    // 1 .. k, backward[k] the same legs walked the other way; magnitude sums their absolute
    // values.
    struct LegSums {
        std::vector<double> forward;
        std::vector<double> backward;
        double magnitude = 0.0;
    };

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

    // Whether a move's price from the mirror (RouteMirror), less a margin far above any
    // rounding difference between the route set's joins and the path walk, is above
    // `threshold`: the candidate's evaluated cost would be too. `magnitude` as for the
    // bounds; an infeasible price rules nothing out.
    bool PricedAbove(double price, size_t path_size, double magnitude, double reference,
                     double threshold) const;

    // The routes being optimized, also as a route set: reloaded by each Optimize, kept in
    // step with every change, cleared once Optimize ends.
    RouteMirror mirror;

private:
    double Margin(size_t path_size, double magnitude, double reference) const;

    RouteRules own_rules;
    const RouteRules* shared_rules = nullptr;

    // The candidate of TwoOptRoute and its leg sums, reused from one call to the next.
    std::vector<int64_t> reversal_buffer;
    LegSums reversal_sums;
};

}  // namespace tamrik
