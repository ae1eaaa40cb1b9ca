#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "records/search_records.h"

namespace tamrik {

// The sets A (served vertices and every agent's position) and B (served vertices that no
// unfinished agent stands on) of the spanning-tree estimate, and the mask of the vertices
// 0 .. N-1.
struct TreeSets {
    VisitedSet tree;
    VisitedSet closed;
    VisitedSet all;
};

// The rank tables of DefaultHeuristic (see there) that the tree growth reads.
struct RankTables {
    const uint16_t* rows;
    const double* weights;
    size_t span;
    size_t stride;
};

// Returned when the vertices outside the tree cannot all be reached.
inline constexpr double kTreeUnconnected = 1.1235582092889473e307;

// The Prim-style growth of the estimate from sets whose tree does not yet cover every vertex:
// the sum of the weights of the pairs taken, in the order taken.
double GrowTree(const RankTables& tables, const TreeSets& sets);

// Two independent growths run step by step side by side, which lets the processor overlap
// their dependency chains; each result equals GrowTree's.
void GrowTwoTrees(const RankTables& tables, const TreeSets& first, const TreeSets& second,
                  double& first_total, double& second_total);

}  // namespace tamrik
