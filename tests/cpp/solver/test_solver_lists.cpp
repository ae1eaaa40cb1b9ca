#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "solver/solver_probe.h"
#include "support/random_instance.h"

namespace tamrik {
namespace {

using testing::InstanceShape;
using testing::RandomInstance;
using testing::SolverProbe;

class SolverLists : public ::testing::Test {
protected:
    SolverLists() : problem(RandomInstance(InstanceShape{}, 1)), solver(problem, problem.options) {}

    // Puts a label with the given f and visited vertices into the pool and the open list.
    void AddOpenLabel(double f, std::vector<int64_t> visited_vertices = {}) {
        int64_t id = solver.AllocateLabel();
        Label label;
        label.id = id;
        label.f = f;
        label.visited_size = 8;
        label.remaining_agents = 2;
        for (int64_t v : visited_vertices) SetBit(label.visited, v);
        solver.label_pool.Store(id, label);
        solver.open_list.insert({f, id});
    }

    std::vector<double> FocalFs() const {
        std::vector<double> fs;
        for (const FocalEntry& entry : solver.focal_list) fs.push_back(entry.f);
        std::sort(fs.begin(), fs.end());
        return fs;
    }

    Problem problem;
    SolverProbe solver;
};

TEST_F(SolverLists, LoweringTheFocalBoundEvictsAndRaisingItAdmitsTheInterval) {
    AddOpenLabel(1.0);
    AddOpenLabel(2.0, {1});
    AddOpenLabel(3.0, {1, 2});
    AddOpenLabel(4.0);
    solver.UpdateFocal(0.5, 2.5);
    EXPECT_EQ(FocalFs(), (std::vector<double>{1.0, 2.0}));
    solver.UpdateFocal(2.5, 1.5);
    EXPECT_EQ(FocalFs(), (std::vector<double>{1.0}));
    EXPECT_EQ(solver.focal_bound, 1.5);
    solver.UpdateFocal(1.5, 1.8);  // nothing new in (1.5, 1.8]: the evicted 2.0 stays out
    EXPECT_EQ(FocalFs(), (std::vector<double>{1.0}));
    solver.UpdateFocal(1.8, 3.0);
    EXPECT_EQ(FocalFs(), (std::vector<double>{1.0, 2.0, 3.0}));
    for (const FocalEntry& entry : solver.focal_list) {  // ranked by what they have served
        EXPECT_EQ(entry.visited_count, entry.f == 3.0 ? 2 : (entry.f == 2.0 ? 1 : 0));
    }
}

TEST_F(SolverLists, IncumbentPruningLeavesOpenEntriesWithinTwoTenths) {
    AddOpenLabel(9.9);
    AddOpenLabel(10.1);
    AddOpenLabel(10.15);
    AddOpenLabel(10.25);
    solver.UpdateFocal(0.0, 11.0);
    solver.PruneByIncumbent(10.0);
    EXPECT_EQ(FocalFs(), (std::vector<double>{9.9}));
    std::vector<double> open;
    for (const auto& [f, id] : solver.open_list) open.push_back(f);
    EXPECT_EQ(open, (std::vector<double>{9.9, 10.1, 10.15}));
    EXPECT_EQ(solver.incumbent_cost, 10.0);
}

TEST_F(SolverLists, GoalNeedsEveryVertexServedAndEveryAgentFinished) {
    Label label;
    label.visited_size = 8;
    for (int64_t v = 0; v < 8; ++v) SetBit(label.visited, v);
    label.remaining_agents = 1;
    EXPECT_FALSE(solver.IsGoal(label));
    label.remaining_agents = 0;
    EXPECT_TRUE(solver.IsGoal(label));
    ClearBit(label.visited, 7);
    EXPECT_FALSE(solver.IsGoal(label));
}

TEST_F(SolverLists, CountVisitedReadsOnlyTheFirstVisitedSizeBits) {
    Label label;
    for (int64_t v : {0, 63, 64, 127, 128, 255}) SetBit(label.visited, v);
    // (visited_size, bits counted)
    for (auto [size, count] : {std::pair{256, 6}, {128, 4}, {64, 2}, {0, 0}}) {
        label.visited_size = size;
        EXPECT_EQ(solver.CountVisited(label), count) << size;
    }
}

}  // namespace
}  // namespace tamrik
