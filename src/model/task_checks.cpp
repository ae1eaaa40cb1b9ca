#include "model/task_checks.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "model/load_amounts.h"
#include "model/load_checks.h"

namespace tamrik {
namespace {

class TaskChecks {
public:
    TaskChecks(const Problem& problem, std::vector<Finding>& findings)
        : problem_(problem), findings_(findings) {
        for (const Agent& agent : problem.agents_ordered) {
            endpoints_.insert(agent.start_node);
            endpoints_.insert(agent.end_node);
        }
        for (const Node& node : problem.nodes) {
            known_.insert(node.id);
            if (!node.required) optional_.insert(node.id);
        }
    }

    // True when every pair names two different known nodes that are no start or end.
    bool Pairs() {
        const SequenceConstraint& sequence = problem_.sequence_constraint;
        const size_t before = findings_.size();
        PairsOf(sequence.same_pairs, "sequence \"same\" pair");
        PairsOf(sequence.diff_pairs, "sequence \"diff\" pair");
        PairsOf(sequence.precedence_pairs, "sequence precedence pair");
        return findings_.size() == before;
    }

    void DemandsAboveCapacity() {
        const size_t dims = LoadDimensions(problem_);
        for (const Node& node : problem_.nodes) {
            if (endpoints_.count(node.id) != 0) continue;
            for (size_t d = 0; d < dims; ++d) {
                // A negative demand needs its pick-up first, so only its size counts here.
                const double delivered = DeliveryIn(node, d);
                const double peak =
                    std::max(delivered, std::fabs(DemandIn(node, d) + PickupIn(node, d)));
                if (peak == 0.0 || Fits(node, d, peak)) continue;
                const std::string what =
                    dims == 1 && node.pickup.empty() && node.delivery.empty()
                        ? "demand " + NumberText(node.demand)
                        : "load " + NumberText(peak) + " in dimension " + std::to_string(d);
                Unfit(node, "node " + std::to_string(node.id) + ": " + what +
                                " is above the capacity of every agent that may visit it");
                break;
            }
        }
    }

    void SamePairsServable() {
        for (const auto& [a, b] : problem_.sequence_constraint.same_pairs) {
            bool servable = false;
            for (const Agent& agent : problem_.agents_ordered) {
                servable = servable || (MayServe(agent, a) && MayServe(agent, b));
            }
            if (!servable) {
                Infeasible("sequence \"same\" pair " + PairText(a, b) +
                           ": no agent may visit both nodes");
            }
        }
    }

    void PrecedenceCycles() {
        std::unordered_map<uint64_t, std::vector<uint64_t>> after_of;
        for (const auto& [before, after] : problem_.sequence_constraint.precedence_pairs) {
            after_of[before].push_back(after);
        }
        // Depth-first search; a node met again while still on the stack closes a cycle.
        enum : uint8_t { kFresh, kOnStack, kDone };
        std::unordered_map<uint64_t, uint8_t> state;
        for (const auto& [start, unused] : after_of) {
            if (state[start] != kFresh) continue;
            std::vector<std::pair<uint64_t, size_t>> stack{{start, 0}};
            state[start] = kOnStack;
            while (!stack.empty()) {
                auto& [node, next] = stack.back();
                const std::vector<uint64_t>& afters = after_of[node];
                if (next == afters.size()) {
                    state[node] = kDone;
                    stack.pop_back();
                    continue;
                }
                const uint64_t after = afters[next++];
                if (state[after] == kOnStack) {
                    Infeasible("sequence precedence pairs form a cycle through node " +
                               std::to_string(after));
                    return;
                }
                if (state[after] == kFresh) {
                    state[after] = kOnStack;
                    stack.emplace_back(after, 0);
                }
            }
        }
    }

private:
    bool Fits(const Node& node, size_t dim, double peak) const {
        for (const Agent& agent : problem_.agents_ordered) {
            const double capacity = CapacityIn(agent, dim);
            if (MayServe(agent, node.id) && (capacity == 0.0 || peak <= capacity)) return true;
        }
        return false;
    }
    void Unfit(const Node& node, const std::string& message) {
        if (node.required) {
            Infeasible(message);
        } else {
            findings_.push_back(
                Finding{Finding::Kind::kIgnored, message + "; the optional stop is left out"});
        }
    }
    void Invalid(std::string message) {
        findings_.push_back(Finding{Finding::Kind::kInvalid, std::move(message)});
    }
    void Infeasible(std::string message) {
        findings_.push_back(Finding{Finding::Kind::kInfeasible, std::move(message)});
    }
    static std::string PairText(uint64_t a, uint64_t b) {
        std::string text = "(";
        text.append(std::to_string(a)).append(", ").append(std::to_string(b)).append(")");
        return text;
    }

    void PairsOf(const std::vector<SequenceConstraint::NodePair>& pairs, const std::string& what) {
        for (const auto& [a, b] : pairs) {
            const std::string where = what + " " + PairText(a, b) + ": ";
            if (a == b) {
                Invalid(where + "a node is paired with itself");
                continue;
            }
            for (uint64_t node : {a, b}) {
                if (known_.count(node) == 0) {
                    Invalid(where + "node " + std::to_string(node) + " is no node id");
                    break;
                }
                if (endpoints_.count(node) != 0) {
                    Invalid(where + "node " + std::to_string(node) +
                            " is the start or end of an agent");
                    break;
                }
                if (optional_.count(node) != 0) {
                    Invalid(where + "node " + std::to_string(node) +
                            " is optional, and optional stops cannot be paired");
                    break;
                }
            }
        }
    }

    // Whether the agent's type is allowed at the node (a node without an entry admits all).
    bool MayServe(const Agent& agent, uint64_t node) const {
        const auto& allowed = problem_.assignment_constraint.allowed_types;
        auto entry = allowed.find(node);
        if (entry == allowed.end()) return true;
        for (const std::string& type : entry->second) {
            if (type == agent.type) return true;
        }
        return false;
    }

    const Problem& problem_;
    std::vector<Finding>& findings_;
    std::unordered_set<uint64_t> endpoints_;
    std::unordered_set<uint64_t> known_;
    std::unordered_set<uint64_t> optional_;
};

}  // namespace

void CheckTasks(const Problem& problem, const Options& options, std::vector<Finding>& findings) {
    TaskChecks checks(problem, findings);
    bool usable = true;
    if (options.enforce_capacity) {
        const size_t before = findings.size();
        CheckLoadValues(problem, findings);
        usable = findings.size() == before;
    }
    if (options.enforce_sequence) usable = checks.Pairs() && usable;
    // Rules that cannot all hold are looked for only among usable values.
    if (!usable) return;
    if (options.enforce_capacity) checks.DemandsAboveCapacity();
    if (options.enforce_sequence) {
        checks.SamePairsServable();
        checks.PrecedenceCycles();
    }
}

}  // namespace tamrik
