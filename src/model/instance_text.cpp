#include "model/instance_text.h"

#include <functional>

#include <nlohmann/json.hpp>

#include "model/json_loader.h"

namespace tamrik {
namespace {

using nlohmann::json;
using Event = json::parse_event_t;

// The parser's callback: takes the numbers under "costs" out of the document into
// `matrices`, leaving each matrix in the document as an empty list. Depths: 1 for the
// members of the root, 2 for the matrices, 3 for their rows, 4 for the entries.
class MatrixCollector {
public:
    bool operator()(int depth, Event event, json& parsed) {
        if (depth <= 1) return AtTopLevel(depth, event, parsed);
        if (!in_costs_) return true;
        if (depth == 2) return AtMatrix(event, parsed);
        if (depth == 3 && matrix_ != nullptr) return AtRow(event);
        if (depth == 4 && row_ != nullptr && event == Event::value && parsed.is_number()) {
            row_->push_back(parsed.get<double>());
            return false;
        }
        irregular_ = true;
        return true;
    }

    bool Irregular() const { return irregular_; }
    ReadMatrices& Matrices() { return matrices_; }

private:
    bool AtTopLevel(int depth, Event event, const json& parsed) {
        if (depth == 0) return true;
        const bool opens = event == Event::object_start || event == Event::array_start;
        if (event == Event::key) {
            costs_next_ = parsed == "costs";
        } else if (costs_next_ && opens) {
            // A later "costs" replaces an earlier one in the document too.
            matrices_.clear();
            in_costs_ = true;
            costs_are_listed_ = event == Event::array_start;
            listed_ = 0;
        } else if (costs_next_ && event == Event::value) {
            matrices_.clear();
            costs_next_ = false;
        } else if (in_costs_) {
            in_costs_ = costs_next_ = false;
        }
        return true;
    }

    bool AtMatrix(Event event, const json& parsed) {
        if (event == Event::key) {
            key_ = parsed.get<std::string>();
        } else if (event == Event::array_start) {
            const std::string name = costs_are_listed_ ? std::to_string(listed_++) : key_;
            matrix_ = &(matrices_[name] = CostMatrix{});
        } else if (event == Event::array_end) {
            matrix_ = nullptr;
        } else {
            irregular_ = true;
        }
        return true;
    }

    bool AtRow(Event event) {
        if (event == Event::array_start) {
            // Rows are mostly as long as the one before.
            const size_t expected = matrix_->empty() ? 0 : matrix_->back().size();
            row_ = &matrix_->emplace_back();
            row_->reserve(expected);
            return true;
        }
        if (event == Event::array_end) {
            row_ = nullptr;
            return false;
        }
        irregular_ = true;
        return true;
    }

    bool costs_next_ = false;
    bool in_costs_ = false;
    bool costs_are_listed_ = false;
    size_t listed_ = 0;
    std::string key_;
    CostMatrix* matrix_ = nullptr;
    std::vector<double>* row_ = nullptr;
    bool irregular_ = false;
    ReadMatrices matrices_;
};

}  // namespace

void load_problem_text(const std::string& text, Problem& problem) {
    MatrixCollector collector;
    json document = json::parse(text, std::ref(collector));
    if (collector.Irregular()) {
        load_problem_json(json::parse(text), problem);
        return;
    }
    load_problem_json(document, problem, &collector.Matrices());
}

}  // namespace tamrik
