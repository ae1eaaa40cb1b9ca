#pragma once

#include <cstdint>
#include <vector>

#include "graph/planner_graph.h"
#include "base/plugin_base.h"
#include "records/search_records.h"

namespace tamrik {

// A constraint checker's answer on a move. When `updated` is true the moving agent's
// accumulated cost becomes `new_cost`; otherwise `new_cost` is 0.0 and means nothing.
struct TransitionCheck {
    bool feasible = true;
    double new_cost = 0.0;
    bool updated = false;
};

class ConstraintCheckerPlugin : public PluginBase {
public:
    virtual void Init(const PlannerGraph* graph, const std::vector<PointRecord>& points,
                      const std::vector<AgentRecord>& agents) = 0;
    virtual bool IsForbidden(int64_t agent, int64_t vertex) const = 0;
    // `label` is the successor being built: `vertex` is already marked visited and the
    // agent's cost includes the arc into it, while its position is still the vertex it leaves.
    virtual TransitionCheck CheckTransition(const Label& label, int64_t agent,
                                            int64_t vertex) const = 0;
    virtual bool IsWithinLimit(const Label& label, int64_t agent) const = 0;
    virtual bool IsDeadEnd(const Label& label) const = 0;
};

class ObjectivePlugin : public PluginBase {
public:
    virtual void Init(const std::vector<int64_t>& end_nodes) = 0;
    virtual double Evaluate(const std::vector<double>& costs) const = 0;
    virtual double EvaluateWithHeuristic(const Label& label, int64_t remaining_agents,
                                         double heuristic) const = 0;
};

class HeuristicPlugin : public PluginBase {
public:
    virtual void Init(const PlannerGraph* graph, const std::vector<PointRecord>& points,
                      const std::vector<AgentRecord>& agents) = 0;
    virtual double ComputeHeuristic(const Label& label) const = 0;
};

class ExpansionPlugin : public PluginBase {
public:
    virtual void Init(const std::vector<int64_t>& end_nodes) = 0;
    // Index of the agent to move next, or -1 when no agent can move.
    virtual int64_t SelectAgent(const Label& label) const = 0;
};

class FocalComparatorPlugin : public PluginBase {
public:
    // Strict weak ordering: true when `a` is served before `b`.
    virtual bool Compare(const FocalEntry& a, const FocalEntry& b) const = 0;
};

}  // namespace tamrik
