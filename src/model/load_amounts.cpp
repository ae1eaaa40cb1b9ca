#include "model/load_amounts.h"

#include <algorithm>
#include <vector>

namespace tamrik {
namespace {

double Listed(const std::vector<double>& amounts, size_t dim) {
    return dim < amounts.size() ? amounts[dim] : 0.0;
}

bool AnyNonZero(const std::vector<double>& amounts) {
    return std::any_of(amounts.begin(), amounts.end(), [](double a) { return a != 0.0; });
}

}  // namespace

double DemandIn(const Node& node, size_t dim) {
    if (!node.demands.empty()) return Listed(node.demands, dim);
    return dim == 0 ? node.demand : 0.0;
}

double PickupIn(const Node& node, size_t dim) { return Listed(node.pickup, dim); }

double DeliveryIn(const Node& node, size_t dim) { return Listed(node.delivery, dim); }

double CapacityIn(const Agent& agent, size_t dim) {
    if (!agent.capacities.empty()) return Listed(agent.capacities, dim);
    return dim == 0 ? agent.capacity_limit : 0.0;
}

size_t LoadDimensions(const Problem& problem) {
    for (const Agent& agent : problem.agents_ordered) {
        if (!agent.capacities.empty()) return agent.capacities.size();
    }
    size_t dims = 1;
    for (const Node& node : problem.nodes) {
        dims = std::max({dims, node.demands.size(), node.pickup.size(), node.delivery.size()});
    }
    return dims;
}

bool GivesLoads(const Problem& problem) {
    const bool capacity = std::any_of(
        problem.agents_ordered.begin(), problem.agents_ordered.end(), [](const Agent& agent) {
            return agent.capacity_limit != 0.0 || AnyNonZero(agent.capacities);
        });
    return capacity || std::any_of(problem.nodes.begin(), problem.nodes.end(), [](const Node& n) {
               return n.demand != 0.0 || AnyNonZero(n.demands) || AnyNonZero(n.pickup) ||
                      AnyNonZero(n.delivery);
           });
}

}  // namespace tamrik
