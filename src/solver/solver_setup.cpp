// Solver construction: numbering, records, the planning graph, plug-ins and search tables.
#include <algorithm>
#include <limits>
#include <stdexcept>
#include <string>

#include "base/log_sink.h"
#include "model/initial_checks.h"
#include "model/problem_checks.h"
#include "plugins/constraint_checkers.h"
#include "plugins/objectives.h"
#include "plugins/search_guidance.h"
#include "postopt/composite_post_optimizer.h"
#include "postopt/default_post_optimizer.h"
#include "postopt/route_merging_post_optimizer.h"
#include "solver/solver.h"

namespace tamrik {
namespace {

constexpr double kNoArc = 9999.0;

// Optional stops are weighed against their prizes by the construction and the improvement
// stage only.
bool HasOptionalStop(const Problem& problem) {
    return std::any_of(problem.nodes.begin(), problem.nodes.end(),
                       [](const Node& node) { return !node.required; });
}

// Routes priced by distance and duration: the unit costs, the limits, and a duration counted
// from the latest departure that ends the route earliest (as a shift over all time would).
void PriceDay(const Agent& agent, bool priced, AgentDay& day) {
    day.priced = priced;
    if (!priced) return;
    day.unit_distance = agent.unit_distance_cost.value_or(1.0);
    day.unit_duration = agent.unit_duration_cost.value_or(0.0);
    day.max_distance = agent.max_distance.value_or(day.max_distance);
    day.max_duration = agent.max_duration.value_or(day.max_duration);
    if (day.unit_duration != 0.0 || agent.max_duration) day.has_shift = true;
}

StageSettings StageSettingsOf(const Options& options) {
    StageSettings settings;
    settings.min_max = options.objective != ObjectiveType::MinSum;
    settings.seed = options.seed;
    settings.max_iterations = options.max_iterations;
    settings.stop_when_stalled = options.stop_when_stalled;
    settings.threads = options.threads;
    settings.improve = options.improve;
    settings.allow_unassigned = options.allow_unassigned;
    settings.search = options.search;
    settings.neighbours = options.neighbours;
    return settings;
}

}  // namespace

Solver::Solver(const Problem& problem, const Options& options)
    : focal_comparator(std::make_unique<DefaultFocalComparator>()),
      heuristic(std::make_unique<DefaultHeuristic>()),
      post_optimizer(std::make_unique<DefaultPostOptimizer>()),
      constraint_checker(std::make_unique<DefaultConstraintChecker>()),
      expansion(std::make_unique<DefaultExpansion>()),
      objective(std::make_unique<DefaultObjective>()),
      focal_list(FocalOrder{focal_comparator.get()}),
      stages(StageSettingsOf(options)) {
    ReportFindings(problem, options);
    travel_cost = options.route_cost == RouteCostKind::Travel;
    beyond_search = MapAgentDays(problem, options) || travel_cost ||
                    !problem.timewindow_constraint.several.empty() ||
                    !problem.initial_routes.empty() || HasOptionalStop(problem) ||
                    problem.nodes.size() > static_cast<size_t>(kMaxVertices);
    type_index = problem.type_index;
    for (const auto& [name, index] : type_index) type_name_of[index] = name;
    cost_dim = type_index.size();
    NumberVertices(problem);
    NumberAgents(problem);
    MapInitialRoutes(problem);
    label_pool = LabelPool(agents.size());
    start_set.insert(starts.begin(), starts.end());
    goal_set.insert(goals.begin(), goals.end());
    for (PointRecord& point : points) {
        for (uint64_t t : problem.allowed_type_indices(point.node_id)) {
            point.types.push_back(static_cast<int64_t>(t));
        }
    }
    MapTimeWindows(problem);
    MapTasks(problem, options);
    cost_model = CostModel(problem);
    if (!beyond_search) BuildGraph(problem);
    InstallPlugins(options);
    graph = owned_graph.get();
    return_to_end = options.return_to_end;
    objective_type = options.objective;
    improve = options.improve;
    allow_unassigned = options.allow_unassigned;
    memory_limit = options.memory_limit;
    budget = options.time_limit;
    if (!beyond_search) BuildSearchTables();
}

Solver::~Solver() = default;

// Errors stop the set-up before anything is built; warnings go to standard error, one line
// each, and the solve goes on.
void Solver::ReportFindings(const Problem& problem, const Options& options) {
    const std::vector<Finding> findings = CheckProblem(problem, options);
    ThrowFirstError(findings);
    for (const Finding& finding : findings) {
        known_infeasible = known_infeasible || finding.kind == Finding::Kind::kInfeasible;
        const char* tag = finding.kind == Finding::Kind::kInfeasible ? "[infeasible] " : "[warning] ";
        LogLine(LogStream::kError, tag + finding.message);
    }
}

void Solver::NumberVertices(const Problem& problem) {
    for (size_t i = 0; i < problem.nodes.size(); ++i) {
        const Node& node = problem.nodes[i];
        vertex_of[node.id] = static_cast<int64_t>(i);
        PointRecord point;
        point.x = static_cast<int64_t>(node.position.x);
        point.y = static_cast<int64_t>(node.position.y);
        point.z = static_cast<int64_t>(node.position.z);
        point.node_id = node.id;
        points.push_back(std::move(point));
    }
}

void Solver::NumberAgents(const Problem& problem) {
    for (size_t k = 0; k < problem.agents_ordered.size(); ++k) {
        const Agent& agent = problem.agents_ordered[k];
        auto type = problem.agent_type_of.find(agent.id);
        int64_t t = type == problem.agent_type_of.end() ? -1 : static_cast<int64_t>(type->second);
        agent_index_of[agent.id] = static_cast<int64_t>(k);
        agent_type_index_of[agent.id] = t;
        agents.push_back(AgentRecord{agent.id, t, agent.capacity_limit, agent.time_limit});
        starts.push_back(vertex_of.at(agent.start_node));
        goals.push_back(vertex_of.at(agent.end_node));
    }
    num_agents = static_cast<int32_t>(agents.size());
}

void Solver::MapInitialRoutes(const Problem& problem) {
    if (problem.initial_routes.empty()) return;
    WarmStart warm;
    warm.stops.assign(agents.size(), {});
    warm.pinned.assign(agents.size(), 0);
    for (const InitialRoute& route : problem.initial_routes) {
        const auto index = static_cast<size_t>(agent_index_of.at(route.agent_id));
        for (uint64_t id : StopsOf(route, problem.agents.at(route.agent_id))) {
            warm.stops[index].push_back(static_cast<Vertex>(vertex_of.at(id)));
        }
        warm.pinned[index] = static_cast<size_t>(route.pinned);
    }
    stages.SetWarmStart(std::move(warm));
}

bool Solver::MapAgentDays(const Problem& problem, const Options& options) {
    bool any = false;
    const bool priced = problem.PricesRoutes();
    for (const Agent& agent : problem.agents_ordered) {
        AgentDay day;
        day.has_shift = agent.shift_start.has_value() || agent.shift_end.has_value();
        day.shift_start = agent.shift_start.value_or(0.0);
        day.shift_end = agent.shift_end.value_or(day.shift_end);
        day.max_stops = agent.max_stops.value_or(-1);
        if (options.objective == ObjectiveType::MinSum) day.fixed_cost = agent.fixed_cost;
        PriceDay(agent, priced, day);
        any = any || day.Binds();
        agent_days.push_back(day);
    }
    if (!any) agent_days.clear();
    return any;
}

void Solver::MapTimeWindows(const Problem& problem) {
    for (const auto& [node_id, window] : problem.timewindow_constraint.windows) {
        auto vertex = vertex_of.find(node_id);
        if (vertex == vertex_of.end()) continue;  // reported by ReportFindings
        time_windows[vertex->second] = window;
    }
    for (const auto& [node_id, list] : problem.timewindow_constraint.several) {
        auto vertex = vertex_of.find(node_id);
        if (vertex != vertex_of.end()) several_windows[vertex->second] = list;
    }
}

void Solver::BuildGraph(const Problem& problem) {
    size_t n = problem.nodes.size();
    owned_graph = std::make_unique<SparseGraph>();
    owned_graph->ChangeCostDim(cost_dim, kNoArc);
    for (size_t i = 0; i < n; ++i) owned_graph->AddVertex(static_cast<int64_t>(i));
    if (n > 0) owned_graph->ReserveAdjacency(n - 1);
    // costs[(i * n + j) * cost_dim + t]: the cost of i -> j for type t.
    std::vector<double> costs(n * n * cost_dim, kNoArc);
    given_costs.assign(n * n * cost_dim, 0);
    for (const auto& [name, matrix] : problem.cost_matrices) {
        uint64_t t = type_index.at(name);
        for (size_t i = 0; i < matrix.size(); ++i) {
            const double service = cost_model.Service(i);
            for (size_t j = 0; j < matrix[i].size(); ++j) {
                // A leg takes the service of the node it leaves (none without services).
                const double leg = matrix[i][j];
                costs[(i * n + j) * cost_dim + t] = i != j ? leg + service : leg;
                given_costs[(i * n + j) * cost_dim + t] = 1;
            }
        }
    }
    for (uint64_t t = 0; t < cost_dim; ++t) {
        if (!cost_model.HasMetric(t)) continue;
        for (size_t i = 0; i < n; ++i) {
            for (size_t j = 0; j < n; ++j) {
                costs[(i * n + j) * cost_dim + t] = cost_model.Cost(static_cast<int64_t>(t), i, j);
                given_costs[(i * n + j) * cost_dim + t] = 1;
            }
        }
    }
    CostVector arc(cost_dim);
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = 0; j < n; ++j) {
            if (i == j) continue;
            auto first = costs.begin() + static_cast<std::ptrdiff_t>((i * n + j) * cost_dim);
            std::copy(first, first + static_cast<std::ptrdiff_t>(cost_dim), arc.begin());
            owned_graph->AddArc(i, j, arc);
        }
    }
}

void Solver::InstallPlugins(const Options& options) {
    if (options.objective == ObjectiveType::MinSum) {
        objective = std::make_unique<MinSumObjective>();
    }
    bool has_cost_limit = false;
    for (const AgentRecord& agent : agents) has_cost_limit = has_cost_limit || agent.cost_limit > 0;
    if (!time_windows.empty() || has_cost_limit) {
        auto composite = std::make_unique<CompositeConstraintChecker>();
        composite->AddMember(std::make_unique<DefaultConstraintChecker>());
        if (!time_windows.empty()) {
            composite->AddMember(std::make_unique<TimeWindowConstraintChecker>());
        }
        if (has_cost_limit) composite->AddMember(std::make_unique<TimeLimitConstraintChecker>());
        constraint_checker = std::move(composite);
    }
    auto in_group = std::make_unique<DefaultPostOptimizer>();
    auto merging = std::make_unique<RouteMergingPostOptimizer>();
    // Their legs come from the graph; the free last legs take services from the cost model.
    in_group->BindCosts(&cost_model);
    merging->BindCosts(&cost_model);
    route_optimizers = {in_group.get(), merging.get()};
    auto post = std::make_unique<CompositePostOptimizer>();
    post->AddMember(std::move(in_group));
    post->AddMember(std::move(merging));
    installed_post_optimizer = post.get();
    post_optimizer = std::move(post);
}

int32_t Solver::BuildSearchTables() {
    BuildTimeWindowMst();
    CheckReachability();
    heuristic->Init(graph, points, agents);
    if (auto* tree = dynamic_cast<DefaultHeuristic*>(heuristic.get())) {
        // With the given costs known, the pair list holds exactly the usable pairs.
        tree->SetMstEdges(mst_edges, KnowsGivenCosts() ? std::numeric_limits<double>::infinity()
                                                       : DefaultHeuristic::kUnusable);
    }
    constraint_checker->Init(graph, points, agents);
    ConfigureTimeWindowCheckers();
    expansion->Init(goals);
    objective->Init(goals);
    post_optimizer->SetReturnToEnd(return_to_end);
    post_optimizer->SetStartNodes(starts);
    post_optimizer->SetEndNodes(goals);
    post_optimizer->SetTimeWindows(time_windows);
    return 1;
}

void Solver::ConfigureTimeWindowCheckers() {
    auto configure = [this](ConstraintCheckerPlugin* checker) {
        if (auto* windows = dynamic_cast<TimeWindowConstraintChecker*>(checker)) {
            windows->ReadRules(Rules());
        }
    };
    if (auto* composite = dynamic_cast<CompositeConstraintChecker*>(constraint_checker.get())) {
        for (const auto& member : composite->Members()) configure(member.get());
    } else {
        configure(constraint_checker.get());
    }
}

void Solver::SetPoints(const std::vector<PointRecord>& new_points) {
    points = new_points;
    route_rules.reset();
    for (const PointRecord& point : points) {
        bool only_zero = point.types == std::vector<int64_t>{0};
        bool zero_and_one = point.types == std::vector<int64_t>{0, 1};
        if (!only_zero && !zero_and_one) throw std::invalid_argument("Wrong Point type");
    }
}

void Solver::SetAgents(const std::vector<AgentRecord>& new_agents) {
    agents = new_agents;
    route_rules.reset();
}

void Solver::SetGraph(PlannerGraph* new_graph) {
    graph = new_graph;
    route_rules.reset();
}

int32_t Solver::Initialize(PlannerGraph* new_graph, const std::vector<PointRecord>& new_points,
                           const std::vector<AgentRecord>& new_agents,
                           const std::vector<int64_t>& new_starts,
                           const std::vector<int64_t>& new_goals, const std::string& name,
                           double new_time_limit) {
    instance_name = name;
    SetGraph(new_graph);
    SetPoints(new_points);
    SetAgents(new_agents);
    cost_dim = graph->CostDim();
    starts = new_starts;
    start_set.insert(starts.begin(), starts.end());
    num_agents = static_cast<int32_t>(starts.size());
    if (pool_capacity == 0) label_pool = LabelPool(starts.size());
    goals = new_goals;
    goal_set.insert(goals.begin(), goals.end());
    return_to_end = false;
    BuildSearchTables();
    budget = new_time_limit;
    return Solve();
}

}  // namespace tamrik
