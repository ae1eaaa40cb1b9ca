// Tables prepared before the search: the weighted pair list behind the spanning-tree
// estimate, and the start or end vertices that no usable arc leaves.
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <optional>

#include "base/log_sink.h"
#include "route/time_stretch.h"
#include "solver/solver.h"

namespace tamrik {
namespace {

constexpr double kBlocked = std::numeric_limits<double>::max();
constexpr double kNoArc = 9999.0;
constexpr double kUnbounded = std::numeric_limits<double>::infinity();

}  // namespace

bool Solver::KnowsGivenCosts() const {
    return graph != nullptr && graph == owned_graph.get() && !given_costs.empty();
}

bool Solver::UsableCost(int64_t i, int64_t j, uint64_t t, double c) const {
    if (!KnowsGivenCosts()) return c < kNoArc;
    const auto n = static_cast<uint64_t>(graph->NumVertex());
    const auto ui = static_cast<uint64_t>(i);
    const auto uj = static_cast<uint64_t>(j);
    return ui < n && uj < n && t < cost_dim && given_costs[(ui * n + uj) * cost_dim + t] != 0;
}

double Solver::TwEdgeWeight(int64_t i, int64_t j) const {
    auto window_i = time_windows.find(i);
    auto window_j = time_windows.find(j);
    // Leaving i at the earliest time of its window decides whether j can be reached; the
    // wait that remains even when leaving i as late as its window allows counts.
    const TimeStretch at_i = window_i == time_windows.end()
                                 ? TimeStretch::At(0.0, kUnbounded, false)
                                 : TimeStretch::At(window_i->second.first, window_i->second.second, false);
    const TimeStretch at_j = window_j == time_windows.end()
                                 ? TimeStretch::At(-kUnbounded, kUnbounded, false)
                                 : TimeStretch::At(window_j->second.first, window_j->second.second, false);
    double best = kBlocked;
    const ArcCostTable table = graph->CostTable();
    for (uint64_t t = 0; t < cost_dim; ++t) {
        // No entry: no arc, or a cost vector shorter than t (and than every later type).
        std::optional<double> entry =
            ArcCostEntryFrom(*graph, table, i, j, static_cast<int64_t>(t));
        if (!entry) break;
        double c = *entry;
        if (!UsableCost(i, j, t, c)) continue;
        const TimeStretch leg = TimeStretch::Join(at_i, c, c, at_j);
        if (leg.time_warp > 0.0) continue;
        best = std::min(best, leg.duration);
    }
    return best;
}

int32_t Solver::BuildTimeWindowMst() {
    mst_edges.clear();
    int64_t n = static_cast<int64_t>(graph->NumVertex());
    bool debug = std::getenv("MTSP_DEBUG_TW_EDGES") != nullptr;
    int64_t blocked = 0;
    for (int64_t i = 1; i < n; ++i) {
        for (int64_t j = 0; j < i; ++j) {
            double forward = TwEdgeWeight(i, j);
            double backward = TwEdgeWeight(j, i);
            double w = forward <= backward ? forward : backward;
            if (w == kBlocked) {
                ++blocked;
                if (debug) LogLine(LogStream::kOut, LineOf("edge: ", i, "->", j, " cost: ", w));
            } else {
                mst_edges.push_back(MstEdge{i, j, w});
            }
        }
    }
    if (blocked > 0) {
        LogLine(LogStream::kOut, LineOf("[TW-MST] blocked edges: ", blocked, " / ", n * (n - 1) / 2,
                                        " (set MTSP_DEBUG_TW_EDGES=1 for details)"));
    }
    std::stable_sort(mst_edges.begin(), mst_edges.end(),
                     [](const MstEdge& a, const MstEdge& b) { return a.w < b.w; });
    return 1;
}

int32_t Solver::CheckReachability() {
    unreachable_points.clear();
    int64_t n = static_cast<int64_t>(points.size());
    for (int64_t u = 0; u < n; ++u) {
        if (!start_set.count(u) && !goal_set.count(u)) continue;
        double best = kBlocked;
        bool usable = false;
        for (int64_t x = 0; x < n; ++x) {
            if (x == u) continue;
            std::optional<double> cost = graph->ArcCostEntry(u, x, 0);
            if (!cost) continue;
            best = std::min(best, *cost);
            usable = usable || UsableCost(u, x, 0, *cost);
        }
        // An outside graph keeps the rule that a cheapest cost of exactly 9999.0 is no arc.
        bool unreachable = KnowsGivenCosts() ? best != kBlocked && !usable : best == kNoArc;
        if (unreachable) {
            LogLine(LogStream::kError, LineOf("point: ", u, " can't be reached"));
            unreachable_points.push_back(u);
        }
    }
    return 1;
}

}  // namespace tamrik
