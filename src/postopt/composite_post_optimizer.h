#pragma once

#include <memory>
#include <string>
#include <vector>

#include "postopt/post_optimizer_plugin.h"

namespace tamrik {

// Runs an ordered list of owned post-optimizers as one. Every operation is forwarded
// to the members in list order; Optimize hands each member the Result the previous one left.
class CompositePostOptimizer : public PostOptimizerPlugin {
public:
    CompositePostOptimizer() = default;
    CompositePostOptimizer(const CompositePostOptimizer&) = delete;
    CompositePostOptimizer& operator=(const CompositePostOptimizer&) = delete;
    // Destroys the members in list order, then the list.
    ~CompositePostOptimizer() override;

    std::string Name() const override;
    void Optimize(const PlannerGraph* graph, const std::vector<PointRecord>& points,
                  const std::vector<AgentRecord>& agents, Result& result) override;
    void SetReturnToEnd(bool return_to_end) override;
    void SetStartNodes(const std::vector<int64_t>& starts) override;
    void SetEndNodes(const std::vector<int64_t>& ends) override;
    // Forwards the map; the members' flags are not collected. Returns whether the map holds
    // any window (what every conforming member reports).
    bool SetTimeWindows(const TimeWindowMap& time_windows) override;

    // Appends a member at the end of the list (a null pointer is ignored).
    void AddMember(std::unique_ptr<PostOptimizerPlugin> member);
    size_t NumMembers() const { return members.size(); }

private:
    std::vector<std::unique_ptr<PostOptimizerPlugin>> members;
};

}  // namespace tamrik
