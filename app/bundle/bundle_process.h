#pragma once
// The bundle process: the block left by the AAT is thinned and cleaned, brought
// onto the measured control points, adjusted with them, and reported
// (Bundle/<project name>.atout with the result files gcpres, cpres, ptres,
// ptics, ptocs and extor; <image>.int / .est in the project folder).
//
// Frames: the exchange files, the refinement and the adjustment work in local
// coordinates (project minus the local origin); after the adjustment the
// orientations, the re-intersected points, the .wcsbro file and every report
// figure are in project coordinates.

#include <Eigen/Core>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "aat/aat_process.h"
#include "report/result_files.h"
#include "ssba/ssba.h"

namespace vantri {
class UserInterface;
}

namespace vantri::bundle {

// Steps of the progress bar: range 0 .. kProgressSteps.
inline constexpr int kProgressSteps = 14;

// The tie points are thinned when there are more per oriented image than the
// setting allows.
bool NeedsThinning(int tie_points, int oriented_images,
                   int max_points_per_image);

// A candidate of a thinning node: its number of measurements and its score
// (mean reprojection distance divided by the number of measurements).
struct ThinningCandidate {
  int measurements = 0;
  double score = 0.0;
};
// The candidate kept at a node: among those with the most measurements, the
// smallest score. -1 when there is none.
int PickThinningCandidate(const std::vector<ThinningCandidate> &candidates);

// Copies of the points that the grid of nodes keeps (at most one per node), in
// node order. `orientations` are indexed by the measurements' camera numbers;
// `visit_node` is called at every node and stops the thinning when it returns
// false.
std::vector<CSSBAPoint>
ThinTiePoints(const std::vector<CSSBAPoint *> &points,
              const std::vector<nvc::COrientation> &orientations,
              int oriented_images, int max_points_per_image,
              int min_measurements,
              const std::function<bool()> &visit_node = {});

// The run on the state of a CAerialPhotogrammetricProcess (see
// CAerialPhotogrammetricProcess:: RunBundle).
class BundleRun {
public:
  explicit BundleRun(CAerialPhotogrammetricProcess &process);
  ~BundleRun();
  BundleRun(const BundleRun &) = delete;
  BundleRun &operator=(const BundleRun &) = delete;

  int Run(const std::string &bro_path);

private:
  struct State;
  bool LoadBlock(const std::string &bro_path);
  bool SelectFromProjectBlock();
  bool RoundTripSelection();
  void GeoreferenceBlock();
  bool Refine();
  bool AdjustOnControlPoints();
  void WarnAboutWeaklyTiedImages();
  bool BuildCameraList();
  void ReadControlPoints();
  void FitControlRigidly();
  bool RunControlAdjustment();
  void StoreAdjustedOrientations();
  void ReintersectSelection();
  bool WriteReportAndResults();
  void WriteOrientationFiles();
  void Advance();
  void Log(const std::string &text);
  bool Fail(const std::string &text);

  CAerialPhotogrammetricProcess &process_;
  std::unique_ptr<State> state_;
};

// Start of the bundle command: "Run tie points searching before!" (warning)
// when the project has no tie-point block (<project name>.bro) yet; otherwise
// the run, followed by the HTML accuracy report (Bundle/<name>.html) with the
// run's statistics, whether the run succeeded or not. 1 / 0. The caller saves
// the project after a successful run.
int StartBundle(CVantriProject &project, UserInterface &ui,
                std::string *message = nullptr);

// The statistics of a bundle run for the HTML report: the control-point
// adjustment's a-posteriori sigma 0 (pixels), iterations and convergence; zero
// and "not converged" when the run stopped before the adjustment succeeded.
report::BundleRunStatistics
RunStatisticsOf(const CAerialPhotogrammetricProcess &process, bool succeeded);

// vantri-cli bundle: opens the project file, runs the bundle adjustment, saves
// the project and, with `notify`, mails the completion. False when the run
// fails, its message printed on `err`.
bool RunBundleOnProjectFile(const std::string &project_path, bool notify,
                            UserInterface &ui, std::ostream &out,
                            std::ostream &err);

} // namespace vantri::bundle
