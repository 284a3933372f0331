#include "lsq/fill_reducing_order.h"

#include <algorithm>
#include <cstddef>
#include <functional>
#include <iterator>
#include <queue>

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

// Nested dissection over the nodes with label[v] == part; appends to `order`.
class Dissection {
 public:
  Dissection(const Graph& g, std::vector<int>& label, int leaf_size, std::vector<int>& order)
      : g_(g), label_(label), leaf_size_(leaf_size), order_(order), level_(g.size(), -1) {}

  void run(std::vector<int> nodes, int part) {
    if (nodes.empty()) return;
    if (static_cast<int>(nodes.size()) <= leaf_size_) {
      orderLeaf(nodes, part);
      return;
    }
    const int root = peripheral(nodes.front(), part);
    std::vector<std::vector<int>> levels = levelStructure(root, part);
    std::size_t reached = 0;
    for (const auto& level : levels) reached += level.size();
    std::vector<int> near, far, separator;
    if (reached < nodes.size()) {
      // Disconnected: this component on one side, the rest on the other, no separator.
      for (const auto& level : levels) near.insert(near.end(), level.begin(), level.end());
      for (int v : nodes) level_[v] = -1;
      for (int v : near) level_[v] = 0;
      for (int v : nodes)
        if (level_[v] < 0) far.push_back(v);
      for (int v : near) level_[v] = -1;
    } else if (levels.size() < 3) {
      orderLeaf(nodes, part);  // too dense to split by levels
      return;
    } else {
      split(levels, near, far, separator);
    }
    const int near_part = next_part_++, far_part = next_part_++;
    for (int v : near) label_[v] = near_part;
    for (int v : far) label_[v] = far_part;
    for (int v : separator) label_[v] = -1;
    run(std::move(near), near_part);
    run(std::move(far), far_part);
    order_.insert(order_.end(), separator.begin(), separator.end());
  }

 private:
  bool inPart(int v, int part) const { return label_[v] == part; }

  std::vector<std::vector<int>> levelStructure(int root, int part) {
    std::vector<std::vector<int>> levels{{root}};
    level_[root] = 0;
    while (true) {
      std::vector<int> next;
      for (int v : levels.back())
        for (int w : g_[v])
          if (inPart(w, part) && level_[w] < 0) {
            level_[w] = static_cast<int>(levels.size());
            next.push_back(w);
          }
      if (next.empty()) break;
      levels.push_back(std::move(next));
    }
    for (const auto& level : levels)
      for (int v : level) level_[v] = -1;
    return levels;
  }

  int peripheral(int start, int part) {
    int root = start;
    std::vector<std::vector<int>> levels = levelStructure(root, part);
    for (int sweep = 0; sweep < 3; ++sweep) {
      const auto& last = levels.back();
      const int candidate = *std::min_element(last.begin(), last.end(), [this](int a, int b) {
        return g_[a].size() < g_[b].size() || (g_[a].size() == g_[b].size() && a < b);
      });
      std::vector<std::vector<int>> candidate_levels = levelStructure(candidate, part);
      if (candidate_levels.size() <= levels.size()) break;
      root = candidate;
      levels.swap(candidate_levels);
    }
    return root;
  }

  // The level that halves the nodes separates the levels before it from those after it; its
  // nodes without a neighbour after it join the near side.
  void split(const std::vector<std::vector<int>>& levels, std::vector<int>& near,
             std::vector<int>& far, std::vector<int>& separator) {
    std::size_t total = 0;
    for (const auto& level : levels) total += level.size();
    std::size_t before = 0;
    std::size_t middle = 1;
    for (; middle + 1 < levels.size(); ++middle) {
      before += levels[middle - 1].size();
      if (2 * (before + levels[middle].size()) > total) break;
    }
    middle = std::min(middle, levels.size() - 2);
    for (std::size_t l = 0; l < levels.size(); ++l)
      for (int v : levels[l]) level_[v] = static_cast<int>(l);
    for (std::size_t l = 0; l < middle; ++l)
      near.insert(near.end(), levels[l].begin(), levels[l].end());
    for (int v : levels[middle]) {
      const bool touches_far = std::any_of(g_[v].begin(), g_[v].end(), [&](int w) {
        return level_[w] == static_cast<int>(middle) + 1;
      });
      (touches_far ? separator : near).push_back(v);
    }
    for (std::size_t l = middle + 1; l < levels.size(); ++l)
      far.insert(far.end(), levels[l].begin(), levels[l].end());
    for (const auto& level : levels)
      for (int v : level) level_[v] = -1;
  }

  void orderLeaf(const std::vector<int>& nodes, int part) {
    const std::size_t begin = order_.size();
    for (int v : nodes) {
      if (!inPart(v, part)) continue;
      const int root = peripheral(v, part);
      for (const auto& level : levelStructure(root, part))
        for (int w : level) {
          order_.push_back(w);
          label_[w] = -1;
        }
    }
    std::reverse(order_.begin() + static_cast<std::ptrdiff_t>(begin), order_.end());
  }

  const Graph& g_;
  std::vector<int>& label_;
  int leaf_size_;
  std::vector<int>& order_;
  std::vector<int> level_;
  int next_part_ = 1;
};

}  // namespace

std::vector<int> nestedDissectionOrder(const Graph& adjacency, int dense_degree, int leaf_size) {
  const Graph g = withoutDuplicates(adjacency);
  const int count = static_cast<int>(g.size());
  std::vector<int> label(count, 0);
  std::vector<int> nodes;
  for (int v = 0; v < count; ++v) {
    if (static_cast<int>(g[v].size()) > dense_degree)
      label[v] = -1;
    else
      nodes.push_back(v);
  }
  std::vector<int> order;
  order.reserve(count);
  Dissection dissection(g, label, std::max(leaf_size, 1), order);
  dissection.run(std::move(nodes), 0);
  for (int v = 0; v < count; ++v)
    if (static_cast<int>(g[v].size()) > dense_degree) order.push_back(v);
  return order;
}

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

namespace bravik {

std::vector<int> postorderedElimination(const Graph& adjacency, const std::vector<int>& order) {
  const int n = static_cast<int>(order.size());
  std::vector<int> position(n);
  for (int p = 0; p < n; ++p) position[order[p]] = p;
  // Elimination tree by Liu's algorithm with path compression, over positions.
  std::vector<int> parent(n, -1), ancestor(n, -1);
  for (int i = 0; i < n; ++i)
    for (int w : adjacency[order[i]]) {
      int r = position[w];
      if (r >= i) continue;
      while (ancestor[r] != -1 && ancestor[r] != i) {
        const int next = ancestor[r];
        ancestor[r] = i;
        r = next;
      }
      if (ancestor[r] == -1) {
        ancestor[r] = i;
        parent[r] = i;
      }
    }
  std::vector<std::vector<int>> children(n);
  for (int i = 0; i < n; ++i)
    if (parent[i] >= 0) children[parent[i]].push_back(i);
  std::vector<int> result;
  result.reserve(n);
  std::vector<std::pair<int, std::size_t>> stack;
  for (int root = 0; root < n; ++root) {
    if (parent[root] >= 0) continue;
    stack.push_back({root, 0});
    while (!stack.empty()) {
      auto& [node, next_child] = stack.back();
      if (next_child < children[node].size()) {
        const int child = children[node][next_child++];
        stack.push_back({child, 0});
      } else {
        result.push_back(order[node]);
        stack.pop_back();
      }
    }
  }
  return result;
}

std::vector<int> minimumDegreeOrder(const Graph& adjacency, int dense_degree) {
  Graph g = withoutDuplicates(adjacency);
  const int count = static_cast<int>(g.size());
  std::vector<char> done(count, 0);
  std::vector<int> dense;
  for (int v = 0; v < count; ++v)
    if (static_cast<int>(g[v].size()) > dense_degree) done[v] = 1, dense.push_back(v);
  auto live = [&](int v) {
    auto& list = g[v];
    list.erase(std::remove_if(list.begin(), list.end(), [&](int w) { return done[w] != 0; }),
               list.end());
  };
  using Entry = std::pair<int, int>;  // (degree, node)
  std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> queue;
  for (int v = 0; v < count; ++v)
    if (!done[v]) {
      live(v);
      queue.push({static_cast<int>(g[v].size()), v});
    }
  std::vector<int> order;
  order.reserve(count);
  int remaining = count - static_cast<int>(dense.size());
  std::vector<int> merged;
  while (!queue.empty()) {
    const auto [degree, v] = queue.top();
    queue.pop();
    if (done[v] || degree != static_cast<int>(g[v].size())) continue;  // stale entry
    if (degree + 1 == remaining) {
      // A clique remains: its order does not change the fill.
      for (int w = 0; w < count; ++w)
        if (!done[w]) order.push_back(w), done[w] = 1;
      break;
    }
    done[v] = 1;
    order.push_back(v);
    --remaining;
    const std::vector<int> neighbours = std::move(g[v]);
    g[v].clear();
    for (int u : neighbours) {
      merged.clear();
      std::set_union(g[u].begin(), g[u].end(), neighbours.begin(), neighbours.end(),
                     std::back_inserter(merged));
      merged.erase(std::remove_if(merged.begin(), merged.end(),
                                  [&](int w) { return w == u || done[w] != 0; }),
                   merged.end());
      g[u].swap(merged);
      queue.push({static_cast<int>(g[u].size()), u});
    }
  }
  order.insert(order.end(), dense.begin(), dense.end());
  return postorderedElimination(adjacency, order);
}

}  // namespace bravik
