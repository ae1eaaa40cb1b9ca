#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <vector>

#include "improve/best_insertion.h"
#include "improve/near_lists.h"
#include "improve/route_set.h"
#include "improve/task_order.h"
#include "records/route_rules.h"
#include "records/task_rules.h"

namespace tamrik {

struct ImprovementSettings {
    // Min-max: the longest route first, the total as the tie-break; otherwise the total.
    bool min_max = true;
    uint64_t seed = 0;
    // Stop after this many iterations; 0 for no cap.
    uint64_t max_iterations = 0;
    // Stop once cooling cycles stop finding better solutions.
    bool stop_when_stalled = true;
};

// What the stage asks its caller while it runs.
struct ImprovementHooks {
    // Processor seconds on the caller's clock, and the value of it at which to stop.
    std::function<double()> elapsed;
    double time_limit = 0.0;
    // True when the host wants the solve to stop now.
    std::function<bool()> interrupted;
    // Called with each new best solution.
    std::function<void(const RouteSet&)> improved;
};

// Improves a feasible solution by ruin and recreate under simulated annealing: each
// iteration removes a few strings of adjacent nodes near a random seed node, reinserts
// them one by one at their best feasible position (for min-max, the one that keeps the
// longest route shortest), and accepts the result by the annealing rule. Only the best
// solution is returned; its memory does not grow with the run.
class ImprovementStage {
public:
    enum class Stop { kNotRun, kStalled, kIterations, kBudget, kInterrupted };

    // With `tasks` (may be null), every solution also keeps loads and task order.
    ImprovementStage(const RouteRules& rules, const ImprovementSettings& settings,
                     const TaskRules* tasks = nullptr);

    // `paths` (one per agent, a feasible solution) is replaced by the best solution found,
    // which is never worse than the one given.
    Stop Run(std::vector<std::vector<int64_t>>& paths, const ImprovementHooks& hooks);

    // The same run in steps, for stages that exchange solutions: Begin takes the solution
    // (false: the stage does not run), Advance iterates until the iteration count reaches
    // `until` (no reason returned) or the stage stops (its reason), and Adopt makes a better
    // solution of another stage over the same instance this one's best and current one.
    bool Begin(const std::vector<std::vector<int64_t>>& paths, const ImprovementHooks& hooks);
    std::optional<Stop> Advance(const ImprovementHooks& hooks, uint64_t until);
    void Adopt(const RouteSet& other);
    const RouteSet& BestSet() const { return best; }
    uint64_t Iterations() const { return iterations; }
    // The objective's order: true when a is better than b by more than rounding.
    bool Better(const RouteSet& a, const RouteSet& b) const;
    // Neighbour lists built for the same instance (BuildNearLists), which Run then reuses.
    void UseNeighbours(NearLists lists) { neighbours = std::move(lists); }

private:
    // One cooling cycle: its length and first iteration, how many cycles in a row found no
    // better best solution before it, and whether it has.
    struct Cycle {
        uint64_t length = 0;
        uint64_t start = 0;
        uint64_t idle = 0;
        bool improved = false;
        // Cycles ended so far.
        uint64_t ended = 0;
    };

    // Why the stage stops before the next iteration, if it does; ends and starts cycles.
    std::optional<Stop> Checkpoint(const ImprovementHooks& hooks);
    double Temperature() const;
    // Sets the length of the cycle starting now to fit the rest of the budget.
    void FitCycle(double now, double time_limit);
    // One ruin and recreate, its acceptance and the best solution's update.
    void Iterate(const ImprovementHooks& hooks);
    // The annealing value: the objective with, for min-max, a little of the total to lead
    // the search across plateaus of equal longest route.
    double Score(const RouteSet& set) const;
    void BuildNeighbours();
    // Removes strings of nodes from `work`; false when a shortened route breaks its rules.
    bool Ruin();
    // Removes every node of one route: none when no route can be emptied, else whether what
    // is left of it keeps its rules.
    std::optional<bool> EmptyOneRoute();
    // Also removes the partners (same route, precedence) of every removed node, so that
    // pairs move together; whether the routes left keep their rules.
    bool RemovePartners();
    // Puts every removed node back; false when one has no feasible position.
    bool Recreate();
    void OrderRemoved();
    uint64_t Draw(uint64_t bound) { return bound == 0 ? 0 : rng() % bound; }
    double Uniform() { return static_cast<double>(rng() >> 11) * 0x1.0p-53; }

    const RouteRules& rules;
    ImprovementSettings settings;
    std::mt19937_64 rng;
    RouteSet current;
    RouteSet work;
    RouteSet best;
    // Large instances keep short neighbour lists and insert next to neighbours only.
    bool granular = false;
    BestInsertion insertion;
    TaskOrder task_order;
    // Movable nodes by increasing distance from each vertex.
    NearLists neighbours;
    // Each vertex's distance from the nearest route start.
    std::vector<double> depot_distance;
    std::vector<int32_t> removed;
    // The route each removed node came from (while the ruin lasts).
    std::vector<int32_t> removed_from;
    std::vector<uint8_t> ruined;
    // Removed nodes not yet back (used when pairs must go in together).
    std::vector<uint8_t> pending;
    // Routes that the current iteration changed, and per route the nodes next to its changes.
    std::vector<uint8_t> touched;
    std::vector<std::vector<int32_t>> dirty;
    int32_t seed_node = 0;
    uint64_t iterations = 0;
    Cycle cycle;
    double start_time = 0.0;
    // The annealing value of `current`, and the scale of the temperatures.
    double score = 0.0;
    double scale = 0.0;
};

}  // namespace tamrik
