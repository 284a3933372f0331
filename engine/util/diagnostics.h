#ifndef BRAVIK_UTIL_DIAGNOSTICS_H
#define BRAVIK_UTIL_DIAGNOSTICS_H

#include <iosfwd>

namespace bravik {

// Where the engine's messages go: the "ERROR: ", "ATTENTION: " and "*** WARNING: " lines and
// the readers' failures on `messages`, the few numeric complaints of the models (zero
// denominators, parallel rays) on `numeric`. The report file is not a sink; it is passed
// to whoever writes report text.
//
// A run owns one Diagnostics and installs it with a DiagnosticsScope for its duration, so
// every layer reaches the run's sink through diagnostics() without a stream parameter on
// each function. Outside any scope (a model used directly, a test) the messages go to
// standard output and the numeric ones to standard error, which is also the default of a
// run. Not thread-safe: runs do not overlap.
struct Diagnostics {
  Diagnostics();  // standard output and standard error
  Diagnostics(std::ostream& messages_to, std::ostream& numeric_to)
      : messages(&messages_to), numeric(&numeric_to) {}

  std::ostream* messages;
  std::ostream* numeric;
};

// The sink of the innermost DiagnosticsScope, or standard output / standard error.
const Diagnostics& diagnostics();
inline std::ostream& messages() { return *diagnostics().messages; }
inline std::ostream& numericMessages() { return *diagnostics().numeric; }

// Installs a sink until destroyed, then restores the one before it.
class DiagnosticsScope {
 public:
  explicit DiagnosticsScope(const Diagnostics& sink);
  ~DiagnosticsScope();
  DiagnosticsScope(const DiagnosticsScope&) = delete;
  DiagnosticsScope& operator=(const DiagnosticsScope&) = delete;

 private:
  const Diagnostics* previous_;
};

}  // namespace bravik

#endif  // BRAVIK_UTIL_DIAGNOSTICS_H
