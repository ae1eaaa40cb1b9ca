#pragma once

#include <functional>
#include <string>
#include <vector>

#include "model/problem.h"

namespace tamrik {

// One thing wrong with, or ignored in, an instance.
struct Finding {
    enum class Kind {
        kInvalid,     // a value the solver cannot use (std::invalid_argument)
        kUnknownId,   // an id that names nothing (std::out_of_range)
        kIgnored,     // accepted but not enforced or filled in: a warning
        kInfeasible,  // rules that no solution can meet: the solve fails without searching
    };
    Kind kind = Kind::kInvalid;
    std::string message;

    bool IsError() const { return kind != Kind::kIgnored; }
};

// The shortest text that reads back as the same double ("0.1", "1e+300", "nan", "-inf").
std::string NumberText(double value);

// Every error and warning of the instance under `options` (the problem's own when not
// given), errors first, each group in a fixed order.
std::vector<Finding> CheckProblem(const Problem& problem);
std::vector<Finding> CheckProblem(const Problem& problem, const Options& options);

// The first entry of the matrix that is not finite or is negative, as `describe(i, j, value)`
// says it, and how many more there are; empty when every entry is usable.
std::string FirstUnusableEntry(const CostMatrix& matrix,
                               const std::function<std::string(size_t, size_t, double)>& describe);

// Throws the first error of `findings` as its exception type; returns when there is none.
void ThrowFirstError(const std::vector<Finding>& findings);

}  // namespace tamrik
