#include "api/instance_solve.h"

#include <algorithm>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "base/log_sink.h"
#include "model/instance_text.h"
#include "solver/solver.h"

namespace tamrik {

void OptionOverrides::ApplyTo(Options& options) const {
    if (improve) options.improve = *improve;
    if (seed) options.seed = *seed;
    if (memory_limit) options.memory_limit = *memory_limit;
    if (enforce_capacity) options.enforce_capacity = *enforce_capacity;
    if (enforce_sequence) options.enforce_sequence = *enforce_sequence;
    if (threads) options.threads = *threads;
}

InstanceSolve SolveInstanceText(const std::string& text, double time_limit,
                                const std::function<bool()>& interrupt_check,
                                const OptionOverrides& overrides,
                                const std::function<bool(const ProgressReport&)>& progress) {
    InstanceSolve solve;
    load_problem_text(text, solve.problem);
    if (time_limit > 0) solve.problem.options.time_limit = time_limit;
    overrides.ApplyTo(solve.problem.options);
    auto start = std::chrono::system_clock::now();
    Solver solver(Problem(solve.problem), solve.problem.options);
    solver.SetInterruptCheck(interrupt_check);
    solver.SetProgressCallback(progress);
    solver.Solve();
    auto end = std::chrono::system_clock::now();
    solve.solve_time =
        static_cast<double>(std::chrono::duration_cast<std::chrono::nanoseconds>(end - start).count()) /
        1e9;
    solve.interrupted = solver.Interrupted();
    solve.result = solver.GetResult();
    solve.process = solver.GetResultProcess();
    return solve;
}

std::vector<Finding> CheckInstanceText(const std::string& text,
                                       const OptionOverrides& overrides) {
    Problem problem;
    load_problem_text(text, problem);
    overrides.ApplyTo(problem.options);
    return CheckProblemAndStops(problem, problem.options);
}

std::vector<Finding> CheckProblemAndStops(const Problem& problem, const Options& options) {
    std::vector<Finding> findings = CheckProblem(problem, options);
    const bool unusable = std::any_of(findings.begin(), findings.end(), [](const Finding& f) {
        return f.kind == Finding::Kind::kInvalid || f.kind == Finding::Kind::kUnknownId;
    });
    if (unusable) return findings;
    // The solver's set-up repeats the findings above as log lines.
    const QuietLines quiet;
    const Solver solver(Problem(problem), options);
    const Finding::Kind kind =
        options.allow_unassigned ? Finding::Kind::kIgnored : Finding::Kind::kInfeasible;
    // Stops left out make such rules no reason to fail.
    for (Finding& finding : findings) {
        if (finding.kind == Finding::Kind::kInfeasible) finding.kind = kind;
    }
    for (const UnassignedStop& stop : solver.StaticUnassigned()) {
        findings.push_back(
            Finding{kind, "node " + std::to_string(stop.node_id) + " fits nowhere: " + stop.reason});
    }
    for (std::string& pinned : solver.PinnedBreaks()) {
        findings.push_back(Finding{Finding::Kind::kInfeasible, std::move(pinned)});
    }
    std::stable_partition(findings.begin(), findings.end(),
                          [](const Finding& finding) { return finding.IsError(); });
    return findings;
}

std::string ReadInstanceFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("Cannot open file: " + path);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<Improvement> AnytimeImprovements(const std::vector<SearchSnapshot>& process,
                                             ObjectiveType objective) {
    std::vector<Improvement> improvements;
    double best = 1e18;
    double least_lost = 1e18;
    for (const SearchSnapshot& snapshot : process) {
        const double max_cost = LargestRouteCost(snapshot.result);
        const double sum_cost = TotalRouteCost(snapshot.result);
        const double lost = snapshot.result.lost_prize;
        double score = objective == ObjectiveType::MinSum
                           ? sum_cost + snapshot.result.fixed_cost + lost
                           : max_cost;
        // Under min-max the prizes lost come first.
        const bool better = objective == ObjectiveType::MinSum
                                ? best - 1e-9 > score
                                : lost < least_lost - 1e-9 ||
                                      (lost <= least_lost + 1e-9 && best - 1e-9 > score);
        if (better) {
            improvements.push_back(Improvement{snapshot.time, max_cost, sum_cost});
            best = score;
            least_lost = lost;
        }
    }
    return improvements;
}

}  // namespace tamrik
