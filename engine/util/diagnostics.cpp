#include "util/diagnostics.h"

#include <iostream>

namespace bravik {
namespace {

const Diagnostics*& installedSink() {
  static const Diagnostics* sink = nullptr;
  return sink;
}

}  // namespace

Diagnostics::Diagnostics() : messages(&std::cout), numeric(&std::cerr) {}

const Diagnostics& diagnostics() {
  static const Diagnostics standard_streams;
  const Diagnostics* sink = installedSink();
  return sink ? *sink : standard_streams;
}

DiagnosticsScope::DiagnosticsScope(const Diagnostics& sink) : previous_(installedSink()) {
  installedSink() = &sink;
}

DiagnosticsScope::~DiagnosticsScope() { installedSink() = previous_; }

}  // namespace bravik
