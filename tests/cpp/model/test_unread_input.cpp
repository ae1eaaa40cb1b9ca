#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "model/unread_input.h"

namespace tamrik {
namespace {

using Case = std::pair<const char*, std::vector<std::string>>;

class UnreadInput : public testing::TestWithParam<Case> {};

// Documents of odd shapes, which the loader itself may refuse later: the report only names
// what it can place and never fails on its own.
TEST_P(UnreadInput, NamesWhatItCanPlaceInDocumentsOfAnyShape) {
    std::vector<std::string> warnings;
    report_unread_input(nlohmann::json::parse(GetParam().first), warnings);
    EXPECT_EQ(warnings, GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, UnreadInput,
    testing::Values(
        Case{"[1, 2]", {}},
        Case{R"({"nodes": 3, "agents": null, "options": [], "metrics": 1})", {}},
        Case{R"({"nodes": [1, {"id": 0, "xx": 1}]})",
             {"unknown key 'xx' in nodes[1] is ignored"}},  // too short to guess
        Case{R"({"nodes": {"b": {"X": 1}}})",  // an object in place of the list
             {"unknown key 'X' in nodes[0] is ignored; did you mean 'x'?"}},
        Case{R"({"constraints": {"c": {"kind": 3}, "d": {"kind": "x"}}})",
             {"constraints[1] is skipped: its kind 'x' is not known"}},
        Case{R"({"constraints": [null, {"kind": "sequence", "precedence": 5}]})", {}},
        Case{R"({"metrics": {"t": {"kind": "euclidean", "factr": 2}}})",
             {"unknown key 'factr' in metrics.t is ignored; did you mean 'factor'?"}},
        Case{R"({"initial_routes": [{"agent_id": 0, "node_ids": [], "pined": 1}]})",
             {"unknown key 'pined' in initial_routes[0] is ignored; did you mean 'pinned'?"}}));

TEST(ClosestKey, TakesTheNearestKnownKeyWithinTwoEditsOrOneThatContainsTheOther) {
    const std::vector<std::string_view> known{"start", "end", "windows", "x"};
    EXPECT_EQ(closest_key("strat", known), "start");     // two edits
    EXPECT_EQ(closest_key("ENDS", known), "end");        // case and one edit
    EXPECT_EQ(closest_key("time_windows", known), "windows");
    EXPECT_EQ(closest_key("y", known), "");              // one edit, but all of a short key
    EXPECT_EQ(closest_key("begin", known), "");
}

}  // namespace
}  // namespace tamrik
