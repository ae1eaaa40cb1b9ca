#pragma once

#include <cstdint>
#include <vector>

#include "postopt/post_optimizer_plugin.h"
#include "route/route_rules.h"

namespace tamrik {

// What the two route post-optimizers share: the route rules, configured through the four
// setters of the post-optimizer interface and bound to the instance of each Optimize call,
// and the segment-reversal pass (TwoOptRoute). Abstract: Name and Optimize belong to the
// concrete optimizers. Adds no virtual operation of its own, so the slot order of the
// post-optimizer interface is unchanged.
class RouteOptimizerBase : public PostOptimizerPlugin, public RouteRules {
public:
    // Improvements of at most this much are not taken; insertion costs within it of the cap
    // or of each other count as equal.
    static constexpr double kEpsilon = 1e-9;

    void SetReturnToEnd(bool value) override { RouteRules::SetReturnToEnd(value); }
    void SetStartNodes(const std::vector<int64_t>& nodes) override {
        RouteRules::SetStartNodes(nodes);
    }
    void SetEndNodes(const std::vector<int64_t>& nodes) override {
        RouteRules::SetEndNodes(nodes);
    }
    bool SetTimeWindows(const TimeWindowMap& windows) override {
        return RouteRules::SetTimeWindows(windows);
    }

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

private:
    double Margin(size_t path_size, double magnitude, double reference) const;

    // The candidate of TwoOptRoute and its leg sums, reused from one call to the next.
    std::vector<int64_t> reversal_buffer;
    LegSums reversal_sums;
};

}  // namespace tamrik
