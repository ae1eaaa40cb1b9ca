#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <unordered_set>
#include <vector>

#include "plugins/constraint_checkers.h"
#include "plugins/plugin_fixtures.h"

namespace tamrik {
namespace {

using test::Agent;
using test::CompleteGraph;
using test::MakeLabel;
using test::Points;

void ExpectAccept(const TransitionCheck& check) {
    EXPECT_TRUE(check.feasible);
    EXPECT_EQ(check.new_cost, 0.0);
    EXPECT_FALSE(check.updated);
}

void ExpectReject(const TransitionCheck& check) {
    EXPECT_FALSE(check.feasible);
    EXPECT_EQ(check.new_cost, 0.0);
    EXPECT_FALSE(check.updated);
}

void ExpectWait(const TransitionCheck& check, double new_cost) {
    EXPECT_TRUE(check.feasible);
    EXPECT_EQ(check.new_cost, new_cost);
    EXPECT_TRUE(check.updated);
}

// ====================================================================== DefaultConstraintChecker

TEST(DefaultConstraintChecker, NameIsTheClassName) {
    EXPECT_EQ(DefaultConstraintChecker().Name(), "DefaultConstraintChecker");
}

TEST(DefaultConstraintChecker, InitStoresGraphAndCopiesOfTheRecords) {
    SparseGraph graph = CompleteGraph(3, 1, [](int64_t, int64_t) { return CostVector{1.0}; });
    std::vector<PointRecord> points = Points(3);
    std::vector<AgentRecord> agents = {Agent(0), Agent(1)};
    DefaultConstraintChecker checker;
    checker.Init(&graph, points, agents);
    points[0].types = {};
    agents.clear();
    EXPECT_EQ(checker.Graph(), &graph);
    EXPECT_EQ(checker.AgentCount(), 2u);
    EXPECT_EQ(checker.Points()[0].types, (std::vector<int64_t>{0}));
    EXPECT_FALSE(checker.IsForbidden(0, 0));
}

TEST(DefaultConstraintChecker, EmptyTypeListForbidsEveryAgent) {
    std::vector<PointRecord> points = Points(2, {0, 1});
    points[1].types = {};
    DefaultConstraintChecker checker;
    checker.Init(nullptr, points, {Agent(0), Agent(1), Agent(-1)});
    for (int64_t a = 0; a < 3; ++a) EXPECT_TRUE(checker.IsForbidden(a, 1)) << a;
}

TEST(DefaultConstraintChecker, TypesZeroAndOneAdmitThoseTypesOnly) {
    DefaultConstraintChecker checker;
    checker.Init(nullptr, Points(1, {0, 1}), {Agent(0), Agent(1), Agent(2), Agent(-1)});
    EXPECT_FALSE(checker.IsForbidden(0, 0));
    EXPECT_FALSE(checker.IsForbidden(1, 0));
    EXPECT_TRUE(checker.IsForbidden(2, 0));
    EXPECT_TRUE(checker.IsForbidden(3, 0));
}

TEST(DefaultConstraintChecker, AcceptsEveryTransitionAndEveryCost) {
    DefaultConstraintChecker checker;
    checker.Init(nullptr, Points(2), {Agent(0, 1.0)});
    Label label = MakeLabel(2, {0}, {1e9}, {0}, {0, 1});
    ExpectAccept(checker.CheckTransition(label, 0, 1));
    EXPECT_TRUE(checker.IsWithinLimit(label, 0));
}

TEST(DefaultConstraintChecker, NoDeadEndWhileAType0AgentIsUnfinished) {
    SparseGraph graph = CompleteGraph(3, 2, [](int64_t, int64_t) { return CostVector{1, 1}; });
    DefaultConstraintChecker checker;
    checker.Init(&graph, Points(3, {0}), {Agent(1), Agent(0), Agent(0)});
    // Nothing served; one type-0 agent (index 2) has not finished.
    EXPECT_FALSE(checker.IsDeadEnd(MakeLabel(3, {0, 0, 0}, {0, 0, 0}, {1, 1, 0}, {})));
    // Every type-0 agent finished: an unserved type-0-only vertex is a dead end.
    EXPECT_TRUE(checker.IsDeadEnd(MakeLabel(3, {0, 0, 0}, {0, 0, 0}, {0, 1, 1}, {0, 1})));
    // ... but not when every vertex is served.
    EXPECT_FALSE(checker.IsDeadEnd(MakeLabel(3, {0, 0, 0}, {0, 0, 0}, {0, 1, 1}, {0, 1, 2})));
}

TEST(DefaultConstraintChecker, NoDeadEndWhenUnservedVerticesAllowAnotherType) {
    SparseGraph graph = CompleteGraph(3, 2, [](int64_t, int64_t) { return CostVector{1, 1}; });
    std::vector<PointRecord> points = Points(3, {0, 1});
    points[0].types = {0};  // served below
    points[2].types = {1};
    DefaultConstraintChecker checker;
    checker.Init(&graph, points, {Agent(0), Agent(1)});
    EXPECT_FALSE(checker.IsDeadEnd(MakeLabel(3, {0, 0}, {0, 0}, {1, 0}, {0})));
    EXPECT_TRUE(checker.IsDeadEnd(MakeLabel(3, {0, 0}, {0, 0}, {1, 0}, {1, 2})));
}

TEST(DefaultConstraintChecker, DeadEndWithoutAgents) {
    SparseGraph graph = CompleteGraph(2, 1, [](int64_t, int64_t) { return CostVector{1}; });
    DefaultConstraintChecker checker;
    checker.Init(&graph, Points(2, {0}), {});
    EXPECT_TRUE(checker.IsDeadEnd(MakeLabel(2, {}, {}, {}, {0})));
    EXPECT_FALSE(checker.IsDeadEnd(MakeLabel(2, {}, {}, {}, {0, 1})));
}

TEST(DefaultConstraintChecker, DeadEndSeesVerticesAcrossEveryWordOf256) {
    SparseGraph graph;
    graph.ChangeCostDim(1, 9999.0);
    for (int64_t v = 0; v < 256; ++v) graph.AddVertex(v);
    std::vector<PointRecord> points = Points(256, {0, 1});
    const std::vector<int64_t> edges = {0, 63, 64, 127, 128, 255};
    for (int64_t v : edges) points[v].types = {0};
    DefaultConstraintChecker checker;
    checker.Init(&graph, points, {Agent(0), Agent(1)});
    for (int64_t open : edges) {
        Label label = MakeLabel(256, {0, 0}, {0, 0}, {1, 0}, {});
        for (int64_t v : edges) {
            if (v != open) SetBit(label.visited, v);
        }
        EXPECT_TRUE(checker.IsDeadEnd(label)) << open;
        SetBit(label.visited, open);
        EXPECT_FALSE(checker.IsDeadEnd(label)) << open;
    }
}

TEST(DefaultConstraintChecker, DeadEndLooksOnlyAtTheGraphsVertices) {
    // 256 points, but the graph has only 129 vertices: vertex 128 counts, 129 does not.
    SparseGraph graph;
    graph.ChangeCostDim(1, 9999.0);
    for (int64_t v = 0; v < 129; ++v) graph.AddVertex(v);
    std::vector<PointRecord> points = Points(256, {0, 1});
    points[128].types = {0};
    points[129].types = {0};
    DefaultConstraintChecker checker;
    checker.Init(&graph, points, {Agent(0)});
    Label label = MakeLabel(256, {0}, {0}, {1}, {});
    EXPECT_TRUE(checker.IsDeadEnd(label));
    SetBit(label.visited, 128);
    EXPECT_FALSE(checker.IsDeadEnd(label));
}

TEST(DefaultConstraintChecker, InitAgainReplacesTheRecords) {
    SparseGraph graph = CompleteGraph(2, 1, [](int64_t, int64_t) { return CostVector{1}; });
    DefaultConstraintChecker checker;
    checker.Init(&graph, Points(2, {0}), {Agent(0)});
    Label label = MakeLabel(2, {0}, {0}, {1}, {0});
    EXPECT_TRUE(checker.IsDeadEnd(label));
    checker.Init(&graph, Points(2, {0, 1}), {Agent(1)});
    EXPECT_FALSE(checker.IsDeadEnd(label));
    EXPECT_FALSE(checker.IsForbidden(0, 1));
    EXPECT_EQ(checker.AgentCount(), 1u);
}

// ==================================================================== TimeLimitConstraintChecker

TEST(TimeLimitConstraintChecker, NameIsTheClassName) {
    EXPECT_EQ(TimeLimitConstraintChecker().Name(), "TimeLimitConstraintChecker");
}

TEST(TimeLimitConstraintChecker, NoLimitAtZeroOrBelow) {
    TimeLimitConstraintChecker checker;
    checker.Init(nullptr, Points(1), {Agent(0, 0.0), Agent(0, -3.0)});
    Label label = MakeLabel(1, {0, 0}, {1e12, 1e12}, {0, 0}, {});
    EXPECT_TRUE(checker.IsWithinLimit(label, 0));
    EXPECT_TRUE(checker.IsWithinLimit(label, 1));
}

TEST(TimeLimitConstraintChecker, CostEqualToTheLimitPasses) {
    TimeLimitConstraintChecker checker;
    checker.Init(nullptr, Points(1), {Agent(0, 10.0)});
    EXPECT_TRUE(checker.IsWithinLimit(MakeLabel(1, {0}, {10.0}, {0}, {}), 0));
    EXPECT_FALSE(checker.IsWithinLimit(MakeLabel(1, {0}, {10.5}, {0}, {}), 0));
}

TEST(TimeLimitConstraintChecker, DelegatesAssignmentAndDeadEndToTheDefaultRules) {
    SparseGraph graph = CompleteGraph(2, 2, [](int64_t, int64_t) { return CostVector{1, 1}; });
    std::vector<PointRecord> points = Points(2, {0});
    points[1].types = {};
    TimeLimitConstraintChecker checker;
    checker.Init(&graph, points, {Agent(0, 5.0), Agent(1, 5.0)});
    EXPECT_FALSE(checker.IsForbidden(0, 0));
    EXPECT_TRUE(checker.IsForbidden(1, 0));
    EXPECT_TRUE(checker.IsForbidden(0, 1));
    EXPECT_TRUE(checker.IsDeadEnd(MakeLabel(2, {0, 0}, {0, 0}, {1, 0}, {1})));
    EXPECT_FALSE(checker.IsDeadEnd(MakeLabel(2, {0, 0}, {0, 0}, {0, 0}, {1})));
    ExpectAccept(checker.CheckTransition(MakeLabel(2, {0, 0}, {99, 0}, {0, 0}, {0}), 0, 1));
}

// =================================================================== TimeWindowConstraintChecker

TEST(TimeWindowConstraintChecker, NameIsTimeConstraintChecker) {
    EXPECT_EQ(TimeWindowConstraintChecker().Name(), "TimeConstraintChecker");
}

TEST(TimeWindowConstraintChecker, SettersReplaceAndRebuildTheSets) {
    TimeWindowConstraintChecker checker;
    checker.Init(nullptr, Points(4), {Agent(0), Agent(0)});
    EXPECT_TRUE(checker.ReturnToEnd());
    checker.SetEnds({2, 3});
    checker.SetStarts({0, 1});
    checker.SetTimeWindows({{1, {2.0, 4.0}}});
    checker.SetReturnToEnd(false);
    EXPECT_EQ(checker.EndSet(), (std::unordered_set<int64_t>{2, 3}));
    EXPECT_EQ(checker.StartSet(), (std::unordered_set<int64_t>{0, 1}));
    checker.SetEnds({3, 3});
    checker.SetStarts({});
    checker.SetTimeWindows({});
    EXPECT_EQ(checker.Ends(), (std::vector<int64_t>{3, 3}));
    EXPECT_EQ(checker.EndSet(), (std::unordered_set<int64_t>{3}));
    EXPECT_TRUE(checker.Starts().empty());
    EXPECT_TRUE(checker.StartSet().empty());
    EXPECT_TRUE(checker.TimeWindows().empty());
    EXPECT_FALSE(checker.ReturnToEnd());
}

TEST(TimeWindowConstraintChecker, WindowFiveToEightWithoutGraph) {
    TimeWindowConstraintChecker checker;
    checker.Init(nullptr, Points(2), {Agent(0)});
    checker.SetTimeWindows({{1, {5.0, 8.0}}});
    auto at = [&](double arrival) {
        return checker.CheckTransition(MakeLabel(2, {0}, {arrival}, {0}, {1}), 0, 1);
    };
    ExpectWait(at(3.0), 5.0);
    ExpectReject(at(9.0));
    ExpectAccept(at(6.0));
    ExpectAccept(at(5.0));
    ExpectAccept(at(8.0));
}

TEST(TimeWindowConstraintChecker, WindowFiveToEightWithGraph) {
    SparseGraph graph = CompleteGraph(2, 1, [](int64_t, int64_t) { return CostVector{3.0}; });
    TimeWindowConstraintChecker checker;
    checker.Init(&graph, Points(2), {Agent(0)});
    checker.SetTimeWindows({{1, {5.0, 8.0}}});
    checker.SetEnds({0});
    checker.SetStarts({0});
    auto at = [&](double arrival) {
        return checker.CheckTransition(MakeLabel(2, {0}, {arrival}, {0}, {0, 1}), 0, 1);
    };
    ExpectWait(at(3.0), 5.0);
    ExpectReject(at(9.0));
    ExpectAccept(at(6.0));
}

TEST(TimeWindowConstraintChecker, WithoutGraphOnlyTheTargetWindowCounts) {
    // Vertex 2 is unserved with a window closed for everybody; without a graph that is not
    // looked at.
    TimeWindowConstraintChecker checker;
    checker.Init(nullptr, Points(3), {Agent(0)});
    checker.SetTimeWindows({{2, {0.0, 0.5}}});
    ExpectAccept(checker.CheckTransition(MakeLabel(3, {0}, {4.0}, {0}, {0, 1}), 0, 1));
    // With no agent records either.
    TimeWindowConstraintChecker no_agents;
    no_agents.Init(nullptr, Points(3), {});
    ExpectAccept(no_agents.CheckTransition(MakeLabel(3, {0}, {4.0}, {0}, {0, 1}), 0, 1));
}

// Costs: type 0 -> 10 * i + j, type 1 -> 100 + 10 * i + j.
SparseGraph TwoTypeGraph(int64_t n) {
    return CompleteGraph(n, 2, [](int64_t i, int64_t j) {
        return CostVector{10.0 * i + j, 100.0 + 10.0 * i + j};
    });
}

TEST(TimeWindowConstraintChecker, TravelTimeUsesTheAgentsTypeAndItsFreeLegs) {
    SparseGraph graph = TwoTypeGraph(5);
    TimeWindowConstraintChecker checker;
    checker.Init(&graph, Points(5, {0, 1}), {Agent(0), Agent(1)});
    EXPECT_EQ(checker.TravelTime(0, 4, 0), 4.0);
    EXPECT_EQ(checker.TravelTime(0, 4, 1), 104.0);
    EXPECT_EQ(checker.TravelTime(3, 3, 0), 0.0);
    checker.SetStarts({0, 1});
    checker.SetEnds({2, 3});
    EXPECT_EQ(checker.TravelTime(4, 0, 0), 0.0);   // own start
    EXPECT_EQ(checker.TravelTime(4, 1, 0), 41.0);  // another agent's start
    EXPECT_EQ(checker.TravelTime(4, 1, 1), 0.0);
    EXPECT_EQ(checker.TravelTime(4, 2, 0), 42.0);  // own end, return_to_end true
    checker.SetReturnToEnd(false);
    EXPECT_EQ(checker.TravelTime(4, 2, 0), 0.0);    // own end is free now
    EXPECT_EQ(checker.TravelTime(4, 3, 0), 43.0);   // another agent's end is not
    EXPECT_EQ(checker.TravelTime(4, 3, 1), 0.0);
    EXPECT_EQ(checker.TravelTime(2, 4, 0), 24.0);
}

TEST(TimeWindowConstraintChecker, TravelTimeIsZeroWithoutGraphOrArc) {
    TimeWindowConstraintChecker no_graph;
    no_graph.Init(nullptr, Points(3), {Agent(0)});
    EXPECT_EQ(no_graph.TravelTime(0, 1, 0), 0.0);

    SparseGraph sparse;
    sparse.ChangeCostDim(1, 9999.0);
    sparse.AddArc(0, 1, {7.0});
    sparse.AddVertex(2);
    TimeWindowConstraintChecker checker;
    checker.Init(&sparse, Points(3), {Agent(0), Agent(-1)});
    EXPECT_EQ(checker.TravelTime(0, 1, 0), 7.0);
    EXPECT_EQ(checker.TravelTime(1, 0, 0), 0.0);  // no arc
    EXPECT_EQ(checker.TravelTime(0, 2, 0), 0.0);
    EXPECT_EQ(checker.TravelTime(0, 1, 1), 0.0);  // a type without an entry
}

TEST(TimeWindowConstraintChecker, CanServeFollowsTypesEndsAndStarts) {
    std::vector<PointRecord> points = Points(6, {0});
    points[2].types = {0, 1};
    points[3].types = {1};
    points[4].types = {0, 1};
    points[5].types = {};
    TimeWindowConstraintChecker checker;
    checker.Init(nullptr, points, {Agent(0), Agent(1)});
    EXPECT_TRUE(checker.CanServe(0, 1));
    EXPECT_FALSE(checker.CanServe(1, 1));  // type
    checker.SetStarts({0, 1});
    checker.SetEnds({2, 3});
    EXPECT_TRUE(checker.CanServe(0, 0));   // own start
    EXPECT_FALSE(checker.CanServe(0, 1));  // another agent's start
    EXPECT_TRUE(checker.CanServe(0, 2));   // own end
    EXPECT_FALSE(checker.CanServe(1, 2));  // another agent's end
    EXPECT_TRUE(checker.CanServe(1, 3));
    EXPECT_FALSE(checker.CanServe(0, 3));  // type
    EXPECT_TRUE(checker.CanServe(0, 4));
    EXPECT_TRUE(checker.CanServe(1, 4));
    EXPECT_FALSE(checker.CanServe(0, 5));  // empty type list
    EXPECT_FALSE(checker.CanServe(1, 5));
    checker.SetStarts({});
    EXPECT_TRUE(checker.CanServe(0, 1));
    checker.SetEnds({});
    EXPECT_TRUE(checker.CanServe(1, 2));
}

TEST(TimeWindowConstraintChecker, DelegatesAssignmentAndDeadEnd) {
    SparseGraph graph = TwoTypeGraph(2);
    std::vector<PointRecord> points = Points(2, {0});
    TimeWindowConstraintChecker checker;
    checker.Init(&graph, points, {Agent(0), Agent(1)});
    EXPECT_FALSE(checker.IsForbidden(0, 1));
    EXPECT_TRUE(checker.IsForbidden(1, 1));
    EXPECT_TRUE(checker.IsWithinLimit(MakeLabel(2, {0, 0}, {1e9, 0}, {0, 0}, {}), 0));
    EXPECT_TRUE(checker.IsDeadEnd(MakeLabel(2, {0, 0}, {0, 0}, {1, 0}, {0})));
    EXPECT_FALSE(checker.IsDeadEnd(MakeLabel(2, {0, 0}, {0, 0}, {0, 0}, {0})));
}

// The look-ahead case of Part 3.2: cost(0, 1) = 1, cost(0, 2) = 10, cost(1, 2) = 2, one agent
// at vertex 0 at time 0, vertex 0 served.
SparseGraph LookAheadGraph() {
    return CompleteGraph(3, 1, [](int64_t i, int64_t j) {
        int64_t pair = std::min(i, j) * 10 + std::max(i, j);
        return CostVector{pair == 1 ? 1.0 : pair == 2 ? 10.0 : 2.0};
    });
}

TEST(TimeWindowConstraintChecker, LookAheadRejectsSkippingACheaperDetour) {
    SparseGraph graph = LookAheadGraph();
    TimeWindowConstraintChecker checker;
    checker.Init(&graph, Points(3), {Agent(0)});
    checker.SetEnds({0});
    checker.SetStarts({0});
    checker.SetTimeWindows({{0, {0.0, 1000.0}}});
    checker.SetReturnToEnd(true);
    // 0 -> 2 arrives at 10; through 1 it would arrive at 3; serving 1 afterwards: 12 > 3.
    ExpectReject(checker.CheckTransition(MakeLabel(3, {0}, {10.0}, {0}, {0, 2}), 0, 2));
    // 0 -> 1 arrives at 1; through 2 it would arrive at 12 > 1.
    ExpectAccept(checker.CheckTransition(MakeLabel(3, {0}, {1.0}, {0}, {0, 1}), 0, 1));
}

TEST(TimeWindowConstraintChecker, LookAheadSkipsVerticesTheAgentCannotServe) {
    SparseGraph graph = LookAheadGraph();
    std::vector<PointRecord> points = Points(3, {0});
    points[1].types = {1};  // vertex 1 is for another type; the agent may pass it by
    TimeWindowConstraintChecker checker;
    checker.Init(&graph, points, {Agent(0), Agent(1)});
    ExpectAccept(
        checker.CheckTransition(MakeLabel(3, {0, 0}, {10.0, 0.0}, {0, 0}, {0, 2}), 0, 2));
}

TEST(TimeWindowConstraintChecker, LookAheadSkipsTheOwnStartAndFreeEnd) {
    SparseGraph graph = LookAheadGraph();
    TimeWindowConstraintChecker checker;
    checker.Init(&graph, Points(3), {Agent(0)});
    // Vertex 1 is the agent's own start: never a look-ahead candidate.
    checker.SetStarts({1});
    ExpectAccept(checker.CheckTransition(MakeLabel(3, {0}, {10.0}, {0}, {0, 2}), 0, 2));
    // Vertex 1 is its own end: a candidate while it must return there, not otherwise.
    checker.SetStarts({});
    checker.SetEnds({1});
    ExpectReject(checker.CheckTransition(MakeLabel(3, {0}, {10.0}, {0}, {0, 2}), 0, 2));
    checker.SetReturnToEnd(false);
    ExpectAccept(checker.CheckTransition(MakeLabel(3, {0}, {10.0}, {0}, {0, 2}), 0, 2));
}

TEST(TimeWindowConstraintChecker, LookAheadRejectsWhenTheSkippedWindowWouldClose) {
    // Vertex 1 window (0, 5): reached directly it fits, after vertex 2 (at 12) it does not.
    // The detour through 1 arrives at 2 at time 3, within 2's window (0, 20).
    SparseGraph graph = LookAheadGraph();
    TimeWindowConstraintChecker checker;
    checker.Init(&graph, Points(3), {Agent(0), Agent(0)});
    checker.SetTimeWindows({{1, {0.0, 5.0}}, {2, {0.0, 20.0}}});
    // A second agent that is still at vertex 1 keeps vertex 1 reachable.
    ExpectReject(
        checker.CheckTransition(MakeLabel(3, {0, 1}, {10.0, 0.0}, {0, 0}, {0, 2}), 0, 2));
}

TEST(TimeWindowConstraintChecker, UnservedVertexWithAClosedWindowMakesEveryMoveInfeasible) {
    SparseGraph graph = LookAheadGraph();
    std::vector<PointRecord> points = Points(3, {0});
    points[1].types = {0, 1};
    TimeWindowConstraintChecker checker;
    // Agent 1 (type 1) stands on vertex 2 but may not serve it.
    checker.Init(&graph, points, {Agent(0), Agent(1)});
    checker.SetTimeWindows({{1, {0.0, 100.0}}, {2, {0.0, 0.5}}});
    Label label = MakeLabel(3, {0, 2}, {1.0, 0.0}, {0, 0}, {0, 1});
    ExpectReject(checker.CheckTransition(label, 0, 1));
    // The window reopened: the move is fine.
    checker.SetTimeWindows({{1, {0.0, 100.0}}, {2, {0.0, 3.0}}});
    ExpectAccept(checker.CheckTransition(label, 0, 1));
}

TEST(TimeWindowConstraintChecker, ReachabilityUsesTheMovingAgentsNewPlaceAndTime) {
    SparseGraph graph = LookAheadGraph();
    TimeWindowConstraintChecker checker;
    checker.Init(&graph, Points(3), {Agent(0)});
    // From vertex 1 at time 1, vertex 2 is reached at 3; from vertex 0 it would be 10.
    checker.SetTimeWindows({{2, {0.0, 3.0}}});
    ExpectAccept(checker.CheckTransition(MakeLabel(3, {0}, {1.0}, {0}, {0, 1}), 0, 1));
    // Waiting at vertex 1 until 2 (its window) makes vertex 2 arrive at 4: too late.
    checker.SetTimeWindows({{1, {2.0, 9.0}}, {2, {0.0, 3.0}}});
    ExpectReject(checker.CheckTransition(MakeLabel(3, {0}, {1.0}, {0}, {0, 1}), 0, 1));
}

TEST(TimeWindowConstraintChecker, FinishedAgentsCountOnlyWithoutEnds) {
    SparseGraph graph = LookAheadGraph();
    TimeWindowConstraintChecker checker;
    checker.Init(&graph, Points(3), {Agent(0), Agent(0)});
    checker.SetTimeWindows({{2, {0.0, 5.0}}});
    // Agent 0 moves 1 -> 0 and reaches 2 too late (at 20 + 10); agent 1 has finished on 1.
    Label label = MakeLabel(3, {1, 1}, {20.0, 0.0}, {0, 1}, {0, 1});
    ExpectAccept(checker.CheckTransition(label, 0, 0));  // no ends: agent 1 still counts
    checker.SetEnds({0, 1});
    ExpectReject(checker.CheckTransition(label, 0, 0));
}

TEST(TimeWindowConstraintChecker, WithoutAgentRecordsAnyUnservedVertexIsInfeasible) {
    SparseGraph graph = LookAheadGraph();
    TimeWindowConstraintChecker checker;
    checker.Init(&graph, Points(3), {});
    ExpectReject(checker.CheckTransition(MakeLabel(3, {0}, {1.0}, {0}, {0, 1}), 0, 1));
    ExpectAccept(checker.CheckTransition(MakeLabel(3, {0}, {1.0}, {0}, {0, 1, 2}), 0, 1));
}

// 256 vertices, every arc 5.0 except 0 -> 1 (10.0) and 0 -> w, w -> 1 (1.0 each).
SparseGraph DetourGraph(int64_t w) {
    return CompleteGraph(256, 1, [w](int64_t i, int64_t j) {
        if (i == 0 && j == 1) return CostVector{10.0};
        if ((i == 0 && j == w) || (i == w && j == 1)) return CostVector{1.0};
        return CostVector{5.0};
    });
}

TEST(TimeWindowConstraintChecker, VerticesAtWordEdgesOf256) {
    for (int64_t w : {63, 64, 127, 128, 255}) {
        SCOPED_TRACE(w);
        SparseGraph graph = DetourGraph(w);
        std::vector<PointRecord> points = Points(256, {0});
        TimeWindowConstraintChecker checker;
        checker.Init(&graph, points, {Agent(0)});
        Label label = MakeLabel(256, {0}, {10.0}, {0}, {});
        for (int64_t v = 0; v < 256; ++v) {
            if (v != w) SetBit(label.visited, v);
        }
        // Look-ahead: through w the agent reaches 1 at 2 and would reach w late afterwards.
        ExpectReject(checker.CheckTransition(label, 0, 1));
        checker.SetTimeWindows({{w, {0.0, 0.5}}});
        ExpectReject(checker.CheckTransition(label, 0, 1));  // window at w closed
        checker.SetTimeWindows({{w, {0.0, 100.0}}});
        ExpectReject(checker.CheckTransition(label, 0, 1));  // look-ahead
        checker.SetTimeWindows({{w, {12.0, 100.0}}});
        // Detour: reach w at 1, wait until 12, reach 1 at 13 > 10: no objection; reach w
        // from 1 at 15.
        ExpectAccept(checker.CheckTransition(label, 0, 1));
        checker.SetTimeWindows({{w, {12.0, 14.0}}});
        ExpectReject(checker.CheckTransition(label, 0, 1));  // reach at 15 > 14
        // A vertex the agent may not serve is no look-ahead candidate and, without
        // window, needs some agent that can serve it.
        points[w].types = {1};
        checker.Init(&graph, points, {Agent(0)});
        checker.SetTimeWindows({});
        ExpectReject(checker.CheckTransition(label, 0, 1));
        checker.Init(&graph, points, {Agent(0), Agent(1)});
        Label two = MakeLabel(256, {0, 0}, {10.0, 0.0}, {0, 0}, {});
        two.visited = label.visited;
        ExpectAccept(checker.CheckTransition(two, 0, 1));
    }
}

// ---------------------------------------------------------------- against a literal reading

// Part 3.2's time-window rule transcribed step by step, with GetArcCost and hash lookups.
struct LiteralTimeWindowRule {
    const PlannerGraph* graph = nullptr;
    std::vector<PointRecord> points;
    std::vector<AgentRecord> agents;
    TimeWindowMap time_windows;
    std::vector<int64_t> ends, starts;
    std::unordered_set<int64_t> end_set, start_set;
    bool return_to_end = true;

    double TravelTime(int64_t from, int64_t to, int64_t a) const {
        if (graph == nullptr || from == to) return 0.0;
        // Not in Part 3.2 (there an agent index always has a record): no record, no type.
        if (a >= static_cast<int64_t>(agents.size())) return 0.0;
        if (!starts.empty() && to == starts[a]) return 0.0;
        if (!return_to_end && !ends.empty() && to == ends[a]) return 0.0;
        CostVector c = graph->GetArcCost(from, to);
        return c.empty() ? 0.0 : c[agents[a].type_index];
    }
    bool CanServe(int64_t a, int64_t w) const {
        const auto& types = points[w].types;
        if (types.empty() ||
            std::find(types.begin(), types.end(), agents[a].type_index) == types.end()) {
            return false;
        }
        if (!ends.empty() && end_set.count(w) && w != ends[a]) return false;
        if (starts.empty() || !start_set.count(w)) return true;
        return w == starts[a];
    }
    bool Window(int64_t u, double& x) const {
        auto it = time_windows.find(u);
        if (it == time_windows.end()) return true;
        if (x > it->second.second) return false;
        if (x < it->second.first) x = it->second.first;
        return true;
    }
    TransitionCheck Check(const Label& label, int64_t a, int64_t v) const {
        const TransitionCheck no{false, 0.0, false};
        double t = label.costs[a];
        if (!Window(v, t)) return no;
        if (graph != nullptr) {
            int64_t p = label.positions[a];
            double d = label.costs[a] - TravelTime(p, v, a);
            for (int64_t w = 0; w < static_cast<int64_t>(points.size()); ++w) {
                if (w == v || w == p || TestBit(label.visited, w) || !CanServe(a, w)) continue;
                if (!starts.empty() && w == starts[a]) continue;
                if (!return_to_end && !ends.empty() && w == ends[a]) continue;
                double x = d + TravelTime(p, w, a);
                if (!Window(w, x)) continue;
                x = x + TravelTime(w, v, a);
                if (!Window(v, x)) continue;
                if (x <= t) {
                    double y = t + TravelTime(v, w, a);
                    if (!Window(w, y)) return no;
                    if (y > x) return no;
                }
            }
            for (int64_t w = 0; w < static_cast<int64_t>(points.size()); ++w) {
                if (TestBit(label.visited, w)) continue;
                if (agents.empty()) return no;
                bool satisfied = false;
                for (int64_t k = 0; k < static_cast<int64_t>(agents.size()) && !satisfied; ++k) {
                    if (!ends.empty() && label.finished[k] == 1) continue;
                    if (!CanServe(k, w)) continue;
                    int64_t pos = k == a ? v : label.positions[k];
                    double time = k == a ? t : label.costs[k];
                    double arrival = time + TravelTime(pos, w, k);
                    auto it = time_windows.find(w);
                    if (it == time_windows.end() || arrival <= it->second.second) satisfied = true;
                }
                if (!satisfied) return no;
            }
        }
        if (t == label.costs[a]) return {true, 0.0, false};
        return {true, t, true};
    }
};

// How often each answer came up, so that a comparison cannot pass by seeing one kind only.
struct AnswerCounts {
    int rejected = 0;
    int accepted = 0;
    int waited = 0;
};

// `min_served` (percent) raises the share of served vertices and `window_one_in` thins the
// windows, so that large instances still see accepted moves.
AnswerCounts CompareWithLiteralRule(int64_t n, int trials, uint32_t seed, int64_t min_served = 0,
                                    int64_t window_one_in = 3) {
    AnswerCounts counts;
    std::mt19937 rng(seed);
    auto uniform = [&](int64_t lo, int64_t hi) {
        return std::uniform_int_distribution<int64_t>(lo, hi)(rng);
    };
    const size_t dims = 2;
    SparseGraph graph = CompleteGraph(n, dims, [&](int64_t, int64_t) {
        return CostVector{static_cast<double>(uniform(0, 6) == 0 ? 9999 : uniform(1, 20)),
                          static_cast<double>(uniform(1, 20))};
    });
    for (int instance = 0; instance < trials; ++instance) {
        LiteralTimeWindowRule rule;
        rule.graph = uniform(0, 15) == 0 ? nullptr : &graph;
        rule.points = Points(static_cast<size_t>(n));
        for (auto& point : rule.points) {
            int64_t pick = uniform(0, 5);
            point.types = pick == 0   ? std::vector<int64_t>{}
                          : pick == 1 ? std::vector<int64_t>{1}
                          : pick == 2 ? std::vector<int64_t>{0, 1}
                                      : std::vector<int64_t>{0};
        }
        int64_t agent_count = uniform(0, 3);
        for (int64_t k = 0; k < agent_count; ++k) rule.agents.push_back(Agent(uniform(0, 1)));
        if (uniform(0, 3) != 0) {
            for (int64_t k = 0; k < agent_count; ++k) rule.ends.push_back(uniform(0, n - 1));
        }
        if (uniform(0, 3) != 0) {
            for (int64_t k = 0; k < agent_count; ++k) rule.starts.push_back(uniform(0, n - 1));
        }
        rule.end_set = {rule.ends.begin(), rule.ends.end()};
        rule.start_set = {rule.starts.begin(), rule.starts.end()};
        for (int64_t v = 0; v < n; ++v) {
            if (uniform(1, window_one_in) == 1) {
                double start = static_cast<double>(uniform(0, 30));
                rule.time_windows[v] = {start, start + static_cast<double>(uniform(0, 40))};
            }
        }
        rule.return_to_end = uniform(0, 1) == 1;
        std::vector<int64_t> windowed;
        for (const auto& entry : rule.time_windows) windowed.push_back(entry.first);
        std::sort(windowed.begin(), windowed.end());

        TimeWindowConstraintChecker checker;
        checker.Init(rule.graph, rule.points, rule.agents);
        checker.SetEnds(rule.ends);
        checker.SetTimeWindows(rule.time_windows);
        checker.SetStarts(rule.starts);
        checker.SetReturnToEnd(rule.return_to_end);

        for (int move = 0; move < 20; ++move) {
            int64_t slots = std::max<int64_t>(agent_count, 1);
            Label label = MakeLabel(static_cast<int32_t>(n), {}, {}, {}, {});
            for (int64_t k = 0; k < slots; ++k) {
                label.positions.push_back(uniform(0, n - 1));
                label.costs.push_back(static_cast<double>(uniform(0, 60)));
                label.finished.push_back(static_cast<uint8_t>(uniform(0, 3) == 0));
            }
            int64_t served_percent = uniform(min_served, 100);
            for (int64_t v = 0; v < n; ++v) {
                if (uniform(0, 99) < served_percent) SetBit(label.visited, v);
            }
            int64_t a = agent_count == 0 ? 0 : uniform(0, agent_count - 1);
            int64_t v = uniform(0, n - 1);
            if (!windowed.empty() && uniform(0, 1) == 0) {  // a move into a window
                const int64_t last = static_cast<int64_t>(windowed.size()) - 1;
                v = windowed[static_cast<size_t>(uniform(0, last))];
            }
            SetBit(label.visited, v);
            if (agent_count == 0 && rule.graph != nullptr) {
                // The literal rule would read agents[a] in CanServe; an empty type list
                // answers first.
                for (int64_t w = 0; w < n; ++w) {
                    if (!TestBit(label.visited, w)) rule.points[w].types.clear();
                }
                checker.Init(rule.graph, rule.points, rule.agents);
            }
            TransitionCheck expected = rule.Check(label, a, v);
            TransitionCheck actual = checker.CheckTransition(label, a, v);
            const bool same = actual.feasible == expected.feasible &&
                              actual.updated == expected.updated &&
                              actual.new_cost == expected.new_cost;
            EXPECT_TRUE(same) << "n " << n << " instance " << instance << " move " << move
                              << ": feasible " << actual.feasible << "/" << expected.feasible
                              << " updated " << actual.updated << "/" << expected.updated
                              << " new_cost " << actual.new_cost << "/" << expected.new_cost;
            if (!same) return counts;
            (!actual.feasible ? counts.rejected
                              : actual.updated ? counts.waited : counts.accepted) += 1;
        }
    }
    return counts;
}

void ExpectEveryAnswer(const AnswerCounts& counts) {
    EXPECT_GT(counts.rejected, 0);
    EXPECT_GT(counts.accepted, 0);
    EXPECT_GT(counts.waited, 0);
}

TEST(TimeWindowConstraintChecker, AgreesWithTheLiteralRuleOnSmallInstances) {
    for (int64_t n = 2; n <= 9; ++n) {
        SCOPED_TRACE(n);
        ExpectEveryAnswer(CompareWithLiteralRule(n, 300, static_cast<uint32_t>(n)));
    }
}

TEST(TimeWindowConstraintChecker, AgreesWithTheLiteralRuleAcrossWordEdges) {
    ExpectEveryAnswer(CompareWithLiteralRule(65, 40, 65, 80, 6));
    ExpectEveryAnswer(CompareWithLiteralRule(130, 15, 130, 90, 10));
    ExpectEveryAnswer(CompareWithLiteralRule(256, 8, 256, 95, 20));
}

// ==================================================================== CompositeConstraintChecker

// A checker that logs what it is asked and answers what it is told.
class RecordingChecker : public ConstraintCheckerPlugin {
public:
    RecordingChecker(std::string tag, std::vector<std::string>* log)
        : tag(std::move(tag)), log(log) {}
    ~RecordingChecker() override { log->push_back("destroy " + tag); }

    std::string Name() const override { return "Recording"; }
    void Init(const PlannerGraph*, const std::vector<PointRecord>& points,
              const std::vector<AgentRecord>&) override {
        log->push_back("init " + tag + " " + std::to_string(points.size()));
    }
    bool IsForbidden(int64_t, int64_t) const override {
        log->push_back("forbidden " + tag);
        return forbidden;
    }
    TransitionCheck CheckTransition(const Label& label, int64_t agent,
                                    int64_t) const override {
        log->push_back("check " + tag);
        seen_cost = label.costs[static_cast<size_t>(agent)];
        seen_label = &label;
        return answer;
    }
    bool IsWithinLimit(const Label&, int64_t) const override {
        log->push_back("limit " + tag);
        return within_limit;
    }
    bool IsDeadEnd(const Label&) const override {
        log->push_back("deadend " + tag);
        return dead_end;
    }

    std::string tag;
    std::vector<std::string>* log;
    bool forbidden = false;
    bool within_limit = true;
    bool dead_end = false;
    TransitionCheck answer{true, 0.0, false};
    mutable double seen_cost = -1.0;
    mutable const Label* seen_label = nullptr;
};

struct CompositeWith {
    std::vector<std::string> log;
    std::unique_ptr<CompositeConstraintChecker> composite =
        std::make_unique<CompositeConstraintChecker>();
    std::vector<RecordingChecker*> members;

    explicit CompositeWith(int count) {
        for (int i = 0; i < count; ++i) {
            auto member = std::make_unique<RecordingChecker>(std::to_string(i), &log);
            members.push_back(member.get());
            composite->AddMember(std::move(member));
        }
    }
    ~CompositeWith() { composite.reset(); }
};

TEST(CompositeConstraintChecker, NameIsTheClassName) {
    EXPECT_EQ(CompositeConstraintChecker().Name(), "CompositeConstraintChecker");
}

TEST(CompositeConstraintChecker, WithoutMembersItAllowsEverything) {
    CompositeConstraintChecker composite;
    composite.Init(nullptr, Points(2), {Agent(0)});
    Label label = MakeLabel(2, {0}, {3.0}, {0}, {0});
    EXPECT_TRUE(composite.Members().empty());
    EXPECT_FALSE(composite.IsForbidden(0, 1));
    ExpectAccept(composite.CheckTransition(label, 0, 1));
    EXPECT_TRUE(composite.IsWithinLimit(label, 0));
    EXPECT_FALSE(composite.IsDeadEnd(label));
}

TEST(CompositeConstraintChecker, InitForwardsToEveryMemberInOrder) {
    CompositeWith fixture(3);
    fixture.composite->Init(nullptr, Points(4), {});
    EXPECT_EQ(fixture.log, (std::vector<std::string>{"init 0 4", "init 1 4", "init 2 4"}));
}

TEST(CompositeConstraintChecker, QueriesStopAtTheDecidingMember) {
    CompositeWith fixture(3);
    Label label = MakeLabel(1, {0}, {0.0}, {0}, {});
    fixture.members[1]->forbidden = true;
    fixture.members[1]->within_limit = false;
    fixture.members[1]->dead_end = true;
    EXPECT_TRUE(fixture.composite->IsForbidden(0, 0));
    EXPECT_FALSE(fixture.composite->IsWithinLimit(label, 0));
    EXPECT_TRUE(fixture.composite->IsDeadEnd(label));
    EXPECT_EQ(fixture.log, (std::vector<std::string>{"forbidden 0", "forbidden 1", "limit 0",
                                                     "limit 1", "deadend 0", "deadend 1"}));
    fixture.log.clear();
    fixture.members[1]->forbidden = false;
    fixture.members[1]->within_limit = true;
    fixture.members[1]->dead_end = false;
    EXPECT_FALSE(fixture.composite->IsForbidden(0, 0));
    EXPECT_TRUE(fixture.composite->IsWithinLimit(label, 0));
    EXPECT_FALSE(fixture.composite->IsDeadEnd(label));
    EXPECT_EQ(fixture.log.size(), 9u);
}

TEST(CompositeConstraintChecker, SecondMemberSeesTheCostTheFirstSet) {
    CompositeWith fixture(2);
    fixture.members[0]->answer = {true, 12.0, true};
    Label label = MakeLabel(2, {0}, {7.0}, {0}, {0, 1});
    TransitionCheck check = fixture.composite->CheckTransition(label, 0, 1);
    EXPECT_EQ(fixture.members[0]->seen_cost, 7.0);
    EXPECT_EQ(fixture.members[1]->seen_cost, 12.0);
    ExpectWait(check, 12.0);
    EXPECT_EQ(label.costs[0], 7.0);  // the caller's label is untouched

    // The second member rejects: its answer is the composite's, unchanged.
    fixture.members[1]->answer = {false, 4.5, true};
    TransitionCheck rejected = fixture.composite->CheckTransition(label, 0, 1);
    EXPECT_FALSE(rejected.feasible);
    EXPECT_EQ(rejected.new_cost, 4.5);
    EXPECT_TRUE(rejected.updated);
}

TEST(CompositeConstraintChecker, RejectionStopsTheMembersAfterIt) {
    CompositeWith fixture(3);
    fixture.members[1]->answer = {false, 0.0, false};
    ExpectReject(fixture.composite->CheckTransition(MakeLabel(1, {0}, {0}, {0}, {0}), 0, 0));
    EXPECT_EQ(fixture.log, (std::vector<std::string>{"check 0", "check 1"}));
}

TEST(CompositeConstraintChecker, OneCopyCarriesEveryUpdate) {
    CompositeWith fixture(4);
    fixture.members[0]->answer = {true, 12.0, true};
    fixture.members[2]->answer = {true, 15.0, true};
    fixture.members[3]->answer = {true, 20.0, true};
    Label label = MakeLabel(2, {0, 0}, {7.0, 1.0}, {0, 0}, {0, 1});
    ExpectWait(fixture.composite->CheckTransition(label, 0, 1), 20.0);
    EXPECT_EQ(fixture.members[0]->seen_label, &label);
    // Members after the first update all see the same copy, with the cost so far.
    EXPECT_NE(fixture.members[1]->seen_label, &label);
    EXPECT_EQ(fixture.members[2]->seen_label, fixture.members[1]->seen_label);
    EXPECT_EQ(fixture.members[3]->seen_label, fixture.members[1]->seen_label);
    EXPECT_EQ(fixture.members[1]->seen_cost, 12.0);
    EXPECT_EQ(fixture.members[2]->seen_cost, 12.0);
    EXPECT_EQ(fixture.members[3]->seen_cost, 15.0);
    // The other agent's cost in the copy is the caller's.
    EXPECT_EQ(fixture.members[3]->seen_label->costs[1], 1.0);

    // A later call starts again from the caller's label.
    fixture.members[0]->answer = {true, 0.0, false};
    fixture.members[2]->answer = {true, 0.0, false};
    fixture.members[3]->answer = {true, 0.0, false};
    label.costs[0] = 8.0;
    ExpectAccept(fixture.composite->CheckTransition(label, 0, 1));
    for (RecordingChecker* member : fixture.members) {
        EXPECT_EQ(member->seen_label, &label);
        EXPECT_EQ(member->seen_cost, 8.0);
    }
}

TEST(CompositeConstraintChecker, UpdateByTheLastMemberIsReported) {
    CompositeWith fixture(2);
    fixture.members[1]->answer = {true, 9.0, true};
    Label label = MakeLabel(1, {0}, {7.0}, {0}, {0});
    ExpectWait(fixture.composite->CheckTransition(label, 0, 0), 9.0);
}

TEST(CompositeConstraintChecker, DestroysItsMembersInListOrder) {
    std::vector<std::string> log;
    {
        CompositeConstraintChecker composite;
        for (const char* tag : {"a", "b", "c"}) {
            composite.AddMember(std::make_unique<RecordingChecker>(tag, &log));
        }
        composite.AddMember(nullptr);
        EXPECT_EQ(composite.Members().size(), 3u);
        EXPECT_TRUE(log.empty());
    }
    EXPECT_EQ(log, (std::vector<std::string>{"destroy a", "destroy b", "destroy c"}));
}

TEST(CompositeConstraintChecker, TheSolversCompositeFindsItsTimeWindowMember) {
    SparseGraph graph = LookAheadGraph();
    CompositeConstraintChecker composite;
    composite.AddMember(std::make_unique<DefaultConstraintChecker>());
    composite.AddMember(std::make_unique<TimeWindowConstraintChecker>());
    composite.AddMember(std::make_unique<TimeLimitConstraintChecker>());
    composite.Init(&graph, Points(3), {Agent(0, 6.0)});
    int found = 0;
    for (auto& member : composite.Members()) {
        if (auto* tw = dynamic_cast<TimeWindowConstraintChecker*>(member.get())) {
            tw->SetEnds({0});
            tw->SetTimeWindows({{1, {5.0, 8.0}}});
            tw->SetStarts({0});
            tw->SetReturnToEnd(true);
            ++found;
        }
    }
    EXPECT_EQ(found, 1);
    std::vector<std::string> names;
    for (const auto& member : composite.Members()) names.push_back(member->Name());
    EXPECT_EQ(names, (std::vector<std::string>{"DefaultConstraintChecker",
                                               "TimeConstraintChecker",
                                               "TimeLimitConstraintChecker"}));
    // 0 -> 1 arrives at 1, waits until 5; vertex 2 stays reachable.
    ExpectWait(composite.CheckTransition(MakeLabel(3, {0}, {1.0}, {0}, {0, 1}), 0, 1), 5.0);
    EXPECT_TRUE(composite.IsWithinLimit(MakeLabel(3, {0}, {6.0}, {0}, {0, 1}), 0));
    EXPECT_FALSE(composite.IsWithinLimit(MakeLabel(3, {0}, {6.5}, {0}, {0, 1}), 0));
}

}  // namespace
}  // namespace tamrik
