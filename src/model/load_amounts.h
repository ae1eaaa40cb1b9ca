#pragma once

#include <cstddef>

#include "model/problem.h"

namespace tamrik {

// The amounts of an instance's load dimensions, read the same way by the checks and the
// solver: a listed amount wherever a list is given, the one number otherwise (as the first
// dimension), and 0 for what is not given.
double DemandIn(const Node& node, size_t dim);
double PickupIn(const Node& node, size_t dim);
double DeliveryIn(const Node& node, size_t dim);
double CapacityIn(const Agent& agent, size_t dim);

// How many dimensions the loads have: as many as the first capacity list has, or without
// one the longest list of any demand, pick-up or delivery, and 1 without lists.
size_t LoadDimensions(const Problem& problem);
// Whether any node loads anything, or any agent has a capacity.
bool GivesLoads(const Problem& problem);

}  // namespace tamrik
