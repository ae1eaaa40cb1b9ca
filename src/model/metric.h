#pragma once

#include <string>


namespace tamrik {

// How an agent type's travel costs follow from node coordinates.
enum class MetricKind { kEuclidean, kManhattan, kHaversine };

struct Metric {
    MetricKind kind = MetricKind::kEuclidean;
    // Multiplies every distance (metres to seconds at a speed, say).
    double factor = 1.0;
    // Divides every distance after the factor: a duration metric's speed.
    double speed = 1.0;

    double Of(double distance) const { return factor * distance / speed; }
};

// The mean Earth radius in metres, the radius of haversine distances.
constexpr double kEarthRadius = 6371008.8;

// The metric named `kind` ("euclidean", "manhattan" or "haversine") with `factor` and `speed`;
// an unknown kind, or a factor or speed that is not finite and positive, is an
// std::invalid_argument naming the field "<root>.<agent_type>.kind", ".factor" or ".speed".
Metric MakeMetric(const std::string& agent_type, const std::string& kind, double factor,
                  double speed = 1.0, const std::string& root = "metrics");

// The name of the kind, as the instance format spells it.
const char* MetricKindName(MetricKind kind);

}  // namespace tamrik
