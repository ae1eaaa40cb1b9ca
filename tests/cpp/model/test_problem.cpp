#include <gtest/gtest.h>

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

TEST(Problem, RepeatedAgentIdKeepsBothOrderedCopiesButMapsTheSecond) {
    Problem problem;
    problem.add_agent(MakeAgent(3, "a"), 3);
    problem.add_agent(MakeAgent(3, "b"), 3);
    ASSERT_EQ(problem.agents_ordered.size(), 2u);
    EXPECT_EQ(problem.agents_ordered[0].type, "a");
    EXPECT_EQ(problem.agents.at(3).type, "b");
    EXPECT_EQ(problem.agent_order_index.at(3), 1u);
    EXPECT_EQ(problem.agent_type_of.at(3), 1u);
    EXPECT_EQ(problem.num_agents, 1u);
}

TEST(Problem, AssignsTypeIndicesInOrderOfFirstAppearance) {
    Problem problem;
    problem.add_agent(MakeAgent(0, "a"), 0);
    problem.add_agent(MakeAgent(1, "b"), 1);
    problem.add_agent(MakeAgent(2, "a"), 2);
    EXPECT_EQ(problem.agent_type_of.at(0), 0u);
    EXPECT_EQ(problem.agent_type_of.at(1), 1u);
    EXPECT_EQ(problem.agent_type_of.at(2), 0u);
    EXPECT_EQ(problem.type_names, (std::vector<std::string>{"a", "b"}));
}

TEST(Problem, KeysAgentMapsByTheIdArgumentNotTheAgentField) {
    Problem problem;
    problem.add_agent(MakeAgent(5, "a"), 9);
    EXPECT_EQ(problem.agents.count(5), 0u);
    EXPECT_EQ(problem.agents.at(9).id, 5u);
    EXPECT_EQ(problem.agent_order_index.at(9), 0u);
}

TEST(Problem, ReferencesToStoredNodesSurviveLaterAdditions) {
    Problem problem;
    problem.add_node(Node{});
    Node& first = problem.nodes.front();
    for (uint64_t id = 1; id < 1000; ++id) {
        Node node;
        node.id = id;
        problem.add_node(node);
    }
    first.demand = 4.5;
    EXPECT_EQ(problem.nodes[0].demand, 4.5);
}

class AllowedTypeIndices : public ::testing::Test {
protected:
    void SetUp() override {
        problem.add_agent(MakeAgent(0, "a"), 0);
        problem.add_agent(MakeAgent(1, "b"), 1);
        AssignmentConstraint constraint;
        constraint.set_assignment(10, {"b", "a", "b", "nobody"});
        constraint.set_assignment(11, {});
        constraint.set_assignment(12, {"nobody"});
        constraint.set_assignment(13, {"b"});
        problem.set_assignment_constraint(constraint);
    }

    std::vector<uint64_t> Query(uint64_t node, std::string& warning) {
        ::testing::internal::CaptureStderr();
        auto indices = problem.allowed_type_indices(node);
        warning = ::testing::internal::GetCapturedStderr();
        return indices;
    }

    Problem problem;
};

TEST_F(AllowedTypeIndices, SortsAndDeduplicatesListedTypesAndSkipsUnknownNames) {
    std::string warning;
    EXPECT_EQ(Query(10, warning), (std::vector<uint64_t>{0, 1}));
    EXPECT_EQ(warning, "");
}

TEST_F(AllowedTypeIndices, UnlistedNodeAdmitsAllTypesWithAWarning) {
    std::string warning;
    EXPECT_EQ(Query(99, warning), (std::vector<uint64_t>{0, 1}));
    EXPECT_EQ(warning, "[warning] node 99 has no assignment constraint; allowing all types\n");
}

TEST_F(AllowedTypeIndices, EmptyOrUnknownListsAdmitNobodySilently) {
    std::string warning;
    EXPECT_TRUE(Query(11, warning).empty());
    EXPECT_TRUE(Query(12, warning).empty());
    EXPECT_EQ(warning, "");
    EXPECT_EQ(Query(13, warning), (std::vector<uint64_t>{1}));
}

}  // namespace
}  // namespace tamrik
