#pragma once

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
    };
    Kind kind = Kind::kInvalid;
    std::string message;

    bool IsError() const { return kind != Kind::kIgnored; }
};

// Every error and warning of the instance, errors first, each group in a fixed order.
std::vector<Finding> CheckProblem(const Problem& problem);

// Throws the first error of `findings` as its exception type; returns when there is none.
void ThrowFirstError(const std::vector<Finding>& findings);

}  // namespace tamrik
