#pragma once

#include <cstdint>
#include <vector>

#include "graph/planner_graph.h"
#include "model/result.h"
#include "base/plugin_base.h"
#include "records/search_records.h"

namespace tamrik {

// The interface of the route improvers the solver runs on every solution it records.
class PostOptimizerPlugin : public PluginBase {
public:
    virtual void Optimize(const PlannerGraph* graph, const std::vector<PointRecord>& points,
                          const std::vector<AgentRecord>& agents, Result& result) = 0;
    virtual void SetReturnToEnd(bool return_to_end) = 0;
    virtual void SetStartNodes(const std::vector<int64_t>& starts) = 0;
    virtual void SetEndNodes(const std::vector<int64_t>& ends) = 0;
    // Returns whether any window is in force.
    virtual bool SetTimeWindows(const TimeWindowMap& time_windows) = 0;
};

}  // namespace tamrik
