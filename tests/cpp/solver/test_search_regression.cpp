// Whole searches compared with answers recorded from an earlier build: the final routes and
// their costs, which the search's rules fix, must match exactly (equal doubles). Searches that
// end on their own (open list exhausted or all phases used) are deterministic, so any
// difference is a change of behaviour; how many labels they take to get there is free to
// change. Set PLOXA_WRITE_GOLDEN=1 to record the answers anew.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include <nlohmann/json.hpp>

#include "solver/solver_probe.h"
#include "support/random_instance.h"

namespace tamrik {
namespace {

using nlohmann::json;
using testing::InstanceShape;
using testing::RandomInstance;

const char* kGoldenFile = PLOXA_TEST_DATA_DIR "/golden/search_regression.json";

json RoutesOf(const Result& result) {
    json routes = json::object();
    for (const auto& [agent, path] : result.paths) routes["paths"][std::to_string(agent)] = path;
    for (const auto& [agent, cost] : result.times) routes["times"][std::to_string(agent)] = cost;
    return routes;
}

json Record(const Problem& problem) {
    Options options = problem.options;
    options.time_limit = 30.0;
    Solver solver(problem, options);
    const int32_t status = testing::SolveQuietly(solver).status;
    Result result = solver.GetResult();
    json record = RoutesOf(result);
    record["status"] = status;
    record["timeout"] = result.timeout;
    return record;
}

std::vector<std::pair<std::string, Problem>> Instances() {
    std::vector<std::pair<std::string, Problem>> instances;
    // Small instances of every shape whose searches end on their own; cost-limited min-max
    // ones among them that run until their budget are left out.
    for (unsigned seed = 1; seed <= 36; ++seed) {
        if (seed % 6 == 5 && seed % 2 == 1 && seed != 17) continue;
        InstanceShape shape;
        shape.nodes = 7 + seed % 6;
        shape.agents = 1 + seed % 3;
        shape.shared_depot = seed % 4 != 0;
        shape.open_routes = seed % 5 == 2;
        shape.two_types = shape.agents >= 2 && seed % 3 == 1;
        shape.time_windows = seed % 4 == 1;
        shape.cost_limits = seed % 6 == 5;
        shape.objective = seed % 2 == 0 ? ObjectiveType::MinSum : ObjectiveType::MinMax;
        shape.return_to_end = seed % 7 != 3;
        instances.emplace_back("instance-" + std::to_string(seed), RandomInstance(shape, seed));
    }
    // Larger min-max searches of tens of thousands of labels that still end on their own.
    for (unsigned seed : {40u, 42u, 44u, 45u, 48u, 52u}) {
        InstanceShape shape;
        shape.nodes = 11 + seed % 4;
        shape.agents = 2 + seed % 2;
        shape.time_windows = seed % 3 == 0;
        shape.two_types = seed % 5 == 0;
        shape.objective = ObjectiveType::MinMax;
        instances.emplace_back("instance-" + std::to_string(seed), RandomInstance(shape, seed));
    }
    return instances;
}

TEST(SearchRegression, AnswersMatchTheRecordedOnesExactly) {
    json current = json::object();
    for (const auto& [name, problem] : Instances()) {
        current[name] = Record(problem);
        ASSERT_FALSE(current[name]["timeout"].get<bool>()) << name << " hit its time limit";
    }
    if (std::getenv("PLOXA_WRITE_GOLDEN") != nullptr) {
        std::ofstream(kGoldenFile) << current.dump(1) << "\n";
        GTEST_SKIP() << "recorded " << kGoldenFile;
    }
    std::ifstream in(kGoldenFile);
    ASSERT_TRUE(in) << "missing " << kGoldenFile;
    json golden = json::parse(in);
    ASSERT_EQ(golden.size(), current.size());
    for (const auto& [name, record] : golden.items()) {
        EXPECT_EQ(current[name], record) << name << " differs:\n"
                                         << json::diff(record, current[name]).dump(1);
    }
}

}  // namespace
}  // namespace tamrik
