#include <gtest/gtest.h>

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
    int64_t AddOpenLabel(double f, std::vector<int64_t> visited_vertices = {}) {
        int64_t id = solver.AllocateLabel();
        Label label;
        label.id = id;
        label.f = f;
        label.visited_size = 8;
        label.remaining_agents = 2;
        for (int64_t v : visited_vertices) SetBit(label.visited, v);
        solver.label_pool.Store(id, label);
        solver.open_list.insert({f, id});
        return id;
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

TEST_F(SolverLists, PoolGrowsInChunksOf1024Then2048Then4096) {
    std::vector<std::pair<uint64_t, uint64_t>> seen;  // (capacity, next chunk) after each growth
    for (int k = 0; k < 7169; ++k) {
        uint64_t before = solver.pool_capacity;
        EXPECT_EQ(solver.AllocateLabel(), k);
        if (solver.pool_capacity != before) seen.emplace_back(solver.pool_capacity, solver.pool_chunk);
    }
    using Growth = std::vector<std::pair<uint64_t, uint64_t>>;
    EXPECT_EQ(seen, (Growth{{1024, 2048}, {3072, 4096}, {7168, 4096}, {11264, 4096}}));
    EXPECT_EQ(solver.label_pool.size(), 11264u);
    EXPECT_EQ(solver.parent.size(), 11264u);
    EXPECT_EQ(solver.label_pool.Get(11263).visited_size, -1);
}

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
    for (const FocalEntry& entry : solver.focal_list) {
        EXPECT_EQ(entry.cost_sum, 0.0);
        EXPECT_EQ(entry.visited_count, entry.f == 3.0 ? 2 : (entry.f == 2.0 ? 1 : 0));
    }
}

TEST_F(SolverLists, FocalListKeepsOnlyTheFirstOfEquivalentEntries) {
    AddOpenLabel(2.0, {1});
    AddOpenLabel(2.0, {2});  // same visited count, f and cost sum
    solver.UpdateFocal(0.0, 5.0);
    EXPECT_EQ(solver.focal_list.size(), 1u);
    EXPECT_EQ(solver.open_list.size(), 2u);
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

TEST_F(SolverLists, FirstSightOfAJointPositionCreatesItsFrontier) {
    Label label;
    label.positions = {3, 0, 12};
    label.costs = {1.0, 1.0, 1.0};
    EXPECT_FALSE(solver.IsDominated(label));
    EXPECT_EQ(solver.frontiers.size(), 1u);
    EXPECT_FALSE(solver.IsDominated(label));  // the frontier exists but is still empty
    solver.AddToFrontier(label);
    EXPECT_TRUE(solver.IsDominated(label));   // an identical label is dominated
    solver.ResetFrontiers();
    EXPECT_EQ(solver.next_frontier_number, 0u);
    EXPECT_EQ(solver.frontiers.size(), 1u);
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
    EXPECT_EQ(solver.CountVisited(label), 7);
}

TEST_F(SolverLists, CountVisitedReadsOnlyTheFirstVisitedSizeBits) {
    Label label;
    for (int64_t v : {0, 63, 64, 127, 128, 255}) SetBit(label.visited, v);
    label.visited_size = 256;
    EXPECT_EQ(solver.CountVisited(label), 6);
    label.visited_size = 128;
    EXPECT_EQ(solver.CountVisited(label), 4);
    label.visited_size = 64;
    EXPECT_EQ(solver.CountVisited(label), 2);
    label.visited_size = 0;
    EXPECT_EQ(solver.CountVisited(label), 0);
}

}  // namespace
}  // namespace tamrik
