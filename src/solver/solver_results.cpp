// Routes from a goal label, statistics, accessors and the path dump.
#include <algorithm>
#include <utility>

#include "solver/path_dump.h"
#include "solver/solver.h"

namespace tamrik {

void Solver::ExtractPaths(int64_t goal_id) {
    std::vector<std::pair<int64_t, int64_t>> moves;
    for (int64_t id = goal_id; id > 0; id = parent[id]) {
        int64_t agent = label_pool.LastAgent(id);
        moves.emplace_back(agent, label_pool.Position(id, agent));
    }
    for (int32_t i = 0; i < num_agents; ++i) moves.emplace_back(i, starts[i]);
    std::reverse(moves.begin(), moves.end());

    const Label goal = label_pool.Get(goal_id);
    std::vector<std::vector<int64_t>> routes(num_agents);
    for (int32_t i = 0; i < num_agents; ++i) result.times[i] = goal.costs[i];
    for (const auto& [agent, vertex] : moves) routes[agent].push_back(vertex);
    for (int32_t i = 0; i < num_agents; ++i) result.paths[i] = std::move(routes[i]);
}

void Solver::UpdateStatistics() {
    if (solution_found == 0) return;
    summary.solution_found = solution_found;
    summary.num_agents = num_agents;
    summary.max_route_cost = max_route_cost;
    summary.num_points = static_cast<int32_t>(points.size());
    summary.points_type0_only = 0;
    summary.points_type0_and_1 = 0;
    summary.agents_type0 = 0;
    summary.agents_type1 = 0;
    for (const PointRecord& point : points) {
        if (point.types == std::vector<int64_t>{0}) ++summary.points_type0_only;
        if (point.types == std::vector<int64_t>{0, 1}) ++summary.points_type0_and_1;
    }
    for (const AgentRecord& agent : agents) {
        if (agent.type_index == 0) ++summary.agents_type0;
        if (agent.type_index == 1) ++summary.agents_type1;
    }
    summary.sum_route_cost = 0.0;
    for (int32_t i = 0; i < num_agents; ++i) summary.sum_route_cost += result.times[i];
    summary.last_update_time = last_update_time;
}

Result Solver::GetResult() {
    result.last_update_time = last_update_time;
    Result out = result;
    FillNodeIds(out);
    FillSchedules(out);
    return out;
}

void Solver::FillSchedules(Result& out) const {
    out.schedules.clear();
    // Waits for partners on other routes are timed with all routes together, not here.
    if (tasks.HasPrecedence()) return;
    const RouteRules& rules = Rules();
    for (const auto& [agent, path] : out.paths) out.schedules[agent] = rules.ScheduleOf(path, agent);
}

void Solver::FillNodeIds(Result& out) const {
    out.node_ids.clear();
    for (const auto& [agent, path] : out.paths) out.node_ids[agent] = NodeIdsOf(path);
}

std::vector<uint64_t> Solver::NodeIdsOf(const std::vector<int64_t>& path) const {
    std::vector<uint64_t> ids;
    ids.reserve(path.size());
    for (int64_t v : path) {
        const bool known = v >= 0 && static_cast<size_t>(v) < points.size();
        ids.push_back(known ? points[static_cast<size_t>(v)].node_id : 0);
    }
    return ids;
}

SearchSummary Solver::GetSummary() const { return summary; }

std::vector<SearchSnapshot> Solver::GetResultProcess() const {
    std::vector<SearchSnapshot> process = anytime_results;
    for (SearchSnapshot& snapshot : process) FillNodeIds(snapshot.result);
    return process;
}

void Solver::WritePathDump() const {
    // Missing entries are read as empty routes and zero costs without touching the result.
    Result copy = result;
    WritePathDumpFile(instance_name, starts, goals, num_agents, max_route_cost, copy);
}

}  // namespace tamrik
