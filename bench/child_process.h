#pragma once
// Runs one measurement in a forked child so that its peak resident memory is its own: the
// child's maximum resident set comes from wait4's rusage. The parent must stay small, since a
// forked child starts with the parent's resident pages.
#include <functional>
#include <vector>

namespace bench {

struct ChildResult {
  bool ok = false;             // the child exited normally and reported success
  std::vector<double> values;  // what the child reported
  double peak_mb = 0.0;        // maximum resident set of the child, MiB
};

// `work` runs in the child and returns the values to report, or an empty vector on failure.
ChildResult runInChild(const std::function<std::vector<double>()>& work);

}  // namespace bench
