#include "adjust/iteration.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <iostream>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "lsq/ls_params.h"
#include "util/diagnostics.h"
#include "util/number_format.h"

namespace bravik {
namespace {

// Unknowns of one kind: how many, how many observed, how many eliminated.
struct KindCount {
  int total = 0;
  int observed = 0;
  int eliminated = 0;

  void add(const AdjObject& object) {
    total += object.paramCount();
    for (const ParamSlot& slot : object.slots()) {
      observed += slot.state == ParamState::kObserved ? 1 : 0;
      eliminated += slot.state == ParamState::kEliminated ? 1 : 0;
    }
  }
  void add(const KindCount& other) {
    total += other.total;
    observed += other.observed;
    eliminated += other.eliminated;
  }
};

template <class T>
KindCount countKind(const OwnedList<T>& list) {
  KindCount count;
  for (const T* object : list.items()) count.add(*object);
  return count;
}

template <class T>
int addAll(AdjObjectList& list, const OwnedList<T>& objects, const LSParams& ls) {
  for (T* object : objects.items()) {
    if (list.add(*object, ls) != 1) return -1;
  }
  return 1;
}

int numberUnknowns(Block& block) {
  block.adjObjects.clear();
  if (addAll(block.adjObjects, block.objectPoints, block.settings) != 1) return -1;
  if (addAll(block.adjObjects, block.geometries, block.settings) != 1) return -1;
  if (addAll(block.adjObjects, block.apSets, block.settings) != 1) return -1;
  if (addAll(block.adjObjects, block.posCorrections, block.settings) != 1) return -1;
  return addAll(block.adjObjects, block.attCorrections, block.settings);
}

int countImagePoints(const Block& block) {
  int count = 0;
  for (const BundleImage* image : block.images.items()) {
    count += static_cast<int>(image->points.size());
  }
  return count;
}

int countPointsOfType(const Block& block, int type) {
  int count = 0;
  for (const ObjectPoint* point : block.objectPoints.items()) count += point->type == type;
  return count;
}

void printDataDefined(const Block& block, std::ostream& report) {
  report << "Data defined for adjustment\n"
         << "---------------------------\n"
         << "Images                      :  " << formatGeneral(block.images.count(), 6) << "\n"
         << "Cameras                     :  " << formatGeneral(block.cameras.count(), 6) << "\n"
         << "Exterior orientations       :  " << formatGeneral(block.geometries.count(), 6) << "\n"
         << "Additional parameter sets   :  " << formatGeneral(block.apSets.count(), 6) << "\n"
         << "Position corrections        :  " << formatGeneral(block.posCorrections.count(), 6)
         << "\n"
         << "Attitude corrections        :  " << formatGeneral(block.attCorrections.count(), 6)
         << "\n"
         << "Object points (total)       :  " << formatGeneral(block.objectPoints.count(), 6)
         << "\n"
         << "Control points              :  "
         << formatGeneral(countPointsOfType(block, kPointControl), 6) << "\n"
         << "Check points                :  "
         << formatGeneral(countPointsOfType(block, kPointCheck), 6) << "\n";
}

void printKindLine(std::ostream& report, const char* label, const KindCount& count) {
  report << label << count.total << "   " << count.observed << "   " << count.eliminated << "\n";
}

void printCounts(const Block& block, const AdjustmentCounts& counts, std::ostream& report) {
  const KindCount points = countKind(block.objectPoints);
  const KindCount geometries = countKind(block.geometries);
  const KindCount apSets = countKind(block.apSets);
  const KindCount pos = countKind(block.posCorrections);
  const KindCount att = countKind(block.attCorrections);
  KindCount total;
  for (const KindCount* kind : {&points, &geometries, &apSets, &pos, &att}) total.add(*kind);
  report << "Number of observations, unknowns and redundancy\n"
         << "-----------------------------------------------\n"
         << "Observations:\n"
         << "   BundleImage point coordinates      :  " << counts.observations << "\n"
         << "   Total number of observations :  " << counts.observations << "\n"
         << "\n"
         << "Unknowns:                           total        thereof\n"
         << "                                              obs.     eli.\n";
  printKindLine(report, "   Object point coordinates     :  ", points);
  printKindLine(report, "   Exterior orientations        :  ", geometries);
  printKindLine(report, "   Additional parameters        :  ", apSets);
  printKindLine(report, "   Position corrections         :  ", pos);
  printKindLine(report, "   Attitude corrections         :  ", att);
  printKindLine(report, "   Total number of unknowns     :  ", total);
  report << "\n"
         << "Constraints                     :  " << counts.constraints << "\n"
         << "\n"
         << "Redundancy                      :  " << counts.redundancy() << "\n"
         << "\n";
}

UnknownLayout layoutOf(const Block& block) {
  UnknownLayout layout;
  layout.object_points = block.objectPoints.count();
  const auto& objects = block.adjObjects.objects();
  for (std::size_t i = layout.object_points; i < objects.size(); ++i) {
    layout.object_sizes.push_back(objects[i]->paramCount());
  }
  return layout;
}

NormalEquationFileNames fileNamesOf(const RunOptions& options) {
  NormalEquationFileNames names;
  names.structure = options.normalStructureFile;
  names.matrix = options.normalMatrixFile;
  names.rhs = options.rhsFile;
  names.solution = options.solutionFile;
  return names;
}

template <class T>
void printGroupTables(std::ostream& report, const char* heading, const OwnedList<T>& list,
                      const Vector& x) {
  report << heading;
  for (const T* object : list.items()) {
    object->printIterationTable(report, x);
    report << "\n";
  }
}

void printIterationTables(const Block& block, const Vector& x, std::ostream& report) {
  const RunOptions& options = block.options;
  if (options.printObjectCoords) {
    printGroupTables(report, "Object point coordinates\n------------------------\n\n",
                     block.objectPoints, x);
  }
  if (options.printExtOrientations) {
    printGroupTables(report, "Exterior orientations\n---------------------\n\n", block.geometries,
                     x);
  }
  if (options.printAPSets && block.apSets.count() > 0) {
    printGroupTables(report, "Additional parameters\n---------------------\n\n", block.apSets, x);
  }
  if (options.printPosCorrections && block.posCorrections.count() > 0) {
    printGroupTables(report, "Position corrections\n--------------------\n\n", block.posCorrections,
                     x);
  }
  if (options.printAttCorrections && block.attCorrections.count() > 0) {
    printGroupTables(report, "Attitude corrections\n--------------------\n\n", block.attCorrections,
                     x);
  }
}

std::string averageChangeText(double average, const char* unit) {
  if (average < 0.0) return "    ---   \n";
  return formatScientific(average, 3, 10) + unit;
}

void printAverageChanges(const AdjObjectList& list, const Vector& x, std::ostream& report) {
  report << "Average change of unknown parameters\n"
         << " - object point coords.             :  "
         << averageChangeText(list.averageChange(ChangeGroup::kObjectPoints, x), " m\n")
         << " - perspective centre coords.       :  "
         << averageChangeText(list.averageChange(ChangeGroup::kProjectionCentres, x), " m\n")
         << " - rotation parameters              :  "
         << averageChangeText(list.averageChange(ChangeGroup::kRotations, x), "\n")
         << " - geometry parameters              :  "
         << averageChangeText(list.averageChange(ChangeGroup::kGeometry, x), "\n") << "\n";
}

void printStatistics(const AdjustmentState& state, std::ostream& report) {
  const AdjustmentCounts& counts = state.counts;
  report << "Number of observations  :  " << counts.observations << "\n"
         << "Number of unknowns      :  " << counts.unknowns << " (thereof: " << counts.observed
         << " obs. " << counts.eliminated << " elim.)\n"
         << "Number of constraints   :  " << counts.constraints << "\n"
         << "Redundancy              :  " << counts.redundancy() << "\n"
         << "vtpv                    :  " << formatScientific(state.vtpv, 2) << "\n"
         << "Sigma 0 a posteriori    :  ";
  if (state.sigma0 == 0.0) {
    report << "undefined, no redundancy!\n";
  } else {
    report << formatFixed(state.sigma0 * 1e6, 2) << " um\n";
  }
  report << "\n";
  report.flush();
}

// body(lane) for every lane, on one thread per lane where the machine has several cores.
template <class Body>
void runLanes(int lanes, Body& body) {
  if (std::thread::hardware_concurrency() > 1) {
    std::vector<std::thread> workers;
    for (int lane = 1; lane < lanes; ++lane) workers.emplace_back(body, lane);
    body(0);
    for (std::thread& worker : workers) worker.join();
  } else {
    for (int lane = 0; lane < lanes; ++lane) body(lane);
  }
}

// The image contributions on one thread per lane of the normal system. false when the system
// has a single lane or the lanes failed; the system must then be reset and filled in order.
bool accumulateImagesInLanes(const Block& block, NormalSystem& normals, int& observations) {
  const int lanes = normals.accumulationLanes();
  if (lanes <= 1) return false;
  const auto& images = block.images.items();
  // The object points of the images' measurements are looked up once, split over the lanes'
  // threads (each image writes only its own cache); geometries may be shared, so their caches
  // are filled on this thread.
  auto find = [&](int lane) {
    for (std::size_t i = lane; i < images.size(); i += lanes)
      images[i]->findObjectPointsForLanes(block.objectPoints);
  };
  runLanes(lanes, find);
  for (const BundleImage* image : images)
    if (image->geometry != nullptr) image->geometry->prepareDerivatives();
  normals.beginLanes();
  std::vector<int> counts(lanes, 0);
  std::vector<char> succeeded(lanes, 1);
  auto run = [&](int lane) {
    int count = 0;  // a local counter: the lanes' counters would share a cache line
    for (const BundleImage* image : block.images.items()) {
      if (image->addToNormalsInLane(normals, block.objectPoints, lane, block.settings, count) !=
          1) {
        succeeded[lane] = 0;
        break;
      }
    }
    counts[lane] = count;
  };
  runLanes(lanes, run);
  if (!normals.endLanes()) return false;
  for (int lane = 0; lane < lanes; ++lane) {
    if (!succeeded[lane]) return false;
    observations += counts[lane];
  }
  return true;
}

int solveNormalEquations(NormalSystem& normals, std::ostream& report) {
  const int result = normals.solve();
  if (result == 0) return 1;
  if (result > 0) {
    messages() << "ATTENTION: BMatrix is >>> not <<< positive definite at row/column " << result - 1
               << "\n";
  }
  // A negative result is a size mismatch: the solution is unusable either way.
  report << "*** ERROR: Solving of normal equations failed.\n";
  return -1;
}

void refreshGeometries(const Block& block) {
  for (ImageGeometry* geometry : block.geometries.items()) geometry->refresh();
}

}  // namespace

double processorSeconds() {
  const long long ms = static_cast<long long>(std::clock()) * 1000 / CLOCKS_PER_SEC;
  return static_cast<double>(ms) / 1000.0;
}

int setUpNormalEquations(Block& block, NormalSystem& normals, int& observations,
                         std::ostream& report) {
  normals.reset();
  observations = 0;
  if (accumulateImagesInLanes(block, normals, observations)) {
    block.adjObjects.addConstraints(normals, block.settings);
    block.adjObjects.addParameterObservations(normals);
    return 1;
  }
  if (normals.accumulationLanes() > 1) normals.reset();
  for (const BundleImage* image : block.images.items()) {
    if (image->addToNormals(normals, block.objectPoints, block.settings, observations) != 1) {
      report << "ERROR: Setup of normal equations failed.\n";
      return -1;
    }
  }
  block.adjObjects.addConstraints(normals, block.settings);
  block.adjObjects.addParameterObservations(normals);
  return 1;
}

int initializeAdjustmentTail(Block& block, AdjustmentState& state, std::ostream& report,
                             double startSeconds) {
  if (numberUnknowns(block) != 1) {
    report << "ERROR: Setup of unknown parameters failed.\n";
    return -1;
  }
  AdjustmentCounts& counts = state.counts;
  counts.observations = 2 * countImagePoints(block);
  counts.unknowns = block.adjObjects.unknownCount();
  counts.observed = block.adjObjects.countWithState(ParamState::kObserved);
  counts.eliminated = block.adjObjects.countWithState(ParamState::kEliminated);
  counts.constraints = block.adjObjects.constraintCount();
  block.observationCount = counts.observations;
  block.constraintCount = counts.constraints;

  printDataDefined(block, report);
  printCounts(block, counts, report);
  if (block.options.debugUnknownsTable)
    block.adjObjects.printUnknownsTable(messages(), block.settings);

  // A block without unknowns (nothing read, or everything removed by the clean-up) has no
  // adjustment to run; reporting success would hand the caller empty result files.
  if (counts.unknowns == 0) {
    const char* message = "ERROR: No unknowns to adjust: the block holds no usable data.\n";
    messages() << message;
    report << message;
    return -1;
  }

  const AdjustmentInterface interface = block.settings.adjustmentInterface;
  if (!hasNormalSystem(interface)) {
    report << "ERROR: Unkown adjustment interface.\n";
    return -1;
  }
  state.normals = createNormalSystem(interface, layoutOf(block));
  if (!state.normals) {
    report << "ERROR: Allocation of normal equations failed.\n";
    return -1;
  }
  report << "Elapsed cpu time to initialize adjustment: "
         << formatFixed(processorSeconds() - startSeconds, 2) << " s\n\n";
  return 1;
}

int runIteration(Block& block, AdjustmentState& state, int number, std::ostream& report) {
  const double start = processorSeconds();
  report << "Iteration number " << formatGeneral(number, 3) << "\n"
         << "--------------------\n\n";
  NormalSystem& normals = *state.normals;
  AdjustmentCounts& counts = state.counts;
  if (setUpNormalEquations(block, normals, counts.observations, report) != 1) return -1;

  const double solveStart = processorSeconds();
  if (solveNormalEquations(normals, report) != 1) return -1;
  const double solveSeconds = processorSeconds() - solveStart;

  const Vector& x = normals.solution();
  double xn = 0.0;
  for (std::size_t i = 0; i < x.size(); ++i) xn += x[i] * normals.rhs()[i];
  normals.setVtpv(normals.vtpv() - xn);
  state.vtpv = normals.vtpv();

  printIterationTables(block, x, report);
  printAverageChanges(block.adjObjects, x, report);

  counts.observed = block.adjObjects.countWithState(ParamState::kObserved);
  counts.eliminated = block.adjObjects.countWithState(ParamState::kEliminated);
  counts.constraints = block.adjObjects.constraintCount();
  block.observationCount = counts.observations;
  block.constraintCount = counts.constraints;
  const int r = counts.redundancy();
  if (r < 0) {
    report << "*** ERROR: Negative redundancy.\n";
    return -1;
  }
  // A vtpv rounded below zero gives no real root; it is reported as zero.
  state.sigma0 = r > 0 ? std::sqrt(std::max(state.vtpv, 0.0) / r) : 0.0;
  printStatistics(state, report);

  block.adjObjects.update(x);
  refreshGeometries(block);
  state.converged = block.adjObjects.checkConvergence(x, block.settings);
  report << "Elapsed cpu time per iteration: " << formatFixed(processorSeconds() - start, 2)
         << " s, solution only: " << formatFixed(solveSeconds, 2) << " s\n\n";
  return 1;
}

int iterate(Block& block, AdjustmentState& state, std::ostream& report) {
  report << "*** Start iteration loop\n\n";
  const double start = processorSeconds();
  const int maximum = block.settings.maxIterations;
  state.iterations = 0;
  state.converged = false;
  for (int i = 1; i <= maximum && !state.converged; ++i) {
    if (runIteration(block, state, i, report) != 1) return -1;
    state.iterations = i;
  }
  block.iterationCount = state.iterations;
  if (state.iterations < maximum) {
    report << "\n*** Iteration criterion limit has been reached.\n";
  } else {
    report << "\n*** WARNING: Maximum number of iterations has been reached.\n";
  }
  report << "\nNumber of iterations: " << state.iterations << "\n"
         << "Total cpu time for iterations : " << formatFixed(processorSeconds() - start, 2)
         << " s\n\n";
  state.normals->writeNormalEquationFiles(fileNamesOf(block.options));
  checkAPtv(state.normals->rhs(), block.settings.aptvLimit, report);
  return 1;
}

int checkAPtv(const Vector& n, double limit, std::ostream& report) {
  report << "Check adjustment on A'Pv = 0\n"
         << "----------------------------\n"
         << "A'Pv limit:  " << formatScientific(limit, 1, 6) << "\n";
  int count = 0;
  for (std::size_t i = 0; i < n.size(); ++i) {
    if (n[i] > limit) {
      report << "A'Pv[" << i << "] is large: " << formatScientific(n[i], 1, 6) << "\n";
      ++count;
    }
  }
  report << "\nNumber of A'Pv-values > limit : " << count << "\n\n";
  return count;
}

}  // namespace bravik
