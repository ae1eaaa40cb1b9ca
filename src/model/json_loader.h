#pragma once

#include <string>
#include <unordered_map>

#include <nlohmann/json_fwd.hpp>

#include "model/problem.h"

namespace tamrik {

// Cost matrices already read, by their name under "costs".
using ReadMatrices = std::unordered_map<std::string, CostMatrix>;

// Fills a freshly constructed problem from a parsed instance document. A value that does not
// fit its field raises InputError naming the field's path and the value; the problem is then
// left partly filled. A matrix found in
// `read` is taken from there (moved) instead of from the document.
void load_problem_json(const nlohmann::json& document, Problem& problem,
                       ReadMatrices* read = nullptr);

}  // namespace tamrik
