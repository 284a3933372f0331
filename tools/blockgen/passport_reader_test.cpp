// The generated camera.bcc read back by the Vantri core's passport reader.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "blockgen.h"
#include "platform/passport.h"
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
  EXPECT_EQ(passport->TypeCode(), kPassportCodeBCC);
  EXPECT_EQ(passport->model, o.camera.model);
  EXPECT_EQ(passport->focal_mm, o.camera.focal_mm);
  EXPECT_EQ(passport->pixel_mm, o.camera.pixel_mm);
  EXPECT_EQ(passport->ppx, o.camera.pp_col);
  EXPECT_EQ(passport->ppy, o.camera.pp_row);
  EXPECT_EQ(passport->width, o.camera.width);
  EXPECT_EQ(passport->height, o.camera.height);
  const MetricDistortion m = metric_distortion(o.camera.distortion);
  const DistortionCoefficients read = passport->MetricCoefficients();
  EXPECT_EQ(read.k1, m.k1);
  EXPECT_EQ(read.k2, m.k2);
  EXPECT_EQ(read.k3, m.k3);
  EXPECT_EQ(read.p1, m.p1);
  EXPECT_EQ(read.p2, m.p2);
}

}  // namespace
}  // namespace blockgen
