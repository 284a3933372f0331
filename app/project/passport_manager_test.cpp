#include "project/passport_manager.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "system/nvtools.h"
#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"
#include "ui_interface/ui.h"

namespace fs = std::filesystem;
using vantri::ScriptedUi;

namespace vantri::project {
namespace {

CBCCCameraPassport SamplePassport() {
  CBCCCameraPassport p;
  p.model = "DMC";
  p.camera_serial = "S1";
  p.lens_serial = "L1";
  p.calibration_date = "01-02-2021";
  p.focal_mm = 120;
  p.pixel_mm = 0.012;
  p.width = 7680;
  p.height = 13824;
  p.ppx = 3840;
  p.ppy = 6912.5;
  p.metric = {2e-5, -3e-9, 4e-13, 1e-6, -2e-6};
  return p;
}

PassportEditorValues EditorValues() {
  PassportEditorValues v;
  v.model = "Cam";
  v.camera_serial = "C7";
  v.lens_serial = "L9";
  v.calibration_date = "03-04-2025";
  v.focal_mm = "35";
  v.pixel_mm = "0.0045";
  v.width = "6000";
  v.height = "4000";
  v.ppx = "6000";  // on the raster border: still inside 0 .. width
  v.ppy = "2000";
  return v;
}

const PassportTableRow& Row(const std::vector<PassportTableRow>& rows, const std::string& label) {
  for (const PassportTableRow& r : rows)
    if (r.label == label) return r;
  static const PassportTableRow missing{"missing", "", ""};
  return missing;
}

double AsNumber(const std::string& text) { return std::strtod(text.c_str(), nullptr); }

struct PassportManagerTest : testing::Test {
  void SetUp() override {
    root = temp.path();
    setenv("VANTRI_HOME", root.c_str(), 1);
    archive = vantri::system::PassportArchiveFolder();
  }
  vantri::test_support::TempFolder temp;
  std::string root;
  std::string archive;
  ScriptedUi ui;
};

TEST_F(PassportManagerTest, ArchiveListsCcbCvcBccRdrInThatOrder) {
  const CBCCCameraPassport p = SamplePassport();
  ASSERT_NE(p.Save(archive + "/b.bcc"), 0);
  ASSERT_NE(p.Save(archive + "/a.BCC"), 0);
  ASSERT_NE(BCCtoCCB(p, archive + "/z.ccb"), 0);
  CRDRCameraPassport rdr;
  rdr.focal_mm = 1;
  ASSERT_NE(rdr.Save(archive + "/c.rdr"), 0);
  std::ofstream(archive + "/notes.txt") << "x";
  fs::create_directory(archive + "/folder.bcc");
  PassportManager manager(ui, archive);
  EXPECT_EQ(manager.EntryNames(), (std::vector<std::string>{"z.ccb", "a.BCC", "b.bcc", "c.rdr"}));
  EXPECT_EQ(manager.SelectedIndex(), -1);
}

TEST_F(PassportManagerTest, TableShowsBothConventionsConsistently) {
  const CBCCCameraPassport bcc = SamplePassport();
  const std::vector<PassportTableRow> rows = PassportParameterRows(&bcc);
  EXPECT_NEAR(AsNumber(Row(rows, "Focal Length").value), 10000, 1e-6);
  EXPECT_NEAR(AsNumber(Row(rows, "Focal Length").other), 120, 1e-9);
  // normalised = metric * (f / 1000)^n with f = 120 mm.
  const double f = 0.12;
  EXPECT_NEAR(AsNumber(Row(rows, "K1").value), 2e-5 * std::pow(f, 2), 1e-18);
  EXPECT_NEAR(AsNumber(Row(rows, "K2").value) / (-3e-9 * std::pow(f, 4)), 1, 1e-9);
  EXPECT_NEAR(AsNumber(Row(rows, "K3").value) / (4e-13 * std::pow(f, 6)), 1, 1e-9);
  EXPECT_NEAR(AsNumber(Row(rows, "P2").value) / (-2e-6 * std::pow(f, 2)), 1, 1e-9);
  EXPECT_EQ(AsNumber(Row(rows, "K1").other), 2e-5);
  EXPECT_NEAR(AsNumber(Row(rows, "Principal Point Coordinates Y").other), 6912.5 * 0.012, 1e-9);
  EXPECT_EQ(Row(rows, "Radial Distortion Formula, dr =").value, "(K1*r^3)+(K2*r^5)+(K3*r^7)");

  // A cvc passport with the same normalised values shows the same table.
  CCVCCameraPassport cvc;
  static_cast<CCameraPassport&>(cvc) = static_cast<const CCameraPassport&>(bcc);
  cvc.SetNormalisedCoefficients(bcc.NormalisedCoefficients());
  const std::vector<PassportTableRow> cvc_rows = PassportParameterRows(&cvc);
  for (const char* k : {"K1", "K2", "K3", "P1", "P2"}) {
    EXPECT_NEAR(AsNumber(Row(cvc_rows, k).value) / AsNumber(Row(rows, k).value), 1, 1e-9) << k;
    EXPECT_NEAR(AsNumber(Row(cvc_rows, k).other) / AsNumber(Row(rows, k).other), 1, 1e-9) << k;
  }
  CRDRCameraPassport rdr;
  static_cast<CCameraPassport&>(rdr) = static_cast<const CCameraPassport&>(bcc);
  EXPECT_EQ(Row(PassportParameterRows(&rdr), "K1").value, "0");
  EXPECT_EQ(Row(PassportParameterRows(nullptr), "Camera Model").value, "<new camera passport>");
}

TEST_F(PassportManagerTest, FormulaChecks) {
  const CBCCCameraPassport p = SamplePassport();
  EXPECT_EQ(CheckDistortionFormulas(DefaultDistortionFormulas(), &p), "");
  DistortionFormulas formulas = DefaultDistortionFormulas();
  formulas.radial = "";
  EXPECT_EQ(CheckDistortionFormulas(formulas, &p), "Please insert a formula into the related row");
  formulas.radial = "(K1*r^3)+(K3*r^7)";
  EXPECT_EQ(CheckDistortionFormulas(formulas, &p), "Formula doesn't contain K2");
  formulas.radial = "K1*x+K2+K3";
  EXPECT_EQ(CheckDistortionFormulas(formulas, &p), "Formula doesn't contain r (radius)");
  formulas = DefaultDistortionFormulas();
  formulas.tangential_y = "P2*x*y";
  EXPECT_EQ(CheckDistortionFormulas(formulas, &p), "Formula doesn't contain P1");
  EXPECT_EQ(CheckDistortionFormulas(DefaultDistortionFormulas(), nullptr), "K1 not defined!");
}

TEST_F(PassportManagerTest, DistortionCurveFollowsTheRadialPolynomial) {
  CBCCCameraPassport p = SamplePassport();
  const DistortionFormulas formulas = DefaultDistortionFormulas();
  const auto radial = DistortionCurve(formulas, p, DistortionCurveKind::kRadial, 11);
  ASSERT_EQ(radial.size(), 11u);
  EXPECT_EQ(radial.front()[1], 0.0);
  EXPECT_NEAR(radial.back()[0], std::hypot(7680, 13824) / 2, 1e-9);
  // dr in pixels = F * (k1 r^3 + k2 r^5 + k3 r^7) with r = pixels / F and normalised k.
  const photogrammetry::DistortionCoefficients n = p.NormalisedCoefficients();
  const double F = p.FocalPixels();
  for (const auto& [r_pixels, dr] : radial) {
    const double r = r_pixels / F;
    EXPECT_NEAR(dr, F * (n.k1 * std::pow(r, 3) + n.k2 * std::pow(r, 5) + n.k3 * std::pow(r, 7)),
                1e-9);
  }
  EXPECT_EQ(DistortionCurve(formulas, p, DistortionCurveKind::kTangential, 5).size(), 5u);
  DistortionFormulas broken = formulas;
  broken.tangential_x = "P1*x";
  EXPECT_TRUE(DistortionCurve(broken, p, DistortionCurveKind::kRadial).empty());

  ASSERT_NE(p.Save(archive + "/a.bcc"), 0);
  PassportManager manager(ui, archive);
  manager.SetSelectedIndex(0);
  EXPECT_TRUE(manager.CheckFormulas(formulas));
  EXPECT_FALSE(manager.CheckFormulas(broken));
  ASSERT_FALSE(ui.shown.empty());
  EXPECT_EQ(ui.shown.back().text, "Formula doesn't contain P2");
  EXPECT_EQ(ui.shown.back().caption, "Parser Initialize Error");
}

TEST_F(PassportManagerTest, EditorRefusesAndSavesUnderItsName) {
  std::string saved;
  PassportEditorValues bad = EditorValues();
  bad.pixel_mm = "1.5";
  EXPECT_EQ(PassportEditorOk(ui, bad, archive, &saved), EditorOutcome::kStayOpen);
  EXPECT_EQ(ui.LastText(), "Invalid pixel size value!");
  EXPECT_TRUE(saved.empty());
  bad = EditorValues();
  bad.ppy = "4001";
  EXPECT_EQ(PassportEditorOk(ui, bad, archive, &saved), EditorOutcome::kStayOpen);
  EXPECT_EQ(ui.LastText(), "Invalid Principal Point coordinates!");

  ASSERT_EQ(PassportEditorOk(ui, EditorValues(), archive, &saved), EditorOutcome::kClosed);
  EXPECT_EQ(saved, archive + "/Cam-C7-L9-03-04-2025.bcc");
  EXPECT_TRUE(fs::exists(saved));
  // Same name again, overwrite refused: the editor stays open and nothing is handed back.
  ui.yes_no_answers = {false};
  EXPECT_EQ(PassportEditorOk(ui, EditorValues(), archive, &saved), EditorOutcome::kStayOpen);
  EXPECT_TRUE(saved.empty());

  // A save that fails asks to retry: Yes keeps the editor open, No closes it without a path.
  const std::string blocked = root + "/blocked";
  std::ofstream(blocked) << "a file where the archive folder should be";
  ui.yes_no_answers = {true, false};
  EXPECT_EQ(PassportEditorOk(ui, EditorValues(), blocked + "/sub", &saved),
            EditorOutcome::kStayOpen);
  EXPECT_EQ(ui.LastText(), "Unable to save the passport. Retry?");
  EXPECT_EQ(PassportEditorOk(ui, EditorValues(), blocked + "/sub", &saved), EditorOutcome::kClosed);
  EXPECT_TRUE(saved.empty());
}

TEST_F(PassportManagerTest, CreateKeepsOnlyTheCcbForm) {
  PassportManager manager(ui, archive);
  EXPECT_EQ(manager.Create([](const std::string&) { return std::string(); }), 0);
  ASSERT_EQ(manager.Create([this](const std::string& folder) {
    std::string saved;
    PassportEditorOk(ui, EditorValues(), folder, &saved);
    return saved;
  }),
            1);
  EXPECT_EQ(manager.EntryNames(), (std::vector<std::string>{"Cam-C7-L9-03-04-2025.ccb"}));
  manager.SetSelectedIndex(0);
  const std::unique_ptr<CCameraPassport> read = manager.SelectedPassport();
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->lens_serial, "L9");
  EXPECT_EQ(read->width, 6000);
}

TEST_F(PassportManagerTest, ImportAsksBeforeOverwritingAndRefusesUnreadableFiles) {
  const std::string outside = root + "/cam.bcc";
  ASSERT_NE(SamplePassport().Save(outside), 0);
  PassportManager manager(ui, archive);
  EXPECT_EQ(manager.Import(root + "/missing.ccb"), 0);
  EXPECT_EQ(ui.LastText(), "Unable to open camera passport");
  std::ofstream(root + "/junk.bcc") << "not a passport";
  EXPECT_EQ(manager.Import(root + "/junk.bcc"), 0);

  ASSERT_EQ(manager.Import(outside), 1);
  EXPECT_EQ(manager.EntryNames(), (std::vector<std::string>{"cam.bcc"}));
  ui.yes_no_answers = {false};
  EXPECT_EQ(manager.Import(outside), 0);
  EXPECT_EQ(ui.LastText(),
            "Camera passport already present into database.\nDo you want to overwrite it?");
  ui.yes_no_answers = {true};
  EXPECT_EQ(manager.Import(outside), 1);
}

TEST_F(PassportManagerTest, SelectionIsRememberedAndValidated) {
  ASSERT_NE(SamplePassport().Save(archive + "/a.bcc"), 0);
  std::ofstream(archive + "/b.bcc") << "broken";
  {
    PassportManager manager(ui, archive);
    EXPECT_EQ(manager.Select(), 0);
    EXPECT_EQ(ui.LastText(), "Select a camera passport");
    manager.SetSelectedIndex(1);
    EXPECT_EQ(manager.Select(), 0);
    EXPECT_EQ(ui.LastText(), "Invalid camera passport!");
    manager.SetSelectedIndex(0);
    ASSERT_EQ(manager.Select(), 1);
    EXPECT_EQ(manager.ChosenPath(), archive + "/a.bcc");
    const std::unique_ptr<CCameraPassport> chosen = manager.TakeChosenPassport();
    ASSERT_NE(chosen, nullptr);
    EXPECT_TRUE(chosen->SameAs(SamplePassport()));
  }
  EXPECT_EQ(PassportManager(ui, archive).SelectedIndex(), 0);
  // A stored index outside the list selects nothing.
  NVT_WriteUserProfileString("Passport", "LastSelectedPassportIndex", "5");
  EXPECT_EQ(PassportManager(ui, archive).SelectedIndex(), -1);
}

}  // namespace
}  // namespace vantri::project
