#include "improve/parallel_improvement.h"

#include <sched.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace tamrik {
namespace {

// With an iteration cap, rounds are this many iterations long, so that the answer does not
// depend on timing; without one they last about kRoundSeconds of a worker's processor time.
constexpr uint64_t kRoundIterations = 2000;
constexpr uint64_t kFirstRound = 200;
constexpr double kRoundSeconds = 0.25;
// How often the calling thread asks the host whether to stop while the workers run.
constexpr auto kPollInterval = std::chrono::milliseconds(20);
// Seeds of the workers after the first are spread by this odd constant.
constexpr uint64_t kSeedStep = 0x9E3779B97F4A7C15ull;

double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

}  // namespace

struct ParallelImprovement::Worker {
    std::unique_ptr<ImprovementStage> stage;
    // Processor seconds this worker used in the rounds before.
    double seconds = 0.0;
    bool active = true;
    ImprovementStage::Stop stop = ImprovementStage::Stop::kNotRun;
};

ParallelImprovement::ParallelImprovement(const RouteRules& rules_in,
                                         const ImprovementSettings& settings_in,
                                         const TaskRules* tasks_in, size_t threads)
    : rules(rules_in), settings(settings_in), tasks(tasks_in) {
    for (size_t k = 0; k < std::max<size_t>(threads, 1); ++k) {
        ImprovementSettings own = settings;
        own.seed = settings.seed + kSeedStep * k;
        auto worker = std::make_unique<Worker>();
        worker->stage = std::make_unique<ImprovementStage>(rules, own, tasks);
        workers.push_back(std::move(worker));
    }
}

ParallelImprovement::~ParallelImprovement() = default;

void ParallelImprovement::UseNeighbours(const NearLists& lists) {
    if (lists.empty()) return;
    for (const auto& worker : workers) worker->stage->UseNeighbours(lists);
}

size_t ParallelImprovement::ThreadsFor(uint64_t requested) {
    if (requested != 0) return static_cast<size_t>(requested);
    cpu_set_t cores;
    CPU_ZERO(&cores);
    if (sched_getaffinity(0, sizeof cores, &cores) == 0) {
        return std::max(1, CPU_COUNT(&cores));
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

double ParallelImprovement::Now(const ParallelHooks& hooks) const {
    double busiest = 0.0;
    for (const auto& worker : workers) busiest = std::max(busiest, worker->seconds);
    return hooks.start_time + busiest;
}

ImprovementStage::Stop ParallelImprovement::Run(std::vector<std::vector<int64_t>>& paths,
                                                const ParallelHooks& hooks) {
    std::atomic<bool> stop_now{false};
    std::mutex lock;
    std::condition_variable finished;
    size_t running = 0;
    bool interrupted = false;
    // One round: `step` on every active worker, each on its own thread with its own clock.
    const auto round = [&](const std::function<void(Worker&, const ImprovementHooks&)>& step) {
        std::vector<std::thread> threads;
        // Counted before any thread starts: the first may finish before the last is made.
        running = static_cast<size_t>(std::count_if(
            workers.begin(), workers.end(), [](const auto& worker) { return worker->active; }));
        for (auto& owned : workers) {
            if (!owned->active) continue;
            Worker& worker = *owned;
            threads.emplace_back([&, &worker = worker]() {
                const double started = ThreadSeconds();
                ImprovementHooks own;
                own.elapsed = [&]() {
                    return hooks.start_time + worker.seconds + (ThreadSeconds() - started);
                };
                own.time_limit = hooks.time_limit;
                own.interrupted = [&]() { return stop_now.load(std::memory_order_relaxed); };
                step(worker, own);
                worker.seconds += ThreadSeconds() - started;
                std::lock_guard<std::mutex> guard(lock);
                --running;
                finished.notify_one();
            });
        }
        {
            std::unique_lock<std::mutex> guard(lock);
            while (!finished.wait_for(guard, kPollInterval, [&]() { return running == 0; })) {
                if (!interrupted && hooks.interrupted && hooks.interrupted()) {
                    interrupted = true;
                    stop_now.store(true, std::memory_order_relaxed);
                }
            }
        }
        for (std::thread& thread : threads) thread.join();
    };

    round([&](Worker& worker, const ImprovementHooks& own) {
        worker.active = worker.stage->Begin(paths, own);
    });
    if (!workers.front()->active) return ImprovementStage::Stop::kNotRun;
    recorded = std::make_unique<RouteSet>(workers.front()->stage->BestSet());

    uint64_t until = 0;
    uint64_t length = settings.max_iterations != 0 ? kRoundIterations : kFirstRound;
    while (!interrupted) {
        until += length;
        round([&](Worker& worker, const ImprovementHooks& own) {
            if (std::optional<ImprovementStage::Stop> stop = worker.stage->Advance(own, until)) {
                worker.active = false;
                worker.stop = *stop;
            }
        });
        Exchange(hooks);
        if (std::none_of(workers.begin(), workers.end(), [](const auto& w) { return w->active; })) {
            break;
        }
        if (settings.max_iterations == 0) {
            // Rounds of about kRoundSeconds, measured on the first worker.
            const Worker& first = *workers.front();
            const double per_iteration =
                std::max(first.seconds, 1e-9) /
                static_cast<double>(std::max<uint64_t>(first.stage->Iterations(), 1));
            length = std::max<uint64_t>(kFirstRound,
                                        static_cast<uint64_t>(kRoundSeconds / per_iteration));
        }
    }
    paths = recorded->Paths();
    if (interrupted) return ImprovementStage::Stop::kInterrupted;
    for (ImprovementStage::Stop reason :
         {ImprovementStage::Stop::kBudget, ImprovementStage::Stop::kIterations}) {
        for (const auto& worker : workers) {
            if (worker->stop == reason) return reason;
        }
    }
    return ImprovementStage::Stop::kStalled;
}

void ParallelImprovement::Exchange(const ParallelHooks& hooks) {
    size_t leader = 0;
    for (size_t k = 1; k < workers.size(); ++k) {
        const ImprovementStage& stage = *workers[k]->stage;
        if (stage.Better(stage.BestSet(), workers[leader]->stage->BestSet())) leader = k;
    }
    const ImprovementStage& best = *workers[leader]->stage;
    if (best.Better(best.BestSet(), *recorded)) {
        recorded->CopyRoutesFrom(best.BestSet());
        if (hooks.improved) hooks.improved(*recorded, Now(hooks));
    }
    for (const auto& worker : workers) {
        if (worker->active) worker->stage->Adopt(*recorded);
    }
}

}  // namespace tamrik
