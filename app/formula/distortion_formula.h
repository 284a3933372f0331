#pragma once

// Lens-distortion formulas of the passport manager: a formula in the image coordinates x, y
// (pixels or mm, as the caller chooses), the radius r = sqrt(x^2 + y^2) and the coefficients
// K1, K2, K3 (radial) and P1, P2 (tangential), checked and then evaluated at many points.

#include <optional>
#include <string>

#include "formula_parser.h"

namespace vantri::formula {

inline constexpr const char* kDefaultRadialFormula = "(K1*r^3)+(K2*r^5)+(K3*r^7)";
inline constexpr const char* kDefaultTangentialXFormula = "(P1*x*y)+(P2*r^2*x^2)";
inline constexpr const char* kDefaultTangentialYFormula = "(P2*x*y)+(P1*r^2*y^2)";

enum class DistortionKind { kRadial, kTangential };

// A coefficient without a value is an empty cell of the passport table.
struct DistortionCoefficients {
  std::optional<double> k1, k2, k3, p1, p2;
};

class DistortionFormula {
 public:
  DistortionFormula();

  // Checks and compiles the formula of the given kind. Returns the message for the operator,
  // empty when the formula is usable. In order: "Please insert a formula into the related row"
  // for an empty text; the parser's error with its position; a radial formula must use K1, K2,
  // K3 and r, a tangential one P1 and P2 ("Formula doesn't contain K1", ...,
  // "Formula doesn't contain r (radius)"); every coefficient the formula uses needs a value
  // ("K1 not defined!", ...).
  std::string Check(DistortionKind kind, const std::string& text,
                    const DistortionCoefficients& coefficients);

  // Value of the checked formula at (x, y); NaN when Check() has not succeeded.
  double Evaluate(double x, double y);

 private:
  FormulaParser parser_;
  bool ready_ = false;
};

}  // namespace vantri::formula
