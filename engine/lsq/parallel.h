#ifndef BRAVIK_LSQ_PARALLEL_H
#define BRAVIK_LSQ_PARALLEL_H

#include <algorithm>
#include <thread>
#include <vector>

namespace bravik {

// body(task, begin, end) for `tasks` contiguous ranges that cover [0, count) in order, task 0 on
// the calling thread, the others on threads of their own; returns when all are done. The ranges
// depend only on count and tasks (clamped to 1 .. count).
template <class Body>
void splitRange(int count, int tasks, Body body) {
  tasks = std::clamp(tasks, 1, std::max(count, 1));
  if (tasks <= 1) {
    body(0, 0, count);
    return;
  }
  std::vector<std::thread> workers;
  for (int t = 1; t < tasks; ++t)
    workers.emplace_back(body, t, static_cast<int>(static_cast<long long>(count) * t / tasks),
                         static_cast<int>(static_cast<long long>(count) * (t + 1) / tasks));
  body(0, 0, count / tasks);
  for (std::thread& w : workers) w.join();
}

}  // namespace bravik

#endif  // BRAVIK_LSQ_PARALLEL_H
