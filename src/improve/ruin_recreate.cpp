#include "improve/ruin_recreate.h"

#include <algorithm>

#include "route/route_moves.h"

namespace tamrik {
namespace {

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
// A granular move puts a node back only next to its nearest this many, and empties at once
// only routes this short.
constexpr size_t kNearPositions = 20;
constexpr size_t kLargestEmptied = 60;
// Under soft loads without overload, one recreate in this many puts the largest demands in
// first.
constexpr uint64_t kDemandFirstOdds = 5;
// One recreate in this many puts optional stops in wherever they fit.
constexpr uint64_t kOptionalAnywayOdds = 4;

}  // namespace

RuinRecreate::RuinRecreate(bool min_max_in, const TaskRules* tasks, size_t vertex_count)
    : min_max(min_max_in), insertion(min_max_in), task_order(tasks, vertex_count) {}

void RuinRecreate::Prepare(const RouteSet& set, const NearLists& near_lists,
                           const std::vector<double>& distances, bool granular_in) {
    neighbours = &near_lists;
    descent = ReversalDescent(near_lists, kReversalCandidates);
    depot_distance = &distances;
    granular = granular_in;
    if (granular) insertion.LookNear(neighbours, kNearPositions);
    ruined.assign(set.RouteCount(), 0);
    touched.assign(set.RouteCount(), 0);
    pending.assign(set.VertexCount(), 0);
    dirty.assign(set.RouteCount(), {});
}

bool RuinRecreate::Apply(RouteSet& work, std::mt19937_64& generator) {
    rng = &generator;
    return Ruin(work) && Recreate(work);
}

bool RuinRecreate::Ruin(RouteSet& work) {
    removed.clear();
    removed_from.clear();
    std::fill(ruined.begin(), ruined.end(), 0);
    for (std::vector<Vertex>& nodes : dirty) nodes.clear();
    if (!min_max && Draw(kWholeRouteOdds) == 0) {
        // A route emptied is this ruin, also when what is left of it breaks its rules.
        if (const std::optional<bool> emptied = EmptyOneRoute(work)) return *emptied;
    }
    const std::vector<Vertex>& movable = work.Movable();
    const size_t most = std::min({movable.size(), kMaxRemoved, std::max<size_t>(10, movable.size() / 2)});
    const size_t target = 1 + Draw(most);
    seed_node = movable[Draw(movable.size())];
    if (min_max && Draw(2) == 0) {
        // Half of the time the ruin starts on the longest route.
        size_t longest = 0;
        for (size_t r = 1; r < work.RouteCount(); ++r) {
            if (work.RouteOf(r).Cost() > work.RouteOf(longest).Cost()) longest = r;
        }
        const std::vector<Vertex>& nodes = work.RouteOf(longest).nodes;
        if (nodes.size() > 2) {
            const Vertex node = nodes[1 + Draw(nodes.size() - 2)];
            if (work.IsMovable(node)) seed_node = node;
        }
    }
    if (work.Violation() > 0.0 && Draw(2) == 0) SeedOnBroken(work);
    bool feasible = true;
    for (Vertex v : (*neighbours)[static_cast<size_t>(seed_node)]) {
        if (removed.size() >= target) break;
        const int32_t holder = work.RouteHolding(v);
        if (holder < 0 && work.IsOptional(v) && work.IsMovable(v)) {
            // An optional stop left out gets its chance to go in again.
            removed.push_back(v);
            removed_from.push_back(-1);
            continue;
        }
        if (holder < 0 || ruined[static_cast<size_t>(holder)] || !work.IsMovable(v)) continue;
        const auto r = static_cast<size_t>(holder);
        const std::vector<Vertex>& nodes = work.RouteOf(r).nodes;
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
    if (work.Tasks() != nullptr) return RemovePartners(work);
    return feasible;
}

void RuinRecreate::SeedOnBroken(const RouteSet& work) {
    // A random route that breaks a rule, found from a random first one.
    const size_t count = work.RouteCount();
    const size_t first = Draw(count);
    for (size_t k = 0; k < count; ++k) {
        const size_t r = (first + k) % count;
        const std::vector<Vertex>& nodes = work.RouteOf(r).nodes;
        if (work.RouteOf(r).penalty == 0.0 || nodes.size() < 3) continue;
        const Vertex node = nodes[1 + Draw(nodes.size() - 2)];
        if (work.IsMovable(node)) seed_node = node;
        return;
    }
}

bool RuinRecreate::RemovePartners(RouteSet& work) {
    const TaskRules& tasks = *work.Tasks();
    if (!tasks.HasPairs()) return work.RecheckAll();
    // Partners in order go along only from the same route and only where loads could
    // otherwise go wrong; across routes a node waits for a partner that stays.
    const bool loads = tasks.HasLoads();
    for (size_t k = 0; k < removed.size(); ++k) {
        const Vertex node = removed[k];
        for (const std::vector<Vertex>* partners :
             {&tasks.SameOf(node), &tasks.BeforeOf(node), &tasks.AfterOf(node)}) {
            const bool same = partners == &tasks.SameOf(node);
            for (Vertex partner : *partners) {
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

std::optional<bool> RuinRecreate::EmptyOneRoute(RouteSet& work) {
    // A random route that has nodes to give, all of them movable.
    const size_t count = work.RouteCount();
    const size_t first = Draw(count);
    for (size_t k = 0; k < count; ++k) {
        const size_t r = (first + k) % count;
        const std::vector<Vertex>& nodes = work.RouteOf(r).nodes;
        if (nodes.size() < 3 || (granular && nodes.size() > kLargestEmptied + 2)) continue;
        if (!std::all_of(nodes.begin() + 1, nodes.end() - 1,
                         [&work](Vertex node) { return work.IsMovable(node); })) {
            continue;
        }
        removed.assign(nodes.begin() + 1, nodes.end() - 1);
        removed_from.assign(removed.size(), static_cast<int32_t>(r));
        seed_node = removed[Draw(removed.size())];
        ruined[r] = 1;
        const bool feasible = work.RemoveRange(r, 1, nodes.size() - 2);
        return work.Tasks() != nullptr ? RemovePartners(work) : feasible;
    }
    return std::nullopt;
}

void RuinRecreate::OrderRemoved(const RouteSet& work) {
    // Under soft loads, largest demand first packs the loads best: half of the time while
    // some route is overloaded, else now and then.
    if (work.Weights()[kCapacityRule] > 0.0 &&
        Draw(work.ExcessOf(kCapacityRule) > 0.0 ? 2 : kDemandFirstOdds) == 0) {
        const TaskRules& tasks = *work.Tasks();
        std::shuffle(removed.begin(), removed.end(), *rng);
        std::stable_sort(removed.begin(), removed.end(), [&tasks](Vertex a, Vertex b) {
            return tasks.Demand(a) > tasks.Demand(b);
        });
        return;
    }
    const uint64_t order = Draw(10);
    if (order < 5) {
        std::shuffle(removed.begin(), removed.end(), *rng);
    } else if (order < 8) {
        // Far from the depots first: the hardest to place go while there is most room.
        std::sort(removed.begin(), removed.end(), [this](Vertex a, Vertex b) {
            return (*depot_distance)[static_cast<size_t>(a)] > (*depot_distance)[static_cast<size_t>(b)];
        });
    } else {
        std::sort(removed.begin(), removed.end(), [&work, this](Vertex a, Vertex b) {
            return work.Distance(seed_node, a) < work.Distance(seed_node, b);
        });
    }
}

bool RuinRecreate::Recreate(RouteSet& work) {
    OrderRemoved(work);
    task_order.Apply(removed);
    RequiredFirst(work, removed);
    std::fill(touched.begin(), touched.end(), 0);
    if (work.Tasks() != nullptr) {
        MarkPending(removed, pending);
        // Now and then optional stops go in wherever they fit, paying or not.
        const bool anyway = work.Tasks()->HasOptional() && Draw(kOptionalAnywayOdds) == 0;
        for (Vertex node : removed) {
            if (work.RouteHolding(node) >= 0) continue;
            if (work.IsOptional(node)) {
                pending[static_cast<size_t>(node)] = 0;
                if (!insertion.PlaceIfWorth(work, node, anyway)) continue;
            } else if (!insertion.Place(work, node, pending)) {
                for (Vertex other : removed) pending[static_cast<size_t>(other)] = 0;
                return false;
            }
            const auto r = static_cast<size_t>(work.RouteHolding(node));
            touched[r] = 1;
            dirty[r].push_back(node);
        }
    }
    for (size_t k = 0; k < removed.size() && work.Tasks() == nullptr; ++k) {
        const Vertex node = removed[k];
        const BestInsertion::Choice choice = insertion.Find(work, node);
        if (!choice.found || !InsertMove{node, choice.route, choice.position}.Apply(work)) return false;
        touched[choice.route] = 1;
        dirty[choice.route].push_back(node);
    }
    for (size_t r = 0; r < work.RouteCount(); ++r) {
        if (!touched[r] && !ruined[r]) continue;
        if (granular) {
            descent.ImproveNear(work, r, dirty[r]);
        } else {
            descent.Improve(work, r);
        }
    }
    return true;
}

}  // namespace tamrik
