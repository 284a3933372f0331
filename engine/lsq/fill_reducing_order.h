#ifndef BRAVIK_LSQ_FILL_REDUCING_ORDER_H
#define BRAVIK_LSQ_FILL_REDUCING_ORDER_H

#include <vector>

namespace bravik {

// Elimination order for an envelope factorisation of a symmetric sparse matrix given by the
// adjacency lists of its graph (no self loops needed; duplicates allowed).
// Reverse Cuthill-McKee per connected component, started from a pseudo-peripheral node of
// minimum degree; nodes whose degree exceeds `dense_degree` (e.g. an AP set seen by every image)
// are taken out of the traversal and appended last in their input order, so that their full
// rows do not widen the envelope of every other row. Returns order[position] = node.
std::vector<int> fillReducingOrder(const std::vector<std::vector<int>>& adjacency,
                                   int dense_degree);

// The default threshold for "dense" nodes: max(32, 8 x the median degree).
int denseDegreeThreshold(const std::vector<std::vector<int>>& adjacency);

}  // namespace bravik

#endif  // BRAVIK_LSQ_FILL_REDUCING_ORDER_H
