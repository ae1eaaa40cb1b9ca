#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

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

TEST(JsonLoader, ReadsNodesWithDefaultsForOptionalKeysAndTypesCaseInsensitively) {
    Problem problem = Load(R"({"nodes": [
        {"id": 4, "x": 1.5, "y": -2, "z": 3, "type": "DEPOT", "demand": 2.5},
        {"id": 7.9, "x": 0, "y": 0}, {"id": 8, "x": 0, "y": 0, "type": "depot"},
        {"id": 9, "x": 0, "y": 0, "type": "Depot "}, {"id": 10, "x": 0, "y": 0, "type": "hub"}],
        "agents": []})");
    // (id, y, z, type, demand) read from each node
    using Read = std::tuple<uint64_t, double, double, NodeType, double>;
    const std::vector<Read> expected = {
        {4, -2.0, 3.0, NodeType::DEPOT, 2.5},    // every key given
        {7, 0.0, 0.0, NodeType::TARGET, 0.0},    // a floating id truncated; the defaults
        {8, 0.0, 0.0, NodeType::DEPOT, 0.0},     // lower case
        {9, 0.0, 0.0, NodeType::TARGET, 0.0},    // a trailing blank
        {10, 0.0, 0.0, NodeType::TARGET, 0.0}};  // any other text
    ASSERT_EQ(problem.nodes.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        const Node& node = problem.nodes[i];
        EXPECT_EQ(Read(node.id, node.position.y, node.position.z, node.type, node.demand),
                  expected[i]) << "node " << i;
    }
}

TEST(JsonLoader, ReadsCapacityAndMaxLengthAsWholeNumbers) {
    Problem problem = Load(R"({"nodes": [], "agents": [
        {"id": 0, "type": "a", "start_node": 0, "end_node": 1},
        {"id": 1, "type": "b", "start_node": 2, "end_node": 3, "capacity": 10.9, "max_length": 7.9},
        {"id": 2, "type": "a", "start_node": 0, "end_node": 0, "capacity": true,
         "max_length": 4294967301}]})");
    ASSERT_EQ(problem.agents_ordered.size(), 3u);
    EXPECT_EQ(problem.agents.at(0).capacity_limit, 0.0);  // absent
    EXPECT_EQ(problem.agents.at(0).time_limit, 0.0);
    EXPECT_EQ(problem.agents.at(1).capacity_limit, 10.0);  // truncated
    EXPECT_EQ(problem.agents.at(1).time_limit, 7.0);
    EXPECT_EQ(problem.agents.at(1).start_node, 2u);
    EXPECT_EQ(problem.agents.at(1).end_node, 3u);
    EXPECT_EQ(problem.agents.at(2).capacity_limit, 1.0);  // a boolean counts as 1
    EXPECT_EQ(problem.agents.at(2).time_limit, 5.0);      // cut to the low 32 bits
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

TEST(JsonLoader, LetsLaterConstraintItemsReplaceEarlierOnesAndSortsPrecedenceByExactType) {
    Problem problem = Load(WithEmptyLists(R"("constraints": [
        {"kind": "timewindow", "items": [{"node": 3, "start": 1, "end": 2}]},
        {"kind": "timewindow", "items": [{"node": 3, "start": 5, "end": 8.5}]},
        {"kind": "assignment", "items": [{"node": 1, "types": ["a"]},
                                         {"node": 1, "types": ["b", "c"]}]},
        {"kind": "capacity", "items": [{"node": 1}]}, {"kind": "assignment"},
        {"kind": "sequence", "precedence": [
            {"before": 1, "after": 2, "type": "same"}, {"before": 3, "after": 4, "type": "diff"},
            {"before": 5, "after": 6, "type": "SAME"}, {"before": 7, "after": 8}]}])"));
    EXPECT_EQ(problem.timewindow_constraint.windows.size(), 1u);
    EXPECT_EQ(problem.timewindow_constraint.windows.at(3), (std::pair<double, double>{5, 8.5}));
    EXPECT_EQ(problem.assignment_constraint.allowed_types.at(1),
              (std::vector<std::string>{"b", "c"}));
    using Pairs = std::vector<SequenceConstraint::NodePair>;
    EXPECT_EQ(problem.sequence_constraint.same_pairs, (Pairs{{1, 2}}));
    EXPECT_EQ(problem.sequence_constraint.diff_pairs, (Pairs{{3, 4}}));
    EXPECT_EQ(problem.sequence_constraint.precedence_pairs, (Pairs{{5, 6}, {7, 8}}));  // any other
}

TEST(JsonLoader, ReplacesConstraintRecordsEvenWithoutConstraints) {
    Problem problem;
    problem.timewindow_constraint.set_timewindow(1, 0, 1);
    load_problem_json(json::parse(WithEmptyLists("")), problem);
    EXPECT_TRUE(problem.timewindow_constraint.windows.empty());
}

TEST(JsonLoader, ReadsEachOptionOrItsDefaultAndOnlyTwoSpellingsSelectMinMax) {
    // (options member, return_to_end, objective is min-max, time limit)
    const std::vector<std::tuple<std::string, bool, bool, double>> cases = {
        {"", true, false, 60.0},  // no options at all
        {R"("options": {"return_to_end": false, "objective": "min_max", "time_limit": 2})",
         false, true, 2.0},  // every option given
        {R"("options": {"objective": "MIN_MAX"})", true, true, 60.0},    // upper case
        {R"("options": {"objective": "Min_Max"})", true, false, 60.0},   // mixed case is not it
        {R"("options": {"objective": "MinMax"})", true, false, 60.0}};  // nor the enum's name
    for (const auto& [member, return_to_end, min_max, time_limit] : cases) {
        const Options options = Load(WithEmptyLists(member)).options;
        EXPECT_EQ(options.return_to_end, return_to_end) << member;
        EXPECT_EQ(options.objective == ObjectiveType::MinMax, min_max) << member;
        EXPECT_EQ(options.time_limit, time_limit) << member;
    }
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

INSTANTIATE_TEST_SUITE_P(
    Documents, JsonLoaderErrors,
    ::testing::Values(
        // nodes missing
        BadDocument{"{}", "[json.exception.out_of_range.403] key 'nodes' not found"},
        // node without y
        BadDocument{R"({"nodes": [{"id": 0, "x": 0}], "agents": []})",
                    "[json.exception.out_of_range.403] key 'y' not found"},
        // boolean id: ids are numbers only
        BadDocument{R"({"nodes": [{"id": true, "x": 0, "y": 0}], "agents": []})",
                    "[json.exception.type_error.302] type must be number, but is boolean"},
        // agent without start_node
        BadDocument{R"({"nodes": [], "agents": [{"id": 0, "type": "a"}]})",
                    "[json.exception.out_of_range.403] key 'start_node' not found"},
        // capacity given as text
        BadDocument{R"({"nodes": [], "agents": [{"id": 0, "type": "a", "start_node": 0,
                        "end_node": 0, "capacity": "9"}]})",
                    "[json.exception.type_error.302] type must be number, but is string"},
        // a cost entry that is text
        BadDocument{R"({"nodes": [], "agents": [], "costs": {"a": [["1"]]}})",
                    "[json.exception.type_error.302] type must be number, but is string"},
        // time window without end
        BadDocument{R"({"nodes": [], "agents": [], "constraints": [{"kind": "timewindow",
                        "items": [{"node": 1, "start": 0}]}]})",
                    "[json.exception.out_of_range.403] key 'end' not found"},
        // options given as an array
        BadDocument{R"({"nodes": [], "agents": [], "options": []})",
                    "[json.exception.type_error.306] cannot use value() with array"},
        // return_to_end given as a number
        BadDocument{R"({"nodes": [], "agents": [], "options": {"return_to_end": 1}})",
                    "[json.exception.type_error.302] type must be boolean, but is number"}));

}  // namespace
}  // namespace tamrik
