#include "distortion_formula.h"

#include <gtest/gtest.h>

#include <cmath>

namespace vantri::formula {
namespace {

const DistortionCoefficients kAll{1e-3, -2e-5, 3e-7, 4e-4, -5e-4};

TEST(DistortionFormulaTest, DefaultFormulasEvaluateToHandComputedValues) {
  DistortionFormula radial, dx, dy;
  ASSERT_EQ(radial.Check(DistortionKind::kRadial, kDefaultRadialFormula, kAll), "");
  ASSERT_EQ(dx.Check(DistortionKind::kTangential, kDefaultTangentialXFormula, kAll), "");
  ASSERT_EQ(dy.Check(DistortionKind::kTangential, kDefaultTangentialYFormula, kAll), "");

  // x = 3, y = 4: r = 5, r^2 = 25.
  // dr = 1e-3*125 - 2e-5*3125 + 3e-7*78125 = 0.125 - 0.0625 + 0.0234375
  EXPECT_NEAR(radial.Evaluate(3.0, 4.0), 0.0859375, 1e-15);
  // dx = 4e-4*12 - 5e-4*25*9 = 0.0048 - 0.1125
  EXPECT_NEAR(dx.Evaluate(3.0, 4.0), -0.1077, 1e-15);
  // dy = -5e-4*12 + 4e-4*25*16 = -0.006 + 0.16
  EXPECT_NEAR(dy.Evaluate(3.0, 4.0), 0.154, 1e-15);
  EXPECT_EQ(radial.Evaluate(0.0, 0.0), 0.0);
}

TEST(DistortionFormulaTest, ChecksInOrder) {
  DistortionFormula f;
  EXPECT_EQ(f.Check(DistortionKind::kRadial, "  ", kAll),
            "Please insert a formula into the related row");
  EXPECT_EQ(f.Check(DistortionKind::kRadial, "K1*r^3 +", kAll),
            "Unexpected end of formula at position 9");
  EXPECT_EQ(f.Check(DistortionKind::kRadial, "K2*r^5+K3*r^7", kAll), "Formula doesn't contain K1");
  EXPECT_EQ(f.Check(DistortionKind::kRadial, "K1*r^3+K3*r^7", kAll), "Formula doesn't contain K2");
  EXPECT_EQ(f.Check(DistortionKind::kRadial, "K1*r^3+K2*r^5", kAll), "Formula doesn't contain K3");
  EXPECT_EQ(f.Check(DistortionKind::kRadial, "K1*x+K2*x+K3*y", kAll),
            "Formula doesn't contain r (radius)");
  EXPECT_EQ(f.Check(DistortionKind::kTangential, "P2*x*y", kAll), "Formula doesn't contain P1");
  EXPECT_EQ(f.Check(DistortionKind::kTangential, "P1*x*y", kAll), "Formula doesn't contain P2");
  // "K10" is not K1: the check looks at the variables the formula reads, not at substrings.
  EXPECT_EQ(f.Check(DistortionKind::kRadial, "K10*r+K2+K3", kAll),
            "Unknown variable \"K10\" at position 1");
}

TEST(DistortionFormulaTest, CoefficientWithoutValueIsRefused) {
  DistortionFormula f;
  DistortionCoefficients missing = kAll;
  missing.k2.reset();
  EXPECT_EQ(f.Check(DistortionKind::kRadial, kDefaultRadialFormula, missing), "K2 not defined!");
  EXPECT_TRUE(std::isnan(f.Evaluate(1.0, 1.0)));
  // The tangential formula does not read K2: no value needed.
  EXPECT_EQ(f.Check(DistortionKind::kTangential, kDefaultTangentialXFormula, missing), "");
  missing.p1.reset();
  EXPECT_EQ(f.Check(DistortionKind::kTangential, kDefaultTangentialYFormula, missing),
            "P1 not defined!");
}

}  // namespace
}  // namespace vantri::formula
