#include "adjust/approximations.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "adjust/tiny_block_test_support.h"
#include "lsq/ls_params.h"
#include "models/ap_set.h"

namespace bravik {
namespace {

const LSParams kDefaults;  // the settings a run starts with

using testing_support::TinyBlock;

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

int pointsOf(const BundleImage& image, const std::string& id) {
  int n = 0;
  for (const ImagePoint& point : image.points) n += point.id == id;
  return n;
}

class ApproximationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    a_ = tiny_.addImage("a", 0);
    b_ = tiny_.addImage("b", 1);
    c_ = tiny_.addImage("c", 2);
  }

  // Tie point seen by the images given, with no object-coordinate record.
  void addTie(const std::string& id, const Vec3& P, std::initializer_list<BundleImage*> images) {
    for (BundleImage* image : images) tiny_.observe(*image, id, P);
  }

  TinyBlock tiny_;
  BundleImage* a_ = nullptr;
  BundleImage* b_ = nullptr;
  BundleImage* c_ = nullptr;
};

TEST_F(ApproximationsTest, MissingObjectPointsAreCreatedOnceWithDefaults) {
  addTie("t1", {300, 50, 0}, {a_, b_, c_});
  addTie("t2", {310, -60, 5}, {a_, b_});
  tiny_.addPoint("t2", {310, -60, 5}, 0.05, kPointControl);
  std::ostringstream report;
  EXPECT_EQ(checkApproximations(tiny_.block(), &report), 1);

  const ObjectPoint* created = tiny_.block().objectPoints.find("t1");
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(created->type, kPointIntersection);
  EXPECT_FALSE(created->coordinatesGiven);
  EXPECT_EQ(created->sdev[2], kDefaults.smaxu);
  EXPECT_EQ(tiny_.block().objectPoints.count(), 2);
  EXPECT_EQ(report.str(),
            "Check object point approximations\n=================================\n\n"
            "Point t1 has no approximations.\n\n"
            "Number of additional object points: 1\n\n");
}

TEST_F(ApproximationsTest, RayCheckRemovesWhatCannotBeAdjusted) {
  tiny_.block().options.singleRay = true;
  addTie("tie", {300, 0, 0}, {a_, b_});
  tiny_.addPoint("tie", {300, 0, 0}, kDefaults.smaxu, kPointIntersection);
  addTie("lonely", {100, 0, 0}, {a_});
  tiny_.addPoint("lonely", {100, 0, 0}, kDefaults.smaxu, kPointIntersection);
  addTie("gcp", {400, 20, 0}, {c_});
  tiny_.addPoint("gcp", {400, 20, 0}, 0.05, kPointControl);
  addTie("half", {420, 20, 0}, {c_});
  ObjectPoint* half = tiny_.addPoint("half", {420, 20, 0}, 0.05, kPointControl);
  half->sdev[2] = kDefaults.smaxu;
  tiny_.addPoint("unseen", {0, 0, 0}, 0.05, kPointControl);

  std::ostringstream report;
  countRaysPerObjectPoint(tiny_.block(), &report);
  const Block& block = tiny_.block();
  ASSERT_NE(block.objectPoints.find("tie"), nullptr);
  EXPECT_EQ(block.objectPoints.find("tie")->rays, 2);
  EXPECT_NE(block.objectPoints.find("gcp"), nullptr);
  EXPECT_EQ(block.objectPoints.find("lonely"), nullptr);
  EXPECT_EQ(block.objectPoints.find("half"), nullptr);
  EXPECT_EQ(block.objectPoints.find("unseen"), nullptr);
  EXPECT_EQ(pointsOf(*a_, "lonely"), 0);
  EXPECT_EQ(pointsOf(*c_, "half"), 0);
  EXPECT_EQ(pointsOf(*c_, "gcp"), 1);
  const std::string text = report.str();
  EXPECT_TRUE(contains(text, "Number of points to check : 5\nSingle-ray option         : on\n\n"));
  EXPECT_TRUE(contains(text, "\ntie: a b [2]\n"));
  EXPECT_TRUE(contains(text, "\ngcp: c [1] -> single ray\n"));
  EXPECT_TRUE(contains(
      text, "\nlonely: a [1] -> removed\nATTENTION: BundleImage a point lonely removed.\n"));
  EXPECT_TRUE(contains(text, "\nunseen: [0] -> removed\n"));
  EXPECT_TRUE(contains(text, "Number of removed object points: 3\n\n"));
}

TEST_F(ApproximationsTest, SingleRayControlPointIsRemovedWithoutTheOption) {
  addTie("gcp", {400, 20, 0}, {c_});
  tiny_.addPoint("gcp", {400, 20, 0}, 0.05, kPointControl);
  countRaysPerObjectPoint(tiny_.block(), nullptr);
  EXPECT_EQ(tiny_.block().objectPoints.find("gcp"), nullptr);
}

TEST_F(ApproximationsTest, ImagesNeedThreePoints) {
  for (const char* id : {"p1", "p2", "p3"}) addTie(id, {300, 10.0 * id[1], 0}, {a_, b_});
  addTie("p4", {600, 0, 0}, {c_});
  addTie("p5", {610, 0, 0}, {c_});
  std::ostringstream report;
  countRaysPerImage(tiny_.block(), &report);
  EXPECT_EQ(tiny_.block().images.count(), 2);
  EXPECT_EQ(tiny_.block().images.find("c"), nullptr);
  EXPECT_EQ(tiny_.block().images.entryCount(), 3);
  EXPECT_TRUE(contains(report.str(),
                       "Number of images to check : 3\n<image ID>: <number of rays>\n\n"
                       "a: 3\nb: 3\nc: 2 -> removed\n"
                       "Number of removed images: 1\n\n"));
}

TEST_F(ApproximationsTest, IntersectionIsTheMeanOfAllPairs) {
  // Inconsistent measurements make the three pairwise intersections differ.
  const Vec3 P{310, 40, 12};
  tiny_.observe(*a_, "p", P);
  tiny_.observe(*b_, "p", P, 20e-6, -10e-6);
  tiny_.observe(*c_, "p", P, -15e-6, 30e-6);
  tiny_.attach();
  checkApproximations(tiny_.block(), nullptr);

  const BundleImage* images[3] = {a_, b_, c_};
  Vec3 sum{0, 0, 0};
  double sumE = 0.0;
  for (int i = 0; i < 3; ++i) {
    for (int j = i + 1; j < 3; ++j) {
      const ImagePoint& pi = images[i]->points[0];
      const ImagePoint& pj = images[j]->points[0];
      Vec3 Q{0, 0, 0};
      double e = 0.0;
      ASSERT_EQ(images[i]->geometry->intersection(
                    *images[j]->geometry, tiny_.camera()->reducedImageVector(pi.x, pi.y),
                    tiny_.camera()->reducedImageVector(pj.x, pj.y), Q, e),
                1);
      sum = sum + Q;
      sumE += e;
    }
  }
  std::ostringstream report;
  ASSERT_EQ(calculateApproximations(tiny_.block(), &report, true), 1);
  const ObjectPoint* point = tiny_.block().objectPoints.find("p");
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(point->xyz[k], sum[k] / 3, 1e-9);
  EXPECT_NEAR(point->xyz[2], P[2], 1.0);
  EXPECT_TRUE(point->coordinatesGiven);
  EXPECT_GT(sumE, 0.0);
  const std::string text = report.str();
  EXPECT_TRUE(contains(text, "Point: p by a b c [3]\n"));
  EXPECT_TRUE(contains(text, "             a -            b\n                      "));
  EXPECT_TRUE(contains(text, "             b -            c\n"));
  EXPECT_TRUE(contains(text,
                       "Number of intersection points : 1\n"
                       "Total average distance of rays: e_mean = "));
}

TEST_F(ApproximationsTest, GivenCoordinatesAreNotIntersected) {
  const Vec3 P{300, 0, 0};
  addTie("gcp", P, {a_, b_});
  tiny_.addPoint("gcp", {301, 2, 3}, 0.05, kPointControl);
  tiny_.attach();
  std::ostringstream report;
  ASSERT_EQ(calculateApproximations(tiny_.block(), &report, false), 1);
  EXPECT_EQ(tiny_.block().objectPoints.find("gcp")->xyz, (Vec3{301, 2, 3}));
  EXPECT_TRUE(contains(report.str(),
                       "Number of intersection points : 0\n"
                       "Total average distance of rays: e_mean =    ---    m\n\n"));
}

TEST_F(ApproximationsTest, ParallelRaysEndTheCalculation) {
  tiny_.observe(*a_, "p", {0, 0, 0});
  tiny_.observe(*b_, "p", {300, 0, 0});  // both rays vertical: parallel
  tiny_.attach();
  checkApproximations(tiny_.block(), nullptr);
  EXPECT_EQ(calculateApproximations(tiny_.block(), nullptr, false), -1);
  EXPECT_FALSE(tiny_.block().objectPoints.find("p")->coordinatesGiven);
}

TEST_F(ApproximationsTest, CleanUpRemovesUnusedObjectsAndKeepsCamerasOfAPSets) {
  for (const char* id : {"p1", "p2", "p3"}) addTie(id, {300, 10.0 * id[1], 0}, {a_, b_, c_});
  tiny_.attach();
  auto spare = std::make_unique<EOAnglesOPKRot>("spare");
  tiny_.block().geometries.insert(std::move(spare));
  auto lonelyCamera = std::make_unique<Camera>();
  lonelyCamera->id_ = "cam2";
  tiny_.block().cameras.insert(std::move(lonelyCamera));
  auto idle = std::make_unique<Camera>();
  idle->id_ = "cam3";
  tiny_.block().cameras.insert(std::move(idle));
  auto set = std::make_unique<APSetRadial>();
  set->setId("ap1");
  set->cameraId = "cam2";
  APSet* raw = set.get();
  tiny_.block().apSets.insert(std::move(set));
  ASSERT_EQ(raw->attach(tiny_.block().cameras), 1);
  tiny_.block().posCorrections.insert(std::make_unique<PosCorrection>("pc1"));
  checkApproximations(tiny_.block(), nullptr);
  countRaysPerObjectPoint(tiny_.block(), nullptr);

  std::ostringstream report;
  cleanUp(tiny_.block(), report);
  EXPECT_EQ(report.str(),
            "Clean up\n--------\n(Remove unused object points, EOs, Apsets, etc.)\n\n"
            "ATTENTION: Camera cam3 removed.\n"
            "ATTENTION: Station spare removed.\n"
            "ATTENTION: position correction pc1 removed.\n"
            "\nNumber of removed ...\n"
            "  - images            : 0\n"
            "  - cameras           : 1\n"
            "  - object points     : 0\n"
            "  - EOs               : 1\n"
            "  - AP sets           : 0\n"
            "  - Position corr.    : 1\n"
            "  - Attitude corr.    : 0\n\n");
  EXPECT_NE(tiny_.block().cameras.find("cam2"), nullptr);
  EXPECT_NE(tiny_.block().apSets.find("ap1"), nullptr);
}

TEST_F(ApproximationsTest, GeometryOfARemovedImageIsRemovedToo) {
  for (const char* id : {"p1", "p2", "p3"}) addTie(id, {300, 10.0 * id[1], 0}, {a_, b_});
  addTie("p4", {600, 0, 0}, {b_, c_});
  tiny_.attach();
  const auto cameras = camerasBoundByImages(tiny_.block());
  countRaysPerObjectPoint(tiny_.block(), nullptr);
  countRaysPerImage(tiny_.block(), nullptr);
  std::ostringstream report;
  cleanUp(tiny_.block(), report, &cameras);
  EXPECT_EQ(tiny_.block().geometries.find("c"), nullptr);
  EXPECT_TRUE(contains(report.str(), "ATTENTION: Station c removed.\n"));
  EXPECT_NE(tiny_.block().cameras.find("cam1"), nullptr);
}

TEST_F(ApproximationsTest, ReferenceTimeIsTheEarliestExposure) {
  tiny_.block().posCorrections.insert(std::make_unique<PosCorrection>("pc1"));
  std::ostringstream report;
  setReferenceTime(tiny_.block(), report);
  EXPECT_EQ(report.str(),
            "Time interval\n-------------\n"
            "t_min        =       0.0000 s\n"
            "t_max        =       2.0000 s\n"
            "duration dt  =       2.0000 s\n\n"
            "Reference time t0 (= t_min) =       0.0000 s\n\n");
  EXPECT_EQ(tiny_.block().posCorrections.find("pc1")->t0, 0.0);
}

}  // namespace
}  // namespace bravik
