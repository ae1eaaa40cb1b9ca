#pragma once

#include <cstdint>
#include <limits>

#include "route/time_stretch.h"

namespace tamrik {

// What an agent's day allows beyond its cost limit: its shift (when it may leave its start
// and by when its route must end) and the most targets it may serve; and what using it costs.
struct AgentDay {
    bool has_shift = false;
    double shift_start = 0.0;
    double shift_end = std::numeric_limits<double>::infinity();
    // -1: no limit.
    int64_t max_stops = -1;
    // What using the agent costs, when that counts (min-sum): paid once it serves a target.
    double fixed_cost = 0.0;
    // priced: the route costs unit_distance times its travel plus unit_duration times its
    // duration; otherwise its travel or its duration, as the rules say.
    bool priced = false;
    double unit_distance = 1.0;
    double unit_duration = 0.0;
    double max_distance = std::numeric_limits<double>::infinity();
    double max_duration = std::numeric_limits<double>::infinity();

    // Whether the day differs from one without any of these rules.
    bool Binds() const { return has_shift || max_stops >= 0 || fixed_cost != 0.0 || priced; }
};

// Where an agent stands along its route: when its service at the node just reached starts
// (leaving as early as it may), when it leaves its start, the travel billed so far and how
// many targets it has served. RouteRules::Depart, Advance and Join (and their soft forms) are
// the only code that moves it.
struct RouteClock {
    double time = 0.0;
    double departure = 0.0;
    double travel = 0.0;
    int64_t stops = 0;
    // Under soft timing (RouteRules::AdvanceSoft): how far the agent went back in time to
    // meet the windows passed so far (0 while it kept every one).
    double warp = 0.0;
    // With a shift: the route so far as one stretch from its start, whose earliest time is
    // the latest departure that still ends as early as possible.
    TimeStretch since_departure;
    // Whether the services must stay at the times of the earliest departure (other routes
    // wait for them): the agent then leaves only as late as its first service allows.
    bool pinned = false;
};

}  // namespace tamrik
