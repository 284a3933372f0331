#include "distortion_formula.h"

#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace vantri::formula {
namespace {

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

}  // namespace

DistortionFormula::DistortionFormula() {
  for (const char* name : {"x", "y", "r", "K1", "K2", "K3", "P1", "P2"})
    parser_.DefineVariable(name);
}

std::string DistortionFormula::Check(DistortionKind kind, const std::string& text,
                                     const DistortionCoefficients& coefficients) {
  ready_ = false;
  if (Trimmed(text).empty()) return "Please insert a formula into the related row";
  if (!parser_.Compile(text)) return parser_.ErrorText();

  const std::vector<std::pair<const char*, const char*>> required =
      kind == DistortionKind::kRadial
          ? std::vector<std::pair<const char*, const char*>>{{"K1", "K1"},
                                                             {"K2", "K2"},
                                                             {"K3", "K3"},
                                                             {"r", "r (radius)"}}
          : std::vector<std::pair<const char*, const char*>>{{"P1", "P1"}, {"P2", "P2"}};
  for (const auto& [name, label] : required)
    if (!parser_.UsesVariable(name)) return std::string("Formula doesn't contain ") + label;

  const std::pair<const char*, const std::optional<double>*> values[] = {{"K1", &coefficients.k1},
                                                                         {"K2", &coefficients.k2},
                                                                         {"K3", &coefficients.k3},
                                                                         {"P1", &coefficients.p1},
                                                                         {"P2", &coefficients.p2}};
  for (const auto& [name, value] : values) {
    if (!parser_.UsesVariable(name)) continue;
    if (!value->has_value()) return std::string(name) + " not defined!";
    parser_.SetVariable(name, **value);
  }
  ready_ = true;
  return {};
}

double DistortionFormula::Evaluate(double x, double y) {
  if (!ready_) return std::numeric_limits<double>::quiet_NaN();
  parser_.SetVariable("x", x);
  parser_.SetVariable("y", y);
  parser_.SetVariable("r", std::hypot(x, y));
  return parser_.Evaluate();
}

}  // namespace vantri::formula
