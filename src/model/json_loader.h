#pragma once

#include <nlohmann/json_fwd.hpp>

#include "model/problem.h"

namespace tamrik {

// Fills a freshly constructed problem from a parsed instance document. Every failure is the
// JSON library's own exception; the problem is then left partly filled.
void load_problem_json(const nlohmann::json& document, Problem& problem);

}  // namespace tamrik
