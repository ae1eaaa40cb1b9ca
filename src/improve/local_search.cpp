#include "improve/local_search.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace tamrik {
namespace {

// How many stops the search tries between two questions whether to stop.
constexpr size_t kStopsPerPoll = 64;
constexpr double kNotPriced = std::numeric_limits<double>::quiet_NaN();
// The runs of stops (from u's route, from v's) that trade places.
constexpr std::array<std::pair<size_t, size_t>, 3> kExchangedRuns{{{1, 1}, {2, 1}, {2, 2}}};
// Changes smaller than this, relative to the plan's size, are rounding and improve nothing.
constexpr double kImprovement = 1e-9;

double Tolerance(double magnitude) { return kImprovement * std::max(1.0, magnitude); }

}  // namespace

size_t LocalSearch::Run(RouteSet& set, std::mt19937_64& rng, size_t most_moves,
                        const std::function<bool()>& stop) {
    order.clear();
    for (Vertex node : set.Movable()) order.push_back(node);
    std::shuffle(order.begin(), order.end(), rng);
    Measure(set);
    made = 1;
    changed_at.assign(set.RouteCount(), 1);
    tried_at.assign(set.VertexCount(), 0);
    swaps_tried_at.assign(set.RouteCount() * set.RouteCount(), 0);
    size_t moves = 0;
    bool improved = true;
    while (improved && moves < most_moves) {
        improved = false;
        for (size_t k = 0; k < order.size(); ++k) {
            const Vertex u = order[k];
            if (moves >= most_moves) break;
            if (stop && k % kStopsPerPoll == 0 && stop()) return moves;
            if (set.RouteHolding(u) < 0) continue;
            if (TryAround(set, u) || TryEmptyRoute(set, u)) {
                ++moves;
                improved = true;
            }
        }
        while (!improved && moves < most_moves && SwapStarPass(set)) {
            ++moves;
            improved = true;
        }
    }
    return moves;
}

bool LocalSearch::TryEmptyRoute(RouteSet& set, Vertex u) {
    const auto from = static_cast<size_t>(set.RouteHolding(u));
    if (!any_empty || set.RouteOf(from).nodes.size() == 3) return false;  // u alone already
    for (size_t r = 0; r < set.RouteCount(); ++r) {
        if (r != from && set.RouteOf(r).nodes.size() == 2 && set.Accepts(r, u)) {
            return MakeIfBetter(set, RelocateMove{u, r, 1});
        }
    }
    return false;
}

bool LocalSearch::SwapStarPass(RouteSet& set) {
    const size_t m = set.RouteCount();
    neighbouring_routes.assign(m * m, 0);
    for (size_t r = 0; r < m; ++r) {
        const std::vector<Vertex>& nodes = set.RouteOf(r).nodes;
        for (size_t k = 1; k + 1 < nodes.size(); ++k) {
            const std::vector<Vertex>& close = (*near)[static_cast<size_t>(nodes[k])];
            for (size_t c = 0; c < std::min(neighbours, close.size()); ++c) {
                const int32_t s = set.RouteHolding(close[c]);
                if (s >= 0 && static_cast<size_t>(s) != r) {
                    neighbouring_routes[std::min(r, size_t(s)) * m + std::max(r, size_t(s))] = 1;
                }
            }
        }
    }
    for (size_t r = 0; r < m; ++r) {
        for (size_t s = r + 1; s < m; ++s) {
            if (!neighbouring_routes[r * m + s]) continue;
            uint64_t& tried = swaps_tried_at[r * m + s];
            if (std::max(changed_at[r], changed_at[s]) <= tried) continue;
            if (SwapStarBetween(set, r, s)) return true;
            tried = made;
        }
    }
    return false;
}

void LocalSearch::BestPlaces(const RouteSet& set, size_t from, size_t into) {
    const std::vector<Vertex>& stops = set.RouteOf(from).nodes;
    const std::vector<Vertex>& nodes = set.RouteOf(into).nodes;
    std::vector<ThreeBest>& places = from < into ? places_in_second : places_in_first;
    constexpr double kNone = RouteSet::kInfeasible;
    places.assign(stops.size(), ThreeBest{Place{kNone, 0}, Place{kNone, 0}, Place{kNone, 0}});
    for (size_t k = 1; k + 1 < stops.size(); ++k) {
        const Vertex v = stops[k];
        ThreeBest& best = places[k];
        for (size_t q = set.FirstFree(into); q < nodes.size(); ++q) {
            const double added = set.Leg(into, nodes[q - 1], v) + set.Leg(into, v, nodes[q]) -
                                 set.Leg(into, nodes[q - 1], nodes[q]);
            if (added >= best[2].added) continue;
            best[2] = Place{added, q};
            if (best[2].added < best[1].added) std::swap(best[1], best[2]);
            if (best[1].added < best[0].added) std::swap(best[0], best[1]);
        }
    }
}

namespace {

// What the legs say route r saves when the stop at position p leaves it.
double Removal(const RouteSet& set, size_t r, size_t p) {
    const std::vector<Vertex>& nodes = set.RouteOf(r).nodes;
    return set.Leg(r, nodes[p - 1], nodes[p]) + set.Leg(r, nodes[p], nodes[p + 1]) -
           set.Leg(r, nodes[p - 1], nodes[p + 1]);
}

}  // namespace

bool LocalSearch::SwapStarBetween(RouteSet& set, size_t r, size_t s) {
    BestPlaces(set, r, s);
    BestPlaces(set, s, r);
    const std::vector<Vertex>& first = set.RouteOf(r).nodes;
    const std::vector<Vertex>& second = set.RouteOf(s).nodes;
    // The best place of the stop at `k` of one route in the other, once the stop at `out`
    // has left it: among the three best, the first not next to `out`, or `out`'s own place.
    const auto place = [&set](const ThreeBest& best, size_t into, size_t out, Vertex v) {
        const std::vector<Vertex>& nodes = set.RouteOf(into).nodes;
        Place chosen{set.Leg(into, nodes[out - 1], v) + set.Leg(into, v, nodes[out + 1]) -
                         set.Leg(into, nodes[out - 1], nodes[out + 1]),
                     out};
        for (const Place& candidate : best) {
            if (candidate.before == out || candidate.before == out + 1) continue;
            if (candidate.added < chosen.added) chosen = candidate;
            break;
        }
        return chosen;
    };
    for (size_t p = 1; p + 1 < first.size(); ++p) {
        for (size_t q = 1; q + 1 < second.size(); ++q) {
            const Place u_in_s = place(places_in_second[p], s, q, first[p]);
            const Place v_in_r = place(places_in_first[q], r, p, second[q]);
            const double estimate = u_in_s.added + v_in_r.added - Removal(set, r, p) -
                                    Removal(set, s, q);
            if (estimate >= -tolerance) continue;
            if (MakeIfBetter(set, SwapStarMove{first[p], u_in_s.before, second[q], v_in_r.before})) {
                return true;
            }
        }
    }
    return false;
}

bool LocalSearch::TryAround(RouteSet& set, Vertex u) {
    const std::vector<Vertex>& close = (*near)[static_cast<size_t>(u)];
    const size_t count = std::min(neighbours, close.size());
    uint64_t& tried = tried_at[static_cast<size_t>(u)];
    const uint64_t home = changed_at[static_cast<size_t>(set.RouteHolding(u))];
    // What u's route costs without u and the stops after it, the same for every v: worked
    // out when first needed.
    leaving.fill(kNotPriced);
    for (size_t c = 0; c < count; ++c) {
        const Vertex v = close[c];
        if (v == u || set.RouteHolding(v) < 0) continue;
        if (std::max(home, changed_at[static_cast<size_t>(set.RouteHolding(v))]) <= tried) continue;
        if (TryPair(set, u, v)) return true;
    }
    if (chosen) {
        std::visit([&](const auto& move) { Make(set, move, chosen_price); }, *chosen);
        chosen.reset();
        return true;
    }
    tried = made;
    return false;
}

bool LocalSearch::TryPair(RouteSet& set, Vertex u, Vertex v) {
    const auto ru = static_cast<size_t>(set.RouteHolding(u));
    const auto rv = static_cast<size_t>(set.RouteHolding(v));
    const auto pu = static_cast<size_t>(set.PositionOf(u));
    const auto pv = static_cast<size_t>(set.PositionOf(v));
    if (ru == rv) {
        // Reversing the stops after u up to v makes v follow u.
        const ReverseMove reversal{ru, pu + 1, pv};
        return pu + 1 < pv && TakeIfBetter(set, reversal, reversal.Price(set));
    }
    if (RelocateAfter(set, u, rv, pv)) return true;
    for (const auto& [first, second] : kExchangedRuns) {
        if (ExchangeRuledOut(set, u, v, first, second)) continue;
        const ExchangeMove exchange{u, v, first, second};
        if (TakeIfBetter(set, exchange, exchange.Price(set))) return true;
    }
    if (ExchangeTailsAfter(set, u, rv, pv)) return true;
    // Where v is its route's first stop, u may also go in before it, or take over the route
    // whole.
    return pv == 1 && (RelocateAfter(set, u, rv, 0) || ExchangeTailsAfter(set, u, rv, 0));
}

bool LocalSearch::RelocateAfter(RouteSet& set, Vertex u, size_t s, size_t keep) {
    for (size_t length = 1; length <= kLongestRelocation; ++length) {
        if (RelocationRuledOut(set, u, s, keep, length)) continue;
        const RelocateMove move{u, s, keep + 1, length};
        double& left = leaving[length - 1];
        if (std::isnan(left)) left = move.LeftCost(set);
        if (TakeIfBetter(set, move, move.Price(set, left))) return true;
    }
    return false;
}

bool LocalSearch::ExchangeTailsAfter(RouteSet& set, Vertex u, size_t s, size_t keep) {
    const auto r = static_cast<size_t>(set.RouteHolding(u));
    const auto pu = static_cast<size_t>(set.PositionOf(u));
    const TailExchangeMove exchange{r, pu, s, keep};
    return !TailExchangeRuledOut(set, u, s, keep) && TakeIfBetter(set, exchange, exchange.Price(set));
}

namespace {

// The legs of the run of `count` stops from position `at` of route `from`, walked by route r.
double RunLegs(const RouteSet& set, size_t r, size_t from, size_t at, size_t count) {
    const std::vector<Vertex>& nodes = set.RouteOf(from).nodes;
    double legs = 0.0;
    for (size_t k = at; k + 1 < at + count; ++k) legs += set.Leg(r, nodes[k], nodes[k + 1]);
    return legs;
}

// What the fixed costs of route r's agent change by once the route has `size` nodes.
double FixedChange(const RouteSet& set, size_t r, size_t size) {
    return (size > 2 ? set.Fixed(r) + set.OpeningCost(r) : 0.0) - set.Fixed(r);
}

// The legs of route r around the run of `count` stops from position `at` of route `from`,
// put between `before` and `after`.
double LegsAround(const RouteSet& set, size_t r, Vertex before, size_t from, size_t at,
                  size_t count, Vertex after) {
    const std::vector<Vertex>& nodes = set.RouteOf(from).nodes;
    return set.Leg(r, before, nodes[at]) + RunLegs(set, r, from, at, count) +
           set.Leg(r, nodes[at + count - 1], after);
}

}  // namespace

bool LocalSearch::RuledOut(const RouteSet& set, size_t r, size_t s, double legs, double fixed) const {
    if (min_max || !set.IsSimple(r) || !set.IsSimple(s)) return false;
    return legs + fixed - set.RouteOf(r).penalty - set.RouteOf(s).penalty >= -tolerance;
}

bool LocalSearch::RelocationRuledOut(const RouteSet& set, Vertex u, size_t s, size_t pv,
                                     size_t count) const {
    const auto r = static_cast<size_t>(set.RouteHolding(u));
    const auto pu = static_cast<size_t>(set.PositionOf(u));
    const std::vector<Vertex>& from = set.RouteOf(r).nodes;
    const std::vector<Vertex>& into = set.RouteOf(s).nodes;
    if (pu + count >= from.size()) return false;  // no such run: the move refuses itself
    const double left = set.Leg(r, from[pu - 1], from[pu + count]) -
                        LegsAround(set, r, from[pu - 1], r, pu, count, from[pu + count]);
    const Vertex v = into[pv];
    const double right = LegsAround(set, s, v, r, pu, count, into[pv + 1]) - set.Leg(s, v, into[pv + 1]);
    const double fixed = FixedChange(set, r, from.size() - count) + FixedChange(set, s, into.size() + count);
    return RuledOut(set, r, s, left + right, fixed);
}

bool LocalSearch::ExchangeRuledOut(const RouteSet& set, Vertex u, Vertex v, size_t first,
                                   size_t second) const {
    const auto r = static_cast<size_t>(set.RouteHolding(u));
    const auto s = static_cast<size_t>(set.RouteHolding(v));
    const auto pu = static_cast<size_t>(set.PositionOf(u));
    const auto pv = static_cast<size_t>(set.PositionOf(v));
    const std::vector<Vertex>& here = set.RouteOf(r).nodes;
    const std::vector<Vertex>& there = set.RouteOf(s).nodes;
    if (pu + first >= here.size() || pv + second >= there.size()) return false;
    const Vertex r_before = here[pu - 1];
    const Vertex r_after = here[pu + first];
    const Vertex s_before = there[pv - 1];
    const Vertex s_after = there[pv + second];
    const double legs = LegsAround(set, r, r_before, s, pv, second, r_after) -
                        LegsAround(set, r, r_before, r, pu, first, r_after) +
                        LegsAround(set, s, s_before, r, pu, first, s_after) -
                        LegsAround(set, s, s_before, s, pv, second, s_after);
    return RuledOut(set, r, s, legs, 0.0);
}

bool LocalSearch::TailExchangeRuledOut(const RouteSet& set, Vertex u, size_t s, size_t pv) const {
    const auto r = static_cast<size_t>(set.RouteHolding(u));
    // Tails keep their legs only between twins.
    if (!set.Twins(r, s)) return false;
    const auto pu = static_cast<size_t>(set.PositionOf(u));
    const std::vector<Vertex>& here = set.RouteOf(r).nodes;
    const std::vector<Vertex>& there = set.RouteOf(s).nodes;
    const Vertex v = there[pv];
    const double legs = set.Leg(r, u, there[pv + 1]) + set.Leg(s, v, here[pu + 1]) -
                        set.Leg(r, u, here[pu + 1]) - set.Leg(s, v, there[pv + 1]);
    const size_t r_size = pu + there.size() - pv;
    const size_t s_size = pv + here.size() - pu;
    return RuledOut(set, r, s, legs, FixedChange(set, r, r_size) + FixedChange(set, s, s_size));
}

void LocalSearch::Measure(const RouteSet& set) {
    any_empty = false;
    for (size_t r = 0; r < set.RouteCount() && !any_empty; ++r) {
        any_empty = set.RouteOf(r).nodes.size() == 2;
    }
    largest = set.Largest();
    tolerance = Tolerance(min_max ? largest : set.Total());
}

template <typename Move>
bool LocalSearch::MakeIfBetter(RouteSet& set, const Move& move) {
    const MovePrice price = move.Price(set);
    if (!price.Feasible() || !Improves(set, price)) return false;
    Make(set, move, price);
    return true;
}

template <typename Move>
bool LocalSearch::TakeIfBetter(RouteSet& set, const Move& move, const MovePrice& price) {
    if (!price.Feasible() || !Improves(set, price)) return false;
    if (best_improvement && !min_max) {
        const double delta = price.Delta(set) + price.FixedDelta(set);
        if (!chosen || delta < chosen_delta) {
            chosen = move;
            chosen_delta = delta;
            chosen_price = price;
        }
        return false;
    }
    Make(set, move, price);
    return true;
}

template <typename Move>
void LocalSearch::Make(RouteSet& set, const Move& move, const MovePrice& price) {
    move.Apply(set);
    ++made;
    for (size_t k = 0; k < price.count; ++k) changed_at[price.routes[k]] = made;
    Measure(set);
}

bool LocalSearch::Improves(const RouteSet& set, const MovePrice& price) const {
    const double delta = price.Delta(set) + price.FixedDelta(set);
    if (!min_max) return delta < -tolerance;
    double changed_before = 0.0;
    double changed_after = 0.0;
    for (size_t k = 0; k < price.count; ++k) {
        changed_before = std::max(changed_before, set.RouteOf(price.routes[k]).Cost());
        changed_after = std::max(changed_after, price.costs[k]);
    }
    if (changed_after > largest + tolerance) return false;
    if (delta < -tolerance) return true;
    // The total does not fall: only a longer route made shorter improves the plan, when no
    // other route is as long.
    if (changed_before < largest - tolerance || changed_after >= changed_before - tolerance) {
        return false;
    }
    double others = changed_after;
    for (size_t r = 0; r < set.RouteCount(); ++r) {
        if (r != price.routes[0] && (price.count < 2 || r != price.routes[1])) {
            others = std::max(others, set.RouteOf(r).Cost());
        }
    }
    return others < largest - tolerance;
}

}  // namespace tamrik
