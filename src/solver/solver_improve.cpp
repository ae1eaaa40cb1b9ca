// The hand-over from the search to the improvement stage, and the stage's run.
#include <algorithm>

#include "base/log_sink.h"
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
    return timer.ElapsedSeconds() > std::min(kSearchShare * budget, kLongestSearch);
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

const RouteRules& Solver::Rules() const {
    if (route_rules) return *route_rules;
    route_rules = std::make_unique<RouteRules>();
    RouteRules& rules = *route_rules;
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
        const auto vertex = static_cast<Vertex>(v);
        if (!served[v] && tasks.IsOptional(vertex)) lost += tasks.Prize(vertex);
    }
    return lost;
}

StageHooks Solver::HooksForStages() {
    StageHooks hooks;
    hooks.elapsed = [this]() { return timer.ElapsedSeconds(); };
    hooks.deadline = budget;
    hooks.interrupted = [this]() { return HostWantsStop(); };
    hooks.was_interrupted = [this]() { return interrupted; };
    hooks.record = [this](const char* source, double time) { RecordRoutes(source, time); };
    hooks.snapshot = [this]() { anytime_results.push_back(SearchSnapshot{last_update_time, result}); };
    return hooks;
}

bool Solver::RunConstruction() {
    ReleaseSearchMemory();
    const bool built = stages.Construct(Rules(), tasks, result, HooksForStages());
    if (interrupted) stop_reason = StopReason::kInterrupted;
    return built;
}

void Solver::RunImprovement() {
    ReleaseSearchMemory();
    const ImprovementStage::Stop stop = stages.Improve(Rules(), tasks, result, HooksForStages());
    if (stop == ImprovementStage::Stop::kBudget) stop_reason = StopReason::kTimeLimit;
    if (stop == ImprovementStage::Stop::kInterrupted) stop_reason = StopReason::kInterrupted;
    if (stop == ImprovementStage::Stop::kStalled || stop == ImprovementStage::Stop::kIterations) {
        stop_reason = StopReason::kCompleted;
    }
}

}  // namespace tamrik
