#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "plugins/objectives.h"
#include "plugins/plugin_fixtures.h"

namespace tamrik {
namespace {

using test::MakeLabel;

TEST(DefaultObjective, NameIsTheClassName) {
    EXPECT_EQ(DefaultObjective().Name(), "DefaultObjective");
}

TEST(DefaultObjective, EvaluateIsTheLargestCost) {
    DefaultObjective objective;
    objective.Init({0, 1, 2});
    EXPECT_EQ(objective.Evaluate({3.0, 7.5, 7.5}), 7.5);
    EXPECT_EQ(objective.Evaluate({9.0, 7.5}), 9.0);
    EXPECT_EQ(objective.Evaluate({-2.0, -1.0}), -1.0);
    EXPECT_EQ(objective.Evaluate({}), 0.0);
}

TEST(DefaultObjective, SpreadsTheRemainingWorkOverTheUnfinishedAgents) {
    DefaultObjective objective;
    Label both = MakeLabel(3, {0, 0}, {4.0, 2.0}, {0, 0}, {});
    EXPECT_EQ(objective.EvaluateWithHeuristic(both, 2, 10.0), 8.0);  // (10 + 6) / 2
    EXPECT_EQ(objective.EvaluateWithHeuristic(both, 2, 0.0), 4.0);   // 3 < 4
    EXPECT_EQ(objective.EvaluateWithHeuristic(both, 2, 2.0), 4.0);   // 4 is not smaller
    Label first_done = MakeLabel(3, {0, 0}, {4.0, 2.0}, {1, 0}, {});
    EXPECT_EQ(objective.EvaluateWithHeuristic(first_done, 1, 1.0), 4.0);  // r = 3
    EXPECT_EQ(objective.EvaluateWithHeuristic(first_done, 1, 5.0), 7.0);  // r = 7
}

TEST(DefaultObjective, NoAgentLeftGivesThePlainMaximum) {
    DefaultObjective objective;
    Label label = MakeLabel(3, {0, 0}, {4.0, 2.0}, {1, 1}, {});
    EXPECT_EQ(objective.EvaluateWithHeuristic(label, 0, 1e9), 4.0);
    EXPECT_EQ(objective.EvaluateWithHeuristic(label, -1, 1e9), 4.0);
    Label nobody = MakeLabel(3, {}, {}, {}, {});
    EXPECT_EQ(objective.EvaluateWithHeuristic(nobody, 0, 5.0), 0.0);
}

TEST(DefaultObjective, DividesByTheGivenCountNotTheFlags) {
    DefaultObjective objective;
    Label label = MakeLabel(3, {0, 0, 0}, {1.0, 2.0, 3.0}, {0, 0, 0}, {});
    EXPECT_EQ(objective.EvaluateWithHeuristic(label, 4, 14.0), 5.0);  // (14 + 6) / 4
}

// g must come from Evaluate through the virtual interface.
class ConstantMax : public DefaultObjective {
public:
    double Evaluate(const std::vector<double>&) const override { return 100.0; }
};

class ConstantSum : public MinSumObjective {
public:
    double Evaluate(const std::vector<double>&) const override { return 100.0; }
};

TEST(DefaultObjective, UsesTheOverridingEvaluate) {
    ConstantMax objective;
    Label label = MakeLabel(3, {0, 0}, {4.0, 2.0}, {0, 0}, {});
    EXPECT_EQ(objective.EvaluateWithHeuristic(label, 2, 10.0), 100.0);
    EXPECT_EQ(objective.EvaluateWithHeuristic(label, 0, 10.0), 100.0);
    EXPECT_EQ(objective.EvaluateWithHeuristic(label, 2, 1000.0), 503.0);
}

TEST(MinSumObjective, NameIsTheClassName) {
    EXPECT_EQ(MinSumObjective().Name(), "MinSumObjective");
}

TEST(MinSumObjective, EvaluateIsTheSum) {
    MinSumObjective objective;
    objective.Init({});
    EXPECT_EQ(objective.Evaluate({3.0, 7.5}), 10.5);
    EXPECT_EQ(objective.Evaluate({}), 0.0);
    // In index order: (1e16 + 1) + 1 loses both ones, 1 + 1 + 1e16 does not.
    EXPECT_EQ(objective.Evaluate({1e16, 1.0, 1.0}), 1e16);
    EXPECT_EQ(objective.Evaluate({1.0, 1.0, 1e16}), 1e16 + 2.0);
}

TEST(MinSumObjective, EvaluateWithHeuristicAddsHAndIgnoresTheCount) {
    MinSumObjective objective;
    Label label = MakeLabel(3, {0, 0}, {4.0, 2.0}, {1, 0}, {});
    EXPECT_EQ(objective.EvaluateWithHeuristic(label, 2, 1.5), 7.5);
    EXPECT_EQ(objective.EvaluateWithHeuristic(label, 0, 1.5), 7.5);
    EXPECT_EQ(ConstantSum().EvaluateWithHeuristic(label, 1, 1.5), 101.5);
}

TEST(Objectives, WorkThroughTheInterface) {
    DefaultObjective max;
    MinSumObjective sum;
    const ObjectivePlugin* objectives[] = {&max, &sum};
    EXPECT_EQ(objectives[0]->Evaluate({1.0, 2.0}), 2.0);
    EXPECT_EQ(objectives[1]->Evaluate({1.0, 2.0}), 3.0);
}

}  // namespace
}  // namespace tamrik
