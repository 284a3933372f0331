// vantri-cli aat on a survey made by the sample-data generator: the oriented
// block is compared with the generator's truth, and the refusals, the abort and
// the resume are checked on it.
//
// The block is 3 strips x 8 images of 1500 x 1000 pixels by default;
// VANTRI_AAT_E2E_BLOCK names a generated block folder to use instead (e.g. the
// 3000 x 2000 survey of the README figures).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <Eigen/Dense>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <sstream>

#include "aat/aat_process.h"
#include "project/project.h"
#include "project/project_flows.h"
#include "shell/cli.h"
#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"
#include "ui_interface/ui.h"

namespace fs = std::filesystem;

namespace {

struct TruePose {
  Eigen::Vector3d centre;
  Eigen::Matrix3d rotation;  // camera -> world
};

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

double Radians(double degrees) { return degrees * M_PI / 180.0; }

// The images array of truth.json: id, centre and attitude (degrees) of every
// true orientation.
std::map<std::string, TruePose> TruePoses(const std::string& truth_json) {
  const size_t begin = truth_json.find("\"images\": [");
  const size_t end = truth_json.find(']', begin);
  const std::string images = truth_json.substr(begin, end - begin);
  const std::string number = "([-0-9.eE]+)";
  const std::regex record("\"id\": \"([^\"]+)\"[^}]*?\"X\": " + number + ", \"Y\": " + number +
                          ", \"Z\": " + number + ", \"omega\": " + number + ", \"phi\": " + number +
                          ", \"kappa\": " + number);
  std::map<std::string, TruePose> poses;
  for (auto it = std::sregex_iterator(images.begin(), images.end(), record);
       it != std::sregex_iterator(); ++it) {
    const auto value = [&](int k) { return std::stod((*it)[k]); };
    poses[(*it)[1]] = {{value(2), value(3), value(4)},
                       FromEulerAnglesXYZ(Radians(value(5)), Radians(value(6)), Radians(value(7)))};
  }
  return poses;
}

// Every file below a folder with its content.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::recursive_directory_iterator(folder))
    if (entry.is_regular_file()) files[entry.path().string()] = ReadText(entry.path().string());
  return files;
}

struct Accuracy {
  double max_centre_error = 0;    // m, largest coordinate difference
  double max_attitude_error = 0;  // degrees, rotation angle between the two attitudes
  double rms_centre_error = 0;    // m, 3-D distance
  double rms_attitude_error = 0;  // degrees
  double rms_all = 0;             // px, every measurement
  double rms_inliers = 0;         // px, measurements within 2 px
  double share_over_2px = 0;
  int measurements = 0;
  int images_without_points = 0;
};

// Ends the run when "start AAT process" is logged: the next poll is in the DEM
// triangulation.
class AbortAtStart : public vantri::ScriptedUi {
 public:
  void AppendLogLine(std::string_view line) override {
    ScriptedUi::AppendLogLine(line);
    if (line.find("start AAT process") != std::string_view::npos) SetAbort(true);
  }
};

struct AatEndToEnd : testing::Test {
  static void SetUpTestSuite() {
#ifdef VANTRI_BLOCKGEN
    temp = std::make_unique<vantri::test_support::TempFolder>();
    root = temp->path();
    block = root + "/block";
    if (const char* given = std::getenv("VANTRI_AAT_E2E_BLOCK")) {
      block = given;
      return;
    }
    if (!fs::exists(VANTRI_BLOCKGEN)) return;
    const std::string command = std::string(VANTRI_BLOCKGEN) + " --out " + block +
                                " --tie-points 50 > " + root + "/blockgen.log 2>&1";
    generated = std::system(command.c_str()) == 0;
#endif
  }
  static void TearDownTestSuite() {
    temp.reset();
    root.clear();
  }
  void SetUp() override {
#ifndef VANTRI_BLOCKGEN
    GTEST_SKIP() << "the sample-data generator is not part of this build";
#else
    if (!fs::exists(block + "/truth.json")) GTEST_SKIP() << "no generated block";
    setenv("VANTRI_HOME", (root + "/home").c_str(), 1);
#endif
  }

  int Run(std::vector<std::string> args) {
    std::istringstream in;
    out.str("");
    err.str("");
    args.insert(args.begin(), "--yes");
    return vantri::shell::RunCommandLine(args, in, out, err);
  }

  // A new project with the generator's images (and GPS/IMU data when asked) in
  // root/<name>.
  std::string MakeProject(const std::string& name, bool with_gps) {
    const std::string bun = root + "/" + name + "/" + name + ".bun";
    EXPECT_EQ(Run({"new", "--folder", root, "--name", name, "--passport", block + "/camera.bcc",
                   "--epsg", "32632"}),
              0)
        << err.str();
    std::vector<std::string> add = {"add-images", bun};
    std::vector<std::string> images;
    for (const auto& entry : fs::directory_iterator(block + "/images"))
      images.push_back(entry.path().string());
    std::sort(images.begin(), images.end());
    add.insert(add.end(), images.begin(), images.end());
    EXPECT_EQ(Run(add), 0) << err.str();
    if (with_gps) {
      EXPECT_EQ(Run({"import-gps", bun, block + "/gps_imu.txt", "--columns",
                     "id,x,y,z,omega,phi,kappa", "--angles", "deg"}),
                0)
          << err.str();
    }
    EXPECT_EQ(Run({"dem", bun, "--external", block + "/dem.tif"}), 0) << err.str();
    // Template and search area scale with the image: 32 / 320 pixels for 3000 x 2000 images.
    const bool large = std::getenv("VANTRI_AAT_E2E_BLOCK") != nullptr;
    EXPECT_EQ(Run({"settings", bun, "--set", large ? "Template size=32" : "Template size=16",
                   "--set", large ? "Search area size=320" : "Search area size=160", "--set",
                   "Max points to search per image=64", "--set", "Max reprojection error (pixel)=2",
                   "--set", "GPS accuracy (m)=0.05", "--validate"}),
              0)
        << err.str();
    return bun;
  }

  // The final exchange file of a project against the truth.
  Accuracy Evaluate(const std::string& bun) {
    Accuracy accuracy;
    CVantriProject project;
    vantri::ScriptedUi ui;
    EXPECT_EQ(vantri::project::OpenProjectPath(project, ui, bun), 1);
    const Eigen::Vector3d origin(project.local_origin[0], project.local_origin[1],
                                 project.local_origin[2]);
    const std::map<std::string, TruePose> truth = TruePoses(ReadText(block + "/truth.json"));
    vantri::aat::BroContent content;
    std::string error;
    EXPECT_TRUE(vantri::aat::ParseBroFile(project.folder + project.name + ".bro",
                                          project.ImageCount(), false, &content, &error))
        << error;
    const std::vector<nvc::COrientation> adjusted =
        vantri::aat::OrientationsFromBro(content, *project.passport, project.ImageCount());
    std::vector<nvc::COrientation> true_orientations = adjusted;
    for (int i = 0; i < project.ImageCount(); ++i) {
      const TruePose& pose = truth.at(project.Image(i)->Name());
      EXPECT_TRUE(content.cameras[i].oriented) << project.Image(i)->Name();
      const Eigen::Vector3d difference = adjusted[i].GetN() + origin - pose.centre;
      accuracy.max_centre_error =
          std::max(accuracy.max_centre_error, difference.cwiseAbs().maxCoeff());
      const Eigen::AngleAxisd turn(pose.rotation.transpose() * adjusted[i].GetRotMat());
      accuracy.max_attitude_error =
          std::max(accuracy.max_attitude_error, turn.angle() * 180 / M_PI);
      accuracy.rms_centre_error += difference.squaredNorm() / project.ImageCount();
      accuracy.rms_attitude_error += std::pow(turn.angle() * 180 / M_PI, 2) / project.ImageCount();
      true_orientations[i].SetN(pose.centre);
      true_orientations[i].SetRotMat(pose.rotation);
    }
    std::vector<int> per_image(project.ImageCount(), 0);
    double all = 0, inliers = 0;
    int inlier_count = 0;
    for (const CSSBAPoint& point : content.points) {
      const Eigen::Vector3d world = Eigen::Vector3d(point.X, point.Y, point.Z) + origin;
      for (const CSSBAColl& m : point.measurements) {
        ++per_image[m.camera];
        const Eigen::Vector2d truth_pixel = true_orientations[m.camera].Pt3dToPix(world);
        const double e = (truth_pixel - Eigen::Vector2d(m.x, m.y)).norm();
        all += e * e;
        ++accuracy.measurements;
        if (e <= 2.0) inliers += e * e, ++inlier_count;
      }
    }
    accuracy.rms_centre_error = std::sqrt(accuracy.rms_centre_error);
    accuracy.rms_attitude_error = std::sqrt(accuracy.rms_attitude_error);
    for (int count : per_image) accuracy.images_without_points += count == 0 ? 1 : 0;
    accuracy.rms_all = std::sqrt(all / std::max(accuracy.measurements, 1));
    accuracy.rms_inliers = std::sqrt(inliers / std::max(inlier_count, 1));
    accuracy.share_over_2px = 1.0 - double(inlier_count) / std::max(accuracy.measurements, 1);
    std::printf(
        "%s: centres within %.3f m (3-D RMS %.3f m), attitudes within %.4f deg (RMS %.4f deg); %d "
        "measurements, RMS %.3f px (all), %.3f px (within 2 px), %.1f %% over 2 px\n",
        bun.c_str(), accuracy.max_centre_error, accuracy.rms_centre_error,
        accuracy.max_attitude_error, accuracy.rms_attitude_error, accuracy.measurements,
        accuracy.rms_all, accuracy.rms_inliers, 100 * accuracy.share_over_2px);
    return accuracy;
  }

  static inline std::unique_ptr<vantri::test_support::TempFolder> temp;
  static inline std::string root, block;
  static inline bool generated = false;
  std::ostringstream out, err;
};

TEST_F(AatEndToEnd, RefusalsAndAbortLeaveTheFilesAlone) {
  const std::string bun = MakeProject("refused", false);
  const std::string folder = root + "/refused/";
  fs::create_directories(folder + "TiePoints");
  std::ofstream(folder + "TiePoints/refused_3.bro") << "earlier results\n";
  const auto before = Snapshot(folder);
  EXPECT_EQ(Run({"aat", bun}), 1);
  EXPECT_NE(err.str().find("All images must have GPS/IMU data"), std::string::npos) << err.str();
  EXPECT_EQ(Snapshot(folder), before);

  ASSERT_EQ(Run({"import-gps", bun, block + "/gps_imu.txt", "--columns", "id,x,y,z,omega,phi,kappa",
                 "--angles", "deg"}),
            0);
  ASSERT_EQ(Run({"dem", bun, "--off"}), 0);
  const auto with_gps = Snapshot(folder);
  EXPECT_EQ(Run({"aat", bun}),
            1);  // no external DEM and no SRTM tile in the empty home
  EXPECT_NE(err.str().find("Unable to load DEM"), std::string::npos) << err.str();
  EXPECT_EQ(Snapshot(folder), with_gps);

  // Fewer than 4 points to search (the settings window offers no such value) is
  // refused.
  CVantriProject project;
  AbortAtStart ui;
  ASSERT_EQ(vantri::project::OpenProjectPath(project, ui, bun), 1);
  project.settings.typed.max_points_to_search = 3;
  EXPECT_EQ(CAerialPhotogrammetricProcess(project, ui).RunAAT("", block + "/dem.tif"), 0);
  EXPECT_NE(ui.log_lines.back().find("Max points to search per image must be at least 4"),
            std::string::npos);
  EXPECT_EQ(Snapshot(folder), with_gps);

  // An abort during the DEM triangulation returns 0 and writes no exchange
  // file.
  project.settings.typed.max_points_to_search = 25;
  CAerialPhotogrammetricProcess process(project, ui);
  EXPECT_EQ(process.RunAAT("", block + "/dem.tif"), 0);
  EXPECT_TRUE(ui.IsAborted());
  for (const auto& entry : fs::directory_iterator(folder + "TiePoints"))
    EXPECT_NE(entry.path().extension(), ".bro") << entry.path();
  EXPECT_FALSE(fs::exists(folder + "refused.bro"));
}

// The accuracy targets (centres within 3 x the GPS noise of 0.05 m, attitudes within 0.02 degrees,
// tie-point measurements within 0.6 px whole-pixel / 0.25 px sub-pixel RMS) are checked on the
// 3000 x 2000 survey given by VANTRI_AAT_E2E_BLOCK; on the small default block the bounds only
// catch gross faults. The projects hold the centres to the GPS positions with the generator's 0.05
// m.
TEST_F(AatEndToEnd, OrientsEveryImageCloseToTheTruthAndResumesTheStepNumbering) {
  const bool strict = std::getenv("VANTRI_AAT_E2E_BLOCK") != nullptr;
  const std::string bun = MakeProject("whole", true);
  ASSERT_EQ(Run({"aat", bun}), 0) << err.str();
  const std::string printed = out.str();
  EXPECT_NE(printed.find("Added image 24/24"), std::string::npos) << printed;
  EXPECT_NE(err.str().find("end AAT process"), std::string::npos);
  EXPECT_NE(err.str().find("tie points tracked"), std::string::npos);
  for (const char* file : {"whole.bro", "whole.iml", "101.int", "101.est", "308.est"})
    EXPECT_TRUE(fs::exists(root + "/whole/" + file)) << file;
  EXPECT_TRUE(fs::exists(root + "/whole/TiePoints/whole_24.vtp"));
  EXPECT_NE(ReadText(root + "/whole/whole.iml").find("101.jpg 0 2000.000000\n"), std::string::npos);

  const Accuracy whole = Evaluate(bun);
  EXPECT_EQ(whole.images_without_points, 0);
  EXPECT_LT(whole.max_centre_error, strict ? 3 * 0.05 : 10.0);
  EXPECT_LT(whole.max_attitude_error, strict ? 0.02 : 1.0);
  if (strict) {
    EXPECT_LT(whole.rms_inliers, 0.6);
    EXPECT_LT(whole.share_over_2px, 0.05);
  }

  // Sub-pixel matching from the start (the large survey only: it doubles the run time).
  if (strict) {
    const std::string subpixel = MakeProject("subpixel", true);
    ASSERT_EQ(Run({"settings", subpixel, "--set", "Sub-pixel matching=yes"}), 0);
    ASSERT_EQ(Run({"aat", subpixel}), 0) << err.str();
    const Accuracy refined = Evaluate(subpixel);
    EXPECT_EQ(refined.images_without_points, 0);
    EXPECT_LT(refined.max_centre_error, 3 * 0.05);
    EXPECT_LT(refined.max_attitude_error, 0.02);
    EXPECT_LT(refined.rms_inliers, 0.25);
    EXPECT_LT(refined.share_over_2px, 0.05);
  }

  // Resumed from the 12th step with sub-pixel matching on: the images of the file are skipped and
  // the numbering goes on.
  const std::string resume = root + "/resume_12.bro";
  fs::copy_file(root + "/whole/TiePoints/whole_12.bro", resume);
  ASSERT_EQ(Run({"settings", bun, "--set", "Sub-pixel matching=yes"}), 0);
  ASSERT_EQ(Run({"aat", bun, "--resume", resume}), 0) << err.str();
  EXPECT_EQ(out.str().find("Added image 12/24"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("Added image 13/24"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("Added image 24/24"), std::string::npos);
  EXPECT_FALSE(fs::exists(root + "/whole/TiePoints/whole_12.bro"));
  EXPECT_TRUE(fs::exists(root + "/whole/TiePoints/whole_13.bro"));
  EXPECT_GE(vantri::aat::ReadStepFile(root + "/whole/TiePoints/whole_13.abai"), 0);
  const Accuracy resumed = Evaluate(bun);
  EXPECT_EQ(resumed.images_without_points, 0);
  EXPECT_LT(resumed.max_centre_error, strict ? 3 * 0.05 : 10.0);
}

// The true image positions of a generator file ("point,image,col,row,...") with N(0, sigma)
// pixels of noise per axis, as an operator's measurements.
std::string NoisyMeasurements(const std::string& path, double sigma, unsigned seed) {
  std::mt19937 random(seed);
  std::normal_distribution<double> noise(0.0, sigma);
  std::istringstream lines(ReadText(path));
  std::string line, measured;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    std::stringstream row(line);
    for (std::string field; std::getline(row, field, ',');) fields.push_back(field);
    if (fields.size() < 4) continue;
    char text[256];
    std::snprintf(text, sizeof text, "%s,%s,%.4f,%.4f\n", fields[0].c_str(), fields[1].c_str(),
                  std::stod(fields[2]) + noise(random), std::stod(fields[3]) + noise(random));
    measured += text;
  }
  return measured;
}

// Rows "name X Y Z vX vY vZ" of a gcpres / cpres file.
std::vector<Eigen::Vector3d> PointResiduals(const std::string& path) {
  std::vector<Eigen::Vector3d> residuals;
  std::istringstream lines(ReadText(path));
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream row(line);
    std::string name;
    double x, y, z, vx, vy, vz;
    if (row >> name >> x >> y >> z >> vx >> vy >> vz) residuals.emplace_back(vx, vy, vz);
  }
  return residuals;
}

// The whole chain through the command line: AAT, control and check points imported and measured
// (true image positions + 0.3 px), bundle. The check points must agree with their surveyed
// coordinates within 0.5 ground sample distance in plan and 1.0 in height (RMS), and every adjusted
// projection centre must lie within 0.5 ground sample distance of the truth.
TEST_F(AatEndToEnd, WholeChainMeetsTheAccuracyTargets) {
  const std::string bun = MakeProject("chain", true);
  const std::string folder = root + "/chain/";
  ASSERT_EQ(Run({"aat", bun}), 0) << err.str();
  ASSERT_EQ(Run({"import-gcp", bun, block + "/gcp.txt", "--columns", "id,x,y,z"}), 0) << err.str();
  ASSERT_EQ(Run({"import-cp", bun, block + "/cp.txt", "--columns", "id,x,y,z"}), 0) << err.str();
  std::ofstream(root + "/gcp_measured.txt") << NoisyMeasurements(block + "/gcp_image.txt", 0.3, 11);
  std::ofstream(root + "/cp_measured.txt") << NoisyMeasurements(block + "/cp_image.txt", 0.3, 12);
  ASSERT_EQ(Run({"measure", bun, "--gcp", root + "/gcp_measured.txt", "--columns",
                 "point,image,col,row"}),
            0)
      << err.str();
  ASSERT_EQ(
      Run({"measure", bun, "--cp", root + "/cp_measured.txt", "--columns", "point,image,col,row"}),
      0)
      << err.str();
  ASSERT_EQ(Run({"bundle", bun}), 0) << err.str();

  // The run's statistics reach the HTML report: sigma 0 near the matching noise, convergence.
  const std::string html = ReadText(folder + "Bundle/chain.html");
  EXPECT_NE(html.find("from the adjustment"), std::string::npos);
  const std::string stats = ReadText(folder + "Bundle/chain.runstats");
  EXPECT_NE(stats.find("run_succeeded=1"), std::string::npos) << stats;
  EXPECT_NE(stats.find("converged=1"), std::string::npos) << stats;

  // The saved project holds the adjusted orientations.
  CVantriProject project;
  vantri::ScriptedUi ui;
  ASSERT_EQ(vantri::project::OpenProjectPath(project, ui, bun), 1);
  const std::map<std::string, TruePose> truth = TruePoses(ReadText(block + "/truth.json"));
  const double focal_pixels = project.passport->FocalPixels();
  double height_above_ground = 0.0;
  const std::vector<Eigen::Vector3d> check = PointResiduals(folder + "Bundle/chain.cpres");
  ASSERT_FALSE(check.empty());
  double plan = 0.0, height = 0.0, centres = 0.0, worst_centre = 0.0;
  for (const Eigen::Vector3d& v : check) plan += v.head<2>().squaredNorm(), height += v.z() * v.z();
  double mean_ground = 0.0;
  for (const auto& [name, point] : project.check_points) mean_ground += point.z;
  mean_ground /= static_cast<double>(project.check_points.size());
  for (int i = 0; i < project.ImageCount(); ++i) {
    const CABAImage& image = *project.Image(i);
    ASSERT_EQ(image.reserved, 1) << image.Name();
    const TruePose& pose = truth.at(image.Name());
    const Eigen::Vector3d adjusted(image.reserved_point1[0], image.reserved_point1[1],
                                   image.reserved_point1[2]);
    const double error = (adjusted - pose.centre).norm();
    centres += error * error;
    worst_centre = std::max(worst_centre, error);
    height_above_ground += (pose.centre.z() - mean_ground) / project.ImageCount();
  }
  const double gsd = height_above_ground / focal_pixels;
  const double n = static_cast<double>(check.size());
  std::printf(
      "chain: GSD %.3f m; check points (%d) RMS plan %.3f m, height %.3f m; projection centres RMS "
      "%.3f m, largest %.3f m\n",
      gsd, static_cast<int>(check.size()), std::sqrt(plan / n), std::sqrt(height / n),
      std::sqrt(centres / project.ImageCount()), worst_centre);
  EXPECT_LT(std::sqrt(plan / n), 0.5 * gsd);
  EXPECT_LT(std::sqrt(height / n), 1.0 * gsd);
  EXPECT_LT(worst_centre, 0.5 * gsd);
}

// The tie-point search shares each image's candidates among worker threads: every file of the
// run is the same, byte for byte, for one worker and for three.
TEST_F(AatEndToEnd, EveryFileIsTheSameForAnyThreadCount) {
  const std::string bun = MakeProject("threads", true);
  const std::string folder = root + "/threads/";
  ASSERT_EQ(Run({"aat", bun, "--threads", "1"}), 0) << err.str();
  const auto alone = Snapshot(folder);
  ASSERT_EQ(Run({"aat", bun, "--threads", "3"}), 0) << err.str();
  const auto shared = Snapshot(folder);
  ASSERT_EQ(alone.size(), shared.size());
  for (const auto& [path, bytes] : alone) {
    ASSERT_TRUE(shared.count(path)) << path;
    EXPECT_TRUE(shared.at(path) == bytes) << path << " differs";
  }
  EXPECT_TRUE(alone.count(folder + "TiePoints/threads_24.bro"));
  EXPECT_EQ(Run({"aat", bun, "--threads", "x"}), 2);
}

}  // namespace
