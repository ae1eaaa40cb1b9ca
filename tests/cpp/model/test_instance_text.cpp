#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "model/instance_text.h"
#include "model/json_loader.h"

namespace tamrik {
namespace {

// What a load leaves behind: the matrices, or the error's message.
std::string Outcome(const std::string& text, bool while_parsing) {
    Problem problem;
    try {
        if (while_parsing) {
            load_problem_text(text, problem);
        } else {
            load_problem_json(nlohmann::json::parse(text), problem);
        }
    } catch (const std::exception& error) {
        return std::string("error: ") + error.what();
    }
    return nlohmann::json(problem.cost_matrices).dump();
}

class MatricesWhileParsing : public testing::TestWithParam<const char*> {};

TEST_P(MatricesWhileParsing, LoadTheSameMatricesOrRaiseTheSameErrorAsTheDocumentTree) {
    const std::string text = std::string(R"({"nodes": [], "agents": [], )") + GetParam() + "}";
    EXPECT_EQ(Outcome(text, true), Outcome(text, false));
}

INSTANTIATE_TEST_SUITE_P(
    Forms, MatricesWhileParsing,
    testing::Values(
        R"("costs": {"a": [[0, 1.5], [2, 0]], "b": [[0, 1e300], [18446744073709551615, -1]]})",
        R"("costs": [[[0, 1], [1, 0]], [[0, 2], [2, 0]]])",                 // names "0", "1"
        R"("costs": {"a": [[0, 1], [], [1, 0, 3]]})",                       // ragged rows
        R"("costs": {"a": [[0, 1]], "a": [[0, 9]]})",                       // the later one
        R"("costs": {"a": [[0, 1]]}, "options": {}, "costs": {"b": [[0, 2]]})",
        R"("costs": {"a": [[0, 1]]}, "costs": null)",
        R"("costs": {"a": [[0, "x"]]})",                                    // a string entry
        R"("costs": {"a": [[0, true]]})",                                   // a boolean entry
        R"("costs": {"a": [[0, [1]]]})",                                    // a nested list
        R"("costs": {"a": [{"0": 0}]})",                                    // an object row
        R"("costs": {"a": [3]})",                                           // a number row
        R"("costs": {"a": {"r": [0, 1]}})",                                 // an object matrix
        R"("costs": {"a": 7})",                                             // no matrix at all
        R"("costs": {"a": [[0, 1]], "b": null})",
        R"("metrics": {"a": {"kind": "euclidean", "costs": [[0, 1]]}})"));  // not a matrix

TEST(MatricesWhileParsing, LeaveParseErrorsAsTheyAre) {
    const std::string text = R"({"nodes": [], "agents": [], "costs": {"a": [[0, 1],]}})";
    EXPECT_EQ(Outcome(text, true), Outcome(text, false));
    EXPECT_NE(Outcome(text, true).find("parse_error"), std::string::npos);
}

}  // namespace
}  // namespace tamrik
