#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <vector>

#include "improve/near_lists.h"
#include "route/route_set.h"
#include "improve/ruin_recreate.h"
#include "route/route_rules.h"
#include "route/task_rules.h"

namespace tamrik {

struct ImprovementSettings {
    // Min-max: the longest route first, the total as the tie-break; otherwise the total.
    bool min_max = true;
    uint64_t seed = 0;
    // Stop after this many iterations; 0 for no cap.
    uint64_t max_iterations = 0;
    // Stop once cooling cycles stop finding better solutions.
    bool stop_when_stalled = true;
    // Per route, how many of its first stops stay in place (none when shorter).
    std::vector<size_t> pinned;
    // Per rule that bends, above 0: the stage starts with the rule soft at this price per unit
    // of excess (see RouteSet::SetWeights), from routes that may break it; each price then
    // adapts so that about kFeasibleShare of the moves' results keep that rule, and near the
    // end of the budget, while no solution keeps every rule, the stage goes on from the least
    // broken one at ten and then a hundred times the price. Only solutions that keep every
    // rule become the best one.
    RuleAmounts weights{};
    // Stop once a solution that keeps every rule is found (a repair only).
    bool stop_when_feasible = false;
    // Granular neighbours of the population's local search (0: its own setting).
    uint64_t neighbours = 0;
};

// The stages' order of plans: true when a is better than b by more than rounding. A plan that
// keeps every rule comes before one that breaks some; under min-max the prizes lost come
// first, then the longest route, then the total; under min-sum the total with the prizes lost.
bool PlanBetter(const RouteSet& a, const RouteSet& b, bool min_max);

// The value the stages search on, prizes aside: under min-sum the total; under min-max the
// longest route with a little of the mean route, to lead the search across plateaus of equal
// longest route.
double SearchValue(double largest, double total, size_t routes, bool min_max);

// What the stage asks its caller while it runs.
struct ImprovementHooks {
    // Processor seconds on the caller's clock, and the value of it at which to stop.
    std::function<double()> elapsed;
    double deadline = 0.0;
    // True when the host wants the solve to stop now.
    std::function<bool()> interrupted;
    // Called with each new best solution.
    std::function<void(const RouteSet&)> improved;
};

// The rule counted most often (kSoftRuleCount when none is counted).
inline size_t MostOften(const std::array<uint64_t, kSoftRuleCount>& counts) {
    size_t most = kSoftRuleCount;
    for (size_t rule = 0; rule < kSoftRuleCount; ++rule) {
        if (counts[rule] > 0 && (most == kSoftRuleCount || counts[rule] > counts[most])) most = rule;
    }
    return most;
}

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

    // The same run in rounds, for several threads: Begin takes the solution (false: the
    // stage does not run). Each round, Checkpoint says why the stage stops, if it does, and
    // ends and starts cooling cycles; RoundSize caps the round's iterations by the iteration
    // cap; Propose makes one move from the current solution into a proposal (it changes
    // nothing of the stage, so threads may propose at once, while nothing else runs on it);
    // Commit then takes the proposals as one iteration each, best first, under the annealing
    // rule. An accepted proposal is applied when it changes no route that one applied before
    // it in the round changed (with pairs in force, only the first accepted one is).
    struct Proposal {
        Proposal(const RouteSet& from, uint64_t seed) : set(from), rng(seed) {}
        RouteSet set;
        std::mt19937_64 rng;
        bool feasible = false;
        // The uniform draw of the annealing rule.
        double draw = 0.0;
        // Per route: whether the move changed it.
        std::vector<uint8_t> changed;
        // Per route: whether `set` may differ from the current solution there, valid while
        // the current solution has not been replaced whole since (`restart` counts that).
        std::vector<uint8_t> stale;
        uint64_t restart = 0;
    };
    bool Begin(const std::vector<std::vector<int64_t>>& paths, const ImprovementHooks& hooks);
    std::optional<Stop> Checkpoint(const ImprovementHooks& hooks);
    size_t RoundSize(size_t wanted) const;
    // A proposal with its own generator, and a copy of this stage's move for another thread
    // (both once Begin has run).
    Proposal NewProposal(uint64_t seed) const { return Proposal(current, seed); }
    const RuinRecreate& Move() const { return move; }
    void Propose(RuinRecreate& mover, Proposal& proposal) const;
    void Commit(std::vector<Proposal>& proposals, size_t count, const ImprovementHooks& hooks);
    const RouteSet& BestSet() const { return best; }
    // The objective's order: true when a is better than b by more than rounding (a solution
    // without overload before one with).
    bool Better(const RouteSet& a, const RouteSet& b) const;
    // Whether the best solution keeps every rule (from a start that breaks some, not until
    // the stage has found one that does).
    bool FoundFeasible() const { return found_feasible; }
    // The rule that the moves' results broke most often (kSoftRuleCount: none broke any).
    size_t MostBroken() const { return MostOften(broken_moves); }
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

    double Temperature() const;
    // Sets the length of the cycle starting now to fit the rest of the budget.
    void FitCycle(double now, double deadline);
    // One ruin and recreate, its acceptance and the best solution's update.
    void Iterate(const ImprovementHooks& hooks);
    // The annealing value: the objective with, for min-max, a little of the total to lead
    // the search across plateaus of equal longest route.
    double Score(const RouteSet& set) const;
    double ScoreOf(double largest, double total, size_t routes) const;
    // Under min-max, the weight of the prizes lost in the annealing value.
    double LostFirstWeight(const RouteSet& set) const;
    // Score of the current solution with the proposal's changed routes in place.
    double MergedScore(const Proposal& proposal) const;
    // Whether the proposal changed a route that this round's commits already changed.
    bool Clashes(const Proposal& proposal) const;
    void BuildNeighbours();
    // Counts a move's result towards the share of those that keep each rule that bends, and
    // adapts each rule's price every kMovesPerPriceUpdate of them.
    void NoteViolations(const RouteSet& result);
    void UseWeights(const RuleAmounts& weights);
    // Takes `current` as the best solution when it keeps every rule and is better; while none
    // does, keeps the least broken one in `lowest`.
    bool TakeBest();
    // Whether the set keeps every rule, checked route by route without its own bookkeeping.
    bool KeepsEveryRule(const RouteSet& set) const;
    // Near the end of the budget, while no solution keeps every rule: goes on from the least
    // broken one with the prices raised.
    void RepairNearEnd(double now, double deadline);
    static double Uniform(std::mt19937_64& generator) {
        return static_cast<double>(generator() >> 11) * 0x1.0p-53;
    }

    const RouteRules& rules;
    ImprovementSettings settings;
    std::mt19937_64 rng;
    RouteSet current;
    RouteSet work;
    RouteSet best;
    RouteSet lowest;
    double lowest_score = 0.0;
    bool found_feasible = true;
    // How far the repair has gone: 0 (prices adapt), then 1 and 2 (raised, fixed).
    int repair_level = 0;
    // Large instances keep short neighbour lists and insert next to neighbours only.
    bool granular = false;
    RuinRecreate move;
    // Movable nodes by increasing distance from each vertex.
    NearLists neighbours;
    // Each vertex's distance from the nearest route start.
    std::vector<double> depot_distance;
    uint64_t iterations = 0;
    // Whether the first cycle has been fitted to the budget.
    bool timed = false;
    // How often the current solution has been replaced whole (by the best one).
    uint64_t restarts = 0;
    Cycle cycle;
    // Routes that proposals committed in this round changed; the round's proposals in the
    // order they are taken, and the score of each on its own.
    std::vector<uint8_t> claimed;
    std::vector<size_t> order;
    std::vector<double> alone;
    double start_time = 0.0;
    // The annealing value of `current`, and the scale of the temperatures.
    double score = 0.0;
    double scale = 0.0;
    double lost_weight = 1.0;
    // Results of moves counted since the prices were last set, how many of them kept each
    // rule, and how many broke each in the whole run.
    uint64_t priced_moves = 0;
    std::array<uint64_t, kSoftRuleCount> kept_moves{};
    std::array<uint64_t, kSoftRuleCount> broken_moves{};
};

}  // namespace tamrik
