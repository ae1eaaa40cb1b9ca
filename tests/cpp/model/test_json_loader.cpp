#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/json_fields.h"
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
    return R"({"nodes": [], "agents": [], )" + members + "}";
}

TEST(JsonLoader, ReadsNodesAndAgentLimitsWithDefaultsForOptionalKeys) {
    Problem problem = Load(R"({"nodes": [
        {"id": 4, "x": 1.5, "y": -2, "z": 3, "type": "DEPOT", "demand": 2.5},
        {"id": 7.0, "x": 0, "y": 0}, {"id": 8, "x": 0, "y": 0, "type": "depot"},
        {"id": 9, "x": 0, "y": 0, "type": "Depot "}], "agents": [
        {"id": 0, "type": "a", "start_node": 0, "end_node": 1}, {"id": 1, "type": "b",
         "start_node": 2, "end_node": 3, "capacity": 10.0, "max_length": true}]})");
    // (id, x, y, z, type, demand) read from each node
    using Read = std::tuple<uint64_t, double, double, double, NodeType, double>;
    const std::vector<Read> nodes = {
        {4, 1.5, -2.0, 3.0, NodeType::DEPOT, 2.5},   // every key given
        {7, 0.0, 0.0, 0.0, NodeType::TARGET, 0.0},   // a whole floating id; the defaults
        {8, 0.0, 0.0, 0.0, NodeType::DEPOT, 0.0},    // lower case
        {9, 0.0, 0.0, 0.0, NodeType::TARGET, 0.0}};  // anything else, even with a blank
    std::vector<Read> read;
    for (const Node& n : problem.nodes) {
        read.emplace_back(n.id, n.position.x, n.position.y, n.position.z, n.type, n.demand);
    }
    EXPECT_EQ(read, nodes);
    // (capacity, max_length) of each agent: absent, then a whole float and a boolean
    std::vector<std::pair<double, double>> got;
    for (const Agent& a : problem.agents_ordered) got.emplace_back(a.capacity_limit, a.time_limit);
    EXPECT_EQ(got, (std::vector<std::pair<double, double>>{{0, 0}, {10, 1}}));
}

TEST(JsonLoader, StoresCostMatricesGivenAsAnArrayUnderTheirPositions) {
    EXPECT_EQ(Load(WithEmptyLists(R"("costs": [[[1]], [[2, 3]]])")).cost_matrices,
              (decltype(Problem::cost_matrices){{"0", {{1}}}, {"1", {{2, 3}}}}));
}

TEST(JsonLoader, LetsLaterConstraintItemsReplaceEarlierOnesAndSortsPrecedenceByExactType) {
    Problem problem = Load(WithEmptyLists(R"("constraints": [
        {"kind": "timewindow", "items": [{"node": 3, "start": 1, "end": 2},
                                         {"node": 4, "start": 0, "end": 1}]},
        {"kind": "timewindow", "items": [{"node": 3, "start": 5, "end": 8.5}]},
        {"kind": "assignment", "items": [{"node": 1, "types": ["a"]},
                                         {"node": 1, "types": ["b", "c"]}]},
        {"kind": "capacity", "items": [{"node": 1}]}, {"kind": "assignment"},
        {"kind": "sequence", "precedence": [
            {"before": 1, "after": 2, "type": "same"}, {"before": 3, "after": 4, "type": "diff"},
            {"before": 5, "after": 6, "type": "SAME"}, {"before": 7, "after": 8}]}])"));
    using Windows = decltype(problem.timewindow_constraint.windows);
    EXPECT_EQ(problem.timewindow_constraint.windows, (Windows{{3, {5, 8.5}}, {4, {0, 1}}}));
    EXPECT_EQ(problem.assignment_constraint.allowed_types.at(1),
              (std::vector<std::string>{"b", "c"}));
    using Pairs = std::vector<SequenceConstraint::NodePair>;
    EXPECT_EQ(problem.sequence_constraint.same_pairs, (Pairs{{1, 2}}));
    EXPECT_EQ(problem.sequence_constraint.diff_pairs, (Pairs{{3, 4}}));
    EXPECT_EQ(problem.sequence_constraint.precedence_pairs, (Pairs{{5, 6}, {7, 8}}));  // any other
}

auto AllFields(const Options& o) {
    return std::tuple(o.return_to_end, o.objective, o.time_limit, o.improve, o.seed,
                      o.max_iterations, o.stop_when_stalled);
}

TEST(JsonLoader, ReadsEveryOptionDefaultsToTheRecordsOwnAndTakesTwoSpellingsOfMinMax) {
    // (options, what is read)
    const std::vector<std::pair<std::string, Options>> cases = {
        {"{}", Options{}},  // the defaults of the record itself
        {R"({"objective": "MIN_MAX"})",  // the upper case spelling too
         Options{.objective = ObjectiveType::MinMax}},
        {R"({"objective": "Min_Max"})", Options{}},  // no other spelling
        {R"({"return_to_end": false, "objective": "min_max", "time_limit": 2, "improve": true,
            "seed": 18446744073709551615, "max_iterations": 7, "stop_when_stalled": false})",
         Options{false, ObjectiveType::MinMax, 2.0, true, UINT64_MAX, 7, false}}};  // all given
    for (const auto& [options, read] : cases) {
        const Options got = Load(WithEmptyLists(R"("options": )" + options)).options;
        EXPECT_EQ(AllFields(got), AllFields(read)) << options;
    }
}

// The kind and message of the error loading the document throws.
std::string ErrorOf(const std::string& document) {
    try { Load(document); }
    catch (const json::exception& e) { return std::string("json: ") + e.what(); }
    catch (const InputError& e) { return std::string("input: ") + e.what(); }
    return "no error";
}

TEST(JsonLoader, RefusesABadDocumentWithTheErrorOfItsKind) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        // a required key missing, a misspelt one named
        {"{}", "input: nodes is missing"},
        {R"({"nodes": [], "agents": [{"id": 0, "type": "a", "start_nod": 0}]})",
         "input: agents[0].start_node is missing ('start_nod' is there instead)"},
        // a value of the wrong type: ids are numbers only, never booleans
        {R"({"nodes": [{"id": true, "x": 0, "y": 0}], "agents": []})",
         "input: nodes[0].id must be a whole number from 0 to 2^64 - 1, not true"},
        {R"({"nodes": [{"id": 0, "x": 0, "y": 0, "service": "10"}], "agents": []})",
         "input: nodes[0].service must be a finite number, not \"10\""},
        // fractions where whole numbers are meant
        {R"({"nodes": [], "agents": [{"id": 0, "type": "a", "start_node": 1.7, "end_node": 0}]})",
         "input: agents[0].start_node must be a whole number from 0 to 2^64 - 1, not 1.7"},
        {R"({"nodes": [], "agents": [{"id": 0, "type": "a", "start_node": 0, "end_node": 0,
            "max_stops": 1.5}]})",
         "input: agents[0].max_stops must be a whole number within the signed 32-bit range, not 1.5"},
        // deep paths
        {WithEmptyLists(R"("constraints": [{"kind": "timewindow",
            "items": [{"node": 0, "windows": [[0, "9"]]}]}])"),
         "input: constraints[0].items[0].windows[0][1] must be a finite number, not \"9\""},
        {WithEmptyLists(R"("costs": {"a": [[0, 1], [1, null]]})"),
         "input: costs.a[1][1] must be a finite number, not null"},
        // options that are no object, and a count below 0
        {WithEmptyLists(R"("options": [])"), "input: options must be an object, not []"},
        {WithEmptyLists(R"("options": {"improve": "yes"})"),
         "input: options.improve must be true or false, not \"yes\""},
        {WithEmptyLists(R"("options": {"seed": -1})"),
         "input: options.seed must be a whole number from 0 to 2^64 - 1, not -1"}};
    for (const auto& [document, error] : cases) EXPECT_EQ(ErrorOf(document), error) << document;
}

}  // namespace
}  // namespace tamrik
