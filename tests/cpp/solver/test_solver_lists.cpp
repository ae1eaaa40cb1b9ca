// The open list, frontiers and joint position index against plain containers; the focal list.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
#include <tuple>
#include <vector>

#include "solver/frontier.h"
#include "solver/joint_key_index.h"
#include "solver/open_list.h"

namespace tamrik {
namespace {

using Entry = OpenList::Entry;

// Every operation against two ordered sets, of the ordered and of the pending pairs. Few f values,
// on a grid of quarters, make ids decide ties and pairs land exactly on EraseAbove or AdmitUpTo.
TEST(OpenList, BehavesLikeAnOrderedSetOfPairsBesideASetOfPendingOnes) {
    std::mt19937 rng(7);
    auto uniform = [&](int hi) { return std::uniform_int_distribution<int>(0, hi)(rng); };
    OpenList list;
    std::set<Entry> ordered, pending;
    int64_t pending_id = 10000;  // above every id inserted directly: no pair equals another
    size_t largest = 0;
    auto contents = [&] { return std::vector<Entry>(list.begin(), list.end()); };
    for (int step = 0; step < 60000; ++step) {
        Entry entry{uniform(400) / 4.0, uniform(3000)};
        const int what = uniform(99);
        if (what < 50) {
            ASSERT_EQ(list.insert(entry), ordered.insert(entry).second);
        } else if (what < 62) {
            list.InsertPending({entry.first, pending_id});
            pending.insert({entry.first, pending_id++});
        } else if (what < 92) {
            auto present = ordered.lower_bound(entry);
            if (present != ordered.end()) entry = *present;  // mostly erase pairs that exist
            ASSERT_EQ(list.erase(entry), ordered.erase(entry));
        } else if (what < 95) {
            list.AdmitUpTo(entry.first);
            while (!pending.empty() && pending.begin()->first <= entry.first) {
                ordered.insert(pending.extract(pending.begin()));
            }
        } else if (what < 97) {
            const double limit = entry.first + 20.0;
            list.EraseAbove(limit);
            std::erase_if(ordered, [limit](const Entry& e) { return e.first > limit; });
            std::erase_if(pending, [limit](const Entry& e) { return e.first > limit; });
        } else {
            const auto it = list.upper_bound(entry);
            const auto want = ordered.upper_bound(entry);  // none: Entry{}, never an upper bound
            ASSERT_EQ(it == list.end() ? Entry{} : *it, want == ordered.end() ? Entry{} : *want);
        }
        ASSERT_EQ(list.size(), ordered.size() + pending.size()) << "step " << step;
        ASSERT_EQ(list.empty(), ordered.empty() && pending.empty());
        if (!list.empty()) {
            const Entry front = std::min(ordered.empty() ? *pending.begin() : *ordered.begin(),
                                         pending.empty() ? *ordered.begin() : *pending.begin());
            ASSERT_EQ(list.Front(), front) << "step " << step;
        }
        if (step % 500 == 499) {  // the last step too
            ASSERT_EQ(contents(), std::vector<Entry>(ordered.begin(), ordered.end()));
        }
        largest = std::max(largest, ordered.size());
    }
    EXPECT_GT(largest, 1000u);  // runs have been split many times
}

// Against a plain list and Dominates on labels set past their vertices as in a search, which
// leaves 0 to 4 words varying (the only ones a frontier compares), and a few breaking the rule.
TEST(Frontier, AnswersAsAPlainListWhateverWordsItsLabelsVaryIn) {
    std::mt19937 rng(5);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    bool seen_removal = false, seen_dominated = false;
    for (int vertices : {0, 40, 64, 100, 190, 256}) {
        Frontier frontier;
        std::vector<Label> plain;
        for (int step = 0; step < 400; ++step) {
            Label label;
            label.g = uniform(0, 20);
            label.costs = {1.0 * uniform(0, 9), 1.0 * uniform(0, 9)};
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

// Joint positions that pack into a number and ones that need their text key (more than eight
// agents, or a vertex outside 0 .. 255), looked up and stored as a map would.
TEST(JointKeyIndex, FindsTheNumberStoredForExactlyThatJointPosition) {
    std::mt19937 rng(3);
    auto pick = [&](int hi) { return std::uniform_int_distribution<int>(0, hi)(rng); };
    const std::vector<int64_t> values = {0, 1, 2, 3, 12, 30, 31, 255, 256, 312, -1};
    JointKeyIndex index;
    std::map<std::vector<int64_t>, uint64_t> reference;
    for (uint64_t step = 0; step < 20000; ++step) {
        std::vector<int64_t> positions(pick(9) < 8 ? 1 + pick(3) : 9 + pick(1));
        for (int64_t& p : positions) p = values[pick(10)];
        const uint64_t* found = index.Find(positions);
        const auto [stored, is_new] = reference.try_emplace(positions, step);
        ASSERT_EQ(found == nullptr, is_new) << step;
        ASSERT_EQ(found ? *found : step, stored->second) << step;
        if (is_new) index.Insert(positions, step);
    }
    EXPECT_GT(reference.size(), 2000u);  // many of both kinds: the packed table has grown
}

}  // namespace
}  // namespace tamrik
