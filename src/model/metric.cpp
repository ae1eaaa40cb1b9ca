#include "model/metric.h"

#include <charconv>
#include <cmath>
#include <stdexcept>

namespace tamrik {
namespace {

std::string Number(double value) {
    char text[32];
    auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

}  // namespace

Metric MakeMetric(const std::string& agent_type, const std::string& kind, double factor,
                  double speed, const std::string& root) {
    const std::string field = root + "." + agent_type;
    Metric metric;
    if (kind == "euclidean") {
        metric.kind = MetricKind::kEuclidean;
    } else if (kind == "manhattan") {
        metric.kind = MetricKind::kManhattan;
    } else if (kind == "haversine") {
        metric.kind = MetricKind::kHaversine;
    } else {
        throw std::invalid_argument(field + ".kind must be \"euclidean\", \"manhattan\" or " +
                                    "\"haversine\", not \"" + kind + "\"");
    }
    if (!(std::isfinite(factor) && factor > 0.0)) {
        throw std::invalid_argument(field + ".factor must be a finite number above 0, not " +
                                    Number(factor));
    }
    if (!(std::isfinite(speed) && speed > 0.0)) {
        throw std::invalid_argument(field + ".speed must be a finite number above 0, not " +
                                    Number(speed));
    }
    metric.factor = factor;
    metric.speed = speed;
    return metric;
}

const char* MetricKindName(MetricKind kind) {
    switch (kind) {
        case MetricKind::kEuclidean: return "euclidean";
        case MetricKind::kManhattan: return "manhattan";
        case MetricKind::kHaversine: return "haversine";
    }
    return "euclidean";
}

}  // namespace tamrik
