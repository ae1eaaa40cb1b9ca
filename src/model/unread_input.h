#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace tamrik {

// What the loader of a JSON instance passes over without a word: keys it does not know,
// at the top level and in nodes, agents, options, metrics, initial routes, constraint
// objects and their items, and constraint objects it skips (an unknown "kind", or a known
// one without its list). One line each, naming the key and where it stands, with the known
// key that was probably meant when one is close. Appends to `warnings`.
void report_unread_input(const nlohmann::json& document, std::vector<std::string>& warnings);

// Every key the loader reads, by where it stands: "" (the top level), "nodes[]", "agents[]",
// "options", "metrics.<type>", "initial_routes[]", "constraints[]" (a constraint object)
// and, for each kind, "<kind>.<list key>[]" (its items). For documentation and its tests.
std::vector<std::pair<std::string, std::vector<std::string>>> known_keys();

// The known key closest to `key` (ignoring case), or an empty view when none is close:
// within two edits and fewer edits than the shorter key has letters, or one of the two
// containing the other.
std::string_view closest_key(std::string_view key, const std::vector<std::string_view>& known);

}  // namespace tamrik
