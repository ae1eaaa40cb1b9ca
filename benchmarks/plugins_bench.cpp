// Timing of the per-label plug-in calls on a 100-vertex complete graph with random Euclidean
// costs (seeded): one CheckTransition of the Solver's composite (default + time-window +
// time-limit checkers) and one ComputeHeuristic over the sorted pair list of all vertex pairs.
// Prints nanoseconds and heap allocations per call.
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DPLOXA_BENCHMARKS=ON
//   cmake --build build-bench --target plugins_bench && build-bench/benchmarks/plugins_bench

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <random>
#include <vector>

#include "graph/sparse_graph.h"
#include "plugins/constraint_checkers.h"
#include "plugins/search_guidance.h"

// ------------------------------------------------------------------ allocation counting
// Global replacements that count every allocation; GCC takes the malloc/free pairing inside
// them for a mismatch once they are inlined.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace {
uint64_t g_allocations = 0;
}

void* operator new(std::size_t size) {
    ++g_allocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }

namespace {

using namespace tamrik;
using Clock = std::chrono::steady_clock;

constexpr int64_t kVertices = 100;
constexpr int kAgents = 3;

double g_sink = 0.0;

// The Solver's SparseGraph, counting ArcCostEntry calls; with `dense` set it answers them
// from an n x n table instead of scanning successor lists (for comparison only).
class BenchGraph : public SparseGraph {
public:
    std::optional<double> ArcCostEntry(int64_t u, int64_t v, int64_t type) const override {
        ++lookups;
        if (dense) {
            if (type != 0 || u == v) return std::nullopt;
            return (*dense)[static_cast<size_t>(u)][static_cast<size_t>(v)];
        }
        return SparseGraph::ArcCostEntry(u, v, type);
    }
    mutable uint64_t lookups = 0;
    const std::vector<std::vector<double>>* dense = nullptr;
};

struct Instance {
    BenchGraph graph;
    std::vector<PointRecord> points;
    std::vector<AgentRecord> agents;
    std::vector<MstEdge> mst_edges;
    std::vector<std::vector<double>> dist;
};

Instance MakeInstance(std::mt19937& rng) {
    Instance in;
    std::uniform_real_distribution<double> coord(0.0, 1000.0);
    std::vector<double> x(kVertices), y(kVertices);
    for (int64_t i = 0; i < kVertices; ++i) {
        x[i] = coord(rng);
        y[i] = coord(rng);
    }
    in.dist.assign(kVertices, std::vector<double>(kVertices, 0.0));
    for (int64_t i = 0; i < kVertices; ++i) {
        for (int64_t j = 0; j < kVertices; ++j) {
            in.dist[i][j] = std::hypot(x[i] - x[j], y[i] - y[j]);
        }
    }
    // As the Solver builds it: dimension first, vertices, then every ordered pair i != j.
    in.graph.ChangeCostDim(1, 9999.0);
    for (int64_t i = 0; i < kVertices; ++i) in.graph.AddVertex(i);
    for (int64_t i = 0; i < kVertices; ++i) {
        for (int64_t j = 0; j < kVertices; ++j) {
            if (i != j) in.graph.AddArc(i, j, {in.dist[i][j]});
        }
    }
    in.points.resize(kVertices);
    for (int64_t i = 0; i < kVertices; ++i) {
        in.points[i].node_id = static_cast<uint64_t>(i);
        in.points[i].types = {0};
    }
    for (int k = 0; k < kAgents; ++k) {
        AgentRecord agent;
        agent.agent_id = static_cast<uint64_t>(k);
        agent.type_index = 0;
        agent.cost_limit = 1e6;
        in.agents.push_back(agent);
    }
    // Every pair once, larger index first, ascending by weight.
    for (int64_t i = 1; i < kVertices; ++i) {
        for (int64_t j = 0; j < i; ++j) in.mst_edges.push_back({i, j, in.dist[i][j]});
    }
    std::sort(in.mst_edges.begin(), in.mst_edges.end(),
              [](const MstEdge& a, const MstEdge& b) { return a.w < b.w; });
    return in;
}

// A successor label as the search builds it: `served` of the vertices served (vertex 0, the
// depot, always), the agents on served vertices, agent 0 moved to the unserved vertex v
// (marked served, cost including the arc), its position still the vertex it leaves.
struct Move {
    Label label;
    int64_t agent = 0;
    int64_t vertex = 0;
};

Move MakeMove(const Instance& in, std::mt19937& rng, double served_share) {
    Move move;
    Label& label = move.label;
    label.visited_size = static_cast<int32_t>(kVertices);
    for (int64_t v = kVertices; v < kMaxVertices; ++v) SetBit(label.visited, v);
    std::vector<int64_t> order(kVertices - 1);
    for (int64_t i = 0; i < kVertices - 1; ++i) order[i] = i + 1;
    std::shuffle(order.begin(), order.end(), rng);
    const auto served = static_cast<size_t>(served_share * (kVertices - 1));
    SetBit(label.visited, 0);
    for (size_t i = 0; i < served; ++i) SetBit(label.visited, order[i]);
    std::uniform_real_distribution<double> clock(0.0, 2000.0);
    for (int k = 0; k < kAgents; ++k) {
        label.positions.push_back(served > 0 ? order[rng() % served] : 0);
        label.costs.push_back(clock(rng));
        label.finished.push_back(0);
    }
    label.remaining_agents = kAgents;
    move.vertex = order[served];  // the first unserved vertex
    SetBit(label.visited, move.vertex);
    label.costs[0] += in.dist[label.positions[0]][move.vertex];
    return move;
}

struct Timing {
    double ns_per_call;
    double allocations_per_call;
};

template <typename Call>
Timing Measure(int repetitions, Call call) {
    for (int i = 0; i < repetitions / 10 + 1; ++i) call(i);  // warm-up
    const uint64_t allocations = g_allocations;
    const auto begin = Clock::now();
    for (int i = 0; i < repetitions; ++i) call(i);
    const auto end = Clock::now();
    const double ns = std::chrono::duration<double, std::nano>(end - begin).count();
    return {ns / repetitions,
            static_cast<double>(g_allocations - allocations) / repetitions};
}

void Print(const char* what, const Timing& timing) {
    std::printf("%-72s %10.1f ns/call  %5.2f allocations/call\n", what, timing.ns_per_call,
                timing.allocations_per_call);
}

}  // namespace

int main() {
    std::mt19937 rng(20240607);
    Instance in = MakeInstance(rng);
    std::printf("%lld-vertex complete graph, %d agents, %zu pairs in mst_edges\n",
                static_cast<long long>(kVertices), kAgents, in.mst_edges.size());

    // The Solver's composite for an instance with windows and cost limits.
    std::vector<int64_t> depots(kAgents, 0);
    TimeWindowMap windows;
    std::uniform_real_distribution<double> open(0.0, 1000.0);
    for (int64_t v = 1; v < kVertices; v += 3) {  // a third of the vertices
        double start = open(rng);
        windows[v] = {start, start + 100000.0};
    }
    CompositeConstraintChecker composite;
    composite.AddMember(std::make_unique<DefaultConstraintChecker>());
    composite.AddMember(std::make_unique<TimeWindowConstraintChecker>());
    composite.AddMember(std::make_unique<TimeLimitConstraintChecker>());
    composite.Init(&in.graph, in.points, in.agents);
    for (auto& member : composite.Members()) {
        if (auto* tw = dynamic_cast<TimeWindowConstraintChecker*>(member.get())) {
            tw->SetEnds(depots);
            tw->SetTimeWindows(windows);
            tw->SetStarts(depots);
            tw->SetReturnToEnd(true);
        }
    }

    constexpr int kMoves = 256;
    for (double share : {0.1, 0.5, 0.9}) {
        std::vector<Move> moves;
        for (int i = 0; i < kMoves; ++i) moves.push_back(MakeMove(in, rng, share));
        int feasible = 0, waited = 0;
        in.graph.lookups = 0;
        for (const Move& m : moves) {
            TransitionCheck c = composite.CheckTransition(m.label, m.agent, m.vertex);
            feasible += c.feasible;
            waited += c.updated;
        }
        char what[160];
        std::snprintf(what, sizeof what,
                      "CheckTransition, composite, %2.0f%% served (%d/%d feasible, %d wait)",
                      share * 100, feasible, kMoves, waited);
        const double lookups = static_cast<double>(in.graph.lookups) / kMoves;
        auto run = [&](int i) {
            const Move& m = moves[static_cast<size_t>(i) % kMoves];
            TransitionCheck c = composite.CheckTransition(m.label, m.agent, m.vertex);
            g_sink += c.new_cost + c.feasible;
        };
        Print(what, Measure(200000, run));
        in.graph.dense = &in.dist;
        std::snprintf(what, sizeof what,
                      "  (same, ArcCostEntry from a dense table; %.0f lookups/call)", lookups);
        Print(what, Measure(200000, run));
        in.graph.dense = nullptr;
    }

    // The time-window member alone, and a composite in which every move waits (windows open
    // far in the future), so that the composite makes its one label copy on every call.
    {
        std::vector<Move> moves;
        for (int i = 0; i < kMoves; ++i) moves.push_back(MakeMove(in, rng, 0.5));
        TimeWindowConstraintChecker alone;
        alone.Init(&in.graph, in.points, in.agents);
        alone.SetEnds(depots);
        alone.SetTimeWindows(windows);
        alone.SetStarts(depots);
        alone.SetReturnToEnd(true);
        Print("CheckTransition, time-window checker alone, 50% served",
              Measure(200000, [&](int i) {
                  const Move& m = moves[static_cast<size_t>(i) % kMoves];
                  g_sink += alone.CheckTransition(m.label, m.agent, m.vertex).feasible;
              }));

        TimeWindowMap late;
        for (int64_t v = 1; v < kVertices; ++v) late[v] = {1e5, 1e9};
        CompositeConstraintChecker waiting;
        waiting.AddMember(std::make_unique<DefaultConstraintChecker>());
        waiting.AddMember(std::make_unique<TimeWindowConstraintChecker>());
        waiting.AddMember(std::make_unique<TimeLimitConstraintChecker>());
        waiting.Init(&in.graph, in.points, in.agents);
        for (auto& member : waiting.Members()) {
            if (auto* tw = dynamic_cast<TimeWindowConstraintChecker*>(member.get())) {
                tw->SetEnds(depots);
                tw->SetTimeWindows(late);
                tw->SetStarts(depots);
                tw->SetReturnToEnd(true);
            }
        }
        int waited = 0;
        for (const Move& m : moves) waited += waiting.CheckTransition(m.label, 0, m.vertex).updated;
        char what[160];
        std::snprintf(what, sizeof what,
                      "CheckTransition, composite, 50%% served, %d/%d moves wait (label copy)",
                      waited, kMoves);
        Print(what, Measure(200000, [&](int i) {
                  const Move& m = moves[static_cast<size_t>(i) % kMoves];
                  g_sink += waiting.CheckTransition(m.label, m.agent, m.vertex).new_cost;
              }));
    }

    DefaultHeuristic heuristic;
    heuristic.Init(&in.graph, in.points, in.agents);
    heuristic.SetMstEdges(in.mst_edges);
    for (double share : {0.0, 0.5, 0.9}) {
        std::vector<Move> moves;
        for (int i = 0; i < kMoves; ++i) moves.push_back(MakeMove(in, rng, share));
        for (const Move& m : moves) {  // both forms give the same bits
            if (heuristic.ComputeHeuristic(m.label) !=
                heuristic.ComputeHeuristicByListScan(m.label)) {
                std::printf("mismatch between the two heuristic forms\n");
                return 1;
            }
        }
        char what[160];
        std::snprintf(what, sizeof what, "ComputeHeuristic, %2.0f%% served", share * 100);
        Print(what, Measure(20000, [&](int i) {
                  const Label& label = moves[static_cast<size_t>(i) % kMoves].label;
                  g_sink += heuristic.ComputeHeuristic(label);
              }));
        std::snprintf(what, sizeof what, "  (literal list scan, %2.0f%% served)",
                      share * 100);
        Print(what, Measure(2000, [&](int i) {
                  g_sink += heuristic.ComputeHeuristicByListScan(
                      moves[static_cast<size_t>(i) % kMoves].label);
              }));
    }
    std::printf("(checksum %g)\n", g_sink);
    return 0;
}
