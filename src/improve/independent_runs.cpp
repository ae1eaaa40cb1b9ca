#include "improve/independent_runs.h"

#include <atomic>
#include <chrono>
#include <exception>
#include <memory>
#include <thread>

#include "improve/population_search.h"

namespace tamrik {
namespace {

// How often the calling thread, its own run done, asks the host whether to stop.
constexpr auto kPollInterval = std::chrono::milliseconds(20);

template <typename Stage>
struct Run {
    std::unique_ptr<Stage> stage;
    std::vector<std::vector<int64_t>> paths;
    ImprovementStage::Stop stop = ImprovementStage::Stop::kNotRun;
    std::exception_ptr failure;
};

}  // namespace

template <typename Stage>
ImprovementStage::Stop RunIndependently(const RouteRules& rules,
                                        const ImprovementSettings& settings,
                                        const TaskRules* tasks, size_t threads,
                                        const NearLists& neighbours,
                                        std::vector<std::vector<int64_t>>& paths,
                                        const ParallelHooks& hooks, size_t& most_broken) {
    std::vector<Run<Stage>> runs(std::max<size_t>(threads, 1));
    for (size_t k = 0; k < runs.size(); ++k) {
        ImprovementSettings own = settings;
        own.seed = settings.seed + kThreadSeedStep * k;
        runs[k].stage = std::make_unique<Stage>(rules, own, tasks);
        runs[k].stage->UseNeighbours(neighbours);
        runs[k].paths = paths;
    }
    std::atomic<bool> stop_now{false};
    std::atomic<size_t> finished{0};
    const auto run = [&](size_t k, const ImprovementHooks& own) {
        try {
            runs[k].stop = runs[k].stage->Run(runs[k].paths, own);
        } catch (...) {
            // Raised on the calling thread once every run has ended.
            runs[k].failure = std::current_exception();
            stop_now.store(true, std::memory_order_relaxed);
        }
        finished.fetch_add(1, std::memory_order_release);
    };
    const auto on_own_clock = [&](ImprovementHooks& own, double started) {
        own.elapsed = [&hooks, started]() {
            return hooks.start_time + (ThreadSeconds() - started);
        };
        own.deadline = hooks.deadline;
    };
    const auto host_wants_stop = [&]() {
        if (!stop_now.load(std::memory_order_relaxed) && hooks.interrupted && hooks.interrupted()) {
            stop_now.store(true, std::memory_order_relaxed);
        }
        return stop_now.load(std::memory_order_relaxed);
    };

    std::vector<std::thread> helpers;
    for (size_t k = 1; k < runs.size(); ++k) {
        helpers.emplace_back([&, k]() {
            ImprovementHooks own;
            on_own_clock(own, ThreadSeconds());
            own.interrupted = [&]() { return stop_now.load(std::memory_order_relaxed); };
            run(k, own);
        });
    }
    ImprovementHooks own;
    on_own_clock(own, ThreadSeconds());
    own.interrupted = host_wants_stop;
    own.improved = [&](const RouteSet& set) {
        if (hooks.improved) hooks.improved(set, own.elapsed());
    };
    run(0, own);
    while (finished.load(std::memory_order_acquire) < runs.size()) {
        std::this_thread::sleep_for(kPollInterval);
        host_wants_stop();
    }
    for (std::thread& helper : helpers) helper.join();
    for (const Run<Stage>& each : runs) {
        if (each.failure) std::rethrow_exception(each.failure);
    }

    size_t best = 0;
    for (size_t k = 1; k < runs.size(); ++k) {
        const Stage& stage = *runs[k].stage;
        if (runs[k].stop != ImprovementStage::Stop::kNotRun &&
            stage.Better(stage.BestSet(), runs[best].stage->BestSet())) {
            best = k;
        }
    }
    if (best != 0 && hooks.improved) hooks.improved(runs[best].stage->BestSet(), own.elapsed());
    paths = runs[best].paths;
    most_broken = runs[0].stage->MostBroken();
    const bool ran = runs[0].stop != ImprovementStage::Stop::kNotRun;
    if (ran && stop_now.load(std::memory_order_relaxed)) {
        return ImprovementStage::Stop::kInterrupted;
    }
    return runs[0].stop;
}

template ImprovementStage::Stop RunIndependently<ImprovementStage>(
    const RouteRules&, const ImprovementSettings&, const TaskRules*, size_t, const NearLists&,
    std::vector<std::vector<int64_t>>&, const ParallelHooks&, size_t&);
template ImprovementStage::Stop RunIndependently<PopulationSearch>(
    const RouteRules&, const ImprovementSettings&, const TaskRules*, size_t, const NearLists&,
    std::vector<std::vector<int64_t>>&, const ParallelHooks&, size_t&);

}  // namespace tamrik
