#include "import/control_point_files.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "photogrammetry/point_collection.h"
#include "testing/temp_folder.h"

namespace vantri::import {
namespace {

SFIO_ControlPoint Record(const std::string& id, double x, double var_xy = 0.0) {
  SFIO_ControlPoint point{};
  SetRecordId(point.id, id);
  point.x = x;
  point.y = x + 1;
  point.z = x + 2;
  point.var_xy = var_xy;
  point.valid = 1;
  point.dimension = 3;
  return point;
}

TEST(ControlPointFilesTest, NewNamesAreAddedWithTheNextIdentifier) {
  test_support::TempFolder temp;
  const std::string folder = temp.path();
  const std::string path = folder + "/GCP.col";
  int added = 0;
  ASSERT_EQ(AddImportedPointsToFile(path, {Record("a", 10.0, 0.04), Record("b", 20.0)}, &added), 1);
  EXPECT_EQ(added, 2);
  ASSERT_EQ(AddImportedPointsToFile(path, {Record("B", 99.0), Record("c", 30.0)}, &added), 1);
  EXPECT_EQ(added, 1) << "names compare without regard to case";

  CGCPCollMap points;
  ASSERT_EQ(ReadPTCollFile(path, &points), 1);
  ASSERT_EQ(points.size(), 3u);
  EXPECT_EQ(points["a"].id, 100001);
  EXPECT_EQ(points["a"].xy_var, 0.04);
  EXPECT_EQ(points["b"].x, 20.0) << "the first import of a name stays";
  EXPECT_EQ(points["b"].xy_var, photogrammetry::kUndefinedVariance);
  EXPECT_EQ(points["c"].id, 100003);
  EXPECT_EQ(points["c"].z, 32.0);

  std::ofstream(path, std::ios::binary) << "garbage";
  EXPECT_EQ(AddImportedPointsToFile(path, {Record("d", 1.0)}, &added), 0);
  std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace vantri::import
