#include "model/cost_model.h"

#include <algorithm>
#include <unordered_set>

namespace tamrik {
namespace {

constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180.0;

}  // namespace

CostModel::CostModel(const Problem& problem) : vertices(problem.nodes.size()) {
    bool haversine = Fill(problem, problem.metrics, problem.cost_matrices, types);
    if (problem.HasDurations()) {
        haversine = Fill(problem, problem.duration_metrics, problem.duration_matrices, durations) ||
                    haversine;
    }
    FillServices(problem);
    positions.reserve(vertices);
    for (const Node& node : problem.nodes) positions.push_back(node.position);
    if (!haversine) return;
    for (const Position& position : positions) {
        latitude.push_back(position.y * kRadiansPerDegree);
        longitude.push_back(position.x * kRadiansPerDegree);
        cos_latitude.push_back(std::cos(latitude.back()));
    }
}

bool CostModel::Fill(const Problem& problem,
                     const std::unordered_map<std::string, Metric>& metrics,
                     const std::unordered_map<std::string, CostMatrix>& matrices,
                     std::vector<TypeCosts>& table) const {
    table.resize(problem.type_index.size());
    bool haversine = false;
    for (const auto& [name, metric] : metrics) {
        auto index = problem.type_index.find(name);
        if (index == problem.type_index.end()) continue;
        TypeCosts& costs = table[index->second];
        costs.source = Source::kMetric;
        costs.metric = metric;
        haversine = haversine || metric.kind == MetricKind::kHaversine;
    }
    for (const auto& [name, rows] : matrices) {
        auto index = problem.type_index.find(name);
        if (index == problem.type_index.end()) continue;
        TypeCosts& costs = table[index->second];
        costs.source = Source::kMatrix;
        costs.matrix.assign(vertices * vertices, kNoArc);
        for (size_t i = 0; i < rows.size() && i < vertices; ++i) {
            for (size_t j = 0; j < rows[i].size() && j < vertices; ++j) {
                costs.matrix[i * vertices + j] = rows[i][j];
            }
        }
    }
    return haversine;
}

void CostModel::FillServices(const Problem& problem) {
    std::unordered_set<uint64_t> endpoints;
    for (const Agent& agent : problem.agents_ordered) {
        endpoints.insert(agent.start_node);
        endpoints.insert(agent.end_node);
    }
    for (size_t v = 0; v < vertices; ++v) {
        const Node& node = problem.nodes[v];
        if (!(node.service > 0.0) || endpoints.count(node.id) != 0) continue;
        service.resize(vertices, 0.0);
        service[v] = node.service;
    }
}

double CostModel::Haversine(size_t a, size_t b) const {
    const double half_lat = std::sin((latitude[b] - latitude[a]) / 2.0);
    const double half_lon = std::sin((longitude[b] - longitude[a]) / 2.0);
    const double h = half_lat * half_lat + cos_latitude[a] * cos_latitude[b] * half_lon * half_lon;
    return 2.0 * kEarthRadius * std::asin(std::sqrt(std::min(1.0, h)));
}

}  // namespace tamrik
