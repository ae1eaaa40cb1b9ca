#include "improve/improvement_stage.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

#include "improve/near_lists.h"

namespace tamrik {
namespace {

// Costs within this of each other count as equal when solutions are compared.
constexpr double kTolerance = 1e-9;
// Strings removed from one route are at most this long.
constexpr size_t kMaxStringLength = 10;
// At most this many nodes, and at most ten or half of the movable ones, leave in one
// iteration.
constexpr size_t kMaxRemoved = 30;
// One ruin in this many empties a whole route instead: shortening a route never pays under
// min-sum while its first and last legs remain, so routes must be able to go at once.
constexpr uint64_t kWholeRouteOdds = 20;
// Segment reversals are tried towards this many nearest vertices of a node.
constexpr size_t kReversalCandidates = 20;
// Above kMaxVertices vertices, a node goes back only next to its nearest this many, and only
// routes this short are emptied at once.
constexpr size_t kNearPositions = 20;
constexpr size_t kLargestEmptied = 60;
// Weight of the average route cost in the min-max annealing value.
constexpr double kTotalWeight = 0.1;
// The annealing temperature falls from the first to the second fraction of the start value.
constexpr double kStartTemperature = 0.01;
constexpr double kEndTemperature = 0.0001;
// The temperature falls over one cooling cycle of this many iterations per movable node
// squared (at least kMinCycle), shortened so that kCyclesInBudget cycles fit the budget or
// the iteration cap. Each cycle starts again from the best solution, kReheat times hotter
// than the last one when that found nothing better; the stage ends after kIdleCycles cycles
// in a row without a better best solution, so that small instances end early while large
// ones run to their budget.
constexpr uint64_t kCyclePerNodeSquared = 50;
constexpr uint64_t kMinCycle = 1000;
constexpr uint64_t kCyclesInBudget = 3;
constexpr uint64_t kIdleCycles = 3;
constexpr double kReheat = 3.0;
// Iterations timed to fit the cycles into the remaining budget.
constexpr uint64_t kTimedIterations = 100;

}  // namespace

ImprovementStage::ImprovementStage(const RouteRules& rules_in, const ImprovementSettings& s,
                                   const TaskRules* tasks)
    : rules(rules_in), settings(s), rng(s.seed), current(rules_in, tasks), work(rules_in, tasks),
      best(rules_in, tasks), insertion(s.min_max), task_order(tasks, rules_in.VertexCount()) {
    insertion.SkipNowAndThen(rng());
}

double ImprovementStage::Score(const RouteSet& set) const {
    if (!settings.min_max) return set.Total();
    const double routes = static_cast<double>(std::max<size_t>(set.RouteCount(), 1));
    return set.Largest() + kTotalWeight * set.Total() / routes;
}

bool ImprovementStage::Better(const RouteSet& a, const RouteSet& b) const {
    double first_a = a.Largest(), first_b = b.Largest();
    double second_a = a.Total(), second_b = b.Total();
    if (!settings.min_max) {
        std::swap(first_a, second_a);
        std::swap(first_b, second_b);
    }
    if (first_a < first_b - kTolerance) return true;
    if (first_a > first_b + kTolerance) return false;
    return second_a < second_b - kTolerance;
}

ImprovementStage::Stop ImprovementStage::Run(std::vector<std::vector<int64_t>>& paths,
                                             const ImprovementHooks& hooks) {
    if (!Begin(paths, hooks)) return Stop::kNotRun;
    const Stop stop = *Advance(hooks, std::numeric_limits<uint64_t>::max());
    paths = best.Paths();
    return stop;
}

bool ImprovementStage::Begin(const std::vector<std::vector<int64_t>>& paths,
                             const ImprovementHooks& hooks) {
    if (!current.Load(paths) || current.Movable().size() < 2) return false;
    // Both start as copies, leg tables included, rather than building those again.
    work = current;
    best = current;
    granular = current.VertexCount() > static_cast<size_t>(kMaxVertices);
    BuildNeighbours();
    if (granular) insertion.LookNear(&neighbours, kNearPositions);
    ruined.assign(current.RouteCount(), 0);
    touched.assign(current.RouteCount(), 0);
    pending.assign(current.VertexCount(), 0);
    dirty.assign(current.RouteCount(), {});

    start_time = hooks.elapsed();
    const double movable = static_cast<double>(current.Movable().size());
    cycle = Cycle{};
    cycle.length = std::max<uint64_t>(kMinCycle,
                                      kCyclePerNodeSquared * static_cast<uint64_t>(movable * movable));
    if (settings.max_iterations != 0) {
        cycle.length = std::min(cycle.length,
                                std::max<uint64_t>(1, settings.max_iterations / kCyclesInBudget));
    }
    score = Score(current);
    scale = std::fabs(score);
    iterations = 0;
    return true;
}

std::optional<ImprovementStage::Stop> ImprovementStage::Advance(const ImprovementHooks& hooks,
                                                                uint64_t until) {
    for (; iterations < until; ++iterations) {
        if (std::optional<Stop> reason = Checkpoint(hooks)) return reason;
        Iterate(hooks);
    }
    return std::nullopt;
}

void ImprovementStage::Adopt(const RouteSet& other) {
    if (!Better(other, best)) return;
    best.CopyRoutesFrom(other);
    current.CopyRoutesFrom(other);
    score = Score(current);
    cycle.improved = true;
}

std::optional<ImprovementStage::Stop> ImprovementStage::Checkpoint(const ImprovementHooks& hooks) {
    if (settings.max_iterations != 0 && iterations >= settings.max_iterations) {
        return Stop::kIterations;
    }
    if (hooks.interrupted && hooks.interrupted()) return Stop::kInterrupted;
    const double now = hooks.elapsed();
    if (hooks.time_limit < now) return Stop::kBudget;
    if (iterations == kTimedIterations && settings.max_iterations == 0) {
        const double per_iteration = std::max(now - start_time, 1e-9) / kTimedIterations;
        const double fit = (hooks.time_limit - now) / per_iteration / kCyclesInBudget;
        if (fit < static_cast<double>(cycle.length)) {
            cycle.length = std::max<uint64_t>(kMinCycle, static_cast<uint64_t>(fit));
        }
    }
    if (iterations - cycle.start >= cycle.length) {
        cycle.idle = cycle.improved ? 0 : cycle.idle + 1;
        // A large instance always has more to find: it runs to its budget.
        if (cycle.idle >= kIdleCycles && settings.stop_when_stalled && !granular) {
            return Stop::kStalled;
        }
        cycle.improved = false;
        cycle.start = iterations;
        ++cycle.ended;
        if (granular && settings.max_iterations == 0) FitCycle(now, hooks.time_limit);
        current.CopyRoutesFrom(best);
        score = Score(current);
    }
    return std::nullopt;
}

void ImprovementStage::FitCycle(double now, double time_limit) {
    // Iterations slow down or speed up as the solution changes, so the length is measured
    // again for each cycle; the cycles left of the plan share the rest of the budget.
    const double per_iteration =
        std::max(now - start_time, 1e-9) / static_cast<double>(std::max<uint64_t>(iterations, 1));
    const uint64_t left = cycle.ended < kCyclesInBudget ? kCyclesInBudget - cycle.ended : 1;
    const double fit = (time_limit - now) / per_iteration / static_cast<double>(left);
    cycle.length = std::max<uint64_t>(kMinCycle, static_cast<uint64_t>(std::max(fit, 0.0)));
}

double ImprovementStage::Temperature() const {
    const double progress =
        static_cast<double>(iterations - cycle.start) / static_cast<double>(cycle.length);
    // A cycle that found nothing better is followed by a hotter one.
    const double reheats = static_cast<double>(std::min(cycle.idle, kIdleCycles));
    const double start = kStartTemperature * std::pow(kReheat, reheats) * scale;
    return start * std::pow(kEndTemperature * scale / start, progress);
}

void ImprovementStage::Iterate(const ImprovementHooks& hooks) {
    const double temperature = Temperature();
    work.CopyRoutesFrom(current);
    if (!Ruin() || !Recreate()) return;
    const double candidate = Score(work);
    if (!(candidate < score - temperature * std::log(1.0 - Uniform()))) return;
    current.CopyRoutesFrom(work);
    score = candidate;
    if (!Better(current, best)) return;
    best.CopyRoutesFrom(current);
    cycle.improved = true;
    if (hooks.improved) hooks.improved(best);
}

void ImprovementStage::BuildNeighbours() {
    if (neighbours.size() != current.VertexCount()) neighbours = BuildNearLists(current);
    const size_t n = neighbours.size();
    depot_distance.assign(n, RouteSet::kInfeasible);
    for (size_t v = 0; v < n; ++v) {
        for (size_t r = 0; r < current.RouteCount(); ++r) {
            const std::vector<int32_t>& nodes = current.RouteOf(r).nodes;
            if (nodes.empty()) continue;
            depot_distance[v] = std::min(
                depot_distance[v], current.Distance(static_cast<int32_t>(v), nodes.front()));
        }
    }
}

bool ImprovementStage::Ruin() {
    removed.clear();
    removed_from.clear();
    std::fill(ruined.begin(), ruined.end(), 0);
    for (std::vector<int32_t>& nodes : dirty) nodes.clear();
    if (!settings.min_max && Draw(kWholeRouteOdds) == 0) {
        // A route emptied is this ruin, also when what is left of it breaks its rules.
        if (const std::optional<bool> emptied = EmptyOneRoute()) return *emptied;
    }
    const std::vector<int32_t>& movable = work.Movable();
    const size_t most = std::min({movable.size(), kMaxRemoved, std::max<size_t>(10, movable.size() / 2)});
    const size_t target = 1 + Draw(most);
    seed_node = movable[Draw(movable.size())];
    if (settings.min_max && Draw(2) == 0) {
        // Half of the time the ruin starts on the longest route.
        size_t longest = 0;
        for (size_t r = 1; r < work.RouteCount(); ++r) {
            if (work.RouteOf(r).Cost() > work.RouteOf(longest).Cost()) longest = r;
        }
        const std::vector<int32_t>& nodes = work.RouteOf(longest).nodes;
        if (nodes.size() > 2) {
            const int32_t node = nodes[1 + Draw(nodes.size() - 2)];
            if (work.IsMovable(node)) seed_node = node;
        }
    }
    bool feasible = true;
    for (int32_t v : neighbours[static_cast<size_t>(seed_node)]) {
        if (removed.size() >= target) break;
        const int32_t holder = work.RouteHolding(v);
        if (holder < 0 || ruined[static_cast<size_t>(holder)]) continue;
        const auto r = static_cast<size_t>(holder);
        const std::vector<int32_t>& nodes = work.RouteOf(r).nodes;
        const size_t length = 1 + Draw(std::min(kMaxStringLength, target - removed.size()));
        size_t first = static_cast<size_t>(work.PositionOf(v));
        size_t last = first;
        // Grow the string around v, one side at a time, over movable interior nodes.
        while (last - first + 1 < length) {
            const bool left = first > 1 && work.IsMovable(nodes[first - 1]);
            const bool right = last + 2 < nodes.size() && work.IsMovable(nodes[last + 1]);
            if (!left && !right) break;
            if (left && (!right || Draw(2) == 0)) {
                --first;
            } else {
                ++last;
            }
        }
        removed.insert(removed.end(), nodes.begin() + static_cast<std::ptrdiff_t>(first),
                       nodes.begin() + static_cast<std::ptrdiff_t>(last) + 1);
        removed_from.insert(removed_from.end(), last - first + 1, holder);
        ruined[r] = 1;
        feasible = work.RemoveRange(r, first, last) && feasible;
        dirty[r].push_back(nodes[first - 1]);
    }
    if (work.Tasks() != nullptr) return RemovePartners();
    return feasible;
}

bool ImprovementStage::RemovePartners() {
    const TaskRules& tasks = *work.Tasks();
    if (!tasks.HasPairs()) return work.RecheckAll();
    // Partners in order go along only from the same route and only where loads could
    // otherwise go wrong; across routes a node waits for a partner that stays.
    const bool loads = tasks.HasLoads();
    for (size_t k = 0; k < removed.size(); ++k) {
        const int32_t node = removed[k];
        for (const std::vector<int32_t>* partners :
             {&tasks.SameOf(node), &tasks.BeforeOf(node), &tasks.AfterOf(node)}) {
            const bool same = partners == &tasks.SameOf(node);
            for (int32_t partner : *partners) {
                const int32_t holder = work.RouteHolding(partner);
                if (holder < 0 || !work.IsMovable(partner)) continue;
                if (!same && (!loads || holder != removed_from[k])) continue;
                const auto r = static_cast<size_t>(holder);
                const auto at = static_cast<size_t>(work.PositionOf(partner));
                removed.push_back(partner);
                removed_from.push_back(holder);
                ruined[r] = 1;
                dirty[r].push_back(work.RouteOf(r).nodes[at - 1]);
                work.RemoveRange(r, at, at);
            }
        }
    }
    return work.RecheckAll();
}

std::optional<bool> ImprovementStage::EmptyOneRoute() {
    // A random route that has nodes to give, all of them movable.
    const size_t count = work.RouteCount();
    const size_t first = Draw(count);
    for (size_t k = 0; k < count; ++k) {
        const size_t r = (first + k) % count;
        const std::vector<int32_t>& nodes = work.RouteOf(r).nodes;
        if (nodes.size() < 3 || (granular && nodes.size() > kLargestEmptied + 2)) continue;
        if (!std::all_of(nodes.begin() + 1, nodes.end() - 1,
                         [this](int32_t node) { return work.IsMovable(node); })) {
            continue;
        }
        removed.assign(nodes.begin() + 1, nodes.end() - 1);
        removed_from.assign(removed.size(), static_cast<int32_t>(r));
        seed_node = removed[Draw(removed.size())];
        ruined[r] = 1;
        const bool feasible = work.RemoveRange(r, 1, nodes.size() - 2);
        return work.Tasks() != nullptr ? RemovePartners() : feasible;
    }
    return std::nullopt;
}

void ImprovementStage::OrderRemoved() {
    const uint64_t order = Draw(10);
    if (order < 5) {
        std::shuffle(removed.begin(), removed.end(), rng);
    } else if (order < 8) {
        // Far from the depots first: the hardest to place go while there is most room.
        std::sort(removed.begin(), removed.end(), [this](int32_t a, int32_t b) {
            return depot_distance[static_cast<size_t>(a)] > depot_distance[static_cast<size_t>(b)];
        });
    } else {
        std::sort(removed.begin(), removed.end(), [this](int32_t a, int32_t b) {
            return work.Distance(seed_node, a) < work.Distance(seed_node, b);
        });
    }
}

bool ImprovementStage::Recreate() {
    OrderRemoved();
    task_order.Apply(removed);
    std::fill(touched.begin(), touched.end(), 0);
    if (work.Tasks() != nullptr) {
        MarkPending(removed, pending);
        for (int32_t node : removed) {
            if (work.RouteHolding(node) >= 0) continue;
            if (!insertion.Place(work, node, pending)) {
                for (int32_t other : removed) pending[static_cast<size_t>(other)] = 0;
                return false;
            }
            const auto r = static_cast<size_t>(work.RouteHolding(node));
            touched[r] = 1;
            dirty[r].push_back(node);
        }
    }
    for (size_t k = 0; k < removed.size() && work.Tasks() == nullptr; ++k) {
        const int32_t node = removed[k];
        const BestInsertion::Choice choice = insertion.Find(work, node);
        if (!choice.found || !work.Insert(choice.route, choice.position, node)) return false;
        touched[choice.route] = 1;
        dirty[choice.route].push_back(node);
    }
    for (size_t r = 0; r < work.RouteCount(); ++r) {
        if (!touched[r] && !ruined[r]) continue;
        if (granular) {
            work.ImproveReversalsNear(r, neighbours, kReversalCandidates, dirty[r]);
        } else {
            work.ImproveByReversal(r, neighbours, kReversalCandidates);
        }
    }
    return true;
}

}  // namespace tamrik
