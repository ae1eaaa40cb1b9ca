#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "solver/search_records.h"

namespace tamrik {

// a dominates b: no larger g, no larger cost for any agent, and every vertex b has served is
// served in a. Reflexive: a label dominates an exact copy of itself.
bool Dominates(const Label& a, const Label& b);

// Writes the joint position key ("3_0_12_" for agents at 3, 0 and 12) into `key`, reusing its
// storage.
void JointPositionKey(const std::vector<int64_t>& positions, std::string& key);

// The expanded labels at one joint position that no other stored label dominates.
class Frontier {
public:
    virtual ~Frontier() = default;
    virtual bool Contains(const Label& label) const;
    // Removes every stored label that `label` dominates, appends it and returns the count
    // removed.
    virtual uint32_t Insert(Label label);

    const std::vector<Label>& Labels() const { return labels; }

private:
    std::vector<Label> labels;
};

}  // namespace tamrik
