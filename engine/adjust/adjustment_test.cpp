#include "adjust/adjustment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "adjust/block_simulation_test_support.h"
#include "input/readers.h"
#include "lsq/ls_params.h"
#include "report/report_sections.h"

namespace bravik {
namespace {

const LSParams kDefaults;  // the settings a run starts with

using testing_support::BlockSimulator;
using testing_support::CameraKind;
using testing_support::SimulatedBlock;
using testing_support::SimulationSettings;

class AdjustmentTest : public ::testing::Test {};

std::string lineAfter(const std::string& text, const std::string& label) {
  const std::size_t start = text.rfind(label);
  if (start == std::string::npos) return "";
  const std::size_t end = text.find('\n', start);
  return text.substr(start + label.size(), end - start - label.size());
}

struct RunResult {
  int initialized = 0;
  int iterated = 0;
  std::string report;
};

RunResult adjust(SimulatedBlock& /*simulated*/, Adjustment& adjustment) {
  std::ostringstream report;
  RunResult result;
  result.initialized = adjustment.initialize(report);
  if (result.initialized == 1) result.iterated = adjustment.iterate(report);
  result.report = report.str();
  return result;
}

void expectOrientationsNearTruth(const SimulatedBlock& simulated, double positionTolerance,
                                 double angleTolerance) {
  for (const ImageGeometry* geometry : simulated.block->geometries.items()) {
    const std::vector<double>& truth = simulated.truth.orientations.at(geometry->id());
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(geometry->p[j], truth[j], positionTolerance);
    for (int j = 3; j < 6; ++j) EXPECT_NEAR(geometry->p[j], truth[j], angleTolerance);
  }
}

// Planimetric and height errors of the adjusted points against the truth.
void expectPointsNearTruth(const SimulatedBlock& simulated, double xyTolerance, double zTolerance) {
  for (const ObjectPoint* point : simulated.block->objectPoints.items()) {
    const Vec3& truth = simulated.truth.points.at(point->id());
    EXPECT_NEAR(point->xyz[0], truth[0], xyTolerance) << point->id();
    EXPECT_NEAR(point->xyz[1], truth[1], xyTolerance) << point->id();
    EXPECT_NEAR(point->xyz[2], truth[2], zTolerance) << point->id();
  }
}

void expectCountsMatchBlock(const SimulatedBlock& simulated, const AdjustmentState& state) {
  const Block& block = *simulated.block;
  const int points = static_cast<int>(simulated.truth.points.size());
  const int images = block.images.count();
  const AdjustmentCounts& counts = state.counts;
  EXPECT_EQ(counts.observations, 2 * simulated.imagePointCount);
  EXPECT_EQ(counts.unknowns, 3 * points + 6 * images);
  EXPECT_EQ(counts.observed, 3 * 4);
  EXPECT_EQ(counts.eliminated, 3 * 2);
  EXPECT_EQ(counts.constraints, 0);
  EXPECT_EQ(counts.redundancy(), 2 * simulated.imagePointCount + 18 - 3 * points - 6 * images);
}

TEST_F(AdjustmentTest, FrameBlockConvergesToTheTruthWithSigmaZeroOfTheImageNoise) {
  SimulatedBlock simulated = BlockSimulator(SimulationSettings{}).build();
  Adjustment adjustment(*simulated.block);
  const RunResult run = adjust(simulated, adjustment);
  ASSERT_EQ(run.initialized, 1) << run.report;
  ASSERT_EQ(run.iterated, 1) << run.report;

  const AdjustmentState& state = adjustment.state();
  EXPECT_TRUE(state.converged);
  EXPECT_LT(state.iterations, simulated.block->settings.maxIterations);
  EXPECT_NE(run.report.find("*** Iteration criterion limit has been reached."), std::string::npos);
  EXPECT_NEAR(state.sigma0 / 3e-6, 1.0, 0.05);
  expectCountsMatchBlock(simulated, state);
  // Pinned for the seed: every simulated point and image takes part.
  EXPECT_EQ(simulated.block->images.count(), 8);
  EXPECT_EQ(simulated.block->objectPoints.count(), 348);
  EXPECT_EQ(state.counts.observations, 1942);
  EXPECT_EQ(state.counts.unknowns, 1092);
  EXPECT_EQ(state.counts.redundancy(), 868);
  EXPECT_EQ(lineAfter(run.report, "Redundancy              :  "), "868");

  // 3 um at the image scale of about 1:9800 is 3 cm; heights are weaker by H/B.
  expectOrientationsNearTruth(simulated, 0.5, 3e-4);
  expectPointsNearTruth(simulated, 0.15, 0.35);
}

TEST_F(AdjustmentTest, CCDBlockWithTwoOtherOrientationClassesConverges) {
  SimulationSettings settings;
  settings.camera = CameraKind::kCCD;
  settings.positionError = 2.0;
  SimulatedBlock simulated = BlockSimulator(settings).build();
  Adjustment adjustment(*simulated.block);
  const RunResult run = adjust(simulated, adjustment);
  ASSERT_EQ(run.iterated, 1) << run.report;

  const AdjustmentState& state = adjustment.state();
  EXPECT_TRUE(state.converged);
  EXPECT_NEAR(state.sigma0 / 3e-6, 1.0, 0.05);
  expectCountsMatchBlock(simulated, state);
  // 3 um at 1:12500 is 3.8 cm. The small footprint correlates the tilts with the
  // projection centres, so single angles scatter more than in the frame block.
  expectOrientationsNearTruth(simulated, 0.5, 2e-3);
  expectPointsNearTruth(simulated, 0.2, 0.6);
}

TEST_F(AdjustmentTest, ControlResidualsAndCheckDifferencesFollowTheirSignConventions) {
  SimulatedBlock simulated = BlockSimulator(SimulationSettings{}).build();
  Adjustment adjustment(*simulated.block);
  ASSERT_EQ(adjust(simulated, adjustment).iterated, 1);

  std::ostringstream report, ext, ocs, res, apset, gcpres, chp;
  adjustment.writeResults({report, ext, ocs, res, apset, gcpres, chp, ""}, false);
  const Block& block = *simulated.block;
  const ObjectPoint* control = block.objectPoints.find(simulated.controlIds[0]);
  const ObjectPoint* check = block.objectPoints.find(simulated.checkIds[0]);
  // Control: adjusted - given; check: given (the truth here) - adjusted.
  const double vX = control->xyz[0] - control->slots()[0].initial;
  const double dX = simulated.truth.points.at(check->id())[0] - check->xyz[0];
  std::istringstream gcpLines(gcpres.str());
  std::istringstream chpLines(chp.str());
  std::string line;
  bool controlFound = false;
  while (std::getline(gcpLines, line)) {
    std::istringstream fields(line);
    std::string id;
    double X, Y, Z, v;
    if (fields >> id >> X >> Y >> Z >> v && id == control->id()) {
      EXPECT_NEAR(v, vX, 0.0006);
      controlFound = true;
    }
  }
  bool checkFound = false;
  while (std::getline(chpLines, line)) {
    std::istringstream fields(line);
    std::string id;
    double X, Y, Z, d;
    if (fields >> id >> X >> Y >> Z >> d && id == check->id()) {
      EXPECT_NEAR(d, dX, 0.0006);
      EXPECT_LT(std::fabs(d), 0.15);
      checkFound = true;
    }
  }
  EXPECT_TRUE(controlFound);
  EXPECT_TRUE(checkFound);
  // A fixed control point keeps its coordinates and shows no residual.
  const ObjectPoint* fixed = block.objectPoints.find(simulated.controlIds[4]);
  EXPECT_EQ(fixed->xyz, simulated.truth.points.at(fixed->id()));
  const std::size_t at =
      gcpres.str().find("\n" + std::string(8 - fixed->id().size(), ' ') + fixed->id() + " ");
  ASSERT_NE(at, std::string::npos);
  const std::string fixedLine =
      gcpres.str().substr(at + 1, gcpres.str().find('\n', at + 1) - at - 1);
  EXPECT_EQ(fixedLine.substr(47), "     ---       ---       ---  ");
  EXPECT_NE(gcpres.str().find("Number of residuals        :          4         4         4\n"),
            std::string::npos);
}

TEST_F(AdjustmentTest, ZeroIterationsReportTheMaximumAndChangeNothing) {
  SimulatedBlock simulated = BlockSimulator(SimulationSettings{}).build();
  simulated.block->settings.maxIterations = 0;
  Adjustment adjustment(*simulated.block);
  const RunResult run = adjust(simulated, adjustment);
  ASSERT_EQ(run.iterated, 1);
  EXPECT_EQ(adjustment.state().iterations, 0);
  EXPECT_EQ(run.report.find("Iteration number"), std::string::npos);
  EXPECT_NE(run.report.find("\n*** WARNING: Maximum number of iterations has been reached.\n"
                            "\nNumber of iterations: 0\n"),
            std::string::npos);
  EXPECT_NE(run.report.find("Number of A'Pv-values > limit : 0\n"), std::string::npos);
}

TEST_F(AdjustmentTest, ConvergenceInTheLastPermittedIterationStillWarns) {
  SimulatedBlock probe = BlockSimulator(SimulationSettings{}).build();
  Adjustment probeAdjustment(*probe.block);
  ASSERT_EQ(adjust(probe, probeAdjustment).iterated, 1);
  const int needed = probeAdjustment.state().iterations;
  ASSERT_GE(needed, 2);

  SimulatedBlock simulated = BlockSimulator(SimulationSettings{}).build();
  simulated.block->settings.maxIterations = needed;
  Adjustment adjustment(*simulated.block);
  const RunResult run = adjust(simulated, adjustment);
  EXPECT_TRUE(adjustment.state().converged);
  EXPECT_EQ(adjustment.state().iterations, needed);
  EXPECT_NE(run.report.find("*** WARNING: Maximum number of iterations has been reached."),
            std::string::npos);

  SimulatedBlock again = BlockSimulator(SimulationSettings{}).build();
  again.block->settings.maxIterations = needed + 1;
  Adjustment roomy(*again.block);
  const RunResult roomyRun = adjust(again, roomy);
  EXPECT_EQ(roomy.state().iterations, needed);
  EXPECT_NE(roomyRun.report.find("*** Iteration criterion limit has been reached."),
            std::string::npos);
}

TEST_F(AdjustmentTest, UnknownAdjustmentInterfaceFailsTheInitialisation) {
  SimulatedBlock simulated = BlockSimulator(SimulationSettings{}).build();
  simulated.block->settings.adjustmentInterface = AdjustmentInterface::kLapack;
  Adjustment adjustment(*simulated.block);
  const RunResult run = adjust(simulated, adjustment);
  EXPECT_EQ(run.initialized, -1);
  EXPECT_NE(run.report.find("ERROR: Unkown adjustment interface.\n"), std::string::npos);
}

TEST_F(AdjustmentTest, ImageWithoutItsGeometryFailsTheAttachment) {
  SimulatedBlock simulated = BlockSimulator(SimulationSettings{}).build();
  simulated.block->images.items()[1]->geometryId = "nowhere";
  Adjustment adjustment(*simulated.block);
  const RunResult run = adjust(simulated, adjustment);
  EXPECT_EQ(run.initialized, -1);
  EXPECT_NE(run.report.find("ERROR: Attach EO for image img01 failed.\n"), std::string::npos);
}

class TemporaryFolder {
 public:
  TemporaryFolder() {
    std::string pattern = ::testing::TempDir() + "adjustment_test_XXXXXX";
    path_ = mkdtemp(pattern.data());
  }
  ~TemporaryFolder() { std::filesystem::remove_all(path_); }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

TEST_F(AdjustmentTest, CameraFileOnlyOnRequest) {
  for (const bool requested : {false, true}) {
    SimulatedBlock simulated = BlockSimulator(SimulationSettings{}).build();
    TemporaryFolder folder;
    std::ostringstream report, ext, ocs, res, apset, gcpres, chp;
    const OutputFiles files{report, ext, ocs, res, apset, gcpres, chp, folder.file("b.cam")};
    ASSERT_EQ(runAdjustment(*simulated.block, files, requested), 1);
    EXPECT_EQ(std::filesystem::exists(folder.file("b.cam")), requested);
    EXPECT_FALSE(std::filesystem::exists(folder.file("b.cam.tmp")));
    if (requested) {
      std::ifstream cam(folder.file("b.cam"));
      std::stringstream text;
      text << cam.rdbuf();
      EXPECT_EQ(text.str().rfind("frame   cam1   simulated\n", 0), 0u);
      EXPECT_NE(text.str().find("stop-dep\nCameras\n=======\n\n"), std::string::npos);
    }
    // The final sections follow each other in the run's order.
    const std::string text = report.str();
    std::size_t at = 0;
    for (const char* heading :
         {"Cameras\n=", "Additional parameter sets\n=", "Exterior orientations\n=",
          "Object point coordinates\n=", "Residuals of image coords.\n=",
          "Control point residuals\n=", "Check point analysis\n="}) {
      const std::size_t found = text.find(heading, at);
      ASSERT_NE(found, std::string::npos) << heading;
      at = found;
    }
  }
}

// Writes the simulated block as the engine's input files and returns the main input file.
std::string writeInputFiles(const SimulatedBlock& simulated, const TemporaryFolder& folder) {
  const Block& block = *simulated.block;
  std::ofstream(folder.file("cameras.txt")) << "camera-frame cam1 simulated 153.0 0 0 230 230\n";
  std::ofstream images(folder.file("images.txt"));
  std::ofstream coords(folder.file("image.crd"));
  coords.precision(12);
  for (const BundleImage* image : block.images.items()) {
    images << "image-frame " << image->id() << " " << image->geometryId << " cam1\n";
    coords << image->id() << " 1.0\n";
    for (const ImagePoint& p : image->points) {
      coords << p.id << " " << p.x << " " << p.y << " " << p.sx << " " << p.sy << "\n";
    }
    coords << "stop-dep\n";
  }
  std::ofstream geometries(folder.file("orientations.ext"));
  writeGeometryRecords(block, geometries);
  std::ofstream points(folder.file("points.ocs"));
  std::ofstream support(folder.file("support.txt"));
  points.precision(12);
  points << "indiv-sdev\n";
  for (const ObjectPoint* point : block.objectPoints.items()) {
    points << point->id() << " (" << point->xyz[0] << ", " << point->xyz[1] << ", " << point->xyz[2]
           << ") " << point->sdev[0] << " " << point->sdev[1] << " " << point->sdev[2] << "\n";
    if (point->type == kPointCheck) support << "# check point\n" << point->id() << " ch xyz\n";
    if (point->sdev[0] < kDefaults.smin) support << point->id() << " co xyz\n";
  }
  const std::string main = folder.file("block.inp");
  std::ofstream(main) << "camera " << folder.file("cameras.txt") << "\nimage "
                      << folder.file("images.txt") << "\next-ori "
                      << folder.file("orientations.ext") << "\nimage-crds "
                      << folder.file("image.crd") << "\nobj-crds " << folder.file("points.ocs")
                      << "\nctrl-supp " << folder.file("support.txt") << "\n";
  return main;
}

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

TEST_F(AdjustmentTest, BlockReadFromInputFilesAdjustsAndWritesEveryResult) {
  SimulatedBlock simulated = BlockSimulator(SimulationSettings{}).build();
  TemporaryFolder folder;
  std::ifstream main(writeInputFiles(simulated, folder));
  Block block;
  ASSERT_EQ(readInput(block, main), 1);
  ASSERT_EQ(block.images.count(), 8);
  // Only control and check points have records; the engine creates the tie points.
  ASSERT_EQ(block.objectPoints.count(), 8);

  {
    std::ofstream report(folder.file("block.out")), ext(folder.file("block.ext")),
        ocs(folder.file("block.ocs")), res(folder.file("block.res")),
        apset(folder.file("block.apset")), gcpres(folder.file("block.gcpres")),
        chp(folder.file("block.chp"));
    const OutputFiles files{report, ext, ocs, res, apset, gcpres, chp, folder.file("block.cam")};
    ASSERT_EQ(runAdjustment(block, files, false), 1);
  }
  const std::string report = readFile(folder.file("block.out"));
  const std::string sigma = lineAfter(report, "Sigma 0 a posteriori    :  ");
  EXPECT_NEAR(std::stod(sigma), 3.0, 0.15) << sigma;
  EXPECT_EQ(lineAfter(report, "Redundancy              :  "), "868");
  EXPECT_EQ(lineAfter(report, "Check points                :  "), "     2");
  EXPECT_EQ(lineAfter(report, "Control points              :  "), "     6");
  EXPECT_FALSE(std::filesystem::exists(folder.file("block.cam")));

  // The ext file reads back as an image-geometry file with the adjusted orientations.
  std::ifstream ext(folder.file("block.ext"));
  OwnedList<ImageGeometry> adjusted;
  ASSERT_EQ(readGeometryFile(ext, adjusted, LSParams()), 1);
  ASSERT_EQ(adjusted.count(), 8);
  for (const ImageGeometry* geometry : adjusted.items()) {
    const std::vector<double>& truth = simulated.truth.orientations.at(geometry->id());
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(geometry->p[j], truth[j], 0.5);
  }
  const std::string res = readFile(folder.file("block.res"));
  std::size_t stops = 0;
  for (std::size_t at = res.find("stop-dep\n"); at != std::string::npos;
       at = res.find("stop-dep\n", at + 1)) {
    ++stops;
  }
  EXPECT_EQ(stops, 9u);
  EXPECT_NE(readFile(folder.file("block.chp")).find("Number of differences       :          2"),
            std::string::npos);
  EXPECT_EQ(readFile(folder.file("block.apset")), "stop-dep\n");
}

// The sample block of the repository, when it is there: read with its own settings and
// adjusted to convergence.
TEST_F(AdjustmentTest, SampleBlockOfTheExamplesConverges) {
  const std::filesystem::path folder = "../../examples/sample-block/engine";
  if (!std::filesystem::exists(folder / "block.inp")) GTEST_SKIP() << "no sample block";
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(folder);
  Block block;
  std::ifstream main("block.inp");
  const int read = readInput(block, main);
  std::ostringstream report, ext, ocs, res, apset, gcpres, chp;
  Adjustment adjustment(block);
  const int initialized = read == 1 ? adjustment.initialize(report) : -1;
  const int iterated = initialized == 1 ? adjustment.iterate(report) : -1;
  std::filesystem::current_path(previous);
  ASSERT_EQ(read, 1);
  ASSERT_EQ(initialized, 1) << report.str();
  ASSERT_EQ(iterated, 1) << report.str();
  EXPECT_TRUE(adjustment.state().converged);
  EXPECT_GT(adjustment.state().counts.redundancy(), 0);
  EXPECT_GT(adjustment.state().sigma0, 0.0);
}

}  // namespace
}  // namespace bravik
