#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tamrik {

enum class NodeType : int32_t { DEPOT = 0, TARGET = 1 };

enum class ObjectiveType : int32_t { MinMax = 0, MinSum = 1 };

// What a route costs: the time from its departure to its end, waits and services included
// (Duration), or only its legs' travel (Travel), while waits, services, windows and shifts
// still bind.
enum class RouteCostKind : int32_t { Duration = 0, Travel = 1 };

// How the improvement stage searches: one annealed trajectory of ruin and recreate, a
// population of plans crossed and educated by local search, or the one that suits the
// instance.
enum class StageSearch : int32_t { Anneal = 0, Population = 1, Auto = 2 };

struct Position {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

struct Node {
    uint64_t id = 0;
    Position position;
    NodeType type = NodeType::TARGET;
    double demand = 0.0;
    // Time spent serving the node: the agent leaves it this long after service starts.
    // Only targets are served; a start or end node's service is ignored.
    double service = 0.0;
    // An optional stop (required false) may be left out, at the cost of its prize: under
    // min-sum the objective adds the prizes lost to the route costs; under min-max the prizes
    // lost come first and the longest route second.
    bool required = true;
    double prize = 0.0;
    // Loads of several dimensions (with the agents' `capacities`): the demand per dimension,
    // which `demand` then leaves at 0 or repeats as the first, and amounts picked up at the
    // node or carried from the start and dropped there. Empty: none of that kind.
    std::vector<double> demands{};
    std::vector<double> pickup{};
    std::vector<double> delivery{};
};

struct Agent {
    uint64_t id = 0;
    std::string type;
    uint64_t start_node = 0;
    uint64_t end_node = 0;
    double capacity_limit = 0.0;
    // Limit on the accumulated route cost; 0 or less means unlimited.
    double time_limit = 0.0;
    // The agent's shift: it leaves its start no earlier than shift_start and ends its route
    // by shift_end. With either, it leaves at the latest time that still ends its route as
    // early as it can; without both it departs at 0.
    std::optional<double> shift_start{};
    std::optional<double> shift_end{};
    // The most targets its route may serve (none: no limit).
    std::optional<int64_t> max_stops{};
    // Added to the min-sum total when the agent serves at least one target.
    double fixed_cost = 0.0;
    // With either given, or with durations apart from the costs, a route costs
    // unit_distance_cost (1 when not given) times its distance (its legs' costs) plus
    // unit_duration_cost (0 when not given) times its duration (from departure to its end).
    std::optional<double> unit_distance_cost{};
    std::optional<double> unit_duration_cost{};
    // Limits on the route's distance and duration (none: no limit).
    std::optional<double> max_distance{};
    std::optional<double> max_duration{};
    // The capacity per load dimension (0: no limit in that one); `capacity_limit` then stays
    // 0 or repeats the first. Empty: one dimension, `capacity_limit`.
    std::vector<double> capacities{};
};

struct Options {
    bool return_to_end = true;
    ObjectiveType objective = ObjectiveType::MinSum;
    // Processor-time budget of one solve, in seconds: the search and, when on, the
    // improvement stage together.
    double time_limit = 60.0;
    // Runs the improvement stage after the search (off: the plain search).
    bool improve = false;
    // Seed of the improvement stage's random choices.
    uint64_t seed = 0;
    // Iteration cap of the improvement stage; 0 for none.
    uint64_t max_iterations = 0;
    // Ends the improvement stage once it stops finding better solutions (off: it runs until
    // the budget, the iteration cap or an interrupt).
    bool stop_when_stalled = true;
    // Ceiling on the process's resident memory in MiB; the search stops on reaching it as it
    // does at the time limit. 0 for none.
    uint64_t memory_limit = 4096;
    // Enforce node demands against agent capacities, and the sequence constraints' pairs
    // (off: both are read and ignored).
    bool enforce_capacity = false;
    bool enforce_sequence = false;
    // Threads of the improvement stage; 0 for every core the process may use. With more than
    // one, each thread has time_limit processor seconds of its own clock.
    uint64_t threads = 1;
    RouteCostKind route_cost = RouteCostKind::Duration;
    // Leave out the stops that fit nowhere instead of failing the solve ("partial").
    bool allow_unassigned = false;
    StageSearch search = StageSearch::Auto;
    // How many nearest stops each stop's moves are tried towards in the population's local
    // search (0: the population's own 20).
    uint64_t neighbours = 20;
};

}  // namespace tamrik
