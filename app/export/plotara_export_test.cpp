#include "export/plotara_export.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "photogrammetry/orientation.h"
#include "system/nvtools.h"
#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"

extern char** environ;

namespace vantri::plotter {
namespace {

namespace fs = std::filesystem;
using test_support::ReadFile;
using test_support::WriteFile;

// Sets the abort flag at the n-th message pumping.
class AbortingUi : public ScriptedUi {
 public:
  explicit AbortingUi(int abort_at) : abort_at_(abort_at) {}
  void PumpMessages() override {
    if (++pump_count == abort_at_) SetAbort(true);
  }

 private:
  int abort_at_;
};

// PATH set for the life of the object.
class ScopedPath {
 public:
  explicit ScopedPath(const std::string& path) : previous_(getenv("PATH")) {
    setenv("PATH", path.c_str(), 1);
  }
  ~ScopedPath() { setenv("PATH", previous_.c_str(), 1); }

 private:
  std::string previous_;
};

// A script that records its arguments, one per line, into `record`.
std::string WriteStandIn(const std::string& path, const std::string& record) {
  WriteFile(path, "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > '" + record + ".tmp'\nmv '" +
                      record + ".tmp' '" + record + "'\n");
  fs::permissions(path, fs::perms::owner_all);
  return path;
}

// The record of the stand-in; it runs detached, so wait for it (up to a minute).
std::string WaitForRecord(const std::string& record) {
  for (int i = 0; i < 600 && !fs::exists(record); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return ReadFile(record);
}

// A project of four images on a 4000 x 3000 camera; images 0 and 3 qualify for the export, 1 is
// disabled and 2 has no footprint.
class ExportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder_ / "images");
    project_.folder = folder_.path() + "/project/";
    fs::create_directories(project_.folder);
    project_.name = "block";
    auto passport = std::make_unique<CBCCCameraPassport>();
    passport->model = "Stand-in";
    passport->focal_mm = 40, passport->pixel_mm = 0.01;
    passport->width = 4000, passport->height = 3000;
    passport->ppx = 2000, passport->ppy = 1500;
    project_.passport = std::move(passport);
    for (int i = 0; i < 4; ++i) AddImage(i);
    project_.Image(1)->enabled = 0;
    project_.Image(2)->footprint_handle = 0;
    project_.footprints[2].clear();
    executable_ = WriteStandIn(folder_ / "plotara", folder_ / "args.txt");
  }

  void AddImage(int i) {
    CABAImage& image = project_.AppendImage(folder_ / ("images/IMG_" + std::to_string(i) + ".tif"));
    image.reserved = 1;
    image.reserved_point1 = {1000.0 + 600 * i, 2000, 1000};
    image.reserved_point2 = {0.01, -0.02, 0.5 * i};
    image.footprint_handle = i + 1;
    const double x = 500.0 + 600 * i;
    project_.footprints.push_back({{x, 1625}, {x + 1000, 1625}, {x + 1000, 2375}, {x, 2375}});
  }

  int Export(UserInterface& ui) {
    ExportDialog dialog(project_, executable_, ui,
                        [this](const std::string& exe, const std::string& sti) {
                          started_.push_back(exe + " " + sti);
                          return true;
                        });
    return dialog.Run();
  }

  std::string Sti() const { return ReadFile(DescriptionPath(project_)); }

  test_support::ScopedVantriHome home_;
  test_support::TempFolder folder_;
  CVantriProject project_;
  std::string executable_;
  std::vector<std::string> started_;
};

TEST_F(ExportTest, WritesTheDescriptionAndOrientationsOfTheQualifyingImagesOnly) {
  project_.footprints[3].clear();  // a footprint without vertices
  ScriptedUi ui;
  ASSERT_EQ(Export(ui), kDialogOk);
  EXPECT_TRUE(ui.shown.empty());
  ASSERT_EQ(started_.size(), 1u);
  EXPECT_EQ(started_[0], executable_ + " " + project_.folder + "Stereo/block.sti");

  const std::string expected =
      "[CoordinateSystem]\nWKT=\n[Images]\nNumber=2\n"
      "[Image_00000]\nFilePath=" +
      project_.Image(0)->Path() +
      "\nnVertices=4\n"
      "Vertex_00_X=500.000000\nVertex_00_Y=1625.000000\nVertex_01_X=1500.000000\n"
      "Vertex_01_Y=1625.000000\nVertex_02_X=1500.000000\nVertex_02_Y=2375.000000\n"
      "Vertex_03_X=500.000000\nVertex_03_Y=2375.000000\n"
      "[Image_00001]\nFilePath=" +
      project_.Image(3)->Path() + "\nnVertices=0\n";
  EXPECT_EQ(Sti(), expected);

  for (int i : {1, 2}) {
    EXPECT_FALSE(fs::exists(folder_ / ("images/IMG_" + std::to_string(i) + ".est")));
    EXPECT_FALSE(fs::exists(folder_ / ("images/IMG_" + std::to_string(i) + ".int")));
  }
  nvc::COrientation est, interior;
  ASSERT_NE(est.ReadEST(folder_ / "images/IMG_0.est"), 0);
  EXPECT_DOUBLE_EQ(est.GetN().x(), 1000.0);
  EXPECT_NEAR(est.GetAvgGSD(), 0.25, 1e-12);  // 1000 x 750 m on 4000 x 3000 pixels
  EXPECT_TRUE(est.GetRotMat().isApprox(FromEulerAnglesXYZ(0.01, -0.02, 0.0)));
  ASSERT_NE(interior.ReadINT(folder_ / "images/IMG_0.int"), 0);
  EXPECT_DOUBLE_EQ(interior.GetFocalPixels(), 4000.0);
  ASSERT_NE(est.ReadEST(folder_ / "images/IMG_3.est"), 0);
  EXPECT_EQ(est.GetAvgGSD(), 0.0);  // no footprint area
  EXPECT_TRUE(est.GetRotMat().isApprox(FromEulerAnglesXYZ(0.01, -0.02, 1.5)));
  EXPECT_FALSE(fs::exists(project_.folder + "Stereo.new"));
}

TEST_F(ExportTest, OneOrientedImageIsRefusedAndTheEarlierExportStays) {
  fs::create_directories(project_.folder + "Stereo");
  WriteFile(project_.folder + "Stereo/block.sti", "earlier export\n");
  project_.Image(3)->reserved = 0;
  ScriptedUi ui;
  EXPECT_EQ(Export(ui), kDialogCancel);
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"At least 2 images must be oriented!"});
  EXPECT_EQ(ui.shown[0].icon, MessageIcon::kExclamation);
  EXPECT_EQ(Sti(), "earlier export\n");
  EXPECT_FALSE(fs::exists(project_.folder + "Stereo.new"));
  EXPECT_TRUE(started_.empty());
}

TEST_F(ExportTest, ReExportAfterYesReplacesTheWholeFolderAndNoKeepsIt) {
  ScriptedUi first;
  ASSERT_EQ(Export(first), kDialogOk);
  WriteFile(project_.folder + "Stereo/block.st3", "Plotara's project\n");
  WriteFile(project_.folder + "Stereo/strokes.dat", "Plotara's data\n");

  ScriptedUi no;
  no.yes_no_answers = {false};
  EXPECT_EQ(Export(no), kDialogCancel);
  EXPECT_EQ(no.Texts(),
            std::vector<std::string>{"Plotara project already exported.\nOverwrite it?"});
  EXPECT_TRUE(fs::exists(project_.folder + "Stereo/strokes.dat"));

  ScriptedUi yes;
  yes.yes_no_answers = {true};
  ASSERT_EQ(Export(yes), kDialogOk);
  EXPECT_FALSE(fs::exists(project_.folder + "Stereo/strokes.dat"));
  EXPECT_FALSE(fs::exists(project_.folder + "Stereo/block.st3"));
  EXPECT_NE(Sti().find("Number=2"), std::string::npos);
  for (const auto& entry : fs::directory_iterator(project_.folder))
    EXPECT_EQ(entry.path().filename().string().rfind("Stereo", 0) == 0,
              entry.path().filename() == "Stereo");  // no staging or old folder left
}

TEST_F(ExportTest, AnAbortInEitherPassLeavesTheEarlierExport) {
  fs::create_directories(project_.folder + "Stereo");
  WriteFile(project_.folder + "Stereo/block.sti", "earlier export\n");
  // Pumps: 1 at the start, 4 in the first pass, 2 in the second.
  for (int abort_at : {3, 6}) {
    AbortingUi ui(abort_at);
    EXPECT_EQ(Export(ui), kDialogCancel) << abort_at;
    EXPECT_TRUE(ui.shown.empty());
    EXPECT_EQ(Sti(), "earlier export\n");
    EXPECT_FALSE(fs::exists(project_.folder + "Stereo.new"));
  }
  AbortingUi ui(0);
  ui.yes_no_answers = {true};
  ExportDialog dialog(project_, executable_, ui);
  dialog.OnAbort();
  EXPECT_EQ(ui.LastText(), "Abort process?");
  EXPECT_TRUE(ui.IsAborted());
  EXPECT_TRUE(started_.empty());
}

TEST_F(ExportTest, AFailedStartIsReported) {
  ScriptedUi ui;
  ExportDialog dialog(project_, executable_, ui,
                      [](const std::string&, const std::string&) { return false; });
  EXPECT_EQ(dialog.Run(), kDialogCancel);
  EXPECT_EQ(ui.LastText(), "Unable to start Plotara (" + executable_ + ")");
  EXPECT_FALSE(StartPlotara(folder_ / "missing-plotara", "x.sti"));
}

TEST_F(ExportTest, TheLauncherStartsPlotaraFromThePathWithTheDescriptionAsOnlyArgument) {
  fs::create_directories(folder_ / "bin");
  WriteStandIn(folder_ / "bin/plotara", folder_ / "path-args.txt");
  ScopedPath path(folder_ / "bin" + ":" + getenv("PATH"));
  ScriptedUi ui;
  // The desktop's window runs the dialog; its answer is the command's.
  int shown = 0;
  const auto window = [&shown](ExportDialog& dialog) {
    ++shown;
    return dialog.Run();
  };
  ASSERT_EQ(ExportToPlotara(project_, ui, StartPlotara, window), kDialogOk);
  EXPECT_EQ(shown, 1);
  EXPECT_EQ(WaitForRecord(folder_ / "path-args.txt"), DescriptionPath(project_) + "\n");

  // A path in the profile wins over the PATH.
  ASSERT_NE(NVT_WriteUserProfileString(kProfileSection, kProfileExecutableKey, executable_), 0);
  EXPECT_EQ(FindPlotara(), executable_);
}

TEST_F(ExportTest, TheLauncherRefusesWithoutPlotaraOrWhileItRuns) {
  ScopedPath path(folder_ / "nowhere");
  ScriptedUi ui;
  bool shown = false;
  const auto window = [&shown](ExportDialog&) { return shown = true, kDialogOk; };
  EXPECT_EQ(ExportToPlotara(project_, ui, StartPlotara, window), kDialogCancel);
  EXPECT_FALSE(shown);
  EXPECT_EQ(ui.Texts(), std::vector<std::string>{"Unable to find Plotara"});

  // A running process whose program name is "plotara".
  std::vector<char*> argv{const_cast<char*>("plotara"), const_cast<char*>("60"), nullptr};
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, "/bin/sleep", nullptr, nullptr, argv.data(), environ), 0);
  // The spawn returns while the new program's command line may still be empty.
  const std::string cmdline = "/proc/" + std::to_string(child) + "/cmdline";
  for (int i = 0; i < 600 && ReadFile(cmdline).rfind("plotara", 0) != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ScriptedUi running;
  const int result = ExportToPlotara(project_, running);
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(result, kDialogCancel);
  EXPECT_EQ(running.Texts(), std::vector<std::string>{
                                 "Another instance of Plotara is running.\nPlease close it before "
                                 "continue"});
  EXPECT_FALSE(fs::exists(project_.folder + "Stereo"));
}

TEST_F(ExportTest, OrientationsOfTheLastBundleRunAreAdopted) {
  std::string problem;
  EXPECT_EQ(AdoptBundleOrientations(project_, &problem), 0);
  EXPECT_NE(problem.find("block.extor is missing"), std::string::npos);

  fs::create_directories(project_.folder + "Bundle");
  char row[160];
  std::snprintf(row, sizeof row, "%30s %16.6lf %16.6lf %16.6lf %12.6lf %12.6lf %12.6lf\n", "img_2",
                1.0, 2.0, 3.0, 0.1, 0.2, 0.3);
  WriteFile(project_.folder + "Bundle/block.extor",
            "# Vantri - v 0.1.0\n# Aerial Triangulation External Orientation Result\n\n" +
                std::string(row));
  EXPECT_EQ(AdoptBundleOrientations(project_, &problem), 1);
  EXPECT_EQ(project_.Image(0)->reserved, 0);  // not in the last run
  EXPECT_EQ(project_.Image(2)->reserved, 1);
  EXPECT_EQ(project_.Image(2)->reserved_point2, (std::array<double, 3>{0.1, 0.2, 0.3}));
}

TEST(Gsd, IsTheSquareRootOfTheFootprintAreaPerPixel) {
  EXPECT_DOUBLE_EQ(AverageGsd({{0, 0}, {0, 750}, {1000, 750}, {1000, 0}}, 4000, 3000), 0.25);
  EXPECT_EQ(AverageGsd({{0, 0}, {1, 1}}, 4000, 3000), 0.0);
}

}  // namespace
}  // namespace vantri::plotter
