#include "model/total_checks.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "model/problem_checks.h"

namespace tamrik {
namespace {

// The largest finite double stands for a blocked pair, not a cost that adds up.
constexpr double kBlocked = std::numeric_limits<double>::max();
// The search adds route values up and weighs them by small factors; totals below this bound
// leave it room enough before doubles overflow.
constexpr double kLargestTotal = 1e305;

class Total {
public:
    void Add(double value, double times, const std::string& what) {
        if (!std::isfinite(value) || value <= 0.0) return;
        sum_ += value * times;
        if (value > largest_) {
            largest_ = value;
            largest_term_ = what;
        }
    }
    bool Countable() const { return sum_ <= kLargestTotal; }
    const std::string& LargestTerm() const { return largest_term_; }

private:
    double sum_ = 0.0;
    double largest_ = 0.0;
    std::string largest_term_;
};

double DearestArc(const CostMatrix& matrix) {
    double dearest = 0.0;
    for (const auto& row : matrix) {
        for (double cost : row) {
            if (std::isfinite(cost) && cost < kBlocked) dearest = std::max(dearest, cost);
        }
    }
    return dearest;
}

// The longest distance between two nodes is at most the sum of the coordinate spans.
double Span(const Problem& problem) {
    double span = 0.0;
    for (double Position::*axis : {&Position::x, &Position::y, &Position::z}) {
        double low = 0.0;
        double high = 0.0;
        for (const Node& node : problem.nodes) {
            low = std::min(low, node.position.*axis);
            high = std::max(high, node.position.*axis);
        }
        span += high - low;
    }
    return span;
}

}  // namespace

std::optional<std::string> OverflowingTotal(const Problem& problem) {
    Total total;
    const double legs = static_cast<double>(problem.nodes.size()) + 1.0;
    for (const Node& node : problem.nodes) {
        const std::string who = "node " + std::to_string(node.id);
        total.Add(node.service, 1.0, who + ": service = " + NumberText(node.service));
        total.Add(node.demand, 1.0, who + ": demand = " + NumberText(node.demand));
    }
    for (const auto& [type, matrix] : problem.cost_matrices) {
        const double dearest = DearestArc(matrix);
        total.Add(dearest, legs, "a cost of " + NumberText(dearest) + " for agent type '" + type + "'");
    }
    for (const auto& [type, metric] : problem.metrics) {
        if (metric.kind == MetricKind::kHaversine) continue;  // bounded by the Earth
        const double longest = Span(problem) * metric.factor;
        total.Add(longest, legs, "a distance of " + NumberText(longest) + " for agent type '" + type + "'");
    }
    for (const Agent& agent : problem.agents_ordered) {
        const std::string who = "agent " + std::to_string(agent.id);
        total.Add(agent.fixed_cost, 1.0, who + ": fixed_cost = " + NumberText(agent.fixed_cost));
        if (agent.shift_start) {
            total.Add(*agent.shift_start, 1.0, who + ": shift_start = " + NumberText(*agent.shift_start));
        }
    }
    for (const auto& [node, window] : problem.timewindow_constraint.windows) {
        total.Add(window.first, 1.0, "the window of node " + std::to_string(node) + " opening at " +
                                         NumberText(window.first));
    }
    if (total.Countable()) return std::nullopt;
    return "the costs and times of the instance can add up beyond " + NumberText(kLargestTotal) + " (" +
           total.LargestTerm() + " among them); give them in a smaller unit";
}

}  // namespace tamrik
