#include "render.h"

#include <gdal_priv.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "raster_outputs.h"
#include "survey.h"
#include "test_folder.h"

namespace blockgen {
namespace {

BlockOptions tiny_options() {
  BlockOptions o;
  o.strips = 2;
  o.images_per_strip = 3;
  o.camera.width = 320;
  o.camera.height = 240;
  o.camera.pp_col = 160;
  o.camera.pp_row = 120;
  o.tie_points = 40;
  o.control_points = 3;
  o.check_points = 1;
  o.forward_overlap = 0.7;
  o.side_overlap = 0.4;
  o.threads = 2;
  return o;
}

class RenderTest : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    survey_ = new Survey(plan_survey(tiny_options()));
    for (size_t i = 0; i < survey_->images.size(); ++i)
      images_.push_back(render_image(*survey_, i, 2));
  }
  static void TearDownTestSuite() {
    delete survey_;
    images_.clear();
  }
  static Survey* survey_;
  static std::vector<Image8> images_;
};

Survey* RenderTest::survey_ = nullptr;
std::vector<Image8> RenderTest::images_;

// Intensity-weighted centroid of the bright disc of a survey target around a guess.
Pixel target_centroid(const Image8& image, Pixel guess, double radius) {
  double sum = 0, sc = 0, sr = 0;
  const int c0 = static_cast<int>(guess.col - radius), c1 = static_cast<int>(guess.col + radius);
  const int r0 = static_cast<int>(guess.row - radius), r1 = static_cast<int>(guess.row + radius);
  for (int r = r0; r <= r1; ++r)
    for (int c = c0; c <= c1; ++c) {
      const double w = std::max(0.0, image.at(c, r) - 60.0);
      sum += w;
      sc += w * (c + 0.5);
      sr += w * (r + 0.5);
    }
  return {sc / sum, sr / sum};
}

TEST_F(RenderTest, SurveyTargetsAppearAtTheirProjections) {
  int checked = 0;
  const double radius = 4.6;  // pixels: the disc (3 px) and its blended edge, not the square
  for (const Observation& ob : survey_->observations) {
    if (survey_->points[ob.point].kind == PointKind::kTie) continue;
    const Pixel c = target_centroid(images_[ob.image], ob.truth, radius);
    EXPECT_NEAR(c.col, ob.truth.col, 0.15) << survey_->points[ob.point].id;
    EXPECT_NEAR(c.row, ob.truth.row, 0.15) << survey_->points[ob.point].id;
    ++checked;
  }
  EXPECT_GE(checked, 8);
}

TEST_F(RenderTest, PixelsShowTheTextureOfTheGroundPointProjectedIntoThem) {
  // Sampled at the projection of a ground point, the image shows gain * texture + offset of
  // that point; two pixels off, it does not.
  std::vector<double> at_projection, shifted;
  for (const Observation& ob : survey_->observations) {
    const GroundPoint& point = survey_->points[ob.point];
    if (point.kind != PointKind::kTie) continue;
    const ImageRecord& im = survey_->images[ob.image];
    const double expected =
        im.gain * survey_->texture->value(point.truth.x(), point.truth.y()) + im.offset;
    const Image8& image = images_[ob.image];
    at_projection.push_back(std::abs(image.sample(ob.truth.col, ob.truth.row) - expected));
    shifted.push_back(std::abs(image.sample(ob.truth.col + 2, ob.truth.row - 2) - expected));
  }
  ASSERT_GE(at_projection.size(), 40u);
  auto median = [](std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
    return v[v.size() / 2];
  };
  EXPECT_LT(median(at_projection), 4.0);
  EXPECT_GT(median(shifted), 2.0 * median(at_projection));
}

TEST_F(RenderTest, RayCastingRetracesTheProjectionWithDistortion) {
  BlockOptions o = tiny_options();
  o.camera.distortion = {1.5e-3, -2e-6, 0, 2e-5, -1e-5};
  o.camera.pp_col = 163.2;
  o.camera.pp_row = 117.4;
  const Survey distorted = plan_survey(o);
  int checked = 0;
  for (const Observation& ob : distorted.observations) {
    const GroundPoint& p = distorted.points[ob.point];
    const std::optional<Eigen::Vector3d> seen =
        ground_seen(distorted, ob.image, ob.truth, distorted.terrain->mean_height());
    ASSERT_TRUE(seen.has_value());
    EXPECT_LT((*seen - p.truth).norm(), 2e-3) << p.id;
    ++checked;
  }
  EXPECT_GE(checked, 40);
}

double ncc(const Image8& a, Pixel pa, const Image8& b, Pixel pb, int half) {
  double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
  int n = 0;
  for (int dr = -half; dr <= half; ++dr)
    for (int dc = -half; dc <= half; ++dc) {
      const double va = a.sample(pa.col + dc, pa.row + dr);
      const double vb = b.sample(pb.col + dc, pb.row + dr);
      sa += va;
      sb += vb;
      saa += va * va;
      sbb += vb * vb;
      sab += va * vb;
      ++n;
    }
  const double cov = sab - sa * sb / n;
  return cov / std::sqrt((saa - sa * sa / n) * (sbb - sb * sb / n));
}

TEST_F(RenderTest, OverlappingImagesCorrelateAtTiePointTruePositions) {
  // Pairs of the same strip (equal heading), matched with 15 x 15 windows.
  std::vector<double> matched, displaced;
  for (size_t i = 0; i < survey_->observations.size(); ++i) {
    for (size_t j = i + 1; j < survey_->observations.size(); ++j) {
      const Observation& a = survey_->observations[i];
      const Observation& b = survey_->observations[j];
      if (a.point != b.point) break;
      if (survey_->points[a.point].kind != PointKind::kTie) continue;
      if (survey_->images[a.image].strip != survey_->images[b.image].strip) continue;
      matched.push_back(ncc(images_[a.image], a.truth, images_[b.image], b.truth, 7));
      displaced.push_back(
          ncc(images_[a.image], a.truth, images_[b.image], {b.truth.col + 4, b.truth.row + 3}, 7));
    }
  }
  ASSERT_GE(matched.size(), 20u);
  std::sort(matched.begin(), matched.end());
  std::sort(displaced.begin(), displaced.end());
  EXPECT_GT(matched[matched.size() / 2], 0.9);
  EXPECT_GT(matched[matched.size() / 10], 0.75);
  EXPECT_LT(displaced[displaced.size() / 2], 0.6);
}

TEST_F(RenderTest, ColourImagesKeepTheGreyAsLumaAndRoundTripThroughTiff) {
  BlockOptions o = tiny_options();
  o.rgb = true;
  const Survey colour = plan_survey(o);
  const Image8 rgb = render_image(colour, 0, 2);
  ASSERT_EQ(rgb.channels, 3);
  double luma_error = 0, chroma = 0;
  const size_t n = static_cast<size_t>(rgb.width) * rgb.height;
  for (int r = 0; r < rgb.height; ++r)
    for (int c = 0; c < rgb.width; ++c) {
      const double luma =
          0.299 * rgb.at(c, r, 0) + 0.587 * rgb.at(c, r, 1) + 0.114 * rgb.at(c, r, 2);
      luma_error += std::abs(luma - images_[0].at(c, r));
      chroma +=
          std::abs(rgb.at(c, r, 0) - rgb.at(c, r, 1)) + std::abs(rgb.at(c, r, 1) - rgb.at(c, r, 2));
    }
  EXPECT_LT(luma_error / n, 2.5);  // sensor grain and clipping only
  EXPECT_GT(chroma / n, 5.0);      // and it is coloured

  const std::string path = fresh_test_folder("rgb") + "/rgb.tif";
  write_image(rgb, ImageFormat::kTiff, path);
  GDALAllRegister();
  GDALDataset* d = GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->GetRasterCount(), 3);
  std::vector<uint8_t> back(rgb.pixels.size());
  EXPECT_EQ(d->RasterIO(GF_Read, 0, 0, rgb.width, rgb.height, back.data(), rgb.width, rgb.height,
                        GDT_Byte, 3, nullptr, 3, 3 * rgb.width, 1, nullptr),
            CE_None);
  GDALClose(d);
  EXPECT_EQ(back, rgb.pixels);
}

TEST_F(RenderTest, ThreadCountDoesNotChangeThePixels) {
  const Image8 one = render_image(*survey_, 1, 1);
  EXPECT_EQ(one.pixels, images_[1].pixels);
  const Image8 five = render_image(*survey_, 1, 5);
  EXPECT_EQ(five.pixels, images_[1].pixels);
}

}  // namespace
}  // namespace blockgen
