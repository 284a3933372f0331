#include "points/measure_command.h"

#include <gdal.h>
#include <gtest/gtest.h>

#include <sstream>

#include "points/test_project.h"

namespace vantri::points {
namespace {

class MeasureCommandTest : public test_support::ProjectTest {
 protected:
  void SetUp() override {
    ProjectTest::SetUp();
    for (const char* name : {"101", "102"}) AddVerticalImage(name, 0, 0);
    for (const char* name : {"G1", "G2"}) {
      CGCPCollEx point;
      point.id = NextPointId(project_.gcps);
      point.name = name;
      project_.gcps.emplace(name, point);
    }
  }
  MeasureReport Store(const std::string& content, const MeasureFormat& format = {}) {
    MeasureReport report;
    EXPECT_TRUE(StoreMeasurementsFromFile(project_, PointKind::kGcp,
                                          WriteFile("measures.txt", content), format,
                                          rasters_.Opener(), &report));
    return report;
  }
};

TEST_F(MeasureCommandTest, StoresCentredMeasurementsAndListsWhatItSkips) {
  const MeasureReport report = Store(
      "# point ID,image ID,col,row,x,y\r\n"
      "G1,101,2010,1480,0,0\r\n"
      "g1,C:\\flight\\102.TIF,0,2999.5\r\n"
      "G2,101,100,100\r\n"
      "\r\n"
      "G9,101,100,100\r\n"
      "G2,109,100,100\r\n"
      "G2,102,4000,100\r\n"
      "G2,102,1O0,100\r\n"
      "G2,102\r\n"
      "G2,101,200,300\r\n");
  EXPECT_EQ(report.stored, 4);
  EXPECT_EQ(report.points, 2);
  EXPECT_EQ(report.skipped, (std::vector<std::string>{
                                "line 6: unknown point 'G9'", "line 7: unknown image '109'",
                                "line 8: position outside image '102'",
                                "line 9: invalid pixel position", "line 10: too few fields"}));
  const CGCPCollEx& g1 = project_.gcps.at("G1");
  EXPECT_EQ(g1.measurements, (std::vector<CSIFTColl>{{0, 10, 20}, {1, -2000, -1499.5}}));
  EXPECT_TRUE(g1.use);
  // Measured again in the same image: the later line replaces the position.
  const CGCPCollEx& g2 = project_.gcps.at("G2");
  EXPECT_EQ(g2.measurements, (std::vector<CSIFTColl>{{0, -1800, 1200}}));
  EXPECT_FALSE(g2.use);
}

TEST_F(MeasureCommandTest, ColumnsAndSeparatorsAreConfigurable) {
  MeasureFormat format;
  EXPECT_EQ(ParseMeasureColumns("row,skip,COL,image,point", &format), "");
  EXPECT_EQ(format.row, 0);
  EXPECT_EQ(format.point, 4);
  format.separators = ";";
  const MeasureReport report = Store("1480;x;2010;101;G1\n", format);
  EXPECT_EQ(report.stored, 1);
  EXPECT_EQ(project_.gcps.at("G1").measurements, (std::vector<CSIFTColl>{{0, 10, 20}}));

  MeasureFormat other;
  EXPECT_NE(ParseMeasureColumns("point,image,col", &other), "");
  EXPECT_NE(ParseMeasureColumns("point,image,col,row,row", &other), "");
  EXPECT_NE(ParseMeasureColumns("point,image,x,y", &other), "");
}

TEST_F(MeasureCommandTest, UnopenableImageIsSkipped) {
  project_.AppendImage(folder_ + "/103.tif");  // no raster
  const MeasureReport report = Store("G1,103,10,10\nG1,103,20,20\n");
  EXPECT_EQ(report.stored, 0);
  EXPECT_EQ(report.skipped.size(), 2u);
  EXPECT_EQ(report.skipped[0], "line 1: unable to open image '103'");
}

TEST_F(MeasureCommandTest, FoldersAndDevicesAreRefusedWithoutThrowing) {
  for (const std::string& path : {folder_, std::string("/dev/zero")}) {
    MeasureReport report;
    bool stored = true;
    EXPECT_NO_THROW(stored = StoreMeasurementsFromFile(project_, PointKind::kGcp, path, {},
                                                       rasters_.Opener(), &report))
        << path;
    EXPECT_FALSE(stored) << path;
  }
}

// The command on a saved project with real (tiny) rasters.
TEST_F(MeasureCommandTest, CommandWritesTheCollectionFile) {
  GDALAllRegister();
  for (int i = 0; i < project_.ImageCount(); ++i) {
    GDALDatasetH raster =
        GDALCreate(GDALGetDriverByName("GTiff"), project_.Image(i)->Path().c_str(), 40, 30, 1,
                   GDT_Byte, nullptr);
    ASSERT_NE(raster, nullptr);
    GDALClose(raster);
  }
  ASSERT_EQ(project::SaveProjectFile(project_, project_.file_path, project::kProjectFormatVersion),
            1);
  ASSERT_EQ(WritePTCollFile(project_.folder + "GCP.col", project_.gcps), 1);
  const std::string file = WriteFile("gcp_image.txt", "G1,101,20,15\nG1,102,0.5,0.5\nX,101,1,1\n");

  std::ostringstream out, err;
  EXPECT_TRUE(MeasureIntoProjectFile(project_.file_path, PointKind::kGcp, file,
                                     ProfileMeasureFormat(), ui_, out, err));
  EXPECT_EQ(out.str(), "2 measurements of 1 points stored in GCP.col\n");
  EXPECT_EQ(err.str(), "line 3: unknown point 'X'\n");
  CGCPCollMap saved;
  ASSERT_EQ(ReadPTCollFile(project_.folder + "GCP.col", &saved), 1);
  EXPECT_EQ(saved.at("G1").measurements, (std::vector<CSIFTColl>{{0, 0, 0}, {1, -19.5, 14.5}}));
  EXPECT_TRUE(saved.at("G1").use);

  std::ostringstream out2, err2;
  EXPECT_FALSE(MeasureIntoProjectFile(project_.file_path, PointKind::kCheckPoint, file,
                                      ProfileMeasureFormat(), ui_, out2, err2));
  EXPECT_NE(err2.str().find("No measurement stored"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(project_.folder + "CP.col"));
}

}  // namespace
}  // namespace vantri::points
