#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "model/json_loader.h"

namespace tamrik {
namespace {

using nlohmann::json;

Problem Load(const std::string& text) {
    Problem problem;
    load_problem_json(json::parse(text), problem);
    return problem;
}

// Wraps the given members in a document whose nodes and agents are both empty.
std::string WithEmptyLists(const std::string& members) {
    return R"({"nodes": [], "agents": [])" + (members.empty() ? "" : ", " + members) + "}";
}

TEST(JsonLoader, EmptyListsGiveAnEmptyProblemWithDefaultOptions) {
    Problem problem = Load(WithEmptyLists(""));
    EXPECT_EQ(problem.num_nodes, 0u);
    EXPECT_EQ(problem.num_agents, 0u);
    EXPECT_TRUE(problem.options.return_to_end);
    EXPECT_EQ(problem.options.objective, ObjectiveType::MinSum);
    EXPECT_EQ(problem.options.time_limit, 60.0);
}

TEST(JsonLoader, ReadsNodesWithDefaultsForOptionalKeys) {
    Problem problem = Load(R"({"nodes": [
        {"id": 4, "x": 1.5, "y": -2, "z": 3, "type": "DEPOT", "demand": 2.5},
        {"id": 7.9, "x": 0, "y": 0}], "agents": []})");
    ASSERT_EQ(problem.num_nodes, 2u);
    const Node& depot = problem.nodes[0];
    EXPECT_EQ(depot.id, 4u);
    EXPECT_EQ(depot.position.x, 1.5);
    EXPECT_EQ(depot.position.y, -2.0);
    EXPECT_EQ(depot.position.z, 3.0);
    EXPECT_EQ(depot.type, NodeType::DEPOT);
    EXPECT_EQ(depot.demand, 2.5);
    const Node& target = problem.nodes[1];
    EXPECT_EQ(target.id, 7u);  // a floating id is truncated
    EXPECT_EQ(target.position.z, 0.0);
    EXPECT_EQ(target.type, NodeType::TARGET);
    EXPECT_EQ(target.demand, 0.0);
}

struct NodeTypeCase {
    const char* type_member;
    NodeType expected;
};

class JsonLoaderNodeType : public ::testing::TestWithParam<NodeTypeCase> {};

TEST_P(JsonLoaderNodeType, UpperCasesTheTextBeforeComparing) {
    std::string node = R"({"id": 0, "x": 0, "y": 0)" + std::string(GetParam().type_member) + "}";
    Problem problem = Load(R"({"nodes": [)" + node + R"(], "agents": []})");
    EXPECT_EQ(problem.nodes[0].type, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, JsonLoaderNodeType,
    ::testing::Values(NodeTypeCase{R"(, "type": "depot")", NodeType::DEPOT},   // lower case
                      NodeTypeCase{R"(, "type": "Depot")", NodeType::DEPOT},   // mixed case
                      NodeTypeCase{R"(, "type": "DEPOT")", NodeType::DEPOT},   // upper case
                      NodeTypeCase{R"(, "type": "Depot ")", NodeType::TARGET}, // trailing blank
                      NodeTypeCase{R"(, "type": "hub")", NodeType::TARGET},    // any other text
                      NodeTypeCase{"", NodeType::TARGET}));                     // key absent

TEST(JsonLoader, ReadsCapacityAndMaxLengthAsWholeNumbers) {
    Problem problem = Load(R"({"nodes": [], "agents": [
        {"id": 0, "type": "a", "start_node": 0, "end_node": 1},
        {"id": 1, "type": "b", "start_node": 2, "end_node": 3, "capacity": 10.9, "max_length": 7.9},
        {"id": 2, "type": "a", "start_node": 0, "end_node": 0, "capacity": true,
         "max_length": 4294967301}]})");
    ASSERT_EQ(problem.agents_ordered.size(), 3u);
    EXPECT_EQ(problem.agents.at(0).capacity_limit, 0.0);
    EXPECT_EQ(problem.agents.at(0).time_limit, 0.0);
    EXPECT_EQ(problem.agents.at(1).capacity_limit, 10.0);
    EXPECT_EQ(problem.agents.at(1).time_limit, 7.0);
    EXPECT_EQ(problem.agents.at(1).start_node, 2u);
    EXPECT_EQ(problem.agents.at(1).end_node, 3u);
    EXPECT_EQ(problem.agents.at(2).capacity_limit, 1.0);
    EXPECT_EQ(problem.agents.at(2).time_limit, 5.0);  // cut to the low 32 bits
    EXPECT_EQ(problem.type_names, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(problem.agent_type_of.at(2), 0u);
}

TEST(JsonLoader, TakesObjectMembersInKeyOrderAndNullAsEmpty) {
    Problem problem = Load(R"({"nodes": {"b": {"id": 2, "x": 0, "y": 0},
                                         "a": {"id": 1, "x": 0, "y": 0}},
                               "agents": null})");
    ASSERT_EQ(problem.num_nodes, 2u);
    EXPECT_EQ(problem.nodes[0].id, 1u);
    EXPECT_EQ(problem.nodes[1].id, 2u);
    EXPECT_EQ(problem.num_agents, 0u);
}

TEST(JsonLoader, StoresCostMatricesByNameOrByArrayPosition) {
    Problem named = Load(WithEmptyLists(R"("costs": {"car": [[0, 1], [2]], "bus": []})"));
    EXPECT_EQ(named.cost_matrices.at("car"), (CostMatrix{{0, 1}, {2}}));
    EXPECT_TRUE(named.cost_matrices.at("bus").empty());
    Problem positional = Load(WithEmptyLists(R"("costs": [[[1]], [[2]]])"));
    EXPECT_EQ(positional.cost_matrices.at("0"), (CostMatrix{{1}}));
    EXPECT_EQ(positional.cost_matrices.at("1"), (CostMatrix{{2}}));
}

TEST(JsonLoader, LaterConstraintItemsReplaceEarlierOnesAcrossConstraints) {
    Problem problem = Load(WithEmptyLists(R"("constraints": [
        {"kind": "timewindow", "items": [{"node": 3, "start": 1, "end": 2}]},
        {"kind": "timewindow", "items": [{"node": 3, "start": 5, "end": 8.5}]},
        {"kind": "assignment", "items": [{"node": 1, "types": ["a"]},
                                         {"node": 1, "types": ["b", "c"]}]},
        {"kind": "capacity", "items": [{"node": 1}]},
        {"kind": "assignment"}])"));
    EXPECT_EQ(problem.timewindow_constraint.windows.size(), 1u);
    EXPECT_EQ(problem.timewindow_constraint.windows.at(3), (std::pair<double, double>{5, 8.5}));
    EXPECT_EQ(problem.assignment_constraint.allowed_types.at(1),
              (std::vector<std::string>{"b", "c"}));
}

TEST(JsonLoader, SortsPrecedenceItemsByTheirExactType) {
    Problem problem = Load(WithEmptyLists(R"("constraints": [{"kind": "sequence", "precedence": [
        {"before": 1, "after": 2, "type": "same"}, {"before": 3, "after": 4, "type": "diff"},
        {"before": 5, "after": 6, "type": "SAME"}, {"before": 7, "after": 8}]}])"));
    using Pairs = std::vector<SequenceConstraint::NodePair>;
    EXPECT_EQ(problem.sequence_constraint.same_pairs, (Pairs{{1, 2}}));
    EXPECT_EQ(problem.sequence_constraint.diff_pairs, (Pairs{{3, 4}}));
    EXPECT_EQ(problem.sequence_constraint.precedence_pairs, (Pairs{{5, 6}, {7, 8}}));
}

TEST(JsonLoader, ReplacesConstraintRecordsEvenWithoutConstraints) {
    Problem problem;
    problem.timewindow_constraint.set_timewindow(1, 0, 1);
    load_problem_json(json::parse(WithEmptyLists("")), problem);
    EXPECT_TRUE(problem.timewindow_constraint.windows.empty());
}

struct ObjectiveCase {
    const char* text;
    ObjectiveType expected;
};

class JsonLoaderObjective : public ::testing::TestWithParam<ObjectiveCase> {};

TEST_P(JsonLoaderObjective, OnlyTheTwoMinMaxSpellingsSelectMinMax) {
    Problem problem = Load(WithEmptyLists(R"("options": {"objective": ")" +
                                          std::string(GetParam().text) + R"("})"));
    EXPECT_EQ(problem.options.objective, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, JsonLoaderObjective,
    ::testing::Values(ObjectiveCase{"min_max", ObjectiveType::MinMax},  // lower case
                      ObjectiveCase{"MIN_MAX", ObjectiveType::MinMax},  // upper case
                      ObjectiveCase{"Min_Max", ObjectiveType::MinSum},  // mixed case is not it
                      ObjectiveCase{"MinMax", ObjectiveType::MinSum},   // enum spelling
                      ObjectiveCase{"min_sum", ObjectiveType::MinSum},  // the default text
                      ObjectiveCase{"MIN_SUM", ObjectiveType::MinSum},  // upper-case default
                      ObjectiveCase{"", ObjectiveType::MinSum}));       // empty text

TEST(JsonLoader, ReadsEveryOption) {
    Problem problem = Load(WithEmptyLists(
        R"("options": {"return_to_end": false, "objective": "min_max", "time_limit": 2})"));
    EXPECT_FALSE(problem.options.return_to_end);
    EXPECT_EQ(problem.options.objective, ObjectiveType::MinMax);
    EXPECT_EQ(problem.options.time_limit, 2.0);
}

TEST(JsonLoader, FailureLeavesEarlierStepsInPlace) {
    Problem problem;
    json document = json::parse(R"({"nodes": [{"id": 1, "x": 0, "y": 0}, {"id": 2, "x": 0, "y": 0}],
        "agents": [{"id": 0, "type": "a", "end_node": 1}]})");
    EXPECT_THROW(load_problem_json(document, problem), json::out_of_range);
    EXPECT_EQ(problem.num_nodes, 2u);
    EXPECT_EQ(problem.num_agents, 0u);
}

struct BadDocument {
    const char* document;
    const char* message;
};

class JsonLoaderErrors : public ::testing::TestWithParam<BadDocument> {};

TEST_P(JsonLoaderErrors, RaiseTheLibraryExceptionWithItsExactText) {
    Problem problem;
    json document = json::parse(GetParam().document);
    try {
        load_problem_json(document, problem);
        FAIL() << "no exception for " << GetParam().document;
    } catch (const json::exception& error) {
        EXPECT_STREQ(error.what(), GetParam().message);
    }
}

#define NODE R"({"id": 0, "x": 0, "y": 0})"
#define AGENT R"({"id": 0, "type": "a", "start_node": 0, "end_node": 0)"

INSTANTIATE_TEST_SUITE_P(
    Documents, JsonLoaderErrors,
    ::testing::Values(
        // root is not an object
        BadDocument{"[]", "[json.exception.type_error.304] cannot use at() with array"},
        // nodes missing
        BadDocument{"{}", "[json.exception.out_of_range.403] key 'nodes' not found"},
        // agents missing
        BadDocument{R"({"nodes": []})", "[json.exception.out_of_range.403] key 'agents' not found"},
        // a node that is not an object
        BadDocument{R"({"nodes": [5], "agents": []})",
                    "[json.exception.type_error.304] cannot use at() with number"},
        // node without y
        BadDocument{R"({"nodes": [{"id": 0, "x": 0}], "agents": []})",
                    "[json.exception.out_of_range.403] key 'y' not found"},
        // boolean id: ids are numbers only
        BadDocument{R"({"nodes": [{"id": true, "x": 0, "y": 0}], "agents": []})",
                    "[json.exception.type_error.302] type must be number, but is boolean"},
        // null coordinate
        BadDocument{R"({"nodes": [{"id": 0, "x": null, "y": 0}], "agents": []})",
                    "[json.exception.type_error.302] type must be number, but is null"},
        // numeric node type
        BadDocument{R"({"nodes": [{"id": 0, "x": 0, "y": 0, "type": 0}], "agents": []})",
                    "[json.exception.type_error.302] type must be string, but is number"},
        // string demand
        BadDocument{R"({"nodes": [{"id": 0, "x": 0, "y": 0, "demand": "2"}], "agents": []})",
                    "[json.exception.type_error.302] type must be number, but is string"},
        // agent without start_node
        BadDocument{R"({"nodes": [)" NODE R"(], "agents": [{"id": 0, "type": "a"}]})",
                    "[json.exception.out_of_range.403] key 'start_node' not found"},
        // agent type that is not a string
        BadDocument{R"({"nodes": [], "agents": [{"id": 0, "type": ["a"]}]})",
                    "[json.exception.type_error.302] type must be string, but is array"},
        // capacity given as text
        BadDocument{R"({"nodes": [], "agents": [)" AGENT R"(, "capacity": "9"}]})",
                    "[json.exception.type_error.302] type must be number, but is string"},
        // a matrix that is a number
        BadDocument{R"({"nodes": [], "agents": [], "costs": {"a": 5}})",
                    "[json.exception.type_error.302] type must be array, but is number"},
        // a row that is an object
        BadDocument{R"({"nodes": [], "agents": [], "costs": {"a": [{}]}})",
                    "[json.exception.type_error.302] type must be array, but is object"},
        // a cost entry that is text
        BadDocument{R"({"nodes": [], "agents": [], "costs": {"a": [["1"]]}})",
                    "[json.exception.type_error.302] type must be number, but is string"},
        // constraint without kind
        BadDocument{R"({"nodes": [], "agents": [], "constraints": [{"items": []}]})",
                    "[json.exception.out_of_range.403] key 'kind' not found"},
        // numeric kind
        BadDocument{R"({"nodes": [], "agents": [], "constraints": [{"kind": 1}]})",
                    "[json.exception.type_error.302] type must be string, but is number"},
        // assignment types as one string
        BadDocument{R"({"nodes": [], "agents": [], "constraints": [{"kind": "assignment",
                        "items": [{"node": 1, "types": "a"}]}]})",
                    "[json.exception.type_error.302] type must be array, but is string"},
        // assignment type name that is a number
        BadDocument{R"({"nodes": [], "agents": [], "constraints": [{"kind": "assignment",
                        "items": [{"node": 1, "types": ["a", 2]}]}]})",
                    "[json.exception.type_error.302] type must be string, but is number"},
        // time window without end
        BadDocument{R"({"nodes": [], "agents": [], "constraints": [{"kind": "timewindow",
                        "items": [{"node": 1, "start": 0}]}]})",
                    "[json.exception.out_of_range.403] key 'end' not found"},
        // precedence type that is not a string
        BadDocument{R"({"nodes": [], "agents": [], "constraints": [{"kind": "sequence",
                        "precedence": [{"before": 1, "after": 2, "type": null}]}]})",
                    "[json.exception.type_error.302] type must be string, but is null"},
        // options given as an array
        BadDocument{R"({"nodes": [], "agents": [], "options": []})",
                    "[json.exception.type_error.306] cannot use value() with array"},
        // return_to_end given as a number
        BadDocument{R"({"nodes": [], "agents": [], "options": {"return_to_end": 1}})",
                    "[json.exception.type_error.302] type must be boolean, but is number"},
        // objective given as a number
        BadDocument{R"({"nodes": [], "agents": [], "options": {"objective": 0}})",
                    "[json.exception.type_error.302] type must be string, but is number"},
        // time limit given as text
        BadDocument{R"({"nodes": [], "agents": [], "options": {"time_limit": "5"}})",
                    "[json.exception.type_error.302] type must be number, but is string"}));

#undef NODE
#undef AGENT

}  // namespace
}  // namespace tamrik
