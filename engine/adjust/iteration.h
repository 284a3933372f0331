#ifndef BRAVIK_ADJUST_ITERATION_H
#define BRAVIK_ADJUST_ITERATION_H

#include <ctime>
#include <iosfwd>
#include <memory>

#include "lsq/normal_system.h"
#include "models/block.h"

namespace bravik {

// Counts and statistics of one adjustment. The redundancy counts every observed or
// eliminated unknown as one observation of its own: r = m + c + u_obs + u_eli - u.
struct AdjustmentCounts {
  int observations = 0;  // m, two per image point used
  int unknowns = 0;      // u
  int observed = 0;      // u_obs
  int eliminated = 0;    // u_eli
  int constraints = 0;   // c
  int redundancy() const { return observations + constraints + observed + eliminated - unknowns; }
};

// State of one adjustment run between the initialisation and the result files.
struct AdjustmentState {
  std::unique_ptr<NormalSystem> normals;
  AdjustmentCounts counts;
  double vtpv = 0.0;
  double sigma0 = 0.0;  // a posteriori, m in the image plane; 0 without redundancy
  int iterations = 0;   // completed iterations k
  bool converged = false;
};

// Processor time of the process in seconds (millisecond resolution).
double processorSeconds();

// Tail of the initialisation: numbers the unknowns (object points, image geometries, AP
// sets, position corrections, attitude corrections), prints the data and the counts,
// creates the normal system for the "Adjustment interface" setting and prints the time
// since `startSeconds`. 1, or -1 for an unknown interface, a normal system that cannot be
// allocated (8 u^2 bytes for the dense one) or a failed slot set-up.
int initializeAdjustmentTail(Block& block, AdjustmentState& state, std::ostream& report,
                             double startSeconds);

// The iteration loop up to convergence or the maximum number of iterations, the summary,
// the normal-equation files and the A'Pv check. 1 on completion (converged or not), -1
// on a fatal error (setup of the normal equations, solution, negative redundancy).
int iterate(Block& block, AdjustmentState& state, std::ostream& report);

// Rebuilds the normal equations at the current values: every image's observations, the
// constraints and the parameter observations; counts the image observations. 1, or -1 after
// "ERROR: Setup of normal equations failed.\n" in `report`.
int setUpNormalEquations(Block& block, NormalSystem& normals, int& observations,
                         std::ostream& report);

// One pass of the loop (setup, solution, statistics, update, convergence check) as
// iteration `number`. 1, or -1 on a fatal error after its message.
int runIteration(Block& block, AdjustmentState& state, int number, std::ostream& report);

// Prints the A'Pv check of the right-hand side n against `limit`: every n[i] > limit (the
// signed value) is listed. Returns how many were listed.
int checkAPtv(const Vector& n, double limit, std::ostream& report);

}  // namespace bravik

#endif  // BRAVIK_ADJUST_ITERATION_H
