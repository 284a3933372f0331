#pragma once
// The tie-point search of one image added by the AAT run: a fixed grid of
// candidate positions is turned into tie points by locating each candidate on
// the terrain, resampling ground-aligned patches around it in the new image and
// in every neighbour, matching them by normalised cross-correlation and
// intersecting the measurements.
//
// The search of one image depends only on its arguments and returns its new
// points, so the images of a block can be searched anywhere and their results
// concatenated in image order.

#include <gdal_priv.h>

#include <Eigen/Core>
#include <functional>
#include <map>
#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <utility>
#include <vector>

#include "aat/dem_triangulation.h"
#include "photogrammetry/orientation.h"
#include "ssba/ssba.h"

namespace vantri::project {
struct VantriTypedSettings;
}  // namespace vantri::project

namespace vantri::aat {

struct SearchSettings {
  int template_size = 64;         // pixels
  int search_area_size = 640;     // pixels
  double min_correlation = 0.55;  // a score equal to it is accepted
  int max_points_to_search = 25;
  // Sub-pixel refinement: a quadratic fit of the correlation maximum, then least-squares matching.
  bool subpixel = false;
};
SearchSettings SearchSettingsFrom(const project::VantriTypedSettings& typed);

// The candidate grid: n x n positions (m + i sx, m + j sy), n = trunc(sqrt(max
// points)), m = round(0.75 s), sx = (width - 2m) / (n - 1), sy = (height - 2m)
// / (n - 1) (integer division). Empty when n < 2 or the raster is too small for
// the margins.
std::vector<cv::Point> CandidateGrid(const SearchSettings& settings, int width, int height);

// One image taking part in a search: its project index, approximate orientation
// (project coordinates, not owned), open raster (not owned; read by the first
// worker only) and the raster's file, which further workers open for
// themselves (GDAL datasets must not be shared between threads).
struct SearchImage {
  int index = -1;
  const nvc::COrientation* orientation = nullptr;
  GDALDataset* raster = nullptr;
  std::string path;
};

// Read-only raster handles of the search workers beyond the first, by worker
// and image. The AAT run keeps them between the images it adds, so that a
// neighbour's raster is opened once per worker while it stays a neighbour.
// Used from the calling thread only.
class WorkerRasters {
 public:
  // Worker `worker`'s handle on image `index`, opened read-only from `path` on
  // first use; null when it cannot be opened.
  GDALDataset* Get(int worker, int index, const std::string& path);
  // Closes every worker's handle on an image.
  void Close(int index);
  void Clear() { handles_.clear(); }
  int OpenCount() const { return static_cast<int>(handles_.size()); }

 private:
  std::map<std::pair<int, int>, GDALDatasetUniquePtr> handles_;  // (image, worker)
};

// The worker count for a requested one: 0 or less means the hardware threads.
int SearchThreadCount(int requested);

struct SearchInput {
  SearchImage image;
  std::vector<SearchImage> neighbours;        // in project order
  const DemTriangulation* terrain = nullptr;  // local coordinates
  Eigen::Vector3d local_origin = Eigen::Vector3d::Zero();
  SearchSettings settings;
  // Called on the calling thread before each candidate, and with several
  // workers at least every 100 ms while they run (the UI pumps messages
  // there); false ends the search.
  std::function<bool()> keep_going;
  // Worker threads that share the candidates (0: the hardware threads). The
  // calling thread only polls `keep_going` while they run. The new points,
  // their order and every value in them are the same for any count. With one
  // worker, or when an image has no path, the calling thread searches alone.
  int threads = 0;
  // Handles of the workers beyond the first, kept by the caller between
  // searches; null: opened for this search only.
  WorkerRasters* worker_rasters = nullptr;
};

struct SearchResult {
  // New tie points in candidate order: object point in local coordinates,
  // colour (0, 255, 255), first measurement in the searched image, then one per
  // matching neighbour. Point indices are left for the caller's list.
  std::vector<std::unique_ptr<CSSBAPoint>> points;
  int candidates = 0;  // grid positions looked at
  int workers = 1;     // threads that searched them
  bool aborted = false;
};

// Searches the candidate grid of one image against its neighbours. Failures of
// single candidates or neighbours (ray misses the terrain, region outside the
// raster, score below the threshold, height jump over 1000) drop them silently.
SearchResult SearchTiePoints(const SearchInput& input);

// ---- Building blocks, exposed for the tests ----

// Normalised cross-correlation of the central template of `reference` (side
// template_size) over `search` (both 8-bit, ground-aligned). The position is
// that of the reference patch's centre pixel in `search`, in OpenCV pixel
// indices (centre of the top-left pixel at 0, 0); `score` is -1 when the search
// patch is smaller than twice the template.
struct PatchMatch {
  double x = 0, y = 0;
  double score = -1;
};
PatchMatch MatchPatches(const cv::Mat& reference, const cv::Mat& search, int template_size,
                        bool subpixel);

// Least-squares matching (Gruen's adaptive least-squares correlation) of `templ` in `search`
// (8-bit): the template is fitted to the search patch by an affine geometric and a linear
// radiometric transformation with Gauss-Newton steps on bilinear samples, starting with the
// template's top-left pixel at `start` (OpenCV indices of `search`). `matched` receives the search
// position of the template position `point`. False when it does not converge within 20 steps,
// moves more than 1.5 pixels from the start, distorts the template by more than 30 %, or leaves
// the search patch.
bool LeastSquaresMatch(const cv::Mat& templ, const cv::Mat& search, const Eigen::Vector2d& start,
                       const Eigen::Vector2d& point, Eigen::Vector2d* matched);

// Offset of the maximum of a 3 x 3 neighbourhood (row-major values, centre the
// largest) from its centre by a least-squares quadratic surface; each component
// within [-0.5, 0.5]. Falls back to one parabola per axis when the surface has
// no maximum inside the cell.
Eigen::Vector2d QuadraticPeakOffset(const float values[9]);

}  // namespace vantri::aat
