// The main search loop: phases of focal search, goal handling and the move rules.
#include <cmath>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <typeinfo>

#include "base/log_sink.h"
#include "plugins/objectives.h"
#include "plugins/search_guidance.h"
#include "solver/solver.h"

namespace tamrik {
namespace {

// Polling the host for interrupts every few moves keeps its cost far below the search's.
constexpr uint32_t kMovesPerInterruptPoll = 16;

bool AllVerticesVisited(const Label& label, size_t vertex_count) {
    for (size_t v = 0; v < vertex_count; ++v) {
        if (!TestBit(label.visited, static_cast<int64_t>(v))) return false;
    }
    return true;
}

}  // namespace

void Solver::CheckVertexCount(size_t count) {
    if (count <= static_cast<size_t>(kMaxVertices)) return;
    throw std::length_error("the instance has " + std::to_string(count) +
                            " nodes, but the solver handles at most " +
                            std::to_string(kMaxVertices));
}

int32_t Solver::Solve() {
    anytime_results.clear();
    route_rules.reset();
    timer.Start();
    budget_watch.Reset();
    memory_watch.Reset();
    stop_reason = StopReason::kCompleted;
    stages.Reset();
    // Stops that fit nowhere are left out when that is allowed; other rules no solution meets
    // fail the construction.
    if (known_infeasible && !allow_unassigned) {
        stop_reason = StopReason::kInfeasible;
        return Finish();
    }
    if (beyond_search) {
        if (RunConstruction()) RunImprovement();
        return Finish();
    }
    // Only the default classes themselves: a subclass may estimate or score differently.
    default_heuristic = dynamic_cast<const DefaultHeuristic*>(heuristic.get());
    if (default_heuristic != nullptr && typeid(*default_heuristic) != typeid(DefaultHeuristic)) {
        default_heuristic = nullptr;
    }
    estimate_bound = BoundOfEstimates();
    arc_table = graph->CostTable();
    ResetFrontiers();
    size_t vertex_count = graph->NumVertex();
    CheckVertexCount(vertex_count);

    Label root = MakeRootLabel(vertex_count);
    focal_bound = weight_schedule[0] * root.f;
    open_list.insert({root.f, root.id});
    double cost_sum = SumCost(root);
    if (cost_sum != 0.0) throw std::logic_error("Initial length is not 0 !");
    focal_list.insert(FocalEntry{root.id, CountVisited(root), num_agents, root.f, cost_sum});
    if (max_phases < 1) {
        result.stop_reason = StopReason::kPhaseLimit;
        return 0;
    }

    for (size_t phase = 0; !result.timeout && !interrupted;) {
        if (RunPhase(phase, vertex_count) == PhaseEnd::kStop || open_list.empty()) break;
        double fmin = open_list.Front().first;
        double ratio = incumbent_cost / fmin;
        double step = (ratio - 1.0) / 5.0;
        if (step < 0.001) {
            weight_schedule.push_back(1.0);
            LogLine(LogStream::kOut, "w = 1");
        } else {
            weight_schedule.push_back(ratio - step);
            summary.suboptimality_bound = ratio;
        }
        if (++phase >= static_cast<size_t>(max_phases)) {
            stop_reason = StopReason::kPhaseLimit;
            break;
        }
    }
    // A search stopped by the memory ceiling leaves the rest of the budget to the
    // improvement stage; without it, it ends as when the budget runs out.
    // Without a solution of its own, the search leaves the rest to the construction, which
    // also starts solves whose search found nothing that keeps the loads and task order.
    if (!interrupted && !result.timeout) {
        if (solution_found == 0 && (improve || tasks.Active() || allow_unassigned)) {
            RunConstruction();
        }
        if ((improve && solution_found != 0) || stages.SoftStartPending()) RunImprovement();
    }
    return Finish();
}

int32_t Solver::Finish() {
    if (stop_reason == StopReason::kMemoryLimit) result.timeout = true;
    result.stop_reason = stop_reason;
    if (solution_found == 0) {
        if (!interrupted) ExplainFailure();
        return 0;
    }
    if (!instance_name.empty()) WritePathDump();
    return 1;
}

Label Solver::MakeRootLabel(size_t vertex_count) {
    Label root;
    root.positions = starts;
    root.costs.assign(num_agents, 0.0);
    root.finished.assign(num_agents, 0);
    for (size_t v = vertex_count; v < static_cast<size_t>(kMaxVertices); ++v) {
        SetBit(root.visited, static_cast<int64_t>(v));
    }
    root.visited_size = static_cast<int32_t>(vertex_count);
    for (int64_t v : unreachable_points) SetBit(root.visited, v);
    // An agent may never step back onto its own start unless it ends there, so a start that
    // differs from its agent's end counts as served from the outset.
    // Without a return obligation a route may also end back at its start, so its own end
    // need not be reached either.
    for (int32_t a = 0; a < num_agents; ++a) {
        if (starts[a] != goals[a]) SetBit(root.visited, starts[a]);
        if (!return_to_end && starts[a] != goals[a]) SetBit(root.visited, goals[a]);
    }
    root.id = AllocateLabel();
    root.g = objective->Evaluate(root.costs);
    root.h = heuristic->ComputeHeuristic(root);
    root.f = objective->EvaluateWithHeuristic(root, num_agents, root.h);
    root.remaining_agents = num_agents;
    root.last_agent = 0;
    label_pool.Store(root.id, root);
    parent[root.id] = -1;
    ++result.n_generated;
    return root;
}

Solver::PhaseEnd Solver::RunPhase(size_t phase, size_t vertex_count) {
    while (!focal_list.empty() || RefillFocal(phase)) {
        if (PollInterrupt()) return PhaseEnd::kStop;
        if (budget_watch.Passed(budget, timer)) {
            result.timeout = true;
            stop_reason = StopReason::kTimeLimit;
            return PhaseEnd::kStop;
        }
        if (memory_watch.Exceeded(memory_limit, result.n_generated)) {
            stop_reason = StopReason::kMemoryLimit;
            return PhaseEnd::kStop;
        }
        if ((improve || tasks.Active() || allow_unassigned) && SearchHandsOver()) {
            return PhaseEnd::kStop;
        }
        // The draw decides between the focal head and an open-list pick whose probability is
        // zero; it is kept so the C library's random sequence advances once per pop.
        (void)std::rand();
        // A copy: the pool may grow and move while this label is expanded. Assigning into a
        // reused label keeps its storage from one pop to the next.
        label_pool.Load(focal_list.begin()->id, popped);
        const Label& label = popped;
        focal_list.erase(focal_list.begin());
        open_list.erase({label.f, label.id});
        if (IsDominated(label) || (incumbent_cost != -1.0 && incumbent_cost <= label.f)) continue;
        Rethreshold(phase);
        AddToFrontier(label);
        if (IsGoal(label)) {
            // A goal that breaks the loads or the task order is a dead end.
            if (HandleGoal(label)) return PhaseEnd::kContinue;
            continue;
        }
        ++result.n_expanded;
        int64_t agent = expansion->SelectAgent(label);
        if (agent == -1) {
            LogLine(LogStream::kError, "can't find next expanded agent");
            return PhaseEnd::kContinue;
        }
        // Successors are built and checked in vertex order, then finished in the same order.
        size_t successors = 0;
        for (size_t v = 0; v < points.size(); ++v) {
            if (PollInterrupt()) {
                FinishMoves(label, successors);
                return PhaseEnd::kStop;
            }
            if (successors == batch.size()) batch.emplace_back();
            successors += PrepareMove(label, agent, static_cast<int64_t>(v), vertex_count,
                                      batch[successors]);
        }
        FinishMoves(label, successors);
        Rethreshold(phase);
    }
    return PhaseEnd::kContinue;
}

bool Solver::PollInterrupt() {
    if (!interrupt_check || ++steps_since_poll < kMovesPerInterruptPoll) return false;
    steps_since_poll = 0;
    interrupted = interrupt_check();
    if (interrupted) stop_reason = StopReason::kInterrupted;
    return interrupted;
}

// The focal list can run empty while the open list still holds labels: those above an old
// bound that no re-threshold admitted, and those the focal list refused as equivalent to an
// entry it held. Giving up then would end a search that still has work as failed (or stop it
// improving), so the focal list is filled anew from every open label within the bound.
bool Solver::RefillFocal(size_t phase) {
    if (open_list.empty()) return false;
    focal_bound = weight_schedule[phase] * open_list.Front().first;
    open_list.AdmitUpTo(focal_bound);
    for (auto it = open_list.begin(); it != open_list.end() && it->first <= focal_bound; ++it) {
        label_pool.Load(it->second, scratch);
        focal_list.insert(FocalEntry{it->second, CountVisited(scratch), scratch.remaining_agents,
                                     it->first, SumCost(scratch)});
    }
    return !focal_list.empty();
}

void Solver::Rethreshold(size_t phase) {
    if (open_list.empty()) return;
    double bound = weight_schedule[phase] * open_list.Front().first;
    if (focal_bound != bound) UpdateFocal(focal_bound, bound);
}

bool Solver::HandleGoal(const Label& goal) {
    if (tasks.Active()) return TakeCheckedGoal(goal);
    solution_found = 1;
    result.method = "search";
    ExtractPaths(goal.id);
    last_update_time = timer.ElapsedSeconds();
    anytime_results.push_back(SearchSnapshot{last_update_time, result});
    PostOptimize();
    last_update_time = timer.ElapsedSeconds();
    anytime_results.push_back(SearchSnapshot{last_update_time, result});
    CountGoal();
    return true;
}

void Solver::CountGoal() {
    max_route_cost = LargestRouteCost(result);
    UpdateStatistics();
    PruneByIncumbent(ObjectiveValue(result));
    generated_at_goal = result.n_generated;
    ReportProgress("search");
}

void Solver::ReportProgress(const char* source) {
    const double value = ObjectiveValue(result);
    if (!progress_callback || !(value < reported_value)) return;
    reported_value = value;
    ProgressReport report{last_update_time, LargestRouteCost(result), TotalRouteCost(result),
                          source};
    report.routes.resize(static_cast<size_t>(num_agents));
    for (const auto& [agent, path] : result.paths) {
        report.routes.at(static_cast<size_t>(agent)) = NodeIdsOf(path);
    }
    if (progress_callback(report)) return;
    interrupted = true;
    stop_reason = StopReason::kInterrupted;
}

void Solver::RunPostOptimizer(Result& routes) {
    if (post_optimizer.get() != installed_post_optimizer) {
        post_optimizer->Optimize(graph, points, agents, routes);
        return;
    }
    // The rules are lent for this call alone: the solve may rebuild them afterwards.
    struct Lend {
        const std::vector<RouteOptimizerBase*>& optimizers;
        Lend(const std::vector<RouteOptimizerBase*>& to, const RouteRules& rules)
            : optimizers(to) {
            for (RouteOptimizerBase* optimizer : optimizers) optimizer->ReadRules(&rules);
        }
        ~Lend() {
            for (RouteOptimizerBase* optimizer : optimizers) optimizer->ReadRules(nullptr);
        }
    } lend(route_optimizers, Rules());
    post_optimizer->Optimize(graph, points, agents, routes);
}

void Solver::PostOptimize() {
    if (objective_type != ObjectiveType::MinSum) {
        RunPostOptimizer(result);
        return;
    }
    // The post-optimizers balance routes, which can raise the total: under min-sum their
    // routes are kept only when the total is no worse.
    Result found = result;
    RunPostOptimizer(result);
    if (TotalRouteCost(result) > TotalRouteCost(found)) result = std::move(found);
}

double Solver::ObjectiveValue(const Result& routes) const {
    return objective_type == ObjectiveType::MinSum
               ? TotalRouteCost(routes) + routes.fixed_cost + routes.lost_prize
               : LargestRouteCost(routes);
}

bool Solver::PrepareMove(const Label& from, int64_t a, int64_t v, size_t vertex_count,
                         Label& s) {
    bool is_start = v == starts[a];
    bool is_goal = v == goals[a];
    if (TestBit(from.visited, v) && !is_start && !is_goal) return false;
    if (constraint_checker->IsForbidden(a, v)) return false;
    if (!return_to_end) {
        // An agent may always end at its own end, or back at its own start, even where that
        // vertex is another agent's start or end; it may pass through neither.
        if (!is_start && !is_goal && (start_set.count(v) || goal_set.count(v))) return false;
    } else {
        if (is_start && !is_goal) return false;
        if (!is_goal && goal_set.count(v)) return false;
    }

    s = from;
    SetBit(s.visited, v);
    s.last_agent = a;
    bool finishing = is_goal || (is_start && !return_to_end);
    if (finishing) {
        if (!s.finished[a]) {
            s.finished[a] = 1;
            --s.remaining_agents;
        }
        if (s.remaining_agents == 0 && vertex_count >= 1) {
            if (!AllVerticesVisited(s, vertex_count)) return false;
        } else if (constraint_checker->IsDeadEnd(s)) {
            return false;
        }
    }
    if (v != s.positions[a]) {
        double c = ArcCostEntryFrom(*graph, arc_table, s.positions[a], v, agents[a].type_index)
                       .value_or(0.0);
        const OwnEnds own{true, true, starts[a], goals[a]};
        if (!own.FreeLegInto(v, return_to_end)) {
            s.costs[a] += c;
        } else {
            s.costs[a] += cost_model.Service(static_cast<size_t>(s.positions[a]));
        }
    }
    TransitionCheck check = constraint_checker->CheckTransition(s, a, v);
    if (!check.feasible) return false;
    if (check.updated) s.costs[a] = check.new_cost;
    if (!constraint_checker->IsWithinLimit(s, a)) return false;
    s.positions[a] = v;
    return !CannotBeatIncumbent(s) && !IsDominated(s);
}

bool Solver::CannotBeatIncumbent(const Label& s) const {
    if (incumbent_cost == -1.0) return false;
    if (s.remaining_agents < 1) return incumbent_cost <= objective->Evaluate(s.costs);
    switch (estimate_bound) {
        case EstimateBound::kNone:
            return false;
        case EstimateBound::kLongestRoute: {
            // f is the longest route or an average no smaller, unless the average is NaN,
            // which a finite estimate cannot make it.
            if (!(incumbent_cost <= objective->Evaluate(s.costs))) return false;
            double unfinished_sum = 0.0;
            for (size_t i = 0; i < s.costs.size(); ++i) {
                if (s.finished[i] == 0) unfinished_sum += s.costs[i];
            }
            return !std::isnan(unfinished_sum);
        }
        case EstimateBound::kCostSum:
            // f is the cost sum plus an estimate that is never negative.
            return incumbent_cost <= objective->Evaluate(s.costs);
    }
    return false;
}

Solver::EstimateBound Solver::BoundOfEstimates() const {
    if (default_heuristic == nullptr) return EstimateBound::kNone;
    const ObjectivePlugin& scoring = *objective;
    if (typeid(scoring) == typeid(DefaultObjective) && default_heuristic->FiniteEstimates()) {
        return EstimateBound::kLongestRoute;
    }
    if (typeid(scoring) == typeid(MinSumObjective) && default_heuristic->NonNegativeEstimates()) {
        return EstimateBound::kCostSum;
    }
    return EstimateBound::kNone;
}

void Solver::FinishMoves(const Label& from, size_t count) {
    // The estimates are pure, so they may be computed ahead, two at a time when the heuristic
    // can; everything else happens successor by successor, in order.
    size_t waiting = count;  // index of a successor still waiting for a partner, or count
    for (size_t k = 0; k < count; ++k) {
        Label& s = batch[k];
        if (s.remaining_agents < 1) {
            s.h = 0.0;
        } else if (default_heuristic == nullptr) {
            s.h = heuristic->ComputeHeuristic(s);
        } else if (waiting == count) {
            waiting = k;
        } else {
            default_heuristic->ComputeHeuristicPair(batch[waiting], s, batch[waiting].h, s.h);
            waiting = count;
        }
    }
    if (waiting != count) batch[waiting].h = heuristic->ComputeHeuristic(batch[waiting]);
    for (size_t k = 0; k < count; ++k) FinishMove(from, batch[k]);
}

void Solver::FinishMove(const Label& from, Label& s) {
    s.g = objective->Evaluate(s.costs);
    if (s.remaining_agents < 1) {
        s.f = s.g;
    } else {
        s.f = objective->EvaluateWithHeuristic(s, s.remaining_agents, s.h);
    }
    if (incumbent_cost != -1.0 && incumbent_cost <= s.f) return;

    int64_t id = AllocateLabel();
    s.id = id;
    label_pool.Store(id, s);
    parent[id] = from.id;
    ++result.n_generated;
    if (s.f > focal_bound) {
        // Out of the focal list until the bound rises to it, which UpdateFocal admits.
        open_list.InsertPending({s.f, id});
        return;
    }
    open_list.insert({s.f, id});
    if (s.f <= focal_bound) {  // false only for a NaN f
        focal_list.insert(FocalEntry{id, CountVisited(s), s.remaining_agents, s.f, SumCost(s)});
    }
}

}  // namespace tamrik
