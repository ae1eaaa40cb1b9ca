#pragma once

// The optimum of a tiny instance by exhaustive enumeration: every order of the targets, every
// split of that order among the agents and, without a return obligation, both ways to end
// each route. Feasibility and costs come from the independent route checker.

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>

#include "support/route_checker.h"

namespace tamrik::testing {

class BruteForce {
public:
    explicit BruteForce(const Problem& problem) : problem_(problem), checker_(problem) {
        std::vector<int64_t> endpoints;
        for (const Agent& agent : problem.agents_ordered) {
            starts_.push_back(VertexOf(agent.start_node));
            ends_.push_back(VertexOf(agent.end_node));
        }
        for (size_t v = 0; v < problem.nodes.size(); ++v) {
            const auto vertex = static_cast<int64_t>(v);
            if (std::count(starts_.begin(), starts_.end(), vertex) == 0 &&
                std::count(ends_.begin(), ends_.end(), vertex) == 0) {
                targets_.push_back(vertex);
            }
        }
    }

    // The best objective value (largest route under min-max, total under min-sum), or none
    // when no feasible solution exists.
    std::optional<double> Optimum() {
        best_.reset();
        std::vector<int64_t> order = targets_;
        std::sort(order.begin(), order.end());
        do {
            std::vector<size_t> counts(starts_.size(), 0);
            Split(order, counts, 0, order.size());
        } while (std::next_permutation(order.begin(), order.end()));
        return best_;
    }

    double Objective(const Result& result) const {
        double largest = 0.0;
        double total = 0.0;
        for (const auto& [agent, cost] : result.times) {
            largest = std::max(largest, cost);
            total += cost;
        }
        return problem_.options.objective == ObjectiveType::MinSum ? total : largest;
    }

private:
    int64_t VertexOf(uint64_t id) const {
        for (size_t v = 0; v < problem_.nodes.size(); ++v) {
            if (problem_.nodes[v].id == id) return static_cast<int64_t>(v);
        }
        return -1;
    }

    void Split(const std::vector<int64_t>& order, std::vector<size_t>& counts, size_t agent,
               size_t left) {
        if (agent + 1 == counts.size()) {
            counts[agent] = left;
            Close(order, counts, 0, Result{});
            return;
        }
        for (size_t c = 0; c <= left; ++c) {
            counts[agent] = c;
            Split(order, counts, agent + 1, left - c);
        }
    }

    // Builds the route of `agent` and, recursively, of the later ones; then scores.
    void Close(const std::vector<int64_t>& order, const std::vector<size_t>& counts,
               size_t agent, Result result) {
        if (agent == counts.size()) {
            if (checker_.Check(result).ok()) {
                const double value = Objective(result);
                if (!best_ || value < *best_) best_ = value;
            }
            return;
        }
        size_t first = 0;
        for (size_t k = 0; k < agent; ++k) first += counts[k];
        std::vector<int64_t> path{starts_[agent]};
        path.insert(path.end(), order.begin() + static_cast<std::ptrdiff_t>(first),
                    order.begin() + static_cast<std::ptrdiff_t>(first + counts[agent]));
        std::vector<int64_t> last{ends_[agent]};
        if (!problem_.options.return_to_end && starts_[agent] != ends_[agent]) {
            last.push_back(starts_[agent]);
        }
        for (int64_t end : last) {
            Result next = result;
            next.paths[static_cast<int64_t>(agent)] = path;
            next.paths[static_cast<int64_t>(agent)].push_back(end);
            next.times[static_cast<int64_t>(agent)] =
                checker_.RouteCost(agent, next.paths[static_cast<int64_t>(agent)]);
            Close(order, counts, agent + 1, next);
        }
    }

    const Problem& problem_;
    RouteChecker checker_;
    std::vector<int64_t> starts_;
    std::vector<int64_t> ends_;
    std::vector<int64_t> targets_;
    std::optional<double> best_;
};

}  // namespace tamrik::testing
