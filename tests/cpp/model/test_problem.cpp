#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "model/problem.h"

namespace tamrik {
namespace {

Agent MakeAgent(uint64_t id, const std::string& type) {
    Agent agent;
    agent.id = id;
    agent.type = type;
    return agent;
}

TEST(Problem, NumbersTypesByFirstAppearanceAndKeysAgentsByTheIdArgument) {
    Problem problem;
    problem.add_agent(MakeAgent(0, "a"), 0);
    problem.add_agent(MakeAgent(1, "b"), 1);
    problem.add_agent(MakeAgent(5, "a"), 9);  // keyed 9, not by the agent's own id
    problem.add_agent(MakeAgent(6, "c"), 1);  // a repeated key
    EXPECT_EQ(problem.type_names, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(problem.agent_type_of.at(9), 0u);
    EXPECT_EQ(problem.agents.count(5), 0u);
    EXPECT_EQ(problem.agents.at(9).id, 5u);
    // Both copies stay in order; the maps point at the second and count it once.
    ASSERT_EQ(problem.agents_ordered.size(), 4u);
    EXPECT_EQ(problem.agents_ordered[1].type, "b");
    EXPECT_EQ(problem.agents.at(1).type, "c");
    EXPECT_EQ(problem.agent_order_index.at(1), 3u);
    EXPECT_EQ(problem.agent_type_of.at(1), 2u);
    EXPECT_EQ(problem.num_agents, 3u);
}

TEST(Problem, ReferencesToStoredNodesSurviveLaterAdditions) {
    Problem problem;
    problem.add_node(Node{});
    Node& first = problem.nodes.front();
    for (uint64_t id = 1; id < 1000; ++id) problem.add_node(Node{});
    first.demand = 4.5;
    EXPECT_EQ(problem.nodes[0].demand, 4.5);
    EXPECT_EQ(problem.num_nodes, 1000u);
}

TEST(Problem, AllowsTheKnownListedTypesSortedOnceOrEveryTypeWithAWarningWhenUnlisted) {
    Problem problem;
    problem.add_agent(MakeAgent(0, "a"), 0);
    problem.add_agent(MakeAgent(1, "b"), 1);
    AssignmentConstraint constraint;
    constraint.set_assignment(10, {"b", "a", "b", "nobody"});
    constraint.set_assignment(11, {});
    constraint.set_assignment(12, {"nobody"});
    problem.set_assignment_constraint(constraint);
    // (node, allowed type indices, whether a warning is printed)
    const std::vector<std::tuple<uint64_t, std::vector<uint64_t>, bool>> cases = {
        {10, {0, 1}, false},  // listed twice and unknown names: sorted, unique, skipped
        {11, {}, false},      // an empty list admits nobody
        {12, {}, false},      // so does a list of unknown names
        {99, {0, 1}, true}};  // an unlisted node admits every type
    for (const auto& [node, allowed, warns] : cases) {
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(problem.allowed_type_indices(node), allowed) << "node " << node;
        EXPECT_EQ(!::testing::internal::GetCapturedStderr().empty(), warns) << "node " << node;
    }
}

}  // namespace
}  // namespace tamrik
