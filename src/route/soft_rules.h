#pragma once

#include <array>
#include <cstddef>

namespace tamrik {

// The rules a route may break while the improvement stage searches, each priced per unit of
// excess in the route's search value: loads over the capacity, time warp (windows and shifts),
// cost over the agent's limit, targets over its stop limit.
enum SoftRule : size_t { kCapacityRule, kTimeRule, kCostLimitRule, kStopRule, kSoftRuleCount };

// One amount per rule that bends: an excess, or its price per unit.
using RuleAmounts = std::array<double, kSoftRuleCount>;

inline double PriceOf(const RuleAmounts& excess, const RuleAmounts& weights) {
    double price = 0.0;
    for (size_t rule = 0; rule < kSoftRuleCount; ++rule) {
        if (excess[rule] != 0.0) price += weights[rule] * excess[rule];
    }
    return price;
}

// Whether any of the rules of a route's day (time, cost limit, stops) bends.
inline bool DaysBend(const RuleAmounts& weights) {
    return weights[kTimeRule] > 0.0 || weights[kCostLimitRule] > 0.0 || weights[kStopRule] > 0.0;
}

inline bool AnyBends(const RuleAmounts& weights) {
    return weights[kCapacityRule] > 0.0 || DaysBend(weights);
}

// The rule's name in messages.
inline const char* RuleName(size_t rule) {
    static constexpr const char* kNames[kSoftRuleCount] = {"capacity", "time", "cost limit",
                                                          "stops"};
    return kNames[rule];
}

}  // namespace tamrik
