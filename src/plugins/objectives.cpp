#include "plugins/objectives.h"

namespace tamrik {

// ------------------------------------------------------------------------ DefaultObjective

std::string DefaultObjective::Name() const { return "DefaultObjective"; }

void DefaultObjective::Init(const std::vector<int64_t>&) {}

double DefaultObjective::Evaluate(const std::vector<double>& costs) const {
    if (costs.empty()) return 0.0;
    double largest = costs[0];
    for (size_t i = 1; i < costs.size(); ++i) {
        if (costs[i] > largest) largest = costs[i];
    }
    return largest;
}

double DefaultObjective::EvaluateWithHeuristic(const Label& label, int64_t remaining_agents,
                                               double heuristic) const {
    // g through the virtual interface, so that a subclass's Evaluate is honoured.
    const ObjectivePlugin& self = *this;
    const double longest = self.Evaluate(label.costs);
    if (remaining_agents <= 0) return longest;
    double unfinished_sum = 0.0;
    for (size_t i = 0; i < label.costs.size(); ++i) {
        if (label.finished[i] == 0) unfinished_sum += label.costs[i];
    }
    const double average = (heuristic + unfinished_sum) / static_cast<double>(remaining_agents);
    return !(average < longest) ? average : longest;
}

// ------------------------------------------------------------------------- MinSumObjective

std::string MinSumObjective::Name() const { return "MinSumObjective"; }

void MinSumObjective::Init(const std::vector<int64_t>&) {}

double MinSumObjective::Evaluate(const std::vector<double>& costs) const {
    double sum = 0.0;
    for (double cost : costs) sum += cost;
    return sum;
}

double MinSumObjective::EvaluateWithHeuristic(const Label& label, int64_t,
                                              double heuristic) const {
    const ObjectivePlugin& self = *this;
    return self.Evaluate(label.costs) + heuristic;
}

}  // namespace tamrik
