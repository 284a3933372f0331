#include "input/params_io.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

namespace bravik {
namespace {

using testing::HasSubstr;

// A complete settings file: fields 1 to 22, the two units and the interface.
constexpr const char* kDefaultsFile =
    "1e-6 10  0 0 1 1  0.001 0.001 1e-6 1e-8  1e-30 1e30 1e-31 1e31 "
    "1e10 1e10 0.8 1.0 0.001 1.96 0.0001 10  m rad native";

std::string readSettings(LSParams& ls, const std::string& text, int expected) {
  std::istringstream in(text);
  testing::internal::CaptureStdout();
  EXPECT_EQ(readLSParams(ls, in), expected) << text;
  return testing::internal::GetCapturedStdout();
}

std::string replaceField(std::string text, const std::string& from, const std::string& to) {
  text.replace(text.find(from), from.size(), to);
  return text;
}

TEST(RunOptionsTest, DefaultsFileReproducesDefaultsAndEcho) {
  RunOptions options;
  options.printCheckRays = true;
  std::istringstream in("0 0 0 0 0 0 0 0 0 0 0 0 5 5 none none none none");
  ASSERT_EQ(readRunOptions(options, in), 1);
  std::ostringstream out;
  printRunOptions(options, out);
  std::ostringstream defaults;
  printRunOptions(RunOptions{}, defaults);
  EXPECT_EQ(out.str(), defaults.str());
  const std::string text = out.str();
  EXPECT_THAT(text, testing::StartsWith("Parameters/Options\n==================\n"
                                        "Single ray option                    :  off\n"));
  EXPECT_THAT(text, HasSubstr("  - number of grid points in x and y :  5 x 5\n"));
  EXPECT_THAT(text, HasSubstr("  - solution vector                  :  none\n\n"));
  EXPECT_THAT(text, testing::Not(HasSubstr(":  on")));
}

// The quality-analysis entry after field 18: absent (every older file) it is off and the echo is
// unchanged; present it is read, validated and echoed; other trailing words change nothing.
TEST(RunOptionsTest, OptionalQualityAnalysisEntry) {
  const std::string fields = "0 0 0 0 0 0 0 0 0 0 0 0 5 5 none none none none";
  auto read = [&](const std::string& tail, int expected, RunOptions& options) {
    std::istringstream in(fields + tail);
    testing::internal::CaptureStdout();
    EXPECT_EQ(readRunOptions(options, in), expected) << tail;
    return testing::internal::GetCapturedStdout();
  };
  std::ostringstream defaults;
  printRunOptions(RunOptions{}, defaults);
  for (const char* tail : {"", "\n\n", " extra"}) {
    RunOptions options;
    const std::string messages = read(tail, 1, options);
    EXPECT_FALSE(options.qualityAnalysis);
    std::ostringstream echo;
    printRunOptions(options, echo);
    EXPECT_EQ(echo.str(), defaults.str());
    EXPECT_EQ(messages, std::string(tail) == " extra"
                            ? "ATTENTION: Ignored after the run options: extra\n"
                            : "");
  }
  RunOptions on;
  read("\nquality-analysis 1", 1, on);
  EXPECT_TRUE(on.qualityAnalysis);
  EXPECT_EQ(on.snoopingLimit, 3.29);
  std::ostringstream echo;
  printRunOptions(on, echo);
  EXPECT_THAT(echo.str(), HasSubstr("  - solution vector                  :  none\n"
                                    "Quality analysis                     :  on\n"
                                    "  - limit for normalised residuals   :      3.29\n\n"));
  RunOptions limit;
  read(" quality-analysis 1 2.5", 1, limit);
  EXPECT_EQ(limit.snoopingLimit, 2.5);
  RunOptions off;
  read(" quality-analysis 0 4", 1, off);
  EXPECT_FALSE(off.qualityAnalysis);

  RunOptions bad;
  EXPECT_EQ(read(" quality-analysis on", -1, bad), "Reading quality analysis switch failed.\n");
  for (const char* limitText :
       {" quality-analysis 1 0", " quality-analysis 1 -3", " quality-analysis 1 inf"})
    EXPECT_EQ(read(limitText, -1, bad),
              "ERROR: Limit for normalised residuals must be greater than zero.\n");
}

TEST(RunOptionsTest, EachGroupReportsItsOwnFailure) {
  const std::pair<const char*, const char*> cases[] = {
      {"on", "Reading single-ray option failed.\n"},
      {"1 0 2 0 0", "Reading output flags failed.\n"},
      {"1 0 0 0 0 0 0 0 0 x", "Reading output flags for unknown parameters failed.\n"},
      {"1 0 0 0 0 0 0 0 0 0 0", "Reading debug flags failed.\n"},
      {"1 0 0 0 0 0 0 0 0 0 0 1 7 7.5", "Reading output flags of AP corrections failed.\n"},
      {"1 0 0 0 0 0 0 0 0 0 0 1 7 2147483647", "ERROR: Number of AP grid points exceeds 100.\n"},
      {"1 0 0 0 0 0 0 0 0 0 0 1 101 5", "ERROR: Number of AP grid points exceeds 100.\n"},
      {"1 0 0 0 0 0 0 0 0 0 0 1 7 8", "Reading filename of normal matrix structure failed.\n"},
      {"1 0 0 0 0 0 0 0 0 0 0 1 7 8 a b c", "Reading filename of solution vector failed.\n"},
  };
  for (const auto& [text, message] : cases) {
    RunOptions options;
    std::istringstream in(text);
    testing::internal::CaptureStdout();
    EXPECT_EQ(readRunOptions(options, in), -1) << text;
    EXPECT_EQ(testing::internal::GetCapturedStdout(), message) << text;
  }
  RunOptions options;
  std::istringstream in("1 0 0 0 0 0 0 0 0 0 0 1 7 8");
  testing::internal::CaptureStdout();
  readRunOptions(options, in);
  testing::internal::GetCapturedStdout();
  EXPECT_TRUE(options.singleRay);  // fields before the failure stay set
  EXPECT_EQ(options.apGridY, 8);
}

TEST(LSParamsTest, CompleteFileAndEcho) {
  LSParams ls;
  ls.sigma0 = 5.0;
  EXPECT_EQ(readSettings(ls, replaceField(kDefaultsFile, "m rad native", "ft deg lapack"), 1), "");
  EXPECT_EQ(ls.sigma0, 1e-6);
  EXPECT_DOUBLE_EQ(ls.residualPrintLimit, 1e-5);
  EXPECT_EQ(ls.lengthUnit.factor(), 0.3048);
  EXPECT_EQ(ls.adjustmentInterface, AdjustmentInterface::kLapack);
  std::ostringstream out;
  printLSParams(ls, out);
  const std::string text = out.str();
  EXPECT_THAT(text, testing::StartsWith("Least-squares parameters/options\n"
                                        "================================\n"
                                        "Standard deviation of unit weight  :  1.00e-06\n"
                                        "Maximum number of iterations       :  10\n\n"));
  EXPECT_THAT(text, HasSubstr("  - object point coords.           :    0.0010 m\n"));
  EXPECT_THAT(text, HasSubstr("  - unknown is free                :  1.00e+31\n"));
  EXPECT_THAT(text, HasSubstr("Output limit of correlation coeffs :      0.80\n"));
  EXPECT_THAT(text, HasSubstr("  - rotation angles                :  1.00e-03 rad\n"));
  EXPECT_THAT(text, HasSubstr("Limit for printing residuals       :     10.00 um\n\n"));
  EXPECT_THAT(text, HasSubstr("Unit of object space coords.       :  ft\n"
                              "Unit of rotation angles            :  deg\n\n"
                              "Adjustment interface               :  lapack\n\n"));
}

TEST(LSParamsTest, SparseInterfaceIsReadAndEchoed) {
  LSParams ls;
  EXPECT_EQ(readSettings(ls, replaceField(kDefaultsFile, "m rad native", "m rad sparse"), 1), "");
  EXPECT_EQ(ls.adjustmentInterface, AdjustmentInterface::kSparse);
  EXPECT_EQ(static_cast<int>(ls.adjustmentInterface), 2);
  std::ostringstream out;
  printLSParams(ls, out);
  EXPECT_THAT(out.str(), HasSubstr("Adjustment interface               :  sparse\n\n"));
}

TEST(LSParamsTest, LimitValidation) {
  LSParams ls;
  EXPECT_EQ(readSettings(ls, replaceField(kDefaultsFile, "1e-30 1e30", "-1 1e30"), -1),
            "ERROR: Limits of std. devs. must be >= than zero.\n");
  ls = LSParams();
  EXPECT_EQ(readSettings(ls, replaceField(kDefaultsFile, "1e-31 1e31", "1e-30 1e31"), -1),
            "ERROR: sminu must be less than smin.\n");
  ls = LSParams();
  EXPECT_EQ(readSettings(ls, replaceField(kDefaultsFile, "1e-31 1e31", "1e-31 1e30"), -1),
            "ERROR: smaxu must be greater than smax.\n");
}

TEST(LSParamsTest, UnitsAndInterfaceWords) {
  LSParams ls;
  EXPECT_EQ(readSettings(ls, replaceField(kDefaultsFile, "m rad", "M rad"), -1),
            "Unknown unit of object coords.: M\n");
  EXPECT_EQ(readSettings(ls, replaceField(kDefaultsFile, "m rad", "unk rad"), -1),
            "Unknown unit of object coords.: unk\n");
  EXPECT_EQ(readSettings(ls, replaceField(kDefaultsFile, "m rad", "m grad"), -1),
            "Unknown unit of rot. angles: grad\n");
  EXPECT_EQ(readSettings(ls, replaceField(kDefaultsFile, "native", "Native"), -1),
            "Unknown adjustment interface: Native\n");
  const std::string upToField14 = "1e-6 10 0 0 1 1 0.001 0.001 1e-6 1e-8 1e-30 1e30 1e-31 1e31";
  EXPECT_EQ(readSettings(ls, upToField14, -1), "Reading unit of object coords. failed.\n");
}

TEST(UnitTableTest, AngleFactorsIncludingArcMinutesAndSeconds) {
  UnitAngle unit;
  ASSERT_TRUE(unit.lookup("deg"));
  EXPECT_DOUBLE_EQ(unit.factor(), 57.29577951308232);
  ASSERT_TRUE(unit.lookup("min"));
  EXPECT_DOUBLE_EQ(unit.factor(), 60 * 57.29577951308232);
  ASSERT_TRUE(unit.lookup("sec"));
  EXPECT_DOUBLE_EQ(unit.factor(), 3600 * 57.29577951308232);
  EXPECT_FALSE(unit.lookup("unk"));
  EXPECT_STREQ(unit.abbreviation(), "sec");
  UnitLength length;
  EXPECT_TRUE(length.lookup("n.m."));
  EXPECT_EQ(length.factor(), 1852.0);
}

}  // namespace
}  // namespace bravik
