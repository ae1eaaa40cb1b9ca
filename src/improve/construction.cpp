#include "improve/construction.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>

#include "improve/best_insertion.h"
#include "improve/near_lists.h"
#include "improve/reversal_descent.h"
#include "improve/task_order.h"
#include "model/problem_checks.h"
#include "route/route_moves.h"
#include "route/violation_text.h"

namespace tamrik {
namespace {

// Orders tried before giving up on a node that fits nowhere: at least this many, and more
// on small instances, where an order costs little and tight limits leave few that work.
constexpr size_t kAttempts = 4;
constexpr size_t kNodesTriedPerNode = 4096;
// After the first order, this share of the places (per hundred) is passed over at random, so
// that nodes also go to places other than their greedy best.
constexpr uint64_t kPlacesPassedOver = 25;
// Above this many vertices, insertion looks next to the nearest placed nodes only.
constexpr size_t kScanAllUpTo = kMaxVertices;
constexpr size_t kNearPositions = 20;
// How often the construction asks whether to give up, and what InsertAll then answers.
constexpr size_t kInsertionsPerPoll = 256;
constexpr Vertex kGaveUp = -2;
// Segment reversals are tried towards this many nearest vertices of a node.
constexpr size_t kReversalCandidates = 20;
// The first price of one unit of time warp or of cost over an agent's limit: tight days on
// the time-window sets are planned sooner from there than from par.
constexpr double kFirstOverrun = 10.0;

// Spreads small seeds over all 64 bits: a generator started from a small state draws small
// numbers first.
uint64_t Scramble(uint64_t x) {
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

}  // namespace

Construction::Construction(const RouteRules& rules_in, bool min_max_in, uint64_t seed_in,
                           const TaskRules* tasks_in)
    : rules(rules_in), tasks(tasks_in), min_max(min_max_in), seed(seed_in) {}

std::string Construction::NodeName(Vertex vertex) const {
    const auto& points = rules.Points();
    return "node " + std::to_string(points[static_cast<size_t>(vertex)].node_id);
}

std::string Construction::RuleBrokenBy(const std::vector<Vertex>& path, size_t r) const {
    using Rule = RouteViolation::Rule;
    switch (rules.FirstViolation(path, static_cast<int64_t>(r)).rule) {
        case Rule::kWindowClosed:
        case Rule::kShiftOver:
            return "time";
        case Rule::kCostLimit:
        case Rule::kDistanceLimit:
        case Rule::kDurationLimit:
            return "cost limit";
        case Rule::kStopLimit:
            return "stops";
        case Rule::kNone: {
            const bool loads_fit = tasks == nullptr || !tasks->HasLoads() ||
                                   tasks->LoadsFit(path.data(), path.size(), r);
            return loads_fit ? "task order" : "capacity";
        }
        default:
            return "type";
    }
}

std::string Construction::MostBlocking(const RouteSet& set, Vertex node) const {
    // Blocked at how many places by type, time, cost limit, stops, and by loads or pairs.
    std::map<std::string, size_t> blocked;
    std::vector<Vertex> path;
    for (size_t r = 0; r < set.RouteCount(); ++r) {
        const std::vector<Vertex>& nodes = set.RouteOf(r).nodes;
        for (size_t q = set.FirstFree(r); q < nodes.size(); ++q) {
            path.assign(nodes.begin(), nodes.end());
            path.insert(path.begin() + static_cast<std::ptrdiff_t>(q), node);
            ++blocked[RuleBrokenBy(path, r)];
        }
    }
    const auto most = std::max_element(blocked.begin(), blocked.end(), [](const auto& a, const auto& b) {
        return a.second < b.second;
    });
    return most == blocked.end() ? std::string("type") : most->first;
}

std::string Construction::WhyNoRoom(const RouteSet& set, Vertex node) const {
    return "no room in the best plan found, blocked most often by " + MostBlocking(set, node);
}

std::string Construction::WhyNoDirectWay(size_t agent) const {
    const auto index = static_cast<int64_t>(agent);
    const std::vector<Vertex> path{rules.StartNodes()[agent], rules.EndNodes()[agent]};
    const RouteViolation why = rules.FirstViolation(path, index);
    const std::string reason = "agent " + std::to_string(rules.Agents()[agent].agent_id) +
                               " cannot go from its start to its end: ";
    if (why.rule == RouteViolation::Rule::kCostLimit) {
        return reason + "the direct way costs " + NumberText(why.cost) +
               ", above its cost limit of " + NumberText(rules.CostLimit(index));
    }
    return reason + ViolationText(rules, why, index);
}

bool Construction::BuildSoft(RouteSet& set, const RouteSet& empty, const NearLists& near,
                             const std::function<bool()>& interrupted, Vertex stuck,
                             ConstructionOutcome& outcome) {
    const std::string hard_reason = WhyNoRoom(set, stuck);
    const RuleAmounts weights = FirstWeights(set);
    if (!AnyBends(weights)) return false;
    RouteSet soft = empty;
    soft.SetWeights(weights);
    // Windows closing first, as for the hard attempts; with loads, largest demand first
    // packs them best (alone, when only loads bend): the order whose routes cost less with
    // their prices is kept.
    std::vector<Vertex> order = FirstOrder(soft);
    double priced = DaysBend(weights) ? BuildSoftInOrder(soft, order, near, interrupted)
                                      : RouteSet::kInfeasible;
    if (weights[kCapacityRule] > 0.0) {
        RouteSet by_demand = empty;
        by_demand.SetWeights(weights);
        std::stable_sort(order.begin(), order.end(), [this](Vertex a, Vertex b) {
            return tasks->Demand(a) > tasks->Demand(b);
        });
        const double by_demand_priced = BuildSoftInOrder(by_demand, order, near, interrupted);
        if (by_demand_priced < priced) {
            soft = by_demand;
            priced = by_demand_priced;
        }
    }
    if (priced == RouteSet::kInfeasible) return false;
    outcome.stuck = stuck;
    outcome.stuck_reason = hard_reason;
    if (soft.Violation() > 0.0) outcome.weights = weights;
    soft.SetWeights(RuleAmounts{});
    set = soft;
    return true;
}

double Construction::BuildSoftInOrder(RouteSet& set, std::vector<Vertex> order,
                                      const NearLists& near,
                                      const std::function<bool()>& interrupted) {
    TaskOrder(set.Tasks(), set.VertexCount()).Apply(order);
    RequiredFirst(set, order);
    if (InsertAll(set, order, near, interrupted, 0) != -1) return RouteSet::kInfeasible;
    return set.Total();
}

RuleAmounts Construction::FirstWeights(const RouteSet& set) const {
    return FirstPrices(rules, tasks, set);
}

RuleAmounts FirstPrices(const RouteRules& rules, const TaskRules* tasks, const RouteSet& set) {
    double farthest = 0.0;
    double largest_demand = 0.0;
    const Vertex start = set.RouteOf(0).nodes.front();
    const bool loads = tasks != nullptr && tasks->HasLoads();
    for (Vertex v : set.Movable()) {
        farthest = std::max(farthest, set.Distance(start, v));
        if (loads) largest_demand = std::max(largest_demand, std::fabs(tasks->Demand(v)));
    }
    RuleAmounts weights{};
    if (loads) weights[kCapacityRule] = std::clamp(farthest / std::max(largest_demand, 1.0), 0.1, 1000.0);
    if (rules.UsesTimeWindows() || rules.AnyShift()) weights[kTimeRule] = kFirstOverrun;
    for (size_t r = 0; r < set.RouteCount(); ++r) {
        if (rules.HasRouteLimit(static_cast<int64_t>(r))) weights[kCostLimitRule] = kFirstOverrun;
    }
    if (rules.AnyStopLimit()) weights[kStopRule] = std::clamp(farthest, 1.0, 1e6);
    return weights;
}

std::vector<Vertex> Construction::FirstOrder(const RouteSet& set) const {
    std::vector<Vertex> order = set.Movable();
    const size_t n = set.VertexCount();
    // Latest time a node may be reached, and its distance from the nearest route start.
    std::vector<double> closes(n, std::numeric_limits<double>::infinity());
    std::vector<double> remote(n, std::numeric_limits<double>::infinity());
    for (Vertex v : order) {
        closes[static_cast<size_t>(v)] = rules.WindowClose(v);
        for (size_t r = 0; r < set.RouteCount(); ++r) {
            const double distance = set.Distance(v, set.RouteOf(r).nodes.front());
            remote[static_cast<size_t>(v)] = std::min(remote[static_cast<size_t>(v)], distance);
        }
    }
    std::stable_sort(order.begin(), order.end(), [&](Vertex a, Vertex b) {
        const auto i = static_cast<size_t>(a);
        const auto j = static_cast<size_t>(b);
        if (closes[i] != closes[j]) return closes[i] < closes[j];
        return remote[i] > remote[j];
    });
    return order;
}

Vertex Construction::InsertAll(RouteSet& set, const std::vector<Vertex>& order,
                                const std::vector<std::vector<Vertex>>& near,
                                const std::function<bool()>& interrupted, size_t attempt,
                                std::vector<Vertex>* left_out) {
    BestInsertion insertion(min_max);
    if (set.VertexCount() > kScanAllUpTo) insertion.LookNear(&near, kNearPositions);
    if (attempt > 0) insertion.SkipNowAndThen(Scramble(seed + attempt), kPlacesPassedOver);
    std::vector<uint8_t> pending(set.VertexCount(), 0);
    MarkPending(order, pending);
    std::vector<Vertex> deferred;
    for (size_t k = 0; k < order.size(); ++k) {
        const Vertex node = order[k];
        if (k % kInsertionsPerPoll == 0 && interrupted && interrupted()) return kGaveUp;
        // Went in with its partner.
        if (set.RouteHolding(node) >= 0) continue;
        if (set.IsOptional(node)) {
            pending[static_cast<size_t>(node)] = 0;
            insertion.PlaceIfWorth(set, node);
            continue;
        }
        if (insertion.Place(set, node, pending)) continue;
        // Loads that go up and down may make room for it once others are in.
        if (set.Tasks() != nullptr) {
            deferred.push_back(node);
        } else if (left_out != nullptr) {
            left_out->push_back(node);
        } else {
            return node;
        }
    }
    return InsertDeferred(set, insertion, deferred, pending, left_out);
}

Vertex Construction::InsertDeferred(RouteSet& set, BestInsertion& insertion,
                                     std::vector<Vertex>& deferred,
                                     std::vector<uint8_t>& pending,
                                     std::vector<Vertex>* left_out) {
    for (bool progress = true; progress && !deferred.empty();) {
        progress = false;
        for (size_t k = 0; k < deferred.size();) {
            const Vertex node = deferred[k];
            if (set.RouteHolding(node) >= 0 || insertion.Place(set, node, pending)) {
                deferred.erase(deferred.begin() + static_cast<std::ptrdiff_t>(k));
                progress = true;
            } else {
                ++k;
            }
        }
    }
    if (left_out != nullptr) {
        left_out->insert(left_out->end(), deferred.begin(), deferred.end());
        return -1;
    }
    return deferred.empty() ? -1 : deferred.front();
}

void Construction::DropPartners(RouteSet& set, std::vector<Vertex>& left_out) const {
    if (tasks == nullptr || !tasks->HasPairs()) return;
    for (size_t k = 0; k < left_out.size(); ++k) {
        for (Vertex partner : tasks->SameOf(left_out[k])) {
            const int32_t holder = set.RouteHolding(partner);
            if (holder < 0) continue;
            const auto at = static_cast<size_t>(set.PositionOf(partner));
            set.RemoveRange(static_cast<size_t>(holder), at, at);
            left_out.push_back(partner);
        }
    }
}

bool Construction::StartWarm(RouteSet& set, const WarmStart& warm,
                             ConstructionOutcome& outcome) const {
    for (size_t r = 0; r < set.RouteCount() && r < warm.stops.size(); ++r) {
        const size_t pinned = r < warm.pinned.size() ? warm.pinned[r] : 0;
        if (set.LoadRoute(r, warm.stops[r])) {
            set.PinPrefix(r, pinned);
            continue;
        }
        for (size_t k = 0; k < warm.stops[r].size(); ++k) {
            const Vertex node = warm.stops[r][k];
            const size_t q = set.RouteOf(r).nodes.size() - 1;
            const InsertMove move{node, r, q};
            bool fits = move.Price(set).Feasible();
            if (fits && !move.Apply(set)) {
                set.RemoveRange(r, q, q);
                fits = false;
            }
            if (fits) continue;
            if (k < pinned) {
                std::vector<Vertex> path(set.RouteOf(r).nodes.begin(), set.RouteOf(r).nodes.end());
                path.insert(path.end() - 1, node);
                outcome.reason = "the pinned stop " + NodeName(node) + " of agent " +
                                 std::to_string(rules.Agents()[r].agent_id) + " breaks its " +
                                 RuleBrokenBy(path, r) + " rule where it stands";
                return false;
            }
            outcome.moved.emplace_back(r, node);
        }
        set.PinPrefix(r, pinned);
    }
    return true;
}

ConstructionOutcome Construction::Build(const std::function<bool()>& interrupted,
                                        const WarmStart* warm) {
    ConstructionOutcome outcome;
    RouteSet set(rules, tasks);
    const std::vector<size_t> broken = set.LoadEmpty();
    if (!broken.empty()) {
        outcome.reason = WhyNoDirectWay(broken.front());
        return outcome;
    }
    if (warm != nullptr && !StartWarm(set, *warm, outcome)) return outcome;
    outcome.near = BuildNearLists(set);
    const NearLists& near = outcome.near;
    const RouteSet empty = set;
    TaskOrder task_order(set.Tasks(), set.VertexCount());
    std::vector<Vertex> order = FirstOrder(set);
    task_order.Apply(order);
    RequiredFirst(set, order);
    std::mt19937_64 rng(seed);
    Vertex stuck = -1;
    const size_t attempts = std::max(kAttempts, kNodesTriedPerNode / std::max<size_t>(order.size(), 1));
    for (size_t attempt = 0; attempt < attempts; ++attempt) {
        if (attempt > 0) {
            set.CopyRoutesFrom(empty);
            // The node that fitted nowhere goes first, the rest in a new random order.
            std::shuffle(order.begin(), order.end(), rng);
            std::iter_swap(order.begin(), std::find(order.begin(), order.end(), stuck));
            task_order.Apply(order);
            RequiredFirst(set, order);
        }
        stuck = InsertAll(set, order, near, interrupted, attempt);
        if (stuck < 0) break;
    }
    std::vector<Vertex> left_out;
    if (stuck >= 0 && stuck != kGaveUp && leave_out) {
        // The order of the first attempt, with what fits nowhere left out.
        set.CopyRoutesFrom(empty);
        order = FirstOrder(set);
        task_order.Apply(order);
        RequiredFirst(set, order);
        stuck = InsertAll(set, order, near, interrupted, 0, &left_out);
        DropPartners(set, left_out);
        for (Vertex node : left_out) outcome.left_out.emplace_back(node, WhyNoRoom(set, node));
    }
    if (stuck == kGaveUp) {
        outcome.reason = "interrupted";
        return outcome;
    }
    if (stuck >= 0 && soften && !leave_out &&
        BuildSoft(set, empty, near, interrupted, stuck, outcome)) {
        stuck = -1;
    }
    if (stuck >= 0) {
        outcome.reason = "no route could take " + NodeName(stuck) + ", blocked most often by " +
                         MostBlocking(set, stuck);
        outcome.stuck = stuck;
        outcome.stuck_reason = WhyNoRoom(set, stuck);
        return outcome;
    }
    ReversalDescent descent(near, kReversalCandidates);
    for (size_t r = 0; r < set.RouteCount(); ++r) {
        if (set.VertexCount() <= kScanAllUpTo) {
            descent.Improve(set, r);
            continue;
        }
        std::vector<Vertex> dirty = set.RouteOf(r).nodes;
        descent.ImproveNear(set, r, dirty);
    }
    outcome.built = true;
    outcome.paths = set.Paths();
    return outcome;
}

}  // namespace tamrik
