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
// Under rules that bend each rule's price is set again after this many moves: raised when
// fewer than kFeasibleShare of their results kept the rule, lowered when clearly more did.
constexpr uint64_t kMovesPerPriceUpdate = 100;
constexpr double kFeasibleShare = 0.45;
constexpr double kShareMargin = 0.1;
constexpr double kPriceRaise = 1.3;
constexpr double kPriceCut = 0.85;
constexpr double kLowestPrice = 1e-6;
constexpr double kHighestPriceRatio = 1000.0;
// Under min-max, the smallest prize lost weighs this many times the first solution's value
// in the annealing value.
constexpr double kLostFirst = 100.0;
// While no solution keeps every rule, the search goes on from the least broken one with the
// prices raised kRepairRaise times once this share of the budget is used, and again at the
// second share.
constexpr double kFirstRepairShare = 0.7;
constexpr double kSecondRepairShare = 0.85;
constexpr double kRepairRaise = 10.0;

}  // namespace

ImprovementStage::ImprovementStage(const RouteRules& rules_in, const ImprovementSettings& s,
                                   const TaskRules* tasks)
    : rules(rules_in), settings(s), rng(s.seed), current(rules_in, tasks), work(rules_in, tasks),
      best(rules_in, tasks), lowest(rules_in, tasks), move(s.min_max, tasks, rules_in.VertexCount()) {
    move.Insertion().SkipNowAndThen(rng());
}

double ImprovementStage::Score(const RouteSet& set) const {
    return ScoreOf(set.Largest(), set.Total(), set.RouteCount()) + lost_weight * set.LostPrize();
}

double ImprovementStage::ScoreOf(double largest, double total, size_t routes) const {
    return SearchValue(largest, total, routes, settings.min_max);
}

double SearchValue(double largest, double total, size_t routes, bool min_max) {
    if (!min_max) return total;
    return largest + kTotalWeight * total / static_cast<double>(std::max<size_t>(routes, 1));
}

bool ImprovementStage::Better(const RouteSet& a, const RouteSet& b) const {
    return PlanBetter(a, b, settings.min_max);
}

bool PlanBetter(const RouteSet& a, const RouteSet& b, bool min_max) {
    const bool a_keeps = a.Violation() == 0.0;
    if (a_keeps != (b.Violation() == 0.0)) return a_keeps;
    // Under min-max the prizes lost come first; under min-sum they add to the total.
    if (min_max && a.LostPrize() != b.LostPrize()) {
        const double margin = kTolerance * std::max(1.0, std::fabs(b.LostPrize()));
        if (a.LostPrize() < b.LostPrize() - margin) return true;
        if (a.LostPrize() > b.LostPrize() + margin) return false;
    }
    double first_a = a.Largest(), first_b = b.Largest();
    double second_a = a.Total(), second_b = b.Total();
    if (!min_max) {
        first_a = second_a + a.LostPrize();
        first_b = second_b + b.LostPrize();
        second_a = second_b = 0.0;
    }
    if (first_a < first_b - kTolerance) return true;
    if (first_a > first_b + kTolerance) return false;
    return second_a < second_b - kTolerance;
}

ImprovementStage::Stop ImprovementStage::Run(std::vector<std::vector<int64_t>>& paths,
                                             const ImprovementHooks& hooks) {
    if (!Begin(paths, hooks)) return Stop::kNotRun;
    Stop stop = Stop::kNotRun;
    for (;; ++iterations) {
        if (std::optional<Stop> reason = Checkpoint(hooks)) {
            stop = *reason;
            break;
        }
        Iterate(hooks);
    }
    paths = best.Paths();
    return stop;
}

bool ImprovementStage::Begin(const std::vector<std::vector<int64_t>>& paths,
                             const ImprovementHooks& hooks) {
    current.SetWeights(settings.weights);
    if (!current.Load(paths)) return false;
    for (size_t r = 0; r < settings.pinned.size() && r < current.RouteCount(); ++r) {
        current.PinPrefix(r, settings.pinned[r]);
    }
    if (current.Movable().size() < 2) return false;
    // Both start as copies, leg tables included, rather than building those again.
    work = current;
    best = current;
    lowest = current;
    found_feasible = current.Violation() == 0.0;
    repair_level = 0;
    kept_moves.fill(0);
    broken_moves.fill(0);
    granular = current.VertexCount() > static_cast<size_t>(kMaxVertices);
    BuildNeighbours();
    move.Prepare(current, neighbours, depot_distance, granular);
    claimed.assign(current.RouteCount(), 0);

    start_time = hooks.elapsed();
    const double movable = static_cast<double>(current.Movable().size());
    cycle = Cycle{};
    cycle.length = std::max<uint64_t>(kMinCycle,
                                      kCyclePerNodeSquared * static_cast<uint64_t>(movable * movable));
    if (settings.max_iterations != 0) {
        cycle.length = std::min(cycle.length,
                                std::max<uint64_t>(1, settings.max_iterations / kCyclesInBudget));
    }
    // Under min-max a prize lost must outweigh any change of the routes, and does not count
    // towards the temperatures.
    scale = std::fabs(ScoreOf(current.Largest(), current.Total(), current.RouteCount()) +
                      (settings.min_max ? 0.0 : current.LostPrize()));
    lost_weight = settings.min_max ? LostFirstWeight(current) : 1.0;
    score = Score(current);
    lowest_score = score;
    priced_moves = 0;
    iterations = 0;
    timed = false;
    ++restarts;
    return true;
}

size_t ImprovementStage::RoundSize(size_t wanted) const {
    if (settings.max_iterations == 0) return wanted;
    const uint64_t left = settings.max_iterations - std::min(iterations, settings.max_iterations);
    return static_cast<size_t>(std::min<uint64_t>(wanted, left));
}

void ImprovementStage::Propose(RuinRecreate& mover, Proposal& proposal) const {
    // Copying only what differs keeps other threads' memory out of this one's caches.
    if (proposal.restart == restarts) {
        proposal.set.CopyRoutesFrom(current, proposal.stale);
    } else {
        proposal.set.CopyRoutesFrom(current);
        proposal.restart = restarts;
    }
    if (proposal.set.Weights() != current.Weights()) proposal.set.SetWeights(current.Weights());
    mover.Insertion().SkipNowAndThen(proposal.rng());
    proposal.feasible = mover.Apply(proposal.set, proposal.rng);
    proposal.changed.resize(current.RouteCount());
    proposal.stale.resize(current.RouteCount());
    for (size_t r = 0; r < current.RouteCount(); ++r) {
        proposal.changed[r] = mover.Changed(r);
        proposal.stale[r] = proposal.changed[r];
    }
    proposal.draw = Uniform(proposal.rng);
}

void ImprovementStage::Commit(std::vector<Proposal>& proposals, size_t count,
                              const ImprovementHooks& hooks) {
    // The best moves go first, so that of two that clash the better one is kept.
    order.resize(count);
    alone.resize(count);
    for (size_t k = 0; k < count; ++k) {
        order[k] = k;
        alone[k] = proposals[k].feasible ? MergedScore(proposals[k]) : RouteSet::kInfeasible;
    }
    std::stable_sort(order.begin(), order.end(),
                     [this](size_t a, size_t b) { return alone[a] < alone[b]; });
    // Routes are independent unless pairs tie them together, or two moves could both take
    // in the same optional stop.
    const bool combine = current.Tasks() == nullptr ||
                         (!current.Tasks()->HasPairs() && !current.Tasks()->HasOptional());
    std::fill(claimed.begin(), claimed.end(), 0);
    bool accepted = false;
    bool improved = false;
    for (size_t k = 0; k < count; ++k, ++iterations) {
        const Proposal& proposal = proposals[order[k]];
        const double temperature = Temperature();
        if (proposal.feasible) NoteViolations(proposal.set);
        if (!proposal.feasible || (accepted && !combine) || Clashes(proposal)) continue;
        const double candidate = MergedScore(proposal);
        if (!(candidate < score - temperature * std::log(1.0 - proposal.draw))) continue;
        current.CopyRoutesFrom(proposal.set, proposal.changed);
        for (size_t r = 0; r < claimed.size(); ++r) claimed[r] |= proposal.changed[r];
        accepted = true;
        score = candidate;
        improved = TakeBest() || improved;
    }
    for (Proposal& proposal : proposals) {
        for (size_t r = 0; r < proposal.stale.size(); ++r) proposal.stale[r] |= claimed[r];
    }
    if (improved && hooks.improved) hooks.improved(best);
}

bool ImprovementStage::Clashes(const Proposal& proposal) const {
    for (size_t r = 0; r < claimed.size(); ++r) {
        if (claimed[r] && proposal.changed[r]) return true;
    }
    return false;
}

double ImprovementStage::MergedScore(const Proposal& proposal) const {
    double largest = 0.0;
    double total = 0.0;
    for (size_t r = 0; r < current.RouteCount(); ++r) {
        const RouteSet& set = proposal.changed[r] ? proposal.set : current;
        const double cost = set.RouteOf(r).Cost();
        largest = std::max(largest, cost);
        total += cost + set.Fixed(r);
    }
    return ScoreOf(largest, total, current.RouteCount()) + lost_weight * proposal.set.LostPrize();
}

double ImprovementStage::LostFirstWeight(const RouteSet& set) const {
    double smallest = std::numeric_limits<double>::infinity();
    for (Vertex node : set.Movable()) {
        const double prize = set.IsOptional(node) ? set.Tasks()->Prize(node) : 0.0;
        if (prize > 0.0) smallest = std::min(smallest, prize);
    }
    if (!std::isfinite(smallest)) return 1.0;
    return kLostFirst * std::max(1.0, scale) / smallest;
}

std::optional<ImprovementStage::Stop> ImprovementStage::Checkpoint(const ImprovementHooks& hooks) {
    if (settings.max_iterations != 0 && iterations >= settings.max_iterations) {
        return Stop::kIterations;
    }
    if (hooks.interrupted && hooks.interrupted()) return Stop::kInterrupted;
    if (settings.stop_when_feasible && FoundFeasible()) return Stop::kStalled;
    const double now = hooks.elapsed();
    if (hooks.deadline < now) return Stop::kBudget;
    if (!found_feasible) RepairNearEnd(now, hooks.deadline);
    if (!timed && iterations >= kTimedIterations && settings.max_iterations == 0) {
        timed = true;
        const double per_iteration = std::max(now - start_time, 1e-9) / kTimedIterations;
        const double fit = (hooks.deadline - now) / per_iteration / kCyclesInBudget;
        if (fit < static_cast<double>(cycle.length)) {
            cycle.length = std::max<uint64_t>(kMinCycle, static_cast<uint64_t>(fit));
        }
    }
    if (iterations - cycle.start >= cycle.length) {
        cycle.idle = cycle.improved ? 0 : cycle.idle + 1;
        // A large instance always has more to find: it runs to its budget; so does a search
        // that has not yet found a solution that keeps every rule.
        if (cycle.idle >= kIdleCycles && settings.stop_when_stalled && !granular &&
            FoundFeasible()) {
            return Stop::kStalled;
        }
        cycle.improved = false;
        cycle.start = iterations;
        ++cycle.ended;
        if (granular && settings.max_iterations == 0) FitCycle(now, hooks.deadline);
        // Until a feasible solution is found, the search goes on from where it is.
        if (FoundFeasible()) {
            current.CopyRoutesFrom(best);
            ++restarts;
        }
        score = Score(current);
    }
    return std::nullopt;
}

void ImprovementStage::FitCycle(double now, double deadline) {
    // Iterations slow down or speed up as the solution changes, so the length is measured
    // again for each cycle; the cycles left of the plan share the rest of the budget.
    const double per_iteration =
        std::max(now - start_time, 1e-9) / static_cast<double>(std::max<uint64_t>(iterations, 1));
    const uint64_t left = cycle.ended < kCyclesInBudget ? kCyclesInBudget - cycle.ended : 1;
    const double fit = (deadline - now) / per_iteration / static_cast<double>(left);
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
    if (!move.Apply(work, rng)) return;
    NoteViolations(work);
    const double candidate = Score(work);
    if (!(candidate < score - temperature * std::log(1.0 - Uniform(rng)))) return;
    current.CopyRoutesFrom(work);
    score = candidate;
    if (TakeBest() && hooks.improved) hooks.improved(best);
}

bool ImprovementStage::TakeBest() {
    if (current.Violation() != 0.0) {
        if (!found_feasible && score < lowest_score) {
            lowest.CopyRoutesFrom(current);
            lowest_score = score;
        }
        return false;
    }
    if (!Better(current, best)) return false;
    // The set's own measure of what bends is checked once more, whole, before it counts.
    if (current.Bends() && !KeepsEveryRule(current)) return false;
    best.CopyRoutesFrom(current);
    found_feasible = true;
    cycle.improved = true;
    return true;
}

bool ImprovementStage::KeepsEveryRule(const RouteSet& set) const {
    const std::vector<std::vector<int64_t>> paths = set.Paths();
    for (size_t r = 0; r < paths.size(); ++r) {
        if (!rules.EvaluatePath(paths[r], static_cast<int64_t>(r)).feasible) return false;
    }
    return set.Tasks() == nullptr || set.Tasks()->Check(rules, paths).feasible;
}

void ImprovementStage::NoteViolations(const RouteSet& result) {
    if (!current.Bends()) return;
    RuleAmounts weights = current.Weights();
    for (size_t rule = 0; rule < kSoftRuleCount; ++rule) {
        if (weights[rule] == 0.0) continue;
        const bool kept = result.ExcessOf(static_cast<SoftRule>(rule)) == 0.0;
        kept_moves[rule] += kept ? 1 : 0;
        broken_moves[rule] += kept ? 0 : 1;
    }
    if (++priced_moves < kMovesPerPriceUpdate) return;
    bool changed = false;
    for (size_t rule = 0; rule < kSoftRuleCount && repair_level == 0; ++rule) {
        if (weights[rule] == 0.0) continue;
        const double share =
            static_cast<double>(kept_moves[rule]) / static_cast<double>(priced_moves);
        const double before = weights[rule];
        if (share < kFeasibleShare - kShareMargin) {
            // Where most moves break a rule at any price, a higher one only blurs the costs.
            weights[rule] = std::min(before * kPriceRaise, kHighestPriceRatio * settings.weights[rule]);
        } else if (share > kFeasibleShare + kShareMargin) {
            weights[rule] = std::max(kLowestPrice, before * kPriceCut);
        }
        changed = changed || weights[rule] != before;
    }
    priced_moves = 0;
    kept_moves.fill(0);
    if (changed) UseWeights(weights);
}

void ImprovementStage::UseWeights(const RuleAmounts& weights) {
    for (RouteSet* set : {&current, &work, &best, &lowest}) set->SetWeights(weights);
    score = Score(current);
    lowest_score = Score(lowest);
}

void ImprovementStage::RepairNearEnd(double now, double deadline) {
    if (!current.Bends() || repair_level >= 2) return;
    const double share = settings.max_iterations != 0
                             ? static_cast<double>(iterations) / static_cast<double>(settings.max_iterations)
                             : (now - start_time) / std::max(deadline - start_time, 1e-9);
    const double due = repair_level == 0 ? kFirstRepairShare : kSecondRepairShare;
    if (share < due) return;
    ++repair_level;
    RuleAmounts weights = current.Weights();
    for (double& weight : weights) weight *= kRepairRaise;
    current.CopyRoutesFrom(lowest);
    ++restarts;
    UseWeights(weights);
}

void ImprovementStage::BuildNeighbours() {
    if (neighbours.size() != current.VertexCount()) neighbours = BuildNearLists(current);
    const size_t n = neighbours.size();
    depot_distance.assign(n, RouteSet::kInfeasible);
    for (size_t v = 0; v < n; ++v) {
        for (size_t r = 0; r < current.RouteCount(); ++r) {
            const std::vector<Vertex>& nodes = current.RouteOf(r).nodes;
            if (nodes.empty()) continue;
            depot_distance[v] = std::min(
                depot_distance[v], current.Distance(static_cast<Vertex>(v), nodes.front()));
        }
    }
}

}  // namespace tamrik
