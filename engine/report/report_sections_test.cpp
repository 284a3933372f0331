#include "report/report_sections.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "adjust/tiny_block_test_support.h"
#include "input/readers.h"
#include "lsq/ls_params.h"
#include "util/number_format.h"

namespace bravik {
namespace {

const LSParams kDefaults;  // the settings a run starts with

using testing_support::TinyBlock;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

int countOf(const std::string& text, const std::string& part) {
  int n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++n;
  }
  return n;
}

TEST(NumberFormatTest, FixedScientificAndAlignment) {
  EXPECT_EQ(formatFixed(-1.23456, 3, 10), "    -1.235");
  EXPECT_EQ(formatFixed(2.5, 2), "2.50");
  EXPECT_EQ(formatScientific(1e31, 1, 9), "  1.0e+31");
  EXPECT_EQ(formatScientific(-2.5e-12, 3), "-2.500e-12");
  EXPECT_EQ(alignRight("p1", 8), "      p1");
  EXPECT_EQ(alignRight("verylongid", 8), "verylongid");
  EXPECT_EQ(alignLeft("obs", 5), "obs  ");
  EXPECT_EQ(formatGeneral(4, 9), "        4");
}

// Three images at X = 0, 300, 600 observing a control point, a check point and tie points.
class ReportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    a_ = tiny_.addImage("a", 0);
    b_ = tiny_.addImage("b", 1);
    c_ = tiny_.addImage("c", 2);
    tiny_.attach();
  }

  // Point observed by all three images with exact measurements.
  ObjectPoint* addSeenPoint(const std::string& id, const Vec3& P, double sdev, int type) {
    for (BundleImage* image : {a_, b_, c_}) tiny_.observe(*image, id, P);
    return tiny_.addPoint(id, P, sdev, type);
  }

  // Sets up the parameter slots (initial value = value as given) as the adjustment does.
  void numberUnknowns() {
    for (ObjectPoint* point : tiny_.block().objectPoints.items()) {
      tiny_.block().adjObjects.add(*point, tiny_.block().settings);
    }
  }

  TinyBlock tiny_;
  BundleImage* a_ = nullptr;
  BundleImage* b_ = nullptr;
  BundleImage* c_ = nullptr;
};

TEST_F(ReportTest, ObjectPointSectionAndRecords) {
  addSeenPoint("cp1", {100, 200, 10}, 0.05, kPointControl);
  addSeenPoint("t1", {300, -50, 2.5}, kDefaults.smaxu, kPointIntersection);
  addSeenPoint("bad", {310, 60, 0}, kDefaults.smaxu, kPointNone);
  std::ostringstream section;
  writeObjectPointsSection(tiny_.block(), section);
  EXPECT_EQ(section.str(),
            "Object point coordinates\n"
            "========================\n"
            "Object point type:\n"
            "in=intersection, co=control point, ch=check point\n\n"
            "Point ID       X/m         Y/m         Z/m      sX/m      sY/m      sZ/m\n\n"
            "     cp1     100.000     200.000      10.000     0.050     0.050     0.050   co\n"
            "      t1     300.000     -50.000       2.500   1.0e+31   1.0e+31   1.0e+31   in\n"
            "     bad     310.000      60.000       0.000   1.0e+31   1.0e+31   1.0e+31   nu\n"
            "\nNumber of object points with type\n"
            "  intersection  :  1\n"
            "  control       :  1\n"
            "  check         :  0\n"
            "  total         :  2\n"
            "WARNING: 1 invalid points found!\n\n");

  std::ostringstream records;
  writeObjectPointRecords(tiny_.block(), records);
  EXPECT_EQ(records.str(),
            "       cp1     100.000     200.000      10.000       0.050       0.050       0.050\n"
            "        t1     300.000     -50.000       2.500     1.0e+31     1.0e+31     1.0e+31\n"
            "       bad     310.000      60.000       0.000     1.0e+31     1.0e+31     1.0e+31\n"
            "stop-dep\n");
  // The ocs file carries no form word, so it does not read back as object coordinates.
  std::istringstream back(records.str());
  OwnedList<ObjectPoint> points;
  EXPECT_EQ(readObjectCoordinates(back, points, kDefaults), -1);
}

TEST_F(ReportTest, ResidualPrintingLimitCountsEquality) {
  addSeenPoint("t1", {300, 50, 0}, kDefaults.smaxu, kPointIntersection);
  // Residual v = projected - measured, so a measurement displaced by -v gives v.
  tiny_.observe(*a_, "p12", {150, 0, 0}, -4e-6, -12e-6);
  tiny_.observe(*a_, "p49", {160, 0, 0}, -4e-6, -9e-6);
  tiny_.observe(*a_, "nadir", {0, 0, 0}, -10e-6, 0.0);  // projects exactly to (0, 0)
  tiny_.observe(*a_, "ghost", {0, 0, 0});
  for (const char* id : {"p12", "p49", "nadir"}) {
    tiny_.addPoint(id, {id[0] == 'n' ? 0.0 : (id[2] == '2' ? 150.0 : 160.0), 0, 0}, kDefaults.smaxu,
                   kPointIntersection);
  }
  std::ostringstream section;
  writeImageResidualsSection(tiny_.block(), 4, section);
  const std::string text = section.str();
  EXPECT_EQ(text.rfind("Residuals of image coords.\n==========================\n"
                       "Limit for printing residuals:  10.00 um\n\n"
                       "BundleImage ID : a\n\n"
                       "  Point ID       vx/um      vy/um     |v|/um\n\n",
                       0),
            0u);
  EXPECT_TRUE(contains(text, "\n       p12        4.00      12.00      12.65\n"));
  EXPECT_FALSE(contains(text, "p49"));
  EXPECT_TRUE(contains(text, "\n     nadir       10.00       0.00      10.00\n"));
  EXPECT_TRUE(contains(text, "ATTENTION: Object point ghost not found\n"));
  EXPECT_TRUE(contains(text, "\nNumber of points       :   4\n"));
  EXPECT_TRUE(contains(text, "Total number of points :   6\n"));
  // Weighted sum: weights 1, v^2 = (16 + 144 + 16 + 81 + 100) um^2 = 3.57e-10 m^2.
  EXPECT_TRUE(contains(text,
                       "Contribution to vtpv and sigma 0:   3.570e-10 m^2   9.45 um\n"
                       "Redundancy :   4\n\n"));
}

TEST_F(ReportTest, ControlPointMarksInResiduals) {
  ObjectPoint* cp = addSeenPoint("cp1", {300, 50, 0}, 0.05, kPointControl);
  cp->sdev[1] = kDefaults.smaxu;
  tiny_.observe(*b_, "cp1", {300, 50, 0}, -20e-6, 0.0);
  std::ostringstream section;
  writeImageResidualsSection(tiny_.block(), 0, section);
  EXPECT_TRUE(
      contains(section.str(), "       20.00       0.00      20.00   control point for X Z\n"));
  EXPECT_TRUE(contains(section.str(), "m^2   undefined, no redundancy!\nRedundancy :   0\n"));
}

TEST_F(ReportTest, ImagePointRecordsEndEveryImageWithStopDep) {
  addSeenPoint("t1", {300, 50, 0}, kDefaults.smaxu, kPointIntersection);
  tiny_.observe(*a_, "t2", {100, 0, 0}, 1.5e-6, -2.25e-6);
  tiny_.addPoint("t2", {100, 0, 0}, kDefaults.smaxu, kPointIntersection);
  std::ostringstream records;
  writeImagePointRecords(tiny_.block(), records);
  const std::string text = records.str();
  EXPECT_EQ(countOf(text, "stop-dep\n"), 4);
  EXPECT_EQ(text.substr(text.size() - 18), "stop-dep\nstop-dep\n");
  EXPECT_TRUE(contains(text,
                       "a\n        t1       0.000      0.000\n"
                       "        t2      -1.500      2.250\nstop-dep\nb\n"));
}

TEST_F(ReportTest, ControlResidualsAreAdjustedMinusGiven) {
  ObjectPoint* observed = addSeenPoint("cp1", {100, 200, 10}, 0.05, kPointControl);
  ObjectPoint* fixed = addSeenPoint("cp2", {400, 100, 5}, kDefaults.sminu, kPointControl);
  numberUnknowns();
  observed->xyz = {100.012, 199.990, 10.5};
  std::ostringstream section;
  writeControlPointResiduals(tiny_.block(), section);
  EXPECT_EQ(section.str(),
            "Control point residuals\n"
            "=======================\n\n"
            "Point ID        X/m          Y/m          Z/m      vX/m      vY/m      vZ/m\n\n"
            "     cp1      100.012      199.990       10.500     0.012    -0.010     0.500\n"
            "     cp2      400.000      100.000        5.000     ---       ---       ---  \n"
            "\nStd. dev. from control point residuals\n"
            "--------------------------------------\n"
            "                                 vX/m      vY/m      vZ/m\n\n"
            "Number of residuals        :          1         1         1\n"
            "Maximum of abs. residuals  :      0.012     0.010     0.500\n"
            "Average of residuals       :      0.012    -0.010     0.500\n"
            "RMS of residuals           :      0.012     0.010     0.500\n\n");
  EXPECT_EQ(fixed->xyz[0], 400.0);
}

TEST_F(ReportTest, CheckDifferencesAreGivenMinusAdjusted) {
  ObjectPoint* check = addSeenPoint("ch1", {300, 50, 20}, kDefaults.smaxu, kPointCheck);
  check->checkComponents = {true, false, true};
  numberUnknowns();
  check->xyz = {300.25, 50.5, 19.0};
  std::ostringstream section;
  writeCheckPointAnalysis(tiny_.block(), section);
  EXPECT_TRUE(contains(
      section.str(),
      "     ch1      300.250       50.500       19.000      -0.250     ---       1.000\n"));
  EXPECT_TRUE(contains(section.str(),
                       "Number of differences       :          1         0         1\n"
                       "Maximum of abs. differences :      0.250     0.000     1.000\n"
                       "Average of differences      :     -0.250     0.000     1.000\n"));
}

TEST_F(ReportTest, CheckAnalysisWithoutCheckPoints) {
  addSeenPoint("cp1", {100, 200, 10}, 0.05, kPointControl);
  std::ostringstream section;
  writeCheckPointAnalysis(tiny_.block(), section);
  EXPECT_EQ(section.str(),
            "Check point analysis\n"
            "====================\n\n"
            "Point ID    X-new/m      Y-new/m      Z-new/m        DX/m      DY/m      DZ/m\n\n"
            "\nSummary of check point analysis\n"
            "-------------------------------\n"
            "Empirical accuracy in object space.\n\n"
            "                                  DX/m      DY/m      DZ/m\n\n"
            "Number of differences       :          0         0         0\n"
            "Maximum of abs. differences :      0.000     0.000     0.000\n"
            "Average of differences      :      0.000     0.000     0.000\n"
            "RMS of differences          :      0.000     0.000     0.000\n\n");
}

TEST_F(ReportTest, GeometryRecordsReadBackAsAnImageGeometryFile) {
  ImageGeometry* b = tiny_.block().geometries.find("b");
  b->p = {300.125, -2.5, 1001.75, 0.0125, -0.003, 1.5};
  b->s = {0.1, 0.1, 0.2, 1e-3, 1e-3, kDefaults.smaxu};
  std::ostringstream records;
  writeGeometryRecords(tiny_.block(), records);
  EXPECT_EQ(records.str().rfind("indiv-type\n", 0), 0u);
  EXPECT_EQ(records.str().substr(records.str().size() - 9), "stop-dep\n");

  std::istringstream back(records.str());
  OwnedList<ImageGeometry> geometries;
  ASSERT_EQ(readGeometryFile(back, geometries, kDefaults), 1);
  ASSERT_EQ(geometries.count(), 3);
  const ImageGeometry* read = geometries.find("b");
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->keyword(), b->keyword());
  for (int k = 0; k < 6; ++k) {
    EXPECT_NEAR(read->p[k], b->p[k], 1e-6) << k;
    EXPECT_NEAR(read->s[k], b->s[k], 1e-6 * b->s[k]) << k;
  }
}

TEST_F(ReportTest, SectionHeadingsOfTheModelBlocks) {
  std::ostringstream cameras, sets, orientations, cameraRecords, setRecords;
  writeCamerasSection(tiny_.block(), cameras);
  writeAPSetsSection(tiny_.block(), sets);
  writeExtOrientationsSection(tiny_.block(), orientations);
  writeCameraRecords(tiny_.block(), cameraRecords);
  writeAPSetRecords(tiny_.block(), setRecords);
  EXPECT_EQ(cameras.str().rfind("Cameras\n=======\n\nCamera ID          :  cam1\n", 0), 0u);
  EXPECT_EQ(sets.str(), "Additional parameter sets\n=========================\n\n");
  EXPECT_EQ(orientations.str().rfind("Exterior orientations\n=====================\n\n", 0), 0u);
  EXPECT_EQ(cameraRecords.str().rfind("frame   cam1   tiny\n", 0), 0u);
  EXPECT_EQ(setRecords.str(), "stop-dep\n");
}

}  // namespace
}  // namespace bravik
