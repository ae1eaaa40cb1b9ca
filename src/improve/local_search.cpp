#include "improve/local_search.h"

#include <algorithm>

namespace tamrik {
namespace {

// Changes smaller than this, relative to the plan's size, are rounding and improve nothing.
constexpr double kImprovement = 1e-9;

double Tolerance(double magnitude) { return kImprovement * std::max(1.0, magnitude); }

}  // namespace

size_t LocalSearch::Run(RouteSet& set, std::mt19937_64& rng, size_t most_moves) {
    order.clear();
    for (Vertex node : set.Movable()) order.push_back(node);
    std::shuffle(order.begin(), order.end(), rng);
    Measure(set);
    size_t moves = 0;
    bool improved = true;
    while (improved && moves < most_moves) {
        improved = false;
        for (Vertex u : order) {
            if (moves >= most_moves) break;
            if (set.RouteHolding(u) < 0) continue;
            if (TryAround(set, u)) {
                ++moves;
                improved = true;
            }
        }
    }
    return moves;
}

bool LocalSearch::TryAround(RouteSet& set, Vertex u) {
    const std::vector<Vertex>& close = (*near)[static_cast<size_t>(u)];
    const size_t count = std::min(neighbours, close.size());
    for (size_t c = 0; c < count; ++c) {
        const Vertex v = close[c];
        if (v != u && set.RouteHolding(v) >= 0 && TryPair(set, u, v)) return true;
    }
    return false;
}

bool LocalSearch::TryPair(RouteSet& set, Vertex u, Vertex v) {
    const auto ru = static_cast<size_t>(set.RouteHolding(u));
    const auto rv = static_cast<size_t>(set.RouteHolding(v));
    const auto pu = static_cast<size_t>(set.PositionOf(u));
    const auto pv = static_cast<size_t>(set.PositionOf(v));
    if (ru == rv) {
        // Reversing the stops after u up to v makes v follow u.
        return pu + 1 < pv && MakeIfBetter(set, ReverseMove{ru, pu + 1, pv});
    }
    for (size_t length = 1; length <= kLongestRelocation; ++length) {
        if (MakeIfBetter(set, RelocateMove{u, rv, pv + 1, length})) return true;
    }
    return MakeIfBetter(set, ExchangeMove{u, v}) ||
           MakeIfBetter(set, TailExchangeMove{ru, pu, rv, pv});
}

void LocalSearch::Measure(const RouteSet& set) {
    largest = set.Largest();
    tolerance = Tolerance(min_max ? largest : set.Total());
}

template <typename Move>
bool LocalSearch::MakeIfBetter(RouteSet& set, const Move& move) {
    const MovePrice price = move.Price(set);
    if (!price.Feasible() || !Improves(set, price)) return false;
    move.Apply(set);
    Measure(set);
    return true;
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
