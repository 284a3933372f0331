#include "models/ap_set.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "models/camera.h"

namespace bravik {
namespace {

using testing::HasSubstr;

TEST(APSetTest, EveryKeywordMakesItsClassWithNamedParameters) {
  const struct {
    const char* keyword;
    const char* typeName;
    int count;
    const char* lastName;
  } kinds[] = {
      {"gap", "GAP", 10, "P2"},
      {"australis", "Australis", 10, "b2"},
      {"p12", "12-parameter (Ebner)", 12, "a12"},
      {"p44", "44-parameter (Gruen)", 44, "a44"},
      {"inner-or", "inner orientation", 3, "dc"},
      {"radial-dist", "radial distortion", 3, "K3"},
      {"decentering-dist", "decentering distortion", 2, "P2"},
      {"in-plane-dist", "in-plane distortion", 12, "a12"},
      {"out-of-plane-dist", "out-of-plane distortion", 3, "a15"},
  };
  for (const auto& kind : kinds) {
    auto set = makeAPSet(kind.keyword);
    ASSERT_TRUE(set) << kind.keyword;
    EXPECT_EQ(set->keyword(), kind.keyword);
    EXPECT_EQ(set->typeName(), kind.typeName);
    EXPECT_EQ(set->paramCount(), kind.count);
    EXPECT_EQ(set->paramName(kind.count - 1), kind.lastName);
  }
  EXPECT_FALSE(makeAPSet("p13"));
  EXPECT_EQ(makeAPSet("gap")->paramName(3), "sx");
}

TEST(APSetTest, RecordReadsShortListsAndWritesItsFormat) {
  auto set = makeAPSet("p12");
  std::istringstream in("A2 K1 30 1e-5 1e-6 -2e-5 1e31 p44 A3");
  ASSERT_EQ(set->readRecord(in), 1);
  EXPECT_EQ(set->cameraId, "K1");
  EXPECT_EQ(set->a[1], -2e-5);
  EXPECT_EQ(set->s[1], 1e31);
  EXPECT_EQ(set->a[2], 0.0);
  std::string next;
  in >> next;
  EXPECT_EQ(next, "p44");  // the next record's keyword is left for the file reader

  std::ostringstream out;
  set->writeRecord(out);
  EXPECT_THAT(out.str(), testing::StartsWith("p12   A2   K1\n30.000\n"
                                             "  1.00000000e-05     1.0000e-06\n"
                                             " -2.00000000e-05     1.0000e+31\n"));
  auto copy = makeAPSet("p12");
  std::istringstream back(out.str().substr(4));
  ASSERT_EQ(copy->readRecord(back), 1);
  EXPECT_EQ(copy->a[0], 1e-5);
  EXPECT_DOUBLE_EQ(static_cast<APSetP&>(*copy).b, 0.03);
}

TEST(APSetTest, ReportBlockAndAttachment) {
  auto set = makeAPSet("radial-dist");
  std::istringstream in("R1 K1 1e-3 1e-4 0 1e-31 0 1e31");
  ASSERT_EQ(set->readRecord(in), 1);
  std::ostringstream out;
  set->printReport(out);
  EXPECT_EQ(out.str(),
            "AP set ID   :  R1\nAP set Type :  radial distortion\nCamera      :  K1\n\n"
            "  Param.     State         Value       Std.dev.\n\n"
            "  K1         obs       1.000e-03      1.000e-04\n"
            "  K2         eli       0.000e+00      1.000e-31\n"
            "  K3         unk       0.000e+00      1.000e+31\n");

  OwnedList<Camera> cameras;
  auto camera = std::make_unique<Camera>();
  camera->id_ = "K1";
  cameras.insert(std::move(camera));
  ASSERT_EQ(set->attach(cameras), 1);
  EXPECT_TRUE(set->attached);
  EXPECT_THAT(cameras.find("K1")->apSets, testing::ElementsAre(set.get()));

  set->cameraId = "K9";
  testing::internal::CaptureStdout();
  EXPECT_EQ(set->attach(cameras), -1);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERROR: AP set R1 : camera K9 not found.\n");
}

}  // namespace
}  // namespace bravik
