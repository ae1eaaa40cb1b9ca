#pragma once

#include <optional>
#include <string>

#include "model/problem.h"

namespace tamrik {

// A bound on what any route of the problem can add up to: its services, (nodes + 1) of its
// dearest arcs, its latest window opening or shift start and the fixed costs; a late close is
// no cost, so windows and shifts may stay open to the largest double. When that bound is too
// large a cost or time could overflow during the solve and be reported as inf, so the
// problem is refused when it passes 1e305: the message names the largest term.
std::optional<std::string> OverflowingTotal(const Problem& problem);

}  // namespace tamrik
