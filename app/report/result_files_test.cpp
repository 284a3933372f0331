#include "report/result_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "testing/temp_folder.h"

namespace vantri::report {
namespace {

namespace fs = std::filesystem;

// Rows as the bundle run prints them.
std::string Printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Printf(const char* format, ...) {
  char buffer[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  return buffer;
}

std::string PointResidualFile() {
  return "# Vantri - v 0.1.0\n"
         "# Aerial Triangulation Ground Control Points Coordinates and Residuals\n#\n" +
         Printf("#%15s %16s %16s %16s %12s %12s %12s\n\n", "Point ID", "X/m", "Y/m", "Z/m", "vX/m",
                "vY/m", "vZ/m") +
         Printf("%16s %16.6lf %16.6lf %16.6lf %12.6lf %12.6lf %12.6lf\n", "100001", 512345.678901,
                4987654.321, 123.456, 0.012, -0.034, 0.0) +
         Printf("%16s %16.6lf %16.6lf %16.6lf %12.6lf %12.6lf %12.6lf\n", "G 2", 1.0, 2.0, 3.0,
                -0.5, 0.25, 0.125);
}

std::string ResidualFile() {
  return "# Vantri - v 0.1.0\n# Aerial Triangulation Reprojection Residuals\n#\n" +
         Printf("# %s\n# %14s %12s %12s %12s %10s\n# .\n# .\n# .\n\n", "Image", "Point ID", "vx/um",
                "vy/um", "|v|/um", "Point Type") +
         "\nIMG_0001\n" +
         Printf("%16s %12.6lf %12.6lf %12.6lf %10s\n", "17", 1.5, -2.0, 2.5, "in") +
         Printf("%16s %12.6lf %12.6lf %12.6lf %10s\n", "100001", 0.0, 3.0, 3.0, "co") +
         "\nIMG_0002\n" + Printf("%16s %12.6lf %12.6lf %12.6lf %10s\n", "17", -1.0, 0.0, 1.0, "in");
}

TEST(ResultFiles, ReadsControlAndCheckPointRows) {
  std::vector<PointResidual> rows;
  FileStatus status;
  ParsePointResiduals(PointResidualFile(), rows, status);
  EXPECT_EQ(status.state, FileState::kRead);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].id, "100001");
  EXPECT_DOUBLE_EQ(rows[0].x, 512345.678901);
  EXPECT_DOUBLE_EQ(rows[0].vy, -0.034);
  EXPECT_EQ(rows[1].id, "G 2");  // an ID with a blank
  EXPECT_DOUBLE_EQ(rows[1].vz, 0.125);
}

TEST(ResultFiles, ReadsImageGroupsOfResidualsAndCoordinates) {
  std::vector<ImageResiduals> residuals;
  FileStatus status;
  ParseImageResiduals(ResidualFile(), residuals, status);
  EXPECT_EQ(status.state, FileState::kRead);
  ASSERT_EQ(residuals.size(), 2u);
  EXPECT_EQ(residuals[0].image, "IMG_0001");
  ASSERT_EQ(residuals[0].rows.size(), 2u);
  EXPECT_DOUBLE_EQ(residuals[0].rows[0].vy_um, -2.0);
  EXPECT_EQ(residuals[0].rows[1].type, "co");
  EXPECT_EQ(residuals[1].rows.size(), 1u);

  const std::string ptics = "# Vantri - v 0.1.0\n# Aerial Triangulation Image Coordinates\n#\n" +
                            Printf("# %s\n# %14s %12s %12s %10s\n# .\n# .\n# .\n\n", "Image",
                                   "Point ID", "x/pix", "y/pix", "Point Type") +
                            "\nIMG 1\n" +
                            Printf("%16s %12.3lf %12.3lf %10s\n", "5", 10.5, 20.25, "ch");
  std::vector<ImageCoordinates> coordinates;
  FileStatus ptics_status;
  ParseImageCoordinates(ptics, coordinates, ptics_status);
  EXPECT_EQ(ptics_status.state, FileState::kRead);
  ASSERT_EQ(coordinates.size(), 1u);
  EXPECT_EQ(coordinates[0].image, "IMG 1");
  EXPECT_DOUBLE_EQ(coordinates[0].rows[0].y_px, 20.25);
}

TEST(ResultFiles, ReadsObjectPointsOrientationsAndTheCoordinateSystem) {
  const std::string ptocs =
      "# Vantri - v 0.1.0\n# Aerial Triangulation Object Point Coordinates\n#\n" +
      Printf("#%15s %16s %16s %16s %10s\n\n", "Point ID", "X/m", "Y/m", "Z/m", "Point Type") +
      Printf("%16s %16.6lf %16.6lf %16.6lf %10s\n", "3", 1.0, 2.0, 3.5, "in");
  std::vector<ObjectPointRow> points;
  FileStatus status;
  ParseObjectPoints(ptocs, points, status);
  EXPECT_EQ(status.state, FileState::kRead);
  ASSERT_EQ(points.size(), 1u);
  EXPECT_DOUBLE_EQ(points[0].z, 3.5);

  const std::string extor =
      "# Vantri - v 0.1.0\n# Aerial Triangulation External Orientation Result\n\n"
      "# Projection : UTM\n# Datum      : World Geodetic System 1984\n# Fuse       : 32 N\n"
      "# Units      : Meters\n\n\n" +
      Printf("# %28s %16s %16s %16s %12s %12s %12s\n\n", "Image", "X/m", "Y/m", "Z/m", "Omega/rad",
             "Phi/rad", "Kappa/rad") +
      Printf("%30s ", "IMG_0001") + Printf("%16.6lf %16.6lf %16.6lf ", 500000.5, 4.5e6, 1200.0) +
      Printf("%12.6lf %12.6lf %12.6lf\n", 0.001, -0.002, 3.14) + "x\n";
  std::vector<AdjustedOrientation> orientations;
  CoordinateSystemNames crs;
  FileStatus extor_status;
  ParseExtor(extor, orientations, crs, extor_status);
  EXPECT_EQ(extor_status.state, FileState::kRead);  // the one-character line is skipped
  ASSERT_EQ(orientations.size(), 1u);
  EXPECT_EQ(orientations[0].image, "IMG_0001");
  EXPECT_DOUBLE_EQ(orientations[0].kappa, 3.14);
  EXPECT_EQ(crs.datum, "World Geodetic System 1984");
  EXPECT_EQ(crs.fuse, "32 N");
}

TEST(ResultFiles, AtoutLabelsLastOneWins) {
  const std::string atout =
      "# Vantri - v 1.2.3\n# Aerial Triangulation Output Report\n"
      "Redundancy                      :     812\n"
      "RMS of residuals     :     1.000000     2.000000\n"
      "RMS of residuals       :     3.500000     4.000000\n"
      "Number of iterations: 12\n\n\nCheck point residuals\n=====================\n";
  AtoutReport report;
  FileStatus status;
  ParseAtout(atout, report, status);
  EXPECT_EQ(status.state, FileState::kRead);
  EXPECT_EQ(report.program_version, "1.2.3");
  int value = 0;
  ASSERT_TRUE(report.Int("Redundancy", &value));
  EXPECT_EQ(value, 812);
  ASSERT_TRUE(report.Int("Number of iterations", &value));
  EXPECT_EQ(value, 12);
  EXPECT_EQ(report.Numbers("RMS of residuals"), (std::vector<double>{3.5, 4.0}));
  EXPECT_FALSE(report.Int("Camera Name", &value));
}

TEST(ResultFiles, DamagedFilesKeepTheirGoodRowsAndNameTheFirstProblem) {
  // Truncated by a crash in the middle of the last row.
  std::string text = PointResidualFile();
  text.resize(text.size() - 20);
  std::vector<PointResidual> rows;
  FileStatus status;
  ParsePointResiduals(text, rows, status);
  EXPECT_EQ(status.state, FileState::kDamaged);
  EXPECT_EQ(rows.size(), 1u);
  EXPECT_EQ(status.problem, "line 7: expected a point ID and 6 numbers");

  // A number cut short keeps too few decimals even when the line still splits into 7 fields.
  rows.clear();
  FileStatus short_number;
  ParsePointResiduals(PointResidualFile().substr(0, PointResidualFile().size() - 6), rows,
                      short_number);
  EXPECT_EQ(short_number.state, FileState::kDamaged);
  EXPECT_EQ(rows.size(), 1u);

  // No header: nothing is trusted.
  rows.clear();
  FileStatus foreign;
  ParsePointResiduals("X Y Z\n1 2 3 4 5 6 7\n", rows, foreign);
  EXPECT_EQ(foreign.state, FileState::kDamaged);
  EXPECT_TRUE(rows.empty());
  FileStatus empty;
  ParsePointResiduals("", rows, empty);
  EXPECT_EQ(empty.problem, "empty file");

  // A point row before any image name, and a row with text in a number column.
  std::vector<ImageResiduals> residuals;
  FileStatus bad;
  ParseImageResiduals(
      "# Vantri - v 1\n      17  1.000000  2.000000  2.236068  in\nIMG\n"
      "  17 1.000000 x 2.000000 in\n  18 1.000000 1.000000 1.414214 in\n",
      residuals, bad);
  EXPECT_EQ(bad.state, FileState::kDamaged);
  EXPECT_EQ(bad.bad_lines, 2);
  EXPECT_EQ(bad.problem, "line 2: point row before the first image name");
  ASSERT_EQ(residuals.size(), 1u);
  EXPECT_EQ(residuals[0].rows.size(), 1u);

  // An .atout cut before its last section.
  AtoutReport report;
  FileStatus cut;
  ParseAtout("# Vantri - v 1\nRedundancy : 5\n", report, cut);
  EXPECT_EQ(cut.state, FileState::kDamaged);
}

TEST(ResultFiles, RunStatisticsRoundTrip) {
  BundleRunStatistics run;
  run.run_succeeded = true;
  run.sigma0_px = 0.123456789012345;
  run.iterations = 17;
  run.converged = true;
  BundleRunStatistics read;
  FileStatus status;
  ParseRunStatistics(FormatRunStatistics(run), read, status);
  EXPECT_EQ(status.state, FileState::kRead);
  EXPECT_TRUE(read.recorded);
  EXPECT_EQ(read.sigma0_px, run.sigma0_px);
  EXPECT_EQ(read.iterations, 17);
  EXPECT_TRUE(read.converged);

  BundleRunStatistics partial;
  FileStatus missing_key;
  ParseRunStatistics("VANTRI-BUNDLE-RUN 1\nsigma0_px=1\n", partial, missing_key);
  EXPECT_EQ(missing_key.state, FileState::kDamaged);
  EXPECT_FALSE(partial.recorded);
}

TEST(ResultFiles, FolderWithMissingAndStaleFiles) {
  const test_support::TempFolder temp;
  const fs::path folder = temp.path();
  std::ofstream(folder / "job.gcpres") << PointResidualFile();
  std::ofstream(folder / "job.ptres") << ResidualFile();
  std::ofstream(folder / "job.atout") << "# Vantri - v 1\nCheck point residuals\n";
  // The residual file is an hour older than the report: left from an earlier run.
  fs::last_write_time(folder / "job.ptres",
                      fs::last_write_time(folder / "job.atout") - std::chrono::hours(1));

  const ResultFiles files = ReadResultFiles(folder.string(), "job");
  ASSERT_EQ(files.files.size(), 8u);
  EXPECT_EQ(files.Status("atout")->state, FileState::kRead);
  EXPECT_EQ(files.Status("cpres")->state, FileState::kMissing);
  EXPECT_EQ(files.Status("extor")->state, FileState::kMissing);
  EXPECT_FALSE(files.Has("cpres"));
  EXPECT_TRUE(files.Has("gcpres"));
  EXPECT_FALSE(files.Status("gcpres")->stale);
  EXPECT_TRUE(files.Status("ptres")->stale);
  EXPECT_EQ(files.control_points.size(), 2u);
  EXPECT_EQ(files.image_residuals.size(), 2u);
  EXPECT_FALSE(files.run.recorded);
}

}  // namespace
}  // namespace vantri::report
