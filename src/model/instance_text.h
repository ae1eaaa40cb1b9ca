#pragma once

#include <string>

#include "model/problem.h"

namespace tamrik {

// Parses a JSON instance and fills a freshly constructed problem from it, as
// load_problem_json does with the parsed document. The numbers of the cost matrices go
// straight into the matrices as they are read, without a document node each; a matrix of
// any other form than rows of numbers makes the whole text be read the plain way, so that
// every error is the one load_problem_json gives.
void load_problem_text(const std::string& text, Problem& problem);

}  // namespace tamrik
