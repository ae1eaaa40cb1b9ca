// Times the route layer's hot paths on seeded Solomon-like instances (one depot, windows,
// service, capacity, travel costs where windows are): evaluating every insertion of the stops
// that are out, filling the routes by best insertion, and segment reversal on routes without
// windows or loads.
//
// Usage: route_moves_bench [seed=1] [repeats=21] [nodes=200] [agents=20]
// Prints one line per case: the median of the repeats in milliseconds and a checksum that
// must not change between builds.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "improve/best_insertion.h"
#include "improve/near_lists.h"
#include "improve/reversal_descent.h"
#include "solver/solver.h"

namespace {

using namespace tamrik;
using Clock = std::chrono::steady_clock;

// Reaches the rules the solver builds for its stages.
class RulesOf : public Solver {
public:
    using Solver::Rules;
    using Solver::Solver;
};

// The loads of the instance (vertices in node order, the depot first).
TaskRules LoadsOf(const Problem& problem) {
    TaskRules tasks;
    tasks.Reset(problem.nodes.size(), problem.agents_ordered.size());
    for (size_t v = 1; v < problem.nodes.size(); ++v) {
        tasks.SetDemand(static_cast<Vertex>(v), problem.nodes[v].demand);
    }
    for (size_t a = 0; a < problem.agents_ordered.size(); ++a) {
        tasks.SetCapacity(a, problem.agents_ordered[a].capacity_limit);
    }
    return tasks;
}

Problem SolomonLike(unsigned seed, int nodes, int agents, bool windows, bool loads) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> coordinate(0.0, 100.0);
    std::uniform_real_distribution<double> opening(0.0, 800.0);
    std::uniform_int_distribution<int> demand(1, 30);
    Problem problem;
    std::vector<Position> xy;
    for (int i = 0; i < nodes; ++i) {
        Node node;
        node.id = static_cast<uint64_t>(i);
        node.position = {coordinate(rng), coordinate(rng), 0.0};
        node.demand = i == 0 ? 0.0 : demand(rng);
        node.service = i == 0 ? 0.0 : 10.0;
        xy.push_back(node.position);
        problem.add_node(node);
    }
    for (int a = 0; a < agents; ++a) {
        Agent agent;
        agent.id = static_cast<uint64_t>(a);
        agent.type = "van";
        agent.capacity_limit = 100.0;
        problem.add_agent(agent, agent.id);
    }
    CostMatrix matrix(nodes, std::vector<double>(nodes, 0.0));
    for (int i = 0; i < nodes; ++i) {
        for (int j = 0; j < nodes; ++j) {
            matrix[i][j] = std::hypot(xy[i].x - xy[j].x, xy[i].y - xy[j].y);
        }
    }
    problem.set_cost_matrix("van", matrix);
    AssignmentConstraint everyone;
    for (int i = 0; i < nodes; ++i) everyone.set_assignment(static_cast<uint64_t>(i), {"van"});
    problem.set_assignment_constraint(everyone);
    TimeWindowConstraint list;
    if (windows) {
        list.set_timewindow(0, 0.0, 1200.0);
        for (int i = 1; i < nodes; ++i) {
            const double open = opening(rng);
            list.set_timewindow(static_cast<uint64_t>(i), open, open + 120.0);
        }
    }
    problem.set_timewindow_constraint(list);
    problem.options.objective = ObjectiveType::MinSum;
    problem.options.enforce_capacity = loads;
    if (windows) problem.options.route_cost = RouteCostKind::Travel;
    return problem;
}

double Median(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// Runs `work` `repeats` times on a fresh copy of `start`; prints the median and checksum.
void Time(const char* name, int repeats, const RouteSet& start,
          const std::function<double(RouteSet&)>& work) {
    std::vector<double> times;
    double checksum = 0.0;
    for (int k = 0; k < repeats; ++k) {
        RouteSet set = start;
        const auto begin = Clock::now();
        checksum = work(set);
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
    }
    std::printf("%-28s %10.3f ms   checksum %.6f\n", name, Median(times), checksum);
}

// Every stop that is out, at every place of every route that accepts it.
double EvaluateEveryInsertion(RouteSet& set) {
    double sum = 0.0;
    for (int pass = 0; pass < 100; ++pass) {
        for (Vertex node : set.Movable()) {
            if (set.RouteHolding(node) >= 0) continue;
            for (size_t r = 0; r < set.RouteCount(); ++r) {
                if (!set.Accepts(r, node)) continue;
                const size_t size = set.RouteOf(r).nodes.size();
                for (size_t q = set.FirstFree(r); q < size; ++q) {
                    const double cost = set.InsertionCost(r, q, node);
                    if (cost != RouteSet::kInfeasible) sum += cost;
                }
            }
        }
    }
    return sum;
}

double FillByBestInsertion(RouteSet& set) {
    BestInsertion insertion(false);
    std::vector<uint8_t> pending(set.VertexCount(), 0);
    for (Vertex node : set.Movable()) insertion.Place(set, node, pending);
    return set.Total();
}

// Half of the stops in, each at its best place: the state the stage's repairs start from.
RouteSet HalfFilled(const RouteSet& empty) {
    RouteSet set = empty;
    BestInsertion insertion(false);
    std::vector<uint8_t> pending(set.VertexCount(), 0);
    const auto& movable = set.Movable();
    for (size_t k = 0; k < movable.size(); k += 2) insertion.Place(set, movable[k], pending);
    return set;
}

void RunCase(const char* label, const Problem& problem, int repeats) {
    RulesOf solver(problem, problem.options);
    const RouteRules rules = solver.Rules();
    const TaskRules loads = LoadsOf(problem);
    RouteSet empty(rules, problem.options.enforce_capacity ? &loads : nullptr);
    if (!empty.LoadEmpty().empty()) {
        std::printf("%s: the empty routes break a rule\n", label);
        return;
    }
    const std::string name(label);
    Time((name + " insertion costs").c_str(), repeats, HalfFilled(empty), EvaluateEveryInsertion);
    Time((name + " best insertion").c_str(), repeats, empty, FillByBestInsertion);
    if (problem.timewindow_constraint.windows.empty() && !problem.options.enforce_capacity) {
        RouteSet full = empty;
        FillByBestInsertion(full);
        const NearLists near = BuildNearLists(full);
        ReversalDescent descent(near, 16);
        Time((name + " reversals").c_str(), repeats, full, [&descent](RouteSet& set) {
            for (size_t r = 0; r < set.RouteCount(); ++r) descent.Improve(set, r);
            return set.Total();
        });
    }
}

}  // namespace

int main(int argc, char** argv) {
    const unsigned seed = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 1;
    const int repeats = argc > 2 ? std::atoi(argv[2]) : 21;
    const int nodes = argc > 3 ? std::atoi(argv[3]) : 200;
    const int agents = argc > 4 ? std::atoi(argv[4]) : 20;
    RunCase("windows+loads", SolomonLike(seed, nodes, agents, true, true), repeats);
    RunCase("loads", SolomonLike(seed, nodes, agents, false, true), repeats);
    RunCase("plain", SolomonLike(seed, nodes, agents, false, false), repeats);
    return 0;
}
