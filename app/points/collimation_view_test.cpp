#include "points/collimation_view.h"

#include <gtest/gtest.h>

#include "points/collimation_session.h"
#include "testing/rasters.h"
#include "testing/temp_folder.h"

namespace vantri::points {
namespace {

CollimationViewport View(int width, int height, Eigen::Vector2d centre, double zoom) {
  CollimationViewport view;
  view.SetScreenSize(width, height);
  view.CentreOn(centre);
  view.SetZoom(zoom);
  return view;
}

TEST(CollimationViewport, ScreenAndImageConvertBothWaysAtAnyZoomAndPanMovesWithTheMouse) {
  CollimationViewport view = View(800, 600, {2010, 1480}, 4.0);
  EXPECT_EQ(view.ImageToScreen({2010, 1480}), Eigen::Vector2d(400, 300));
  EXPECT_EQ(view.ScreenToImage({404, 296}), Eigen::Vector2d(2011, 1479));
  for (double zoom : {0.1, 1.0, 3.0}) {
    view.SetZoom(zoom);
    const Eigen::Vector2d pixel(123.25, 456.5);
    EXPECT_NEAR((view.ScreenToImage(view.ImageToScreen(pixel)) - pixel).norm(), 0.0, 1e-9);
  }
  view.SetZoom(2.0);
  const Eigen::Vector2d grabbed = view.ScreenToImage({100, 100});
  view.Pan(30, -20);
  EXPECT_NEAR((view.ImageToScreen(grabbed) - Eigen::Vector2d(130, 80)).norm(), 0.0, 1e-9);
  // A keypad step is one screen pixel.
  EXPECT_DOUBLE_EQ(view.ImagePixelsPerScreenPixel(), 0.5);
}

TEST(CollimationViewport, ZoomIsClampedAndFittingNeverEnlarges) {
  CollimationViewport view = View(800, 600, {0, 0}, 1.0);
  for (int i = 0; i < 20; ++i) view.ZoomIn();
  EXPECT_EQ(view.Zoom(), CollimationViewport::kMaxZoom);
  for (int i = 0; i < 40; ++i) view.ZoomOut();
  EXPECT_EQ(view.Zoom(), CollimationViewport::kMinZoom);
  view.SetZoom(0.0);  // ignored
  EXPECT_EQ(view.Zoom(), CollimationViewport::kMinZoom);
  EXPECT_DOUBLE_EQ(view.FitZoom(4000, 3000), 0.2);
  EXPECT_DOUBLE_EQ(view.FitZoom(200, 100), 1.0);
}

TEST(CollimationViewport, OnlyTheVisiblePartOfTheRasterIsRead) {
  // 1:2 zoom-in around a corner of a 4000 x 3000 image: the region is clipped at the border,
  // read at full resolution and drawn where the image starts on the screen.
  CollimationViewport view = View(800, 600, {10, 20}, 2.0);
  ViewRegion region = view.VisibleRegion(4000, 3000);
  EXPECT_EQ(region.col, 0);
  EXPECT_EQ(region.row, 0);
  EXPECT_EQ(region.width, 210);   // up to 10 + 400 / 2
  EXPECT_EQ(region.height, 170);  // up to 20 + 300 / 2
  EXPECT_EQ(region.buffer_width, 210);
  EXPECT_DOUBLE_EQ(region.screen_x, 380.0);
  EXPECT_DOUBLE_EQ(region.screen_y, 260.0);
  EXPECT_DOUBLE_EQ(region.screen_width, 420.0);

  // Zoomed out: a reduced buffer of the region's screen size, never the whole raster.
  view = View(800, 600, {2000, 1500}, 0.25);
  region = view.VisibleRegion(40000, 30000);
  EXPECT_EQ(region.width, 3200);
  EXPECT_EQ(region.buffer_width, 800);
  EXPECT_EQ(region.buffer_height, 600);

  view.CentreOn({-5000, -5000});
  EXPECT_TRUE(view.VisibleRegion(4000, 3000).IsEmpty());
}

TEST(SessionRaster, ReadsRegionsOfGreyAndColourRastersAndRefusesRegionsOutside) {
  test_support::TempFolder folder;
  test_support::RasterSpec raster;
  raster.width = 40;
  raster.height = 30;
  raster.type = GDT_Byte;
  raster.geo_transform.reset();
  const auto value = [](int col, int row) { return col + 4.0 * row; };
  const std::string grey = folder / "grey.tif";
  ASSERT_TRUE(test_support::WriteRaster(grey, raster, value));
  raster.bands = 3;
  const std::string colour = folder / "colour.tif";
  ASSERT_TRUE(test_support::WriteRaster(colour, raster, value));

  for (const std::string& path : {grey, colour}) {
    const auto raster = OpenGdalRaster(path);
    ASSERT_NE(raster, nullptr);
    std::vector<uint8_t> rgb;
    ASSERT_TRUE(raster->ReadRegion(5, 6, 4, 3, 4, 3, &rgb));
    ASSERT_EQ(rgb.size(), 36u);
    EXPECT_EQ(rgb[0], 5 + 4 * 6);
    EXPECT_EQ(rgb[1], 5 + 4 * 6);
    EXPECT_EQ(rgb[2], 5 + 4 * 6);
    EXPECT_EQ(rgb[3 * (2 * 4 + 3)], 8 + 4 * 8);  // last pixel of the last row
    // Halved: the mean of each 2 x 2 block.
    ASSERT_TRUE(raster->ReadRegion(0, 0, 4, 2, 2, 1, &rgb));
    EXPECT_NEAR(rgb[0], (0 + 1 + 4 + 5) / 4.0, 1.0);
    EXPECT_FALSE(raster->ReadRegion(38, 0, 4, 2, 4, 2, &rgb));
    EXPECT_FALSE(raster->ReadRegion(-1, 0, 4, 2, 4, 2, &rgb));
    EXPECT_FALSE(raster->ReadRegion(0, 0, 0, 2, 4, 2, &rgb));
  }
}

}  // namespace
}  // namespace vantri::points
