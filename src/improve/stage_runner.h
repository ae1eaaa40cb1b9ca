#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "improve/construction.h"
#include "improve/improvement_stage.h"
#include "improve/near_lists.h"
#include "model/result.h"
#include "route/route_rules.h"
#include "route/soft_rules.h"
#include "route/task_rules.h"

namespace tamrik {

// How the stages after the search work, fixed for a solver's life.
struct StageSettings {
    bool min_max = true;
    uint64_t seed = 0;
    // Iteration cap of the improvement stage; 0 for none.
    uint64_t max_iterations = 0;
    bool stop_when_stalled = true;
    // Threads of the improvement stage (0: every core).
    uint64_t threads = 1;
    // Whether the improvement stage was asked for; without it, routes that break rules that
    // bend are only repaired.
    bool improve = false;
    // Whether stops that fit nowhere may be left out.
    bool allow_unassigned = false;
    StageSearch search = StageSearch::Auto;
    // Granular neighbours of the population's local search.
    uint64_t neighbours = 20;
};

// What the stages ask of the solver, always on the calling thread.
struct StageHooks {
    // Processor seconds on the solver's clock, and the value of it at which to stop.
    std::function<double()> elapsed;
    double deadline = 0.0;
    // True when the host wants the solve to stop now (asks the host); whether it has said so
    // already (asks no one).
    std::function<bool()> interrupted;
    std::function<bool()> was_interrupted;
    // Takes the routes now in the result as the new best solution, found by `source` at
    // `time` (below 0: now).
    std::function<void(const char* source, double time)> record;
    // Keeps the result as it is now among the solve's solution states.
    std::function<void()> snapshot;
};

// The stages that follow the search or stand in for it: the construction, from scratch or
// from a warm start; the soft start when no order keeps every rule; the improvement stage on
// one thread or several; and what a failed solve says about the stops it could not place.
class StageRunner {
public:
    explicit StageRunner(const StageSettings& settings) : settings(settings) {}

    void SetWarmStart(WarmStart start) {
        warm_start = std::move(start);
        warm_started = true;
    }
    bool WarmStarted() const { return warm_started; }
    const WarmStart& Warm() const { return warm_start; }
    // Forgets what the previous solve left for the improvement stage.
    void Reset();

    // Builds a first solution into `result` and records it; when no order keeps every rule,
    // keeps routes that break rules that bend for the improvement stage to repair instead
    // (SoftStartPending). False when it builds nothing, the reason then on standard error.
    bool Construct(const RouteRules& rules, const TaskRules& tasks, Result& result,
                   const StageHooks& hooks);
    bool SoftStartPending() const { return AnyBends(soft_weights); }
    // Runs the improvement stage from the soft start, or else from the result's routes, and
    // records each better solution that keeps every rule into `result`.
    ImprovementStage::Stop Improve(const RouteRules& rules, const TaskRules& tasks,
                                   Result& result, const StageHooks& hooks);

    // The stop the stages found no room for (-1: none), and what blocked it.
    Vertex Stuck() const { return stuck; }
    const std::string& StuckReason() const { return stuck_reason; }

private:
    // The construction's line when its routes break rules that bend.
    static std::string SoftStartLine(const RuleAmounts& weights);
    // Whether every route of the set keeps its route rules, walked afresh.
    static bool EveryRouteKept(const RouteRules& rules, const RouteSet& set);
    // What a stage that found no plan keeping every rule says, and gives as the reason of the
    // stop the construction could not place.
    void ExplainSoftFailure(size_t most_broken);
    // Keeps the stops the construction left out, with their reasons, in the result.
    static void ReportLeftOut(const RouteRules& rules, const TaskRules& tasks, Result& result,
                              const std::vector<std::pair<Vertex, std::string>>& left_out);
    // Reports the warm start's stops that had to move, one line on standard error.
    static void ReportMovedStops(const RouteRules& rules,
                                 const std::vector<std::pair<size_t, Vertex>>& moved);
    ImprovementSettings ImprovementSettingsNow() const;
    // Whether the population search improves this instance rather than the annealing stage.
    bool UsesPopulation(const RouteRules& rules, const TaskRules& tasks,
                        const ImprovementSettings& stage) const;

    StageSettings settings;
    bool warm_started = false;
    WarmStart warm_start;
    // The construction's neighbour lists, handed on to the improvement stage.
    NearLists near_lists;
    Vertex stuck = -1;
    std::string stuck_reason;
    // Routes of the construction that break some rule that bends (empty: none), for the
    // stage to repair with those rules soft at these first prices.
    std::vector<std::vector<int64_t>> soft_start;
    RuleAmounts soft_weights{};
};

}  // namespace tamrik
