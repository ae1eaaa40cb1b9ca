// The search plug-ins: constraint checkers (worked cases, vertices at the word edges of the
// 256-bit sets, and random moves against a literal transcription of the time-window rule),
// the spanning-tree heuristic (worked cases and its indexed growth against the list scan,
// bit for bit), the expansion, the focal order and the objectives.

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <functional>
#include <limits>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "graph/sparse_graph.h"
#include "plugins/constraint_checkers.h"
#include "plugins/objectives.h"
#include "plugins/search_guidance.h"

namespace tamrik {
namespace {

// n points that each allow exactly the type indices `types`.
std::vector<PointRecord> Points(size_t n, std::vector<int64_t> types = {0}) {
    std::vector<PointRecord> points(n);
    for (PointRecord& point : points) point.types = types;
    return points;
}

AgentRecord Agent(int64_t type_index, double cost_limit = 0.0) {
    return {0, type_index, 0.0, cost_limit};
}

// A label over n vertices as the search builds it: bits n .. 255 set, then those of `served`.
Label MakeLabel(int32_t n, std::vector<int64_t> positions, std::vector<double> costs,
                std::vector<uint8_t> finished, const std::vector<int64_t>& served) {
    Label label;
    label.visited_size = n;
    for (int64_t v = n; v < kMaxVertices; ++v) SetBit(label.visited, v);
    for (int64_t v : served) SetBit(label.visited, v);
    label.positions = std::move(positions);
    label.costs = std::move(costs);
    label.finished = std::move(finished);
    return label;
}

// ----------------------------------------------------------------- constraint checkers

using Answer = std::tuple<bool, double, bool>;  // feasible, new_cost, updated

const Answer kAccepted{true, 0.0, false};
const Answer kRejected{false, 0.0, false};

Answer Ask(const ConstraintCheckerPlugin& checker, const Label& label, int64_t a, int64_t v) {
    const TransitionCheck check = checker.CheckTransition(label, a, v);
    return {check.feasible, check.new_cost, check.updated};
}

// Complete directed graph on n vertices; cost(i, j) is the cost vector of i -> j.
SparseGraph CompleteGraph(int64_t n, size_t dims,
                          const std::function<CostVector(int64_t, int64_t)>& cost) {
    SparseGraph graph;
    graph.ChangeCostDim(dims, 9999.0);
    for (int64_t i = 0; i < n; ++i) graph.AddVertex(i);
    for (int64_t i = 0; i < n; ++i) {
        for (int64_t j = 0; j < n; ++j) {
            if (i != j) graph.AddArc(i, j, cost(i, j));
        }
    }
    return graph;
}

TEST(ConstraintCheckers, EveryCheckerForbidsUnlistedTypesAndDropsLabelsOnlyType0CanFinish) {
    std::vector<PointRecord> points = Points(4, {0, 1});
    points[1].types = {};
    points[3].types = {0};
    SparseGraph graph = CompleteGraph(4, 1, [](int64_t, int64_t) { return CostVector{1.0}; });
    DefaultConstraintChecker plain;
    TimeLimitConstraintChecker limit;
    TimeWindowConstraintChecker windows;
    for (auto* checker : std::vector<ConstraintCheckerPlugin*>{&plain, &limit, &windows}) {
        SCOPED_TRACE(checker->Name());
        checker->Init(&graph, points, {Agent(1), Agent(0), Agent(2)});
        EXPECT_FALSE(checker->IsForbidden(0, 2) || checker->IsForbidden(1, 2));
        EXPECT_TRUE(checker->IsForbidden(2, 2));
        for (int64_t a = 0; a < 3; ++a) EXPECT_TRUE(checker->IsForbidden(a, 1));
        Label label = MakeLabel(4, {0, 0, 0}, {0, 0, 0}, {1, 0, 1}, {0, 1});
        EXPECT_FALSE(checker->IsDeadEnd(label));  // the type-0 agent may still serve 3
        label.finished[1] = 1;
        EXPECT_TRUE(checker->IsDeadEnd(label));
        SetBit(label.visited, 3);  // vertex 2 also allows type 1
        EXPECT_FALSE(checker->IsDeadEnd(label));
        checker->Init(&graph, points, {Agent(1)});  // no type-0 agent at all
        EXPECT_TRUE(checker->IsDeadEnd(MakeLabel(4, {0}, {0}, {0}, {0})));
    }
}

TEST(TimeWindowConstraintChecker, WaitsForTheWindowFiveToEightAndRejectsLateArrivals) {
    SparseGraph graph = CompleteGraph(2, 1, [](int64_t, int64_t) { return CostVector{3.0}; });
    for (const PlannerGraph* with : std::vector<const PlannerGraph*>{nullptr, &graph}) {
        TimeWindowConstraintChecker checker;
        checker.Init(with, Points(2), {Agent(0)});
        checker.SetTimeWindows({{1, {5.0, 8.0}}});
        auto arrive = [&](double t) {
            return Ask(checker, MakeLabel(2, {0}, {t}, {0}, {0, 1}), 0, 1);
        };
        EXPECT_EQ(arrive(3.0), (Answer{true, 5.0, true}));
        EXPECT_EQ(arrive(5.0), kAccepted);
        EXPECT_EQ(arrive(6.0), kAccepted);
        EXPECT_EQ(arrive(8.0), kAccepted);  // the closing time itself is in time
        EXPECT_EQ(arrive(9.0), kRejected);
    }
}

TEST(TimeWindowConstraintChecker, RejectsAMoveThatSkipsACheaperDetour) {
    // cost(0, 1) = 1, cost(0, 2) = 10, cost(1, 2) = 2, in both directions.
    SparseGraph graph = CompleteGraph(3, 1, [](int64_t i, int64_t j) {
        return CostVector{i + j == 1 ? 1.0 : i + j == 2 ? 10.0 : 2.0};
    });
    TimeWindowConstraintChecker checker;
    checker.Init(&graph, Points(3), {Agent(0)});
    // 0 -> 2 arrives at 10; through 1 it would arrive at 3, and 1 served afterwards at 12 > 3.
    EXPECT_EQ(Ask(checker, MakeLabel(3, {0}, {10.0}, {0}, {0, 2}), 0, 2), kRejected);
    // 0 -> 1 arrives at 1; through 2 it would arrive at 12 > 1.
    EXPECT_EQ(Ask(checker, MakeLabel(3, {0}, {1.0}, {0}, {0, 1}), 0, 1), kAccepted);
}

class WordEdge : public ::testing::TestWithParam<int64_t> {};

TEST_P(WordEdge, LookAheadAndDeadEndFindTheOnlyUnservedVertex) {
    // 256 vertices, all served but w; every arc 5 except 0 -> 1 (10) and 0 -> w -> 1 (1 + 1).
    const int64_t w = GetParam();
    SparseGraph graph = CompleteGraph(256, 1, [w](int64_t i, int64_t j) {
        if (i == 0 && j == 1) return CostVector{10.0};
        return CostVector{(i == 0 && j == w) || (i == w && j == 1) ? 1.0 : 5.0};
    });
    TimeWindowConstraintChecker checker;
    checker.Init(&graph, Points(256), {Agent(0)});
    Label label = MakeLabel(256, {0}, {10.0}, {1}, {});
    for (int64_t v = 0; v < 256; ++v) SetBit(label.visited, v);
    ClearBit(label.visited, w);
    EXPECT_EQ(Ask(checker, label, 0, 1), kRejected);  // 1 through w at 2, w afterwards at 15
    checker.SetTimeWindows({{w, {12.0, 100.0}}});  // through w: wait to 12, reach 1 at 13
    EXPECT_EQ(Ask(checker, label, 0, 1), kAccepted);
    EXPECT_TRUE(checker.IsDeadEnd(label));
    SetBit(label.visited, w);
    EXPECT_FALSE(checker.IsDeadEnd(label));
}

INSTANTIATE_TEST_SUITE_P(Vertices, WordEdge, ::testing::Values(63, 64, 127, 128, 255));

// The time-window rule transcribed literally: GetArcCost, hash lookups, vertex by vertex.
// An index without an agent record travels for free and serves nothing.
struct LiteralRule {
    const PlannerGraph* graph = nullptr;
    std::vector<PointRecord> points;
    std::vector<AgentRecord> agents;
    TimeWindowMap windows;
    std::vector<int64_t> ends, starts;
    bool return_to_end = true;

    double Travel(int64_t from, int64_t to, int64_t a) const {
        if (graph == nullptr || from == to || a >= std::ssize(agents)) return 0.0;
        if (!starts.empty() && to == starts[a]) return 0.0;
        if (!return_to_end && !ends.empty() && to == ends[a]) return 0.0;
        CostVector c = graph->GetArcCost(from, to);
        return c.empty() ? 0.0 : c[agents[a].type_index];
    }
    bool CanServe(int64_t a, int64_t w) const {
        const std::vector<int64_t>& types = points[w].types;
        if (a >= std::ssize(agents)) return false;
        if (!std::count(types.begin(), types.end(), agents[a].type_index)) return false;
        if (!ends.empty() && std::count(ends.begin(), ends.end(), w) && w != ends[a]) return false;
        return starts.empty() || !std::count(starts.begin(), starts.end(), w) || w == starts[a];
    }
    bool Window(int64_t u, double& x) const {
        auto it = windows.find(u);
        if (it != windows.end() && x > it->second.second) return false;
        if (it != windows.end()) x = std::max(x, it->second.first);
        return true;
    }
    Answer Check(const Label& label, int64_t a, int64_t v) const {
        double t = label.costs[a];
        if (!Window(v, t)) return kRejected;
        for (int64_t w = 0; graph != nullptr && w < std::ssize(points); ++w) {  // look-ahead
            const int64_t p = label.positions[a];
            if (w == v || w == p || TestBit(label.visited, w) || !CanServe(a, w)) continue;
            if (!starts.empty() && w == starts[a]) continue;
            if (!return_to_end && !ends.empty() && w == ends[a]) continue;
            double x = label.costs[a] - Travel(p, v, a) + Travel(p, w, a);
            if (!Window(w, x)) continue;
            x += Travel(w, v, a);
            if (!Window(v, x) || x > t) continue;
            double y = t + Travel(v, w, a);
            if (!Window(w, y) || y > x) return kRejected;
        }
        for (int64_t w = 0; graph != nullptr && w < std::ssize(points); ++w) {  // reachability
            bool reached = TestBit(label.visited, w);
            for (int64_t k = 0; k < std::ssize(agents) && !reached; ++k) {
                if ((!ends.empty() && label.finished[k] == 1) || !CanServe(k, w)) continue;
                const double arrival = (k == a ? t : label.costs[k]) +
                                       Travel(k == a ? v : label.positions[k], w, k);
                reached = !windows.count(w) || arrival <= windows.at(w).second;
            }
            if (!reached) return kRejected;
        }
        return t == label.costs[a] ? kAccepted : Answer{true, t, true};
    }
};

// (vertex count n, instances, least share of served vertices in percent, one window in k)
class TimeWindowAgreement
    : public ::testing::TestWithParam<std::tuple<int64_t, int, int64_t, int64_t>> {};

TEST_P(TimeWindowAgreement, CheckerAnswersAsTheLiteralRuleOnRandomMoves) {
    const auto [n, instances, min_served_percent, window_one_in] = GetParam();
    std::mt19937 rng(static_cast<uint32_t>(n));
    auto uniform = [&](int64_t lo, int64_t hi) {
        return std::uniform_int_distribution<int64_t>(lo, hi)(rng);
    };
    SparseGraph graph = CompleteGraph(n, 2, [&](int64_t, int64_t) {
        const double type0 = uniform(0, 6) == 0 ? 9999.0 : static_cast<double>(uniform(1, 20));
        return CostVector{type0, static_cast<double>(uniform(1, 20))};
    });
    const std::vector<std::vector<int64_t>> type_lists = {{}, {1}, {0, 1}, {0}, {0}, {0}};
    std::set<std::pair<bool, bool>> kinds;  // (feasible, updated) of the answers seen
    for (int instance = 0; instance < instances; ++instance) {
        LiteralRule rule;
        rule.graph = uniform(0, 15) == 0 ? nullptr : &graph;
        rule.points = Points(static_cast<size_t>(n));
        for (PointRecord& point : rule.points) point.types = type_lists[uniform(0, 5)];
        const int64_t m = uniform(0, 3);
        for (int64_t k = 0; k < m; ++k) rule.agents.push_back(Agent(uniform(0, 1)));
        for (std::vector<int64_t>* list : {&rule.ends, &rule.starts}) {
            if (uniform(0, 3) == 0) continue;  // no list at all
            for (int64_t k = 0; k < m; ++k) list->push_back(uniform(0, n - 1));
        }
        for (int64_t v = 0; v < n; ++v) {
            const double open = static_cast<double>(uniform(0, 30));
            if (uniform(1, window_one_in) == 1) rule.windows[v] = {open, open + uniform(0, 40)};
        }
        rule.return_to_end = uniform(0, 1) == 1;
        TimeWindowConstraintChecker checker;
        checker.Init(rule.graph, rule.points, rule.agents);
        checker.SetEnds(rule.ends);
        checker.SetTimeWindows(rule.windows);
        checker.SetStarts(rule.starts);
        checker.SetReturnToEnd(rule.return_to_end);
        for (int move = 0; move < 20; ++move) {
            Label label = MakeLabel(static_cast<int32_t>(n), {}, {}, {}, {});
            for (int64_t k = 0; k < std::max<int64_t>(m, 1); ++k) {
                label.positions.push_back(uniform(0, n - 1));
                label.costs.push_back(static_cast<double>(uniform(0, 60)));
                label.finished.push_back(uniform(0, 3) == 0);
            }
            const int64_t served_percent = uniform(min_served_percent, 100);
            for (int64_t v = 0; v < n; ++v) {
                if (uniform(0, 99) < served_percent) SetBit(label.visited, v);
            }
            const int64_t a = m == 0 ? 0 : uniform(0, m - 1);
            int64_t v = uniform(0, n - 1);
            while (move % 2 == 0 && !rule.windows.empty() && !rule.windows.count(v)) {
                v = (v + 1) % n;  // half of the moves go into a window
            }
            SetBit(label.visited, v);
            const Answer answer = Ask(checker, label, a, v);
            ASSERT_EQ(answer, rule.Check(label, a, v)) << "instance " << instance << ", " << move;
            kinds.insert({std::get<0>(answer), std::get<2>(answer)});
        }
    }
    EXPECT_EQ(kinds.size(), 3u);  // rejected, accepted and delayed moves all came up
}

INSTANTIATE_TEST_SUITE_P(Sizes, TimeWindowAgreement,
                         ::testing::Values(std::tuple{2, 300, 0, 3},   // the smallest instance
                                           std::tuple{5, 300, 0, 3},   // few candidates
                                           std::tuple{9, 300, 0, 3},   // more of everything
                                           std::tuple{65, 40, 80, 6},  // over a word edge
                                           std::tuple{256, 8, 95, 20}));  // all 256 bits

// A time-window checker that logs its CheckTransition calls and its destruction.
class Recorder : public TimeWindowConstraintChecker {
public:
    Recorder(std::string tag, std::vector<std::string>& log) : tag(tag), log(log) {}
    ~Recorder() override { log.push_back("destroy " + tag); }
    TransitionCheck CheckTransition(const Label& label, int64_t a, int64_t v) const override {
        log.push_back("check " + tag);
        return TimeWindowConstraintChecker::CheckTransition(label, a, v);
    }

    std::string tag;
    std::vector<std::string>& log;
};

TEST(CompositeConstraintChecker, PassesUpdatedCostsOnStopsAtARejectionAndDestroysInOrder) {
    std::vector<std::string> log;
    {
        CompositeConstraintChecker composite;
        Label label = MakeLabel(4, {0, 0}, {7.0, 1e12}, {0, 0}, {0, 1, 2, 3});
        EXPECT_FALSE(composite.IsForbidden(0, 1) || composite.IsDeadEnd(label));  // empty
        EXPECT_TRUE(composite.IsWithinLimit(label, 1));
        EXPECT_EQ(Ask(composite, label, 0, 1), kAccepted);
        int tag = 0;
        // Member 0 makes the agent wait to 12 at vertices 1 and 2; member 1 closes vertex 1 at
        // 11 (it rejects only if it sees 12), keeps 2 open to 14 and makes it wait at 3 to 15.
        for (TimeWindowMap windows : {TimeWindowMap{{1, {12, 20}}, {2, {12, 20}}},
                                      TimeWindowMap{{1, {0, 11}}, {2, {0, 14}}, {3, {15, 20}}},
                                      TimeWindowMap{}}) {
            auto member = std::make_unique<Recorder>(std::to_string(tag++), log);
            member->SetTimeWindows(windows);
            composite.AddMember(std::move(member));
        }
        composite.AddMember(std::make_unique<TimeLimitConstraintChecker>());
        composite.AddMember(nullptr);  // ignored
        composite.Init(nullptr, Points(4), {Agent(0, 10.0), Agent(0, 0.0)});
        EXPECT_EQ(Ask(composite, label, 0, 1), kRejected);
        EXPECT_EQ(Ask(composite, label, 0, 2), (Answer{true, 12.0, true}));
        EXPECT_EQ(Ask(composite, label, 0, 3), (Answer{true, 15.0, true}));
        EXPECT_EQ(label.costs[0], 7.0);  // the caller's label is untouched
        label.costs[0] = 10.0;  // the last member limits costs to 10, and not without a limit
        EXPECT_TRUE(composite.IsWithinLimit(label, 0) && composite.IsWithinLimit(label, 1));
        label.costs[0] = 10.5;
        EXPECT_FALSE(composite.IsWithinLimit(label, 0));
    }
    EXPECT_EQ(log, (std::vector<std::string>{"check 0", "check 1", "check 0", "check 1", "check 2",
                                             "check 0", "check 1", "check 2", "destroy 0",
                                             "destroy 1", "destroy 2"}));
}

// ------------------------------------------------------- heuristic, expansion, order, objectives

constexpr double kUnconnected = 1.1235582092889473e307;  // bit pattern 0x7FAFFFFFFFFFFFFF

// The indexed estimate, after checking it bit for bit against the literal list scan.
double Estimate(const std::vector<MstEdge>& edges, size_t agents, const Label& label) {
    DefaultHeuristic heuristic;
    heuristic.Init(nullptr, Points(static_cast<size_t>(label.visited_size)),
                   std::vector<AgentRecord>(agents, Agent(0)));
    heuristic.SetMstEdges(edges);
    const double fast = heuristic.ComputeHeuristic(label);
    EXPECT_EQ(std::bit_cast<uint64_t>(fast),
              std::bit_cast<uint64_t>(heuristic.ComputeHeuristicByListScan(label)));
    return fast;
}

TEST(DefaultHeuristic, GrowsFromTheOpenTreeAlongTheFirstQualifyingPairInListOrder) {
    const std::vector<MstEdge> three = {{2, 1, 1.0}, {2, 0, 2.0}, {1, 0, 5.0}};
    auto label = [](int64_t position, uint8_t finished, std::vector<int64_t> served) {
        return MakeLabel(3, {position}, {0.0}, {finished}, served);
    };
    // (2, 1) touches no tree vertex at first: (2, 0), then (2, 1).
    EXPECT_EQ(Estimate(three, 1, label(0, 0, {0})), 3.0);
    EXPECT_EQ(Estimate(three, 1, label(0, 1, {0})), kUnconnected);  // a finished agent closes 0
    EXPECT_EQ(Estimate(three, 1, label(1, 1, {0})), 1.0);  // an unserved position is not closed
    EXPECT_EQ(Estimate(three, 1, label(2, 0, {0, 1})), 0.0);  // all served or occupied
    EXPECT_EQ(Estimate({{1, 0, 9999.0}, {2, 0, 1.0}}, 1, label(0, 0, {0})), kUnconnected);
    EXPECT_EQ(Estimate({{2, 0, 9998.5}, {1, 0, 1.0}}, 1, label(0, 0, {0})), 9999.5);
    EXPECT_EQ(Estimate({{2, 0, 5.0}, {1, 0, 1.0}, {2, 1, 1.0}}, 1, label(0, 0, {0})), 6.0);
}

TEST(DefaultHeuristic, GrowsAcrossEveryWordEdgeOf256Vertices) {
    const std::vector<MstEdge> chain = {
        {63, 0, 1.0}, {64, 63, 2.0}, {127, 64, 3.0}, {128, 127, 4.0}, {255, 128, 5.0}};
    Label label = MakeLabel(256, {0}, {0.0}, {0}, {});
    for (int64_t v = 0; v < 256; ++v) SetBit(label.visited, v);
    EXPECT_EQ(Estimate(chain, 1, label), 0.0);
    for (int64_t v : {63, 64, 127, 128, 255}) ClearBit(label.visited, v);
    EXPECT_EQ(Estimate(chain, 1, label), 15.0);
    label.positions = {255};  // vertex 0 is closed now; the chain grows down from 255
    EXPECT_EQ(Estimate(chain, 1, label), 14.0);
    SetBit(label.visited, 128);  // served and closed: the chain breaks
    label.positions = {0};
    EXPECT_EQ(Estimate(chain, 1, label), kUnconnected);
    label.visited_size = 128;  // only vertices 0 .. 127 count
    EXPECT_EQ(Estimate(chain, 1, label), 6.0);
}

TEST(DefaultHeuristic, ReportsWhetherItsEstimatesAreFiniteAndNeverNegative) {
    const double inf = std::numeric_limits<double>::infinity();
    // (pair weights, finite, never negative)
    const std::vector<std::tuple<std::vector<double>, bool, bool>> cases = {
        {{1.0, 0.0, 2.5}, true, true},     // ordinary weights
        {{1.0, -0.5}, true, false},        // a negative weight
        {{1.0, -inf}, false, false},       // an infinite one
        {{1.0, 9999.0, inf}, true, true},  // unusable weights never count
    };
    for (const auto& [weights, finite, non_negative] : cases) {
        std::vector<MstEdge> edges;
        for (size_t i = 0; i < weights.size(); ++i) {
            edges.push_back({static_cast<int64_t>(i) + 1, 0, weights[i]});
        }
        DefaultHeuristic heuristic;
        heuristic.SetMstEdges(edges);
        EXPECT_EQ(heuristic.FiniteEstimates(), finite) << weights.back();
        EXPECT_EQ(heuristic.NonNegativeEstimates(), non_negative) << weights.back();
    }
}

TEST(DefaultHeuristic, IndexedGrowthMatchesTheListScanBitForBitOnRandomLabels) {
    std::mt19937 rng(7);
    auto uniform = [&](int64_t lo, int64_t hi) {
        return std::uniform_int_distribution<int64_t>(lo, hi)(rng);
    };
    std::set<int> kinds;  // of the estimates seen: zero, unconnected, finite
    for (int64_t n : {2, 3, 5, 10, 63, 64, 65, 100, 129, 256}) {
        std::vector<MstEdge> edges = {{n / 2, n / 2, 0.5}};  // a self pair never qualifies
        for (int64_t i = 1; i < n; ++i) {  // ties are common, some pairs unusable or missing
            for (int64_t j = 0; j < i; ++j) {
                const int64_t pick = uniform(0, 19);
                if (pick > 0) edges.push_back({i, j, pick == 1 ? 9999.0 : uniform(1, 30) * 0.1});
            }
        }
        std::stable_sort(edges.begin(), edges.end(),
                         [](const MstEdge& a, const MstEdge& b) { return a.w < b.w; });
        if (n % 2 == 1) std::shuffle(edges.begin(), edges.end(), rng);  // unsorted lists too
        const size_t agents = static_cast<size_t>(uniform(0, 4));
        DefaultHeuristic paired;
        paired.Init(nullptr, Points(static_cast<size_t>(n)),
                    std::vector<AgentRecord>(agents, Agent(0)));
        paired.SetMstEdges(edges);
        Label previous = MakeLabel(static_cast<int32_t>(n), {}, {}, {}, {});
        previous.positions.assign(agents, 0);
        previous.costs.assign(agents, 0.0);
        previous.finished.assign(agents, 0);
        for (int trial = 0; trial < 200; ++trial) {
            Label label = MakeLabel(static_cast<int32_t>(n), {}, {}, {}, {});
            const int64_t served_percent = uniform(0, 99);
            // Odd trials leave one run of ids unserved, as a search sweeping a region does.
            const int64_t run_start = uniform(0, n - 1), run_end = uniform(run_start, n);
            for (int64_t v = 0; v < n; ++v) {
                const bool in_run = v >= run_start && v < run_end;
                if (trial % 2 == 1 ? !in_run : uniform(0, 99) < served_percent) {
                    SetBit(label.visited, v);
                }
            }
            for (size_t k = 0; k < agents; ++k) {
                label.positions.push_back(uniform(0, n - 1));
                label.costs.push_back(0.0);
                label.finished.push_back(uniform(0, 9) < 3);
            }
            const double estimate = Estimate(edges, agents, label);
            ASSERT_FALSE(HasFailure()) << "n " << n << " trial " << trial;
            // Estimated two at a time, each label gets the same estimate as alone.
            double first = -1.0, second = -1.0;
            paired.ComputeHeuristicPair(label, previous, first, second);
            ASSERT_EQ(std::bit_cast<uint64_t>(first), std::bit_cast<uint64_t>(estimate));
            ASSERT_EQ(std::bit_cast<uint64_t>(second),
                      std::bit_cast<uint64_t>(paired.ComputeHeuristicByListScan(previous)));
            previous = label;
            kinds.insert(estimate == 0.0 ? 0 : estimate == kUnconnected ? 1 : 2);
        }
    }
    EXPECT_EQ(kinds.size(), 3u);
}

TEST(DefaultExpansion, SelectsTheCheapestUnfinishedAgentWithTiesToTheLowerIndex) {
    DefaultExpansion expansion;
    auto select = [&](std::vector<double> costs, std::vector<uint8_t> finished) {
        return expansion.SelectAgent(MakeLabel(1, {0, 0, 0}, costs, finished, {}));
    };
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(select({5.0, 3.0, 3.0}, {0, 0, 0}), -1);  // before Init there are no agents
    expansion.Init({7, 8, 9});
    EXPECT_EQ(select({5.0, 3.0, 3.0}, {0, 0, 0}), 1);
    EXPECT_EQ(select({5.0, 3.0, 3.0}, {0, 1, 0}), 2);
    EXPECT_EQ(select({5.0, 3.0, 3.0}, {1, 1, 1}), -1);
    EXPECT_EQ(select({inf, nan, std::numeric_limits<double>::max()}, {0, 0, 0}), -1);
    EXPECT_EQ(select({inf, nan, 1e300}, {0, 0, 0}), 2);
    expansion.Init({7});  // only the agents given to Init count
    EXPECT_EQ(select({5.0, 1.0, 1.0}, {0, 0, 0}), 0);
}

TEST(DefaultFocalComparator, ServesDeeperLabelsFirstThenSmallerFThenSmallerCostSum) {
    auto entry = [](int64_t visited, double f, double cost_sum) {
        return FocalEntry{0, visited, 0, f, cost_sum};
    };
    const DefaultFocalComparator compare;
    const std::vector<std::pair<FocalEntry, FocalEntry>> ordered = {  // first before second
        {entry(4, 100, 100), entry(3, 1, 1)},  // more served vertices, whatever f
        {entry(3, 1, 9), entry(3, 2, 1)},      // equal depth: smaller f
        {entry(3, 2, 1), entry(3, 2, 1.5)}};   // equal f: smaller cost sum
    for (const auto& [a, b] : ordered) {
        EXPECT_TRUE(compare.Compare(a, b));
        EXPECT_FALSE(compare.Compare(b, a) || compare.Compare(a, a));  // strict
    }
}

TEST(Objectives, MinMaxSpreadsRemainingWorkOverUnfinishedAgentsAndMinSumAddsIt) {
    const DefaultObjective max;
    const MinSumObjective sum;
    EXPECT_EQ(max.Evaluate({3.0, 7.5, 7.5}), 7.5);
    EXPECT_EQ(max.Evaluate({-2.0, -1.0}), -1.0);  // starts from the first entry, not 0
    EXPECT_EQ(max.Evaluate({}) + sum.Evaluate({}), 0.0);
    EXPECT_EQ(sum.Evaluate({3.0, 7.5}), 10.5);
    const Label both = MakeLabel(3, {0, 0}, {4.0, 2.0}, {0, 0}, {});
    const Label first_done = MakeLabel(3, {0, 0}, {4.0, 2.0}, {1, 0}, {});
    EXPECT_EQ(max.EvaluateWithHeuristic(both, 2, 10.0), 8.0);  // (10 + 4 + 2) / 2
    EXPECT_EQ(max.EvaluateWithHeuristic(both, 2, 0.0), 4.0);   // 3 < 4
    EXPECT_EQ(max.EvaluateWithHeuristic(both, 4, 14.0), 5.0);  // divided by the given count
    EXPECT_EQ(max.EvaluateWithHeuristic(first_done, 1, 1.0), 4.0);  // (1 + 2) / 1 < 4
    EXPECT_EQ(max.EvaluateWithHeuristic(first_done, 1, 5.0), 7.0);  // (5 + 2) / 1
    EXPECT_EQ(max.EvaluateWithHeuristic(first_done, 0, 1e9), 4.0);  // nobody left: the maximum
    EXPECT_EQ(sum.EvaluateWithHeuristic(first_done, 2, 1.5), 7.5);
    EXPECT_EQ(sum.EvaluateWithHeuristic(first_done, 0, 1.5), 7.5);
}

}  // namespace
}  // namespace tamrik
