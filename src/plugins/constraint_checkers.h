#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "plugins/plugin_kinds.h"
#include "route/own_ends.h"
#include "route/route_rules.h"

namespace tamrik {

// Agent-type assignment (IsForbidden) and the type-0 dead-end rule (IsDeadEnd); accepts
// every transition without update and every cost as within limit.
class DefaultConstraintChecker : public ConstraintCheckerPlugin {
public:
    std::string Name() const override;
    void Init(const PlannerGraph* graph, const std::vector<PointRecord>& points,
              const std::vector<AgentRecord>& agents) override;
    bool IsForbidden(int64_t agent, int64_t vertex) const override;
    TransitionCheck CheckTransition(const Label& label, int64_t agent,
                                    int64_t vertex) const override;
    bool IsWithinLimit(const Label& label, int64_t agent) const override;
    bool IsDeadEnd(const Label& label) const override;

    const PlannerGraph* Graph() const { return graph; }
    const std::vector<PointRecord>& Points() const { return points; }
    const std::vector<AgentRecord>& Agents() const { return agents; }
    uint64_t AgentCount() const { return agent_count; }

private:
    const PlannerGraph* graph = nullptr;
    std::vector<PointRecord> points;
    std::vector<AgentRecord> agents;
    uint64_t agent_count = 0;
    // Vertices (below 256) whose `types` are exactly (0), so that IsDeadEnd tests them with
    // word operations; rebuilt by Init.
    VisitedSet type0_only_{};
};

// Per-agent cost limit (IsWithinLimit); IsForbidden and IsDeadEnd as the default checker.
class TimeLimitConstraintChecker : public ConstraintCheckerPlugin {
public:
    std::string Name() const override;
    void Init(const PlannerGraph* graph, const std::vector<PointRecord>& points,
              const std::vector<AgentRecord>& agents) override;
    bool IsForbidden(int64_t agent, int64_t vertex) const override;
    TransitionCheck CheckTransition(const Label& label, int64_t agent,
                                    int64_t vertex) const override;
    bool IsWithinLimit(const Label& label, int64_t agent) const override;
    bool IsDeadEnd(const Label& label) const override;

private:
    DefaultConstraintChecker base;
    std::vector<AgentRecord> agents;
};

// Vertex time windows with waiting, a one-step look-ahead over skipped vertices and a
// reachability pass over the unserved vertices (CheckTransition); IsForbidden and IsDeadEnd
// as the default checker. Name() is "TimeConstraintChecker".
//
// The solver hands the per-agent ends, the windows, the per-agent starts and the
// return-to-end flag through the setters after Init (ReadRules, from its route rules); each
// setter replaces the old value.
class TimeWindowConstraintChecker : public ConstraintCheckerPlugin {
public:
    std::string Name() const override;
    void Init(const PlannerGraph* graph, const std::vector<PointRecord>& points,
              const std::vector<AgentRecord>& agents) override;
    bool IsForbidden(int64_t agent, int64_t vertex) const override;
    TransitionCheck CheckTransition(const Label& label, int64_t agent,
                                    int64_t vertex) const override;
    bool IsWithinLimit(const Label& label, int64_t agent) const override;
    bool IsDeadEnd(const Label& label) const override;

    // Replaces `ends` and rebuilds `end_set`.
    void SetEnds(const std::vector<int64_t>& new_ends);
    void SetTimeWindows(const TimeWindowMap& windows);
    // Replaces `starts` and rebuilds `start_set`.
    void SetStarts(const std::vector<int64_t>& new_starts);
    void SetReturnToEnd(bool value);
    // Service time by vertex (empty: none), which a free leg still takes.
    void SetServices(const std::vector<double>& new_services) { services = new_services; }
    // The ends, windows, starts, return-to-end flag and services of the route rules, through
    // the setters: the checker then times legs as every other stage does.
    void ReadRules(const RouteRules& rules);

    const std::vector<int64_t>& Ends() const { return ends; }
    const std::vector<int64_t>& Starts() const { return starts; }
    const std::unordered_set<int64_t>& EndSet() const { return end_set; }
    const std::unordered_set<int64_t>& StartSet() const { return start_set; }
    const TimeWindowMap& TimeWindows() const { return time_windows; }
    bool ReturnToEnd() const { return return_to_end; }
    const PlannerGraph* Graph() const { return graph; }
    uint64_t AgentCount() const { return agent_count; }

    // Travel time of agent `agent` from `from` to `to`, with the free legs of the route rules
    // (to the agent's own start or end when return_to_end is false, taking only the service
    // of `from`). An agent index outside the records has no type and so travels for free.
    double TravelTime(int64_t from, int64_t to, int64_t agent) const;
    // Whether agent `agent` may serve `vertex` (type allowed, not another agent's end, not
    // another agent's start). False for indices outside the records.
    bool CanServe(int64_t agent, int64_t vertex) const;

private:
    // What one CheckTransition needs to know about the moving agent, looked up once.
    struct AgentLegs {
        int64_t type = -1;
        OwnEnds own;
    };
    AgentLegs LegsOf(int64_t agent) const;
    double Travel(int64_t from, int64_t to, const AgentLegs& legs,
                  const ArcCostTable& table) const;
    // The window of `vertex`, or null when it has none.
    const TimeWindow* WindowOf(int64_t vertex) const;
    // Rebuilds legs_ and serve_masks_ (after Init and every setter but SetTimeWindows).
    void RebuildDerived();

    DefaultConstraintChecker base;
    TimeWindowMap time_windows;
    const PlannerGraph* graph = nullptr;
    std::vector<PointRecord> points;
    std::vector<AgentRecord> agents;
    std::vector<int64_t> ends;
    std::vector<int64_t> starts;
    std::unordered_set<int64_t> end_set;
    std::unordered_set<int64_t> start_set;
    bool return_to_end = true;
    uint64_t agent_count = 0;
    std::vector<double> services;

    // Derived tables, so that a transition check neither allocates nor hashes per vertex.
    // Windows of the vertices 0 .. 255 (window_mask_ tells which have one); other ids are
    // looked up in time_windows.
    std::array<TimeWindow, kMaxVertices> dense_windows_{};
    VisitedSet window_mask_{};
    // legs_[k] = LegsOf(k).
    std::vector<AgentLegs> legs_;
    // serve_masks_[k]: the vertices w below min(points, 256) with CanServe(k, w).
    std::vector<VisitedSet> serve_masks_;
};

// Ordered owning list of checkers acting as one (members asked in order, early stops).
class CompositeConstraintChecker : public ConstraintCheckerPlugin {
public:
    CompositeConstraintChecker() = default;
    CompositeConstraintChecker(const CompositeConstraintChecker&) = delete;
    CompositeConstraintChecker& operator=(const CompositeConstraintChecker&) = delete;
    // Destroys the members in list order, then the list.
    ~CompositeConstraintChecker() override;

    std::string Name() const override;
    void Init(const PlannerGraph* graph, const std::vector<PointRecord>& points,
              const std::vector<AgentRecord>& agents) override;
    bool IsForbidden(int64_t agent, int64_t vertex) const override;
    TransitionCheck CheckTransition(const Label& label, int64_t agent,
                                    int64_t vertex) const override;
    bool IsWithinLimit(const Label& label, int64_t agent) const override;
    bool IsDeadEnd(const Label& label) const override;

    // Appends a member (ignored when null).
    void AddMember(std::unique_ptr<ConstraintCheckerPlugin> member);
    const std::vector<std::unique_ptr<ConstraintCheckerPlugin>>& Members() const {
        return members;
    }
    std::vector<std::unique_ptr<ConstraintCheckerPlugin>>& Members() { return members; }

private:
    std::vector<std::unique_ptr<ConstraintCheckerPlugin>> members;
    // The one label copy of CheckTransition, made only once a member updates the cost and
    // another member is still to be asked; kept between calls so that its sequences reuse
    // their storage. It carries no meaning outside one CheckTransition call.
    mutable Label scratch_;
};

}  // namespace tamrik
