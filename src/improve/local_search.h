#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <variant>
#include <vector>

#include "improve/near_lists.h"
#include "route/route_moves.h"
#include "route/route_set.h"

namespace tamrik {

// A granular local search over a route set. Each stop u, in a shuffled order, tries the moves
// that put it next to one of its `neighbours` nearest stops v: u (with the next one or two
// stops of its route) after v, u and v (or u and the stop after it with v, or with v and the
// stop after v) trading places, the two routes trading their tails
// after u and v, and within one route the reversal that makes v follow u; where v is the first
// stop of its route, u (with its run) before v and u's tail as v's route; then u alone into
// an empty route. When no stop finds such a move, every two routes that hold neighbours try
// SWAP*: a stop of each trades routes, each going where the legs say it fits best. The first
// move that improves the plan is made, and the search goes on until no move among these does.
//
// A plan improves when its total falls (route costs with the price of the rules they
// break, and the fixed costs of the agents used); under min-max, when its longest route
// falls, or stays and the total falls.
class LocalSearch {
public:
    // With `best_improvement` (under min-sum), a stop makes the best of its moves towards its
    // neighbours rather than the first that improves.
    LocalSearch(const NearLists& near, size_t neighbours, bool min_max, bool best_improvement = false)
        : near(&near), neighbours(neighbours), min_max(min_max), best_improvement(best_improvement) {}

    // Improves the set until no move improves it, `most_moves` moves are made or `stop` (when
    // given, asked now and then) says so; returns how many were made.
    size_t Run(RouteSet& set, std::mt19937_64& rng, size_t most_moves = SIZE_MAX,
               const std::function<bool()>& stop = {});

private:
    bool TryAround(RouteSet& set, Vertex u);
    bool TryEmptyRoute(RouteSet& set, Vertex u);
    bool SwapStarPass(RouteSet& set);
    bool SwapStarBetween(RouteSet& set, size_t r, size_t s);
    // For every stop of route `from`, its three cheapest places in route `into` by the legs.
    void BestPlaces(const RouteSet& set, size_t from, size_t into);
    bool TryPair(RouteSet& set, Vertex u, Vertex v);
    // Under min-sum, where both routes cost the sum of their legs: whether a move that changes
    // their legs by `legs` and the fixed costs by `fixed` cannot improve the plan, since what
    // the routes break can fall by no more than they pay for it now. Most moves are ruled
    // out so, before any price is worked out.
    bool RuledOut(const RouteSet& set, size_t r, size_t s, double legs, double fixed) const;
    // u and the next count - 1 stops of its route after position `keep` of route s; u's route
    // and s trading the tails after u and after that position.
    bool RelocateAfter(RouteSet& set, Vertex u, size_t s, size_t keep);
    bool ExchangeTailsAfter(RouteSet& set, Vertex u, size_t s, size_t keep);
    bool RelocationRuledOut(const RouteSet& set, Vertex u, size_t s, size_t keep, size_t count) const;
    bool ExchangeRuledOut(const RouteSet& set, Vertex u, Vertex v, size_t first, size_t second) const;
    bool TailExchangeRuledOut(const RouteSet& set, Vertex u, size_t s, size_t keep) const;
    // Makes the move when it improves the plan.
    template <typename Move>
    bool MakeIfBetter(RouteSet& set, const Move& move);
    // The same for a move towards a neighbour, already priced; under the best improvement it
    // is kept as the one to make when it is the best so far, and false is returned.
    template <typename Move>
    bool TakeIfBetter(RouteSet& set, const Move& move, const MovePrice& price);
    template <typename Move>
    void Make(RouteSet& set, const Move& move, const MovePrice& price);
    bool Improves(const RouteSet& set, const MovePrice& price) const;
    // The plan's longest route, the change too small to count and whether a route is empty,
    // after each move made.
    void Measure(const RouteSet& set);

    const NearLists* near;
    size_t neighbours;
    bool min_max;
    bool best_improvement;
    // The best move found so far for the stop being tried, under the best improvement.
    std::optional<std::variant<RelocateMove, ExchangeMove, TailExchangeMove, ReverseMove>> chosen;
    double chosen_delta = 0.0;
    MovePrice chosen_price;
    std::vector<Vertex> order;
    // A place in a route (insert before `before`) and what the legs say it adds.
    struct Place {
        double added;
        size_t before;
    };
    using ThreeBest = std::array<Place, 3>;
    // For the routes r < s that SWAP* pairs: the three best places in s of the stop at each
    // position of r, and in r of those of s.
    std::vector<ThreeBest> places_in_second;
    std::vector<ThreeBest> places_in_first;
    std::vector<uint8_t> neighbouring_routes;
    // Moves made so far in this run; per route, the count when it last changed; per stop, the
    // count when all its moves were last tried in vain; per two routes, the same for SWAP*.
    // A try that finds both routes as they were then is skipped.
    uint64_t made = 0;
    std::vector<uint64_t> changed_at;
    std::vector<uint64_t> tried_at;
    std::vector<uint64_t> swaps_tried_at;
    double largest = 0.0;
    double tolerance = 0.0;
    // Whether some route serves no stop.
    bool any_empty = false;
    // What the route of the stop being tried costs without it and the next one or two stops.
    std::array<double, kLongestRelocation> leaving{};
};

}  // namespace tamrik
