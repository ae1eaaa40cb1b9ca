#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "graph/sparse_graph.h"
#include "improve/stage_runner.h"
#include "model/cost_model.h"
#include "model/problem.h"
#include "model/result.h"
#include "plugins/plugin_kinds.h"
#include "postopt/post_optimizer_plugin.h"
#include "postopt/route_optimizer_base.h"
#include "solver/frontier.h"
#include "solver/joint_key_index.h"
#include "solver/label_pool.h"
#include "solver/open_list.h"
#include "route/route_rules.h"
#include "records/search_records.h"
#include "route/task_rules.h"
#include "solver/search_results.h"
#include "solver/simple_timer.h"
#include "solver/memory_watch.h"
#include "solver/budget_watch.h"

namespace tamrik {

class DefaultHeuristic;

// Anytime focal search over the joint states of all agents. Construction turns a Problem into
// search tables and plug-ins; Solve runs the search once; the accessors return copies.
class Solver {
public:
    Solver(const Problem& problem, const Options& options);
    virtual ~Solver();

    Solver(const Solver&) = delete;
    Solver& operator=(const Solver&) = delete;

    virtual void SetPoints(const std::vector<PointRecord>& new_points);
    virtual void SetAgents(const std::vector<AgentRecord>& new_agents);
    virtual void SetGraph(PlannerGraph* new_graph);
    virtual int32_t Initialize(PlannerGraph* new_graph, const std::vector<PointRecord>& new_points,
                               const std::vector<AgentRecord>& new_agents,
                               const std::vector<int64_t>& new_starts,
                               const std::vector<int64_t>& new_goals, const std::string& name,
                               double new_time_limit);
    virtual Result GetResult();
    virtual SearchSummary GetSummary() const;
    virtual std::vector<SearchSnapshot> GetResultProcess() const;
    virtual int32_t Solve();
    // The stops that no agent may serve even on a route of its own (or with its "same"
    // partner), each with why: they fit nowhere whatever the other routes do.
    std::vector<UnassignedStop> StaticUnassigned() const;
    // One line per agent whose pinned stops of the initial routes break a rule of its route
    // on their own: no solve can keep them.
    std::vector<std::string> PinnedBreaks() const;
    virtual int32_t BuildSearchTables();
    virtual int32_t CheckReachability();
    virtual int32_t BuildTimeWindowMst();
    virtual int64_t AllocateLabel();
    virtual bool IsDominated(const Label& label);
    virtual void AddToFrontier(const Label& label);
    virtual void ExtractPaths(int64_t goal_id);
    virtual bool IsGoal(const Label& label) const;
    virtual double SumCost(const Label& label) const;
    virtual void ResetFrontiers();
    virtual int64_t CountVisited(const Label& label) const;
    virtual void UpdateFocal(double old_bound, double new_bound);
    virtual void UpdateStatistics();
    virtual void PruneByIncumbent(double cost);

    // A check polled every few search steps; when it returns true the search stops at once,
    // keeping the best solution found so far. Used to honour interrupts from the host program.
    void SetInterruptCheck(std::function<bool()> check) { interrupt_check = std::move(check); }
    // Called with each new best solution; returning false stops the solve as an interrupt does.
    void SetProgressCallback(std::function<bool(const ProgressReport&)> callback) {
        progress_callback = std::move(callback);
    }
    bool Interrupted() const { return interrupted; }

protected:
    struct FocalOrder {
        const FocalComparatorPlugin* comparator;
        bool operator()(const FocalEntry& a, const FocalEntry& b) const {
            return comparator->Compare(a, b);
        }
    };
    using FocalList = std::set<FocalEntry, FocalOrder>;

    std::unique_ptr<FocalComparatorPlugin> focal_comparator;
    std::unique_ptr<HeuristicPlugin> heuristic;
    std::unique_ptr<PostOptimizerPlugin> post_optimizer;
    std::unique_ptr<ConstraintCheckerPlugin> constraint_checker;
    std::unique_ptr<ExpansionPlugin> expansion;
    std::unique_ptr<ObjectivePlugin> objective;
    PlannerGraph* graph = nullptr;
    std::vector<PointRecord> points;
    std::vector<AgentRecord> agents;
    std::unordered_map<std::string, uint64_t> type_index;
    std::unordered_map<uint64_t, std::string> type_name_of;
    uint64_t cost_dim = 0;
    std::unordered_map<uint64_t, int64_t> vertex_of;
    std::unordered_map<uint64_t, int64_t> agent_index_of;
    std::unordered_map<uint64_t, int64_t> agent_type_index_of;
    std::unique_ptr<SparseGraph> owned_graph;
    std::vector<MstEdge> mst_edges;
    Result result;
    SearchSummary summary;
    std::vector<int64_t> starts;
    std::unordered_set<int64_t> start_set;
    std::unordered_set<int64_t> goal_set;
    int32_t num_agents = 0;
    std::vector<int64_t> goals;
    std::vector<int64_t> unreachable_points;
    TimeWindowMap time_windows;
    // Vertices with several windows (time_windows holds their envelopes).
    std::unordered_map<int64_t, std::vector<TimeWindow>> several_windows;
    double budget = 60.0;
    bool return_to_end = true;
    ObjectiveType objective_type = ObjectiveType::MinMax;
    bool improve = false;
    uint64_t memory_limit = 0;
    double last_update_time = 0.0;
    SimpleTimer timer;
    BudgetWatch budget_watch;
    MemoryWatch memory_watch;
    // Why the search (and the improvement stage after it) ended; copied into the result.
    StopReason stop_reason = StopReason::kCompleted;
    uint64_t pool_capacity = 0;
    uint64_t pool_chunk = 1024;
    uint64_t pool_max_chunk = 4096;
    LabelPool label_pool;
    OpenList open_list;
    FocalList focal_list;
    std::vector<double> weight_schedule{100.0};
    double focal_bound = 0.0;
    double incumbent_cost = -1.0;
    int32_t max_phases = 100;
    int32_t solution_found = 0;
    double max_route_cost = -1.0;
    JointKeyIndex frontier_index;
    uint64_t next_frontier_number = 0;
    std::vector<Frontier> frontiers;
    std::vector<SearchSnapshot> anytime_results;
    uint64_t next_label_id = 0;
    std::vector<int64_t> parent;
    std::string instance_name;

    // The one route rules object of a solve, read by the construction, the stages, the
    // route optimizers and the checks of results: made at its first use after the instance
    // was set, bound to the graph or, without one, the cost model.
    const RouteRules& Rules() const;

private:
    enum class PhaseEnd { kContinue, kStop };

    // A Label's visited set holds 256 vertices; a graph handed to Initialize with more is
    // refused (a Problem with more is solved without the search).
    static void CheckVertexCount(size_t count);

    // Construction steps.
    void NumberVertices(const Problem& problem);
    void ReportFindings(const Problem& problem, const Options& options);
    // Loads and task order, as far as the options enforce them.
    void MapTasks(const Problem& problem, const Options& options);
    // With loads or task order in force: takes the goal's routes (or their post-optimized
    // form) when they keep those rules, with the costs the waits make; otherwise the last
    // solution stays and the goal does not count. Whether it counted.
    bool TakeCheckedGoal(const Label& goal);
    // Checks result's routes against every rule and sets their costs; whether they keep them.
    bool CheckTasksOfResult();
    void NumberAgents(const Problem& problem);
    // Shifts, stop limits and (under min-sum) fixed costs; whether any agent has one.
    bool MapAgentDays(const Problem& problem, const Options& options);
    // Fills result.unassigned after a failed solve: the stops that no agent may serve even
    // on a route of their own (or with their "same" partner), and the stop the construction
    // found no room for. With stops of the first kind the stop reason is kInfeasible.
    void ExplainFailure();
    // The initial routes as stops per agent index (after NumberAgents).
    void MapInitialRoutes(const Problem& problem);
    void MapTimeWindows(const Problem& problem);
    void BuildGraph(const Problem& problem);
    void InstallPlugins(const Options& options);
    void ConfigureTimeWindowCheckers();

    // Search steps.
    Label MakeRootLabel(size_t vertex_count);
    PhaseEnd RunPhase(size_t phase, size_t vertex_count);
    bool RefillFocal(size_t phase);
    // Tells progress_callback about the current result when it is a new best.
    // `source`: "search", "construction" or "improvement".
    void ReportProgress(const char* source);
    // The node ids of out's paths, from the vertex records.
    void FillNodeIds(Result& out) const;
    std::vector<uint64_t> NodeIdsOf(const std::vector<int64_t>& path) const;
    // When each of out's routes happens.
    void FillSchedules(Result& out) const;
    void Rethreshold(size_t phase);
    // Whether the goal counted as a solution.
    bool HandleGoal(const Label& goal);
    // Statistics, pruning by the new incumbent and the progress report of a goal that counts.
    void CountGoal();
    // Runs the post-optimizers on the result; under min-sum keeps the search's routes when
    // the post-optimized total is larger.
    void PostOptimize();
    // Optimize of the post-optimizer slot on `routes`.
    void RunPostOptimizer(Result& routes);
    // The incumbent value the search prunes with: the total under min-sum, the largest route
    // cost otherwise.
    double ObjectiveValue(const Result& routes) const;
    // The successor of parent_label that moves `agent` to `vertex`, built into `successor`:
    // true when it passes the move rules, the constraint checker and dominance.
    bool PrepareMove(const Label& parent_label, int64_t agent, int64_t vertex,
                     size_t vertex_count, Label& successor);
    // Estimates, scores and stores the first `count` prepared successors, in order.
    void FinishMoves(const Label& parent_label, size_t count);
    void FinishMove(const Label& parent_label, Label& successor);
    // What the estimates let the search conclude from a successor's costs alone.
    enum class EstimateBound { kNone, kLongestRoute, kCostSum };
    // Needs default_heuristic set.
    EstimateBound BoundOfEstimates() const;
    // True when FinishMove would drop the successor for its incumbent test whatever its
    // estimate, so that neither the estimate nor the dominance test is needed.
    bool CannotBeatIncumbent(const Label& successor) const;
    bool PollInterrupt();
    // With the improvement stage on: whether the search, having found a solution, has had
    // its share of the budget and hands over.
    bool SearchHandsOver();
    // Runs the improvement stage from the current solution until the budget, an interrupt,
    // the iteration cap or a stall ends it.
    void RunImprovement();
    // Builds a first solution without the search and records it; false (with the reason on
    // standard error) when the construction finds none.
    bool RunConstruction();
    // What the stages ask of the solver: its clock, the host, and recording routes.
    StageHooks HooksForStages();
    // Asks the host at once whether to stop (the search polls less often: PollInterrupt).
    bool HostWantsStop();
    // Takes the routes now in `result` as the new best solution and tells the progress
    // callback.
    // At `time`, or (below 0) at the solver's clock now.
    void RecordRoutes(const char* source, double time = -1.0);
    // The prizes of the optional stops that no path of the result serves.
    double LostPrize() const;
    // Frees the search's labels and lists once the search is over.
    void ReleaseSearchMemory();
    // Settles the stop reason; 1 with a solution, else 0.
    int32_t Finish();
    double TwEdgeWeight(int64_t i, int64_t j) const;
    // Whether the graph is the one built from the problem's matrices, whose given entries
    // are known; an outside graph marks missing arcs by costs of 9999.0 or more.
    bool KnowsGivenCosts() const;
    // Whether the cost c of i -> j for type t is a usable arc cost.
    bool UsableCost(int64_t i, int64_t j, uint64_t t, double c) const;
    void WritePathDump() const;

    std::function<bool()> interrupt_check;
    std::function<bool(const ProgressReport&)> progress_callback;
    // The objective value last reported to progress_callback.
    double reported_value = std::numeric_limits<double>::infinity();
    bool interrupted = false;
    uint32_t steps_since_poll = 0;
    uint32_t pops_since_clock = 0;
    int64_t generated_at_goal = 0;
    // Reused buffers for the label being expanded, the successor being built, and labels
    // read back from the pool for the focal list.
    Label popped;
    Label scratch;
    // Successors of the label being expanded; slots are reused from one expansion to the next.
    std::vector<Label> batch;
    // The heuristic when it is exactly the default one, which estimates two labels at once and
    // tells whether its estimates are finite and never negative.
    const DefaultHeuristic* default_heuristic = nullptr;
    EstimateBound estimate_bound = EstimateBound::kNone;
    // Every travel cost of the problem, the graph's source.
    CostModel cost_model;
    // More vertices than a Label holds, or rules the search does not know (shifts, stop
    // limits, fixed costs, travel costs, several windows at a node): no graph and no search,
    // the construction instead.
    bool beyond_search = false;
    // By agent index (empty: no agent has a shift, a stop limit or a fixed cost that counts).
    std::vector<AgentDay> agent_days;
    bool allow_unassigned = false;
    // The construction, warm start, soft start and improvement stage, for solves that go
    // beyond the search or on after it.
    StageRunner stages;
    bool travel_cost = false;
    TaskRules tasks;
    // Rules that no solution can meet were found before solving.
    bool known_infeasible = false;
    mutable std::unique_ptr<RouteRules> route_rules;
    // The route optimizers the set-up installed in `installed_post_optimizer`, which read
    // Rules() while it runs (not once the slot holds another post-optimizer).
    std::vector<RouteOptimizerBase*> route_optimizers;
    const PostOptimizerPlugin* installed_post_optimizer = nullptr;
    // The graph's dense cost table, read by the move rules; the graph is not changed while
    // the search runs.
    ArcCostTable arc_table;
    // given_costs[(i * n + j) * cost_dim + t] is 1 when a matrix gives the cost of i -> j for
    // type t; the other entries hold the fill value 9999.0 and are no arcs.
    std::vector<uint8_t> given_costs;
};

}  // namespace tamrik
