#include "api/instance_solve.h"

#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "model/json_loader.h"
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
    load_problem_json(nlohmann::json::parse(text), solve.problem);
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
    load_problem_json(nlohmann::json::parse(text), problem);
    overrides.ApplyTo(problem.options);
    return CheckProblem(problem);
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
    for (const SearchSnapshot& snapshot : process) {
        const double max_cost = LargestRouteCost(snapshot.result);
        const double sum_cost = TotalRouteCost(snapshot.result);
        double score = objective == ObjectiveType::MinSum ? sum_cost + snapshot.result.fixed_cost
                                                          : max_cost;
        if (best - 1e-9 > score) {
            improvements.push_back(Improvement{snapshot.time, max_cost, sum_cost});
            best = score;
        }
    }
    return improvements;
}

}  // namespace tamrik
