#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "solver/path_dump.h"
#include "solver/solver_probe.h"

namespace tamrik {
namespace {

namespace fs = std::filesystem;

// Runs each test in a fresh temporary working directory.
class PathDump : public ::testing::Test {
protected:
    void SetUp() override {
        previous = fs::current_path();
        directory = fs::temp_directory_path() /
                    ("ploxa-dump-" + std::to_string(::getpid()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(directory);
        fs::create_directories(directory);
        fs::current_path(directory);
    }
    void TearDown() override {
        fs::current_path(previous);
        fs::remove_all(directory);
    }
    static std::string Read(const std::string& name) {
        std::ifstream in(name);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    fs::path previous;
    fs::path directory;
};

TEST_F(PathDump, ListsCostsInAgentOrderAndDropsEachRoutesLastNode) {
    Result result;
    for (int64_t a = 2; a >= 0; --a) {
        result.paths[a] = {a, a + 100, 0};
        result.times[a] = 0.5 * static_cast<double>(a);
    }
    ::testing::internal::CaptureStdout();
    WritePathDumpFile("three", {0}, {0}, 3, 1.0, result);
    ::testing::internal::GetCapturedStdout();
    const std::string text = Read("paths/paths_astar/three_astar.json");
    EXPECT_NE(text.find("\"2\": [\n      2,\n      102\n    ]"), std::string::npos) << text;
    EXPECT_NE(text.find("\"total_costs\": [\n    0.0,\n    0.5,\n    1.0\n  ]"),
              std::string::npos)
        << text;
}

TEST_F(PathDump, InitializeSolvesAndDumpsTheNamedInstance) {
    Problem problem;
    for (uint64_t id = 0; id < 3; ++id) {
        Node node;
        node.id = id;
        problem.add_node(node);
    }
    Agent agent;
    agent.type = "car";
    problem.add_agent(agent, 0);
    problem.set_cost_matrix("car", {{0, 1, 2}, {1, 0, 3}, {2, 3, 0}});
    AssignmentConstraint everyone;
    for (uint64_t id = 0; id < 3; ++id) everyone.set_assignment(id, {"car"});
    problem.set_assignment_constraint(everyone);
    testing::SolverProbe solver(problem, Options{});
    std::vector<PointRecord> points = solver.points;
    ::testing::internal::CaptureStdout();
    int32_t status = solver.Initialize(solver.graph, points, solver.agents, {0}, {0}, "tiny", 5.0);
    std::string printed = ::testing::internal::GetCapturedStdout();
    ASSERT_EQ(status, 1);
    EXPECT_NE(printed.find("Saved to paths/paths_astar/tiny_astar.json\n"), std::string::npos);
    // Without a return obligation the leg back to the depot is free: 0 -> 1 -> 2 costs 4.
    EXPECT_EQ(Read("paths/paths_astar/tiny_astar.json"),
              "{\n  \"goals\": [\n    0\n  ],\n  \"max_path_length\": 4.0,\n"
              "  \"num_agents\": 1,\n  \"paths\": {\n    \"0\": [\n      0,\n      1,\n      2\n"
              "    ]\n  },\n  \"starts\": [\n    0\n  ],\n  \"total_costs\": [\n    4.0\n  ]\n}\n");
}

}  // namespace
}  // namespace tamrik
