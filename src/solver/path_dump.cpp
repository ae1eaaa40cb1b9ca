#include "solver/path_dump.h"

#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "base/log_sink.h"

namespace tamrik {

void WritePathDumpFile(const std::string& instance_name, const std::vector<int64_t>& starts,
                       const std::vector<int64_t>& goals, int32_t num_agents,
                       double max_route_cost, Result& result) {
    std::filesystem::create_directories("paths/paths_astar");
    std::string file_name = "paths/paths_astar/" + instance_name + "_astar.json";
    std::ofstream out(file_name, std::ios::trunc);
    if (!out) {
        LogLine(LogStream::kError, "Error: cannot open " + file_name + " for writing.");
        return;
    }
    // Object members are kept sorted by key, so "paths" keys come out sorted as text.
    nlohmann::json dump;
    dump["goals"] = goals;
    dump["max_path_length"] = max_route_cost;
    dump["num_agents"] = num_agents;
    dump["starts"] = starts;
    dump["paths"] = nullptr;
    dump["total_costs"] = nullptr;
    int64_t path_count = static_cast<int64_t>(result.paths.size());
    for (int64_t a = 0; a < path_count; ++a) {
        std::vector<int64_t> path = result.paths[a];
        if (!path.empty()) path.pop_back();
        dump["paths"][std::to_string(a)] = path;
    }
    int64_t cost_count = static_cast<int64_t>(result.times.size());
    for (int64_t a = 0; a < cost_count; ++a) dump["total_costs"].push_back(result.times[a]);
    out << dump.dump(2) << "\n";
    out.close();
    LogLine(LogStream::kOut, "Saved to " + file_name);
}

}  // namespace tamrik
