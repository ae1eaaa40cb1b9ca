#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <random>
#include <vector>

#include "improve/best_insertion.h"
#include "improve/giant_tour.h"
#include "improve/improvement_stage.h"
#include "improve/local_search.h"
#include "improve/near_lists.h"
#include "route/route_rules.h"
#include "route/route_set.h"
#include "route/task_rules.h"

namespace tamrik {

struct PopulationSettings {
    // Each sub-population grows from min_size by `generation` plans, then is culled back.
    size_t min_size = 25;
    size_t generation = 40;
    // How many of the best plans the biased fitness protects from being culled for lack of
    // diversity, and how many nearest plans a plan's diversity is measured against.
    size_t elite = 4;
    size_t close = 5;
    // Granular neighbours of the local search, and whether a stop makes the best of its moves
    // rather than the first that improves (under min-sum).
    size_t neighbours = 20;
    bool best_improvement = false;
    // The share of children that should keep each rule that bends; its price follows.
    double feasible_share = 0.2;
    uint64_t children_per_price_update = 20;
    // Children in a row without a better plan before the population starts again.
    uint64_t idle_before_restart = 20000;
    // For a fleet of like agents under min-sum, the share of children crossed from giant
    // tours (GiantTourCrossover) rather than from routes. None by default: on the X set's tight
    // fleets at 60 seconds, both a half and an eighth ended worse than none
    // (benchmarks/results/population-first.md).
    double giant_tour_share = 0.0;
};

// Improves a solution with a population of plans (a hybrid genetic search): plans that keep
// every rule and plans that break some (each rule that may bend priced per unit of excess)
// live in two sub-populations, ranked by a biased fitness of their value and their distance
// from the others (the share of stops whose successor differs). Each child is crossed from
// two parents chosen by binary tournament: the routes of one parent around a random stop
// replace those agents' routes in the other, whose stops left over go in again at their best
// places (or, for a fleet of like agents under min-sum, the giant tours of the two are crossed
// and split, see PopulationSettings::giant_tour_share). The local search then educates it; a child that breaks a rule is, half the time,
// repaired at ten times the prices. Prices follow the share of children that keep each rule.
// Only plans that keep every rule become the best one.
class PopulationSearch {
public:
    using Stop = ImprovementStage::Stop;

    PopulationSearch(const RouteRules& rules, const ImprovementSettings& settings,
                     const TaskRules* tasks, const PopulationSettings& population = {});

    // Whether the search takes instances with these tasks and settings: without pairs,
    // precedence, optional stops or pinned stops, which the annealing stage handles.
    static bool Takes(const TaskRules* tasks, const ImprovementSettings& settings);
    // Neighbour lists built for the same instance (BuildNearLists), which Run then reuses.
    void UseNeighbours(NearLists lists) { near = std::move(lists); }

    // `paths` (one per agent) is replaced by the best plan found that keeps every rule, which
    // is never worse than the one given.
    Stop Run(std::vector<std::vector<int64_t>>& paths, const ImprovementHooks& hooks);
    uint64_t Children() const { return children; }
    // The best plan found that keeps every rule (the starting plan until one is), and the
    // order of plans.
    const RouteSet& BestSet() const { return found_feasible ? best : start; }
    bool Better(const RouteSet& a, const RouteSet& b) const {
        return PlanBetter(a, b, settings.min_max);
    }
    // The rule that the children broke most often (kSoftRuleCount: none broke any).
    size_t MostBroken() const { return MostOften(broken_children); }

private:
    struct Member {
        explicit Member(const RouteSet& plan) : set(plan) {}
        RouteSet set;
        // next[v]: the node after stop v on its route (-1 for a vertex that is no stop).
        std::vector<Vertex> next;
        double value = 0.0;
        double fitness = 0.0;
    };
    // One sub-population, with the distance between every two of its plans.
    struct Pool {
        std::vector<std::unique_ptr<Member>> members;
        std::vector<std::vector<double>> distance;
    };

    bool Begin(const std::vector<std::vector<int64_t>>& paths, const ImprovementHooks& hooks);
    std::optional<Stop> Checkpoint(const ImprovementHooks& hooks) const;
    // Fills both sub-populations from the starting plan, each plan perturbed and educated.
    void Seed(const ImprovementHooks& hooks);
    void Perturb(RouteSet& set);
    bool Crossover(const RouteSet& a, const RouteSet& b, RouteSet& child);
    void Educate(RouteSet& set, const ImprovementHooks& hooks);
    // Educates the child, keeps it, repairs it now and then, and takes it as the best plan
    // when it is.
    void Breed(RouteSet& child, const ImprovementHooks& hooks);
    void Keep(const RouteSet& set, const ImprovementHooks& hooks);
    void Cull(Pool& pool);
    static void Remove(Pool& pool, size_t index);
    void Rank(Pool& pool);
    const RouteSet& Tournament();
    double Value(const RouteSet& set) const;
    double Distance(const Member& a, const Member& b) const;
    void NoteRules(const RouteSet& set);
    void AdaptPrices();
    void UsePrices(const RuleAmounts& prices);
    void Restart(const ImprovementHooks& hooks);

    const RouteRules& rules;
    ImprovementSettings settings;
    PopulationSettings population;
    const TaskRules* tasks;
    std::mt19937_64 rng;
    NearLists near;
    std::optional<LocalSearch> search;
    BestInsertion insertion;
    RouteSet start;
    RouteSet child;
    RouteSet repaired;
    RouteSet best;
    bool found_feasible = false;
    Pool feasible;
    Pool infeasible;
    RuleAmounts prices{};
    RuleAmounts first_prices{};
    std::vector<Vertex> left_over;
    std::vector<uint8_t> chosen_routes;
    // Whether children may come from giant tours (see PopulationSettings::giant_tour_share).
    bool giant_tours = false;
    GiantTourCrossover tours;
    std::uniform_real_distribution<double> share{0.0, 1.0};
    // Rank's working lists, kept from child to child.
    struct RankScratch {
        std::vector<size_t> order;
        std::vector<double> cost_rank;
        std::vector<double> diversity;
        std::vector<double> others;
    } rank_scratch;
    uint64_t children = 0;
    uint64_t last_better = 0;
    uint64_t idle_restarts = 0;
    // Children since the prices were last set, and how many of them kept each rule.
    uint64_t noted = 0;
    RuleAmounts kept{};
    // Children that broke each rule, over the whole run.
    std::array<uint64_t, kSoftRuleCount> broken_children{};
};

}  // namespace tamrik
