#pragma once

// A seeded working day for the route layer's tests: windows (some nodes with two), a shift,
// a stop limit, cost limits and loads that a random filling breaks often.

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "route/route_set.h"
#include "solver/solver_probe.h"
#include "support/random_instance.h"

namespace tamrik::testing {

// Windows on most targets (some with two), a shift on the first agent, a stop limit on the
// second, cost limits on all, and demands that fill about two routes of three; untimed, the
// demands alone at a smaller capacity (routes that cost the sum of their legs). Priced: travel
// times apart from the costs (a quarter longer, plus up to 0.6 that varies by leg), routes
// priced by distance and duration, and distance and duration limits.
inline Problem BusyDay(unsigned seed, bool several, bool timed = true, bool priced = false) {
    InstanceShape shape{30, 3, true, false, false, false, false, ObjectiveType::MinSum, true};
    Problem problem = RandomInstance(shape, seed);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> opening(0.0, 400.0);
    std::uniform_int_distribution<int> demand(1, 9);
    TimeWindowConstraint windows;
    for (size_t v = 1; v < problem.nodes.size(); ++v) {
        problem.nodes[v].service = 2.0;
        problem.nodes[v].demand = demand(rng);
        if (v % 4 == 0 || !timed) continue;
        const double open = opening(rng);
        if (several && v % 3 == 0) {
            windows.set_timewindows(problem.nodes[v].id, {{open, open + 40.0}, {open + 90.0, open + 150.0}});
        } else {
            windows.set_timewindow(problem.nodes[v].id, open, open + 120.0);
        }
    }
    problem.set_timewindow_constraint(windows);
    for (size_t a = 0; a < problem.agents_ordered.size(); ++a) {
        Agent& agent = problem.agents_ordered[a];
        agent.capacity_limit = timed ? 60.0 : 25.0;
        if (timed) {
            agent.time_limit = 700.0;
            if (a == 0) {
                agent.shift_start = 30.0;
                agent.shift_end = 650.0;
            }
            if (a == 1) agent.max_stops = 7;
        }
        if (priced) {
            agent.unit_distance_cost = 1.0 + 0.5 * static_cast<double>(a);
            agent.unit_duration_cost = a == 1 ? 0.0 : 0.25;
            if (a == 1) agent.max_distance = 250.0;
            if (a == 2) agent.max_duration = 400.0;
        }
        problem.agents[agent.id] = agent;
    }
    if (priced) {
        for (auto& [type, matrix] : problem.cost_matrices) {
            CostMatrix durations = matrix;
            for (size_t i = 0; i < durations.size(); ++i) {
                for (size_t j = 0; j < durations[i].size(); ++j) {
                    const double extra = i == j ? 0.0 : 0.1 * static_cast<double>((i + j) % 7);
                    durations[i][j] = 1.25 * matrix[i][j] + extra;
                }
            }
            problem.set_duration_matrix(type, std::move(durations));
        }
    }
    return problem;
}

// The second load dimension of a two-dimensional day: what each target picks up and what it
// has delivered, against a capacity that routes of the day's length fill.
struct SecondLoad {
    double pickup;
    double delivery;
};
inline SecondLoad SecondLoadOf(size_t vertex) {
    return {static_cast<double>(vertex % 3), static_cast<double>((vertex * 7) % 5)};
}
constexpr double kSecondCapacity = 16.0;

inline TaskRules LoadsOf(const Problem& problem, size_t dims) {
    TaskRules tasks;
    tasks.Reset(problem.nodes.size(), problem.agents_ordered.size(), dims);
    for (size_t v = 1; v < problem.nodes.size(); ++v) {
        tasks.SetDemand(static_cast<Vertex>(v), problem.nodes[v].demand);
        if (dims == 2) {
            const SecondLoad second = SecondLoadOf(v);
            tasks.SetLoad(static_cast<Vertex>(v), 1, second.pickup - second.delivery, second.delivery);
        }
    }
    for (size_t a = 0; a < problem.agents_ordered.size(); ++a) {
        tasks.SetCapacity(a, problem.agents_ordered[a].capacity_limit);
        if (dims == 2) tasks.SetCapacity(a, 1, kSecondCapacity);
    }
    return tasks;
}

// A busy day with what the route layer's tests build on it: its rules (through a quiet solver
// probe, which must outlive them), its loads (in one dimension or two) and a route set with
// every route empty.
struct BusyRoutes {
    BusyRoutes(unsigned seed, bool several, bool timed = true, bool priced = false, size_t dims = 1)
        : problem(BusyDay(seed, several, timed, priced)),
          solver(QuietProbe(problem)),
          rules(solver->Rules()),
          tasks(LoadsOf(problem, dims)),
          set(rules, &tasks) {
        EXPECT_TRUE(set.LoadEmpty().empty());
    }

    Problem problem;
    std::unique_ptr<SolverProbe> solver;
    RouteRules rules;
    TaskRules tasks;
    RouteSet set;
};

// The highest load a path reaches, walked node by node.
inline double HighestLoad(const Problem& problem, const std::vector<Vertex>& path) {
    double load = 0.0;
    double highest = 0.0;
    for (size_t k = 1; k < path.size(); ++k) {
        load += problem.nodes[static_cast<size_t>(path[k])].demand;
        highest = std::max(highest, load);
    }
    return highest;
}

// How far a path's loads leave [0, capacity] summed over the dimensions, walked node by node:
// the second dimension sets out with every delivery of the path.
inline double WalkedOverload(const Problem& problem, const std::vector<Vertex>& path,
                             double capacity, size_t dims) {
    double over = std::max(0.0, HighestLoad(problem, path) - capacity);
    if (dims == 1) return over;
    double load = 0.0;
    for (size_t k = 1; k + 1 < path.size(); ++k) load += SecondLoadOf(static_cast<size_t>(path[k])).delivery;
    double highest = load;
    double lowest = load;
    for (size_t k = 1; k + 1 < path.size(); ++k) {
        const SecondLoad second = SecondLoadOf(static_cast<size_t>(path[k]));
        load += second.pickup - second.delivery;
        highest = std::max(highest, load);
        lowest = std::min(lowest, load);
    }
    return over + std::max(0.0, highest - kSecondCapacity) + std::max(0.0, -lowest);
}

// Half of the targets, each at the first of a few random places that keeps every rule.
inline void FillHalfAtRandom(RouteSet& set, std::mt19937& rng) {
    std::vector<Vertex> order = set.Movable();
    std::shuffle(order.begin(), order.end(), rng);
    order.resize(order.size() / 2);
    for (Vertex node : order) {
        for (int attempt = 0; attempt < 20; ++attempt) {
            const size_t r = rng() % set.RouteCount();
            const size_t q = 1 + rng() % (set.RouteOf(r).nodes.size() - 1);
            if (set.Accepts(r, node) && set.InsertionCost(r, q, node) != RouteSet::kInfeasible) {
                set.Insert(r, q, node);
                break;
            }
        }
    }
}

}  // namespace tamrik::testing
