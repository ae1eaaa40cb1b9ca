#include "model/initial_checks.h"

#include <string>
#include <unordered_map>
#include <unordered_set>

namespace tamrik {

std::vector<uint64_t> StopsOf(const InitialRoute& route, const Agent& agent) {
    std::vector<uint64_t> stops = route.node_ids;
    if (!stops.empty() && stops.front() == agent.start_node) stops.erase(stops.begin());
    if (!stops.empty() && stops.back() == agent.end_node) stops.pop_back();
    return stops;
}

void CheckInitialRoutes(const Problem& problem, std::vector<Finding>& findings) {
    std::unordered_set<uint64_t> known;
    for (const Node& node : problem.nodes) known.insert(node.id);
    std::unordered_set<uint64_t> endpoints;
    for (const Agent& agent : problem.agents_ordered) {
        endpoints.insert(agent.start_node);
        endpoints.insert(agent.end_node);
    }
    std::unordered_map<uint64_t, size_t> route_of_agent;
    std::unordered_map<uint64_t, size_t> route_of_node;
    auto add = [&findings](Finding::Kind kind, std::string message) {
        findings.push_back(Finding{kind, std::move(message)});
    };
    for (size_t i = 0; i < problem.initial_routes.size(); ++i) {
        const InitialRoute& route = problem.initial_routes[i];
        const std::string where = "initial_routes[" + std::to_string(i) + "]";
        const auto agent = problem.agents.find(route.agent_id);
        if (agent == problem.agents.end()) {
            add(Finding::Kind::kUnknownId, where + ".agent_id " + std::to_string(route.agent_id) +
                                               " names no agent");
            continue;
        }
        const auto [earlier, fresh] = route_of_agent.emplace(route.agent_id, i);
        if (!fresh) {
            add(Finding::Kind::kInvalid, where + ".agent_id " + std::to_string(route.agent_id) +
                                             " has a route in initial_routes[" +
                                             std::to_string(earlier->second) + "] already");
        }
        const std::vector<uint64_t> stops = StopsOf(route, agent->second);
        for (uint64_t id : stops) {
            const std::string held = where + ".node_ids holds " + std::to_string(id);
            if (known.count(id) == 0) {
                add(Finding::Kind::kUnknownId, held + ", which names no node");
            } else if (endpoints.count(id) != 0) {
                add(Finding::Kind::kInvalid, held + ", an agent's start or end, among its stops");
            } else if (const auto [first, once] = route_of_node.emplace(id, i); !once) {
                add(Finding::Kind::kInvalid,
                    held + ", which initial_routes[" + std::to_string(first->second) +
                        "] holds already");
            }
        }
        if (route.pinned < 0 || static_cast<uint64_t>(route.pinned) > stops.size()) {
            add(Finding::Kind::kInvalid, where + ".pinned must be from 0 to its " +
                                             std::to_string(stops.size()) + " stops, not " +
                                             std::to_string(route.pinned));
        }
    }
}

}  // namespace tamrik
