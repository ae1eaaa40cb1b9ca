#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "solver/solver_probe.h"

namespace tamrik {
namespace {

using testing::SolverProbe;

// Nodes 10, 11, 12 (vertices 0..2) and one agent of type "car" based at node 10.
Problem SmallProblem() {
    Problem problem;
    for (uint64_t id : {10, 11, 12}) problem.add_node(Node{.id = id, .position = {}});
    problem.add_agent(Agent{.id = 1, .type = "car", .start_node = 10, .end_node = 10}, 1);
    problem.set_cost_matrix("car", {{0, 1, 2}, {1, 0, 3}, {2, 3, 0}});
    AssignmentConstraint everyone;
    for (uint64_t id : {10, 11, 12}) everyone.set_assignment(id, {"car"});
    problem.set_assignment_constraint(everyone);
    return problem;
}

// The kind and message of the error that `spoil` throws on the small problem, or else building
// a solver for the spoilt problem.
std::string ErrorOf(const std::function<void(Problem&)>& spoil) {
    Problem problem = SmallProblem();
    try {
        spoil(problem);
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

TEST(SolverSetup, RefusesABadInstanceOrPointTableWithAnErrorOfItsKind) {
    auto points = [](std::vector<int64_t> types) { return PointRecord{.types = types}; };
    const std::vector<std::pair<std::function<void(Problem&)>, std::string>> cases = {
        // the small problem itself, with search points open to type 0 alone or to types 0 and 1
        {[&](Problem& p) { SolverProbe(p, p.options).SetPoints({points({0}), points({0, 1})}); },
         "no error"},
        // an agent's node that is no node id
        {[](Problem& p) { p.add_agent(Agent{.id = 3, .type = "car", .start_node = 17}, 3); },
         "out_of_range: _Map_base::at: agent 3 has start_node 17, which is no node id"},
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
        // a search point open to type 1 alone
        {[&](Problem& p) { SolverProbe(p, p.options).SetPoints({points({0}), points({1})}); },
         "invalid_argument: Wrong Point type"}};
    for (const auto& [spoil, error] : cases) EXPECT_EQ(ErrorOf(spoil), error);
}

TEST(SolverSetup, MapsWindowsFromNodeIdsToVerticesAndSkipsThoseOfUnknownNodes) {
    Problem problem = SmallProblem();
    TimeWindowConstraint windows;
    windows.set_timewindow(99, 0, 1);
    windows.set_timewindow(12, 2, 3);
    problem.set_timewindow_constraint(windows);
    ::testing::internal::CaptureStderr();  // a warning about node 99
    SolverProbe solver(problem, Options{});
    ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(solver.time_windows, (decltype(solver.time_windows){{2, {2, 3}}}));
}

}  // namespace
}  // namespace tamrik
