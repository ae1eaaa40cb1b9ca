// The candidate lower bounds of the route optimizers.
#include <cmath>
#include <limits>

#include "postopt/route_optimizer_base.h"

namespace tamrik {
namespace {

// Relative rounding allowance per summed term. Each summation rounds by at most about 1.1e-16
// of the magnitudes involved per term, so the margin exceeds the true difference by a factor
// of about a million.
constexpr double kRoundingAllowance = 1e-10;

}  // namespace

void RouteOptimizerBase::BuildLegSums(const std::vector<int64_t>& path, const LegRules& rules,
                                      LegSums& sums) const {
    const size_t n = path.size();
    sums.forward.assign(n, 0.0);
    sums.backward.assign(n, 0.0);
    sums.magnitude = 0.0;
    for (size_t k = 1; k < n; ++k) {
        const double ahead = Rules().LegCost(rules, path[k - 1], path[k]);
        const double back = Rules().LegCost(rules, path[k], path[k - 1]);
        sums.forward[k] = sums.forward[k - 1] + ahead;
        sums.backward[k] = sums.backward[k - 1] + back;
        sums.magnitude += std::fabs(ahead) + std::fabs(back);
    }
}

double RouteOptimizerBase::Margin(size_t path_size, double magnitude, double reference) const {
    return kRoundingAllowance * static_cast<double>(path_size + 3) *
           (magnitude + Rules().WindowScale() + std::fabs(reference) + 1.0);
}

bool RouteOptimizerBase::PricedAbove(double price, size_t path_size, double magnitude,
                                     double reference, double threshold) const {
    if (price == RouteSet::kInfeasible) return false;
    // A join waits only up to a window's opening, so its rounding scales with the legs, the
    // openings and the price; ten times the bounds' margin.
    return price - 10.0 * Margin(path_size, magnitude + std::fabs(price), reference) > threshold;
}

double RouteOptimizerBase::ReversalBound(const std::vector<int64_t>& path, const LegRules& rules,
                                         const LegSums& sums, size_t i, size_t j,
                                         double reference) const {
    const size_t last = path.size() - 1;
    const double into = Rules().LegCost(rules, path[i - 1], path[j]);
    const double out_of = Rules().LegCost(rules, path[i], path[j + 1]);
    // Legs 1 .. i-1 kept, i+1 .. j walked backwards, j+2 .. last kept.
    const double sum = sums.forward[i - 1] + into + (sums.backward[j] - sums.backward[i]) +
                       out_of + (sums.forward[last] - sums.forward[j + 1]);
    const double magnitude = sums.magnitude + std::fabs(into) + std::fabs(out_of);
    return sum - Margin(path.size(), magnitude, reference);
}

double RouteOptimizerBase::InsertionBound(const std::vector<int64_t>& path,
                                          const LegRules& rules, const LegSums& sums, size_t q,
                                          int64_t node, double reference) const {
    const size_t last = path.size() - 1;
    const double into = Rules().LegCost(rules, path[q - 1], node);
    const double out_of = Rules().LegCost(rules, node, path[q]);
    // Leg q is replaced by the two legs through the node.
    const double sum =
        sums.forward[q - 1] + into + out_of + (sums.forward[last] - sums.forward[q]);
    const double magnitude = sums.magnitude + std::fabs(into) + std::fabs(out_of);
    return sum - Margin(path.size() + 1, magnitude, reference);
}

}  // namespace tamrik
