#include "model/price_checks.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace tamrik {
namespace {

class PriceChecks {
public:
    PriceChecks(const Problem& problem, std::vector<Finding>& findings)
        : problem_(problem), findings_(findings) {}

    void Run() {
        if (problem_.HasDurations()) {
            DurationTypes();
            DurationMatrices();
        }
        AgentPrices();
    }

private:
    void Add(std::string message) {
        findings_.push_back(Finding{Finding::Kind::kInvalid, std::move(message)});
    }

    bool HasDurations(const std::string& type) const {
        return problem_.duration_matrices.count(type) != 0 ||
               problem_.duration_metrics.count(type) != 0;
    }

    void DurationTypes() {
        std::map<std::string, bool> given;
        for (const auto& [type, matrix] : problem_.duration_matrices) given[type] = true;
        for (const auto& [type, metric] : problem_.duration_metrics) given[type] = true;
        for (const auto& [type, unused] : given) {
            if (problem_.type_index.count(type) == 0) {
                Add("durations." + type + " names agent type '" + type + "', which no agent has");
            } else if (problem_.duration_matrices.count(type) != 0 &&
                       problem_.duration_metrics.count(type) != 0) {
                Add("durations." + type + ": agent type '" + type +
                    "' has a duration matrix and a duration metric; give one or the other");
            }
        }
        for (const std::string& type : problem_.type_names) {
            if (HasDurations(type)) continue;
            Add("durations: agent type '" + type +
                "' has none, but other types have; give durations for every agent type");
        }
    }

    void DurationMatrices() {
        const std::map<std::string, CostMatrix> sorted(problem_.duration_matrices.begin(),
                                                       problem_.duration_matrices.end());
        const size_t n = problem_.nodes.size();
        for (const auto& [type, matrix] : sorted) {
            const std::string field = "durations." + type;
            const bool square = matrix.size() == n &&
                                std::all_of(matrix.begin(), matrix.end(),
                                            [n](const auto& row) { return row.size() == n; });
            if (!square) {
                Add(field + " must give a duration for every pair of the " + std::to_string(n) +
                    " nodes: " + std::to_string(n) + " rows of " + std::to_string(n));
                continue;
            }
            std::string first =
                FirstUnusableEntry(matrix, [&field](size_t i, size_t j, double duration) {
                    return field + "[" + std::to_string(i) + "][" + std::to_string(j) + "] = " +
                           NumberText(duration) + "; durations must be finite and not negative";
                });
            if (!first.empty()) Add(std::move(first));
        }
    }

    void AgentPrices() {
        for (const Agent& agent : problem_.agents_ordered) {
            const std::string who = "agent " + std::to_string(agent.id) + ": ";
            const std::pair<const char*, std::optional<double>> prices[] = {
                {"unit_distance_cost", agent.unit_distance_cost},
                {"unit_duration_cost", agent.unit_duration_cost}};
            for (const auto& [key, value] : prices) {
                if (!value) continue;
                const std::string where = who + key + " = " + NumberText(*value);
                if (!std::isfinite(*value)) Add(where + " is not a finite number");
                else if (*value < 0.0) Add(where + " is negative");
            }
            const std::pair<const char*, std::optional<double>> limits[] = {
                {"max_distance", agent.max_distance}, {"max_duration", agent.max_duration}};
            for (const auto& [key, value] : limits) {
                if (value && !(std::isfinite(*value) && *value > 0.0)) {
                    Add(who + key + " = " + NumberText(*value) + " is not a finite number above 0");
                }
            }
        }
    }

    const Problem& problem_;
    std::vector<Finding>& findings_;
};

}  // namespace

void CheckPrices(const Problem& problem, std::vector<Finding>& findings) {
    PriceChecks(problem, findings).Run();
}

}  // namespace tamrik
