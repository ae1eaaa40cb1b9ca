#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/problem.h"
#include "model/problem_checks.h"
#include "model/result.h"
#include "solver/search_results.h"

namespace tamrik {

// Everything a caller needs to report one solve of a JSON instance.
struct InstanceSolve {
    Problem problem;
    Result result;
    std::vector<SearchSnapshot> process;
    // Wall-clock seconds from just before the solver is built to just after the search.
    double solve_time = 0.0;
    bool interrupted = false;
};

// A strict improvement of the objective among the recorded solution states.
struct Improvement {
    double time = 0.0;
    double max_cost = 0.0;
    double sum_cost = 0.0;
};

// Options a caller sets over the instance's own.
struct OptionOverrides {
    std::optional<bool> improve;
    std::optional<uint64_t> seed;
    std::optional<uint64_t> memory_limit;
    std::optional<bool> enforce_capacity;
    std::optional<bool> enforce_sequence;
    std::optional<uint64_t> threads;

    // Sets what is given over `options`.
    void ApplyTo(Options& options) const;
};

// Parses and loads the instance text, overrides its time limit when `time_limit` > 0 and its
// other options as given, and solves it. Parse and load failures are the JSON library's
// exceptions.
InstanceSolve SolveInstanceText(
    const std::string& text, double time_limit, const std::function<bool()>& interrupt_check = {},
    const OptionOverrides& overrides = {},
    const std::function<bool(const ProgressReport&)>& progress = {});

// Parses and loads the instance text and checks it under its options, overridden as given,
// without solving (parse and load failures raise as in SolveInstanceText).
std::vector<Finding> CheckInstanceText(const std::string& text,
                                       const OptionOverrides& overrides = {});

// CheckProblem's findings under `options`, and, when none of them is an invalid value or an
// unknown id, one line per stop that fits nowhere whatever the routes do ("node 7 fits
// nowhere: no agent type may serve it"): an error, or a warning where "allow_unassigned"
// leaves such stops out.
std::vector<Finding> CheckProblemAndStops(const Problem& problem, const Options& options);

// Reads the whole file; a file that cannot be opened raises "Cannot open file: <path>".
std::string ReadInstanceFile(const std::string& path);

// The snapshots that improve the objective by more than 1e-9, in recorded order.
std::vector<Improvement> AnytimeImprovements(const std::vector<SearchSnapshot>& process,
                                             ObjectiveType objective);

}  // namespace tamrik
