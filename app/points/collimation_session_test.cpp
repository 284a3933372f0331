#include "points/collimation_session.h"

#include <gtest/gtest.h>

#include "points/test_project.h"

namespace vantri::points {
namespace {

using test_support::ProjectTest;

class CollimationSessionTest : public ProjectTest {
 protected:
  // The ground point (Z = 0) seen at `pixel` of the image through its GPS/IMU orientation.
  Eigen::Vector3d GroundPointAt(int image_index, const Eigen::Vector2d& pixel) {
    const CABAImage& image = *project_.Image(image_index);
    nvc::COrientation orientation;
    orientation.BuildINTWithoutDistortion(*project_.passport);
    orientation.SetRotMat(FromEulerAnglesXYZ(image.omega, image.phi, image.kappa));
    orientation.SetN({image.x, image.y, image.z});
    Eigen::Vector3d point;
    EXPECT_TRUE(orientation.IntersectPlaneZ(pixel, 0.0, &point));
    return point;
  }

  CGCPCollEx& AddGcp(const std::string& name, const Eigen::Vector3d& position,
                     std::vector<CSIFTColl> measurements = {}) {
    CGCPCollEx point;
    point.id = NextPointId(project_.gcps);
    point.name = name;
    point.x = position.x();
    point.y = position.y();
    point.z = position.z();
    point.measurements = std::move(measurements);
    point.use = UseFlagFor(point);
    return project_.gcps.emplace(name, point).first->second;
  }

  CollimationSession Open(const std::string& name,
                          const std::vector<nvc::COrientation>* orientations = nullptr) {
    SessionOptions options;
    options.open_raster = rasters_.Opener();
    options.orientations = orientations;
    options.redraw_symbols = [this] { ++redraws_; };
    return CollimationSession(PointKind::kGcp, project_, name, ui_, options);
  }

  std::vector<int> ProposedImages(const CollimationSession& session) {
    std::vector<int> indexes;
    for (int k = 0; k < session.ImageCount(); ++k) indexes.push_back(session.Image(k).image_index);
    return indexes;
  }

  CGCPCollEx SavedGcp(const std::string& name) {
    CGCPCollMap saved;
    EXPECT_EQ(ReadPTCollFile(project_.folder + "GCP.col", &saved), 1);
    return saved.at(name);
  }

  int redraws_ = 0;
};

TEST_F(CollimationSessionTest, ProposesImagesWithinFiveHundredPixelsOutsideTheRaster) {
  const int image = AddVerticalImage("101", 0, 0);
  AddGcp("near", GroundPointAt(image, {-400, 1500}));
  AddGcp("far", GroundPointAt(image, {-600, 1500}));
  AddGcp("below", GroundPointAt(image, {2000, 3000 + 499}));
  AddGcp("last", GroundPointAt(image, {4000 + 500, 1500}));  // x < width + 500 fails

  EXPECT_EQ(ProposedImages(Open("near")), std::vector<int>{image});
  EXPECT_TRUE(ProposedImages(Open("far")).empty());
  EXPECT_EQ(ProposedImages(Open("below")), std::vector<int>{image});
  EXPECT_TRUE(ProposedImages(Open("last")).empty());

  CollimationSession near = Open("near");
  EXPECT_NEAR(near.Marker().x(), -400, 1e-6);  // proposed, not measured
  EXPECT_EQ(near.MarkerColourIndex(), kNotMeasuredColourIndex);
  EXPECT_EQ(near.WindowTitle(), "GCP - near");
  EXPECT_EQ(near.ImageLine(), "Image 1/1 - 101.tif");
}

TEST_F(CollimationSessionTest, MeasuredImagesComeFirstAtTheirStoredPositions) {
  const int a = AddVerticalImage("101", 0, 0);
  const int b = AddVerticalImage("102", 100, 0);
  const int c = AddVerticalImage("103", 200, 0);
  // Seen by all three; measured in the last one only.
  AddGcp("P", GroundPointAt(b, {2000, 1500}), {{c, 10, 20}});

  CollimationSession session = Open("P");
  EXPECT_EQ(ProposedImages(session), (std::vector<int>{c, a, b}));
  EXPECT_EQ(session.Marker(), Eigen::Vector2d(2010, 1480));
  EXPECT_EQ(session.MarkerColourIndex(), kMeasuredColourIndex);
  EXPECT_EQ(session.ImageLine(), "Image 1/3 - 103.tif");
}

TEST_F(CollimationSessionTest, ProjectOrientationsOnlyWhenEveryImageHasOne) {
  const int a = AddVerticalImage("101", 0, 0);
  const int b = AddVerticalImage("102", 5000, 0);
  AddGcp("P", GroundPointAt(a, {2000, 1500}));
  // The adjusted block sits 5000 m east of the GPS positions: the point is seen from b only.
  std::vector<nvc::COrientation> adjusted(2);
  adjusted[0].SetN({-5000, 0, 1000});
  adjusted[1].SetN({0, 0, 1000});
  EXPECT_EQ(ProposedImages(Open("P", &adjusted)), std::vector<int>{b});

  // Local orientations: the surveyed point is moved by their origin first.
  SessionOptions local;
  local.open_raster = rasters_.Opener();
  local.orientations = &adjusted;
  local.orientation_origin = {5000, 0, 0};
  EXPECT_EQ(ProposedImages(CollimationSession(PointKind::kGcp, project_, "P", ui_, local)),
            std::vector<int>{a});

  adjusted[0].SetN(Eigen::Vector3d::Zero());  // one image not oriented: GPS/IMU for all
  EXPECT_EQ(ProposedImages(Open("P", &adjusted)), std::vector<int>{a});
}

TEST_F(CollimationSessionTest, KeypadMovesOutOfAndBackIntoTheRaster) {
  const int image = AddVerticalImage("101", 0, 0);
  AddGcp("P", GroundPointAt(image, {0, 1500}), {{image, -1999.5, 0}});
  CollimationSession session = Open("P");
  ASSERT_EQ(session.Marker(), Eigen::Vector2d(0.5, 1500));

  EXPECT_TRUE(session.HandleKey(SessionKey::kKeypad4));
  EXPECT_EQ(session.Marker(), Eigen::Vector2d(-0.5, 1500));  // the proposed position
  EXPECT_FALSE(session.Image(0).IsMeasured());
  EXPECT_EQ(session.MarkerColourIndex(), kNotMeasuredColourIndex);

  EXPECT_TRUE(session.HandleKey(SessionKey::kKeypad6));
  EXPECT_EQ(session.Image(0).measured, Eigen::Vector2d(0.5, 1500));
  EXPECT_EQ(session.MarkerColourIndex(), kMeasuredColourIndex);

  // One screen pixel is two image pixels at this zoom; 8 is up, 3 down and right.
  session.HandleKey(SessionKey::kKeypad8, 2.0);
  EXPECT_EQ(session.Marker(), Eigen::Vector2d(0.5, 1498));
  session.HandleKey(SessionKey::kKeypad3, 2.0);
  EXPECT_EQ(session.Marker(), Eigen::Vector2d(2.5, 1500));
  session.HandleKey(SessionKey::kKeypad7);
  session.HandleKey(SessionKey::kKeypad1);
  session.HandleKey(SessionKey::kKeypad9);
  session.HandleKey(SessionKey::kKeypad2);
  EXPECT_EQ(session.Marker(), Eigen::Vector2d(1.5, 1500));
}

TEST_F(CollimationSessionTest, ClicksPlaceAndUnmeasure) {
  const int image = AddVerticalImage("101", 0, 0);
  AddGcp("P", GroundPointAt(image, {1000, 1000}));
  CollimationSession session = Open("P");

  session.Click({3999.5, 2999.5}, ClickModifier::kNone);  // a plain click does nothing
  EXPECT_FALSE(session.Image(0).IsMeasured());
  session.Click({3999.5, 2999.5}, ClickModifier::kShift);
  EXPECT_TRUE(session.Image(0).IsMeasured());
  session.Click({4000, 10}, ClickModifier::kShift);  // col == width is outside
  EXPECT_FALSE(session.Image(0).IsMeasured());
  EXPECT_EQ(session.Marker(), Eigen::Vector2d(4000, 10));
  session.Click({10, 10}, ClickModifier::kShift);
  session.Click({500, 500}, ClickModifier::kCtrl);
  EXPECT_FALSE(session.Image(0).IsMeasured());
  EXPECT_EQ(session.Marker(), Eigen::Vector2d(10, 10));
  session.Click({10, 10}, ClickModifier::kShift);
  session.HandleKey(SessionKey::kDelete);
  EXPECT_FALSE(session.Image(0).IsMeasured());
}

TEST_F(CollimationSessionTest, PagingIsCyclicAndSkipsMarkedImages) {
  for (const char* name : {"101", "102", "103"}) AddVerticalImage(name, 0, 0);
  AddGcp("P", {0, 0, 0});
  CollimationSession session = Open("P");
  ASSERT_EQ(session.ImageCount(), 3);

  session.HandleKey(SessionKey::kPageUp);
  EXPECT_EQ(session.CurrentImage(), 2);
  session.HandleKey(SessionKey::kPageDown);
  EXPECT_EQ(session.CurrentImage(), 0);

  session.ToggleSkip();  // marks 0 and moves on
  EXPECT_EQ(session.CurrentImage(), 1);
  session.HandleKey(SessionKey::kPageDown);
  session.HandleKey(SessionKey::kPageDown);
  EXPECT_EQ(session.CurrentImage(), 1);  // 2, then 1 again: 0 is skipped
  session.ToggleSkip();
  EXPECT_EQ(session.CurrentImage(), 2);
  EXPECT_TRUE(ui_.shown.empty());

  session.ToggleSkip();  // the last one: nothing left
  EXPECT_EQ(ui_.LastText(), "No more image to display");
  EXPECT_EQ(ui_.shown.back().icon, MessageIcon::kInformation);
  EXPECT_TRUE(session.IsOpen());
  session.ToggleSkip();  // unmarked again, stays
  session.HandleKey(SessionKey::kPageDown);
  EXPECT_EQ(session.CurrentImage(), 2);
}

TEST_F(CollimationSessionTest, OkUpdatesRemovesAndAddsMeasurements) {
  const int a = AddVerticalImage("101", 0, 0);
  const int b = AddVerticalImage("102", 100, 0);
  const int c = AddVerticalImage("103", 200, 0);
  AddGcp("P", GroundPointAt(b, {2000, 1500}), {{a, 1, 2}, {b, 3, 4}});
  CollimationSession session = Open("P");
  ASSERT_EQ(ProposedImages(session), (std::vector<int>{a, b, c}));
  EXPECT_EQ(rasters_.OpenCount(), 6);  // each image and its working copy

  session.Click({0, 0}, ClickModifier::kCtrl);  // a: not measured any more
  session.NextImage();
  session.PlaceMarker({2100, 1600});  // b moved
  session.NextImage();
  session.PlaceMarker({1000.25, 2000.75});  // c measured
  EXPECT_EQ(session.Ok(), 1);
  EXPECT_EQ(rasters_.OpenCount(), 0);
  EXPECT_FALSE(session.IsOpen());
  EXPECT_EQ(redraws_, 1);

  const std::vector<CSIFTColl> expected = {{b, 100, -100}, {c, -999.75, -500.75}};
  EXPECT_EQ(project_.gcps.at("P").measurements, expected);
  EXPECT_TRUE(project_.gcps.at("P").use);
  EXPECT_EQ(SavedGcp("p"), project_.gcps.at("P"));
}

TEST_F(CollimationSessionTest, PointMeasuredInOneImageIsSavedUnused) {
  const int a = AddVerticalImage("101", 0, 0);
  const int b = AddVerticalImage("102", 100, 0);
  AddGcp("P", GroundPointAt(a, {2000, 1500}), {{a, 0, 0}, {b, 0, 0}});
  ASSERT_TRUE(project_.gcps.at("P").use);
  CollimationSession session = Open("P");
  session.NextImage();
  session.Unmeasure();
  ASSERT_EQ(session.Ok(), 1);
  EXPECT_EQ(project_.gcps.at("P").measurements.size(), 1u);
  EXPECT_FALSE(SavedGcp("P").use);
}

TEST_F(CollimationSessionTest, CancelLeavesThePointAndClosesTheRasters) {
  const int a = AddVerticalImage("101", 0, 0);
  const CGCPCollEx before = AddGcp("P", GroundPointAt(a, {2000, 1500}), {{a, 5, 5}});
  {
    CollimationSession session = Open("P");
    session.PlaceMarker({1, 1});
    session.Cancel();
    EXPECT_EQ(rasters_.OpenCount(), 0);
    EXPECT_EQ(session.Ok(), 0);  // a closed session stores nothing
  }
  EXPECT_EQ(project_.gcps.at("P"), before);
  EXPECT_FALSE(std::filesystem::exists(project_.folder + "GCP.col"));
}

TEST_F(CollimationSessionTest, MeasurementOfAnImageThatCannotBeOpenedIsKept) {
  const int a = AddVerticalImage("101", 0, 0);
  const int lost = project_.ImageCount();
  project_.AppendImage(folder_ + "/gone.tif");  // no raster
  const int b = AddVerticalImage("102", 100, 0);
  AddGcp("P", GroundPointAt(a, {2000, 1500}), {{lost, 7, 8}, {a, 1, 1}});
  CollimationSession session = Open("P");
  EXPECT_EQ(ProposedImages(session), (std::vector<int>{a, b}));
  session.Unmeasure();  // a
  session.NextImage();
  session.PlaceMarker({2000, 1500});  // b
  ASSERT_EQ(session.Ok(), 1);
  const std::vector<CSIFTColl> expected = {{lost, 7, 8}, {b, 0, 0}};
  EXPECT_EQ(project_.gcps.at("P").measurements, expected);
}

TEST_F(CollimationSessionTest, UnknownPointGivesNoSession) {
  AddVerticalImage("101", 0, 0);
  CollimationSession session = Open("nobody");
  EXPECT_FALSE(session.IsValid());
  EXPECT_EQ(session.ImageCount(), 0);
  EXPECT_FALSE(session.HandleKey(SessionKey::kKeypad6));
  EXPECT_EQ(session.Ok(), 0);
}

}  // namespace
}  // namespace vantri::points
