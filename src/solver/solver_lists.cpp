// The label pool, the frontiers and the open and focal lists.
#include <bit>

#include "solver/solver.h"

namespace tamrik {

int64_t Solver::AllocateLabel() {
    int64_t id = static_cast<int64_t>(next_label_id++);
    if (next_label_id <= pool_capacity) return id;
    pool_capacity += pool_chunk;
    label_pool.resize(pool_capacity);
    parent.resize(pool_capacity, 0);
    if (pool_chunk < pool_max_chunk) pool_chunk *= 2;
    return id;
}

bool Solver::IsDominated(const Label& label) {
    if (const uint64_t* number = frontier_index.Find(label.positions)) {
        return frontiers[*number].Contains(label);
    }
    frontier_index.Insert(label.positions, next_frontier_number++);
    frontiers.emplace_back();
    return false;
}

void Solver::AddToFrontier(const Label& label) {
    const uint64_t* number = frontier_index.Find(label.positions);
    if (number == nullptr) frontier_index.Insert(label.positions, 0);
    frontiers[number ? *number : 0].Insert(label);
}

void Solver::ResetFrontiers() { next_frontier_number = 0; }

bool Solver::IsGoal(const Label& label) const {
    if (label.visited_size > 0 && CountVisited(label) < label.visited_size) return false;
    return label.remaining_agents == 0;
}

double Solver::SumCost(const Label& label) const {
    double sum = 0.0;
    for (int32_t i = 0; i < num_agents; ++i) sum += label.costs[i];
    return sum;
}

int64_t Solver::CountVisited(const Label& label) const {
    if (label.visited_size < 1) return 0;
    int64_t count = 0;
    size_t remaining = static_cast<size_t>(label.visited_size);
    for (uint64_t word : label.visited) {
        if (remaining == 0) break;
        uint64_t mask = remaining >= 64 ? ~uint64_t{0} : (uint64_t{1} << remaining) - 1;
        count += std::popcount(word & mask);
        remaining -= remaining >= 64 ? 64 : remaining;
    }
    return count;
}

void Solver::UpdateFocal(double old_bound, double new_bound) {
    if (new_bound > old_bound) {
        // Open pairs are sorted by f, so the admitted interval is one contiguous run once the
        // pending pairs up to the new bound have joined the ordered ones.
        open_list.AdmitUpTo(new_bound);
        for (auto it = open_list.upper_bound({old_bound, INT64_MAX});
             it != open_list.end() && it->first <= new_bound; ++it) {
            label_pool.Load(it->second, scratch);
            focal_list.insert(FocalEntry{it->second, CountVisited(scratch),
                                         scratch.remaining_agents, it->first, 0.0});
        }
    } else {
        std::erase_if(focal_list, [new_bound](const FocalEntry& e) { return e.f > new_bound; });
    }
    focal_bound = new_bound;
}

void Solver::PruneByIncumbent(double cost) {
    std::erase_if(focal_list, [cost](const FocalEntry& e) { return e.f > cost; });
    open_list.EraseAbove(cost + 0.2);
    incumbent_cost = cost;
}

}  // namespace tamrik
