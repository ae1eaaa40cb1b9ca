#include <gtest/gtest.h>

#include <stdexcept>

#include "plugins/constraint_checkers.h"
#include "solver/solver_probe.h"

namespace tamrik {
namespace {

using testing::SolverProbe;

Node MakeNode(uint64_t id, double x = 0.0, double y = 0.0) {
    Node node;
    node.id = id;
    node.position = {x, y, 0.0};
    return node;
}

Agent MakeAgent(uint64_t id, const std::string& type, uint64_t start, uint64_t end,
                double limit = 0.0) {
    Agent agent;
    agent.id = id;
    agent.type = type;
    agent.start_node = start;
    agent.end_node = end;
    agent.time_limit = limit;
    return agent;
}

// Nodes 10, 11, 12 (positions 0..2) and one agent of type "car" based at node 10.
Problem SmallProblem() {
    Problem problem;
    problem.add_node(MakeNode(10, 2.9, -1.5));
    problem.add_node(MakeNode(11));
    problem.add_node(MakeNode(12));
    problem.add_agent(MakeAgent(1, "car", 10, 10), 1);
    problem.set_cost_matrix("car", {{0, 1, 2}, {1, 0, 3}, {2, 3, 0}});
    AssignmentConstraint everyone;
    for (uint64_t id : {10, 11, 12}) everyone.set_assignment(id, {"car"});
    problem.set_assignment_constraint(everyone);
    return problem;
}

template <typename Error>
std::string MessageOf(const Problem& problem) {
    try {
        SolverProbe solver(problem, problem.options);
    } catch (const Error& error) {
        return error.what();
    }
    return "no error";
}

TEST(SolverSetup, TruncatesCoordinatesAndNumbersVerticesByPosition) {
    SolverProbe solver(SmallProblem(), Options{});
    ASSERT_EQ(solver.points.size(), 3u);
    EXPECT_EQ(solver.points[0].x, 2);
    EXPECT_EQ(solver.points[0].y, -1);
    EXPECT_EQ(solver.points[2].node_id, 12u);
    EXPECT_EQ(solver.starts, (std::vector<int64_t>{0}));
    EXPECT_EQ(solver.goals, (std::vector<int64_t>{0}));
}

TEST(SolverSetup, FillsMissingCostsWith9999) {
    Problem problem = SmallProblem();
    problem.add_agent(MakeAgent(2, "bike", 10, 10), 2);
    problem.set_cost_matrix("car", {{0, 1}, {1}});  // smaller than the node table
    SolverProbe solver(problem, Options{});
    EXPECT_EQ(solver.graph->GetArcCost(0, 1), (CostVector{1, 9999}));
    EXPECT_EQ(solver.graph->GetArcCost(1, 2), (CostVector{9999, 9999}));
    EXPECT_EQ(solver.graph->NumArc(), 12u);
}

TEST(SolverSetup, MapsARepeatedNodeIdToItsLaterVertex) {
    Problem problem = SmallProblem();
    problem.add_node(MakeNode(11));
    problem.add_agent(MakeAgent(2, "car", 11, 11), 2);
    SolverProbe solver(problem, Options{});
    EXPECT_EQ(solver.points.size(), 4u);
    EXPECT_EQ(solver.starts[1], 3);
}

TEST(SolverSetup, AgentAddedUnderAnotherIdHasNoTypeIndex) {
    Problem problem = SmallProblem();
    problem.add_agent(MakeAgent(5, "car", 10, 10), 6);
    SolverProbe solver(problem, Options{});
    EXPECT_EQ(solver.agents[0].type_index, 0);
    EXPECT_EQ(solver.agents[1].type_index, -1);
}

struct CheckerCase {
    bool windows;
    double limit;
    std::vector<std::string> members;
};

class SolverSetupCheckers : public ::testing::TestWithParam<CheckerCase> {};

TEST_P(SolverSetupCheckers, InstallsTheCheckersTheInstanceNeeds) {
    Problem problem = SmallProblem();
    problem.agents_ordered[0].time_limit = GetParam().limit;
    if (GetParam().windows) {
        TimeWindowConstraint windows;
        windows.set_timewindow(11, 0, 10);
        problem.set_timewindow_constraint(windows);
    }
    SolverProbe solver(problem, Options{});
    std::vector<std::string> names;
    if (GetParam().members.size() == 1) {
        names.push_back(solver.constraint_checker->Name());
    } else {
        auto& composite = dynamic_cast<CompositeConstraintChecker&>(*solver.constraint_checker);
        for (const auto& member : composite.Members()) names.push_back(member->Name());
    }
    EXPECT_EQ(names, GetParam().members);
}

INSTANTIATE_TEST_SUITE_P(
    Instances, SolverSetupCheckers,
    ::testing::Values(
        // nothing to check beyond types
        CheckerCase{false, 0.0, {"DefaultConstraintChecker"}},
        // a cost limit only
        CheckerCase{false, 5.0, {"DefaultConstraintChecker", "TimeLimitConstraintChecker"}},
        // windows only
        CheckerCase{true, -1.0, {"DefaultConstraintChecker", "TimeConstraintChecker"}},
        // both, windows first
        CheckerCase{true, 5.0,
                    {"DefaultConstraintChecker", "TimeConstraintChecker",
                     "TimeLimitConstraintChecker"}}));

TEST(SolverSetup, PicksTheObjectiveFromTheOptions) {
    Options options;
    options.objective = ObjectiveType::MinMax;
    EXPECT_EQ(SolverProbe(SmallProblem(), options).objective->Name(), "DefaultObjective");
    options.objective = ObjectiveType::MinSum;
    EXPECT_EQ(SolverProbe(SmallProblem(), options).objective->Name(), "MinSumObjective");
    EXPECT_EQ(SolverProbe(SmallProblem(), options).post_optimizer->Name(),
              "CompositePostOptimizer");
}

TEST(SolverSetup, WarnsAboutAndSkipsWindowsOnUnknownNodes) {
    Problem problem = SmallProblem();
    TimeWindowConstraint windows;
    windows.set_timewindow(99, 0, 1);
    windows.set_timewindow(12, 2, 3);
    problem.set_timewindow_constraint(windows);
    ::testing::internal::CaptureStderr();
    SolverProbe solver(problem, Options{});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "[warning] time window node id 99 not found in nodes\n");
    ASSERT_EQ(solver.time_windows.size(), 1u);
    EXPECT_EQ(solver.time_windows.at(2), (TimeWindow{2, 3}));
}

TEST(SolverSetup, RefusesMoreThan256NodesBeforeBuildingAnything) {
    Problem problem;
    for (uint64_t id = 0; id < 257; ++id) problem.add_node(MakeNode(id));
    EXPECT_EQ(MessageOf<std::length_error>(problem),
              "the instance has 257 nodes, but the solver handles at most 256");
}

TEST(SolverSetup, NamesAnUnknownStartOrEndNode) {
    Problem start = SmallProblem();
    start.add_agent(MakeAgent(3, "car", 17, 10), 3);
    EXPECT_EQ(MessageOf<std::out_of_range>(start),
              "_Map_base::at: agent 3 has start_node 17, which is no node id");
    Problem end = SmallProblem();
    end.add_agent(MakeAgent(3, "car", 10, 18), 3);
    EXPECT_EQ(MessageOf<std::out_of_range>(end),
              "_Map_base::at: agent 3 has end_node 18, which is no node id");
}

TEST(SolverSetup, NamesACostMatrixOfATypeNoAgentHas) {
    Problem problem = SmallProblem();
    problem.set_cost_matrix("boat", {{0}});
    EXPECT_EQ(MessageOf<std::out_of_range>(problem),
              "_Map_base::at: cost matrix for agent type 'boat', which no agent has");
}

TEST(SolverSetup, RefusesMatricesLargerThanTheNodeTable) {
    Problem rows = SmallProblem();
    rows.set_cost_matrix("car", {{0}, {0}, {0}, {0}});
    EXPECT_EQ(MessageOf<std::invalid_argument>(rows),
              "cost matrix for agent type 'car' has 4 rows, but the problem has 3 nodes");
    Problem row = SmallProblem();
    row.set_cost_matrix("car", {{0, 1, 2}, {1, 0, 3, 4, 5}});
    EXPECT_EQ(MessageOf<std::invalid_argument>(row),
              "cost matrix for agent type 'car' has a row of 5 entries (row 1), but the problem "
              "has 3 nodes");
}

TEST(SolverSetup, SetPointsAcceptsOnlyTheTwoKnownTypeLists) {
    SolverProbe solver(SmallProblem(), Options{});
    PointRecord zero, both, other;
    zero.types = {0};
    both.types = {0, 1};
    other.types = {1};
    EXPECT_NO_THROW(solver.SetPoints({zero, both}));
    try {
        solver.SetPoints({zero, other});
        FAIL() << "accepted types [1]";
    } catch (const std::invalid_argument& error) {
        EXPECT_STREQ(error.what(), "Wrong Point type");
    }
}

TEST(SolverSetup, ReportsAndMarksAStartWhoseArcsAreAllUnusable) {
    Problem problem = SmallProblem();
    // Row 0 gives no cost out of node 0.
    problem.set_cost_matrix("car", {{0}, {9999, 0, 3}, {9999, 3, 0}});
    ::testing::internal::CaptureStderr();
    SolverProbe solver(problem, Options{});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "point: 0 can't be reached\n");
    EXPECT_EQ(solver.unreachable_points, (std::vector<int64_t>{0}));
    // an ordinary target with the same arcs is not checked
    Problem target = SmallProblem();
    target.set_cost_matrix("car", {{0, 1, 9999}, {1, 0, 9999}, {}});
    ::testing::internal::CaptureStderr();
    SolverProbe other(target, Options{});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(other.unreachable_points.empty());
}

}  // namespace
}  // namespace tamrik
