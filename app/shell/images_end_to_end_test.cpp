// vantri-cli on a block made by the sample-data generator: new project, images, GPS/IMU, control
// and check points, SRTM tile, footprints checked against the generator's truth.
#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "project/footprints.h"
#include "project/project_flows.h"
#include "shell/cli.h"
#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"
#include "ui_interface/ui.h"

namespace fs = std::filesystem;

namespace {

struct TruePose {
  double x, y, z;
};

using Outline = std::vector<std::array<double, 2>>;

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The images array of truth.json: id, X, Y, Z of every true projection centre.
std::map<std::string, TruePose> TruePoses(const std::string& truth_json) {
  const size_t begin = truth_json.find("\"images\": [");
  const size_t end = truth_json.find(']', begin);
  const std::string images = truth_json.substr(begin, end - begin);
  const std::regex record(
      R"re("id": "([^"]+)"[^}]*?"X": ([-0-9.eE]+), "Y": ([-0-9.eE]+), "Z": ([-0-9.eE]+))re");
  std::map<std::string, TruePose> poses;
  for (auto it = std::sregex_iterator(images.begin(), images.end(), record);
       it != std::sregex_iterator(); ++it)
    poses[(*it)[1]] = {std::stod((*it)[2]), std::stod((*it)[3]), std::stod((*it)[4])};
  return poses;
}

// "Footprint <name>: <n> vertices" followed by n lines "  x y".
std::map<std::string, Outline> PrintedFootprints(const std::string& text) {
  std::map<std::string, Outline> footprints;
  std::istringstream lines(text);
  std::string line;
  Outline* current = nullptr;
  const std::regex header(R"(Footprint (\S+): \d+ vertices)");
  std::smatch match;
  while (std::getline(lines, line)) {
    if (std::regex_match(line, match, header)) {
      current = &footprints[match[1]];
    } else if (current != nullptr && line.rfind("  ", 0) == 0) {
      std::istringstream numbers(line);
      std::array<double, 2> vertex{};
      numbers >> vertex[0] >> vertex[1];
      current->push_back(vertex);
    } else {
      current = nullptr;
    }
  }
  return footprints;
}

double ShoelaceArea(const Outline& outline) {
  double twice = 0;
  for (size_t i = 0, j = outline.size() - 1; i < outline.size(); j = i++)
    twice += outline[j][0] * outline[i][1] - outline[i][0] * outline[j][1];
  return std::abs(twice) / 2;
}

struct GeneratedBlock : testing::Test {
  void SetUp() override {
#ifndef VANTRI_BLOCKGEN
    GTEST_SKIP() << "the sample-data generator is not part of this build";
#else
    if (!fs::exists(VANTRI_BLOCKGEN)) GTEST_SKIP() << "blockgen not built: " << VANTRI_BLOCKGEN;
    root = temp.path();
    setenv("VANTRI_HOME", (root + "/home").c_str(), 1);
    block = root + "/block";
    // Small block; 3000 m flying height makes the SRTM-like tile wide enough for the 5 x 5
    // sampling window to find heights under every image.
    const std::string command = std::string(VANTRI_BLOCKGEN) + " --out " + block +
                                " --strips 2 --images-per-strip 3 --width 300 --height 200"
                                " --tie-points 20 --flying-height 3000 > " +
                                root + "/blockgen.log 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << ReadText(root + "/blockgen.log");
#endif
  }

  int Run(std::vector<std::string> args) {
    std::istringstream in;
    out.str("");
    err.str("");
    args.insert(args.begin(), "--yes");
    return vantri::shell::RunCommandLine(args, in, out, err);
  }

  vantri::test_support::TempFolder temp;
  std::string root, block;
  std::ostringstream out, err;
};

TEST_F(GeneratedBlock, CliBuildsProjectWhoseFootprintsContainTheTrueNadirs) {
  const std::map<std::string, TruePose> truth = TruePoses(ReadText(block + "/truth.json"));
  ASSERT_EQ(truth.size(), 6u);
  const std::string bun = root + "/p/p.bun";

  ASSERT_EQ(Run({"new", "--folder", root, "--name", "p", "--passport", block + "/camera.bcc",
                 "--epsg", "32632"}),
            0)
      << err.str();

  std::vector<std::string> add = {"add-images", bun};
  for (const auto& entry : fs::directory_iterator(block + "/images"))
    add.push_back(entry.path().string());
  add.push_back(add.back());  // the same file twice
  ASSERT_EQ(Run(add), 0) << err.str();
  EXPECT_NE(out.str().find("6 images added (0 valid for process)"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("1 images skipped: invalid or already imported"), std::string::npos);

  ASSERT_EQ(Run({"import-gps", bun, block + "/gps_imu.txt", "--columns", "id,x,y,z,omega,phi,kappa",
                 "--angles", "deg"}),
            0)
      << err.str();
  ASSERT_EQ(Run({"import-gcp", bun, block + "/gcp.txt", "--columns", "id,x,y,z"}), 0) << err.str();
  ASSERT_EQ(Run({"import-cp", bun, block + "/cp.txt", "--columns", "id,x,y,z"}), 0) << err.str();
  ASSERT_EQ(Run({"srtm-folder", bun, block + "/srtm"}), 0) << err.str();
  EXPECT_NE(out.str().find("N47E009.tif"), std::string::npos) << out.str();

  ASSERT_EQ(Run({"footprints", bun}), 0) << err.str();
  const std::string printed = out.str();
  EXPECT_NE(printed.find("SRTM tile:"), std::string::npos) << printed;
  const std::map<std::string, Outline> footprints = PrintedFootprints(printed);
  ASSERT_EQ(footprints.size(), truth.size()) << printed;
  // Terrain around 415 m: a footprint on it is (H - 415) / f * sensor wide (300 x 200 pixels of
  // 6 um behind 12 mm), clearly smaller than the one on height 0 the fallback would give.
  const double mean_height = 415.5;
  for (const auto& [id, pose] : truth) {
    ASSERT_EQ(footprints.count(id), 1u) << id;
    const Outline& outline = footprints.at(id);
    EXPECT_TRUE(vantri::project::OutlineContains(outline, pose.x, pose.y)) << id;
    const double scale = (pose.z - mean_height) / 12.0;
    const double expected = (300 * 0.006 * scale) * (200 * 0.006 * scale);
    EXPECT_NEAR(ShoelaceArea(outline) / expected, 1.0, 0.05) << id;
  }
  EXPECT_NE(printed.find("Number of images: 6"), std::string::npos);
  const size_t area = printed.find("Total area: ");
  ASSERT_NE(area, std::string::npos);
  EXPECT_GT(std::stod(printed.substr(area + 12)), 0.2);
  // Project Info after opening the project reports the same union.
  ASSERT_EQ(Run({"info", bun}), 0) << err.str();
  const size_t info_area = out.str().find("Total area: ");
  ASSERT_NE(info_area, std::string::npos);
  EXPECT_EQ(out.str().substr(info_area, 24), printed.substr(area, 24));

  // With the generator's DEM as external DEM the footprints follow it instead of the tile.
  ASSERT_EQ(Run({"dem", bun, "--external", block + "/dem.tif"}), 0) << err.str();
  ASSERT_EQ(Run({"footprints", bun}), 0) << err.str();
  EXPECT_NE(out.str().find("External DEM: " + block + "/dem.tif"), std::string::npos) << out.str();
  const std::map<std::string, Outline> on_dem = PrintedFootprints(out.str());
  ASSERT_EQ(on_dem.size(), truth.size());
  for (const auto& [id, pose] : truth) {
    EXPECT_TRUE(vantri::project::OutlineContains(on_dem.at(id), pose.x, pose.y)) << id;
    const double scale = (pose.z - mean_height) / 12.0;
    const double expected = (300 * 0.006 * scale) * (200 * 0.006 * scale);
    EXPECT_NEAR(ShoelaceArea(on_dem.at(id)) / expected, 1.0, 0.05) << id;
  }

  // The saved project holds the imported positions (GPS noise of a few centimetres) and points.
  CVantriProject project;
  vantri::ScriptedUi ui;
  ASSERT_EQ(vantri::project::OpenProjectPath(project, ui, bun), 1);
  ASSERT_EQ(project.ImageCount(), 6);
  for (int i = 0; i < project.ImageCount(); ++i) {
    const CABAImage& image = *project.Image(i);
    const TruePose& pose = truth.at(image.Name());
    EXPECT_NEAR(image.x, pose.x, 1.0) << image.Name();
    EXPECT_NEAR(image.y, pose.y, 1.0) << image.Name();
    EXPECT_NEAR(image.z, pose.z, 1.0) << image.Name();
  }
  EXPECT_FALSE(project.gcps.empty());
  EXPECT_FALSE(project.check_points.empty());
}

// The refusals of the two commands, on a tiny passport and rasters made here.
struct CliImages : testing::Test {
  void SetUp() override {
    root = temp.path();
    setenv("VANTRI_HOME", (root + "/home").c_str(), 1);
    GDALAllRegister();
  }
  int Run(std::vector<std::string> args) {
    std::istringstream in;
    out.str("");
    err.str("");
    args.insert(args.begin(), "--yes");
    return vantri::shell::RunCommandLine(args, in, out, err);
  }
  std::string MakeImage(const std::string& name, int width, int height) {
    const std::string path = root + "/" + name;
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
    GDALClose(driver->Create(path.c_str(), width, height, 1, GDT_Byte, nullptr));
    return path;
  }
  vantri::test_support::TempFolder temp;
  std::string root;
  std::ostringstream out, err;
};

TEST_F(CliImages, RefusalsExitNonZeroAndLeaveTheProjectUnchanged) {
  const std::string passport = root + "/cam.bcc";
  ASSERT_EQ(
      Run({"passport", "create", "--out",    passport,     "--model", "M",  "--serial", "S",
           "--lens",   "L",      "--date",   "01-01-2026", "--focal", "10", "--pixel",  "0.01",
           "--width",  "40",     "--height", "30",         "--ppx",   "20", "--ppy",    "15"}),
      0)
      << err.str();
  const std::string image = MakeImage("a.tif", 40, 30);
  const std::string smaller = MakeImage("b.tif", 39, 30);

  ASSERT_EQ(Run({"new", "--folder", root, "--name", "local", "--passport", passport}), 0);
  EXPECT_EQ(Run({"add-images", root + "/local/local.bun", image}), 1);
  EXPECT_NE(err.str().find("Set coordinate system before!"), std::string::npos) << err.str();

  ASSERT_EQ(
      Run({"new", "--folder", root, "--name", "utm", "--passport", passport, "--epsg", "32632"}),
      0);
  const std::string bun = root + "/utm/utm.bun";
  const std::string before = ReadText(bun);
  EXPECT_EQ(Run({"add-images", bun, smaller}), 1);
  EXPECT_EQ(ReadText(bun), before);
  EXPECT_EQ(Run({"add-images", bun}), 2);
  EXPECT_EQ(Run({"add-images", bun, "--recursive", image}), 2);
  EXPECT_EQ(Run({"footprints"}), 2);
  EXPECT_EQ(Run({"footprints", root + "/none.bun"}), 1);

  ASSERT_EQ(Run({"add-images", bun, image, smaller}), 0);
  EXPECT_NE(ReadText(bun), before);
  ASSERT_EQ(Run({"footprints", bun}), 0);
  EXPECT_NE(out.str().find("Footprint a: none (no GPS/IMU data)"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("Total area: 0.000 km^2"), std::string::npos);
}

}  // namespace
