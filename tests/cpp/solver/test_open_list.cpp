#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <set>
#include <vector>

#include "solver/open_list.h"

namespace tamrik {
namespace {

using Entry = OpenList::Entry;

std::vector<Entry> Contents(const OpenList& list) { return {list.begin(), list.end()}; }

// Replays a seeded mix of every operation on the open list and on an ordered set; f values
// on a grid of quarters make pairs land exactly on an EraseAbove limit.
TEST(OpenList, BehavesLikeAnOrderedSetOfPairs) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> f_value(0, 400);  // few values: many equal f, id decides
    std::uniform_int_distribution<int> id_value(0, 3000);
    std::uniform_int_distribution<int> action(0, 99);
    OpenList list;
    std::set<Entry> reference;
    for (int step = 0; step < 60000; ++step) {
        Entry entry{f_value(rng) / 4.0, id_value(rng)};
        int what = action(rng);
        if (what < 60) {
            ASSERT_EQ(list.insert(entry), reference.insert(entry).second);
        } else if (what < 95) {
            auto present = reference.lower_bound(entry);
            if (present != reference.end()) entry = *present;  // mostly erase pairs that exist
            ASSERT_EQ(list.erase(entry), reference.erase(entry));
        } else if (what < 97) {
            double limit = f_value(rng) / 4.0 + 20.0;
            list.EraseAbove(limit);
            reference.erase(reference.upper_bound({limit, INT64_MAX}), reference.end());
        } else {
            auto it = list.upper_bound(entry);
            auto expected = reference.upper_bound(entry);
            ASSERT_EQ(it == list.end(), expected == reference.end());
            if (expected != reference.end()) {
                ASSERT_EQ(*it, *expected);
            }
        }
        ASSERT_EQ(list.size(), reference.size());
        ASSERT_EQ(list.empty(), reference.empty());
        if (!reference.empty()) {
            ASSERT_EQ(*list.begin(), *reference.begin());
        }
    }
    EXPECT_EQ(Contents(list), std::vector<Entry>(reference.begin(), reference.end()));
    EXPECT_GT(reference.size(), 1000u);  // runs have been split many times
}

// Pending pairs stay out of the ordered ones until admitted, but count in Front, size and
// EraseAbove; replayed against two ordered sets.
TEST(OpenList, KeepsPendingPairsOutOfOrderUntilAdmitted) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> f_value(0, 300);
    std::uniform_int_distribution<int> action(0, 9);
    OpenList list;
    std::set<Entry> ordered, pending;
    int64_t next_id = 0;
    for (int step = 0; step < 20000; ++step) {
        const int pick = action(rng);
        const double f = f_value(rng);
        if (pick < 4) {
            list.insert({f, next_id});
            ordered.insert({f, next_id++});
        } else if (pick < 8) {
            list.InsertPending({f, next_id});
            pending.insert({f, next_id++});
        } else if (pick == 8) {
            list.AdmitUpTo(f);
            while (!pending.empty() && pending.begin()->first <= f) {
                ordered.insert(pending.extract(pending.begin()));
            }
        } else if (step % 50 == 0) {
            const double limit = f + 150.0;  // rarely: a prune keeps most pairs
            list.EraseAbove(limit);
            std::erase_if(ordered, [limit](const Entry& e) { return e.first > limit; });
            std::erase_if(pending, [limit](const Entry& e) { return e.first > limit; });
        } else if (!ordered.empty()) {
            const Entry gone = *std::next(ordered.begin(), step % ordered.size());
            ASSERT_EQ(list.erase(gone), 1u);
            ordered.erase(gone);
        }
        ASSERT_EQ(list.size(), ordered.size() + pending.size()) << "step " << step;
        if (!list.empty()) {
            const Entry front = std::min(ordered.empty() ? *pending.begin() : *ordered.begin(),
                                         pending.empty() ? *ordered.begin() : *pending.begin());
            ASSERT_EQ(list.Front(), front) << "step " << step;
        }
        if (step % 500 == 0) {
            ASSERT_EQ(Contents(list), std::vector<Entry>(ordered.begin(), ordered.end()));
        }
    }
    list.AdmitUpTo(1e9);
    ordered.merge(pending);
    EXPECT_EQ(Contents(list), std::vector<Entry>(ordered.begin(), ordered.end()));
}

}  // namespace
}  // namespace tamrik
