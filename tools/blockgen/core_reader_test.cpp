// The generated camera passport and point collections read back by the Vantri core's readers.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "blockgen.h"
#include "photogrammetry/passport.h"
#include "photogrammetry/point_collection.h"
#include "test_folder.h"

namespace blockgen {
namespace {

TEST(PassportReaderTest, CoreReaderAdoptsTheGeneratedPassport) {
  BlockOptions o;
  o.out_dir = fresh_test_folder("passport_reader");
  o.strips = 1;
  o.images_per_strip = 2;
  o.camera.width = 320;
  o.camera.height = 240;
  o.camera.pp_col = 158.25;
  o.camera.pp_row = 122.5;
  o.camera.distortion = {1.2e-3, -3e-6, 2e-9, 1.5e-5, -2.5e-5};
  o.tie_points = 10;
  o.control_points = 0;
  o.check_points = 0;
  o.write_images = false;
  std::ostringstream log;
  generate_block(o, log);

  const auto passport = CCameraPassport::New(o.out_dir + "/camera.bcc");
  ASSERT_TRUE(passport);
  EXPECT_EQ(passport->TypeCode(), vantri::photogrammetry::kPassportCodeBCC);
  EXPECT_EQ(passport->model, o.camera.model);
  EXPECT_EQ(passport->focal_mm, o.camera.focal_mm);
  EXPECT_EQ(passport->pixel_mm, o.camera.pixel_mm);
  EXPECT_EQ(passport->ppx, o.camera.pp_col);
  EXPECT_EQ(passport->ppy, o.camera.pp_row);
  EXPECT_EQ(passport->width, o.camera.width);
  EXPECT_EQ(passport->height, o.camera.height);
  const MetricDistortion m = metric_distortion(o.camera.distortion);
  const vantri::photogrammetry::DistortionCoefficients read = passport->MetricCoefficients();
  EXPECT_EQ(read.k1, m.k1);
  EXPECT_EQ(read.k2, m.k2);
  EXPECT_EQ(read.k3, m.k3);
  EXPECT_EQ(read.p1, m.p1);
  EXPECT_EQ(read.p2, m.p2);
}

TEST(PointCollectionReaderTest, CoreReaderAdoptsGcpAndCpCollections) {
  BlockOptions o;
  o.out_dir = fresh_test_folder("collection_reader");
  o.strips = 2;
  o.images_per_strip = 3;
  o.camera.width = 320;
  o.camera.height = 240;
  o.camera.pp_col = 160;
  o.camera.pp_row = 120;
  o.tie_points = 10;
  o.write_images = false;
  std::ostringstream log;
  generate_block(o, log);
  const Survey survey = plan_survey(o);

  for (const auto& [file, kind] :
       {std::pair{"/GCP.col", PointKind::kControl}, std::pair{"/CP.col", PointKind::kCheck}}) {
    CGCPCollMap points;
    ASSERT_EQ(ReadPTCollFile(o.out_dir + file, &points), 1) << file;
    EXPECT_EQ(points.size(), survey.count(kind));
    for (size_t i = 0; i < survey.points.size(); ++i) {
      const GroundPoint& p = survey.points[i];
      if (p.kind != kind) continue;
      ASSERT_TRUE(points.count(p.id)) << p.id;
      const CGCPCollEx& read = points.at(p.id);
      EXPECT_EQ(read.x, p.surveyed.x());
      EXPECT_EQ(read.z, p.surveyed.z());
      EXPECT_TRUE(read.use);
      size_t m = 0;
      for (const Observation& ob : survey.observations) {
        if (ob.point != i) continue;
        ASSERT_LT(m, read.measurements.size());
        const CSIFTColl& c = read.measurements[m++];
        EXPECT_EQ(c.image_index, static_cast<int>(ob.image));
        // pixel = (width / 2 + x, height / 2 - y)
        EXPECT_NEAR(o.camera.width / 2.0 + c.x, ob.truth.col, 1e-9);
        EXPECT_NEAR(o.camera.height / 2.0 - c.y, ob.truth.row, 1e-9);
      }
      EXPECT_EQ(m, read.measurements.size());
    }
  }
}

}  // namespace
}  // namespace blockgen
