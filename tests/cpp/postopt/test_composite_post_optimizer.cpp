// Part 5.3: CompositePostOptimizer.

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "postopt/composite_post_optimizer.h"
#include "postopt/default_post_optimizer.h"
#include "postopt/postopt_test_support.h"
#include "postopt/route_merging_post_optimizer.h"

namespace tamrik {
namespace {

using namespace postopt_test;
using Log = std::vector<std::string>;

// Records every call in a shared log; Optimize appends its tag's length to path 0 and notes
// the length it found.
class SpyOptimizer : public PostOptimizerPlugin {
public:
    SpyOptimizer(std::string tag, Log& log) : tag(std::move(tag)), log(log) {}
    ~SpyOptimizer() override { log.push_back("~" + tag); }
    std::string Name() const override { return "Spy"; }
    void Optimize(const PlannerGraph*, const std::vector<PointRecord>&,
                  const std::vector<AgentRecord>&, Result& result) override {
        log.push_back(tag + ":Optimize saw " + std::to_string(result.paths[0].size()));
        result.paths[0].push_back(static_cast<int64_t>(tag.size()));
    }
    void SetReturnToEnd(bool value) override {
        log.push_back(tag + ":SetReturnToEnd " + std::to_string(value));
    }
    void SetStartNodes(const std::vector<int64_t>& nodes) override {
        log.push_back(tag + ":SetStartNodes " + std::to_string(nodes.size()));
    }
    void SetEndNodes(const std::vector<int64_t>& nodes) override {
        log.push_back(tag + ":SetEndNodes " + std::to_string(nodes.size()));
    }
    bool SetTimeWindows(const TimeWindowMap& windows) override {
        log.push_back(tag + ":SetTimeWindows " + std::to_string(windows.size()));
        return false;  // not collected by the composite
    }

private:
    std::string tag;
    Log& log;
};

TEST(CompositePostOptimizer, NameIsItsClassName) {
    EXPECT_EQ(CompositePostOptimizer().Name(), "CompositePostOptimizer");
}

TEST(CompositePostOptimizer, WithoutMembersEveryOperationDoesNothing) {
    CompositePostOptimizer composite;
    composite.SetReturnToEnd(true);
    composite.SetStartNodes({0});
    composite.SetEndNodes({0});
    EXPECT_TRUE(composite.SetTimeWindows({{1, {0.0, 5.0}}}));
    EXPECT_FALSE(composite.SetTimeWindows({}));
    Result result;
    result.paths[0] = {0, 3, 0};
    result.times[0] = 7.0;
    composite.Optimize(nullptr, {}, {}, result);
    EXPECT_EQ(result.paths.size(), 1u);
    EXPECT_EQ(result.paths.at(0), (Path{0, 3, 0}));
    EXPECT_EQ(result.times.at(0), 7.0);
}

TEST(CompositePostOptimizer, ForwardsInOrderAndEachMemberSeesThePreviousResult) {
    Log log;
    {
        CompositePostOptimizer composite;
        composite.AddMember(std::make_unique<SpyOptimizer>("A", log));
        composite.AddMember(std::make_unique<SpyOptimizer>("BB", log));
        EXPECT_EQ(composite.NumMembers(), 2u);
        composite.SetReturnToEnd(true);
        composite.SetStartNodes({0, 1});
        composite.SetEndNodes({2, 3, 4});
        EXPECT_TRUE(composite.SetTimeWindows({{1, {0.0, 5.0}}}));
        Result result;
        composite.Optimize(nullptr, {}, {}, result);
        EXPECT_EQ(result.paths.at(0), (Path{1, 2}));
    }
    EXPECT_EQ(log, (Log{"A:SetReturnToEnd 1", "BB:SetReturnToEnd 1", "A:SetStartNodes 2",
                        "BB:SetStartNodes 2", "A:SetEndNodes 3", "BB:SetEndNodes 3",
                        "A:SetTimeWindows 1", "BB:SetTimeWindows 1", "A:Optimize saw 0",
                        "BB:Optimize saw 1", "~A", "~BB"}));
}

TEST(CompositePostOptimizer, ConfigurationReachesOnlyTheMembersPresentAtTheCall) {
    Log log;
    CompositePostOptimizer composite;
    composite.SetReturnToEnd(true);
    composite.AddMember(std::make_unique<SpyOptimizer>("A", log));
    composite.SetStartNodes({0});
    composite.AddMember(std::make_unique<SpyOptimizer>("B", log));
    composite.SetEndNodes({0});
    composite.AddMember(nullptr);  // ignored
    EXPECT_EQ(composite.NumMembers(), 2u);
    EXPECT_EQ(log, (Log{"A:SetStartNodes 1", "A:SetEndNodes 1", "B:SetEndNodes 1"}));
}

TEST(CompositePostOptimizer, DestroysItsMembersInListOrder) {
    Log log;
    auto composite = std::make_unique<CompositePostOptimizer>();
    for (const char* tag : {"first", "second", "third"}) {
        composite->AddMember(std::make_unique<SpyOptimizer>(tag, log));
    }
    std::unique_ptr<PostOptimizerPlugin> as_plugin = std::move(composite);
    as_plugin.reset();  // through the virtual destructor
    EXPECT_EQ(log, (Log{"~first", "~second", "~third"}));
}

TEST(CompositePostOptimizer, StandardCompositionIsMergingAppliedToTheInGroupOutput) {
    std::mt19937_64 random(11);
    for (int trial = 0; trial < 20; ++trial) {
        const size_t n = 12;
        std::vector<std::pair<double, double>> coords;
        for (size_t i = 0; i < n; ++i) {
            coords.emplace_back(static_cast<double>(random() % 100),
                                static_cast<double>(random() % 100));
        }
        Instance in;
        BuildGraph(in, {EuclideanMatrix(coords)});
        AddPoints(in, n);
        for (int k = 0; k < 3; ++k) AddAgent(in, 0, 0);
        in.return_to_end = true;
        std::vector<Path> paths(3, Path{0});
        for (int64_t v = 1; v < static_cast<int64_t>(n); ++v) {
            paths[random() % 3].push_back(v);
        }
        for (Path& path : paths) path.push_back(0);
        const Result before = MakeResult(in, paths);

        CompositePostOptimizer composite;
        composite.AddMember(std::make_unique<DefaultPostOptimizer>());
        composite.AddMember(std::make_unique<RouteMergingPostOptimizer>());
        Result together = before;
        RunOptimizer(composite, in, together);

        DefaultPostOptimizer in_group;
        RouteMergingPostOptimizer merging;
        Result apart = before;
        RunOptimizer(in_group, in, apart);
        RunOptimizer(merging, in, apart);
        EXPECT_EQ(together.paths, apart.paths);
        EXPECT_EQ(together.times, apart.times);
        ExpectSoundSolution(in, before, together, "composite trial " + std::to_string(trial));
    }
}

}  // namespace
}  // namespace tamrik
