#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <vector>

#include "improve/improvement_stage.h"
#include "improve/near_lists.h"
#include "improve/parallel_hooks.h"
#include "improve/ruin_recreate.h"
#include "route/route_rules.h"
#include "route/task_rules.h"

namespace tamrik {

// The improvement stage on several threads. Instances of at most kMaxVertices vertices get
// independent runs (RunIndependently). Larger ones run one stage whose iterations are shared
// out: in each round every thread makes moves from the same current solution, a few per
// thread, taking the next one to make as it finishes the last; the calling thread then takes
// them best first under the annealing rule, keeping those that do not clash with one applied
// before them (see ImprovementStage::Commit). Each move has its own generator, so given an
// iteration cap, a seed and a thread count, the answer is the same on every run whichever
// thread made what.
class ParallelImprovement {
public:
    ParallelImprovement(const RouteRules& rules, const ImprovementSettings& settings,
                        const TaskRules* tasks, size_t threads);

    // Neighbour lists built for the instance (BuildNearLists).
    void UseNeighbours(NearLists lists) { neighbours = std::move(lists); }

    // As ImprovementStage::Run: `paths` becomes the best solution found.
    ImprovementStage::Stop Run(std::vector<std::vector<int64_t>>& paths,
                               const ParallelHooks& hooks);

    // As ImprovementStage::MostBroken: of the shared stage, or of the first independent run.
    size_t MostBroken() const {
        return independent_most_broken < kSoftRuleCount ? independent_most_broken : stage.MostBroken();
    }

    // The number of threads that `requested` stands for: itself, or with 0 every core this
    // process may run on.
    static size_t ThreadsFor(uint64_t requested);

private:
    // Rounds on the calling thread until the stage stops.
    ImprovementStage::Stop Rounds(const ImprovementHooks& hooks);
    // The loop of a helper thread: each round it makes moves until none is left.
    void Help(size_t index);
    // Makes the round's moves that are not taken yet, with the move of thread `index`.
    void ProposeRest(size_t index);

    const RouteRules& rules;
    ImprovementSettings settings;
    const TaskRules* tasks;
    NearLists neighbours;
    ImprovementStage stage;
    // Set by independent runs, which small instances take.
    size_t independent_most_broken = kSoftRuleCount;
    size_t threads;
    std::vector<ImprovementStage::Proposal> proposals;
    std::vector<RuinRecreate> moves;
    // The round: its number (helpers wait for a new one), its size, the next move to make,
    // and how many helpers are through with it. `count` and `quit` are written before the
    // number changes.
    std::atomic<uint32_t> round{0};
    size_t count = 0;
    bool quit = false;
    std::atomic<size_t> next{0};
    std::atomic<size_t> through{0};
    // The first failure of a helper, raised on the calling thread.
    std::exception_ptr failure;
    std::atomic<bool> failed{false};
};

}  // namespace tamrik
