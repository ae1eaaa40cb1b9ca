#pragma once

// Instances, an independent route checker and solution invariants for the post-optimizer
// tests. The checker follows Part 5.1's EvaluatePath text on its own (GetArcCost, no shared
// code with src/postopt), so that the optimizers are measured against the specification.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "graph/sparse_graph.h"
#include "model/result.h"
#include "plugins/plugin_kinds.h"
#include "solver/search_records.h"

namespace tamrik::postopt_test {

using Path = std::vector<int64_t>;
using Matrix = std::vector<std::vector<double>>;

// One post-optimizer instance: what the Solver hands to the setters and to Optimize.
struct Instance {
    std::unique_ptr<SparseGraph> graph = std::make_unique<SparseGraph>();
    std::vector<PointRecord> points;
    std::vector<AgentRecord> agents;
    std::vector<int64_t> starts;
    std::vector<int64_t> ends;
    TimeWindowMap windows;
    bool return_to_end = false;
};

// A complete graph built as the Solver builds it: ChangeCostDim(T, 9999.0), AddVertex for all,
// AddArc for every ordered pair; matrices[t][i][j] is the cost of i -> j for type t.
inline void BuildGraph(Instance& instance, const std::vector<Matrix>& matrices) {
    instance.graph = std::make_unique<SparseGraph>();
    const size_t n = matrices.front().size();
    instance.graph->ChangeCostDim(matrices.size(), 9999.0);
    for (size_t i = 0; i < n; ++i) instance.graph->AddVertex(static_cast<int64_t>(i));
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = 0; j < n; ++j) {
            if (i == j) continue;
            CostVector cost;
            for (const Matrix& matrix : matrices) cost.push_back(matrix[i][j]);
            instance.graph->AddArc(static_cast<int64_t>(i), static_cast<int64_t>(j), cost);
        }
    }
}

// n points that every type in `types` may serve.
inline void AddPoints(Instance& instance, size_t n, std::vector<int64_t> types = {0}) {
    for (size_t i = 0; i < n; ++i) {
        PointRecord point;
        point.node_id = instance.points.size();
        point.types = types;
        instance.points.push_back(point);
    }
}

inline void AddAgent(Instance& instance, int64_t start, int64_t end, int64_t type = 0,
                     double limit = 0.0) {
    AgentRecord agent;
    agent.agent_id = instance.agents.size();
    agent.type_index = type;
    agent.cost_limit = limit;
    instance.agents.push_back(agent);
    instance.starts.push_back(start);
    instance.ends.push_back(end);
}

// The setters in the Solver's order.
inline void Configure(PostOptimizerPlugin& optimizer, const Instance& instance) {
    optimizer.SetReturnToEnd(instance.return_to_end);
    optimizer.SetStartNodes(instance.starts);
    optimizer.SetEndNodes(instance.ends);
    optimizer.SetTimeWindows(instance.windows);
}

inline void RunOptimizer(PostOptimizerPlugin& optimizer, const Instance& instance, Result& result) {
    Configure(optimizer, instance);
    optimizer.Optimize(instance.graph.get(), instance.points, instance.agents, result);
}

struct RouteCheck {
    bool feasible = true;
    double cost = 0.0;
    std::string why;
};

// Part 5.1 EvaluatePath, written independently. The cost is summed over the whole path even
// after a violation (the first violation is named in `why`).
inline RouteCheck CheckRoute(const Instance& in, const Path& path, int64_t a) {
    RouteCheck check;
    auto violate = [&check](const std::string& why) {
        if (check.feasible) check.why = why;
        check.feasible = false;
    };
    if (path.empty()) return check;
    const AgentRecord& agent = in.agents.at(static_cast<size_t>(a));
    const bool has_starts = !in.starts.empty();
    const bool has_ends = !in.ends.empty();
    const int64_t first = path.front();
    const int64_t last = path.back();
    if (has_starts) {
        const bool closed = first == last && !in.return_to_end;
        if (first != in.starts.at(static_cast<size_t>(a))) violate("first node is not the start");
        if (has_ends) {
            if (last != in.ends.at(static_cast<size_t>(a)) && !closed) violate("bad last node");
        } else if (!closed) {
            violate("no end list and not a closed tour");
        }
    } else if (!has_ends || last != in.ends.at(static_cast<size_t>(a))) {
        violate("no start list and last node is not the end");
    }
    const std::set<int64_t> start_set(in.starts.begin(), in.starts.end());
    const std::set<int64_t> end_set(in.ends.begin(), in.ends.end());
    double time = 0.0;
    for (size_t i = 0; i < path.size(); ++i) {
        const int64_t node = path[i];
        const std::string where = " at position " + std::to_string(i);
        if (has_starts && i > 0 && node == in.starts[static_cast<size_t>(a)] &&
            i + 1 != path.size()) {
            violate("own start in the middle" + where);
        }
        const std::vector<int64_t>& types = in.points.at(static_cast<size_t>(node)).types;
        if (std::find(types.begin(), types.end(), agent.type_index) == types.end()) {
            violate("type not allowed" + where);
        }
        if (has_starts && start_set.count(node) && node != in.starts[static_cast<size_t>(a)]) {
            violate("foreign start" + where);
        }
        if (has_ends && end_set.count(node) && node != in.ends[static_cast<size_t>(a)]) {
            violate("foreign end" + where);
        }
        if (i > 0) {
            const int64_t prev = path[i - 1];
            const bool free_leg =
                node == prev ||
                (!in.return_to_end &&
                 ((has_starts && node == in.starts[static_cast<size_t>(a)]) ||
                  (has_ends && node == in.ends[static_cast<size_t>(a)])));
            if (!free_leg) {
                const CostVector cost = in.graph->GetArcCost(prev, node);
                if (!cost.empty()) time += cost.at(static_cast<size_t>(agent.type_index));
            }
        }
        auto window = in.windows.find(node);
        if (window != in.windows.end()) {
            if (time > window->second.second) violate("window closed" + where);
            time = std::max(time, window->second.first);
        }
        if (i > 0 && agent.cost_limit > 0.0 && time > agent.cost_limit) {
            violate("over the cost limit" + where);
        }
    }
    check.cost = time;
    return check;
}

inline std::string PathText(const Path& path) {
    std::ostringstream out;
    out << "[";
    for (size_t i = 0; i < path.size(); ++i) out << (i ? " " : "") << path[i];
    out << "]";
    return out.str();
}

inline double LongestTime(const Result& result) {
    double longest = 0.0;
    for (const auto& [agent, time] : result.times) longest = std::max(longest, time);
    return longest;
}

// The invariants every output must satisfy when every input route was feasible: one path and
// one time per agent, every route feasible by the independent checker, every written cost
// equal to the recomputed one, the interior nodes (every node but the first and last of a
// route) the same multiset as before (so every node is still served exactly once when it was
// before), the endpoints unchanged, the longest route not longer than before, and the other
// fields untouched.
// Routes listed in `infeasible_in` came in infeasible: they must come out unchanged with the
// cost they came in with.
inline void ExpectSoundSolution(const Instance& in, const Result& before, const Result& after,
                                const std::string& context,
                                const std::set<int64_t>& infeasible_in = {}) {
    SCOPED_TRACE(context);
    const int64_t m = static_cast<int64_t>(in.agents.size());
    ASSERT_EQ(after.paths.size(), static_cast<size_t>(m));
    ASSERT_EQ(after.times.size(), static_cast<size_t>(m));
    std::multiset<int64_t> interior_before;
    std::multiset<int64_t> interior_after;
    for (int64_t k = 0; k < m; ++k) {
        const Path& old_path = before.paths.at(k);
        const Path& new_path = after.paths.at(k);
        for (size_t i = 1; i + 1 < old_path.size(); ++i) interior_before.insert(old_path[i]);
        for (size_t i = 1; i + 1 < new_path.size(); ++i) interior_after.insert(new_path[i]);
        ASSERT_EQ(old_path.size() >= 2, new_path.size() >= 2) << "agent " << k;
        if (!old_path.empty()) {
            EXPECT_EQ(new_path.front(), old_path.front()) << "agent " << k;
            EXPECT_EQ(new_path.back(), old_path.back()) << "agent " << k;
        }
        if (infeasible_in.count(k)) {
            EXPECT_EQ(new_path, old_path) << "agent " << k;
            EXPECT_EQ(after.times.at(k), before.times.at(k)) << "agent " << k;
            continue;
        }
        const RouteCheck check = CheckRoute(in, new_path, k);
        EXPECT_TRUE(check.feasible)
            << "agent " << k << " route " << PathText(new_path) << ": " << check.why;
        EXPECT_NEAR(after.times.at(k), check.cost, 1e-6)
            << "agent " << k << " route " << PathText(new_path);
    }
    EXPECT_EQ(interior_before, interior_after);
    EXPECT_LE(LongestTime(after), LongestTime(before) + 1e-9);
    EXPECT_EQ(after.n_generated, before.n_generated);
    EXPECT_EQ(after.n_expanded, before.n_expanded);
    EXPECT_EQ(after.timeout, before.timeout);
    EXPECT_EQ(after.last_update_time, before.last_update_time);
}

// Delegates to a SparseGraph and counts the cost look-ups.
class CountingGraph : public PlannerGraph {
public:
    explicit CountingGraph(const PlannerGraph& inner) : inner(inner) {}

    mutable int64_t arc_cost_calls = 0;
    mutable int64_t arc_cost_entry_calls = 0;

    bool HasVertex(int64_t v) const override { return inner.HasVertex(v); }
    bool HasArc(int64_t u, int64_t v) const override { return inner.HasArc(u, v); }
    std::vector<int64_t> GetSuccs(int64_t v) const override { return inner.GetSuccs(v); }
    std::vector<int64_t> GetPreds(int64_t v) const override { return inner.GetPreds(v); }
    CostVector GetArcCost(int64_t u, int64_t v) const override {
        ++arc_cost_calls;
        return inner.GetArcCost(u, v);
    }
    std::vector<CostVector> GetSuccCosts(int64_t v) const override {
        return inner.GetSuccCosts(v);
    }
    std::vector<CostVector> GetPredCosts(int64_t v) const override {
        return inner.GetPredCosts(v);
    }
    size_t NumVertex() const override { return inner.NumVertex(); }
    size_t NumArc() const override { return inner.NumArc(); }
    size_t NumEdge() const override { return inner.NumEdge(); }
    size_t CostDim() const override { return inner.CostDim(); }
    std::vector<int64_t> GetAllVertices() const override { return inner.GetAllVertices(); }
    void AddVertex(int64_t) override {}
    void AddEdge(int64_t, int64_t, const CostVector&) override {}
    void AddArc(int64_t, int64_t, const CostVector&) override {}
    void CreateFromEdges(const std::vector<int64_t>&, const std::vector<int64_t>&,
                         const std::vector<CostVector>&) override {}
    void CreateFromArcs(const std::vector<int64_t>&, const std::vector<int64_t>&,
                        const std::vector<CostVector>&) override {}
    void ChangeCostDim(size_t, double) override {}
    bool SetArcCost(int64_t, int64_t, const CostVector&) override { return false; }
    std::string ToStr() const override { return inner.ToStr(); }
    std::optional<double> ArcCostEntry(int64_t u, int64_t v, int64_t type) const override {
        ++arc_cost_entry_calls;
        return inner.ArcCostEntry(u, v, type);
    }

private:
    const PlannerGraph& inner;
};

// A symmetric matrix from a list of (i, j, cost); unlisted pairs get `fill`.
inline Matrix SymmetricMatrix(size_t n, const std::vector<std::tuple<int, int, double>>& pairs,
                              double fill = 100.0) {
    Matrix matrix(n, std::vector<double>(n, fill));
    for (size_t i = 0; i < n; ++i) matrix[i][i] = 0.0;
    for (const auto& [i, j, cost] : pairs) {
        matrix[static_cast<size_t>(i)][static_cast<size_t>(j)] = cost;
        matrix[static_cast<size_t>(j)][static_cast<size_t>(i)] = cost;
    }
    return matrix;
}

// Euclidean distances between the given points.
inline Matrix EuclideanMatrix(const std::vector<std::pair<double, double>>& coords) {
    Matrix matrix(coords.size(), std::vector<double>(coords.size(), 0.0));
    for (size_t i = 0; i < coords.size(); ++i) {
        for (size_t j = 0; j < coords.size(); ++j) {
            matrix[i][j] = std::hypot(coords[i].first - coords[j].first,
                                      coords[i].second - coords[j].second);
        }
    }
    return matrix;
}

// A result holding these paths with their independently checked costs as times.
inline Result MakeResult(const Instance& in, const std::vector<Path>& paths) {
    Result result;
    for (size_t k = 0; k < paths.size(); ++k) {
        result.paths[static_cast<int64_t>(k)] = paths[k];
        result.times[static_cast<int64_t>(k)] = CheckRoute(in, paths[k], static_cast<int64_t>(k)).cost;
    }
    return result;
}

}  // namespace tamrik::postopt_test
