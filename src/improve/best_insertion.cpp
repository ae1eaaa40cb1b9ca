#include "improve/best_insertion.h"

#include <algorithm>
#include <utility>

#include "route/route_moves.h"

namespace tamrik {
namespace {

// Costs within this of each other count as equal.
constexpr double kTolerance = 1e-9;

// What route r costs with the node put in before position q: an insert move's price, less
// its guards, which the scans have passed already (the node is out, route r accepts it).
double CostWith(const RouteSet& set, size_t r, size_t q, Vertex node) {
    return set.InsertionCost(r, q, node);
}

bool PutIn(RouteSet& set, size_t r, size_t q, Vertex node) {
    return InsertMove{node, r, q}.Apply(set);
}

}  // namespace

BestInsertion::Choice BestInsertion::Find(RouteSet& set, Vertex node) {
    const double largest = min_max ? set.Largest() : 0.0;
    Best best{RouteSet::kInfeasible, RouteSet::kInfeasible, Choice{}};
    if (near != nullptr) ScanNear(set, node, largest, best);
    if (!best.choice.found) ScanEverywhere(set, node, largest, best);
    return best.choice;
}

void BestInsertion::Consider(RouteSet& set, size_t r, size_t q, Vertex node, double largest,
                             Best& best) {
    const double after = CostWith(set, r, q, node);
    if (after == RouteSet::kInfeasible) return;
    double increase = after - set.RouteOf(r).Cost() + set.OpeningCost(r);
    double largest_after = std::max(after, largest);
    // Other routes may wait for this one: the change is measured on all of them.
    if (set.DelaysOthers(r, q, node)) {
        double total_after = 0.0;
        if (!set.TryInsertion(r, q, node, largest_after, total_after)) return;
        increase = total_after - set.Total();
    }
    const double primary = min_max ? largest_after : increase;
    const double secondary = min_max ? increase : 0.0;
    if (primary < best.primary - kTolerance ||
        (primary <= best.primary + kTolerance && secondary < best.secondary)) {
        best = Best{primary, secondary, Choice{true, r, q}};
    }
}

void RequiredFirst(const RouteSet& set, std::vector<Vertex>& order) {
    if (set.Tasks() == nullptr || !set.Tasks()->HasOptional()) return;
    std::stable_partition(order.begin(), order.end(),
                          [&set](Vertex node) { return !set.IsOptional(node); });
}

void MarkPending(const std::vector<Vertex>& order, std::vector<uint8_t>& pending) {
    for (Vertex node : order) pending[static_cast<size_t>(node)] = 1;
}

BestInsertion::PairChoice BestInsertion::FindPair(RouteSet& set, Vertex first, Vertex second) {
    PairChoice choice = ScanPairs(set, first, second, near != nullptr);
    if (!choice.found && near != nullptr) choice = ScanPairs(set, first, second, false);
    return choice;
}

void BestInsertion::PositionsFrom(const RouteSet& set, size_t r, Vertex node, size_t from,
                                  bool only_near, std::vector<size_t>& out) const {
    out.clear();
    const size_t size = set.RouteOf(r).nodes.size();
    if (!only_near) {
        for (size_t q = from; q < size; ++q) out.push_back(q);
        return;
    }
    // Next to the node's nearest neighbours on the route, and at both ends of the range.
    out.push_back(from);
    out.push_back(size - 1);
    const std::vector<Vertex>& close = (*near)[static_cast<size_t>(node)];
    for (size_t c = 0; c < std::min(near_count, close.size()); ++c) {
        if (set.RouteHolding(close[c]) != static_cast<int32_t>(r)) continue;
        const auto at = static_cast<size_t>(set.PositionOf(close[c]));
        if (at >= from) out.push_back(at);
        if (at + 1 >= from) out.push_back(at + 1);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
}

BestInsertion::PairChoice BestInsertion::ScanPairs(RouteSet& set, Vertex first, Vertex second,
                                                   bool only_near) {
    PairChoice choice;
    double best_primary = RouteSet::kInfeasible;
    double best_secondary = RouteSet::kInfeasible;
    const double largest = min_max ? set.Largest() : 0.0;
    for (size_t r = 0; r < set.RouteCount(); ++r) {
        if (!set.Accepts(r, first) || !set.Accepts(r, second)) continue;
        const double before = set.RouteOf(r).Cost();
        PositionsFrom(set, r, first, 1, only_near, first_places);
        for (size_t q : first_places) {
            if (CostWith(set, r, q, first) == RouteSet::kInfeasible) continue;
            set.InsertForLook(r, q, first);
            PositionsFrom(set, r, second, q + 1, only_near, second_places);
            for (size_t p : second_places) {
                const double after = CostWith(set, r, p, second);
                if (after == RouteSet::kInfeasible) continue;
                const double increase = after - before + set.OpeningCost(r);
                double primary = min_max ? std::max(after, largest) : increase;
                double secondary = min_max ? increase : 0.0;
                if (primary < best_primary - kTolerance ||
                    (primary <= best_primary + kTolerance && secondary < best_secondary)) {
                    best_primary = primary;
                    best_secondary = secondary;
                    choice = PairChoice{true, r, q, p};
                }
            }
            set.RemoveAfterLook(r, q);
        }
    }
    return choice;
}

bool BestInsertion::Place(RouteSet& set, Vertex node, std::vector<uint8_t>& pending) {
    const TaskRules* tasks = set.Tasks();
    Vertex partner = -1;
    if (tasks != nullptr) {
        for (Vertex other : tasks->SameOf(node)) {
            if (pending[static_cast<size_t>(other)] && set.RouteHolding(other) < 0) partner = other;
        }
    }
    pending[static_cast<size_t>(node)] = 0;
    if (partner < 0) {
        const Choice choice = Find(set, node);
        if (!choice.found) return false;
        if (PutIn(set, choice.route, choice.position, node)) return true;
        // Waits across routes can close a cycle that no single route shows.
        set.RemoveRange(choice.route, choice.position, choice.position);
        return PlaceByTrying(set, node);
    }
    pending[static_cast<size_t>(partner)] = 0;
    const std::vector<Vertex>& befores = tasks->BeforeOf(node);
    const bool partner_first = std::find(befores.begin(), befores.end(), partner) != befores.end();
    Vertex first = partner_first ? partner : node;
    Vertex second = partner_first ? node : partner;
    PairChoice choice = FindPair(set, first, second);
    const std::vector<Vertex>& afters = tasks->AfterOf(node);
    const bool ordered = partner_first || std::find(afters.begin(), afters.end(), partner) != afters.end();
    if (!choice.found && !ordered) {
        std::swap(first, second);
        choice = FindPair(set, first, second);
    }
    if (!choice.found) return false;
    const size_t r = choice.route;
    if (!PutIn(set, r, choice.first_position, first)) {
        set.RemoveRange(r, choice.first_position, choice.first_position);
        return false;
    }
    if (!PutIn(set, r, choice.second_position, second)) {
        set.RemoveRange(r, choice.second_position, choice.second_position);
        set.RemoveRange(r, choice.first_position, choice.first_position);
        return false;
    }
    return true;
}

bool BestInsertion::PlaceIfWorth(RouteSet& set, Vertex node, bool anyway) {
    const double prize = set.Tasks()->Prize(node);
    if (min_max && prize <= 0.0 && !anyway) return false;
    const Choice choice = Find(set, node);
    if (!choice.found) return false;
    const size_t r = choice.route;
    const double added = CostWith(set, r, choice.position, node) - set.RouteOf(r).Cost() +
                         set.OpeningCost(r);
    if (!min_max && added >= prize && !anyway) return false;
    if (PutIn(set, r, choice.position, node)) return true;
    set.RemoveRange(r, choice.position, choice.position);
    return false;
}

bool BestInsertion::PlaceByTrying(RouteSet& set, Vertex node) {
    const double largest = min_max ? set.Largest() : 0.0;
    candidates.clear();
    for (size_t r = 0; r < set.RouteCount(); ++r) {
        if (!set.Accepts(r, node)) continue;
        const double before = set.RouteOf(r).Cost();
        for (size_t q = 1; q < set.RouteOf(r).nodes.size(); ++q) {
            const double after = CostWith(set, r, q, node);
            if (after == RouteSet::kInfeasible) continue;
            const double increase = after - before + set.OpeningCost(r);
            const double primary = min_max ? std::max(after, largest) : increase;
            const double secondary = min_max ? increase : 0.0;
            candidates.push_back(Best{primary, secondary, Choice{true, r, q}});
        }
    }
    const size_t tries = std::min(candidates.size(), kMostTries);
    std::partial_sort(candidates.begin(), candidates.begin() + static_cast<std::ptrdiff_t>(tries),
                      candidates.end(), [](const Best& a, const Best& b) {
                          return a.primary < b.primary ||
                                 (a.primary == b.primary && a.secondary < b.secondary);
                      });
    for (size_t k = 0; k < tries; ++k) {
        const Choice& choice = candidates[k].choice;
        if (PutIn(set, choice.route, choice.position, node)) return true;
        set.RemoveRange(choice.route, choice.position, choice.position);
    }
    return false;
}

void BestInsertion::ScanEverywhere(RouteSet& set, Vertex node, double largest,
                                   Best& best) {
    for (size_t r = 0; r < set.RouteCount(); ++r) {
        if (!set.Accepts(r, node)) continue;
        const size_t size = set.RouteOf(r).nodes.size();
        for (size_t q = 1; q < size; ++q) {
            if (Skip()) continue;
            Consider(set, r, q, node, largest, best);
        }
    }
}

// Next to each near vertex that a route holds, and next to every route's start and end.
void BestInsertion::ScanNear(RouteSet& set, Vertex node, double largest, Best& best) {
    for (size_t r = 0; r < set.RouteCount(); ++r) {
        if (!set.Accepts(r, node)) continue;
        const size_t size = set.RouteOf(r).nodes.size();
        Consider(set, r, 1, node, largest, best);
        if (size > 2) Consider(set, r, size - 1, node, largest, best);
    }
    const std::vector<Vertex>& close = (*near)[static_cast<size_t>(node)];
    const size_t count = std::min(near_count, close.size());
    for (size_t c = 0; c < count; ++c) {
        const int32_t holder = set.RouteHolding(close[c]);
        if (holder < 0 || !set.Accepts(static_cast<size_t>(holder), node) || Skip()) continue;
        const auto r = static_cast<size_t>(holder);
        const auto at = static_cast<size_t>(set.PositionOf(close[c]));
        Consider(set, r, at, node, largest, best);
        Consider(set, r, at + 1, node, largest, best);
    }
}

}  // namespace tamrik
