#include "aat/tie_point_search.h"

#include <Eigen/Dense>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <opencv2/imgproc.hpp>
#include <optional>
#include <system_error>
#include <thread>

#include "photogrammetry/raster_roi.h"
#include "project/process_settings.h"

namespace vantri::aat {

namespace {

// A height jump larger than this between the terrain and the intersected point
// drops the point.
constexpr double kMaxHeightJump = 1000.0;

// Patch pixels use OpenCV indices (centre of the top-left pixel at 0, 0); image
// positions use the corner convention of the orientations (centre of the
// top-left pixel at 0.5, 0.5).
constexpr double kHalfPixel = 0.5;

// The patch pixel that lies on the ground point: the centre one of an odd side,
// the one right and below the centre of an even side.
double PatchCentre(int side) { return side / 2; }

// A region of a raster resampled onto a ground-aligned grid (north up, east
// right) around a ground point, and the way back from patch pixels to image
// pixels.
struct GroundPatch {
  cv::Mat patch;
  cv::Matx33d patch_to_region;
  cv::Point region_corner;

  // Image pixel (corner convention) of a patch position (OpenCV indices).
  Eigen::Vector2d ToImage(double x, double y) const {
    const cv::Vec3d h = patch_to_region * cv::Vec3d(x, y, 1.0);
    return {h[0] / h[2] + kHalfPixel + region_corner.x, h[1] / h[2] + kHalfPixel + region_corner.y};
  }
};

// Reads the side x side region at `corner` and resamples it onto a
// ground-aligned grid of spacing `gsd` whose pixel PatchCentre(side) lies on
// `ground` (project coordinates): so patches of any side sample the same ground
// positions. False when the region cannot be read or the corners do not
// project.
bool ResampleGroundAligned(GDALDataset* raster, const nvc::COrientation& orientation,
                           const Eigen::Vector3d& ground, double gsd, cv::Point corner, int side,
                           GroundPatch* out) {
  cv::Mat region(side, side, CV_8UC1);
  if (GDALExtractROI(raster, &region, cv::Rect(corner.x, corner.y, side, side),
                     photogrammetry::kRoiStretchMinMax) == 0)
    return false;
  // Patch edges (pixel indices -0.5 and side - 0.5) on the ground: east with
  // the column, north against the row.
  const double centre = PatchCentre(side);
  const double west = (-kHalfPixel - centre) * gsd, east = (side - kHalfPixel - centre) * gsd;
  const double north = -west, south = -east;
  // Ground corners (-X, -Y), (+X, -Y), (+X, +Y), (-X, +Y) onto the patch
  // corners bottom-left, bottom-right, top-right, top-left.
  const Eigen::Vector3d ground_corners[4] = {
      ground + Eigen::Vector3d(west, south, 0), ground + Eigen::Vector3d(east, south, 0),
      ground + Eigen::Vector3d(east, north, 0), ground + Eigen::Vector3d(west, north, 0)};
  const double low = -kHalfPixel, high = side - kHalfPixel;
  const cv::Point2f patch_corners[4] = {{float(low), float(high)},
                                        {float(high), float(high)},
                                        {float(high), float(low)},
                                        {float(low), float(low)}};
  cv::Point2f image_corners[4];
  for (int k = 0; k < 4; ++k) {
    const Eigen::Vector2d pixel = orientation.Pt3dToPix(ground_corners[k]);
    if (!pixel.allFinite()) return false;
    image_corners[k] = {float(pixel.x() - corner.x - kHalfPixel),
                        float(pixel.y() - corner.y - kHalfPixel)};
  }
  const cv::Mat transform = cv::getPerspectiveTransform(image_corners, patch_corners);
  cv::Mat inverse;
  if (cv::invert(transform, inverse, cv::DECOMP_LU) == 0) return false;
  cv::warpPerspective(region, out->patch, transform, cv::Size(side, side), cv::INTER_LINEAR,
                      cv::BORDER_CONSTANT, cv::Scalar(0));
  out->patch_to_region = cv::Matx33d(inverse);
  out->region_corner = corner;
  return true;
}

// Ground sample distance of an orientation over a ground point: height above it
// times pixel size over focal length (the interior orientation's focal length
// in pixels is their ratio).
double GroundSampleDistance(const nvc::COrientation& orientation, const Eigen::Vector3d& ground) {
  return (orientation.GetN().z() - ground.z()) / orientation.GetFocalPixels();
}

struct Candidate {
  Eigen::Vector2d pixel;
  std::optional<Eigen::Vector3d> ground;  // project coordinates; empty when the ray misses
};

// One worker's raster handles: the searched image first, then the neighbours in
// the input's order.
using RasterHandles = std::vector<GDALDataset*>;

// Searches one candidate; the point without its index, or null when dropped.
std::unique_ptr<CSSBAPoint> SearchGroundCandidate(const SearchInput& input,
                                                  const RasterHandles& rasters,
                                                  const Eigen::Vector2d& candidate_pixel,
                                                  const Eigen::Vector3d& ground) {
  const SearchSettings& settings = input.settings;
  const nvc::COrientation& own = *input.image.orientation;
  const int p = static_cast<int>(std::lround(std::sqrt(2.0) * settings.template_size));
  const int s = settings.search_area_size;
  const double gsd = GroundSampleDistance(own, ground);
  if (!(gsd > 0)) return nullptr;

  GroundPatch reference;
  const cv::Point rounded(static_cast<int>(std::lround(candidate_pixel.x())),
                          static_cast<int>(std::lround(candidate_pixel.y())));
  if (!ResampleGroundAligned(rasters[0], own, ground, gsd, rounded - cv::Point(p / 2, p / 2), p,
                             &reference))
    return nullptr;

  auto point = std::make_unique<CSSBAPoint>();
  point->R = 0, point->G = 255, point->B = 255;
  point->measurements.emplace_back(input.image.index, CSSBAColl::kDefaultKey, candidate_pixel.x(),
                                   candidate_pixel.y());
  std::vector<nvc::COrientation> rays = {own};
  std::vector<std::optional<Eigen::Vector2d>> ray_pixels = {candidate_pixel};

  // The search region must stay inside the neighbour: margin s / 2 + 1 on every
  // side.
  const double margin = s / 2 + 1;
  for (size_t k = 0; k < input.neighbours.size(); ++k) {
    const SearchImage& neighbour = input.neighbours[k];
    const nvc::COrientation& other = *neighbour.orientation;
    const Eigen::Vector2d projected = other.Pt3dToPix(ground);
    if (!projected.allFinite() || projected.x() < margin || projected.y() < margin ||
        projected.x() > other.GetWidth() - margin || projected.y() > other.GetHeight() - margin)
      continue;
    const cv::Point centre(static_cast<int>(std::lround(projected.x())),
                           static_cast<int>(std::lround(projected.y())));
    // Both patches are resampled with the new image's ground sample distance,
    // so that they lie on the same ground grid.
    GroundPatch search;
    if (!ResampleGroundAligned(rasters[k + 1], other, ground, gsd, centre - cv::Point(s / 2, s / 2),
                               s, &search))
      continue;
    const PatchMatch match =
        MatchPatches(reference.patch, search.patch, settings.template_size, settings.subpixel);
    if (match.score < settings.min_correlation) continue;
    const Eigen::Vector2d measured = search.ToImage(match.x, match.y);
    if (!measured.allFinite()) continue;
    point->measurements.emplace_back(neighbour.index, CSSBAColl::kDefaultKey, measured.x(),
                                     measured.y());
    rays.push_back(other);
    ray_pixels.push_back(measured);
  }
  if (point->measurements.size() < 2) return nullptr;

  const nvc::CMultiImageIntersection intersection(rays);
  Eigen::Vector3d intersected;
  if (intersection.Intersect(ray_pixels, &intersected) == 0) return nullptr;
  if (intersected.z() - ground.z() > kMaxHeightJump) return nullptr;
  const Eigen::Vector3d local = intersected - input.local_origin;
  point->X = local.x(), point->Y = local.y(), point->Z = local.z();
  return point;
}

}  // namespace

SearchSettings SearchSettingsFrom(const project::VantriTypedSettings& typed) {
  SearchSettings settings;
  settings.template_size = typed.template_size;
  settings.search_area_size = typed.search_area_size;
  settings.min_correlation = typed.correlation_threshold;
  settings.max_points_to_search = typed.max_points_to_search;
  settings.subpixel = typed.subpixel_matching;
  return settings;
}

std::vector<cv::Point> CandidateGrid(const SearchSettings& settings, int width, int height) {
  if (settings.max_points_to_search < 4) return {};
  const int n = static_cast<int>(std::sqrt(static_cast<double>(settings.max_points_to_search)));
  const int m = static_cast<int>(std::lround(0.75 * settings.search_area_size));
  if (n < 2 || width - 2 * m < 0 || height - 2 * m < 0) return {};
  const int sx = (width - 2 * m) / (n - 1), sy = (height - 2 * m) / (n - 1);
  std::vector<cv::Point> grid;
  grid.reserve(static_cast<size_t>(n) * n);
  for (int j = 0; j < n; ++j)
    for (int i = 0; i < n; ++i) grid.emplace_back(m + i * sx, m + j * sy);
  return grid;
}

Eigen::Vector2d QuadraticPeakOffset(const float v[9]) {
  // f(x, y) = a + b x + c y + d x^2 + e x y + f y^2 fitted over x, y in {-1, 0,
  // 1}; the sums are the least-squares solution on this grid (orthogonal
  // polynomials).
  auto at = [v](int x, int y) { return static_cast<double>(v[(y + 1) * 3 + (x + 1)]); };
  double b = 0, c = 0, d = 0, e = 0, f = 0;
  for (int y = -1; y <= 1; ++y)
    for (int x = -1; x <= 1; ++x) {
      const double value = at(x, y);
      b += x * value / 6.0;
      c += y * value / 6.0;
      d += (x * x - 2.0 / 3.0) * value / 2.0;
      f += (y * y - 2.0 / 3.0) * value / 2.0;
      e += x * y * value / 4.0;
    }
  const double determinant = 4.0 * d * f - e * e;
  Eigen::Vector2d offset;
  if (d < 0 && determinant > 0) {
    offset = {(-2.0 * f * b + e * c) / determinant, (-2.0 * d * c + e * b) / determinant};
    if (std::abs(offset.x()) <= 1.0 && std::abs(offset.y()) <= 1.0)
      return offset.cwiseMax(-0.5).cwiseMin(0.5);
  }
  auto parabola = [](double minus, double centre, double plus) {
    const double curvature = minus - 2.0 * centre + plus;
    return curvature < 0 ? std::clamp(0.5 * (minus - plus) / curvature, -0.5, 0.5) : 0.0;
  };
  return {parabola(at(-1, 0), at(0, 0), at(1, 0)), parabola(at(0, -1), at(0, 0), at(0, 1))};
}

namespace {

constexpr int kLsmMaxIterations = 20;
constexpr double kLsmConverged = 1e-3;  // pixels of shift per iteration
constexpr double kLsmMaxShift = 1.5;    // pixels away from the correlation peak
constexpr double kLsmMaxShape = 0.3;    // largest affine shape parameter

// Bilinear sample of a float image; false outside the pixel centres.
bool Sample(const cv::Mat& image, double x, double y, float* value) {
  if (!(x >= 0.0 && y >= 0.0 && x <= image.cols - 1.0 && y <= image.rows - 1.0)) return false;
  const int x0 = std::min(static_cast<int>(x), image.cols - 2);
  const int y0 = std::min(static_cast<int>(y), image.rows - 2);
  const double fx = x - x0, fy = y - y0;
  const float* top = image.ptr<float>(y0) + x0;
  const float* bottom = image.ptr<float>(y0 + 1) + x0;
  *value = static_cast<float>((1 - fy) * ((1 - fx) * top[0] + fx * top[1]) +
                              fy * ((1 - fx) * bottom[0] + fx * bottom[1]));
  return true;
}

}  // namespace

bool LeastSquaresMatch(const cv::Mat& templ, const cv::Mat& search, const Eigen::Vector2d& start,
                       const Eigen::Vector2d& point, Eigen::Vector2d* matched) {
  if (templ.empty() || templ.cols < 3 || templ.rows < 3 || search.cols < 3 || search.rows < 3)
    return false;
  cv::Mat t, s, sx, sy;
  templ.convertTo(t, CV_32F);
  search.convertTo(s, CV_32F);
  cv::Sobel(s, sx, CV_32F, 1, 0, 1, 0.5);
  cv::Sobel(s, sy, CV_32F, 0, 1, 1, 0.5);
  const double cx = (templ.cols - 1) / 2.0, cy = (templ.rows - 1) / 2.0;
  // Parameters: shift (a0, b0) of the template centre from `start` + (cx, cy), the affine shape
  // (a1, a2, b1, b2) and the radiometric gain and offset.
  Eigen::Matrix<double, 8, 1> p;
  p << 0, 0, 0, 0, 0, 0, 1, 0;
  const Eigen::Vector2d centre = start + Eigen::Vector2d(cx, cy);
  for (int iteration = 0; iteration < kLsmMaxIterations; ++iteration) {
    Eigen::Matrix<double, 8, 8> normal = Eigen::Matrix<double, 8, 8>::Zero();
    Eigen::Matrix<double, 8, 1> right = Eigen::Matrix<double, 8, 1>::Zero();
    for (int row = 0; row < t.rows; ++row) {
      const double v = row - cy;
      for (int col = 0; col < t.cols; ++col) {
        const double u = col - cx;
        const double x = centre.x() + u + p[0] + p[1] * u + p[2] * v;
        const double y = centre.y() + v + p[3] + p[4] * u + p[5] * v;
        float value, gx, gy;
        if (!Sample(s, x, y, &value) || !Sample(sx, x, y, &gx) || !Sample(sy, x, y, &gy))
          return false;
        Eigen::Matrix<double, 8, 1> j;
        j << p[6] * gx, p[6] * gx * u, p[6] * gx * v, p[6] * gy, p[6] * gy * u, p[6] * gy * v,
            value, 1.0;
        const double residual = t.at<float>(row, col) - (p[6] * value + p[7]);
        normal.selfadjointView<Eigen::Lower>().rankUpdate(j);
        right += j * residual;
      }
    }
    const Eigen::LDLT<Eigen::Matrix<double, 8, 8>> solver(normal.selfadjointView<Eigen::Lower>());
    // A patch without texture in some direction leaves the shift undetermined.
    if (solver.info() != Eigen::Success ||
        !(solver.vectorD().minCoeff() > 1e-9 * solver.vectorD().maxCoeff()))
      return false;
    const Eigen::Matrix<double, 8, 1> step = solver.solve(right);
    if (!step.allFinite()) return false;
    p += step;
    if (std::abs(p[0]) > kLsmMaxShift || std::abs(p[3]) > kLsmMaxShift || !(p[6] > 0.0) ||
        std::max({std::abs(p[1]), std::abs(p[2]), std::abs(p[4]), std::abs(p[5])}) > kLsmMaxShape)
      return false;
    if (std::hypot(step[0], step[3]) < kLsmConverged) {
      const double u = point.x() - cx, v = point.y() - cy;
      *matched = {centre.x() + u + p[0] + p[1] * u + p[2] * v,
                  centre.y() + v + p[3] + p[4] * u + p[5] * v};
      return true;
    }
  }
  return false;
}

PatchMatch MatchPatches(const cv::Mat& reference, const cv::Mat& search, int template_size,
                        bool subpixel) {
  PatchMatch match;
  const int t = template_size;
  if (t <= 0 || reference.cols < t || reference.rows < t) return match;
  // The search window is the whole search patch, centred on itself.
  if (search.cols < 2 * t || search.rows < 2 * t) return match;
  const cv::Rect template_rect((reference.cols - t) / 2, (reference.rows - t) / 2, t, t);
  cv::Mat scores;
  cv::matchTemplate(search, reference(template_rect), scores, cv::TM_CCOEFF_NORMED);
  double best = 0;
  cv::Point at;
  cv::minMaxLoc(scores, nullptr, &best, nullptr, &at);
  if (!std::isfinite(best)) return match;
  Eigen::Vector2d peak(at.x, at.y);
  if (subpixel && at.x > 0 && at.y > 0 && at.x + 1 < scores.cols && at.y + 1 < scores.rows) {
    float neighbourhood[9];
    for (int dy = -1; dy <= 1; ++dy)
      for (int dx = -1; dx <= 1; ++dx)
        neighbourhood[(dy + 1) * 3 + dx + 1] = scores.at<float>(at.y + dy, at.x + dx);
    peak += QuadraticPeakOffset(neighbourhood);
  }
  // The reference patch's ground pixel relative to the template's corner.
  const double centre_x = PatchCentre(reference.cols) - template_rect.x;
  const double centre_y = PatchCentre(reference.rows) - template_rect.y;
  match.x = peak.x() + centre_x;
  match.y = peak.y() + centre_y;
  match.score = best;
  // Least-squares matching from the fitted peak; where it does not converge the peak stays.
  Eigen::Vector2d matched;
  if (subpixel &&
      LeastSquaresMatch(reference(template_rect), search, peak, {centre_x, centre_y}, &matched))
    match.x = matched.x(), match.y = matched.y();
  return match;
}

GDALDataset* WorkerRasters::Get(int worker, int index, const std::string& path) {
  GDALDatasetUniquePtr& slot = handles_[{index, worker}];
  if (slot == nullptr && !path.empty())
    slot.reset(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
  return slot.get();
}

void WorkerRasters::Close(int index) {
  for (auto it = handles_.begin(); it != handles_.end();)
    it = it->first.first == index ? handles_.erase(it) : std::next(it);
}

int SearchThreadCount(int requested) {
  if (requested > 0) return requested;
  return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

namespace {

// A dropped candidate also when OpenCV or an allocation fails on it: nothing
// may escape a worker thread.
std::unique_ptr<CSSBAPoint> SearchCandidate(const SearchInput& input, const RasterHandles& rasters,
                                            const Candidate& candidate) {
  if (!candidate.ground) return nullptr;
  try {
    return SearchGroundCandidate(input, rasters, candidate.pixel, *candidate.ground);
  } catch (const std::exception&) {
    return nullptr;
  }
}

// The grid positions with their ground points. The terrain's cell locator keeps
// scratch state, so this runs on the calling thread before any worker starts.
std::vector<Candidate> LocateCandidates(const SearchInput& input) {
  const nvc::COrientation& own = *input.image.orientation;
  std::vector<Candidate> candidates;
  for (const cv::Point& position : CandidateGrid(input.settings, own.GetWidth(), own.GetHeight())) {
    Candidate candidate;
    candidate.pixel = {double(position.x), double(position.y)};
    Eigen::Vector3d hit;
    if (input.terrain->IntersectRay(own.GetN() - input.local_origin,
                                    own.PixToVec3d(candidate.pixel), &hit))
      candidate.ground = hit + input.local_origin;
    candidates.push_back(candidate);
  }
  return candidates;
}

// Handles for workers 1 .. wanted - 1 (worker 0 reads through the caller's
// handles); the workers that got all of theirs, at least the first.
std::vector<RasterHandles> WorkerHandles(const SearchInput& input, int wanted,
                                         WorkerRasters* rasters) {
  std::vector<RasterHandles> handles(1);
  handles[0].push_back(input.image.raster);
  for (const SearchImage& neighbour : input.neighbours) handles[0].push_back(neighbour.raster);
  for (int worker = 1; worker < wanted; ++worker) {
    RasterHandles own;
    own.push_back(rasters->Get(worker, input.image.index, input.image.path));
    for (const SearchImage& neighbour : input.neighbours)
      own.push_back(rasters->Get(worker, neighbour.index, neighbour.path));
    if (std::find(own.begin(), own.end(), nullptr) != own.end()) break;
    handles.push_back(std::move(own));
  }
  return handles;
}

// The calling thread searches every candidate itself, polling before each.
void SearchAlone(const SearchInput& input, const RasterHandles& rasters,
                 const std::vector<Candidate>& candidates,
                 std::vector<std::unique_ptr<CSSBAPoint>>* found, SearchResult* result) {
  for (size_t i = 0; i < candidates.size(); ++i) {
    if (input.keep_going && !input.keep_going()) {
      result->aborted = true;
      return;
    }
    ++result->candidates;
    (*found)[i] = SearchCandidate(input, rasters, candidates[i]);
  }
}

// Workers take the candidates in turn and put each result into its own slot;
// the calling thread polls `keep_going` after each finished candidate and at
// least every 100 ms, and stops the workers when it returns false.
void SearchWithWorkers(const SearchInput& input, const std::vector<RasterHandles>& handles,
                       const std::vector<Candidate>& candidates,
                       std::vector<std::unique_ptr<CSSBAPoint>>* found, SearchResult* result) {
  const int count = static_cast<int>(candidates.size());
  std::atomic<int> next{0};
  std::atomic<bool> stop{false};
  std::mutex mutex;
  std::condition_variable finished_one;
  int finished = 0, running = 0;
  auto work = [&](const RasterHandles& rasters) {
    for (int i = next++; i < count && !stop; i = next++) {
      (*found)[i] = SearchCandidate(input, rasters, candidates[i]);
      std::lock_guard<std::mutex> lock(mutex);
      ++finished;
      finished_one.notify_one();
    }
    std::lock_guard<std::mutex> lock(mutex);
    --running;
    finished_one.notify_one();
  };
  std::vector<std::thread> workers;
  for (const RasterHandles& rasters : handles) {
    // A thread the system refuses leaves the candidates to those already running.
    try {
      std::lock_guard<std::mutex> lock(mutex);
      workers.emplace_back(work, std::cref(rasters));
      ++running;
    } catch (const std::system_error&) {
      break;
    }
  }
  if (workers.empty()) {
    SearchAlone(input, handles[0], candidates, found, result);
    return;
  }
  int seen = 0;
  for (;;) {
    std::unique_lock<std::mutex> lock(mutex);
    finished_one.wait_for(lock, std::chrono::milliseconds(100),
                          [&] { return finished != seen || running == 0; });
    seen = finished;
    if (running == 0) break;
    lock.unlock();
    if (!stop && input.keep_going && !input.keep_going()) {
      stop = true;
      result->aborted = true;
    }
  }
  for (std::thread& worker : workers) worker.join();
  result->candidates = std::min(count, next.load());
  result->workers = static_cast<int>(workers.size());
}

bool HasPaths(const SearchInput& input) {
  if (input.image.path.empty()) return false;
  for (const SearchImage& neighbour : input.neighbours)
    if (neighbour.path.empty()) return false;
  return true;
}

}  // namespace

SearchResult SearchTiePoints(const SearchInput& input) {
  SearchResult result;
  if (input.image.orientation == nullptr || input.image.raster == nullptr ||
      input.terrain == nullptr)
    return result;
  const std::vector<Candidate> candidates = LocateCandidates(input);
  std::vector<std::unique_ptr<CSSBAPoint>> found(candidates.size());
  const int wanted =
      std::min(SearchThreadCount(input.threads), static_cast<int>(candidates.size()));
  WorkerRasters own_rasters;
  WorkerRasters* rasters = input.worker_rasters != nullptr ? input.worker_rasters : &own_rasters;
  const std::vector<RasterHandles> handles = wanted > 1 && HasPaths(input)
                                                 ? WorkerHandles(input, wanted, rasters)
                                                 : WorkerHandles(input, 1, rasters);
  if (handles.size() == 1)
    SearchAlone(input, handles[0], candidates, &found, &result);
  else if (input.keep_going && !input.keep_going())
    result.aborted = true;
  else
    SearchWithWorkers(input, handles, candidates, &found, &result);
  if (result.aborted) return result;
  // Candidate order, whichever worker found them.
  for (auto& point : found)
    if (point != nullptr) result.points.push_back(std::move(point));
  return result;
}

}  // namespace vantri::aat
