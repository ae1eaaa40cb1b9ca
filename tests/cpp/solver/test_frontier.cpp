#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
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

TEST(Dominance, NeedsNoLargerGNoLargerCostAndEveryVertexTheOtherVisited) {
    struct Case {
        Label a, b;
        bool a_dominates_b, b_dominates_a;
    };
    const Label base = MakeLabel(5.0, {5.0, 2.0}, {0, 1});
    std::vector<Case> cases = {
        {base, base, true, true},                                        // an exact copy
        {MakeLabel(6.0, {4.0, 1.0}, {0, 1}), base, false, false},        // larger g, cheaper
        {MakeLabel(5.0, {5.0, 2.0}, {0, 1, 200}), base, true, false},    // strictly more visits
        {MakeLabel(5.0, {5.0, 2.5}, {0, 1, 200}), base, false, false},   // one cost higher
    };
    for (int64_t v : {63, 64, 127, 128, 255}) {  // a visit in any word of the set counts
        cases.push_back({MakeLabel(1.0, {1.0}, {v}), MakeLabel(1.0, {1.0}, {}), true, false});
    }
    for (size_t k = 0; k < cases.size(); ++k) {
        EXPECT_EQ(Dominates(cases[k].a, cases[k].b), cases[k].a_dominates_b) << "case " << k;
        EXPECT_EQ(Dominates(cases[k].b, cases[k].a), cases[k].b_dominates_a) << "case " << k;
    }
}

TEST(JointPositionKey, GivesEveryJointPositionItsOwnKeyWhateverTheBufferHeld) {
    const std::vector<std::vector<int64_t>> positions = {
        {3, 0, 12}, {30, 12}, {3, 1, 2}, {31, 2}, {312}, {-1}, {1}, {1, 1}, {11}};
    std::set<std::string> keys;
    for (const auto& joint : positions) {
        std::string key = "stale contents", again;
        JointPositionKey(joint, key);
        JointPositionKey(joint, again);
        EXPECT_EQ(key, again);
        keys.insert(key);
    }
    EXPECT_EQ(keys.size(), positions.size());
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
