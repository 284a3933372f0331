#include "photogrammetry/photolib.h"

#include <gdal_priv.h>
#include <gtest/gtest.h>
#include <vtkDoubleArray.h>
#include <vtkFieldData.h>
#include <vtkNew.h>
#include <vtkPointData.h>
#include <vtkPolyData.h>
#include <vtkUnsignedCharArray.h>
#include <vtkXMLPolyDataReader.h>

#include <cstdio>
#include <memory>

#include "testing/temp_folder.h"

namespace {

using Eigen::Vector2d;
using Eigen::Vector3d;
using vantri::test_support::TempFolder;

CPgon Square(double x, double y, double side) {
  return CPgon({{x, y}, {x + side, y}, {x + side, y + side}, {x, y + side}});
}

TEST(CPgon, UnionAreaOfOverlappingSquaresIsExact) {
  const CPgon united = Square(0, 0, 2) | Square(1, 1, 2);
  EXPECT_EQ(united.GetArea(), 7.0);
  EXPECT_EQ(united.PartCount(), 1);
  // Footprints at UTM coordinates: 1 km squares overlapping by a quarter.
  CPgon block;
  block |= Square(500000, 4980000, 1000);
  block |= Square(500500, 4980500, 1000);
  EXPECT_EQ(block.GetArea(), 1750000.0);
}

TEST(CPgon, DisjointEmptyAndSelfIntersectingPolygons) {
  const CPgon apart = Square(0, 0, 1) | Square(5, 5, 1);
  EXPECT_EQ(apart.GetArea(), 2.0);
  EXPECT_EQ(apart.PartCount(), 2);
  const CPgon empty;
  EXPECT_EQ(empty.GetArea(), 0.0);
  EXPECT_EQ((empty | Square(0, 0, 3)).GetArea(), 9.0);
  EXPECT_TRUE(CPgon(std::vector<Vector2d>{{0, 0}, {1, 1}}).IsEmpty());
  // A bow tie is repaired rather than failing the union.
  const CPgon bow_tie({{0, 0}, {2, 2}, {2, 0}, {0, 2}});
  EXPECT_GT((bow_tie | Square(10, 10, 1)).GetArea(), 1.0);
}

// A 3-band 16-bit raster in memory: band b holds value (col + 10 * row) * (b + 1).
GDALDataset* MakeRaster(int width, int height) {
  GDALAllRegister();
  GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("MEM");
  GDALDataset* dataset = driver->Create("", width, height, 3, GDT_UInt16, nullptr);
  for (int band = 1; band <= 3; ++band) {
    std::vector<std::uint16_t> values(static_cast<std::size_t>(width * height));
    for (int row = 0; row < height; ++row)
      for (int col = 0; col < width; ++col) values[row * width + col] = (col + 10 * row) * band;
    EXPECT_EQ(dataset->GetRasterBand(band)->RasterIO(GF_Write, 0, 0, width, height, values.data(),
                                                     width, height, GDT_UInt16, 0, 0, nullptr),
              CE_None);
  }
  return dataset;
}

TEST(GDALExtractROI, CopiesRegionsIntoBgrBytesAndResamples) {
  std::unique_ptr<GDALDataset, void (*)(GDALDataset*)> raster(MakeRaster(10, 8),
                                                              [](GDALDataset* d) { GDALClose(d); });
  cv::Mat region;
  ASSERT_EQ(
      GDALExtractROI(raster.get(), &region, cv::Rect(2, 1, 4, 3), vantri::photogrammetry::kRoiClip),
      1);
  ASSERT_EQ(region.type(), CV_8UC3);
  ASSERT_EQ(region.size(), cv::Size(4, 3));
  const cv::Vec3b pixel = region.at<cv::Vec3b>(1, 2);  // raster col 4, row 2: value 24 * band
  EXPECT_EQ(pixel[2], 24);                             // red = band 1
  EXPECT_EQ(pixel[1], 48);
  EXPECT_EQ(pixel[0], 72);  // blue = band 3

  // Stretched: each band's range (band 1: 0..79) maps to 0..255.
  cv::Mat stretched;
  ASSERT_EQ(GDALExtractROI(raster.get(), &stretched, cv::Rect(0, 0, 10, 8),
                           vantri::photogrammetry::kRoiStretchMinMax),
            1);
  EXPECT_EQ(stretched.at<cv::Vec3b>(7, 9)[2], 255);
  EXPECT_EQ(stretched.at<cv::Vec3b>(0, 0)[2], 0);

  // A preset one-channel buffer of half size receives the reduced band 1.
  cv::Mat reduced(4, 5, CV_8UC1, cv::Scalar(0));
  ASSERT_EQ(GDALExtractROI(raster.get(), &reduced, cv::Rect(0, 0, 10, 8),
                           vantri::photogrammetry::kRoiClip),
            1);
  EXPECT_EQ(reduced.size(), cv::Size(5, 4));
  EXPECT_EQ(reduced.type(), CV_8UC1);
  EXPECT_NEAR(reduced.at<std::uint8_t>(0, 0), 5.5, 0.51);  // mean of 0, 1, 10, 11

  cv::Mat untouched;
  EXPECT_EQ(GDALExtractROI(raster.get(), &untouched, cv::Rect(8, 6, 4, 4)), 0);  // leaves raster
  EXPECT_EQ(GDALExtractROI(raster.get(), &untouched, cv::Rect(0, 0, 0, 4)), 0);
  EXPECT_EQ(GDALExtractROI("/no/such/raster.tif", &untouched, cv::Rect(0, 0, 1, 1)), 0);
  EXPECT_TRUE(untouched.empty());
}

// A raster whose header claims 65536 x 65536 pixels: reading it whole once overflowed the int
// pixel count before allocating; it is refused before any allocation.
TEST(GDALExtractROI, RefusesRegionsBeyondTheReadCap) {
  GDALAllRegister();
  const std::string path = testing::TempDir() + "photolib_test_huge.tif";
  char sparse[] = "SPARSE_OK=TRUE";
  char* options[] = {sparse, nullptr};
  GDALDataset* created = GetGDALDriverManager()->GetDriverByName("GTiff")->Create(
      path.c_str(), 65536, 65536, 1, GDT_Byte, options);
  ASSERT_NE(created, nullptr);
  GDALClose(created);
  cv::Mat image;
  EXPECT_EQ(GDALExtractROI(path, &image, cv::Rect(0, 0, 65536, 65536)), 0);
  EXPECT_TRUE(image.empty());
  EXPECT_EQ(GDALExtractROI(path, &image, cv::Rect(0, 0, 64, 64)), 1);
  std::remove(path.c_str());
}

TEST(WriteVtpPolyData, KeepsDoublePrecisionColoursAndTheLocalOrigin) {
  TempFolder folder;
  const Vector3d origin(512000.0, 4987000.0, 0.0);
  const std::vector<Vector3d> points = {{345.123456789, 654.987654321, 101.25},
                                        {-12.000001, 3.5, 99.0}};
  const std::vector<std::array<std::uint8_t, 3>> colours = {{{255, 0, 10}}, {{1, 2, 3}}};
  ASSERT_EQ(WriteVtpPolyData(points, folder / "cloud.vtp", origin, &colours), 1);

  vtkNew<vtkXMLPolyDataReader> reader;
  reader->SetFileName((folder / "cloud.vtp").c_str());
  reader->Update();
  vtkPolyData* read = reader->GetOutput();
  ASSERT_EQ(read->GetNumberOfPoints(), 2);
  EXPECT_EQ(read->GetNumberOfVerts(), 2);
  double xyz[3];
  read->GetPoint(0, xyz);
  EXPECT_EQ(xyz[0], points[0].x());
  EXPECT_EQ(xyz[1], points[0].y());
  auto* rgb = vtkUnsignedCharArray::SafeDownCast(read->GetPointData()->GetArray("RGB"));
  ASSERT_NE(rgb, nullptr);
  EXPECT_EQ(rgb->GetNumberOfComponents(), 3);
  EXPECT_EQ(rgb->GetTuple3(0)[2], 10.0);
  auto* stored = vtkDoubleArray::SafeDownCast(read->GetFieldData()->GetArray("LocalOrigin"));
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->GetTuple3(0)[1], origin.y());

  EXPECT_EQ(WriteVtpPolyData(points, folder / "plain.vtp", origin), 1);
  const std::vector<std::array<std::uint8_t, 3>> one_colour = {{{1, 1, 1}}};
  EXPECT_EQ(WriteVtpPolyData(points, folder / "mismatch.vtp", origin, &one_colour), 0);
  EXPECT_EQ(WriteVtpPolyData(points, folder / "missing/cloud.vtp", origin), 0);
}

TEST(GroundStep, PositiveToleranceScaledByThePointSpacing) {
  std::vector<Vector3d> grid;
  for (int i = 0; i < 10; ++i)
    for (int j = 0; j < 10; ++j) grid.emplace_back(500000 + 10.0 * i, 4980000 + 10.0 * j, 50);
  EXPECT_NEAR(vantri::photogrammetry::MeanGroundSpacing(grid), 9.0, 1e-9);  // sqrt(90 * 90 / 100)
  const double tolerance = compute_ground_step(grid);
  EXPECT_GT(tolerance, 0.0);
  // Points closer than 1 % of the spacing merge: tolerance * diagonal = 0.09 m.
  EXPECT_NEAR(tolerance * std::hypot(90.0, 90.0), 0.09, 1e-9);
  EXPECT_GT(compute_ground_step({}), 0.0);
  EXPECT_GT(compute_ground_step({{1, 1, 1}, {1, 1, 1}}), 0.0);
}

TEST(StringToDbl, ConvertsWholeNumbersOnly) {
  double value = 0.0;
  EXPECT_NE(StringToDbl("45.5", &value), 0);
  EXPECT_EQ(value, 45.5);
  EXPECT_EQ(StringToDbl("45,5", &value), 0);
  EXPECT_EQ(value, 45.5);
}

}  // namespace
