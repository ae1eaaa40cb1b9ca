#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "route/route_set.h"

namespace tamrik {

// Finds where a node goes back into a route set: the feasible position that, under min-max,
// keeps the longest route shortest and then adds the least cost, or under min-sum adds the
// least cost. Shared by the construction and the improvement stage.
class BestInsertion {
public:
    struct Choice {
        bool found = false;
        size_t route = 0;
        size_t position = 0;
    };

    explicit BestInsertion(bool min_max) : min_max(min_max) {}

    // Skips `per_hundred` candidate positions in a hundred, drawn from a generator seeded
    // here, so that repeated insertions do not always make the same greedy choices. Off until
    // seeded.
    void SkipNowAndThen(uint64_t seed, uint64_t per_hundred = 1) {
        skip_state = seed | 1;
        skip_threshold = UINT64_MAX / 100 * per_hundred;
    }
    // Looks only next to the first `count` entries of near[node] and next to the route ends
    // (scanning every position only when none of those is feasible); null: every position.
    void LookNear(const std::vector<std::vector<Vertex>>* near_lists, size_t count) {
        near = near_lists;
        near_count = count;
    }

    // Under waits across routes the set is changed while it looks and restored.
    Choice Find(RouteSet& set, Vertex node);

    struct PairChoice {
        bool found = false;
        size_t route = 0;
        // Where `first` goes, then where `second` goes once `first` is in.
        size_t first_position = 0;
        size_t second_position = 0;
    };
    // The best route and positions for two nodes that are both out and must share a route,
    // `first` ahead of `second`: each is tried in every feasible place with the other in
    // every place after it. The set is changed while it looks and restored.
    PairChoice FindPair(RouteSet& set, Vertex first, Vertex second);

    // Inserts the node; when it must share a route with a node that is still out and marked
    // in `pending`, both go in together (their order kept by precedence, if any) and the
    // partner's mark is cleared. False when no feasible place is found (the set is then as
    // before).
    bool Place(RouteSet& set, Vertex node, std::vector<uint8_t>& pending);
    // Inserts an optional stop at its best place when serving it pays: under min-sum when it
    // adds less than its prize, under min-max when it has a prize (prizes lost come first).
    // False, leaving it out, otherwise. `anyway`: wherever it fits, for moves that let the
    // search judge stops that pay only together.
    bool PlaceIfWorth(RouteSet& set, Vertex node, bool anyway = false);

private:
    struct Best {
        double primary;
        double secondary;
        Choice choice;
    };
    void Consider(RouteSet& set, size_t r, size_t q, Vertex node, double largest, Best& best);
    void ScanEverywhere(RouteSet& set, Vertex node, double largest, Best& best);
    void ScanNear(RouteSet& set, Vertex node, double largest, Best& best);
    // FindPair over every place, or only over places next to each node's near neighbours.
    PairChoice ScanPairs(RouteSet& set, Vertex first, Vertex second, bool only_near);
    // The places from `from` on in route r where the node is tried.
    void PositionsFrom(const RouteSet& set, size_t r, Vertex node, size_t from, bool only_near,
                       std::vector<size_t>& out) const;
    // Tries the node's feasible places from the best on until one keeps every rule once the
    // routes are timed together.
    bool PlaceByTrying(RouteSet& set, Vertex node);

    bool Skip() {
        if (skip_state == 0) return false;
        skip_state ^= skip_state << 13;
        skip_state ^= skip_state >> 7;
        skip_state ^= skip_state << 17;
        return skip_state < skip_threshold;
    }

    static constexpr size_t kMostTries = 32;
    std::vector<Best> candidates;
    std::vector<size_t> first_places;
    std::vector<size_t> second_places;
    bool min_max;
    uint64_t skip_state = 0;
    uint64_t skip_threshold = 0;
    const std::vector<std::vector<Vertex>>* near = nullptr;
    size_t near_count = 0;
};

// Moves the optional stops of `order` behind the others, keeping each group's order: they
// go in where room is left.
void RequiredFirst(const RouteSet& set, std::vector<Vertex>& order);

// Marks the nodes of `order` in `pending` (sized to the set's vertices).
void MarkPending(const std::vector<Vertex>& order, std::vector<uint8_t>& pending);

}  // namespace tamrik
