#include "shell/cli.h"

#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>
#include <vector>

#include "crs/coordinate_system.h"
#include "project/project.h"
#include "project/project_flows.h"
#include "system/files.h"
#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"
#include "ui_interface/ui.h"

namespace fs = std::filesystem;

namespace {

struct Cli : testing::Test {
  void SetUp() override {
    root = temp.path();
    setenv("VANTRI_HOME", root.c_str(), 1);
  }
  int Run(std::vector<std::string> args) {
    std::istringstream in;
    out.str("");
    err.str("");
    return vantri::shell::RunCommandLine(args, in, out, err);
  }
  std::vector<std::string> PassportArgs(const std::string& path) {
    return {"passport", "create", "--out",   path,     "--model",    "DMC",     "--serial",
            "S1",       "--lens", "L1",      "--date", "01-02-2021", "--focal", "120",
            "--pixel",  "0.012",  "--width", "7680",   "--height",   "13824",   "--ppx",
            "3840",     "--ppy",  "6912.5",  "--k1",   "1e-5"};
  }
  // Both streams: information messages go to the output, failures to the error stream.
  std::string Printed() const { return out.str() + err.str(); }
  vantri::test_support::TempFolder temp;
  std::string root;
  std::ostringstream out, err;
};

TEST_F(Cli, CommandLineErrorsExitWithUsage) {
  EXPECT_EQ(Run({}), vantri::shell::kExitUsage);
  EXPECT_EQ(Run({"frobnicate"}), vantri::shell::kExitUsage);
  EXPECT_NE(err.str().find("unknown command 'frobnicate'"), std::string::npos);
  EXPECT_EQ(Run({"info", "a.bun", "--verbose"}), vantri::shell::kExitUsage);
  EXPECT_NE(err.str().find("unknown option '--verbose'"), std::string::npos);
  EXPECT_EQ(Run({"info"}), vantri::shell::kExitUsage);
  EXPECT_EQ(Run({"passport", "create", "--out"}), vantri::shell::kExitUsage);
  EXPECT_EQ(Run({"passport", "create", "--model", "M"}), vantri::shell::kExitUsage);
  EXPECT_NE(err.str().find("missing option --serial"), std::string::npos);
  auto bad_width = PassportArgs(root + "/p.bcc");
  bad_width[17] = "wide";
  EXPECT_EQ(Run(bad_width), vantri::shell::kExitUsage);
  for (const std::vector<std::string>& help : {std::vector<std::string>{"--help"},
                                               {"passport", "create", "--help"},
                                               {"passport", "show", "--help"},
                                               {"new", "--help"},
                                               {"info", "--help"},
                                               {"settings", "--help"},
                                               {"crs", "--help"}}) {
    EXPECT_EQ(Run(help), vantri::shell::kExitOk) << help[0];
    EXPECT_NE(out.str().find("Usage: vantri-cli"), std::string::npos);
  }
}

// The commands' own option checks come before the project is opened: a missing project file
// would otherwise turn these into failures (1) instead of command-line errors (2).
TEST_F(Cli, RunCommandsCheckTheirOptionsFirst) {
  const std::string bun = root + "/none/none.bun";
  const std::vector<std::pair<std::vector<std::string>, std::string>> usage_errors = {
      {{"import-exif", bun, "--attitude", "sideways"}, "--attitude takes xmp or none"},
      {{"import-exif"}, "expected PROJECT.bun"},
      {{"measure", bun}, "Give --gcp FILE or --cp FILE"},
      {{"measure", bun, "--gcp", "a.txt", "--cp", "b.txt"}, "Give one of --gcp and --cp"},
      {{"measure", bun, "--gcp", "a.txt", "--columns", "point,image,col"},
       "--columns needs point, image, col and row"},
      {{"measure", bun, "--gcp"}, "option --gcp needs a value"},
      {{"aat", bun, "--threads", "-1"}, "--threads takes a count of 0 or more"},
      {{"aat", bun, "--threads", "2x"}, "--threads takes a count of 0 or more"},
      {{"aat", bun, "extra.bun"}, "expected PROJECT.bun"},
      {{"bundle", "--notify"}, "expected PROJECT.bun"},
      {{"report", bun, "--bogus"}, "unknown option '--bogus'"},
      {{"report", bun, "second.bun"}, "expected one project file"}};
  for (const auto& [line, reason] : usage_errors) {
    EXPECT_EQ(Run(line), vantri::shell::kExitUsage) << line[0] << " " << line.back();
    EXPECT_NE(err.str().find(reason), std::string::npos) << err.str();
    EXPECT_NE(err.str().find("Usage: vantri-cli " + line[0]), std::string::npos) << err.str();
  }
  for (const char* command : {"import-exif", "measure", "aat", "bundle", "report"}) {
    EXPECT_EQ(Run({command, "--help"}), vantri::shell::kExitOk);
    EXPECT_EQ(out.str().rfind(std::string("Usage: vantri-cli ") + command, 0), 0u) << out.str();
  }
  EXPECT_EQ(Run({"measure", bun, "--cp", "a.txt"}), vantri::shell::kExitFailure);
  EXPECT_FALSE(err.str().empty());
}

TEST_F(Cli, PassportEditorChecksAndOverwriteQuestion) {
  auto args = PassportArgs(root + "/cam.bcc");
  args[15] = "1.5";  // --pixel
  EXPECT_EQ(Run(args), vantri::shell::kExitFailure);
  EXPECT_NE(Printed().find("Invalid pixel size value!"), std::string::npos);
  EXPECT_FALSE(fs::exists(root + "/cam.bcc"));

  ASSERT_EQ(Run(PassportArgs(root + "/cam.bcc")), vantri::shell::kExitOk) << err.str();
  EXPECT_EQ(Run(PassportArgs(root + "/cam.bcc")), vantri::shell::kExitFailure);  // answered No
  auto yes = PassportArgs(root + "/cam.bcc");
  yes.insert(yes.begin(), "--yes");
  EXPECT_EQ(Run(yes), vantri::shell::kExitOk);

  ASSERT_EQ(Run({"passport", "show", root + "/cam.bcc"}), vantri::shell::kExitOk);
  EXPECT_NE(out.str().find("Principal Point: (3840.000, 6912.500) pix"), std::string::npos);
  EXPECT_NE(out.str().find("K1: 1e-05"), std::string::npos);
  EXPECT_EQ(Run({"passport", "show", root + "/missing.bcc"}), vantri::shell::kExitFailure);
}

TEST_F(Cli, NewInfoSettingsAndCrs) {
  const std::string passport = root + "/cam.bcc";
  ASSERT_EQ(Run(PassportArgs(passport)), vantri::shell::kExitOk);

  EXPECT_EQ(Run({"new", "--folder", root, "--name", "bad", "--passport", passport, "--projection",
                 "UTM", "--datum", "World Geodetic System 1984"}),
            vantri::shell::kExitFailure);
  EXPECT_NE(err.str().find("Select Fuse!"), std::string::npos);
  EXPECT_EQ(Run({"new", "--folder", root, "--name", "bad", "--passport", passport, "--epsg", "3004",
                 "--projection", "UTM"}),
            vantri::shell::kExitUsage);
  EXPECT_FALSE(fs::exists(root + "/bad"));

  ASSERT_EQ(Run({"new", "--folder", root, "--name", "job", "--passport", passport, "--projection",
                 "Transvers Mercator", "--datum", "Monte Mario", "--fuse", "W"}),
            vantri::shell::kExitOk)
      << err.str();
  const std::string bun = root + "/job/job.bun";
  EXPECT_TRUE(fs::exists(bun));
  EXPECT_TRUE(fs::exists(root + "/job/cam.bcc"));

  ASSERT_EQ(Run({"info", bun}), vantri::shell::kExitOk);
  EXPECT_NE(out.str().find("Number of images: 0"), std::string::npos);
  EXPECT_NE(out.str().find("Camera Serial:S1\nModel Name:DMC"), std::string::npos);

  ASSERT_EQ(Run({"crs", bun}), vantri::shell::kExitOk);
  EXPECT_NE(out.str().find("Transvers Mercator"), std::string::npos);
  EXPECT_NE(out.str().find("TOWGS84[-104.1,-49.1,-9.9,0.971,-2.917,0.714,-11.68]"),
            std::string::npos);

  EXPECT_EQ(Run({"settings", bun, "--set", "Template size=321"}), vantri::shell::kExitFailure);
  EXPECT_NE(Printed().find("Search area size value must at least the double of template size"),
            std::string::npos);
  EXPECT_FALSE(fs::exists(root + "/job/settings.ini"));
  EXPECT_EQ(Run({"settings", bun, "--set", "Show bundle report=maybe"}),
            vantri::shell::kExitFailure);
  EXPECT_EQ(Run({"settings", bun, "--set", "Template size"}), vantri::shell::kExitUsage);

  ASSERT_EQ(Run({"settings", bun, "--set", "Template size=320", "--set",
                 "Max points to search per image=49", "--validate"}),
            vantri::shell::kExitOk)
      << err.str();
  EXPECT_NE(out.str().find("Settings are valid."), std::string::npos);
  std::string ini;
  ASSERT_TRUE(vantri::system::ReadWholeFile(root + "/job/settings.ini", ini));
  EXPECT_NE(ini.find("=320\n"), std::string::npos);
  EXPECT_NE(ini.find("=49:9:16:25:36:49:64\n"), std::string::npos);

  EXPECT_EQ(Run({"info", root + "/job/none.bun"}), vantri::shell::kExitFailure);
  EXPECT_NE(err.str().find("Unable to find project!"), std::string::npos);
}

TEST_F(Cli, NewWithUserWktOrEpsg) {
  const std::string passport = root + "/cam.bcc";
  ASSERT_EQ(Run(PassportArgs(passport)), vantri::shell::kExitOk);
  const std::string prj = root + "/zone33.prj";
  {
    std::ofstream(prj) << vantri::crs::WktFromEpsg(32633) << "\r\n";
    std::ofstream(root + "/empty.prj");
    std::ofstream(root + "/junk.prj") << "PROJCS[nonsense";
  }
  EXPECT_EQ(Run({"new", "--folder", root, "--name", "a", "--passport", passport, "--wkt-file",
                 root + "/empty.prj"}),
            vantri::shell::kExitFailure);
  EXPECT_NE(Printed().find("Unable to read selected file!"), std::string::npos);
  EXPECT_EQ(Run({"new", "--folder", root, "--name", "a", "--passport", passport, "--wkt-file",
                 root + "/junk.prj"}),
            vantri::shell::kExitFailure);
  EXPECT_NE(Printed().find("Invalid WKT string!"), std::string::npos);
  EXPECT_EQ(Run({"new", "--folder", root, "--name", "a", "--passport", passport, "--epsg", "-5"}),
            vantri::shell::kExitFailure);
  EXPECT_NE(Printed().find("Invalid EPSG code!"), std::string::npos);
  EXPECT_FALSE(fs::exists(root + "/a"));

  ASSERT_EQ(
      Run({"new", "--folder", root, "--name", "w", "--passport", passport, "--wkt-file", prj}),
      vantri::shell::kExitOk)
      << Printed();
  ASSERT_EQ(Run({"crs", root + "/w/w.bun"}), vantri::shell::kExitOk);
  EXPECT_NE(out.str().find("User WKT String"), std::string::npos);
  EXPECT_NE(out.str().find("UTM zone 33N"), std::string::npos);

  ASSERT_EQ(Run({"new", "--folder", root, "--name", "e", "--passport", passport, "--epsg", "3004"}),
            vantri::shell::kExitOk);
  ASSERT_EQ(Run({"crs", root + "/e/e.bun"}), vantri::shell::kExitOk);
  EXPECT_NE(out.str().find("User EPSG Code"), std::string::npos);
  EXPECT_NE(out.str().find("3004"), std::string::npos);
}

TEST_F(Cli, FailuresSayWhy) {
  const std::string passport = root + "/cam.bcc";
  ASSERT_EQ(Run(PassportArgs(passport)), vantri::shell::kExitOk);
  ASSERT_EQ(Run({"new", "--folder", root, "--name", "job", "--passport", passport}),
            vantri::shell::kExitOk);
  const std::string bun = root + "/job/job.bun";
  ASSERT_EQ(Run({"settings", bun, "--set", "GCPs weight=3"}), vantri::shell::kExitOk);
  std::string ini;
  ASSERT_TRUE(vantri::system::ReadWholeFile(root + "/job/settings.ini", ini));
  const std::size_t at = ini.find("=Convergence threshold");
  ASSERT_NE(at, std::string::npos);
  ini.replace(at, 22, "=Renamed threshold");
  std::ofstream(root + "/job/settings.ini", std::ios::binary) << ini;

  EXPECT_EQ(Run({"settings", bun, "--validate"}), vantri::shell::kExitFailure);
  EXPECT_NE(err.str().find("The property \"Convergence threshold\" is missing from"),
            std::string::npos)
      << Printed();

  // A step that fails without a message of its own still leaves a line.
  EXPECT_EQ(Run({"srtm-folder", root + "/none"}), vantri::shell::kExitFailure);
  EXPECT_FALSE(Printed().empty());
}

}  // namespace

namespace {

// A JPEG whose EXIF carries a GPS position and whose XMP packet a DJI gimbal attitude.
void WriteUavJpeg(const std::string& path) {
  GDALAllRegister();
  GDALDatasetUniquePtr source(
      GetGDALDriverManager()->GetDriverByName("MEM")->Create("", 64, 48, 3, GDT_Byte, nullptr));
  source->SetMetadataItem("EXIF_GPSLatitude", "(45) (30) (0)");
  source->SetMetadataItem("EXIF_GPSLatitudeRef", "N");
  source->SetMetadataItem("EXIF_GPSLongitude", "(9) (0) (0)");
  source->SetMetadataItem("EXIF_GPSLongitudeRef", "E");
  source->SetMetadataItem("EXIF_GPSAltitude", "(250)");
  GDALDatasetUniquePtr(GetGDALDriverManager()->GetDriverByName("JPEG")->CreateCopy(
      path.c_str(), source.get(), FALSE, nullptr, nullptr, nullptr));
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  const std::string payload =
      std::string("http://ns.adobe.com/xap/1.0/") + '\0' +
      "<x:xmpmeta><rdf:RDF><rdf:Description "
      "drone-dji:GimbalYawDegree=\"90\" drone-dji:GimbalPitchDegree=\"-90\" "
      "drone-dji:GimbalRollDegree=\"0\"/></rdf:RDF></x:xmpmeta>";
  const std::string segment = std::string("\xFF\xE1") +
                              static_cast<char>((payload.size() + 2) >> 8) +
                              static_cast<char>((payload.size() + 2) & 0xFF) + payload;
  bytes.insert(2, segment);
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

TEST_F(Cli, ImportExifSetsPositionAndAttitudeAndSavesTheProject) {
  auto passport = PassportArgs(root + "/uav.bcc");
  passport[17] = "64", passport[19] = "48", passport[21] = "32", passport[23] = "24";
  passport.resize(24);  // no distortion: images are taken as they are
  ASSERT_EQ(Run(passport), vantri::shell::kExitOk) << Printed();
  ASSERT_EQ(Run({"new", "--folder", root, "--name", "uav", "--passport", root + "/uav.bcc",
                 "--epsg", "32632"}),
            vantri::shell::kExitOk)
      << Printed();
  const std::string bun = root + "/uav/uav.bun";
  WriteUavJpeg(root + "/DJI_0001.jpg");
  ASSERT_EQ(Run({"add-images", bun, root + "/DJI_0001.jpg"}), vantri::shell::kExitOk) << Printed();
  EXPECT_EQ(Run({"import-exif", bun, "--attitude", "sideways"}), vantri::shell::kExitUsage);
  ASSERT_EQ(Run({"import-exif", bun}), vantri::shell::kExitOk) << Printed();

  vantri::ScriptedUi ui;
  CVantriProject project;
  ASSERT_TRUE(vantri::project::OpenProjectPath(project, ui, bun));
  ASSERT_EQ(project.ImageCount(), 1);
  const CABAImage& image = *project.images[0];
  // On the central meridian of zone 32: easting 500000, no convergence; heading east is
  // kappa = -90 degrees.
  EXPECT_NEAR(image.x, 500000.0, 1e-3);
  EXPECT_NEAR(image.z, 250.0, 1e-9);
  EXPECT_NEAR(image.kappa, -3.14159265358979323846 / 2, 1e-9);
  EXPECT_NEAR(image.omega, 0.0, 1e-9);
}

namespace {

// Without the AAT's block the bundle command stops with the message of the bundle window.
TEST_F(Cli, BundleNeedsTheTiePointBlock) {
  const std::string passport = root + "/cam.bcc";
  ASSERT_EQ(Run(PassportArgs(passport)), vantri::shell::kExitOk);
  ASSERT_EQ(
      Run({"new", "--folder", root, "--name", "b", "--passport", passport, "--epsg", "32632"}),
      vantri::shell::kExitOk)
      << err.str();
  EXPECT_EQ(Run({"bundle", root + "/b/b.bun"}), vantri::shell::kExitFailure);
  EXPECT_NE(Printed().find("Run tie points searching before!"), std::string::npos);
  EXPECT_EQ(Run({"bundle"}), vantri::shell::kExitUsage);
  EXPECT_EQ(Run({"bundle", root + "/b/b.bun", "--bogus"}), vantri::shell::kExitUsage);
}

}  // namespace
