#include "model/constraints.h"

namespace tamrik {

void AssignmentConstraint::set_assignment(uint64_t node, std::vector<std::string> types) {
    allowed_types[node] = std::move(types);
}

void TimeWindowConstraint::set_timewindow(uint64_t node, double start, double end) {
    windows[node] = {start, end};
    several.erase(node);
}

void TimeWindowConstraint::set_timewindows(uint64_t node, std::vector<Window> list) {
    if (list.size() == 1) {
        set_timewindow(node, list.front().first, list.front().second);
        return;
    }
    windows.erase(node);
    if (!list.empty()) windows[node] = {list.front().first, list.back().second};
    several[node] = std::move(list);
}

}  // namespace tamrik
