#include "model/constraints.h"

namespace tamrik {

void AssignmentConstraint::set_assignment(uint64_t node, std::vector<std::string> types) {
    allowed_types[node] = std::move(types);
}

void TimeWindowConstraint::set_timewindow(uint64_t node, double start, double end) {
    windows[node] = {start, end};
}

}  // namespace tamrik
