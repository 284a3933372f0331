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

// Elimination order for a supernodal factorisation: nested dissection. A part of the graph is
// split by a middle level of a breadth-first level structure from a pseudo-peripheral node
// (trimmed to the nodes that touch the far side); both sides are ordered first, recursively, and
// the separator after them. Parts of at most `leaf_size` nodes keep the reverse Cuthill-McKee
// order. Nodes of degree above `dense_degree` come last in their input order, as above. For the
// grid-like image graphs of aerial blocks the separators are strips of about sqrt(n) images, so
// the factor holds O(n log n) blocks instead of the envelope's O(n^1.5).
std::vector<int> nestedDissectionOrder(const std::vector<std::vector<int>>& adjacency,
                                       int dense_degree, int leaf_size = 48);

// Elimination order for a supernodal factorisation: minimum degree on the explicit elimination
// graph (ties by node number), then the elimination tree postordered so that nodes with nested
// structures are consecutive. Nodes of degree above `dense_degree` come last, as above; once
// the remaining graph is a clique it is taken as it stands.
std::vector<int> minimumDegreeOrder(const std::vector<std::vector<int>>& adjacency,
                                    int dense_degree);

// The same elimination in a postorder of its elimination tree (children in ascending order):
// the same fill, with every subtree consecutive.
std::vector<int> postorderedElimination(const std::vector<std::vector<int>>& adjacency,
                                        const std::vector<int>& order);

// The default threshold for "dense" nodes: max(32, 8 x the median degree).
int denseDegreeThreshold(const std::vector<std::vector<int>>& adjacency);

}  // namespace bravik

#endif  // BRAVIK_LSQ_FILL_REDUCING_ORDER_H
