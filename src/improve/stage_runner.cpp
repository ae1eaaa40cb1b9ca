#include "improve/stage_runner.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "base/log_sink.h"
#include "improve/independent_runs.h"
#include "improve/parallel_improvement.h"
#include "improve/population_search.h"
#include "improve/stop_reasons.h"

namespace tamrik {
namespace {

// Recorded solution states of the stage beyond this many are not kept (the final one is).
constexpr size_t kMaxStageSnapshots = 1000;

// Without windows, routes of more stops than this on average are where the annealing stage
// stays ahead of the population (benchmarks/results/population-first.md, the X set).
constexpr double kLongestPopulationRoutes = 12.0;
// With windows, instances of more targets than this are where the annealing stage stays ahead
// (the same file: Solomon's 100 against Homberger's 200 and 400).
constexpr double kMostWindowedPopulationTargets = 200.0;

struct FleetShape {
    double targets = 0.0;
    // The targets over the fewest routes that can carry their demand: the stops of an average
    // route when the fleet is as small as the loads allow.
    double stops_per_route = 0.0;
};

FleetShape ShapeOf(const RouteRules& rules, const TaskRules& tasks) {
    std::vector<uint8_t> endpoint(rules.VertexCount(), 0);
    for (int64_t node : rules.StartNodes()) endpoint[static_cast<size_t>(node)] = 1;
    for (int64_t node : rules.EndNodes()) endpoint[static_cast<size_t>(node)] = 1;
    double targets = 0.0;
    for (size_t v = 0; v < endpoint.size(); ++v) targets += endpoint[v] == 0 ? 1.0 : 0.0;
    // The tightest dimension sets how many routes the loads need.
    double routes = 1.0;
    for (size_t d = 0; d < tasks.Dimensions(); ++d) {
        double demand = 0.0;
        for (size_t v = 0; v < endpoint.size(); ++v) {
            if (endpoint[v] != 0) continue;
            const LoadStretch load = tasks.LoadOf(static_cast<Vertex>(v), d);
            demand += std::max(load.delivered, load.delta + load.delivered);
        }
        double capacity = 0.0;
        for (size_t agent = 0; agent < rules.StartNodes().size(); ++agent) {
            capacity = std::max(capacity, tasks.Capacity(agent, d));
        }
        if (capacity > 0.0) routes = std::max(routes, std::ceil(demand / capacity));
    }
    return FleetShape{targets, targets / routes};
}

}  // namespace

void StageRunner::Reset() {
    soft_start.clear();
    soft_weights = RuleAmounts{};
}

bool StageRunner::Construct(const RouteRules& rules, const TaskRules& tasks, Result& result,
                            const StageHooks& hooks) {
    Construction construction(rules, settings.min_max, settings.seed, &tasks);
    construction.LeaveOut(settings.allow_unassigned);
    construction.Soften(true);
    ConstructionOutcome outcome =
        construction.Build(hooks.interrupted, warm_started ? &warm_start : nullptr);
    const bool interrupted = hooks.was_interrupted();
    ReportMovedStops(rules, outcome.moved);
    if (!outcome.built) {
        if (!interrupted) LogLine(LogStream::kError, "[construction] " + outcome.reason);
        stuck = outcome.stuck;
        stuck_reason = outcome.stuck_reason;
        return false;
    }
    if (AnyBends(outcome.weights)) {
        stuck = outcome.stuck;
        stuck_reason = outcome.stuck_reason;
        soft_start = std::move(outcome.paths);
        soft_weights = outcome.weights;
        near_lists = std::move(outcome.near);
        result.method = "construction";
        LogLine(LogStream::kOut, SoftStartLine(outcome.weights));
        return true;
    }
    const SolutionCheck check = tasks.Check(rules, outcome.paths);
    if (!check.feasible) {
        LogLine(LogStream::kError, "[construction] its routes break a rule; they are not used");
        return false;
    }
    for (size_t r = 0; r < outcome.paths.size(); ++r) {
        const auto agent = static_cast<int64_t>(r);
        result.times[agent] = check.costs[r];
        result.paths[agent] = std::move(outcome.paths[r]);
    }
    ReportLeftOut(rules, tasks, result, outcome.left_out);
    near_lists = std::move(outcome.near);
    result.method = "construction";
    hooks.record("construction", -1.0);
    hooks.snapshot();
    return true;
}

std::string StageRunner::SoftStartLine(const RuleAmounts& weights) {
    if (!DaysBend(weights)) {
        return "[construction] no order keeps every capacity; the improvement stage starts "
               "from overloaded routes";
    }
    return "[construction] no order keeps every rule; the improvement stage starts from routes "
           "that break some, and repairs them";
}

bool StageRunner::EveryRouteKept(const RouteRules& rules, const RouteSet& set) {
    for (size_t r = 0; r < set.RouteCount(); ++r) {
        const std::vector<Vertex>& nodes = set.RouteOf(r).nodes;
        const std::vector<int64_t> path(nodes.begin(), nodes.end());
        if (!rules.EvaluatePath(path, static_cast<int64_t>(r)).feasible) return false;
    }
    return true;
}

void StageRunner::ExplainSoftFailure(size_t most_broken) {
    if (most_broken >= kSoftRuleCount) {
        LogLine(LogStream::kError, "[improvement] no plan found that keeps every rule");
        return;
    }
    const std::string rule = RuleName(most_broken);
    LogLine(LogStream::kError,
            "[improvement] no plan found that keeps every rule; broken most often: " + rule);
    stuck_reason = "no plan found that keeps every rule, broken most often by " + rule;
}

void StageRunner::ReportLeftOut(const RouteRules& rules, const TaskRules& tasks, Result& result,
                                const std::vector<std::pair<Vertex, std::string>>& left_out) {
    result.unassigned.clear();
    const StopReasons reasons(rules, tasks);
    for (const auto& [vertex, found] : left_out) {
        // A reason that holds whatever the other routes do says more than the one found.
        std::string reason = reasons.Alone(vertex);
        if (reason.empty()) reason = found;
        const uint64_t id = rules.Points()[static_cast<size_t>(vertex)].node_id;
        LogLine(LogStream::kError, "[construction] node " + std::to_string(id) + " left out: " + reason);
        result.unassigned.push_back(UnassignedStop{id, std::move(reason)});
    }
}

void StageRunner::ReportMovedStops(const RouteRules& rules,
                                   const std::vector<std::pair<size_t, Vertex>>& moved) {
    if (moved.empty()) return;
    std::string line = "[warm start] " + std::to_string(moved.size()) +
                       " stops broke their initial route's rules and went in again where they fit:";
    for (const auto& [agent, vertex] : moved) {
        line += " node " + std::to_string(rules.Points()[static_cast<size_t>(vertex)].node_id) +
                " (agent " + std::to_string(rules.Agents()[agent].agent_id) + ")";
    }
    LogLine(LogStream::kError, line);
}

bool StageRunner::UsesPopulation(const RouteRules& rules, const TaskRules& tasks,
                                 const ImprovementSettings& stage) const {
    if (settings.search == StageSearch::Anneal || !PopulationSearch::Takes(&tasks, stage)) {
        return false;
    }
    if (settings.search == StageSearch::Population) return true;
    // "auto": where the benchmark shows the population ahead (benchmarks/results/population-first.md):
    // loads under min-sum without shifts, with windows on up to 200 targets (the Solomon set and
    // Homberger's 200) or with short routes (the X set). Without `improve` the stage only looks
    // for a plan that keeps every rule, which the annealing stage stops at.
    if (!settings.improve || !tasks.HasLoads() || rules.AnyShift() || settings.min_max) return false;
    const FleetShape shape = ShapeOf(rules, tasks);
    if (rules.UsesTimeWindows()) return shape.targets <= kMostWindowedPopulationTargets;
    return shape.stops_per_route <= kLongestPopulationRoutes;
}

ImprovementSettings StageRunner::ImprovementSettingsNow() const {
    ImprovementSettings stage;
    stage.min_max = settings.min_max;
    stage.seed = settings.seed;
    stage.max_iterations = settings.max_iterations;
    stage.stop_when_stalled = settings.stop_when_stalled;
    if (warm_started) stage.pinned = warm_start.pinned;
    stage.weights = soft_weights;
    stage.stop_when_feasible = !settings.improve;
    stage.neighbours = settings.neighbours;
    return stage;
}

ImprovementStage::Stop StageRunner::Improve(const RouteRules& rules, const TaskRules& tasks,
                                            Result& result, const StageHooks& hooks) {
    const size_t agent_count = rules.StartNodes().size();
    std::vector<std::vector<int64_t>> paths(agent_count);
    if (!soft_start.empty()) {
        paths = std::move(soft_start);
    } else {
        for (size_t k = 0; k < agent_count; ++k) paths[k] = result.paths.at(static_cast<int64_t>(k));
    }
    const ImprovementSettings stage_settings = ImprovementSettingsNow();
    size_t stage_snapshots = 0;
    bool unrecorded = false;
    bool recorded = false;
    // `time` below 0: the solver's clock now.
    const auto record = [&](const RouteSet& set, double time) {
        // The set keeps loads and task order itself; the whole-solution test is a second,
        // independent guard before routes count.
        if (tasks.Active() && !tasks.Check(rules, set.Paths()).feasible) return;
        if (set.Bends() && !EveryRouteKept(rules, set)) return;
        for (size_t r = 0; r < set.RouteCount(); ++r) {
            const std::vector<Vertex>& nodes = set.RouteOf(r).nodes;
            result.paths[static_cast<int64_t>(r)].assign(nodes.begin(), nodes.end());
            result.times[static_cast<int64_t>(r)] = set.SummedCost(r);
        }
        hooks.record("improvement", time);
        recorded = true;
        unrecorded = stage_snapshots >= kMaxStageSnapshots;
        if (unrecorded) return;
        hooks.snapshot();
        ++stage_snapshots;
    };
    ImprovementStage::Stop stop;
    size_t most_broken = kSoftRuleCount;
    const size_t workers = ParallelImprovement::ThreadsFor(settings.threads);
    ImprovementHooks one_thread;
    one_thread.elapsed = hooks.elapsed;
    one_thread.deadline = hooks.deadline;
    one_thread.interrupted = hooks.interrupted;
    one_thread.improved = [&](const RouteSet& set) { record(set, -1.0); };
    ParallelHooks threaded;
    threaded.start_time = hooks.elapsed();
    threaded.deadline = hooks.deadline;
    threaded.interrupted = hooks.interrupted;
    threaded.improved = record;
    const bool population = UsesPopulation(rules, tasks, stage_settings);
    if (population && workers > 1) {
        // Islands: each thread a population of its own, the best plan of all kept.
        stop = RunIndependently<PopulationSearch>(rules, stage_settings, &tasks, workers,
                                                  near_lists, paths, threaded, most_broken);
    } else if (population) {
        PopulationSearch stage(rules, stage_settings, &tasks);
        stage.UseNeighbours(std::move(near_lists));
        stop = stage.Run(paths, one_thread);
        most_broken = stage.MostBroken();
    } else if (workers <= 1) {
        ImprovementStage stage(rules, stage_settings, &tasks);
        stage.UseNeighbours(std::move(near_lists));
        stop = stage.Run(paths, one_thread);
        most_broken = stage.MostBroken();
    } else {
        ParallelImprovement stage(rules, stage_settings, &tasks, workers);
        stage.UseNeighbours(near_lists);
        stop = stage.Run(paths, threaded);
        most_broken = stage.MostBroken();
    }
    if (AnyBends(soft_weights) && !recorded && !hooks.was_interrupted()) {
        ExplainSoftFailure(most_broken);
    }
    if (stop != ImprovementStage::Stop::kNotRun) result.method += "+improvement";
    if (unrecorded) hooks.snapshot();
    result.timeout = stop == ImprovementStage::Stop::kBudget;
    return stop;
}

}  // namespace tamrik
