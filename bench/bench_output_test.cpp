#include "bench_output.h"

#include <gtest/gtest.h>

#include <cmath>
#include <regex>

namespace bench {
namespace {

TEST(BenchOutputTest, MeasurementLineHasTheFixedFieldsAndParsesBack) {
  const Measurement m{1000, 100000, "ceres-sparse", 12.3456789, 2048.04, 0.25};
  const std::string line = measurementLine(m);
  EXPECT_EQ(line,
            "images=1000 points=100000 solver=ceres-sparse sec_per_iter=12.3457 peak_mb=2048.0 "
            "max_diff_mm=0.250");
  const std::regex pattern(
      R"(images=(\d+) points=(\d+) solver=(native|sparse|ceres-sparse|ceres-dense) )"
      R"(sec_per_iter=(\S+) peak_mb=(\S+) max_diff_mm=(\S+))");
  std::smatch fields;
  ASSERT_TRUE(std::regex_match(line, fields, pattern));
  EXPECT_DOUBLE_EQ(std::stod(fields[4]), 12.3457);
}

TEST(BenchOutputTest, UnavailableNumbersPrintAsNan) {
  const Measurement m{24, 500, "sparse", NAN, 12.0, INFINITY};
  EXPECT_EQ(measurementLine(m),
            "images=24 points=500 solver=sparse sec_per_iter=nan peak_mb=12.0 max_diff_mm=nan");
}

TEST(BenchOutputTest, RatioIsEngineTimeOverCeresTime) {
  const Measurement engine{200, 20000, "sparse", 0.5, 10, 0};
  const Measurement ceres{200, 20000, "ceres-sparse", 2.0, 10, 0};
  EXPECT_EQ(ratioLine(engine, ceres), "images=200 points=20000 ratio sparse/ceres-sparse=0.250");
  const Measurement failed{200, 20000, "ceres-dense", NAN, NAN, NAN};
  EXPECT_EQ(ratioLine(engine, failed), "images=200 points=20000 ratio sparse/ceres-dense=nan");
}

TEST(BenchOutputTest, QualityLineComparesWithTheSameInterfaceWithoutAnalysis) {
  const Measurement with_analysis{1000, 100000, "sparse-quality", 0.6, 300, 0};
  const Measurement without{1000, 100000, "sparse", 0.4, 200, 0};
  EXPECT_EQ(qualityLine(with_analysis, without),
            "images=1000 points=100000 quality time_ratio=1.500 memory_ratio=1.500");
}

}  // namespace
}  // namespace bench
