#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugins/plugin_kinds.h"

namespace tamrik {

// Min-max: g is the longest route; f spreads the remaining work over the unfinished agents.
class DefaultObjective : public ObjectivePlugin {
public:
    std::string Name() const override;
    void Init(const std::vector<int64_t>& end_nodes) override;
    double Evaluate(const std::vector<double>& costs) const override;
    double EvaluateWithHeuristic(const Label& label, int64_t remaining_agents,
                                 double heuristic) const override;
};

// Min-sum: g is the total of all routes; f = g + h.
class MinSumObjective : public ObjectivePlugin {
public:
    std::string Name() const override;
    void Init(const std::vector<int64_t>& end_nodes) override;
    double Evaluate(const std::vector<double>& costs) const override;
    double EvaluateWithHeuristic(const Label& label, int64_t remaining_agents,
                                 double heuristic) const override;
};

}  // namespace tamrik
