// Loads and task order: what the options enforce, and the goals of the search that keep them.
#include <utility>

#include "model/load_amounts.h"
#include "solver/solver.h"

namespace tamrik {

void Solver::MapTasks(const Problem& problem, const Options& options) {
    const size_t dims = options.enforce_capacity ? LoadDimensions(problem) : 1;
    tasks.Reset(points.size(), agents.size(), dims);
    std::vector<uint8_t> endpoint(points.size(), 0);
    for (const std::vector<int64_t>* ends : {&starts, &goals}) {
        for (int64_t v : *ends) endpoint[static_cast<size_t>(v)] = 1;
    }
    for (size_t v = 0; v < points.size(); ++v) {
        const Node& node = problem.nodes[v];
        if (!endpoint[v] && !node.required) tasks.SetOptional(static_cast<Vertex>(v), node.prize);
    }
    if (options.enforce_capacity) {
        // A route sets out with what it delivers: loads at starts and ends do not count.
        for (size_t v = 0; v < points.size(); ++v) {
            if (endpoint[v]) continue;
            const Node& node = problem.nodes[v];
            for (size_t d = 0; d < dims; ++d) {
                const double delivered = DeliveryIn(node, d);
                tasks.SetLoad(static_cast<Vertex>(v), d,
                              DemandIn(node, d) + PickupIn(node, d) - delivered, delivered);
            }
        }
        for (size_t a = 0; a < agents.size(); ++a) {
            const Agent& agent = problem.agents_ordered[a];
            for (size_t d = 0; d < dims; ++d) tasks.SetCapacity(a, d, CapacityIn(agent, d));
        }
    }
    if (!options.enforce_sequence) return;
    const SequenceConstraint& sequence = problem.sequence_constraint;
    const auto vertex = [this](uint64_t id) { return static_cast<Vertex>(vertex_of.at(id)); };
    for (const auto& [a, b] : sequence.same_pairs) tasks.AddSame(vertex(a), vertex(b));
    for (const auto& [a, b] : sequence.diff_pairs) tasks.AddDiff(vertex(a), vertex(b));
    for (const auto& [before, after] : sequence.precedence_pairs) {
        tasks.AddPrecedence(vertex(before), vertex(after));
    }
}

bool Solver::CheckTasksOfResult() {
    std::vector<std::vector<int64_t>> paths(static_cast<size_t>(num_agents));
    for (int32_t k = 0; k < num_agents; ++k) paths[static_cast<size_t>(k)] = result.paths[k];
    const SolutionCheck check = tasks.Check(Rules(), paths);
    if (!check.feasible) return false;
    for (int32_t k = 0; k < num_agents; ++k) result.times[k] = check.costs[static_cast<size_t>(k)];
    return true;
}

bool Solver::TakeCheckedGoal(const Label& goal) {
    auto kept_paths = result.paths;
    auto kept_times = result.times;
    ExtractPaths(goal.id);
    auto found_paths = result.paths;
    auto found_times = result.times;
    PostOptimize();
    if (!CheckTasksOfResult()) {
        result.paths = std::move(found_paths);
        result.times = std::move(found_times);
        if (!CheckTasksOfResult()) {
            result.paths = std::move(kept_paths);
            result.times = std::move(kept_times);
            return false;
        }
    }
    solution_found = 1;
    result.method = "search";
    last_update_time = timer.ElapsedSeconds();
    anytime_results.push_back(SearchSnapshot{last_update_time, result});
    CountGoal();
    return true;
}

}  // namespace tamrik
