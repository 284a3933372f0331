// The bundle process on a tiny synthetic block (exact tie points, four control
// points, two check points, a disabled image): the report and the result files
// line by line, the files of the disabled image, a check point that cannot be
// intersected; and the thinning rules.

#include "bundle/bundle_process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "aat/exchange_files.h"
#include "photogrammetry/passport.h"
#include "points/point_maps.h"
#include "project/project.h"
#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"
#include "ui_interface/ui.h"

namespace vantri::bundle {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string &path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    lines.push_back(line);
  return lines;
}

// Every expected line appears, in order; an expectation starting with "re:" is
// a regular expression for the whole line, any other is the literal line.
void ExpectLinesInOrder(const std::vector<std::string> &lines,
                        const std::vector<std::string> &expected,
                        const std::string &file) {
  size_t at = 0;
  for (const std::string &want : expected) {
    const bool pattern = want.rfind("re:", 0) == 0;
    const std::regex re(pattern ? want.substr(3) : std::string("x"));
    bool found = false;
    for (; at < lines.size() && !found; ++at)
      found = pattern ? std::regex_match(lines[at], re) : lines[at] == want;
    ASSERT_TRUE(found) << file << ": missing, or out of order: '" << want
                       << "'";
  }
}

const std::string kF6 = R"( +-?\d+\.\d{6})"; // %16.6lf / %12.6lf

class TinyBlock : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_FALSE(temp_.path().empty());
    folder_ = temp_.path() + "/";
    project_.folder = folder_;
    project_.name = "tiny";
    auto passport = std::make_unique<CBCCCameraPassport>();
    passport->model = "TestCam";
    passport->camera_serial = "SN1";
    passport->calibration_date = "01-02-2020";
    passport->focal_mm = 10, passport->pixel_mm = 0.01;
    passport->width = 1000, passport->height = 800;
    passport->ppx = 500, passport->ppy = 400;
    project_.passport = std::move(passport);
    project_.local_origin = {1000, 2000, 0};
    auto &s = project_.settings.typed;
    s.max_points_per_image = 1000, s.min_measurements_per_point = 2;
    s.max_reprojection_error = 3, s.min_iterations = 1, s.max_iterations = 50;
    s.convergence_threshold = 1e-6, s.gcps_weight = 1.0;
    s.max_points_to_search = 64, s.template_size = 31, s.search_area_size = 121;
    s.correlation_threshold = 0.8;

    const Eigen::Vector3d local_centres[5] = {{0, 0, 1000},
                                              {300, 0, 1000},
                                              {0, 300, 1000},
                                              {300, 300, 1000},
                                              {150, 150, 1000}};
    for (int i = 0; i < 5; ++i) {
      CABAImage &image =
          project_.AppendImage(folder_ + "img" + std::to_string(i) + ".tif");
      const Eigen::Vector3d world = local_centres[i] + Origin();
      image.x = world.x(), image.y = world.y(), image.z = world.z();
      nvc::COrientation orientation;
      orientation.BuildINTWithoutDistortion(*project_.passport, 0);
      orientation.SetN(local_centres[i]);
      orientations_.push_back(orientation);
    }
    project_.Image(4)->enabled = 0;
    WriteBlock();
    WriteSurveyedPoints();
    // Files of an earlier run for the disabled image.
    std::ofstream(folder_ + "img4.int") << "old";
    std::ofstream(folder_ + "img4.est") << "old";
  }
  Eigen::Vector3d Origin() const {
    return {project_.local_origin[0], project_.local_origin[1],
            project_.local_origin[2]};
  }

  // 7 x 7 tie points on gently rolling ground, exactly projected into every
  // image (`sparse_image` sees at most the first two of them).
  void WriteBlock(int sparse_image = -1) {
    std::vector<CSSBAPoint> points;
    for (int j = 0; j < 7; ++j)
      for (int i = 0; i < 7; ++i) {
        CSSBAPoint point;
        point.X = -100 + 70.0 * i, point.Y = -100 + 70.0 * j;
        point.Z = 5.0 * std::sin(0.3 * i + 0.2 * j);
        for (int image = 0; image < 5; ++image) {
          const Eigen::Vector2d pixel =
              orientations_[image].Pt3dToPix({point.X, point.Y, point.Z});
          if (pixel.x() < 0 || pixel.x() >= 1000 || pixel.y() < 0 ||
              pixel.y() >= 800)
            continue;
          if (image == sparse_image && points.size() >= 2)
            continue;
          point.measurements.emplace_back(image, 0, pixel.x(), pixel.y());
        }
        points.push_back(point);
      }
    std::vector<const CSSBAPoint *> pointers;
    for (const CSSBAPoint &point : points)
      pointers.push_back(&point);
    ASSERT_EQ(aat::WriteBroFile(folder_ + "tiny.bro", pointers, orientations_,
                                project_.passport->FocalPixels()),
              1);
  }

  CGCPCollEx Surveyed(const std::string &name, int id,
                      const Eigen::Vector3d &local, std::vector<int> images) {
    CGCPCollEx point;
    point.id = id, point.name = name;
    const Eigen::Vector3d world = local + Origin();
    point.x = world.x(), point.y = world.y(), point.z = world.z();
    point.xy_var = 0.0001, point.z_var = 0.0001;
    for (int image : images) {
      const Eigen::Vector2d pixel = orientations_[image].Pt3dToPix(local);
      const Eigen::Vector2d centred =
          points::CentredFromPixel(pixel, 1000, 800);
      point.measurements.push_back({image, centred.x(), centred.y()});
    }
    point.use = point.measurements.size() > 1;
    return point;
  }

  void WriteSurveyedPoints() {
    CGCPCollMap gcps, cps;
    gcps["G1"] = Surveyed("G1", 100001, {-50, -50, 1}, {0, 1, 2, 3});
    gcps["G2"] = Surveyed("G2", 100002, {300, -40, 2}, {0, 1, 2, 3});
    gcps["G3"] = Surveyed("G3", 100003, {-40, 320, 0}, {0, 1, 2, 3});
    gcps["G4"] = Surveyed("G4", 100004, {330, 330, 3}, {0, 1, 2, 3});
    cps["C1"] = Surveyed("C1", 100005, {150, 120, 1.5}, {0, 1, 3});
    cps["C2"] = Surveyed("C2", 100006, {100, 100, 0},
                         {2}); // one ray: cannot be intersected
    ASSERT_EQ(WritePTCollFile(folder_ + "GCP.col", gcps), 1);
    ASSERT_EQ(WritePTCollFile(folder_ + "CP.col", cps), 1);
    project_.gcps = gcps;
    project_.check_points = cps;
  }

  int Run() {
    CAerialPhotogrammetricProcess process(project_, ui_);
    const int result = process.RunBundle("");
    last_message_ = process.LastMessage();
    return result;
  }

  std::string Path(const std::string &extension) const {
    return folder_ + "Bundle/tiny." + extension;
  }

  test_support::TempFolder temp_;
  std::string folder_;
  CVantriProject project_;
  ScriptedUi ui_;
  std::vector<nvc::COrientation> orientations_;
  std::string last_message_;
};

TEST_F(TinyBlock, ReportAndResultFilesFollowTheLayout) {
  ASSERT_EQ(Run(), 1) << last_message_;
  const std::string f = kF6;
  ExpectLinesInOrder(
      Lines(Path("atout")),
      {"re:# Vantri - v .+",
       "# Aerial Triangulation Output Report",
       "",
       "Coordinate system",
       "=================",
       "re:Projection : .*",
       "re:Datum      : .*",
       "re:Fuse       : .*",
       "re:Units      : .*",
       "",
       "Intersection points search parameters",
       "=====================================",
       "Number of points to search per images :  64",
       "Template area size (pix)              :  31",
       "Search area size (pix)                :  121",
       "Cross correlation coefficient (0-1)   :  0.800",
       "",
       "Intersection points filtering parameters",
       "========================================",
       "Maximum number of points per image       :  1000",
       "Minimum number of measurements per point :  2",
       "Maximum reprojection error (pix)         :  3",
       "",
       "Least-squares parameters",
       "========================",
       "Convergence limit                       :  1.000000e-06",
       "GCPs weight                             :  1.000",
       "Minimum number of iterations            :  1",
       "Maximum number of iterations            :  50",
       "Standard deviation of unit weight (pix) :  3",
       "",
       "Number of rays per object point",
       "===============================",
       "",
       "      <Point ID>: <Image ID> ... [<number of rays>]",
       "",
       "               7: img0 img1 img2 img3 [4]",
       "re: +G1: img0 img1 img2 img3 \\[4\\]",
       "",
       "Number of rays per image",
       "===============================",
       "",
       "      <Image ID>: <number of rays>",
       "",
       "re: +img0: \\d+",
       "re: +img3: \\d+",
       "",
       "Data defined for adjustment",
       "===========================",
       "",
       "Images                : 5",
       "Exterior orientations : 4",
       "Object points (total) : 53",
       "Intersection points   : 49",
       "Control points        : 4",
       "Check points          : 2",
       "",
       "Number of observations, unknowns and redundancy",
       "===============================================",
       "",
       "Observations:",
       "re:   Total number of observations : {0,7}\\d+",
       "",
       "Unknowns:                           total        thereof",
       "                                              obs.     eli.",
       "   Object point coordinates     :     159       12        0",
       "   Exterior orientations        :      24       24        0",
       "   Total number of unknowns     :     183       36        0",
       "",
       "re:Redundancy                      : {0,7}\\d+",
       "",
       "===============================================",
       "*** Iteration criterion limit has been reached.",
       "===============================================",
       "",
       "re:Number of iterations: \\d+",
       "re:Total cpu time for bundle adjustment : \\d+\\.\\d",
       "",
       "Cameras",
       "=======",
       "",
       "Camera Name            : TestCam",
       "Camera S/N             : SN1",
       "Calibration Date       : 01-02-2020",
       "Camera type            : frame - pinhole",
       "Focal length (mm)      : 10.000000",
       "Principal point X (mm) : 0.000000",
       "Principal point Y (mm) : 0.000000",
       "Pixel size (mm)        : 0.010000",
       "Image width (mm)       : 10.000000",
       "Image height (mm)      : 8.000000",
       "",
       "Exterior orientations",
       "=====================",
       "",
       "Image ID: img0",
       "",
       "   Name                Approx.           Change         Adjusted",
       "",
       "re:   Xo         " + f + f + f,
       "re:   Yo         " + f + f + f,
       "re:   Zo         " + f + f + f,
       "re:   Omega      " + f + f + f,
       "re:   Phi        " + f + f + f,
       "re:   Kappa      " + f + f + f,
       "",
       "Object point coordinates",
       "========================",
       "Object point type:",
       "in=intersection, co=control point, ch=check point",
       "",
       "        Point ID              X/m              Y/m              Z/m "
       "Point Type",
       "",
       "re: +0" + f + f + f + "         in",
       "re: +G1" + f + f + f + "         co",
       "re: +C1" + f + f + f + "         ch",
       "",
       "Residuals of image coords",
       "=========================",
       "",
       "Image ID : img0",
       "",
       "        Point ID        vx/um        vy/um       |v|/um Point Type",
       "",
       "re: +0" + f + f + f + "         in",
       "",
       "re:Number of points     : \\d+",
       "re:RMS of residuals     : " + f + f,
       "re:Average of residuals : " + f + f,
       "",
       "Summary for all image points of all images",
       "==========================================",
       "",
       "re:Total number of points : \\d+",
       "                                vx/um        vy/um",
       "re:RMS of residuals       : " + f + f,
       "re:Average of residuals   : " + f + f,
       "",
       "",
       "Control point residuals",
       "=======================",
       "",
       "        Point ID              X/m              Y/m              Z/m    "
       "     vX/m         "
       "vY/m         vZ/m",
       "",
       "re: +G1" + f + f + f + f + f + f,
       "",
       "",
       "Check point residuals",
       "=====================",
       "",
       "        Point ID              X/m              Y/m              Z/m    "
       "     vX/m         "
       "vY/m         vZ/m",
       "",
       "re: +C1" + f + f + f + f + f + f,
       "re:              C2      1100.000000      2100.000000         0.000000 "
       "    0.000000     "
       "0.000000     0.000000"},
      "atout");

  const std::string header7 = "#       Point ID              X/m              "
                              "Y/m              Z/m         vX/m         "
                              "vY/m         vZ/m";
  ExpectLinesInOrder(
      Lines(Path("gcpres")),
      {"re:# Vantri - v .+",
       "# Aerial Triangulation Ground Control Points Coordinates and Residuals",
       "#", header7, "", "re: +G1" + f + f + f + f + f + f,
       "re: +G4" + f + f + f + f + f + f},
      "gcpres");
  ExpectLinesInOrder(
      Lines(Path("cpres")),
      {"re:# Vantri - v .+",
       "# Aerial Triangulation Check Points Coordinates and Residuals", "#",
       header7, "", "re: +C1" + f + f + f + f + f + f,
       "re: +C2 +1100\\.000000 +2100\\.000000 +0\\.000000 +0\\.000000 "
       "+0\\.000000 "
       "+0\\.000000"},
      "cpres");
  ExpectLinesInOrder(
      Lines(Path("ptres")),
      {"re:# Vantri - v .+", "# Aerial Triangulation Reprojection Residuals",
       "#", "# Image",
       "#       Point ID        vx/um        vy/um       |v|/um Point Type",
       "# .", "# .", "# .", "", "", "img0",
       "re: +0" + f + f + f + "         in",
       "re: +G1" + f + f + f + "         co",
       "re: +C1" + f + f + f + "         ch", "", "img3"},
      "ptres");
  const std::string f3 = R"( +-?\d+\.\d{3})";
  ExpectLinesInOrder(
      Lines(Path("ptics")),
      {"re:# Vantri - v .+", "# Aerial Triangulation Image Coordinates", "#",
       "# Image", "#       Point ID        x/pix        y/pix Point Type",
       "# .", "# .", "# .", "", "", "img0", "re: +0" + f3 + f3 + "         in",
       "re: +G1" + f3 + f3 + "         co",
       "re: +C1" + f3 + f3 + "         ch"},
      "ptics");
  ExpectLinesInOrder(Lines(Path("ptocs")),
                     {"re:# Vantri - v .+",
                      "# Aerial Triangulation Object Point Coordinates", "#",
                      "#       Point ID              X/m              Y/m      "
                      "        Z/m Point Type",
                      "", "re: +0" + f + f + f + "         in",
                      "re: +G1" + f + f + f + "         co",
                      "re: +C2" + f + f + f + "         ch"},
                     "ptocs");
  ExpectLinesInOrder(Lines(Path("extor")),
                     {"re:# Vantri - v .+",
                      "# Aerial Triangulation External Orientation Result", "",
                      "re:# Projection : .*", "re:# Datum      : .*",
                      "re:# Fuse       : .*", "re:# Units      : .*", "", "",
                      "#                        Image              X/m         "
                      "     Y/m              Z/m    "
                      "Omega/rad      Phi/rad    Kappa/rad",
                      "", "re: {26}img0" + f + f + f + f + f + f + "$",
                      "re: {26}img3" + f + f + f + f + f + f},
                     "extor");
}

TEST_F(TinyBlock, AdjustsOntoTheControlPointsAndWritesOrientationFiles) {
  ASSERT_EQ(Run(), 1) << last_message_;
  // Exact data: control and check points fit to the millimetre.
  const CGCPCollMap &checks = project_.check_points;
  ASSERT_EQ(checks.count("C1"), 1u);
  EXPECT_LT(std::abs(checks.at("C1").res_x) + std::abs(checks.at("C1").res_y),
            0.01);
  EXPECT_EQ(checks.at("C2").res_z, 0.0);
  // The disabled image has no orientation files any more; the others have fresh
  // ones.
  EXPECT_FALSE(fs::exists(folder_ + "img4.int"));
  EXPECT_FALSE(fs::exists(folder_ + "img4.est"));
  for (int i = 0; i < 4; ++i) {
    nvc::COrientation orientation;
    ASSERT_EQ(orientation.ReadEST(folder_ + "img" + std::to_string(i) + ".est"),
              1);
    const CABAImage &image = *project_.Image(i);
    EXPECT_NEAR(orientation.GetN().x(), image.x, 0.01);
    EXPECT_NEAR(orientation.GetN().z(), image.z, 0.01);
  }
  EXPECT_TRUE(fs::exists(folder_ + "tiny.dgapbro"));
  EXPECT_TRUE(fs::exists(folder_ + "tiny.refdgapbro"));
  EXPECT_TRUE(fs::exists(folder_ + "tiny.wcsbro"));
  EXPECT_TRUE(fs::exists(folder_ + "Bundle/TiePoints.vtp"));
  EXPECT_EQ(ui_.progress_upper, kProgressSteps);
  EXPECT_EQ(ui_.progress_position, 0);
  EXPECT_FALSE(project_.busy);
  ASSERT_FALSE(ui_.log_lines.empty());
  EXPECT_NE(ui_.log_lines.back().find("end Bundle process"), std::string::npos);
}

// An image held by fewer than three tie points is named in the log; the well
// tied ones are not.
TEST_F(TinyBlock, LogNamesImagesWithTooFewTiePoints) {
  ASSERT_EQ(Run(), 1) << last_message_;
  for (const std::string &line : ui_.log_lines)
    EXPECT_EQ(line.find("WARNING: image"), std::string::npos) << line;

  WriteBlock(3);
  ui_.log_lines.clear();
  ASSERT_EQ(Run(), 1) << last_message_;
  int warnings = 0;
  for (const std::string &line : ui_.log_lines)
    if (line.find("WARNING: image") != std::string::npos) {
      ++warnings;
      EXPECT_NE(line.find("WARNING: image img3 has "), std::string::npos) << line;
    }
  EXPECT_EQ(warnings, 1);
}

// Stopped by the iteration limit, the adjustment must not read as converged.
TEST_F(TinyBlock, ReportWarnsWhenTheIterationLimitStoppedTheAdjustment) {
  project_.settings.typed.min_iterations = 1;
  project_.settings.typed.max_iterations = 1;
  ASSERT_EQ(Run(), 1) << last_message_;
  ExpectLinesInOrder(
      Lines(Path("atout")),
      {"===============================================",
       "*** WARNING: Maximum number of iterations has been reached.",
       "===============================================", "",
       "Number of iterations: 1"},
      "atout");
}

TEST_F(TinyBlock, RefusesABusyProjectAndAMissingBlock) {
  project_.busy = true;
  EXPECT_EQ(Run(), 0);
  EXPECT_FALSE(fs::exists(Path("atout")));
  project_.busy = false;

  fs::remove(folder_ + "tiny.bro");
  std::string message;
  EXPECT_EQ(StartBundle(project_, ui_, &message), 0);
  EXPECT_EQ(message, "Run tie points searching before!");
  EXPECT_EQ(ui_.LastText(), "Run tie points searching before!");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(last_message_, "invalid input BRO file!");
  EXPECT_EQ(ui_.progress_position, 0);
}

// ---- Thinning
// -----------------------------------------------------------------------------------

TEST(Thinning, ThinsOnlyAboveTheLimitPerImage) {
  EXPECT_TRUE(NeedsThinning(1000, 10, 25)); // 100 per image
  EXPECT_FALSE(NeedsThinning(200, 10, 25)); // 20 per image
  EXPECT_FALSE(NeedsThinning(250, 10, 25)); // exactly the limit
  EXPECT_FALSE(NeedsThinning(1000, 0, 25));
}

TEST(Thinning, TheLargestNumberOfMeasurementsWinsWhateverTheScore) {
  EXPECT_EQ(PickThinningCandidate({{5, 0.01}, {6, 50.0}, {5, 0.001}}), 1);
  EXPECT_EQ(PickThinningCandidate({{5, 0.5}, {5, 0.2}, {4, 0.0}}), 1);
  EXPECT_EQ(PickThinningCandidate({}), -1);
}

// Points at a node: the one with six measurements is kept over two with five
// even though its measurements are worse.
TEST(Thinning, NodeKeepsThePointWithMostMeasurements) {
  std::vector<nvc::COrientation> orientations(6);
  for (nvc::COrientation &o : orientations) {
    o.SetInterior(1000, 500, 400, 1000, 800, 0.01);
    o.SetN({0, 0, 1000});
  }
  auto make = [&](double x, double y, int count, double error) {
    CSSBAPoint point;
    point.X = x, point.Y = y;
    for (int i = 0; i < count; ++i) {
      const Eigen::Vector2d pixel = orientations[i].Pt3dToPix({x, y, 0});
      point.measurements.emplace_back(i, 0, pixel.x() + error, pixel.y());
    }
    return point;
  };
  // A 100 m square with one point in each corner frames the block; three points
  // near the centre.
  std::vector<CSSBAPoint> points = {
      make(0, 0, 2, 0),      make(100, 0, 2, 0),   make(0, 100, 2, 0),
      make(100, 100, 2, 0),  make(50, 50, 5, 0.0), make(50.5, 50, 6, 3.0),
      make(50, 50.5, 5, 0.1)};
  for (size_t i = 0; i < points.size(); ++i)
    points[i].point_index = static_cast<int>(i);
  std::vector<CSSBAPoint *> pointers;
  for (CSSBAPoint &p : points)
    pointers.push_back(&p);
  // Cell size sqrt(0.75 * 100 * 100 / (1 * 3)) = 50: nodes at 0, 50, 100 in
  // both directions.
  const std::vector<CSSBAPoint> kept =
      ThinTiePoints(pointers, orientations, 1, 3, 2);
  ASSERT_EQ(kept.size(), 5u);
  int centre = 0;
  for (const CSSBAPoint &p : kept)
    if (p.X > 10 && p.X < 90) {
      ++centre;
      EXPECT_EQ(p.point_index, 5);
    }
  EXPECT_EQ(centre, 1);
}

TEST(Thinning, ThousandPointsOnTenImagesAreThinned) {
  std::vector<nvc::COrientation> orientations(10);
  for (nvc::COrientation &o : orientations) {
    o.SetInterior(1000, 500, 400, 1000, 800, 0.01);
    o.SetN({500, 500, 1000});
  }
  std::vector<CSSBAPoint> points;
  for (int j = 0; j < 25; ++j)
    for (int i = 0; i < 40; ++i) {
      CSSBAPoint point;
      point.X = 25.0 * i + 3.0 * (j % 3), point.Y = 40.0 * j;
      point.point_index = static_cast<int>(points.size());
      for (int k = 0; k < 3; ++k)
        point.measurements.emplace_back(k, 0, 500, 400);
      points.push_back(point);
    }
  std::vector<CSSBAPoint *> pointers;
  for (CSSBAPoint &p : points)
    pointers.push_back(&p);
  ASSERT_TRUE(NeedsThinning(1000, 10, 25));
  int nodes = 0;
  const std::vector<CSSBAPoint> kept = ThinTiePoints(
      pointers, orientations, 10, 25, 2, [&] { return ++nodes > 0; });
  // About 250 / 0.75 cells; each keeps at most one point.
  EXPECT_GT(kept.size(), 100u);
  EXPECT_LE(static_cast<int>(kept.size()), nodes);
  EXPECT_LT(kept.size(), 400u);
  // A stop request ends the thinning at once.
  EXPECT_TRUE(ThinTiePoints(pointers, orientations, 10, 25, 2, [] {
                return false;
              }).empty());
}

} // namespace
} // namespace vantri::bundle
