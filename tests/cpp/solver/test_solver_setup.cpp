#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "solver/solver_probe.h"

namespace tamrik {
namespace {

using testing::SolverProbe;

Node MakeNode(uint64_t id) {
    Node node;
    node.id = id;
    return node;
}

Agent MakeAgent(uint64_t id, const std::string& type, uint64_t start, uint64_t end) {
    Agent agent;
    agent.id = id;
    agent.type = type;
    agent.start_node = start;
    agent.end_node = end;
    return agent;
}

// Nodes 10, 11, 12 (vertices 0..2) and one agent of type "car" based at node 10.
Problem SmallProblem() {
    Problem problem;
    for (uint64_t id : {10, 11, 12}) problem.add_node(MakeNode(id));
    problem.add_agent(MakeAgent(1, "car", 10, 10), 1);
    problem.set_cost_matrix("car", {{0, 1, 2}, {1, 0, 3}, {2, 3, 0}});
    AssignmentConstraint everyone;
    for (uint64_t id : {10, 11, 12}) everyone.set_assignment(id, {"car"});
    problem.set_assignment_constraint(everyone);
    return problem;
}

// The kind and message of the error constructing a solver for the problem throws.
std::string ErrorOf(const Problem& problem) {
    try {
        SolverProbe solver(problem, problem.options);
    } catch (const std::length_error& error) {
        return std::string("length_error: ") + error.what();
    } catch (const std::out_of_range& error) {
        return std::string("out_of_range: ") + error.what();
    } catch (const std::invalid_argument& error) {
        return std::string("invalid_argument: ") + error.what();
    }
    return "no error";
}

TEST(SolverSetup, RefusesABadInstanceWithAnErrorNamingTheProblem) {
    struct Case {
        std::function<void(Problem&)> spoil;
        std::string error;
    };
    const std::vector<Case> cases = {
        // more nodes than the solver handles, refused before anything is built
        {[](Problem& p) {
             p = Problem{};
             for (uint64_t id = 0; id < 257; ++id) p.add_node(MakeNode(id));
         },
         "length_error: the instance has 257 nodes, but the solver handles at most 256"},
        // a start node that is no node id
        {[](Problem& p) { p.add_agent(MakeAgent(3, "car", 17, 10), 3); },
         "out_of_range: _Map_base::at: agent 3 has start_node 17, which is no node id"},
        // an end node that is no node id
        {[](Problem& p) { p.add_agent(MakeAgent(3, "car", 10, 18), 3); },
         "out_of_range: _Map_base::at: agent 3 has end_node 18, which is no node id"},
        // a matrix for a type no agent has
        {[](Problem& p) { p.set_cost_matrix("boat", {{0}}); },
         "out_of_range: _Map_base::at: cost matrix for agent type 'boat', which no agent has"},
        // more rows than nodes
        {[](Problem& p) { p.set_cost_matrix("car", {{0}, {0}, {0}, {0}}); },
         "invalid_argument: cost matrix for agent type 'car' has 4 rows, but the problem has 3 "
         "nodes"},
        // a row longer than the node table
        {[](Problem& p) { p.set_cost_matrix("car", {{0, 1, 2}, {1, 0, 3, 4, 5}}); },
         "invalid_argument: cost matrix for agent type 'car' has a row of 5 entries (row 1), "
         "but the problem has 3 nodes"},
    };
    EXPECT_EQ(ErrorOf(SmallProblem()), "no error");
    for (const Case& c : cases) {
        Problem problem = SmallProblem();
        c.spoil(problem);
        EXPECT_EQ(ErrorOf(problem), c.error);
    }
}

TEST(SolverSetup, SetPointsRefusesTypeListsOtherThanZeroOrZeroAndOne) {
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

TEST(SolverSetup, SkipsWindowsOnUnknownNodesWithAWarning) {
    Problem problem = SmallProblem();
    TimeWindowConstraint windows;
    windows.set_timewindow(99, 0, 1);
    windows.set_timewindow(12, 2, 3);
    problem.set_timewindow_constraint(windows);
    ::testing::internal::CaptureStderr();
    SolverProbe solver(problem, Options{});
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("99"), std::string::npos);
    ASSERT_EQ(solver.time_windows.size(), 1u);
    EXPECT_EQ(solver.time_windows.at(2), (TimeWindow{2, 3}));
}

TEST(SolverSetup, MarksAStartNoGivenCostLeavesAsUnreachableButNotAnOrdinaryTarget) {
    Problem start = SmallProblem();
    start.set_cost_matrix("car", {{0}, {9999, 0, 3}, {9999, 3, 0}});  // nothing out of 0
    ::testing::internal::CaptureStderr();
    SolverProbe solver(start, Options{});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "point: 0 can't be reached\n");
    EXPECT_EQ(solver.unreachable_points, (std::vector<int64_t>{0}));
    // No given cost leaves vertex 2 either, but no agent starts or ends there.
    Problem target = SmallProblem();
    target.set_cost_matrix("car", {{0, 1, 9999}, {1, 0, 9999}, {}});
    ::testing::internal::CaptureStderr();
    SolverProbe other(target, Options{});
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(other.unreachable_points.empty());
}

}  // namespace
}  // namespace tamrik
