#pragma once

// An independent check of a solver result against the instance it solves: written from the
// problem statement, sharing no code with the solver or the post-optimizers.

#include <cmath>
#include <limits>
#include <set>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/problem.h"
#include "model/result.h"

namespace tamrik::testing {

struct RouteCheck {
    std::vector<std::string> errors;
    bool ok() const { return errors.empty(); }
    std::string Report() const {
        std::ostringstream out;
        for (const auto& e : errors) out << e << "\n";
        return out.str();
    }
};

class RouteChecker {
public:
    explicit RouteChecker(const Problem& problem) : problem_(problem) {
        for (size_t i = 0; i < problem.nodes.size(); ++i) vertex_of_[problem.nodes[i].id] = i;
        for (const Agent& agent : problem.agents_ordered) {
            starts_.push_back(vertex_of_.at(agent.start_node));
            ends_.push_back(vertex_of_.at(agent.end_node));
        }
    }

    RouteCheck Check(const Result& result) const {
        RouteCheck check;
        std::vector<int> served(problem_.nodes.size(), 0);
        for (size_t k = 0; k < problem_.agents_ordered.size(); ++k) {
            auto path = result.paths.find(static_cast<int64_t>(k));
            if (path == result.paths.end() || path->second.empty()) continue;
            CheckRoute(k, path->second, result, served, check);
        }
        for (size_t v = 0; v < served.size(); ++v) {
            if (IsEndpoint(v)) continue;
            if (served[v] != 1) {
                check.errors.push_back("vertex " + std::to_string(v) + " served " +
                                       std::to_string(served[v]) + " times");
            }
        }
        return check;
    }

    // Recomputed cost of a route, or NaN when it breaks a window or its shift: its duration
    // from departure (waits and services included) or, under "travel", its legs' travel.
    double RouteCost(size_t k, const std::vector<int64_t>& path) const {
        const Agent& agent = problem_.agents_ordered[k];
        const CostMatrix* matrix = Matrix(agent.type);
        const bool return_to_end = problem_.options.return_to_end;
        const bool shift = agent.shift_start || agent.shift_end;
        // Service starts at times[i] when the agent leaves as early as it may; closes[i] is
        // the close of the window it falls in.
        std::vector<double> times;
        std::vector<double> legs;
        std::vector<double> closes;
        double travel = 0.0;
        for (size_t i = 0; i < path.size(); ++i) {
            const int64_t node = path[i];
            double time = i == 0 ? agent.shift_start.value_or(0.0) : times.back();
            double leg = 0.0;
            if (i > 0 && node != path[i - 1]) {
                // Service at a target ends before the agent leaves it, whichever leg follows.
                const double service = IsEndpoint(static_cast<size_t>(path[i - 1]))
                                           ? 0.0
                                           : problem_.nodes[path[i - 1]].service;
                const bool free_leg = !return_to_end && (node == starts_[k] || node == ends_[k]);
                const double leg_travel = free_leg ? 0.0 : Entry(matrix, path[i - 1], node);
                leg = service + leg_travel;
                time += leg;
                travel += leg_travel;
            }
            legs.push_back(leg);
            double close = std::numeric_limits<double>::infinity();
            if (!Serve(problem_.nodes[node].id, time, &close)) return std::nan("");
            closes.push_back(close);
            if (time > agent.shift_end.value_or(std::numeric_limits<double>::infinity())) {
                return std::nan("");
            }
            times.push_back(time);
        }
        if (problem_.options.route_cost == RouteCostKind::Travel) return travel;
        if (times.empty()) return 0.0;
        return times.back() - (shift ? LatestDeparture(times, legs, closes) : 0.0);
    }

    // A shift's agent leaves as late as lets it end as early as it can: a later start is
    // absorbed by the waits before the end, and pushes no service past its window's close.
    static double LatestDeparture(const std::vector<double>& times, const std::vector<double>& legs,
                                  const std::vector<double>& closes) {
        double waited = 0.0;
        double slack = std::numeric_limits<double>::infinity();
        for (size_t i = 1; i < times.size(); ++i) {
            waited += times[i] - (times[i - 1] + legs[i]);
            slack = std::min(slack, closes[i] - times[i] + waited);
        }
        return times.front() + std::min(waited, slack);
    }

private:
    // Moves `time` to the start of service at the node: in the earliest of its windows that
    // has not closed. False when every window has closed.
    bool Serve(uint64_t id, double& time, double* closes_at) const {
        const TimeWindowConstraint& constraint = problem_.timewindow_constraint;
        std::vector<std::pair<double, double>> windows;
        if (auto several = constraint.several.find(id); several != constraint.several.end()) {
            windows = several->second;
        } else if (auto one = constraint.windows.find(id); one != constraint.windows.end()) {
            windows.push_back(one->second);
        } else {
            return true;
        }
        for (const auto& [open, close] : windows) {
            if (time > close) continue;
            time = std::max(time, open);
            *closes_at = close;
            return true;
        }
        return false;
    }

    bool IsEndpoint(size_t v) const {
        for (size_t k = 0; k < starts_.size(); ++k) {
            if (starts_[k] == static_cast<int64_t>(v) || ends_[k] == static_cast<int64_t>(v)) {
                return true;
            }
        }
        return false;
    }

    bool TypeAllowed(const Agent& agent, int64_t v) const {
        const auto& allowed = problem_.assignment_constraint.allowed_types;
        auto entry = allowed.find(problem_.nodes[v].id);
        if (entry == allowed.end()) return true;
        for (const auto& name : entry->second) {
            if (name == agent.type) return true;
        }
        return false;
    }

    const CostMatrix* Matrix(const std::string& type) const {
        auto it = problem_.cost_matrices.find(type);
        return it == problem_.cost_matrices.end() ? nullptr : &it->second;
    }

    static double Entry(const CostMatrix* matrix, int64_t i, int64_t j) {
        if (!matrix || static_cast<size_t>(i) >= matrix->size() ||
            static_cast<size_t>(j) >= (*matrix)[i].size()) {
            return 9999.0;
        }
        return (*matrix)[i][j];
    }

    void CheckRoute(size_t k, const std::vector<int64_t>& path, const Result& result,
                    std::vector<int>& served, RouteCheck& check) const {
        const Agent& agent = problem_.agents_ordered[k];
        std::string who = "agent " + std::to_string(k) + ": ";
        if (path.front() != starts_[k]) check.errors.push_back(who + "does not start at its start");
        bool ends_well = path.back() == ends_[k] ||
                         (!problem_.options.return_to_end && path.back() == starts_[k]);
        if (!ends_well) check.errors.push_back(who + "ends at " + std::to_string(path.back()));
        for (size_t i = 1; i + 1 < path.size(); ++i) {
            int64_t v = path[i];
            if (IsEndpoint(v)) {
                check.errors.push_back(who + "passes through endpoint " + std::to_string(v));
                continue;
            }
            ++served[v];
            if (!TypeAllowed(agent, v)) {
                check.errors.push_back(who + "may not serve " + std::to_string(v));
            }
        }
        const auto targets = static_cast<int64_t>(path.size() < 2 ? 0 : path.size() - 2);
        if (agent.max_stops && targets > *agent.max_stops) {
            check.errors.push_back(who + "serves more targets than it may");
        }
        double cost = RouteCost(k, path);
        if (std::isnan(cost)) check.errors.push_back(who + "misses a time window or its shift");
        if (agent.time_limit > 0 && cost > agent.time_limit + 1e-9) {
            check.errors.push_back(who + "exceeds its cost limit");
        }
        auto reported = result.times.find(static_cast<int64_t>(k));
        double written = reported == result.times.end() ? 0.0 : reported->second;
        if (!std::isnan(cost) && std::abs(written - cost) > 1e-6) {
            check.errors.push_back(who + "reports cost " + std::to_string(written) +
                                   " but its route costs " + std::to_string(cost));
        }
    }

    const Problem& problem_;
    std::unordered_map<uint64_t, int64_t> vertex_of_;
    std::vector<int64_t> starts_;
    std::vector<int64_t> ends_;
};

}  // namespace tamrik::testing
