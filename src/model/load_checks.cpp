#include "model/load_checks.h"

#include <cmath>
#include <string>

#include "model/load_amounts.h"

namespace tamrik {
namespace {

class LoadValueChecks {
public:
    LoadValueChecks(const Problem& problem, std::vector<Finding>& findings)
        : dims_(LoadDimensions(problem)), findings_(findings) {}

    void Node(const tamrik::Node& node) {
        const std::string who = "node " + std::to_string(node.id) + ": ";
        NumberOrList(who, "demand", node.demand, node.demands, false);
        List(who, "pickup", node.pickup, true);
        List(who, "delivery", node.delivery, true);
    }

    void Agent(const tamrik::Agent& agent) {
        NumberOrList("agent " + std::to_string(agent.id) + ": ", "capacity", agent.capacity_limit,
                     agent.capacities, true);
    }

private:
    void Invalid(std::string message) {
        findings_.push_back(Finding{Finding::Kind::kInvalid, std::move(message)});
    }

    void Number(const std::string& who, const std::string& field, double value, bool signless) {
        const std::string where = who + field + " = " + NumberText(value);
        if (!std::isfinite(value)) {
            Invalid(where + " is not a finite number");
        } else if (signless && value < 0.0) {
            Invalid(where + " is negative");
        }
    }

    void List(const std::string& who, const std::string& field, const std::vector<double>& values,
              bool signless) {
        if (values.empty()) return;
        if (values.size() != dims_) {
            Invalid(who + field + " lists " + Amounts(values.size()) + " where the loads have " +
                    std::to_string(dims_) + (dims_ == 1 ? " dimension" : " dimensions"));
        }
        for (size_t d = 0; d < values.size(); ++d) {
            Number(who, field + "[" + std::to_string(d) + "]", values[d], signless);
        }
    }

    // A field read as one number or as a list: the number may not stand alone where the
    // loads have several dimensions, nor disagree with the list's first amount.
    void NumberOrList(const std::string& who, const std::string& field, double value,
                      const std::vector<double>& values, bool signless) {
        Number(who, field, value, signless);
        List(who, field, values, signless);
        if (value == 0.0) return;
        if (values.empty() && dims_ > 1) {
            Invalid(who + field + " is one amount where the loads have " + std::to_string(dims_) +
                    " dimensions");
        } else if (!values.empty() && value != values.front()) {
            Invalid(who + field + " = " + NumberText(value) + " disagrees with its list's first amount " +
                    NumberText(values.front()));
        }
    }

    static std::string Amounts(size_t count) {
        return std::to_string(count) + (count == 1 ? " amount" : " amounts");
    }

    size_t dims_;
    std::vector<Finding>& findings_;
};

}  // namespace

void CheckLoadValues(const Problem& problem, std::vector<Finding>& findings) {
    LoadValueChecks checks(problem, findings);
    for (const Node& node : problem.nodes) checks.Node(node);
    for (const Agent& agent : problem.agents_ordered) checks.Agent(agent);
}

}  // namespace tamrik
