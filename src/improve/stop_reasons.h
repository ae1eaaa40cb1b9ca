#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "improve/construction.h"
#include "route/route_rules.h"
#include "route/task_rules.h"

namespace tamrik {

// Why stops cannot be served, whatever the other routes do: what no agent may do with a stop
// even on a route of its own (or with its "same" partner), and which pinned stops of a warm
// start break their route's rules where they stand.
class StopReasons {
public:
    // Both must stay alive while this is used.
    StopReasons(const RouteRules& rules, const TaskRules& tasks) : rules(rules), tasks(tasks) {}

    // Why no agent may serve the vertex on a route of its own (empty when one may).
    std::string Alone(int64_t vertex) const;
    // Per vertex, why it fits nowhere (empty: it may fit).
    std::vector<std::string> PerVertex() const;
    // One line per agent whose pinned stops break a rule of its route.
    std::vector<std::string> PinnedBreaks(const WarmStart& warm) const;

private:
    // Whether some agent may serve the two vertices together on a route of their own.
    bool ServedTogether(int64_t a, int64_t b) const;

    const RouteRules& rules;
    const TaskRules& tasks;
};

}  // namespace tamrik
