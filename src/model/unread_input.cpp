#include "model/unread_input.h"

#include <algorithm>
#include <cctype>

#include <nlohmann/json.hpp>

namespace tamrik {
namespace {

using nlohmann::json;
using Keys = std::vector<std::string_view>;

const Keys kTopKeys{"nodes", "agents", "costs", "metrics", "durations", "constraints",
                    "options", "initial_routes"};
const Keys kNodeKeys{"id",      "x",        "y",       "z",        "type",   "demand",
                     "pickup", "delivery", "service", "required", "prize"};
const Keys kAgentKeys{"id",          "type",      "start_node", "end_node",  "capacity",
                      "max_length",  "shift_start", "shift_end", "max_stops", "fixed_cost",
                      "unit_distance_cost", "unit_duration_cost", "max_distance", "max_duration"};
const Keys kOptionKeys{"return_to_end",  "objective",        "time_limit",   "improve",
                       "seed",           "max_iterations",   "stop_when_stalled",
                       "memory_limit",   "enforce_capacity", "enforce_sequence",
                       "threads",        "route_cost",       "allow_unassigned",
                       "search",         "neighbours"};
const Keys kMetricKeys{"kind", "factor"};
const Keys kDurationMetricKeys{"kind", "factor", "speed"};
const Keys kRouteKeys{"agent_id", "node_ids", "pinned"};

struct ConstraintKind {
    std::string_view kind;
    std::string_view list_key;
    Keys item_keys;
};

const std::vector<ConstraintKind> kConstraintKinds{
    {"assignment", "items", {"node", "types"}},
    {"timewindow", "items", {"node", "start", "end", "windows"}},
    {"sequence", "precedence", {"before", "after", "type"}},
};

std::string Lowered(std::string_view text) {
    std::string lowered(text);
    for (char& c : lowered) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lowered;
}

size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<size_t> row(b.size() + 1);
    for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= a.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = above;
        }
    }
    return row[b.size()];
}

std::string Quoted(std::string_view text) {
    std::string quoted(1, '\'');
    quoted.append(text).push_back('\'');
    return quoted;
}

class Reporter {
public:
    explicit Reporter(std::vector<std::string>& warnings) : warnings_(warnings) {}

    // `place` is empty for the top level. `missing_list`: the list key the object lacks, offered for an unknown key that holds
    // a list when no known key is closer.
    void UnknownKeys(const json& object, const Keys& known, const std::string& place,
                     std::string_view missing_list = {}) {
        if (!object.is_object()) return;
        for (const auto& [key, value] : object.items()) {
            if (std::find(known.begin(), known.end(), key) != known.end()) continue;
            std::string_view meant = closest_key(key, known);
            if (meant.empty() && value.is_array()) meant = missing_list;
            std::string line = "unknown key " + Quoted(key) + (place.empty() ? " at the top level"
                                                                             : " in " + place) +
                               " is ignored";
            if (!meant.empty()) line += "; did you mean " + Quoted(meant) + "?";
            warnings_.push_back(std::move(line));
        }
    }

    void EachItem(const json& list, const std::string& place, const Keys& known) {
        if (!list.is_array() && !list.is_object()) return;
        size_t index = 0;
        for (const json& item : list) {
            UnknownKeys(item, known, place + "[" + std::to_string(index++) + "]");
        }
    }

    void Constraint(const json& constraint, const std::string& place) {
        if (!constraint.is_object() || !constraint.contains("kind") ||
            !constraint.at("kind").is_string()) {
            return;
        }
        const std::string kind = constraint.at("kind").get<std::string>();
        const auto known = std::find_if(kConstraintKinds.begin(), kConstraintKinds.end(),
                                        [&](const ConstraintKind& k) { return k.kind == kind; });
        if (known == kConstraintKinds.end()) {
            UnknownKind(kind, place);
            return;
        }
        const Keys keys{"kind", known->list_key};
        if (!constraint.contains(known->list_key)) {
            warnings_.push_back(place + " is skipped: its kind " + Quoted(kind) + " needs the key " +
                                Quoted(known->list_key));
            UnknownKeys(constraint, keys, place, known->list_key);
            return;
        }
        UnknownKeys(constraint, keys, place);
        EachItem(constraint.at(known->list_key),
                 place + "." + std::string(known->list_key), known->item_keys);
    }

private:
    void UnknownKind(const std::string& kind, const std::string& place) {
        Keys kinds;
        for (const ConstraintKind& k : kConstraintKinds) kinds.push_back(k.kind);
        std::string line = place + " is skipped: its kind " + Quoted(kind) + " is not known";
        const std::string_view meant = closest_key(kind, kinds);
        if (!meant.empty()) line += "; did you mean " + Quoted(meant) + "?";
        warnings_.push_back(std::move(line));
    }

    std::vector<std::string>& warnings_;
};

}  // namespace

std::string_view closest_key(std::string_view key, const Keys& known) {
    const std::string lowered = Lowered(key);
    std::string_view best;
    size_t best_distance = SIZE_MAX;
    for (std::string_view candidate : known) {
        const std::string other = Lowered(candidate);
        const size_t distance = EditDistance(lowered, other);
        const bool near =
            distance <= 2 && distance < std::min(lowered.size(), other.size());
        const bool contained = std::min(lowered.size(), other.size()) >= 4 &&
                               (lowered.find(other) != std::string::npos ||
                                other.find(lowered) != std::string::npos);
        if ((near || contained) && distance < best_distance) {
            best = candidate;
            best_distance = distance;
        }
    }
    return best;
}

std::vector<std::pair<std::string, std::vector<std::string>>> known_keys() {
    auto listed = [](const Keys& keys) { return std::vector<std::string>(keys.begin(), keys.end()); };
    std::vector<std::pair<std::string, std::vector<std::string>>> places{
        {"", listed(kTopKeys)},          {"nodes[]", listed(kNodeKeys)},
        {"agents[]", listed(kAgentKeys)}, {"options", listed(kOptionKeys)},
        {"metrics.<type>", listed(kMetricKeys)}, {"durations.<type>", listed(kDurationMetricKeys)},
        {"initial_routes[]", listed(kRouteKeys)}};
    std::vector<std::string> constraint_keys{"kind"};
    for (const ConstraintKind& kind : kConstraintKinds) {
        if (std::find(constraint_keys.begin(), constraint_keys.end(), kind.list_key) ==
            constraint_keys.end()) {
            constraint_keys.emplace_back(kind.list_key);
        }
    }
    places.emplace_back("constraints[]", constraint_keys);
    for (const ConstraintKind& kind : kConstraintKinds) {
        places.emplace_back(std::string(kind.kind) + "." + std::string(kind.list_key) + "[]",
                            listed(kind.item_keys));
    }
    return places;
}

void report_unread_input(const json& document, std::vector<std::string>& warnings) {
    if (!document.is_object()) return;
    Reporter reporter(warnings);
    reporter.UnknownKeys(document, kTopKeys, "");
    if (document.contains("nodes")) reporter.EachItem(document.at("nodes"), "nodes", kNodeKeys);
    if (document.contains("agents")) {
        reporter.EachItem(document.at("agents"), "agents", kAgentKeys);
    }
    if (document.contains("options")) {
        reporter.UnknownKeys(document.at("options"), kOptionKeys, "options");
    }
    if (document.contains("metrics") && document.at("metrics").is_object()) {
        for (const auto& [type, metric] : document.at("metrics").items()) {
            reporter.UnknownKeys(metric, kMetricKeys, "metrics." + type);
        }
    }
    if (document.contains("durations") && document.at("durations").is_object()) {
        for (const auto& [type, durations] : document.at("durations").items()) {
            if (durations.is_object()) {
                reporter.UnknownKeys(durations, kDurationMetricKeys, "durations." + type);
            }
        }
    }
    if (document.contains("initial_routes")) {
        reporter.EachItem(document.at("initial_routes"), "initial_routes", kRouteKeys);
    }
    if (!document.contains("constraints")) return;
    const json& constraints = document.at("constraints");
    if (!constraints.is_array() && !constraints.is_object()) return;
    size_t index = 0;
    for (const json& constraint : constraints) {
        reporter.Constraint(constraint, "constraints[" + std::to_string(index++) + "]");
    }
}

}  // namespace tamrik
