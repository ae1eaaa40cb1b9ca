#pragma once

#include <cstdint>
#include <string>

#include "route/route_rules.h"

namespace tamrik {

// What the violation of the agent's path breaks, in words for messages: "node 12 refuses
// its type", "the window of node 12 closes at 50, before its arrival at 64", ...
std::string ViolationText(const RouteRules& rules, const RouteViolation& why, int64_t agent);

}  // namespace tamrik
