// The hand-over from the search to the improvement stage, and the stage's run.
#include <algorithm>

#include "base/log_sink.h"
#include "improve/construction.h"
#include "improve/improvement_stage.h"
#include "improve/parallel_improvement.h"
#include "solver/solver.h"

namespace tamrik {
namespace {

// The search keeps the budget while it finds better solutions; it hands over once this many
// labels pass without one, or once it has used this share of the budget or this many
// seconds (its labels fill memory at a steady rate, which must not grow with the budget).
constexpr int64_t kLabelsWithoutGoal = 100000;
constexpr double kSearchShare = 0.1;
constexpr double kLongestSearch = 3.0;
// Reading the processor clock at every pop would slow the search down.
constexpr uint32_t kPopsPerClockRead = 256;
// Recorded solution states of the stage beyond this many are not kept (the final one is).
constexpr size_t kMaxStageSnapshots = 1000;

}  // namespace

bool Solver::SearchHandsOver() {
    // Without the stage, only a search that has nothing keeping the loads and task order
    // hands over, to the construction.
    if (!improve && solution_found != 0) return false;
    if (solution_found != 0 && result.n_generated - generated_at_goal >= kLabelsWithoutGoal) {
        return true;
    }
    if (++pops_since_clock < kPopsPerClockRead) return false;
    pops_since_clock = 0;
    return timer.ElapsedSeconds() > std::min(kSearchShare * time_limit, kLongestSearch);
}

void Solver::ReleaseSearchMemory() {
    focal_list.clear();
    open_list = OpenList();
    label_pool = LabelPool(agents.size());
    std::vector<int64_t>().swap(parent);
    std::vector<Frontier>().swap(frontiers);
    frontier_index = JointKeyIndex();
}

bool Solver::HostWantsStop() {
    interrupted = interrupted || (interrupt_check && interrupt_check());
    return interrupted;
}

RouteRules Solver::MakeRouteRules() const {
    RouteRules rules;
    rules.SetReturnToEnd(return_to_end);
    rules.SetStartNodes(starts);
    rules.SetEndNodes(goals);
    rules.SetTimeWindows(time_windows);
    rules.SetSeveralWindows(several_windows);
    rules.SetAgentDays(agent_days);
    rules.SetTravelCost(travel_cost);
    rules.BindCosts(&cost_model);
    rules.BindInstance(graph, points, agents);
    return rules;
}

void Solver::RecordRoutes(const char* source, double time) {
    solution_found = 1;
    result.fixed_cost = 0.0;
    result.lost_prize = LostPrize();
    for (size_t r = 0; r < agent_days.size(); ++r) {
        const auto path = result.paths.find(static_cast<int64_t>(r));
        if (path != result.paths.end() && path->second.size() > 2) {
            result.fixed_cost += agent_days[r].fixed_cost;
        }
    }
    last_update_time = time < 0.0 ? timer.ElapsedSeconds() : time;
    max_route_cost = LargestRouteCost(result);
    UpdateStatistics();
    ReportProgress(source);
}

double Solver::LostPrize() const {
    if (!tasks.HasOptional()) return 0.0;
    std::vector<uint8_t> served(points.size(), 0);
    for (const auto& [agent, path] : result.paths) {
        for (int64_t v : path) served[static_cast<size_t>(v)] = 1;
    }
    double lost = 0.0;
    for (size_t v = 0; v < points.size(); ++v) {
        const auto vertex = static_cast<int32_t>(v);
        if (!served[v] && tasks.IsOptional(vertex)) lost += tasks.Prize(vertex);
    }
    return lost;
}

bool Solver::RunConstruction() {
    ReleaseSearchMemory();
    const RouteRules rules = MakeRouteRules();
    Construction construction(rules, objective_type != ObjectiveType::MinSum, improve_seed,
                              &tasks);
    construction.LeaveOut(allow_unassigned);
    construction.Soften(true);
    ConstructionOutcome outcome = construction.Build([this]() { return HostWantsStop(); },
                                                     warm_started ? &warm_start : nullptr);
    if (interrupted) stop_reason = StopReason::kInterrupted;
    ReportMovedStops(outcome.moved);
    if (!outcome.built) {
        if (!interrupted) LogLine(LogStream::kError, "[construction] " + outcome.reason);
        construction_stuck = outcome.stuck;
        construction_stuck_reason = outcome.stuck_reason;
        return false;
    }
    if (AnyBends(outcome.weights)) {
        construction_stuck = outcome.stuck;
        construction_stuck_reason = outcome.stuck_reason;
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
    ReportLeftOut(rules, outcome.left_out);
    near_lists = std::move(outcome.near);
    result.method = "construction";
    RecordRoutes("construction");
    anytime_results.push_back(SearchSnapshot{last_update_time, result});
    return true;
}

std::string Solver::SoftStartLine(const RuleAmounts& weights) {
    if (!DaysBend(weights)) {
        return "[construction] no order keeps every capacity; the improvement stage starts "
               "from overloaded routes";
    }
    return "[construction] no order keeps every rule; the improvement stage starts from routes "
           "that break some, and repairs them";
}

bool Solver::EveryRouteKept(const RouteRules& rules, const RouteSet& set) {
    for (size_t r = 0; r < set.RouteCount(); ++r) {
        const std::vector<int32_t>& nodes = set.RouteOf(r).nodes;
        const std::vector<int64_t> path(nodes.begin(), nodes.end());
        if (!rules.EvaluatePath(path, static_cast<int64_t>(r)).feasible) return false;
    }
    return true;
}

void Solver::ExplainSoftFailure(size_t most_broken) {
    if (most_broken >= kSoftRuleCount) {
        LogLine(LogStream::kError, "[improvement] no plan found that keeps every rule");
        return;
    }
    const std::string rule = RuleName(most_broken);
    LogLine(LogStream::kError,
            "[improvement] no plan found that keeps every rule; broken most often: " + rule);
    construction_stuck_reason = "no plan found that keeps every rule, broken most often by " + rule;
}

void Solver::ReportLeftOut(const RouteRules& rules,
                           const std::vector<std::pair<int32_t, std::string>>& left_out) {
    result.unassigned.clear();
    for (const auto& [vertex, found] : left_out) {
        // A reason that holds whatever the other routes do says more than the one found.
        std::string reason = AloneReason(rules, vertex);
        if (reason.empty()) reason = found;
        const uint64_t id = points[static_cast<size_t>(vertex)].node_id;
        LogLine(LogStream::kError, "[construction] node " + std::to_string(id) + " left out: " + reason);
        result.unassigned.push_back(UnassignedStop{id, std::move(reason)});
    }
}

void Solver::ReportMovedStops(const std::vector<std::pair<size_t, int32_t>>& moved) const {
    if (moved.empty()) return;
    std::string line = "[warm start] " + std::to_string(moved.size()) +
                       " stops broke their initial route's rules and went in again where they fit:";
    for (const auto& [agent, vertex] : moved) {
        line += " node " + std::to_string(points[static_cast<size_t>(vertex)].node_id) +
                " (agent " + std::to_string(agents[agent].agent_id) + ")";
    }
    LogLine(LogStream::kError, line);
}

void Solver::RunImprovement() {
    ReleaseSearchMemory();
    const RouteRules rules = MakeRouteRules();

    std::vector<std::vector<int64_t>> paths(static_cast<size_t>(num_agents));
    if (!soft_start.empty()) {
        paths = std::move(soft_start);
    } else {
        for (int32_t k = 0; k < num_agents; ++k) paths[static_cast<size_t>(k)] = result.paths.at(k);
    }

    ImprovementSettings settings;
    settings.min_max = objective_type != ObjectiveType::MinSum;
    settings.seed = improve_seed;
    settings.max_iterations = max_iterations;
    settings.stop_when_stalled = stop_when_stalled;
    if (warm_started) settings.pinned = warm_start.pinned;
    settings.weights = soft_weights;
    // Without the stage asked for, routes that break rules are only repaired.
    settings.stop_when_feasible = !improve;
    size_t stage_snapshots = 0;
    bool unrecorded = false;
    // `time` below 0: the solver's clock now.
    const auto record = [&](const RouteSet& set, double time) {
        // The set keeps loads and task order itself; the whole-solution test is a second,
        // independent guard before routes count.
        if (tasks.Active() && !tasks.Check(rules, set.Paths()).feasible) return;
        if (set.Bends() && !EveryRouteKept(rules, set)) return;
        for (size_t r = 0; r < set.RouteCount(); ++r) {
            const std::vector<int32_t>& nodes = set.RouteOf(r).nodes;
            result.paths[static_cast<int64_t>(r)].assign(nodes.begin(), nodes.end());
            result.times[static_cast<int64_t>(r)] = set.SummedCost(r);
        }
        RecordRoutes("improvement", time);
        unrecorded = stage_snapshots >= kMaxStageSnapshots;
        if (unrecorded) return;
        anytime_results.push_back(SearchSnapshot{last_update_time, result});
        ++stage_snapshots;
    };
    ImprovementStage::Stop stop;
    size_t most_broken = kSoftRuleCount;
    const size_t workers = ParallelImprovement::ThreadsFor(threads);
    if (workers <= 1) {
        ImprovementHooks hooks;
        hooks.elapsed = [this]() { return timer.ElapsedSeconds(); };
        hooks.time_limit = time_limit;
        hooks.interrupted = [this]() { return HostWantsStop(); };
        hooks.improved = [&](const RouteSet& set) { record(set, -1.0); };
        ImprovementStage stage(rules, settings, &tasks);
        stage.UseNeighbours(std::move(near_lists));
        stop = stage.Run(paths, hooks);
        most_broken = stage.MostBroken();
    } else {
        ParallelHooks hooks;
        hooks.start_time = timer.ElapsedSeconds();
        hooks.time_limit = time_limit;
        hooks.interrupted = [this]() { return HostWantsStop(); };
        hooks.improved = record;
        ParallelImprovement stage(rules, settings, &tasks, workers);
        stage.UseNeighbours(near_lists);
        stop = stage.Run(paths, hooks);
        most_broken = stage.MostBroken();
    }
    if (AnyBends(soft_weights) && solution_found == 0 && !interrupted) {
        ExplainSoftFailure(most_broken);
    }
    if (stop != ImprovementStage::Stop::kNotRun) result.method += "+improvement";
    if (unrecorded) anytime_results.push_back(SearchSnapshot{last_update_time, result});
    result.timeout = stop == ImprovementStage::Stop::kBudget;
    if (stop == ImprovementStage::Stop::kBudget) stop_reason = StopReason::kTimeLimit;
    if (stop == ImprovementStage::Stop::kInterrupted) stop_reason = StopReason::kInterrupted;
    if (stop == ImprovementStage::Stop::kStalled || stop == ImprovementStage::Stop::kIterations) {
        stop_reason = StopReason::kCompleted;
    }
}

}  // namespace tamrik
