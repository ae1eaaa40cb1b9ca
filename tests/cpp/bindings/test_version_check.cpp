#include <gtest/gtest.h>

#include "bindings/version_check.h"

namespace tamrik {
namespace {

struct VersionCase {
    const char* running;
    bool accepted;
};

class PythonVersionCheck : public ::testing::TestWithParam<VersionCase> {};

TEST_P(PythonVersionCheck, AcceptsOnlyThe312Release) {
    EXPECT_EQ(PythonVersionMatches(GetParam().running, "3.12"), GetParam().accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, PythonVersionCheck,
    ::testing::Values(VersionCase{"3.12.1", true},    // a patch release
                      VersionCase{"3.12", true},      // the bare release, nothing after it
                      VersionCase{"3.12.1 (main, Dec 7 2026) [GCC 12.2.0]", true},  // full banner
                      VersionCase{"3.120.0", false},  // a digit right after the prefix
                      VersionCase{"3.11.7", false},   // older interpreter
                      VersionCase{"3.13.0", false},   // newer interpreter
                      VersionCase{"3.1", false},      // shorter than the prefix
                      VersionCase{"", false}));       // empty version string

}  // namespace
}  // namespace tamrik
