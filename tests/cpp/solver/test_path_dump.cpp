#include <gtest/gtest.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "solver/path_dump.h"

namespace tamrik {
namespace {

namespace fs = std::filesystem;

// The dump of `result` as instance "three", written in a fresh temporary working directory,
// without its white space.
std::string DumpText(Result& result) {
    const fs::path previous = fs::current_path();
    const fs::path directory =
        fs::temp_directory_path() / ("ploxa-dump-" + std::to_string(::getpid()));
    fs::remove_all(directory);
    fs::create_directories(directory);
    fs::current_path(directory);
    ::testing::internal::CaptureStdout();
    WritePathDumpFile("three", {0, 5}, {0, 6}, 3, 1.0, result);
    ::testing::internal::GetCapturedStdout();
    std::stringstream text;
    text << std::ifstream("paths/paths_astar/three_astar.json").rdbuf();
    fs::current_path(previous);
    fs::remove_all(directory);
    std::string compact = text.str();
    std::erase_if(compact, [](unsigned char c) { return std::isspace(c); });
    return compact;
}

TEST(PathDump, WritesItsKeysInOrderAndEachRouteWithoutItsLastNode) {
    Result result;
    for (int64_t a = 0; a < 3; ++a) {
        result.paths[a] = {a, a + 100, 0};
        result.times[a] = 0.5 * static_cast<double>(a);
    }
    EXPECT_EQ(DumpText(result),
              R"({"goals":[0,6],"max_path_length":1.0,"num_agents":3,"paths":{"0":[0,100],)"
              R"("1":[1,101],"2":[2,102]},"starts":[0,5],"total_costs":[0.0,0.5,1.0]})");
}

}  // namespace
}  // namespace tamrik
