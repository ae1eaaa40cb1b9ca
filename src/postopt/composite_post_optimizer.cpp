#include "postopt/composite_post_optimizer.h"

#include <utility>

namespace tamrik {

CompositePostOptimizer::~CompositePostOptimizer() {
    // std::vector leaves the order of element destruction open: destroy explicitly, in order.
    for (std::unique_ptr<PostOptimizerPlugin>& member : members) member.reset();
}

std::string CompositePostOptimizer::Name() const { return "CompositePostOptimizer"; }

void CompositePostOptimizer::Optimize(const PlannerGraph* graph,
                                      const std::vector<PointRecord>& points,
                                      const std::vector<AgentRecord>& agents, Result& result) {
    for (auto& member : members) member->Optimize(graph, points, agents, result);
}

void CompositePostOptimizer::SetReturnToEnd(bool return_to_end) {
    for (auto& member : members) member->SetReturnToEnd(return_to_end);
}

void CompositePostOptimizer::SetStartNodes(const std::vector<int64_t>& starts) {
    for (auto& member : members) member->SetStartNodes(starts);
}

void CompositePostOptimizer::SetEndNodes(const std::vector<int64_t>& ends) {
    for (auto& member : members) member->SetEndNodes(ends);
}

bool CompositePostOptimizer::SetTimeWindows(const TimeWindowMap& time_windows) {
    for (auto& member : members) member->SetTimeWindows(time_windows);
    return !time_windows.empty();
}

void CompositePostOptimizer::AddMember(std::unique_ptr<PostOptimizerPlugin> member) {
    if (member) members.push_back(std::move(member));
}

}  // namespace tamrik
