#include "improve/population_search.h"

#include <algorithm>
#include <numeric>

#include "improve/construction.h"
#include "route/route_moves.h"

namespace tamrik {
namespace {

// Plans closer than this are clones.
constexpr double kClone = 1e-9;
// Prices rise or fall by these factors when the share of children that keep a rule is off
// its target by more than the margin, within these multiples of the first price.
constexpr double kPriceRaise = 1.2;
constexpr double kPriceCut = 0.85;
constexpr double kShareMargin = 0.05;
constexpr double kLowestPriceRatio = 1e-3;
constexpr double kHighestPriceRatio = 1e2;
constexpr double kRepairRaise = 10.0;
// The search ends, when it may end once stalled, after this many restarts in a row without
// a better plan.
constexpr uint64_t kIdleRestarts = 2;
// The first population has this many plans per place in a sub-population.
constexpr size_t kSeedsPerPlace = 4;

PopulationSettings WithNeighbours(PopulationSettings population, uint64_t neighbours) {
    if (neighbours > 0) population.neighbours = static_cast<size_t>(neighbours);
    return population;
}

}  // namespace

PopulationSearch::PopulationSearch(const RouteRules& rules_in, const ImprovementSettings& s,
                                   const TaskRules* tasks_in, const PopulationSettings& p)
    : rules(rules_in),
      settings(s),
      population(WithNeighbours(p, s.neighbours)),
      tasks(tasks_in),
      rng(s.seed),
      insertion(s.min_max),
      start(rules_in, tasks_in),
      child(rules_in, tasks_in),
      repaired(rules_in, tasks_in),
      best(rules_in, tasks_in) {}

bool PopulationSearch::Takes(const TaskRules* tasks, const ImprovementSettings& settings) {
    const bool pinned = std::any_of(settings.pinned.begin(), settings.pinned.end(),
                                    [](size_t count) { return count > 0; });
    return !pinned && (tasks == nullptr || (!tasks->HasPairs() && !tasks->HasOptional()));
}

PopulationSearch::Stop PopulationSearch::Run(std::vector<std::vector<int64_t>>& paths,
                                             const ImprovementHooks& hooks) {
    if (!Begin(paths, hooks)) return Stop::kNotRun;
    Seed(hooks);
    Stop stop = Stop::kNotRun;
    for (;;) {
        if (std::optional<Stop> reason = Checkpoint(hooks)) {
            stop = *reason;
            break;
        }
        if (children - last_better >= population.idle_before_restart) {
            Restart(hooks);
            continue;
        }
        if (feasible.members.empty() && infeasible.members.empty()) {
            child.CopyRoutesFrom(start);
            Perturb(child);
            Breed(child, hooks);
            continue;
        }
        Rank(feasible);
        Rank(infeasible);
        const RouteSet& a = Tournament();
        const RouteSet& b = Tournament();
        const bool made = giant_tours && share(rng) < population.giant_tour_share
                              ? tours.Cross(a, b, child, rng)
                              : Crossover(a, b, child);
        if (made) {
            Breed(child, hooks);
        } else {
            ++children;
        }
    }
    if (found_feasible) paths = best.Paths();
    return stop;
}

bool PopulationSearch::Begin(const std::vector<std::vector<int64_t>>& paths,
                             const ImprovementHooks& hooks) {
    (void)hooks;
    start.SetWeights(settings.weights);
    if (!start.Load(paths) || start.Movable().size() < 2) return false;
    // Every rule that may bend does, from its first price (or the caller's, when higher).
    first_prices = FirstPrices(rules, tasks, start);
    for (size_t rule = 0; rule < kSoftRuleCount; ++rule) {
        first_prices[rule] = std::max(first_prices[rule], settings.weights[rule]);
    }
    prices = first_prices;
    start.SetWeights(prices);
    child = start;
    repaired = start;
    best = start;
    found_feasible = start.Violation() == 0.0;
    if (near.empty()) near = BuildNearLists(start);
    search.emplace(near, population.neighbours, settings.min_max, population.best_improvement);
    if (start.VertexCount() > static_cast<size_t>(kMaxVertices)) {
        insertion.LookNear(&near, population.neighbours);
    }
    insertion.SkipNowAndThen(rng());
    // Under min-max a split that minimises the total is beside the point.
    giant_tours = !settings.min_max && population.giant_tour_share > 0.0 &&
                  GiantTourCrossover::Suits(start);
    feasible = Pool{};
    infeasible = Pool{};
    children = last_better = idle_restarts = noted = 0;
    kept.fill(0.0);
    return true;
}

std::optional<PopulationSearch::Stop> PopulationSearch::Checkpoint(
    const ImprovementHooks& hooks) const {
    if (hooks.interrupted && hooks.interrupted()) return Stop::kInterrupted;
    if (hooks.elapsed() >= hooks.deadline) return Stop::kBudget;
    if (settings.max_iterations != 0 && children >= settings.max_iterations) {
        return Stop::kIterations;
    }
    if (settings.stop_when_stalled && idle_restarts >= kIdleRestarts) return Stop::kStalled;
    return std::nullopt;
}

void PopulationSearch::Seed(const ImprovementHooks& hooks) {
    const RouteSet& from = found_feasible ? best : start;
    for (size_t k = 0; k < kSeedsPerPlace * population.min_size && !Checkpoint(hooks); ++k) {
        child.CopyRoutesFrom(from);
        if (k > 0) Perturb(child);
        Breed(child, hooks);
    }
}

void PopulationSearch::Restart(const ImprovementHooks& hooks) {
    feasible = Pool{};
    infeasible = Pool{};
    ++idle_restarts;
    last_better = children;
    Seed(hooks);
}

void PopulationSearch::Perturb(RouteSet& set) {
    // About every stop once to a random place of another route: a plan far from the first.
    const std::vector<Vertex>& movable = set.Movable();
    for (size_t attempt = 0; attempt < movable.size(); ++attempt) {
        const Vertex u = movable[rng() % movable.size()];
        const int32_t from = set.RouteHolding(u);
        const size_t r = rng() % set.RouteCount();
        if (from < 0 || r == static_cast<size_t>(from)) continue;
        const size_t first = set.FirstFree(r);
        const size_t q = first + rng() % (set.RouteOf(r).nodes.size() - first);
        const RelocateMove move{u, r, q};
        if (move.Price(set).Feasible()) move.Apply(set);
    }
}

bool PopulationSearch::Crossover(const RouteSet& a, const RouteSet& b, RouteSet& into) {
    into.CopyRoutesFrom(b);
    const size_t m = a.RouteCount();
    size_t used = 0;
    for (size_t r = 0; r < m; ++r) used += a.RouteOf(r).nodes.size() > 2;
    if (used == 0) return false;
    // The routes of `a` around a random stop: its own, then those of its nearest stops.
    const std::vector<Vertex>& movable = a.Movable();
    const Vertex seed = movable[rng() % movable.size()];
    if (a.RouteHolding(seed) < 0) return false;
    const size_t wanted = 1 + rng() % std::max<size_t>(1, used / 2);
    chosen_routes.assign(m, 0);
    chosen_routes[static_cast<size_t>(a.RouteHolding(seed))] = 1;
    size_t count = 1;
    for (const Vertex v : near[static_cast<size_t>(seed)]) {
        if (count >= wanted) break;
        const int32_t r = a.RouteHolding(v);
        if (r >= 0 && !chosen_routes[static_cast<size_t>(r)]) {
            chosen_routes[static_cast<size_t>(r)] = 1;
            ++count;
        }
    }
    // Those agents' routes in `b` give way to their routes in `a`.
    left_over.clear();
    for (size_t r = 0; r < m; ++r) {
        const std::vector<Vertex>& nodes = into.RouteOf(r).nodes;
        if (!chosen_routes[r] || nodes.size() <= 2) continue;
        left_over.insert(left_over.end(), nodes.begin() + 1, nodes.end() - 1);
        into.RemoveRange(r, 1, nodes.size() - 2);
    }
    for (size_t r = 0; r < m; ++r) {
        if (!chosen_routes[r]) continue;
        const std::vector<Vertex>& nodes = a.RouteOf(r).nodes;
        for (size_t k = 1; k + 1 < nodes.size(); ++k) {
            const int32_t holder = into.RouteHolding(nodes[k]);
            if (holder < 0) continue;
            const auto at = static_cast<size_t>(into.PositionOf(nodes[k]));
            into.RemoveRange(static_cast<size_t>(holder), at, at);
        }
    }
    for (size_t r = 0; r < m; ++r) {
        const std::vector<Vertex>& nodes = a.RouteOf(r).nodes;
        if (!chosen_routes[r] || nodes.size() <= 2) continue;
        if (!into.LoadRoute(r, std::vector<Vertex>(nodes.begin() + 1, nodes.end() - 1))) {
            return false;
        }
    }
    // The stops of `b` that the routes taken over do not serve go in again.
    std::shuffle(left_over.begin(), left_over.end(), rng);
    for (const Vertex v : left_over) {
        if (into.RouteHolding(v) >= 0) continue;
        const BestInsertion::Choice choice = insertion.Find(into, v);
        if (!choice.found || !InsertMove{v, choice.route, choice.position}.Apply(into)) {
            if (into.RouteHolding(v) < 0) return false;
        }
    }
    return true;
}

void PopulationSearch::Educate(RouteSet& set, const ImprovementHooks& hooks) {
    // A large plan's education may take long: the budget and interrupts cut it short.
    search->Run(set, rng, SIZE_MAX, [&]() { return Checkpoint(hooks).has_value(); });
}

void PopulationSearch::Breed(RouteSet& plan, const ImprovementHooks& hooks) {
    Educate(plan, hooks);
    ++children;
    NoteRules(plan);
    Keep(plan, hooks);
    if (plan.Violation() > 0.0 && rng() % 2 == 0) {
        RuleAmounts raised = prices;
        for (double& price : raised) price *= kRepairRaise;
        repaired.CopyRoutesFrom(plan);
        repaired.SetWeights(raised);
        Educate(repaired, hooks);
        repaired.SetWeights(prices);
        if (repaired.Violation() == 0.0) Keep(repaired, hooks);
    }
    if (children % population.children_per_price_update == 0) AdaptPrices();
}

void PopulationSearch::Keep(const RouteSet& set, const ImprovementHooks& hooks) {
    // Every stop is served: a plan short of one is no plan at all.
    const std::vector<Vertex>& movable = set.Movable();
    if (std::any_of(movable.begin(), movable.end(),
                    [&set](Vertex v) { return set.RouteHolding(v) < 0; })) {
        return;
    }
    const bool keeps = set.Violation() == 0.0;
    Pool& pool = keeps ? feasible : infeasible;
    auto member = std::make_unique<Member>(set);
    member->next.assign(set.VertexCount(), -1);
    for (size_t r = 0; r < set.RouteCount(); ++r) {
        const std::vector<Vertex>& nodes = set.RouteOf(r).nodes;
        for (size_t k = 1; k + 1 < nodes.size(); ++k) {
            member->next[static_cast<size_t>(nodes[k])] = nodes[k + 1];
        }
    }
    member->value = Value(set);
    std::vector<double> row;
    row.reserve(pool.members.size() + 1);
    for (size_t i = 0; i < pool.members.size(); ++i) {
        row.push_back(Distance(*member, *pool.members[i]));
        pool.distance[i].push_back(row.back());
    }
    row.push_back(0.0);
    pool.distance.push_back(std::move(row));
    pool.members.push_back(std::move(member));
    if (keeps && (!found_feasible || PlanBetter(set, best, settings.min_max))) {
        best.CopyRoutesFrom(set);
        found_feasible = true;
        last_better = children;
        idle_restarts = 0;
        if (hooks.improved) hooks.improved(best);
    }
    if (pool.members.size() >= population.min_size + population.generation) Cull(pool);
}

void PopulationSearch::Cull(Pool& pool) {
    while (pool.members.size() > population.min_size) {
        // Clones go first, the worse of two; then the plan of the worst biased fitness.
        size_t doomed = pool.members.size();
        for (size_t i = 0; i < pool.members.size() && doomed == pool.members.size(); ++i) {
            for (size_t j = i + 1; j < pool.members.size(); ++j) {
                if (pool.distance[i][j] > kClone) continue;
                doomed = pool.members[i]->value > pool.members[j]->value ? i : j;
                break;
            }
        }
        if (doomed == pool.members.size()) {
            Rank(pool);
            const auto worst = std::max_element(
                pool.members.begin(), pool.members.end(),
                [](const auto& x, const auto& y) { return x->fitness < y->fitness; });
            doomed = static_cast<size_t>(worst - pool.members.begin());
        }
        Remove(pool, doomed);
    }
}

void PopulationSearch::Remove(Pool& pool, size_t index) {
    const auto at = static_cast<std::ptrdiff_t>(index);
    pool.members.erase(pool.members.begin() + at);
    pool.distance.erase(pool.distance.begin() + at);
    for (std::vector<double>& row : pool.distance) row.erase(row.begin() + at);
}

void PopulationSearch::Rank(Pool& pool) {
    const size_t n = pool.members.size();
    if (n <= 1) {
        for (auto& member : pool.members) member->fitness = 0.0;
        return;
    }
    std::vector<size_t>& order = rank_scratch.order;
    order.resize(n);
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(), [&pool](size_t x, size_t y) {
        return pool.members[x]->value < pool.members[y]->value;
    });
    std::vector<double>& cost_rank = rank_scratch.cost_rank;
    cost_rank.resize(n);
    for (size_t k = 0; k < n; ++k) cost_rank[order[k]] = static_cast<double>(k) / static_cast<double>(n - 1);
    // Diversity: the mean distance to the nearest few others, the larger the better.
    const size_t close = std::min(population.close, n - 1);
    std::vector<double>& diversity = rank_scratch.diversity;
    diversity.resize(n);
    std::vector<double>& others = rank_scratch.others;
    for (size_t i = 0; i < n; ++i) {
        others.clear();
        for (size_t j = 0; j < n; ++j) {
            if (j != i) others.push_back(pool.distance[i][j]);
        }
        std::partial_sort(others.begin(), others.begin() + static_cast<std::ptrdiff_t>(close),
                          others.end());
        diversity[i] = std::accumulate(others.begin(), others.begin() + static_cast<std::ptrdiff_t>(close), 0.0) /
                       static_cast<double>(close);
    }
    std::stable_sort(order.begin(), order.end(),
                     [&diversity](size_t x, size_t y) { return diversity[x] > diversity[y]; });
    const double weight =
        population.elite >= n ? 0.0 : 1.0 - static_cast<double>(population.elite) / static_cast<double>(n);
    for (size_t k = 0; k < n; ++k) {
        const size_t i = order[k];
        pool.members[i]->fitness = cost_rank[i] + weight * static_cast<double>(k) / static_cast<double>(n - 1);
    }
}

const RouteSet& PopulationSearch::Tournament() {
    const size_t total = feasible.members.size() + infeasible.members.size();
    const auto pick = [&]() -> const Member& {
        const size_t k = rng() % total;
        return k < feasible.members.size() ? *feasible.members[k]
                                           : *infeasible.members[k - feasible.members.size()];
    };
    const Member& first = pick();
    const Member& second = pick();
    return first.fitness <= second.fitness ? first.set : second.set;
}

double PopulationSearch::Value(const RouteSet& set) const {
    const double value = SearchValue(set.Largest(), set.Total(), set.RouteCount(), settings.min_max);
    return settings.min_max ? value : value + set.LostPrize();
}

double PopulationSearch::Distance(const Member& a, const Member& b) const {
    const std::vector<Vertex>& movable = start.Movable();
    size_t differ = 0;
    for (const Vertex v : movable) {
        differ += a.next[static_cast<size_t>(v)] != b.next[static_cast<size_t>(v)];
    }
    return static_cast<double>(differ) / static_cast<double>(std::max<size_t>(movable.size(), 1));
}

void PopulationSearch::NoteRules(const RouteSet& set) {
    ++noted;
    for (size_t rule = 0; rule < kSoftRuleCount; ++rule) {
        if (prices[rule] <= 0.0) continue;
        const bool keeps = set.ExcessOf(static_cast<SoftRule>(rule)) == 0.0;
        kept[rule] += keeps ? 1.0 : 0.0;
        broken_children[rule] += keeps ? 0 : 1;
    }
}

void PopulationSearch::AdaptPrices() {
    if (noted == 0) return;
    RuleAmounts next = prices;
    for (size_t rule = 0; rule < kSoftRuleCount; ++rule) {
        if (prices[rule] <= 0.0) continue;
        const double share = kept[rule] / static_cast<double>(noted);
        if (share < population.feasible_share - kShareMargin) next[rule] *= kPriceRaise;
        if (share > population.feasible_share + kShareMargin) next[rule] *= kPriceCut;
        next[rule] = std::clamp(next[rule], first_prices[rule] * kLowestPriceRatio,
                                first_prices[rule] * kHighestPriceRatio);
    }
    noted = 0;
    kept.fill(0.0);
    if (next != prices) UsePrices(next);
}

void PopulationSearch::UsePrices(const RuleAmounts& next) {
    prices = next;
    for (RouteSet* set : {&start, &child, &repaired, &best}) set->SetWeights(prices);
    for (Pool* pool : {&feasible, &infeasible}) {
        for (auto& member : pool->members) {
            member->set.SetWeights(prices);
            member->value = Value(member->set);
        }
    }
}

}  // namespace tamrik
