#include "improve/giant_tour.h"

#include <algorithm>

namespace tamrik {
namespace {

constexpr double kNone = RouteSet::kInfeasible;
// A run may carry this share of the capacity at most, where loads bend, and hold this many
// times the stops of an average route (plus a few): longer runs cost more to price than they
// are ever worth where loads bind.
constexpr double kMostOverload = 1.5;
constexpr size_t kLongestRun = 4;
constexpr size_t kShortRun = 16;

double FixedCostOf(const RouteSet& set, size_t r) { return set.Fixed(r) + set.OpeningCost(r); }

}  // namespace

bool GiantTourCrossover::Suits(const RouteSet& set) {
    const TaskRules* tasks = set.Tasks();
    // The split follows one load of stops that only load.
    if (set.RouteCount() == 0 || tasks == nullptr || !tasks->HasLoads() ||
        tasks->Dimensions() != 1 || tasks->HasDeliveries()) {
        return false;
    }
    const Vertex depot = set.RouteOf(0).nodes.front();
    for (size_t r = 0; r < set.RouteCount(); ++r) {
        const std::vector<Vertex>& nodes = set.RouteOf(r).nodes;
        if (!set.Twins(r, 0) || !set.IsSimple(r) || set.FirstFree(r) != 1 ||
            nodes.front() != depot || nodes.back() != depot ||
            tasks->Capacity(r) != tasks->Capacity(0) || FixedCostOf(set, r) != FixedCostOf(set, 0)) {
            return false;
        }
    }
    return true;
}

void GiantTourCrossover::TourOf(const RouteSet& set, std::vector<Vertex>& tour) const {
    tour.clear();
    for (size_t r = 0; r < set.RouteCount(); ++r) {
        const std::vector<Vertex>& nodes = set.RouteOf(r).nodes;
        tour.insert(tour.end(), nodes.begin() + 1, nodes.end() - 1);
    }
}

bool GiantTourCrossover::Cross(const RouteSet& a, const RouteSet& b, RouteSet& into,
                               std::mt19937_64& rng) {
    TourOf(a, first);
    TourOf(b, second);
    const size_t n = first.size();
    if (n < 2 || second.size() != n) return false;
    const size_t begin = rng() % n;
    const size_t end = rng() % n;
    crossed.assign(n, -1);
    taken.assign(a.VertexCount(), 0);
    for (size_t k = begin;; k = (k + 1) % n) {
        crossed[k] = first[k];
        taken[static_cast<size_t>(first[k])] = 1;
        if (k == end) break;
    }
    size_t place = (end + 1) % n;
    for (size_t k = 0; k < n; ++k) {
        const Vertex v = second[(end + 1 + k) % n];
        if (taken[static_cast<size_t>(v)]) continue;
        crossed[place] = v;
        place = (place + 1) % n;
    }
    return Split(crossed, into);
}

bool GiantTourCrossover::Split(const std::vector<Vertex>& tour, RouteSet& into) {
    const size_t n = tour.size();
    const size_t m = into.RouteCount();
    const Vertex depot = into.RouteOf(0).nodes.front();
    const double capacity = into.Tasks()->Capacity(0);
    const double weight = into.Weights()[kCapacityRule];
    const double most = weight > 0.0 ? kMostOverload * capacity : capacity + TaskRules::kLoadTolerance;
    const double fixed = FixedCostOf(into, 0);
    const size_t longest = kLongestRun * (n / m) + kShortRun;
    legs.assign(n + 1, 0.0);
    loads.assign(n + 1, 0.0);
    for (size_t k = 1; k <= n; ++k) {
        legs[k] = k == 1 ? 0.0 : legs[k - 1] + into.Leg(0, tour[k - 2], tour[k - 1]);
        loads[k] = loads[k - 1] + into.Tasks()->Demand(tour[k - 1]);
    }
    // cost[k * (n + 1) + j]: the least cost of the first j stops as k runs.
    cost.assign((m + 1) * (n + 1), kNone);
    cut.assign((m + 1) * (n + 1), 0);
    cost[0] = 0.0;
    for (size_t k = 1; k <= m; ++k) {
        const double* before = &cost[(k - 1) * (n + 1)];
        double* here = &cost[k * (n + 1)];
        for (size_t i = 0; i < n; ++i) {
            if (before[i] == kNone) continue;
            for (size_t j = i + 1; j <= std::min(n, i + longest) && loads[j] - loads[i] <= most; ++j) {
                const double over = std::max(0.0, loads[j] - loads[i] - capacity);
                const double run_cost = into.Leg(0, depot, tour[i]) + (legs[j] - legs[i + 1]) +
                                        into.Leg(0, tour[j - 1], depot) + fixed + weight * over;
                if (before[i] + run_cost < here[j]) {
                    here[j] = before[i] + run_cost;
                    cut[k * (n + 1) + j] = i;
                }
            }
        }
    }
    size_t routes = 0;
    for (size_t k = 1; k <= m; ++k) {
        if (cost[k * (n + 1) + n] < cost[routes * (n + 1) + n]) routes = k;
    }
    if (routes == 0 || cost[routes * (n + 1) + n] == kNone) return false;
    for (size_t r = 0; r < m; ++r) {
        const size_t size = into.RouteOf(r).nodes.size();
        if (size > 2) into.RemoveRange(r, 1, size - 2);
    }
    size_t end = n;
    for (size_t k = routes; k >= 1; --k) {
        const size_t begin = cut[k * (n + 1) + end];
        run.assign(tour.begin() + static_cast<std::ptrdiff_t>(begin),
                   tour.begin() + static_cast<std::ptrdiff_t>(end));
        if (!into.LoadRoute(k - 1, run)) return false;
        end = begin;
    }
    return true;
}

}  // namespace tamrik
