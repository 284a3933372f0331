#include "project/project.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "project/binary_archive.h"
#include "project/passport_editor.h"
#include "project/project_flows.h"
#include "system/files.h"
#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"
#include "ui_interface/ui.h"

namespace fs = std::filesystem;

namespace vantri::project {
namespace {

CBCCCameraPassport MakePassport(int width = 6000, int height = 4000) {
  CBCCCameraPassport p;
  p.model = "UltraCam";
  p.camera_serial = "SN-42";
  p.lens_serial = "L-7";
  p.lens_constant = 100;
  p.calibration_date = "12-03-2019";
  p.focal_mm = 100.5;
  p.pixel_mm = 0.0046;
  p.ppx = 2999.5;
  p.ppy = 2001.25;
  p.width = width;
  p.height = height;
  p.metric = {1e-5, -2e-9, 3e-13, 4e-7, -5e-7};
  return p;
}

void WriteInputFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

struct ProjectFiles : testing::Test {
  void SetUp() override {
    root = temp.path();
    setenv("VANTRI_HOME", root.c_str(), 1);
    folder = root + "/job/";
    fs::create_directory(folder);
  }

  // A project with every stored field away from its default.
  void FillProject(CVantriProject& p) {
    p.folder = folder;
    p.name = "job";
    p.file_path = folder + "job.bun";
    p.passport = std::make_unique<CBCCCameraPassport>(MakePassport());
    p.working_passport = p.passport->Clone();
    p.ApplyUndistortionRule();
    p.passport_file_name = "ultracam-sn-42.bcc";
    CABAImage& a = p.AppendImage("D:\\Volo 1\\IMG_0001.tif");
    a.x = 512345.25, a.y = 4982950.5, a.z = 1200.125;
    a.omega = 0.01, a.phi = -0.02, a.kappa = 3.1;
    a.var_xy = 0.25, a.var_z = 0.5, a.var_op = 0.001, a.var_k = 0.002;
    a.reserved = 9;
    a.reserved_point1 = {1, 2, 3};
    a.reserved_point2 = {-4, -5, -6};
    CABAImage& b = p.AppendImage("/data/flight/IMG_0002.JPG");
    b.enabled = 0;
    b.x = 1;
    p.coordinate_system.SetUserWkt(vantri::crs::WktFromEpsg(32632));
    p.coordinate_system.user_epsg = 32632;
    p.use_external_dem = 1;
    p.external_dem_path = "/data/dem/area.tif";
  }

  vantri::test_support::TempFolder temp;
  std::string root, folder;
  vantri::ScriptedUi ui;
};

void ExpectSameImages(const CVantriProject& a, const CVantriProject& b) {
  ASSERT_EQ(a.ImageCount(), b.ImageCount());
  for (int i = 0; i < a.ImageCount(); ++i) {
    const CABAImage& x = *a.Image(i);
    const CABAImage& y = *b.Image(i);
    EXPECT_EQ(x.Path(), y.Path());
    EXPECT_EQ(x.Name(), y.Name());
    for (auto [u, v] : {std::pair{x.x, y.x},
                        {x.y, y.y},
                        {x.z, y.z},
                        {x.omega, y.omega},
                        {x.phi, y.phi},
                        {x.kappa, y.kappa},
                        {x.var_xy, y.var_xy},
                        {x.var_z, y.var_z},
                        {x.var_op, y.var_op},
                        {x.var_k, y.var_k}})
      EXPECT_EQ(u, v) << "image " << i;
    EXPECT_EQ(x.enabled, y.enabled);
    EXPECT_EQ(x.reserved, y.reserved);
    EXPECT_EQ(x.reserved_point1, y.reserved_point1);
    EXPECT_EQ(x.reserved_point2, y.reserved_point2);
  }
}

TEST_F(ProjectFiles, SavedProjectOpensWithEveryStoredField) {
  CVantriProject saved;
  FillProject(saved);
  ASSERT_EQ(SaveProject(saved), 1);

  CVantriProject opened;
  ASSERT_EQ(OpenProjectPath(opened, ui, saved.file_path), 1) << ui.LastText();
  EXPECT_TRUE(ui.shown.empty());
  EXPECT_EQ(opened.folder, folder);
  EXPECT_EQ(opened.name, "job");
  ExpectSameImages(saved, opened);
  EXPECT_EQ(opened.Image(1)->var_k, photogrammetry::kUndefinedVariance);
  EXPECT_EQ(opened.Image(0)->PreviewPath(), folder + "IMG_0001.jpg");
  EXPECT_EQ(opened.Image(1)->PreviewPath(), folder + "IMG_0002.bmp");
  EXPECT_EQ(opened.Image(2), nullptr);
  EXPECT_EQ(opened.Image(-1), nullptr);

  const vantri::crs::CoordinateSystem& cs = opened.coordinate_system;
  EXPECT_EQ(cs.projection, vantri::crs::kProjectionUserWkt);
  EXPECT_EQ(cs.user_wkt, saved.coordinate_system.user_wkt);
  EXPECT_EQ(cs.user_epsg, 32632);
  EXPECT_TRUE(cs.HasTransformations());

  ASSERT_NE(opened.passport, nullptr);
  EXPECT_TRUE(opened.passport->SameAs(*saved.passport));
  EXPECT_TRUE(opened.working_passport->SameAs(*saved.working_passport));
  EXPECT_FALSE(opened.working_passport->HasLensDistortion());
  EXPECT_EQ(opened.undistortion_flag, 1);
  EXPECT_EQ(opened.passport_file_name, "ultracam-sn-42.bcc");
  EXPECT_EQ(opened.use_external_dem, 1);
  EXPECT_EQ(opened.external_dem_path, "/data/dem/area.tif");
  EXPECT_EQ(opened.local_origin, (std::array<double, 3>{0, 0, 0}));
}

// Image folders whose names are plausible Windows-1252 ("Ã©tude") or not UTF-8 at all keep every
// byte through save and open, so the paths still lead to the images.
TEST_F(ProjectFiles, PathsRoundTripByteForByte) {
  const std::vector<std::string> paths = {folder + "Ã©tude/a.tif", folder + "\xE9tude/b.tif",
                                          folder + "Î©/c.tif", folder + "étude/d.tif"};
  CVantriProject saved;
  FillProject(saved);
  saved.images.clear();
  for (const std::string& path : paths) saved.AppendImage(path);
  saved.external_dem_path = folder + "\xFF" + "dem.tif";
  ASSERT_EQ(SaveProject(saved), 1);
  CVantriProject opened;
  ASSERT_EQ(OpenProjectPath(opened, ui, saved.file_path), 1) << ui.LastText();
  ExpectSameImages(saved, opened);
  EXPECT_EQ(opened.external_dem_path, saved.external_dem_path);
}

// A project of the earlier writer holding a folder name that is not UTF-8 stored its raw bytes;
// when that folder exists, the path leads to it again.
TEST_F(ProjectFiles, EarlierProjectsFindFoldersThatAreNotUtf8) {
  fs::create_directory(folder + "\xE9tude");
  WriteInputFile(folder + "\xE9tude/a.tif", "x");
  CVantriProject saved;
  FillProject(saved);
  saved.images.clear();
  saved.AppendImage(folder + "Xtude/a.tif");  // placeholder bytes, patched below
  saved.AppendImage(folder + "XYtude/b.tif");
  ASSERT_EQ(SaveProject(saved), 1);
  std::string bytes;
  ASSERT_TRUE(vantri::system::ReadWholeFile(saved.file_path, bytes));
  const auto patch = [&bytes](const std::string& from, const std::string& to) {
    const size_t at = bytes.find(from);
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, from.size(), to);
  };
  patch("Xtude", "\xE9tude");       // earlier writer: raw bytes of a name that is not UTF-8
  patch("XYtude", "\xC3\xA9tude");  // earlier writer: code page of "Ã©tude"
  WriteInputFile(saved.file_path, bytes);
  CVantriProject opened;
  ASSERT_EQ(OpenProjectPath(opened, ui, saved.file_path), 1) << ui.LastText();
  EXPECT_EQ(opened.Image(0)->Path(), folder + "\xE9tude/a.tif");
  EXPECT_EQ(opened.Image(1)->Path(), folder + "Ã©tude/b.tif");
}

TEST_F(ProjectFiles, ControlPointFilesAreReadAndCounted) {
  CVantriProject saved;
  FillProject(saved);
  ASSERT_EQ(SaveProject(saved), 1);
  CGCPCollMap points;
  for (const char* name : {"P1", "P2", "P3"}) {
    points[name].name = name;
    points[name].use = name[1] != '2';
  }
  ASSERT_EQ(WritePTCollFile(folder + "GCP.col", points), 1);
  points.erase("P3");
  ASSERT_EQ(WritePTCollFile(folder + "CP.col", points), 1);
  CVantriProject opened;
  ASSERT_EQ(OpenProjectPath(opened, ui, saved.file_path), 1);
  EXPECT_EQ(opened.gcps.size(), 3u);
  const std::string info = ProjectInfoText(opened);
  EXPECT_NE(info.find("Number of used GCPs: 2"), std::string::npos) << info;
  EXPECT_NE(info.find("Number of used Check Points: 1"), std::string::npos) << info;
  opened.Close();
  EXPECT_TRUE(opened.gcps.empty());
}

TEST_F(ProjectFiles, LocalOriginComesFromTheOffFile) {
  CVantriProject saved;
  FillProject(saved);
  ASSERT_EQ(SaveProject(saved), 1);
  WriteInputFile(folder + "job.off", "512000.5 4982000.25 100\n");
  CVantriProject opened;
  ASSERT_EQ(OpenProjectPath(opened, ui, saved.file_path), 1);
  EXPECT_EQ(opened.local_origin, (std::array<double, 3>{512000.5, 4982000.25, 100}));
}

// The project file of version `version`, written field by field in the documented order.
std::string HandBuiltProject(int version, const CCameraPassport* passport) {
  vantri::project::ArchiveWriter out;
  out.WriteInt(version);
  for (const char* name : {"UTM", "World Geodetic System 1984", "32 N", "Meters"})
    out.WriteText(name);
  if (version > 204) {
    out.WriteText("");
    out.WriteInt(0);
  }
  if (version > 202) {
    for (int copy = 0; copy < 2; ++copy) {
      out.WriteInt(passport->TypeCode());
      std::ostringstream form;
      passport->Serialize(form);
      out.WriteRaw(form.str().data(), form.str().size());
    }
    out.WriteInt(0);
  }
  if (version > 203) out.WriteText("camera.bcc");
  out.WriteInt(2);
  for (int i = 0; i < 2; ++i) {
    out.WriteText("C:\\flight\\img" + std::to_string(i) + ".tif");
    for (int k = 0; k < 10; ++k) out.WriteDouble(k < 6 ? 10.0 * i + k : 0.5);
    if (version > 200) out.WriteInt(i);
    if (version > 201) {
      out.WriteInt(0);
      for (int k = 0; k < 6; ++k) out.WriteDouble(0.0);
    }
  }
  if (version > 205) {
    out.WriteInt(1);
    out.WriteText("dem.tif");
  }
  return out.bytes();
}

TEST_F(ProjectFiles, OlderBinaryVersionsReadTheFieldsTheyHave) {
  const CBCCCameraPassport passport = MakePassport();
  BCCtoCCB(passport, folder + "camera.ccb");  // used by the versions without a passport
  for (int version = 200; version <= 206; ++version) {
    WriteInputFile(folder + "old.bun", HandBuiltProject(version, &passport));
    CVantriProject p;
    ASSERT_EQ(OpenProjectPath(p, ui, folder + "old.bun"), 1) << version << " " << ui.LastText();
    EXPECT_EQ(p.format_version, version);
    EXPECT_EQ(p.coordinate_system.projection, vantri::crs::kProjectionUtm);
    EXPECT_EQ(p.coordinate_system.fuse, 32);
    EXPECT_EQ(p.coordinate_system.datum.code, 6326);
    ASSERT_EQ(p.ImageCount(), 2);
    EXPECT_EQ(p.Image(1)->Name(), "img1");
    EXPECT_EQ(p.Image(1)->kappa, 15.0);
    EXPECT_EQ(p.Image(1)->var_k, 0.5);
    EXPECT_EQ(p.Image(0)->enabled, version > 200 ? 0 : 1);
    ASSERT_NE(p.passport, nullptr) << version;
    EXPECT_EQ(p.passport->model, "UltraCam");
    EXPECT_EQ(p.passport_file_name, version > 203 ? "camera.bcc" : "UltraCam");
    EXPECT_EQ(p.use_external_dem, version > 205 ? 1 : 0);
    EXPECT_EQ(p.external_dem_path, version > 205 ? "dem.tif" : "");
    if (version <= 202) {
      EXPECT_EQ(p.undistortion_flag, 1);  // computed as in New
    }
  }
}

TEST_F(ProjectFiles, OldBinaryWithoutCcbPassportIsRefused) {
  WriteInputFile(folder + "old.bun", HandBuiltProject(202, nullptr));
  CVantriProject p;
  EXPECT_EQ(OpenProjectPath(p, ui, folder + "old.bun"), 0);
  EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Unable to find camera passport!",
                                                  "Unable to open project!"}));
  WriteInputFile(folder + "broken.ccb", "not a passport");
  ui.shown.clear();
  EXPECT_EQ(OpenProjectPath(p, ui, folder + "old.bun"), 0);
  EXPECT_EQ(ui.Texts(), (std::vector<std::string>{"Unable to read camera passport!",
                                                  "Unable to open project!"}));
  EXPECT_TRUE(p.folder.empty());
}

TEST_F(ProjectFiles, TruncatedOrCorruptFilesAreRefusedWithoutHarm) {
  CVantriProject saved;
  FillProject(saved);
  const std::string good = WriteBinaryProject(saved, kProjectFormatVersion);
  const std::string path = folder + "bad.bun";
  for (size_t cut = 0; cut < good.size(); ++cut) {
    WriteInputFile(path, good.substr(0, cut));
    CVantriProject p;
    ui.shown.clear();
    ASSERT_EQ(OpenProjectPath(p, ui, path), 0) << "cut at " << cut;
    EXPECT_EQ(ui.LastText(), "Unable to open project!");
    EXPECT_TRUE(p.folder.empty());
    EXPECT_EQ(p.ImageCount(), 0);
  }
  std::mt19937 random(11);
  for (int trial = 0; trial < 300; ++trial) {
    std::string bytes = good;
    for (int flips = 0; flips < 4; ++flips)
      bytes[random() % bytes.size()] = static_cast<char>(random());
    CVantriProject p;
    ReadBinaryProject(p, bytes, ui);  // any result, but no crash and no runaway allocation
    std::string noise(random() % 200, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    ReadBinaryProject(p, noise, ui);
  }
  for (int version : {0, 199, 207, -1}) {
    std::string bytes = good;
    bytes.replace(0, 4, std::string(reinterpret_cast<const char*>(&version), 4));
    CVantriProject p;
    EXPECT_EQ(ReadBinaryProject(p, bytes, ui), 0) << version;
  }
}

TEST_F(ProjectFiles, MissingProjectLeavesTheOpenProjectAlone) {
  CVantriProject p;
  FillProject(p);
  EXPECT_EQ(OpenProjectPath(p, ui, folder + "nothing.bun"), 0);
  EXPECT_EQ(ui.LastText(), "Unable to find project!");
  EXPECT_EQ(p.ImageCount(), 2);
}

TEST_F(ProjectFiles, FailedSaveKeepsThePreviousFile) {
  CVantriProject p;
  FillProject(p);
  ASSERT_EQ(SaveProject(p), 1);
  std::string before;
  ASSERT_TRUE(vantri::system::ReadWholeFile(p.file_path, before));
  EXPECT_EQ(SaveProjectFile(p, folder + "no/such/folder/job.bun", 206), 0);
  EXPECT_EQ(SaveProjectFile(p, "", 206), 0);
  fs::create_directory(folder + "blocked.bun");
  WriteInputFile(folder + "blocked.bun/keep", "x");
  EXPECT_EQ(SaveProjectFile(p, folder + "blocked.bun", 206), 0);
  std::string after;
  ASSERT_TRUE(vantri::system::ReadWholeFile(p.file_path, after));
  EXPECT_EQ(before, after);
  for (const auto& entry : fs::directory_iterator(folder))
    EXPECT_EQ(entry.path().string().find(".bun."), std::string::npos) << "temporary file left";
}

TEST_F(ProjectFiles, TextProjectsOfEveryVersion) {
  const std::string paths = "image count = 2\n\nimages file path\nC:\\a\\one.tif\r\n/b/two.jpg\n";
  const std::string crs =
      "\ncoordinate system\nprojection = UTM\ndatum = World Geodetic System 1984\nfuse = 33 S\n"
      "units = Meters\n";
  struct Case {
    int version;
    std::string body;
  };
  const Case cases[] = {
      {100, paths + "\nimages GPS/IMU data\n1 2 3 4 5 6\n7 8 9 10 11 12\n"},
      {101, paths + "\nimages GPS/IMU data\n1 2 3 4 5 6\n7 8 9 10 11 12\n\nlevel\n1\n2\n"},
      {102, paths + "\nimages GPS/IMU data\n1 2 3 4 5 6\n7 8 9 10 11 12\n\nlevel\n1\n2\n" + crs},
      {103, paths + "\nimages GPS/IMU data\n1 2 3 4 5 6 1\n7 8 9 10 11 12 0\n" + crs},
      {104,
       paths + "\nimages GPS/IMU data\n1 2 3 4 5 6 .1 .2 .3 .4\n7 8 9 10 11 12 0 0 0 0\n" + crs},
  };
  for (const Case& c : cases) {
    WriteInputFile(folder + "old.aba", "version = " + std::to_string(c.version) + "\n\n" + c.body);
    CVantriProject p;
    p.folder = folder;
    ASSERT_EQ(LoadProjectFile(p, folder + "old.aba", ui), 1) << c.version;
    ASSERT_EQ(p.ImageCount(), 2);
    EXPECT_EQ(p.Image(0)->Name(), "one");
    EXPECT_EQ(p.Image(1)->Path(), "/b/two.jpg");
    EXPECT_EQ(p.Image(1)->kappa, 12.0);
    const bool levels = c.version == 101 || c.version == 102;
    EXPECT_EQ(p.Image(1)->level, levels ? 2 : 0);
    const double first_var = c.version == 104   ? 0.1
                             : c.version == 103 ? 0.0
                                                : photogrammetry::kUndefinedVariance;
    EXPECT_EQ(p.Image(0)->var_xy, first_var) << c.version;
    EXPECT_EQ(p.Image(1)->var_z, c.version == 104 ? 0.0 : photogrammetry::kUndefinedVariance)
        << c.version;
    EXPECT_EQ(p.coordinate_system.fuse, c.version > 101 ? -33 : 0);
  }
}

TEST_F(ProjectFiles, TextProjectWrittenAndReadAgain) {
  CVantriProject saved;
  FillProject(saved);
  saved.Image(0)->var_xy = saved.Image(0)->var_z = 0;
  saved.Image(0)->var_op = saved.Image(0)->var_k = 0;
  saved.coordinate_system.Reset();
  saved.coordinate_system.SetFromNames("UTM", "World Geodetic System 1984", "32 N", "Meters");
  for (int version : {103, 104}) {
    ASSERT_EQ(SaveProjectFile(saved, folder + "copy.aba", version), 1);
    CVantriProject read;
    read.folder = folder;
    ASSERT_EQ(LoadProjectFile(read, folder + "copy.aba", ui), 1);
    ASSERT_EQ(read.ImageCount(), 2);
    EXPECT_EQ(read.Image(0)->Path(), saved.Image(0)->Path());
    EXPECT_EQ(read.Image(0)->x, saved.Image(0)->x);
    EXPECT_EQ(read.Image(0)->var_k, 0.0);
    EXPECT_EQ(read.Image(1)->var_k, photogrammetry::kUndefinedVariance);
    EXPECT_EQ(read.coordinate_system.fuse, 32);
  }
}

TEST_F(ProjectFiles, ProjectOpenedFromTextIsSavedAsBinaryBesideIt) {
  const std::string text =
      "version = 100\n\nimage count = 1\n\nimages file path\na.tif\n\nimages GPS/IMU data\n"
      "1 2 3 4 5 6\n";
  WriteInputFile(folder + "old.aba", text);
  BCCtoCCB(MakePassport(), folder + "camera.ccb");
  CVantriProject p;
  ASSERT_EQ(OpenProjectPath(p, ui, folder + "old.aba"), 1);
  EXPECT_EQ(p.file_path, folder + "old.bun");
  ASSERT_NE(p.passport, nullptr);
  EXPECT_EQ(p.passport_file_name, "UltraCam");
  ASSERT_EQ(SaveProject(p), 1);
  std::string still;
  ASSERT_TRUE(vantri::system::ReadWholeFile(folder + "old.aba", still));
  EXPECT_EQ(still, text);
  CVantriProject again;
  ASSERT_EQ(OpenProjectPath(again, ui, folder + "old.bun"), 1);
  EXPECT_EQ(again.Image(0)->kappa, 6.0);
}

TEST_F(ProjectFiles, MalformedTextProjectsAreRefused) {
  for (const std::string text :
       {"", "versio = 104\n", "version = 104\n\nimage count = 5\n\nimages file path\na.tif\n",
        "version = 104\n\nimage count = 1\n\nimages file path\na.tif\n\nimages GPS/IMU data\n1 "
        "2\n"}) {
    WriteInputFile(folder + "bad.aba", text);
    CVantriProject p;
    EXPECT_EQ(LoadProjectFile(p, folder + "bad.aba", ui), 0) << text;
  }
}

// ---- New project, information messages, passport editor ---------------------------------------

struct NewProjectFlow : ProjectFiles {
  NewProjectChoice Choice(const CBCCCameraPassport& passport) {
    const std::string path = root + "/Camera.BCC";
    EXPECT_EQ(passport.Save(path), 1);
    NewProjectChoice c;
    c.parent_folder = root;
    c.name = "survey";
    c.passport_path = path;
    c.passport = passport.Clone();
    return c;
  }
};

TEST_F(NewProjectFlow, CreatesFolderPassportCopyAndProjectFile) {
  CVantriProject p;
  bool window_shown = false;
  ASSERT_EQ(NewProject(p, ui, Choice(MakePassport()),
                       [&](CVantriProject& project) {
                         window_shown = true;
                         project.coordinate_system.SetUserEpsg(3004);
                       }),
            1);
  EXPECT_TRUE(window_shown);
  EXPECT_EQ(p.folder, root + "/survey/");
  EXPECT_TRUE(fs::exists(root + "/survey/Camera.BCC"));
  EXPECT_EQ(p.passport_file_name, "camera.bcc");
  EXPECT_EQ(p.undistortion_flag, 1);

  CVantriProject opened;
  ASSERT_EQ(OpenProjectPath(opened, ui, root + "/survey/survey.bun"), 1);
  EXPECT_EQ(opened.coordinate_system.user_epsg, 3004);  // saved again after the window

  EXPECT_EQ(NewProject(p, ui, Choice(MakePassport())), 0);
  EXPECT_EQ(ui.LastText(), "Unable to create '" + root +
                               "/survey/' folder!\nDirectory already exists or no privilege to "
                               "write it.");
}

TEST_F(NewProjectFlow, WindowRemembersTheFolderAndLabelsTheProject) {
  EXPECT_EQ(NewProjectStartFolder(), fs::current_path().string());
  RememberNewProjectFolder(root);
  EXPECT_EQ(NewProjectStartFolder(), root);
  EXPECT_FALSE(NewProjectOkEnabled(""));
  CVantriProject p;
  EXPECT_EQ(ProjectPathLabel(p), "Create a new project or open an existing one...");
  ASSERT_EQ(NewProject(p, ui, Choice(MakePassport())), 1);
  EXPECT_EQ(ProjectPathLabel(p), root + "/survey/survey");
}

TEST_F(NewProjectFlow, OpenDialogAndSettingsCommand) {
  CVantriProject created;
  ASSERT_EQ(NewProject(created, ui, Choice(MakePassport())), 1);
  CVantriProject p;
  ui.file_answers = {std::nullopt, created.file_path};
  EXPECT_EQ(OpenProject(p, ui), 0);  // cancelled
  EXPECT_TRUE(p.folder.empty());
  ASSERT_EQ(OpenProject(p, ui), 1);
  EXPECT_EQ(p.file_path, created.file_path);

  // Cancelled window: nothing written. OK: saved and loaded again into the typed values.
  EXPECT_EQ(RunSettingsCommand(p, ui, [](CVantriSettings&) { return false; }), 0);
  EXPECT_FALSE(fs::exists(SettingsPath(p)));
  EXPECT_EQ(RunSettingsCommand(p, ui,
                               [](CVantriSettings& s) {
                                 s.SetValue(vantri::project::settings_names::kGcpsWeight, "3.5");
                                 return true;
                               }),
            1);
  EXPECT_EQ(p.settings.typed.gcps_weight, 3.5);
  CVantriProject again;
  ASSERT_EQ(OpenProjectPath(again, ui, p.file_path), 1);
  EXPECT_EQ(again.settings.typed.gcps_weight, 3.5);
}

TEST_F(NewProjectFlow, LargeRastersKeepTheirDistortion) {
  CVantriProject p;
  ASSERT_EQ(NewProject(p, ui, Choice(MakePassport(8000, 8000))), 1);  // 61 megapixels
  EXPECT_EQ(p.undistortion_flag, 0);
  EXPECT_TRUE(p.working_passport->HasLensDistortion());
}

TEST_F(NewProjectFlow, InfoMessages) {
  CVantriProject p;
  ASSERT_EQ(NewProject(p, ui, Choice(MakePassport())), 1);
  EXPECT_NE(ProjectInfoText(p).find("Total area: 0.000 km^2"), std::string::npos);
  p.AppendImage("/a/1.tif");
  p.AppendImage("/a/2.tif").enabled = 0;
  // Two 1000 m squares overlapping by half: 1.5 km^2 of union.
  p.footprints = {{{0, 0}, {1000, 0}, {1000, 1000}, {0, 1000}},
                  {{500, 0}, {1500, 0}, {1500, 1000}, {500, 1000}}};
  p.used_tie_points = 120;
  EXPECT_DOUBLE_EQ(FootprintUnionArea(p), 1.5e6);
  EXPECT_EQ(ProjectInfoText(p),
            "Number of images: 2\n\nNumber of disabled images: 1\n\nTotal area: 1.500 km^2\n\n"
            "Number of used Tie Points: 120\n\nNumber of used GCPs: 0\n\nNumber of used Check "
            "Points: 0");
  EXPECT_EQ(CameraInfoText(p),
            "Camera Serial:SN-42\nModel Name:UltraCam\nLens Serial:L-7\nLens Nominal C:100\n"
            "Calibration Date:12-03-2019\nFocal Length (mm):100.500\nPixel Size: 0.004600000000\n"
            "Dim. Image (WxH): 6000 x 4000\nPPPix: (2999.500, 2001.250)\n");
  ShowCameraInfo(p, ui);
  EXPECT_EQ(ui.shown.back().icon, vantri::MessageIcon::kInformation);
}

TEST(PassportEditor, ChecksInOrder) {
  vantri::ScriptedUi ui;
  PassportEditorValues v;
  v.model = "M";
  v.camera_serial = "S";
  v.lens_serial = "L";
  v.calibration_date = "01-01-2020";
  v.focal_mm = "50";
  v.pixel_mm = "0.0045";
  v.width = "6000";
  v.height = "4000";
  v.ppx = "6000";
  v.ppy = "1999.5";
  CBCCCameraPassport out;
  EXPECT_EQ(CheckPassportEditor(ui, v, out), 1);
  EXPECT_EQ(out.ppy, 1999.5);
  EXPECT_EQ(PassportEditorFileName(out), "M-S-L-01-01-2020");

  auto messageWith = [&](auto change) {
    PassportEditorValues w = v;
    change(w);
    ui.shown.clear();
    EXPECT_EQ(CheckPassportEditor(ui, w, out), 0);
    return ui.LastText();
  };
  EXPECT_EQ(messageWith([](auto& w) { w.pixel_mm = "1.5"; }), "Invalid pixel size value!");
  EXPECT_EQ(messageWith([](auto& w) { w.focal_mm = "x", w.pixel_mm = "0"; }),
            "Invalid focal length!");
  EXPECT_EQ(messageWith([](auto& w) { w.lens_serial = ""; }).substr(0, 12), "Please check");
  EXPECT_EQ(messageWith([](auto& w) { w.height = "0"; }), "Invalid camera raster size!");
  EXPECT_EQ(messageWith([](auto& w) { w.ppx = "6000.5"; }), "Invalid Principal Point coordinates!");
  EXPECT_EQ(messageWith([](auto& w) { w.ppy = "-1"; }), "Invalid Principal Point coordinates!");
}

}  // namespace
}  // namespace vantri::project
