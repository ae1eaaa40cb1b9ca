#pragma once

#include <cstddef>
#include <random>
#include <vector>

#include "route/route_set.h"

namespace tamrik {

// A crossover for a fleet of like agents (every route a twin of the others, each starting and
// ending at one depot, costing the sum of its legs, with one capacity and one fixed cost): the
// two parents' stops as one giant tour each (their routes in order), crossed by order
// crossover (a random stretch of the first parent's tour kept in place, the other stops in the
// order of the second's), and the child's tour split into routes.
class GiantTourCrossover {
public:
    // Whether the routes of `set` are such a fleet.
    static bool Suits(const RouteSet& set);

    // Crosses a and b into `into` (a set of the same instance); false when no child was made.
    bool Cross(const RouteSet& a, const RouteSet& b, RouteSet& into, std::mt19937_64& rng);
    // Cuts `tour` (every movable stop once) into at most one run per route, at the least cost
    // of the runs: their legs from and back to the depot, the fixed cost of each route used
    // and the price of overload at the set's weights (a run that overloads by more than half
    // the capacity, or at all where loads are hard, is never made, nor one of more than about
    // four times the stops of an average route). The runs become the
    // routes of `into`, in order; false when no cut keeps the rules.
    bool Split(const std::vector<Vertex>& tour, RouteSet& into);

private:
    void TourOf(const RouteSet& set, std::vector<Vertex>& tour) const;

    std::vector<Vertex> first;
    std::vector<Vertex> second;
    std::vector<Vertex> crossed;
    std::vector<uint8_t> taken;
    // The split's tables: legs and loads summed along the tour, and per number of routes the
    // least cost of the tour's first stops and where their last run began.
    std::vector<double> legs;
    std::vector<double> loads;
    std::vector<double> cost;
    std::vector<size_t> cut;
    std::vector<Vertex> run;
};

}  // namespace tamrik
