#include "aat/tie_point_search.h"

#include <gdal_priv.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <opencv2/imgproc.hpp>

#include "render.h"
#include "survey.h"
#include "testing/temp_folder.h"

namespace vantri::aat {
namespace {

TEST(CandidateGrid, FollowsTheSettingsAndRefusesFewerThanFourPoints) {
  SearchSettings settings;  // search area 640, 25 points
  std::vector<cv::Point> grid = CandidateGrid(settings, 6000, 4000);
  ASSERT_EQ(grid.size(), 25u);
  EXPECT_EQ(grid.front(), cv::Point(480, 480));
  EXPECT_EQ(grid[1], cv::Point(480 + (6000 - 960) / 4, 480));
  EXPECT_EQ(grid.back(), cv::Point(480 + 4 * 1260, 480 + 4 * ((4000 - 960) / 4)));
  settings.max_points_to_search = 30;  // square root truncated: still 5 x 5
  EXPECT_EQ(CandidateGrid(settings, 6000, 4000).size(), 25u);
  settings.max_points_to_search = 4;
  EXPECT_EQ(CandidateGrid(settings, 6000, 4000).size(), 4u);
  settings.max_points_to_search = 3;
  EXPECT_TRUE(CandidateGrid(settings, 6000, 4000).empty());
  settings.max_points_to_search = 25;
  EXPECT_TRUE(CandidateGrid(settings, 900, 4000).empty());  // narrower than both margins
}

TEST(QuadraticPeak, RecoversThePeakOfAQuadraticSurface) {
  for (const auto& [px, py] : {std::pair{0.3, -0.2}, {-0.45, 0.1}, {0.0, 0.0}}) {
    float values[9];
    for (int y = -1; y <= 1; ++y)
      for (int x = -1; x <= 1; ++x)
        values[(y + 1) * 3 + x + 1] =
            static_cast<float>(0.9 - 0.2 * (x - px) * (x - px) - 0.1 * (x - px) * (y - py) -
                               0.3 * (y - py) * (y - py));
    const Eigen::Vector2d offset = QuadraticPeakOffset(values);
    EXPECT_NEAR(offset.x(), px, 1e-6);
    EXPECT_NEAR(offset.y(), py, 1e-6);
  }
  // A ridge (no maximum) falls back to the parabola across it.
  const float ridge[9] = {0.5f, 0.5f, 0.5f, 0.8f, 0.8f, 0.8f, 0.5f, 0.5f, 0.5f};
  EXPECT_EQ(QuadraticPeakOffset(ridge), Eigen::Vector2d(0, 0));
}

cv::Mat Texture(int size, int seed) {
  cv::Mat noise(size, size, CV_8UC1);
  cv::RNG rng(seed);
  rng.fill(noise, cv::RNG::UNIFORM, 0, 256);
  cv::Mat smooth;
  cv::GaussianBlur(noise, smooth, cv::Size(0, 0), 2.0);
  cv::normalize(smooth, smooth, 0, 255, cv::NORM_MINMAX);
  return smooth;
}

TEST(MatchPatches, FindsAShiftedTemplateAndRefusesSmallSearchPatches) {
  const cv::Mat ground = Texture(200, 7);
  const cv::Mat reference = ground(cv::Rect(80, 70, 45, 45)).clone();  // centre pixel (102, 92)
  const cv::Mat search = ground(cv::Rect(50, 40, 96, 96)).clone();
  const PatchMatch match = MatchPatches(reference, search, 32, false);
  EXPECT_NEAR(match.score, 1.0, 1e-5);
  EXPECT_DOUBLE_EQ(match.x, 102 - 50);
  EXPECT_DOUBLE_EQ(match.y, 92 - 40);
  EXPECT_EQ(MatchPatches(reference, search(cv::Rect(0, 0, 63, 96)), 32, false).score, -1);

  // A shift of a fraction of a pixel is found to a tenth of a pixel with the
  // refinement only.
  cv::Mat shifted;
  const cv::Mat move = (cv::Mat_<double>(2, 3) << 1, 0, 0.4, 0, 1, -0.3);
  cv::warpAffine(search, shifted, move, search.size(), cv::INTER_CUBIC);
  const PatchMatch whole = MatchPatches(reference, shifted, 32, false);
  const PatchMatch refined = MatchPatches(reference, shifted, 32, true);
  EXPECT_DOUBLE_EQ(whole.x, 52.0);
  EXPECT_NEAR(refined.x, 52.4, 0.1);
  EXPECT_NEAR(refined.y, 51.7, 0.1);
}

// A smooth analytic texture sampled at (x + dx, y + dy) and scaled by `gain`: shifts and
// contrast are exact, not the product of an interpolation.
cv::Mat Analytic(int size, double dx, double dy, double gain, double offset) {
  cv::Mat image(size, size, CV_8UC1);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      const double u = x + dx, v = y + dy;
      const double value = 128 + 40 * std::sin(0.31 * u + 0.7) * std::cos(0.23 * v) +
                           30 * std::sin(0.17 * u - 0.29 * v + 1.3) +
                           20 * std::cos(0.41 * v + 0.11 * u);
      image.at<uint8_t>(y, x) = cv::saturate_cast<uint8_t>(gain * value + offset);
    }
  return image;
}

TEST(LeastSquaresMatch, RecoversSubpixelShiftsUnderAContrastChange) {
  const cv::Mat reference = Analytic(45, 0.0, 0.0, 1.0, 0.0);
  double worst_peak = 0.0, worst_lsm = 0.0;
  for (const auto& [dx, dy] : {std::pair{0.3, -0.2}, {-0.45, 0.4}, {0.1, 0.25}, {0.0, 0.0}}) {
    // The search patch shows the ground pixel (22, 22) of the reference at (47 - dx, 47 - dy),
    // darker and with less contrast.
    const cv::Mat search = Analytic(96, 22 - 47 + dx, 22 - 47 + dy, 0.8, 15.0);
    const PatchMatch peak = MatchPatches(reference, search, 32, false);
    const cv::Rect middle(6, 6, 32, 32);
    Eigen::Vector2d matched;
    ASSERT_TRUE(LeastSquaresMatch(reference(middle), search, {peak.x - 16, peak.y - 16}, {16, 16},
                                  &matched));
    const Eigen::Vector2d truth(47 - dx, 47 - dy);
    worst_lsm = std::max(worst_lsm, (matched - truth).norm());
    const PatchMatch refined = MatchPatches(reference, search, 32, true);
    worst_peak = std::max(worst_peak, (Eigen::Vector2d(refined.x, refined.y) - truth).norm());
  }
  EXPECT_LT(worst_lsm, 0.03);
  EXPECT_LT(worst_peak, 0.03);  // the sub-pixel match ends with the least-squares step

  // A template that does not occur in the search patch does not converge nearby.
  cv::Mat flat(96, 96, CV_8UC1, cv::Scalar(100));
  Eigen::Vector2d matched;
  EXPECT_FALSE(
      LeastSquaresMatch(reference(cv::Rect(6, 6, 32, 32)), flat, {30, 30}, {16, 16}, &matched));
}

// A small block rendered by the generator, held in memory rasters, with the
// terrain triangulated from its own height grid.
struct RenderedBlock : testing::Test {
  static void SetUpTestSuite() {
    GDALAllRegister();
    blockgen::BlockOptions options;
    options.strips = 2;
    options.images_per_strip = 3;
    options.camera.width = 600;
    options.camera.height = 400;
    options.camera.pp_col = 300;
    options.camera.pp_row = 200;
    options.tie_points = 20;
    options.write_images = false;
    // Approximate orientations off by a few pixels, so that matches fall
    // anywhere between pixels.
    options.gps_noise = 1.0;
    options.imu_noise = 0.1;
    survey = new blockgen::Survey(blockgen::plan_survey(options));
    for (size_t i = 0; i < survey->images.size(); ++i) {
      const blockgen::Image8 image = blockgen::render_image(*survey, i, 2);
      GDALDriver* memory = GetGDALDriverManager()->GetDriverByName("MEM");
      GDALDataset* raster = memory->Create("", image.width, image.height, 1, GDT_Byte, nullptr);
      ASSERT_EQ(raster->GetRasterBand(1)->RasterIO(GF_Write, 0, 0, image.width, image.height,
                                                   const_cast<uint8_t*>(image.pixels.data()),
                                                   image.width, image.height, GDT_Byte, 0, 0),
                CE_None);
      rasters.push_back(raster);
      nvc::COrientation orientation;
      const blockgen::FrameCamera& camera = survey->camera();
      orientation.SetInterior(camera.focal_mm / camera.pixel_mm, camera.pp_col, camera.pp_row,
                              camera.width, camera.height, camera.pixel_mm);
      orientation.SetRotMat(survey->images[i].truth.world_from_camera());
      orientation.SetN(survey->images[i].truth.centre);
      orientations.push_back(orientation);
      orientation.SetRotMat(survey->images[i].gps_imu.world_from_camera());
      orientation.SetN(survey->images[i].gps_imu.centre);
      approximate.push_back(orientation);
    }
    const blockgen::GroundBox box = survey->terrain->box();
    std::vector<Eigen::Vector3d> samples;
    for (double y = box.min_north + 5; y < box.max_north; y += 10)
      for (double x = box.min_east + 5; x < box.max_east; x += 10)
        samples.push_back(Eigen::Vector3d(x, y, survey->terrain->height(x, y)) - origin);
    terrain = new DemTriangulation;
    ASSERT_TRUE(terrain->Build(samples));
  }
  static void TearDownTestSuite() {
    for (GDALDataset* raster : rasters) GDALClose(raster);
    rasters.clear();
    orientations.clear();
    approximate.clear();
    delete terrain;
    delete survey;
  }

  SearchInput InputFor(int image) const {
    SearchInput input;
    input.image = {image, &approximate[image], rasters[image], ""};
    for (int other = 0; other < static_cast<int>(rasters.size()); ++other)
      if (other != image)
        input.neighbours.push_back({other, &approximate[other], rasters[other], ""});
    input.terrain = terrain;
    input.local_origin = origin;
    input.settings.template_size = 16;
    input.settings.search_area_size = 64;
    input.settings.min_correlation = 0.55;
    input.settings.max_points_to_search = 36;
    return input;
  }

  // Distance of each neighbour measurement from the true correspondence of the
  // point's first measurement: its ray cast onto the generator's terrain with
  // the true orientation.
  static std::vector<double> Errors(const SearchResult& result) {
    std::vector<double> errors;
    for (const auto& point : result.points) {
      const CSSBAColl& first = point->measurements[0];
      const auto ground = blockgen::ground_seen(*survey, static_cast<size_t>(first.camera),
                                                {first.x, first.y}, 420.0);
      if (!ground) continue;
      for (size_t m = 1; m < point->measurements.size(); ++m) {
        const CSSBAColl& other = point->measurements[m];
        const Eigen::Vector2d truth = orientations[other.camera].Pt3dToPix(*ground);
        errors.push_back((truth - Eigen::Vector2d(other.x, other.y)).norm());
      }
    }
    return errors;
  }
  // RMS of the errors up to 2 pixels; the share of larger ones (false matches)
  // goes to `wrong`.
  static double Rms(const std::vector<double>& errors, double* wrong = nullptr) {
    double sum = 0;
    int count = 0;
    for (double e : errors)
      if (e <= 2.0) sum += e * e, ++count;
    if (wrong != nullptr) *wrong = errors.empty() ? 1 : 1.0 - double(count) / errors.size();
    return count == 0 ? 0 : std::sqrt(sum / count);
  }

  static inline blockgen::Survey* survey = nullptr;
  static inline std::vector<GDALDataset*> rasters;
  static inline std::vector<nvc::COrientation> orientations;  // true
  static inline std::vector<nvc::COrientation> approximate;   // from GPS/IMU
  static inline DemTriangulation* terrain = nullptr;
  static inline const Eigen::Vector3d origin{512000.0, 5290000.0, 0.0};
};

TEST_F(RenderedBlock, MatchesLandOnTheTrueCorrespondencesAndSubpixelIsCloser) {
  SearchInput input = InputFor(1);  // the middle image of the first strip
  const SearchResult whole = SearchTiePoints(input);
  EXPECT_EQ(whole.candidates, 36);
  ASSERT_GE(whole.points.size(), 20u);
  int on_terrain = 0;
  for (const auto& point : whole.points) {
    ASSERT_GE(point->measurements.size(), 2u);
    EXPECT_EQ(point->measurements[0].camera, 1);
    EXPECT_EQ(point->G, 255);
    // Object points are local, near the terrain (the orientations are
    // approximate).
    const double x = point->X + origin.x(), y = point->Y + origin.y();
    on_terrain += std::abs(point->Z - survey->terrain->height(x, y)) < 30.0 ? 1 : 0;
  }
  EXPECT_GE(on_terrain, 0.9 * whole.points.size());
  const std::vector<double> whole_errors = Errors(whole);
  double wrong = 0;
  EXPECT_LT(Rms(whole_errors, &wrong), 0.6);
  EXPECT_LT(wrong, 0.1);

  input.settings.subpixel = true;
  const SearchResult refined = SearchTiePoints(input);
  const std::vector<double> refined_errors = Errors(refined);
  EXPECT_LT(Rms(refined_errors), 0.25);
  EXPECT_LT(Rms(refined_errors), Rms(whole_errors));
  std::printf("whole-pixel RMS %.3f px, sub-pixel RMS %.3f px over %zu / %zu matches\n",
              Rms(whole_errors), Rms(refined_errors), whole_errors.size(), refined_errors.size());
}

TEST_F(RenderedBlock, NeighbourPositionsWithinTheBorderMarginAreNotSearched) {
  SearchInput input = InputFor(0);
  const SearchResult result = SearchTiePoints(input);
  ASSERT_FALSE(result.points.empty());
  // Every neighbour measurement comes from a projection at least s / 2 + 1 = 33
  // pixels inside.
  for (const auto& point : result.points)
    for (size_t m = 1; m < point->measurements.size(); ++m) {
      const CSSBAColl& measurement = point->measurements[m];
      EXPECT_GT(measurement.x, 33 - 2);
      EXPECT_GT(measurement.y, 33 - 2);
      EXPECT_LT(measurement.x, 600 - 33 + 2);
      EXPECT_LT(measurement.y, 400 - 33 + 2);
    }
  // A search area as large as the image leaves no neighbour position inside the
  // margin.
  input.settings.search_area_size = 300;
  input.settings.template_size = 16;
  input.settings.max_points_to_search = 4;
  EXPECT_TRUE(CandidateGrid(input.settings, 600, 400).empty());
}

TEST_F(RenderedBlock, UnreachableThresholdDropsEveryPointAndAbortStopsBeforeTheFirstCandidate) {
  SearchInput input = InputFor(1);
  input.settings.min_correlation = 1.01;  // nothing reaches it
  EXPECT_TRUE(SearchTiePoints(input).points.empty());
  input.keep_going = [] { return false; };
  const SearchResult aborted = SearchTiePoints(input);
  EXPECT_TRUE(aborted.aborted);
  EXPECT_EQ(aborted.candidates, 0);
}

// Every value of the found points, byte for byte, in their order.
std::string Bytes(const SearchResult& result) {
  std::string bytes;
  auto add = [&bytes](const auto& value) {
    bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
  };
  for (const auto& point : result.points) {
    add(point->X), add(point->Y), add(point->Z), add(point->R), add(point->G), add(point->B);
    for (const CSSBAColl& m : point->measurements) add(m.camera), add(m.key), add(m.x), add(m.y);
    bytes += '|';
  }
  return bytes;
}

// The block's rasters written as GeoTIFF files, so that each worker can open
// its own handles.
struct RenderedFiles : RenderedBlock {
  void SetUp() override {
    GDALDriver* tiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    for (size_t i = 0; i < rasters.size(); ++i) {
      paths.push_back(folder / ("image" + std::to_string(i) + ".tif"));
      GDALClose(
          tiff->CreateCopy(paths.back().c_str(), rasters[i], FALSE, nullptr, nullptr, nullptr));
      files.emplace_back(
          GDALDataset::Open(paths.back().c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
      ASSERT_NE(files.back(), nullptr);
    }
  }
  SearchInput FileInputFor(int image) const {
    SearchInput input = InputFor(image);
    input.image.raster = files[image].get();
    input.image.path = paths[image];
    for (SearchImage& neighbour : input.neighbours) {
      neighbour.raster = files[neighbour.index].get();
      neighbour.path = paths[neighbour.index];
    }
    return input;
  }
  test_support::TempFolder folder;
  std::vector<std::string> paths;
  std::vector<GDALDatasetUniquePtr> files;
};

TEST_F(RenderedFiles, WorkersFindTheSameBytesInTheSameOrderAsOneThread) {
  for (bool subpixel : {false, true}) {
    SearchInput input = FileInputFor(1);
    input.settings.subpixel = subpixel;
    input.threads = 1;
    const SearchResult alone = SearchTiePoints(input);
    ASSERT_GE(alone.points.size(), 20u);
    EXPECT_EQ(alone.workers, 1);
    for (int threads : {2, 3, 7}) {
      input.threads = threads;
      const SearchResult shared = SearchTiePoints(input);
      EXPECT_EQ(shared.workers, threads) << threads;
      EXPECT_EQ(shared.candidates, 36);
      EXPECT_TRUE(Bytes(shared) == Bytes(alone)) << threads << " threads, subpixel " << subpixel;
    }
  }
}

TEST_F(RenderedFiles, WorkerHandlesStayOpenUntilClosedAndRastersWithoutFilesSearchAlone) {
  WorkerRasters kept;
  SearchInput input = FileInputFor(0);
  input.threads = 3;
  input.worker_rasters = &kept;
  const SearchResult first = SearchTiePoints(input);
  EXPECT_EQ(first.workers, 3);
  // Workers 1 and 2 hold one handle on each of the six images.
  EXPECT_EQ(kept.OpenCount(), 12);
  EXPECT_TRUE(Bytes(SearchTiePoints(input)) == Bytes(first));
  EXPECT_EQ(kept.OpenCount(), 12);
  kept.Close(4);
  EXPECT_EQ(kept.OpenCount(), 10);

  // Memory rasters have no file to open again: the calling thread searches alone.
  SearchInput memory = InputFor(0);
  memory.threads = 3;
  const SearchResult alone = SearchTiePoints(memory);
  EXPECT_EQ(alone.workers, 1);
  EXPECT_TRUE(Bytes(alone) == Bytes(first));
}

TEST_F(RenderedFiles, AnAbortWhileWorkersRunReturnsNoPoints) {
  SearchInput input = FileInputFor(1);
  input.threads = 2;
  input.settings.max_points_to_search = 400;  // enough work to be still running at the first poll
  int polls = 0;
  input.keep_going = [&polls] { return ++polls < 2; };  // the start passes, the first poll stops
  const SearchResult result = SearchTiePoints(input);
  EXPECT_TRUE(result.aborted);
  EXPECT_TRUE(result.points.empty());
  EXPECT_LT(result.candidates, 400);
  EXPECT_EQ(polls, 2);
}

}  // namespace
}  // namespace vantri::aat
