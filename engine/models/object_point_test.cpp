#include "models/object_point.h"

#include <gtest/gtest.h>

#include <sstream>

#include "lsq/ls_params.h"

namespace bravik {
namespace {

class ObjectPointTest : public testing::Test {
 protected:
  LSParams ls_;
};

TEST_F(ObjectPointTest, TakesTheFreeValueOfTheSettingsAtCreation) {
  ls_.smaxu = 5e20;
  ObjectPoint point("P1", ls_);
  ls_.smaxu = 1e31;
  EXPECT_EQ(point.sdev[2], 5e20);
  EXPECT_EQ(point.type, kPointIntersection);
  EXPECT_STREQ(objectPointTypeCode(point.type), "in");
  EXPECT_STREQ(objectPointTypeCode(kPointNone), "nu");
}

TEST_F(ObjectPointTest, ConvergenceNeedsTheSwitchAndAllowsTheLimit) {
  ObjectPoint point("P1", ls_);
  AdjObjectList list;
  list.add(point, ls_);
  ls_.limitObjectPoints = 0.001;
  ls_.critObjectPoints = false;
  EXPECT_EQ(point.convergenceTest({0.5, 0.5, 0.5}, ls_), -1);
  ls_.critObjectPoints = true;
  EXPECT_EQ(point.convergenceTest({0.001, -0.001, 0.0}, ls_), -1);
  EXPECT_EQ(point.convergenceTest({0.0, -0.002, 0.5}, ls_), 1);
}

TEST_F(ObjectPointTest, IterationTablePrintsValuesBeforeAndAfterTheUpdate) {
  ObjectPoint point("P7", ls_);
  point.xyz = {100.0, 200.0, 30.0};
  point.sdev = {1e-31, 0.05, 1e31};
  AdjObjectList list;
  ObjectPoint first("P1", ls_);
  list.add(first, ls_);
  list.add(point, ls_);
  std::ostringstream out;
  point.printIterationTable(out, {0, 0, 0, 0.0, 0.25, -1.5});
  EXPECT_EQ(out.str(),
            "Point ID : P7\nIndex    : 3\n\n"
            "  Name       State       Approx.         Change       Adjusted\n\n"
            "  objc-X     eli         100.000          0.000        100.000\n"
            "  objc-Y     obs         200.000          0.250        200.250\n"
            "  objc-Z     unk          30.000         -1.500         28.500\n\n");
}

}  // namespace
}  // namespace bravik
