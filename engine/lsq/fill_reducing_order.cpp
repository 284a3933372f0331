#include "lsq/fill_reducing_order.h"

#include <algorithm>
#include <cstddef>

namespace bravik {
namespace {

using Graph = std::vector<std::vector<int>>;

// Breadth-first levels from `root` over unmarked nodes; returns the nodes of the last level.
std::vector<int> lastLevel(const Graph& g, int root, const std::vector<char>& excluded,
                           std::vector<int>& level_of, int& depth) {
  std::vector<int> current{root};
  std::vector<int> touched{root};
  level_of[root] = 0;
  depth = 0;
  std::vector<int> last = current;
  while (!current.empty()) {
    last = current;
    std::vector<int> next;
    for (int v : current)
      for (int w : g[v])
        if (!excluded[w] && level_of[w] < 0) {
          level_of[w] = depth + 1;
          touched.push_back(w);
          next.push_back(w);
        }
    if (!next.empty()) ++depth;
    current.swap(next);
  }
  for (int v : touched) level_of[v] = -1;
  return last;
}

// A node far from the rest of its component (George-Liu heuristic, a few sweeps).
int pseudoPeripheralNode(const Graph& g, int start, const std::vector<char>& excluded) {
  std::vector<int> level_of(g.size(), -1);
  int root = start;
  int depth = 0;
  std::vector<int> last = lastLevel(g, root, excluded, level_of, depth);
  for (int sweep = 0; sweep < 4; ++sweep) {
    int candidate = *std::min_element(last.begin(), last.end(), [&g](int a, int b) {
      return g[a].size() < g[b].size() || (g[a].size() == g[b].size() && a < b);
    });
    int candidate_depth = 0;
    std::vector<int> candidate_last = lastLevel(g, candidate, excluded, level_of, candidate_depth);
    if (candidate_depth <= depth) break;
    root = candidate;
    depth = candidate_depth;
    last.swap(candidate_last);
  }
  return root;
}

// Cuthill-McKee visit of one component; neighbours in increasing degree.
void cuthillMcKee(const Graph& g, int root, std::vector<char>& visited, std::vector<int>& order) {
  std::size_t head = order.size();
  order.push_back(root);
  visited[root] = 1;
  std::vector<int> neighbours;
  while (head < order.size()) {
    const int v = order[head++];
    neighbours.clear();
    for (int w : g[v])
      if (!visited[w]) {
        visited[w] = 1;
        neighbours.push_back(w);
      }
    std::sort(neighbours.begin(), neighbours.end(), [&g](int a, int b) {
      return g[a].size() < g[b].size() || (g[a].size() == g[b].size() && a < b);
    });
    order.insert(order.end(), neighbours.begin(), neighbours.end());
  }
}

Graph withoutDuplicates(const Graph& adjacency) {
  Graph g = adjacency;
  for (std::size_t v = 0; v < g.size(); ++v) {
    auto& list = g[v];
    list.erase(std::remove(list.begin(), list.end(), static_cast<int>(v)), list.end());
    std::sort(list.begin(), list.end());
    list.erase(std::unique(list.begin(), list.end()), list.end());
  }
  return g;
}

}  // namespace

int denseDegreeThreshold(const Graph& adjacency) {
  if (adjacency.empty()) return 32;
  std::vector<std::size_t> degrees;
  degrees.reserve(adjacency.size());
  for (const auto& list : adjacency) degrees.push_back(list.size());
  std::nth_element(degrees.begin(), degrees.begin() + degrees.size() / 2, degrees.end());
  return std::max<int>(32, 8 * static_cast<int>(degrees[degrees.size() / 2]));
}

std::vector<int> fillReducingOrder(const Graph& adjacency, int dense_degree) {
  const Graph g = withoutDuplicates(adjacency);
  const int count = static_cast<int>(g.size());
  std::vector<char> dense(count, 0);
  for (int v = 0; v < count; ++v) dense[v] = static_cast<int>(g[v].size()) > dense_degree;

  std::vector<char> visited = dense;
  std::vector<int> order;
  order.reserve(count);
  for (int v = 0; v < count; ++v) {
    if (visited[v]) continue;
    const std::size_t begin = order.size();
    cuthillMcKee(g, pseudoPeripheralNode(g, v, dense), visited, order);
    std::reverse(order.begin() + begin, order.end());
  }
  for (int v = 0; v < count; ++v)
    if (dense[v]) order.push_back(v);
  return order;
}

}  // namespace bravik
