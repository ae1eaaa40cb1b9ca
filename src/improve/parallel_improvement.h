#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "improve/improvement_stage.h"
#include "improve/near_lists.h"
#include "records/route_rules.h"
#include "records/task_rules.h"

namespace tamrik {

// What the parallel stage asks its caller, always on the calling thread.
struct ParallelHooks {
    // The caller's clock when the stage starts; each worker counts its own processor time
    // from there, against `time_limit`.
    double start_time = 0.0;
    double time_limit = 0.0;
    // True when the host wants the solve to stop now (asked every few hundredths of a second).
    std::function<bool()> interrupted;
    // Called with each better solution and the time it was found at: the start time plus the
    // processor time of the busiest worker.
    std::function<void(const RouteSet&, double)> improved;
};

// Several improvement stages with their own seeds, one per thread, over the same instance.
// They run in rounds of a fixed number of iterations; after each round every stage adopts the
// best solution found so far when it is better than its own. Given an iteration cap, a seed and
// a thread count, the rounds and so the answer are the same on every run. The worker with
// index 0 uses the seed as it is.
class ParallelImprovement {
public:
    ParallelImprovement(const RouteRules& rules, const ImprovementSettings& settings,
                        const TaskRules* tasks, size_t threads);
    ~ParallelImprovement();

    // Neighbour lists built for the instance (BuildNearLists); every stage gets a copy.
    void UseNeighbours(const NearLists& lists);

    // As ImprovementStage::Run: `paths` becomes the best solution found.
    ImprovementStage::Stop Run(std::vector<std::vector<int64_t>>& paths,
                               const ParallelHooks& hooks);

    // The number of threads that `requested` stands for: itself, or with 0 every core this
    // process may run on.
    static size_t ThreadsFor(uint64_t requested);

private:
    struct Worker;
    // Records the best solution of all workers when it beats the recorded one, and hands the
    // recorded one to every active worker (which keeps its own when that is as good).
    void Exchange(const ParallelHooks& hooks);
    double Now(const ParallelHooks& hooks) const;

    const RouteRules& rules;
    ImprovementSettings settings;
    const TaskRules* tasks;
    std::vector<std::unique_ptr<Worker>> workers;
    // The best solution found so far by any worker.
    std::unique_ptr<RouteSet> recorded;
};

}  // namespace tamrik
