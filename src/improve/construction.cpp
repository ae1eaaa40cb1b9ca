#include "improve/construction.h"

#include <algorithm>
#include <limits>
#include <random>

#include "improve/best_insertion.h"
#include "improve/near_lists.h"
#include "improve/task_order.h"
#include "model/problem_checks.h"

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
constexpr int32_t kGaveUp = -2;
// Segment reversals are tried towards this many nearest vertices of a node.
constexpr size_t kReversalCandidates = 20;

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

std::string Construction::NodeName(int32_t vertex) const {
    const auto& points = rules.Points();
    return "node " + std::to_string(points[static_cast<size_t>(vertex)].node_id);
}

std::string Construction::WhyNoDirectWay(size_t agent) const {
    using Rule = RouteViolation::Rule;
    const auto index = static_cast<int64_t>(agent);
    const std::vector<int64_t> path{rules.StartNodes()[agent], rules.EndNodes()[agent]};
    const RouteViolation why = rules.FirstViolation(path, index);
    std::string reason = "agent " + std::to_string(rules.Agents()[agent].agent_id) +
                         " cannot go from its start to its end: ";
    const auto at = static_cast<int32_t>(why.node);
    switch (why.rule) {
        case Rule::kTypeNotAllowed:
            return reason + NodeName(at) + " refuses its type";
        case Rule::kForeignEndpoint:
            return reason + NodeName(at) + " is another agent's start or end";
        case Rule::kWindowClosed:
            return reason + "the window of " + NodeName(at) + " closes at " +
                   NumberText(rules.WindowClose(why.node)) + ", before its arrival at " +
                   NumberText(why.cost);
        case Rule::kShiftOver:
            return reason + "its shift is over before it reaches " + NodeName(at);
        case Rule::kCostLimit:
            return reason + "the direct way costs " + NumberText(why.cost) +
                   ", above its cost limit of " + NumberText(rules.CostLimit(index));
        default:
            return reason + "its start or end is not a node of the instance";
    }
}

std::string Construction::RulesInForce() const {
    std::string rules_named = "the allowed types, time windows, cost limits";
    if (tasks != nullptr && tasks->Active()) rules_named += ", capacities, task order";
    if (rules.KeepsDays()) rules_named += ", shifts, stop limits";
    const size_t last = rules_named.rfind(", ");
    return rules_named.substr(0, last) + " and " + rules_named.substr(last + 2);
}

std::vector<int32_t> Construction::FirstOrder(const RouteSet& set) const {
    std::vector<int32_t> order = set.Movable();
    const size_t n = set.VertexCount();
    // Latest time a node may be reached, and its distance from the nearest route start.
    std::vector<double> closes(n, std::numeric_limits<double>::infinity());
    std::vector<double> remote(n, std::numeric_limits<double>::infinity());
    for (int32_t v : order) {
        closes[static_cast<size_t>(v)] = rules.WindowClose(v);
        for (size_t r = 0; r < set.RouteCount(); ++r) {
            const double distance = set.Distance(v, set.RouteOf(r).nodes.front());
            remote[static_cast<size_t>(v)] = std::min(remote[static_cast<size_t>(v)], distance);
        }
    }
    std::stable_sort(order.begin(), order.end(), [&](int32_t a, int32_t b) {
        const auto i = static_cast<size_t>(a);
        const auto j = static_cast<size_t>(b);
        if (closes[i] != closes[j]) return closes[i] < closes[j];
        return remote[i] > remote[j];
    });
    return order;
}

int32_t Construction::InsertAll(RouteSet& set, const std::vector<int32_t>& order,
                                const std::vector<std::vector<int32_t>>& near,
                                const std::function<bool()>& interrupted, size_t attempt) {
    BestInsertion insertion(min_max);
    if (set.VertexCount() > kScanAllUpTo) insertion.LookNear(&near, kNearPositions);
    if (attempt > 0) insertion.SkipNowAndThen(Scramble(seed + attempt), kPlacesPassedOver);
    std::vector<uint8_t> pending(set.VertexCount(), 0);
    MarkPending(order, pending);
    std::vector<int32_t> deferred;
    for (size_t k = 0; k < order.size(); ++k) {
        const int32_t node = order[k];
        if (k % kInsertionsPerPoll == 0 && interrupted && interrupted()) return kGaveUp;
        // Went in with its partner.
        if (set.RouteHolding(node) >= 0) continue;
        if (insertion.Place(set, node, pending)) continue;
        // Loads that go up and down may make room for it once others are in.
        if (set.Tasks() == nullptr) return node;
        deferred.push_back(node);
    }
    return InsertDeferred(set, insertion, deferred, pending);
}

int32_t Construction::InsertDeferred(RouteSet& set, BestInsertion& insertion,
                                     std::vector<int32_t>& deferred,
                                     std::vector<uint8_t>& pending) {
    for (bool progress = true; progress && !deferred.empty();) {
        progress = false;
        for (size_t k = 0; k < deferred.size();) {
            const int32_t node = deferred[k];
            if (set.RouteHolding(node) >= 0 || insertion.Place(set, node, pending)) {
                deferred.erase(deferred.begin() + static_cast<std::ptrdiff_t>(k));
                progress = true;
            } else {
                ++k;
            }
        }
    }
    return deferred.empty() ? -1 : deferred.front();
}

ConstructionOutcome Construction::Build(const std::function<bool()>& interrupted) {
    ConstructionOutcome outcome;
    RouteSet set(rules, tasks);
    const std::vector<size_t> broken = set.LoadEmpty();
    if (!broken.empty()) {
        outcome.reason = WhyNoDirectWay(broken.front());
        return outcome;
    }
    outcome.near = BuildNearLists(set);
    const NearLists& near = outcome.near;
    const RouteSet empty = set;
    TaskOrder task_order(set.Tasks(), set.VertexCount());
    std::vector<int32_t> order = FirstOrder(set);
    task_order.Apply(order);
    std::mt19937_64 rng(seed);
    int32_t stuck = -1;
    const size_t attempts = std::max(kAttempts, kNodesTriedPerNode / std::max<size_t>(order.size(), 1));
    for (size_t attempt = 0; attempt < attempts; ++attempt) {
        if (attempt > 0) {
            set.CopyRoutesFrom(empty);
            // The node that fitted nowhere goes first, the rest in a new random order.
            std::shuffle(order.begin(), order.end(), rng);
            std::iter_swap(order.begin(), std::find(order.begin(), order.end(), stuck));
            task_order.Apply(order);
        }
        stuck = InsertAll(set, order, near, interrupted, attempt);
        if (stuck < 0) break;
    }
    if (stuck == kGaveUp) {
        outcome.reason = "interrupted";
        return outcome;
    }
    if (stuck >= 0) {
        outcome.reason = "no route could take " + NodeName(stuck) + " under " + RulesInForce();
        return outcome;
    }
    for (size_t r = 0; r < set.RouteCount(); ++r) {
        if (set.VertexCount() <= kScanAllUpTo) {
            set.ImproveByReversal(r, near, kReversalCandidates);
            continue;
        }
        std::vector<int32_t> dirty = set.RouteOf(r).nodes;
        set.ImproveReversalsNear(r, near, kReversalCandidates, dirty);
    }
    outcome.built = true;
    outcome.paths = set.Paths();
    return outcome;
}

}  // namespace tamrik
