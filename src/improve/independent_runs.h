#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "improve/improvement_stage.h"
#include "improve/near_lists.h"
#include "improve/parallel_hooks.h"
#include "route/route_rules.h"
#include "route/task_rules.h"

namespace tamrik {

// Small instances end once their cooling cycles stall, long before a budget runs out, so more
// threads buy them more runs rather than faster ones: run k is a whole stage with its own seed
// on its own thread, each against the budget on its own thread clock, and the best answer of
// all is kept. Run 0 uses the given seed on the calling thread, so the answer is never worse
// than one thread's; its improvements are reported as they come, a better one of another run
// at the end. `paths` becomes the best solution found. A Stage is the annealing stage or the
// population search. `most_broken` becomes run 0's MostBroken.
template <typename Stage>
ImprovementStage::Stop RunIndependently(const RouteRules& rules,
                                        const ImprovementSettings& settings,
                                        const TaskRules* tasks, size_t threads,
                                        const NearLists& neighbours,
                                        std::vector<std::vector<int64_t>>& paths,
                                        const ParallelHooks& hooks, size_t& most_broken);

}  // namespace tamrik
