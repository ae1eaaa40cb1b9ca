#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "solver/frontier.h"

namespace tamrik {
namespace {

Label MakeLabel(double g, std::vector<double> costs, std::vector<int64_t> visited_vertices) {
    Label label;
    label.g = g;
    label.costs = std::move(costs);
    for (int64_t v : visited_vertices) SetBit(label.visited, v);
    return label;
}

TEST(Dominance, IsReflexive) {
    Label label = MakeLabel(3.0, {1.0, 3.0}, {0, 5, 255});
    EXPECT_TRUE(Dominates(label, label));
}

TEST(Dominance, NeedsNoLargerGAndNoLargerCostAndASupersetOfVisits) {
    Label base = MakeLabel(5.0, {5.0, 2.0}, {0, 1});
    // larger g but smaller costs: not dominated either way round
    Label larger_g = MakeLabel(6.0, {4.0, 1.0}, {0, 1});
    EXPECT_FALSE(Dominates(base, larger_g));
    EXPECT_FALSE(Dominates(larger_g, base));
    // a strict superset of visits with equal costs dominates and is not dominated
    Label more_visits = MakeLabel(5.0, {5.0, 2.0}, {0, 1, 200});
    EXPECT_TRUE(Dominates(more_visits, base));
    EXPECT_FALSE(Dominates(base, more_visits));
    // one agent's cost higher is enough to lose dominance
    Label costlier = MakeLabel(5.0, {5.0, 2.5}, {0, 1, 200});
    EXPECT_FALSE(Dominates(costlier, base));
}

TEST(Dominance, ComparesEveryWordOfTheVisitedSet) {
    for (int64_t v : {63, 64, 127, 128, 255}) {
        Label with = MakeLabel(1.0, {1.0}, {v});
        Label without = MakeLabel(1.0, {1.0}, {});
        EXPECT_TRUE(Dominates(with, without)) << v;
        EXPECT_FALSE(Dominates(without, with)) << v;
    }
}

TEST(JointPositionKey, JoinsVerticesWithUnderscores) {
    std::string key = "stale contents";
    JointPositionKey({3, 0, 12}, key);
    EXPECT_EQ(key, "3_0_12_");
    JointPositionKey({-1}, key);
    EXPECT_EQ(key, "-1_");
}

TEST(Frontier, InsertRemovesEveryLabelTheNewOneDominates) {
    Frontier frontier;
    frontier.Insert(MakeLabel(3.0, {3.0}, {1}));
    frontier.Insert(MakeLabel(4.0, {4.0}, {2}));
    frontier.Insert(MakeLabel(5.0, {5.0}, {}));
    EXPECT_EQ(frontier.Insert(MakeLabel(1.0, {1.0}, {1, 2})), 3u);
    ASSERT_EQ(frontier.Size(), 1u);
    EXPECT_EQ(frontier.StoredLabel(0).g, 1.0);
}

TEST(Frontier, KeepsTheLabelsTheNewcomerDoesNotDominate) {
    Frontier frontier;
    frontier.Insert(MakeLabel(1.0, {9.0}, {1}));   // A: dominated by the newcomer
    frontier.Insert(MakeLabel(0.0, {0.0}, {7}));   // B: smaller g, survives
    frontier.Insert(MakeLabel(2.0, {0.5}, {8}));   // C: larger g, cheaper, survives
    frontier.Insert(MakeLabel(1.0, {10.0}, {1, 9}));  // D: equal g, serves more, survives
    EXPECT_EQ(frontier.Insert(MakeLabel(1.0, {1.0}, {1})), 1u);
    // Stored by ascending g, a newcomer after the labels of equal g.
    std::vector<std::pair<double, double>> stored;
    for (size_t k = 0; k < frontier.Size(); ++k) {
        stored.emplace_back(frontier.StoredLabel(k).g, frontier.StoredLabel(k).costs[0]);
    }
    using Stored = std::vector<std::pair<double, double>>;
    EXPECT_EQ(stored, (Stored{{0.0, 0.0}, {1.0, 10.0}, {1.0, 1.0}, {2.0, 0.5}}));
    EXPECT_TRUE(frontier.Contains(MakeLabel(2.0, {10.0}, {9})));  // only D covers this
    EXPECT_FALSE(frontier.Contains(MakeLabel(0.5, {9.0}, {1})));  // A would have
}

TEST(Frontier, ContainsFindsAnyStoredDominatingLabel) {
    Frontier frontier;
    EXPECT_FALSE(frontier.Contains(MakeLabel(0.0, {0.0}, {})));
    frontier.Insert(MakeLabel(2.0, {2.0}, {4}));
    EXPECT_TRUE(frontier.Contains(MakeLabel(2.0, {2.0}, {4})));
    EXPECT_TRUE(frontier.Contains(MakeLabel(3.0, {2.5}, {})));
    EXPECT_FALSE(frontier.Contains(MakeLabel(1.0, {1.0}, {4})));
}

// Search labels have every visited bit past the graph's vertices set; a frontier compares
// only the words where its labels differ. Replayed against a plain list and Dominates, with
// vertex counts that leave 0 to 4 words varying and a few labels breaking the pattern late.
TEST(Frontier, AnswersAsAPlainListWhateverWordsItsLabelsVaryIn) {
    std::mt19937 rng(5);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    bool seen_removal = false, seen_dominated = false;
    for (int vertices : {0, 40, 64, 100, 190, 256}) {
        Frontier frontier;
        std::vector<Label> plain;
        for (int step = 0; step < 400; ++step) {
            Label label = MakeLabel(uniform(0, 20), {1.0 * uniform(0, 9), 1.0 * uniform(0, 9)}, {});
            for (int v = 0; v < 256; ++v) {  // a few vertices in every word vary
                if (v >= vertices || v % 37 != 0 || uniform(0, 1) == 1) SetBit(label.visited, v);
            }
            if (step > 300 && uniform(0, 9) == 0) ClearBit(label.visited, 255);  // breaks it
            bool dominated = false;
            for (const Label& stored : plain) dominated = dominated || Dominates(stored, label);
            ASSERT_EQ(frontier.Contains(label), dominated) << vertices << " step " << step;
            if (step % 3 != 0) continue;
            std::erase_if(plain, [&](const Label& stored) { return Dominates(label, stored); });
            const size_t before = frontier.Size();
            const uint32_t removed = frontier.Insert(label);
            plain.push_back(label);
            ASSERT_EQ(frontier.Size(), plain.size());
            ASSERT_EQ(before + 1 - removed, plain.size());
            seen_removal = seen_removal || removed > 0;
            seen_dominated = seen_dominated || dominated;
        }
    }
    EXPECT_TRUE(seen_removal && seen_dominated);  // both answers were exercised
}

}  // namespace
}  // namespace tamrik
