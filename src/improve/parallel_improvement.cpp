#include "improve/parallel_improvement.h"

#include <sched.h>

#include <algorithm>
#include <thread>

#include "improve/independent_runs.h"

namespace tamrik {
namespace {

// Moves per thread and round: more even out the threads' waits at the round's end, fewer
// clash less.
constexpr size_t kMovesPerThread = 2;
// A thread waiting for others spins this many times before it gives way to other work.
constexpr int kSpins = 200;

template <class Ready>
void SpinUntil(const Ready& ready) {
    for (int spins = 0; !ready(); ++spins) {
        if (spins >= kSpins) std::this_thread::yield();
    }
}

}  // namespace

ParallelImprovement::ParallelImprovement(const RouteRules& rules_in,
                                         const ImprovementSettings& settings_in,
                                         const TaskRules* tasks_in, size_t threads_in)
    : rules(rules_in),
      settings(settings_in),
      tasks(tasks_in),
      stage(rules_in, settings_in, tasks_in),
      threads(std::max<size_t>(threads_in, 1)) {}

size_t ParallelImprovement::ThreadsFor(uint64_t requested) {
    if (requested != 0) return static_cast<size_t>(requested);
    cpu_set_t cores;
    CPU_ZERO(&cores);
    if (sched_getaffinity(0, sizeof cores, &cores) == 0) {
        return std::max(1, CPU_COUNT(&cores));
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

ImprovementStage::Stop ParallelImprovement::Run(std::vector<std::vector<int64_t>>& paths,
                                                const ParallelHooks& hooks) {
    if (rules.VertexCount() <= static_cast<size_t>(kMaxVertices)) {
        return RunIndependently<ImprovementStage>(rules, settings, tasks, threads, neighbours,
                                                  paths, hooks, independent_most_broken);
    }
    stage.UseNeighbours(std::move(neighbours));
    const double started = ThreadSeconds();
    ImprovementHooks own;
    own.elapsed = [&]() { return hooks.start_time + (ThreadSeconds() - started); };
    own.deadline = hooks.deadline;
    own.interrupted = hooks.interrupted;
    own.improved = [&](const RouteSet& set) {
        if (hooks.improved) hooks.improved(set, own.elapsed());
    };
    if (!stage.Begin(paths, own)) return ImprovementStage::Stop::kNotRun;
    proposals.clear();
    for (size_t k = 0; k < threads * kMovesPerThread; ++k) {
        proposals.push_back(stage.NewProposal(settings.seed + kThreadSeedStep * (k + 1)));
    }
    moves.assign(threads, stage.Move());

    std::vector<std::thread> helpers;
    for (size_t k = 1; k < threads; ++k) helpers.emplace_back([this, k]() { Help(k); });
    ImprovementStage::Stop stop = ImprovementStage::Stop::kNotRun;
    std::exception_ptr own_failure;
    try {
        stop = Rounds(own);
    } catch (...) {
        // Rethrown once the helpers are joined.
        own_failure = std::current_exception();
    }
    quit = true;
    round.fetch_add(1, std::memory_order_release);
    for (std::thread& helper : helpers) helper.join();
    if (own_failure) std::rethrow_exception(own_failure);
    if (failure) std::rethrow_exception(failure);
    paths = stage.BestSet().Paths();
    return stop;
}

ImprovementStage::Stop ParallelImprovement::Rounds(const ImprovementHooks& hooks) {
    for (;;) {
        if (std::optional<ImprovementStage::Stop> stop = stage.Checkpoint(hooks)) return *stop;
        count = stage.RoundSize(proposals.size());
        next.store(0, std::memory_order_relaxed);
        through.store(0, std::memory_order_relaxed);
        round.fetch_add(1, std::memory_order_release);
        ProposeRest(0);
        SpinUntil([this]() { return through.load(std::memory_order_acquire) + 1 == threads; });
        if (failed.load(std::memory_order_acquire)) return ImprovementStage::Stop::kInterrupted;
        stage.Commit(proposals, count, hooks);
    }
}

void ParallelImprovement::Help(size_t index) {
    uint32_t seen = 0;
    for (;;) {
        SpinUntil([&]() { return round.load(std::memory_order_acquire) != seen; });
        seen = round.load(std::memory_order_acquire);
        if (quit) return;
        try {
            ProposeRest(index);
        } catch (...) {
            // Only the first failure is kept; the calling thread raises it.
            if (!failed.exchange(true, std::memory_order_acq_rel)) {
                failure = std::current_exception();
            }
        }
        through.fetch_add(1, std::memory_order_release);
    }
}

void ParallelImprovement::ProposeRest(size_t index) {
    for (size_t k = next.fetch_add(1, std::memory_order_relaxed); k < count;
         k = next.fetch_add(1, std::memory_order_relaxed)) {
        stage.Propose(moves[index], proposals[k]);
    }
}

}  // namespace tamrik
