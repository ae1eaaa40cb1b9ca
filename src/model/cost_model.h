#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "model/metric.h"
#include "model/problem.h"

namespace tamrik {

// Every travel cost of an instance, by agent type index and vertex index: from the type's
// matrix, from its metric over the node coordinates, or 9999 (no arc) where neither gives
// one. Metric costs are computed when asked, so the model stays linear in the node count.
// A leg's cost is the service of the node it leaves and the travel: service is spent before
// the agent leaves, so every time along a route is the sum of its legs and waits.
class CostModel {
public:
    static constexpr double kNoArc = 9999.0;

    CostModel() = default;
    // Types are numbered as in problem.type_index; matrix entries beyond the node count and
    // types without an index are left out (the problem checks report them).
    explicit CostModel(const Problem& problem);

    size_t VertexCount() const { return vertices; }
    size_t TypeCount() const { return types.size(); }
    bool HasMetric(size_t type) const {
        return type < types.size() && types[type].source == Source::kMetric;
    }

    // The service time of a vertex: its node's "service" for a target, 0 for an agent's
    // start or end.
    double Service(size_t vertex) const { return service.empty() ? 0.0 : service[vertex]; }
    // Every vertex's service time; empty when no target has any.
    const std::vector<double>& Services() const { return service; }

    // The cost of the leg from -> to for the type: 0 from a vertex to itself; otherwise the
    // service of `from` and the travel (a missing arc stays 9999 or more, no arc).
    double Cost(int64_t type, size_t from, size_t to) const {
        const double travel = Travel(type, from, to);
        return service.empty() || from == to ? travel : service[from] + travel;
    }

    // The travel of from -> to for the type alone: 0 from a vertex to itself.
    double Travel(int64_t type, size_t from, size_t to) const { return Of(types, type, from, to); }

    // Whether travel times are given apart from the costs.
    bool HasDurations() const { return !durations.empty(); }
    // The time the leg from -> to takes: the service of `from` and the travel time. Without
    // durations apart, its cost.
    double LegTime(int64_t type, size_t from, size_t to) const {
        if (durations.empty()) return Cost(type, from, to);
        const double travel = Of(durations, type, from, to);
        return service.empty() || from == to ? travel : service[from] + travel;
    }

private:
    enum class Source { kNone, kMatrix, kMetric };
    struct TypeCosts {
        Source source = Source::kNone;
        Metric metric;
        // matrix[from * vertices + to]; kNoArc where the matrix gives nothing.
        std::vector<double> matrix;
    };

    double Of(const std::vector<TypeCosts>& table, int64_t type, size_t from, size_t to) const {
        if (from == to) return 0.0;
        if (static_cast<uint64_t>(type) >= table.size()) return kNoArc;
        const TypeCosts& costs = table[static_cast<size_t>(type)];
        switch (costs.source) {
            case Source::kMatrix: return costs.matrix[from * vertices + to];
            case Source::kMetric: return costs.metric.Of(Distance(costs.metric.kind, from, to));
            case Source::kNone: break;
        }
        return kNoArc;
    }
    // The table of every type from its metric or matrix; true when some metric is haversine.
    bool Fill(const Problem& problem, const std::unordered_map<std::string, Metric>& metrics,
              const std::unordered_map<std::string, CostMatrix>& matrices,
              std::vector<TypeCosts>& table) const;

    double Distance(MetricKind kind, size_t a, size_t b) const {
        const Position& p = positions[a];
        const Position& q = positions[b];
        if (kind == MetricKind::kHaversine) return Haversine(a, b);
        const double dx = p.x - q.x;
        const double dy = p.y - q.y;
        const double dz = p.z - q.z;
        if (kind == MetricKind::kManhattan) return std::fabs(dx) + std::fabs(dy) + std::fabs(dz);
        return std::sqrt(dx * dx + dy * dy + dz * dz);
    }
    double Haversine(size_t a, size_t b) const;
    void FillServices(const Problem& problem);

    size_t vertices = 0;
    std::vector<TypeCosts> types;
    // Travel times by type; empty when the costs are the times.
    std::vector<TypeCosts> durations;
    // Service time by vertex; empty when no target has any.
    std::vector<double> service;
    std::vector<Position> positions;
    // Latitude and longitude in radians and the cosine of the latitude, for haversine.
    std::vector<double> latitude;
    std::vector<double> longitude;
    std::vector<double> cos_latitude;
};

}  // namespace tamrik
