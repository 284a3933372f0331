#include "point_import.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "project/aba_image.h"
#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"
#include "ui_interface/ui.h"

namespace vantri::import {
namespace {

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Row = std::vector<std::string>;

class PointImportTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = temp_.path();
    setenv("VANTRI_HOME", folder_.c_str(), 1);
  }

  std::string WriteInputFile(const std::string& name, const std::string& content) {
    const std::string path = folder_ + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  static std::string ReadOutputFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  bool Logged(const std::string& text) const {
    for (const auto& line : ui_.log_lines)
      if (line.find(text) != std::string::npos) return true;
    return false;
  }

  test_support::TempFolder temp_;
  std::string folder_;
  ScriptedUi ui_;
};

TEST_F(PointImportTest, ReadsRowsSkippingCommentAndEmptyLines) {
  const std::string path = WriteInputFile("gcp.txt",
                                          "# id x y z\r\n"
                                          "+ also a comment\r\n"
                                          "\r\n"
                                          "P1 100.5 200.25 30\r\n"
                                          "P#2,101,201,31,\r\n"
                                          "p3, 7\r\n");
  PointImportModel model(ImportMode::kGcp, ui_);
  ASSERT_TRUE(model.OpenFile(path));
  EXPECT_EQ(model.parsed_rows(), (std::vector<Row>{{"P1", "100.5", "200.25", "30"},
                                                   {"P#2", "101", "201", "31", ""},
                                                   {"p3", "", "7"}}));
  EXPECT_EQ(model.parsed_column_count(), 5);
  // Target grid of mode 1: ID X Y Z Var XY Var Z from source columns 0..5, lower case.
  EXPECT_EQ(model.target_rows()[0], (Row{"p1", "100.5", "200.25", "30", "", ""}));
  EXPECT_EQ(model.target_rows()[1], (Row{"p#2", "101", "201", "31", "", ""}));
}

TEST_F(PointImportTest, UnreadableFileEmptiesTheGrids) {
  PointImportModel model(ImportMode::kCheckPoints, ui_);
  ASSERT_TRUE(model.OpenFile(WriteInputFile("a.txt", "a 1 2 3\n")));
  EXPECT_FALSE(model.OpenFile(WriteInputFile("empty.txt", "")));
  EXPECT_TRUE(model.parsed_rows().empty());
  EXPECT_TRUE(model.target_rows().empty());
  ASSERT_EQ(ui_.shown.size(), 1u);
  EXPECT_EQ(ui_.shown[0].text, "Unable to open the selected file!");
  EXPECT_EQ(ui_.shown[0].icon, MessageIcon::kExclamation);
}

TEST_F(PointImportTest, EditedSeparatorsAndCommentsPersistAndRereadTheFile) {
  const std::string path = WriteInputFile("pts.txt", "!skip\na;1;2;3\nb 4 5 6\n");
  {
    PointImportModel model(ImportMode::kCheckPoints, ui_);
    EXPECT_EQ(model.comments(), "#%@+");
    EXPECT_EQ(model.separators(), ", ;");
    ASSERT_TRUE(model.OpenFile(path));
    EXPECT_EQ(model.target_rows().size(), 3u);
    model.SetComments("!");
    model.SetSeparators(";");
    EXPECT_EQ(model.target_rows(),
              (std::vector<Row>{{"a", "1", "2", "3"}, {"b 4 5 6", "", "", ""}}));
    model.SetSeparators("12345678;");
    EXPECT_EQ(model.separators(), "1234567") << "room is kept for the TAB";
    model.SetSeparators(";");
  }
  PointImportModel next(ImportMode::kCheckPoints, ui_);
  EXPECT_EQ(next.comments(), "!");
  EXPECT_EQ(next.separators(), ";");
}

TEST_F(PointImportTest, AssignmentMenuAndReset) {
  PointImportModel model(ImportMode::kGcp, ui_);
  ASSERT_TRUE(model.OpenFile(WriteInputFile("p.txt", "1,2,3,id1,0.5,0.7\n")));
  EXPECT_THAT(model.AssignmentMenu(),
              ElementsAre("-> ID", "", "-> X", "-> Y", "-> Z", "-> Var XY", "-> Var Z"));
  EXPECT_TRUE(model.ChooseAssignment(3, "-> ID"));
  EXPECT_TRUE(model.ChooseAssignment(0, "-> X"));
  EXPECT_TRUE(model.ChooseAssignment(5, "-> Var XY"));
  EXPECT_FALSE(model.ChooseAssignment(1, "-> Omega")) << "no such target in mode 1";
  EXPECT_EQ(model.target_rows()[0], (Row{"id1", "1", "3", "id1", "0.7", "0.7"}));
  model.ResetAssignments();
  EXPECT_EQ(model.target_rows()[0], (Row{"1", "2", "3", "id1", "0.7", "0.7"}));

  PointImportModel gps(ImportMode::kGpsImu, ui_);
  EXPECT_EQ(gps.AssignmentMenu().size(), 14u);
  EXPECT_EQ(PointImportModel(ImportMode::kCheckPoints, ui_).AssignmentMenu().size(), 5u);
}

TEST_F(PointImportTest, ColumnMenusDependOnModeAndColumn) {
  PointImportModel gps(ImportMode::kGpsImu, ui_);
  EXPECT_THAT(gps.ColumnMenu(gps.TargetColumn("ID")), ElementsAre(kAssignProgressiveId));
  EXPECT_THAT(gps.ColumnMenu(gps.TargetColumn("Z")), ElementsAre(kChangeSign));
  EXPECT_THAT(gps.ColumnMenu(gps.TargetColumn("Kappa")),
              ElementsAre(kDegToRad, kGradToRad, "", kResetContent));
  EXPECT_THAT(gps.ColumnMenu(gps.TargetColumn("Var K")), ElementsAre(kSetValueToAll, kClearAll));
  PointImportModel gcp(ImportMode::kGcp, ui_);
  EXPECT_THAT(gcp.ColumnMenu(gcp.TargetColumn("Var Z")), ElementsAre(kSetValueToAll, kClearAll));
  EXPECT_FALSE(gcp.RunColumnCommand(0, kDegToRad));
}

TEST_F(PointImportTest, ColumnOperations) {
  PointImportModel model(ImportMode::kGpsImu, ui_);
  ASSERT_TRUE(model.OpenFile(WriteInputFile("g.txt",
                                            "a 10 20 -5 180 200 x\n"
                                            "b 11 x 0 90 100 45\n")));
  const int x = model.TargetColumn("X"), y = model.TargetColumn("Y"), z = model.TargetColumn("Z");
  const int omega = model.TargetColumn("Omega"), phi = model.TargetColumn("Phi");
  const int kappa = model.TargetColumn("Kappa");

  ASSERT_TRUE(model.RunColumnCommand(0, kAssignProgressiveId));
  EXPECT_EQ(model.Cell(0, 0), "ptc_000");
  EXPECT_EQ(model.Cell(1, 0), "ptc_001");

  ASSERT_TRUE(model.RunColumnCommand(x, kChangeSign));
  ASSERT_TRUE(model.RunColumnCommand(y, kChangeSign));
  ASSERT_TRUE(model.RunColumnCommand(z, kChangeSign));
  EXPECT_EQ(model.Cell(0, x), "-10.000");
  EXPECT_EQ(model.Cell(1, y), "x") << "a cell that is not a number is not invented";
  EXPECT_EQ(model.Cell(0, z), "5.000");
  EXPECT_EQ(model.Cell(1, z), "0.000");

  ASSERT_TRUE(model.RunColumnCommand(omega, kDegToRad));
  ASSERT_TRUE(model.RunColumnCommand(phi, kGradToRad));
  EXPECT_EQ(model.Cell(0, omega), "3.141593");
  EXPECT_EQ(model.Cell(1, omega), "1.570796");
  EXPECT_EQ(model.Cell(0, phi), "3.141593");
  EXPECT_EQ(model.Cell(1, phi), "1.570796");
  ASSERT_TRUE(model.RunColumnCommand(kappa, kDegToRad));
  EXPECT_EQ(model.Cell(0, kappa), "x");
  ASSERT_TRUE(model.RunColumnCommand(kappa, kResetContent));
  EXPECT_EQ(model.Cell(1, kappa), "");
}

TEST_F(PointImportTest, SetValueToAllAsksUntilTheValueIsValid) {
  PointImportModel model(ImportMode::kGpsImu, ui_);
  ASSERT_TRUE(model.OpenFile(WriteInputFile("g.txt", "a 1 2 3 0 0 0\nb 1 2 3 0 0 0\n")));
  const int var_op = model.TargetColumn("Var OP");
  ui_.value_answers = {"abc", "-1", "3.2", "0.01"};
  ASSERT_TRUE(model.RunColumnCommand(var_op, kSetValueToAll));
  EXPECT_EQ(model.Cell(0, var_op), "0.01");
  EXPECT_EQ(model.Cell(1, var_op), "0.01");
  EXPECT_THAT(ui_.Texts(), ElementsAre("Invalid value!", "Invalid value!",
                                       "Angular variance must be lower than 180 deg!"));
  ASSERT_FALSE(ui_.shown.empty());
  EXPECT_EQ(ui_.shown[0].text, "Type new Var OP (\"-\" for undef value)");

  const int var_xy = model.TargetColumn("Var XY");
  ui_.value_answers = {"3.2"};
  ASSERT_TRUE(model.RunColumnCommand(var_xy, kSetValueToAll)) << "no angular limit on Var XY";
  EXPECT_EQ(model.Cell(0, var_xy), "3.2");
  ui_.value_answers = {""};
  ASSERT_TRUE(model.RunColumnCommand(var_xy, kSetValueToAll));
  EXPECT_EQ(model.Cell(1, var_xy), "-");
  ui_.value_answers = {std::nullopt};
  EXPECT_FALSE(model.RunColumnCommand(var_xy, kSetValueToAll));
  EXPECT_EQ(model.Cell(1, var_xy), "-") << "cancel changes nothing";
  ASSERT_TRUE(model.RunColumnCommand(var_xy, kClearAll));
  EXPECT_EQ(model.Cell(0, var_xy), "");
}

TEST_F(PointImportTest, GcpImportNumbersEmptyIdsAcrossImports) {
  PointImportModel model(ImportMode::kGcp, ui_);
  ASSERT_TRUE(model.OpenFile(WriteInputFile("gcp.txt",
                                            ",500,600,10,-,0.5\n"
                                            "bad,x,1,2\n"
                                            "G7,400,700,11,-2,abc\n"
                                            ",450,650,12\n")));
  std::vector<SFIO_ControlPoint> records;
  double min_x = 0, min_y = 0;
  EXPECT_FALSE(model.ImportControlPoints(&records, &min_x, &min_y));
  EXPECT_EQ(ui_.LastText(), "Make a selection");

  model.SelectAll();
  ASSERT_TRUE(model.ImportControlPoints(&records, &min_x, &min_y));
  ASSERT_EQ(records.size(), 3u);
  EXPECT_STREQ(records[0].id, "ptc_000");
  EXPECT_STREQ(records[1].id, "g7");
  EXPECT_STREQ(records[2].id, "ptc_001");
  EXPECT_EQ(records[0].var_xy, 0.0);
  EXPECT_EQ(records[0].var_z, 0.5);
  EXPECT_EQ(records[1].var_xy, 0.0) << "negative variance";
  EXPECT_EQ(records[1].var_z, 0.0) << "not a number";
  EXPECT_EQ(records[2].x, 450.0);
  EXPECT_EQ(records[2].valid, 1);
  EXPECT_EQ(records[2].dimension, 3);
  EXPECT_EQ(min_x, 400.0);
  EXPECT_EQ(min_y, 600.0);
  EXPECT_TRUE(Logged("Point bad skipped"));

  // The file read again has empty IDs once more: the counter goes on.
  model.SetComments("#");
  model.SelectAll();
  ASSERT_TRUE(model.ImportControlPoints(&records, &min_x, &min_y));
  EXPECT_STREQ(records[0].id, "ptc_002");
  EXPECT_STREQ(records[2].id, "ptc_003");
  EXPECT_EQ(model.id_counter(), 4);
}

TEST_F(PointImportTest, NoValidControlPointKeepsTheWindowOpen) {
  PointImportModel gcp(ImportMode::kGcp, ui_);
  ASSERT_TRUE(gcp.OpenFile(WriteInputFile("bad.txt", "a,x,y,z\n")));
  gcp.SelectAll();
  std::vector<SFIO_ControlPoint> records;
  double min_x, min_y;
  EXPECT_FALSE(gcp.ImportControlPoints(&records, &min_x, &min_y));
  EXPECT_TRUE(Logged("No valid data or already imported control points"));
}

TEST_F(PointImportTest, GpsImuRowsWithBadNumbersAreSkipped) {
  PointImportModel model(ImportMode::kGpsImu, ui_);
  ASSERT_TRUE(model.OpenFile(
      WriteInputFile("gps.txt",
                     "C:\\Flight\\IMG_0001.TIF,1000,2000,300,0.01,0.02,1.5,0.5,-,4,-1\n"
                     "/data/img_0002.jpg,1010,2000,301,0.01,0.02,x,0.5,0.6,0.1,0.2\n"
                     "img_0003,1020,,302,0,0,0\n"
                     "img_0004,1030,2001,303,0,0,0,-2,,,\n")));
  model.SelectAll();
  GpsImuRecords records;
  ASSERT_TRUE(model.ReadGpsImuRecords(&records));
  ASSERT_EQ(records.positions.size(), 2u);
  EXPECT_STREQ(records.positions[0].id, "c:\\flight\\img_0001.tif");
  EXPECT_EQ(records.attitudes[0].z, 1.5);
  EXPECT_EQ(records.variances[0][0], 0.5);
  EXPECT_EQ(records.variances[0][1], photogrammetry::kUndefinedVariance);
  EXPECT_EQ(records.variances[0][2], photogrammetry::kUndefinedVariance) << "above pi";
  EXPECT_EQ(records.variances[0][3], photogrammetry::kUndefinedVariance) << "negative";
  EXPECT_EQ(records.variances[1][0], photogrammetry::kUndefinedVariance);
  EXPECT_TRUE(Logged("GPS/IMU row /data/img_0002.jpg skipped"));
  EXPECT_TRUE(Logged("GPS/IMU row img_0003 skipped"));

  // Full-path IDs in other letter case match by file title.
  const auto match = MatchRowsToImages(records.positions, {"img_0004", "IMG_0001", "img_0002"});
  EXPECT_THAT(match, ElementsAre(1, 0, -1));
}

// Positions of +-1e308 once imported and turned the footprints into "Total area: nan"; such rows
// are refused with their ID and row number, the plausible ones are kept.
TEST_F(PointImportTest, AbsurdCoordinatesAreRefusedWithTheRowNamed) {
  PointImportModel gps(ImportMode::kGpsImu, ui_);
  ASSERT_TRUE(gps.OpenFile(WriteInputFile("gps.txt",
                                          "img_1,1e308,2000,300,0,0,0\n"
                                          "img_2,1000,-1e308,300,0,0,0\n"
                                          "img_3,1000,2000,2e9,0,0,0\n"
                                          "img_4,1000,2000,1e999,0,0,0\n"
                                          "img_5,-1e9,2000,300,0,0,0\n")));
  gps.SelectAll();
  GpsImuRecords records;
  ASSERT_TRUE(gps.ReadGpsImuRecords(&records));
  ASSERT_EQ(records.positions.size(), 1u);
  EXPECT_STREQ(records.positions[0].id, "img_5");
  EXPECT_TRUE(Logged("GPS/IMU row img_1 (row 1) refused: position out of range"));
  EXPECT_TRUE(Logged("GPS/IMU row img_3 (row 3) refused"));
  EXPECT_TRUE(Logged("GPS/IMU row img_4 skipped")) << "1e999 is no finite number";

  PointImportModel gcp(ImportMode::kGcp, ui_);
  ASSERT_TRUE(gcp.OpenFile(WriteInputFile("gcp.txt", "g1,1,2,3\ng2,1,2,-1e300\n")));
  gcp.SelectAll();
  std::vector<SFIO_ControlPoint> points;
  double min_x, min_y;
  ASSERT_TRUE(gcp.ImportControlPoints(&points, &min_x, &min_y));
  ASSERT_EQ(points.size(), 1u);
  EXPECT_TRUE(Logged("Point g2 (row 2) refused: X, Y or Z is out of range"));
}

TEST(FileTitleTest, StripsFoldersOfBothSystemsAndTheExtension) {
  EXPECT_EQ(project::FileTitle("C:\\a\\b\\IMG_1.TIF"), "IMG_1");
  EXPECT_EQ(project::FileTitle("/x/y/img.2.jpg"), "img.2");
  EXPECT_EQ(project::FileTitle("plain"), "plain");
  EXPECT_EQ(project::FileTitle("dir.d/noext"), "noext");
}

TEST_F(PointImportTest, LocalOriginIsSetOnce) {
  const std::string off = folder_ + "/block.off";
  std::array<double, 3> origin{0.0, 0.0, 0.0};
  EXPECT_EQ(SetLocalOriginOnce(&origin, 500000.25, 4980000.5, off), OriginUpdate::kSet);
  EXPECT_EQ(origin, (std::array<double, 3>{500000.25, 4980000.5, 0.0}));
  EXPECT_EQ(ReadOutputFile(off),
            "500000.25000000000000000000 4980000.50000000000000000000 0.00000000000000000000");
  EXPECT_EQ(SetLocalOriginOnce(&origin, 1.0, 2.0, off), OriginUpdate::kKept);
  EXPECT_EQ(origin[0], 500000.25);
  EXPECT_THAT(ReadOutputFile(off), HasSubstr("500000.25"));

  std::array<double, 3> unset{0.0, 0.0, 0.0};
  EXPECT_EQ(SetLocalOriginOnce(&unset, 1.0, 2.0, folder_ + "/missing/dir/x.off"),
            OriginUpdate::kWriteFailed);
  EXPECT_EQ(unset[0], 0.0);
}

TEST_F(PointImportTest, SaveAsWritesSelectedRowsWithTheOutputSeparator) {
  PointImportModel model(ImportMode::kCheckPoints, ui_);
  ASSERT_TRUE(model.OpenFile(WriteInputFile("cp.txt", "A 1 2 3\nB 4 5 6\nC 7 8 9\n")));
  EXPECT_FALSE(model.SaveAs());
  EXPECT_EQ(ui_.LastText(), "Make a selection");
  model.SelectRow(0, true);
  model.SelectRow(2, true);
  model.SetOutputSeparator(";x");
  EXPECT_EQ(model.output_separator(), ';');
  const std::string out = folder_ + "/out.txt";
  ui_.file_answers = {out};
  ASSERT_TRUE(model.SaveAs());
  EXPECT_EQ(ReadOutputFile(out), "a;1;2;3\nc;7;8;9\n");
  model.SetOutputSeparator("");
  EXPECT_EQ(model.output_separator(), ',');
}

// Converts by a fixed offset; refuses longitudes above 50.
class FakeConversion : public CoordinateConversion {
 public:
  bool Run(double lat, double lon) override {
    mean_lat = lat;
    mean_lon = lon;
    return accept;
  }
  bool Transform(double* x, double* y) override {
    if (*x > 50.0) return false;
    *x += 1000.0;
    *y += 2000.0;
    return true;
  }
  bool accept = true;
  double mean_lat = 0, mean_lon = 0;
};

TEST_F(PointImportTest, CoordinateConversionOfSelectedRows) {
  PointImportModel model(ImportMode::kCheckPoints, ui_);
  ASSERT_TRUE(
      model.OpenFile(WriteInputFile("ll.txt", "a 9 45 1\nb 11 47 2\nc x 46 3\nd 60 40 4\n")));
  FakeConversion conversion;
  model.SelectRow(2, true);
  EXPECT_FALSE(model.ConvertCoordinates(conversion));
  EXPECT_EQ(ui_.LastText(), "No valid points found!");

  model.SelectAll();
  conversion.accept = false;
  EXPECT_FALSE(model.ConvertCoordinates(conversion));
  EXPECT_EQ(model.Cell(0, 1), "9") << "cancel changes nothing";

  conversion.accept = true;
  ASSERT_TRUE(model.ConvertCoordinates(conversion));
  EXPECT_DOUBLE_EQ(conversion.mean_lon, (9.0 + 11.0 + 60.0) / 3.0);
  EXPECT_DOUBLE_EQ(conversion.mean_lat, (45.0 + 47.0 + 40.0) / 3.0);
  EXPECT_EQ(model.Cell(0, 1), "1009.000000");
  EXPECT_EQ(model.Cell(1, 2), "2047.000000");
  EXPECT_EQ(model.Cell(2, 1), "x");
  EXPECT_EQ(model.Cell(3, 1), "60") << "a failed transformation leaves the row";
}

}  // namespace
}  // namespace vantri::import
