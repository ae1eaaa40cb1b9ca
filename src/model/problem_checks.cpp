#include "model/problem_checks.h"

#include "model/initial_checks.h"
#include "model/load_amounts.h"
#include "model/price_checks.h"
#include "model/task_checks.h"
#include "model/total_checks.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <map>
#include <optional>
#include <tuple>
#include <stdexcept>
#include <unordered_map>
#include <unordered_set>

namespace tamrik {
namespace {

// What a missing matrix entry costs: no arc.
constexpr double kNoArc = 9999.0;
// The joint search runs only up to this many nodes; larger instances never rely on the
// triangle inequality.
constexpr size_t kSearchedNodes = 256;

std::string Number(double value) { return NumberText(value); }

class Checks {
public:
    Checks(const Problem& problem, const Options& options)
        : problem_(problem), options_(options) {
        for (const Node& node : problem.nodes) known_.insert(node.id);
    }

    std::vector<Finding> Run() {
        DuplicateIds(problem_.nodes, "node");
        Coordinates();
        Services();
        AgentDays();
        DuplicateIds(problem_.agents_ordered, "agent");
        AgentEndpoints();
        CostMatrices();
        Metrics();
        TimeWindows();
        IgnoredInput();
        MissingCosts();
        BlockedEnds();
        TriangleInequality();
        if (auto overflow = OverflowingTotal(problem_)) Add(Finding::Kind::kInvalid, *overflow);
        return std::move(findings_);
    }

private:
    void Add(Finding::Kind kind, std::string message) {
        findings_.push_back(Finding{kind, std::move(message)});
    }

    // One finding per repeated id: "duplicate <what> id 7 (<what>s 1 and 4)".
    template <typename Items>
    void DuplicateIds(const Items& items, const std::string& what) {
        std::unordered_map<uint64_t, size_t> first;
        for (size_t i = 0; i < items.size(); ++i) {
            auto [at, fresh] = first.try_emplace(items[i].id, i);
            if (fresh) continue;
            Add(Finding::Kind::kInvalid, "duplicate " + what + " id " + std::to_string(at->first) +
                                             " (" + what + "s " + std::to_string(at->second) +
                                             " and " + std::to_string(i) + ")");
        }
    }

    // The set-up truncates coordinates to signed 64-bit integers; only values whose
    // truncation fits are defined.
    void Coordinates() {
        constexpr double kLimit = 9223372036854775808.0;  // 2^63
        for (const Node& node : problem_.nodes) {
            const std::pair<const char*, double> axes[] = {
                {"x", node.position.x}, {"y", node.position.y}, {"z", node.position.z}};
            for (const auto& [axis, value] : axes) {
                if (value > -kLimit - 1.0 && value < kLimit) continue;
                Add(Finding::Kind::kInvalid, "node " + std::to_string(node.id) + ": " + axis +
                                                 " = " + Number(value) +
                                                 " is not a finite number within the signed "
                                                 "64-bit range");
            }
        }
    }

    void Services() {
        std::unordered_set<uint64_t> endpoints;
        for (const Agent& agent : problem_.agents_ordered) {
            endpoints.insert(agent.start_node);
            endpoints.insert(agent.end_node);
        }
        for (const Node& node : problem_.nodes) {
            const std::string where =
                "node " + std::to_string(node.id) + ": service = " + Number(node.service);
            if (!std::isfinite(node.service)) {
                Add(Finding::Kind::kInvalid, where + " is not a finite number");
            } else if (node.service < 0.0) {
                Add(Finding::Kind::kInvalid, where + " is negative");
            } else if (node.service > 0.0 && endpoints.count(node.id) != 0) {
                Add(Finding::Kind::kIgnored,
                    where + " is ignored: the node is an agent's start or end, never served");
            }
            Prize(node, endpoints.count(node.id) != 0);
        }
    }

    void Prize(const Node& node, bool endpoint) {
        const std::string where = "node " + std::to_string(node.id) + ": prize = " + Number(node.prize);
        if (!std::isfinite(node.prize)) {
            Add(Finding::Kind::kInvalid, where + " is not a finite number");
        } else if (node.prize < 0.0) {
            Add(Finding::Kind::kInvalid, where + " is negative");
        } else if (node.prize > 0.0 && node.required) {
            Add(Finding::Kind::kIgnored, where + " is ignored: the stop is required");
        }
        if (!node.required && endpoint) {
            Add(Finding::Kind::kIgnored, "node " + std::to_string(node.id) +
                                             ": \"required\": false is ignored: the node is an "
                                             "agent's start or end");
        }
    }

    void AgentDays() {
        for (const Agent& agent : problem_.agents_ordered) {
            const std::string who = "agent " + std::to_string(agent.id) + ": ";
            const std::pair<const char*, std::optional<double>> shift[] = {
                {"shift_start", agent.shift_start}, {"shift_end", agent.shift_end}};
            bool finite = true;
            for (const auto& [key, value] : shift) {
                if (!value || std::isfinite(*value)) continue;
                finite = false;
                Add(Finding::Kind::kInvalid,
                    who + key + " = " + Number(*value) + " is not a finite number");
            }
            const double start = agent.shift_start.value_or(0.0);
            if (finite && agent.shift_end && *agent.shift_end < start) {
                Add(Finding::Kind::kInvalid, who + "shift_end = " + Number(*agent.shift_end) +
                                                 " is before shift_start = " + Number(start));
            }
            if (agent.max_stops && *agent.max_stops < 0) {
                Add(Finding::Kind::kInvalid,
                    who + "max_stops = " + std::to_string(*agent.max_stops) + " is negative");
            }
            FixedCost(agent, who);
        }
    }

    void FixedCost(const Agent& agent, const std::string& who) {
        const std::string where = who + "fixed_cost = " + Number(agent.fixed_cost);
        if (!std::isfinite(agent.fixed_cost)) {
            Add(Finding::Kind::kInvalid, where + " is not a finite number");
        } else if (agent.fixed_cost < 0.0) {
            Add(Finding::Kind::kInvalid, where + " is negative");
        } else if (agent.fixed_cost > 0.0 && options_.objective == ObjectiveType::MinMax) {
            Add(Finding::Kind::kIgnored, where + " is ignored under min-max");
        }
    }

    void AgentEndpoints() {
        for (const Agent& agent : problem_.agents_ordered) {
            const std::pair<const char*, uint64_t> ends[] = {{"start_node", agent.start_node},
                                                             {"end_node", agent.end_node}};
            for (const auto& [role, node] : ends) {
                if (known_.count(node) != 0) continue;
                Add(Finding::Kind::kUnknownId, "_Map_base::at: agent " + std::to_string(agent.id) +
                                                   " has " + role + " " + std::to_string(node) +
                                                   ", which is no node id");
            }
        }
    }

    void CostMatrices() {
        const size_t n = problem_.nodes.size();
        for (const auto& [name, matrix] : SortedMatrices()) {
            if (problem_.type_index.count(name) == 0) {
                Add(Finding::Kind::kUnknownId, "_Map_base::at: cost matrix for agent type '" +
                                                   name + "', which no agent has");
                continue;
            }
            const std::string prefix = "cost matrix for agent type '" + name + "' has ";
            const std::string suffix = ", but the problem has " + std::to_string(n) + " nodes";
            if (matrix->size() > n) {
                Add(Finding::Kind::kInvalid,
                    prefix + std::to_string(matrix->size()) + " rows" + suffix);
                continue;
            }
            for (size_t i = 0; i < matrix->size(); ++i) {
                if ((*matrix)[i].size() <= n) continue;
                Add(Finding::Kind::kInvalid, prefix + "a row of " +
                                                 std::to_string((*matrix)[i].size()) +
                                                 " entries (row " + std::to_string(i) + ")" +
                                                 suffix);
            }
            CostValues(name, *matrix);
        }
    }

    // One finding per matrix: its first unusable entry and how many more there are.
    void CostValues(const std::string& name, const CostMatrix& matrix) {
        std::string first = FirstUnusableEntry(matrix, [&name](size_t i, size_t j, double cost) {
            return "cost matrix for agent type '" + name + "': row " + std::to_string(i) +
                   ", column " + std::to_string(j) + " is " + Number(cost) +
                   "; costs must be finite and not negative";
        });
        if (!first.empty()) Add(Finding::Kind::kInvalid, std::move(first));
    }

    void Metrics() {
        std::map<std::string, Metric> sorted(problem_.metrics.begin(), problem_.metrics.end());
        for (const auto& [name, metric] : sorted) {
            const std::string field = "metrics." + name;
            if (problem_.type_index.count(name) == 0) {
                Add(Finding::Kind::kInvalid,
                    field + " names agent type '" + name + "', which no agent has");
            } else if (problem_.cost_matrices.count(name) != 0) {
                Add(Finding::Kind::kInvalid, field + ": agent type '" + name +
                                                 "' has a cost matrix as well; give one or "
                                                 "the other");
            }
            if (metric.kind == MetricKind::kHaversine) HaversineCoordinates(field);
        }
    }

    // Haversine reads x as a longitude and y as a latitude in degrees.
    void HaversineCoordinates(const std::string& field) {
        for (size_t i = 0; i < problem_.nodes.size(); ++i) {
            const Position& at = problem_.nodes[i].position;
            const std::tuple<const char*, double, double> axes[] = {{"x", at.x, 180.0},
                                                                    {"y", at.y, 90.0}};
            for (const auto& [axis, value, bound] : axes) {
                if (value >= -bound && value <= bound) continue;
                Add(Finding::Kind::kInvalid,
                    "nodes[" + std::to_string(i) + "]." + axis + " = " + Number(value) +
                        " is outside -" + Number(bound) + " .. " + Number(bound) + ", but " +
                        field + " (haversine) reads it as a " +
                        (axis[0] == 'x' ? "longitude" : "latitude") + " in degrees");
                return;
            }
        }
    }

    void TimeWindows() {
        const auto windows = SortedWindows();
        const auto& several = problem_.timewindow_constraint.several;
        for (const auto& [node, window] : windows) {
            if (several.count(node) != 0) continue;  // checked window by window below
            const auto [start, end] = window;
            const std::string where = "time window of node " + std::to_string(node) + ": ";
            if (!std::isfinite(start) || !std::isfinite(end)) {
                Add(Finding::Kind::kInvalid, where + "start " + Number(start) + " and end " +
                                                 Number(end) + " must both be finite");
            } else if (start > end) {
                Add(Finding::Kind::kInvalid, where + "start " + Number(start) +
                                                 " is after end " + Number(end));
            }
        }
        const std::map<uint64_t, std::vector<std::pair<double, double>>> sorted(several.begin(),
                                                                                several.end());
        for (const auto& [node, list] : sorted) SeveralWindows(node, list);
    }

    // Several windows of one node must be finite, sorted and disjoint.
    void SeveralWindows(uint64_t node, const std::vector<std::pair<double, double>>& list) {
        const std::string where = "time windows of node " + std::to_string(node) + ": ";
        if (list.empty()) Add(Finding::Kind::kInvalid, where + "none given");
        for (size_t k = 0; k < list.size(); ++k) {
            const auto [open, close] = list[k];
            const std::string window =
                "window " + std::to_string(k) + " [" + Number(open) + ", " + Number(close) + "]";
            if (!std::isfinite(open) || !std::isfinite(close)) {
                Add(Finding::Kind::kInvalid, where + window + " is not finite");
            } else if (open > close) {
                Add(Finding::Kind::kInvalid, where + window + " closes before it opens");
            } else if (k > 0 && !(open > list[k - 1].second)) {
                Add(Finding::Kind::kInvalid, where + window + " does not open after window " +
                                                 std::to_string(k - 1) + " closes; windows " +
                                                 "must be sorted and disjoint");
            } else {
                continue;
            }
            return;
        }
    }

    void IgnoredInput() {
        for (const std::string& warning : problem_.input_warnings) {
            Add(Finding::Kind::kIgnored, warning);
        }
        const SequenceConstraint& sequence = problem_.sequence_constraint;
        const size_t pairs = sequence.precedence_pairs.size() + sequence.same_pairs.size() +
                             sequence.diff_pairs.size();
        if (pairs > 0 && !options_.enforce_sequence) {
            Add(Finding::Kind::kIgnored, "sequence constraints (" + std::to_string(pairs) +
                                             " pairs) are read but not enforced");
        }
        if (GivesLoads(problem_) && !options_.enforce_capacity) {
            Add(Finding::Kind::kIgnored, "capacity and demand are read but not enforced");
        }
        const auto windows = SortedWindows();
        for (const auto& [node, window] : windows) {
            if (known_.count(node) == 0) {
                Add(Finding::Kind::kIgnored,
                    "time window node id " + std::to_string(node) + " not found in nodes");
            }
        }
    }

    // A type without a matrix costs 9999 on every arc, which reads as a missing arc.
    void MissingCosts() {
        const size_t n = problem_.nodes.size();
        for (const std::string& type : problem_.type_names) {
            if (problem_.metrics.count(type) != 0) continue;
            auto matrix = problem_.cost_matrices.find(type);
            if (matrix == problem_.cost_matrices.end()) {
                if (n > 1) {
                    Add(Finding::Kind::kIgnored, "agent type '" + type +
                                                     "' has no cost matrix: every arc of it "
                                                     "costs 9999 (no arc)");
                }
                continue;
            }
            const CostMatrix& rows = matrix->second;
            const bool short_row = std::any_of(rows.begin(), rows.end(), [n](const auto& row) {
                return row.size() < n;
            });
            // A filler entry would be taken as a road of cost 9999: the matrix is refused.
            if (rows.size() < n || short_row) {
                Add(Finding::Kind::kInvalid,
                    "cost matrix for agent type '" + type + "' covers fewer than the " +
                        std::to_string(n) + " nodes: give a cost for every pair of nodes");
            }
        }
    }

    // The final move onto the end node obeys the node's allowed types like any other, so an
    // agent whose type its end node refuses can never finish there.
    void BlockedEnds() {
        const auto& allowed = problem_.assignment_constraint.allowed_types;
        for (const Agent& agent : problem_.agents_ordered) {
            auto entry = allowed.find(agent.end_node);
            if (entry == allowed.end() ||
                std::find(entry->second.begin(), entry->second.end(), agent.type) !=
                    entry->second.end()) {
                continue;
            }
            Add(Finding::Kind::kIgnored, "agent " + std::to_string(agent.id) + " cannot end at " +
                                             "its end_node " + std::to_string(agent.end_node) +
                                             ", which does not allow its type '" + agent.type +
                                             "'");
        }
    }

    // The search prunes a label when another at the same place has served more for no more
    // cost, which is sound only when going through a node never costs less than going round
    // it. One finding per matrix, naming the first shortcut.
    void TriangleInequality() {
        const size_t n = problem_.nodes.size();
        if (n > kSearchedNodes) return;
        for (const auto& [name, matrix] : SortedMatrices()) {
            if (problem_.type_index.count(name) == 0 || matrix->size() > n) continue;
            auto cost = [&matrix](size_t i, size_t j) {
                const CostMatrix& m = *matrix;
                const double c = i < m.size() && j < m[i].size() ? m[i][j] : kNoArc;
                return c >= 0.0 && c < kNoArc ? c : kNoArc;  // unusable entries are errors
            };
            if (const auto shortcut = FindShortcut(cost, n)) {
                const auto [i, k, j] = *shortcut;
                Add(Finding::Kind::kIgnored,
                    "cost matrix for agent type '" + name + "' breaks the triangle inequality " +
                        "(entry [" + std::to_string(i) + "][" + std::to_string(j) + "] is " +
                        Number(cost(i, j)) + ", but [" + std::to_string(i) + "][" +
                        std::to_string(k) + "] + [" + std::to_string(k) + "][" +
                        std::to_string(j) + "] is " + Number(cost(i, k) + cost(k, j)) +
                        "): the search assumes it and may miss solutions");
            }
        }
    }

    template <typename Cost>
    static std::optional<std::tuple<size_t, size_t, size_t>> FindShortcut(const Cost& cost,
                                                                          size_t n) {
        for (size_t i = 0; i < n; ++i) {
            for (size_t k = 0; k < n; ++k) {
                const double first = cost(i, k);
                if (k == i || !(first < kNoArc)) continue;
                for (size_t j = 0; j < n; ++j) {
                    const double direct = cost(i, j);
                    const double around = first + cost(k, j);
                    if (j == i || j == k || !(direct < kNoArc) || !(cost(k, j) < kNoArc)) continue;
                    if (around < direct - 1e-9 * std::max(1.0, direct)) {
                        return std::make_tuple(i, k, j);
                    }
                }
            }
        }
        return std::nullopt;
    }

    std::vector<std::pair<std::string, const CostMatrix*>> SortedMatrices() const {
        std::vector<std::pair<std::string, const CostMatrix*>> sorted;
        for (const auto& [name, matrix] : problem_.cost_matrices) sorted.emplace_back(name, &matrix);
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }

    std::map<uint64_t, std::pair<double, double>> SortedWindows() const {
        const auto& windows = problem_.timewindow_constraint.windows;
        return {windows.begin(), windows.end()};
    }

    const Problem& problem_;
    const Options& options_;
    std::unordered_set<uint64_t> known_;
    std::vector<Finding> findings_;
};

}  // namespace

std::string NumberText(double value) {
    char text[32];
    auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

std::string FirstUnusableEntry(const CostMatrix& matrix,
                               const std::function<std::string(size_t, size_t, double)>& describe) {
    size_t bad = 0;
    std::string first;
    for (size_t i = 0; i < matrix.size(); ++i) {
        for (size_t j = 0; j < matrix[i].size(); ++j) {
            const double value = matrix[i][j];
            if (std::isfinite(value) && value >= 0.0) continue;
            if (bad++ == 0) first = describe(i, j, value);
        }
    }
    if (bad > 1) first += " (and " + std::to_string(bad - 1) + " more entries)";
    return first;
}

std::vector<Finding> CheckProblem(const Problem& problem) {
    return CheckProblem(problem, problem.options);
}

std::vector<Finding> CheckProblem(const Problem& problem, const Options& options) {
    std::vector<Finding> findings = Checks(problem, options).Run();
    CheckTasks(problem, options, findings);
    CheckPrices(problem, findings);
    CheckInitialRoutes(problem, findings);
    std::stable_partition(findings.begin(), findings.end(),
                          [](const Finding& finding) { return finding.IsError(); });
    return findings;
}

void ThrowFirstError(const std::vector<Finding>& findings) {
    for (const Finding& finding : findings) {
        if (finding.kind == Finding::Kind::kInvalid) throw std::invalid_argument(finding.message);
        if (finding.kind == Finding::Kind::kUnknownId) throw std::out_of_range(finding.message);
    }
}

}  // namespace tamrik
