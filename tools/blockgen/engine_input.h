#pragma once
// Input of the Bravik engine for a survey: a main file "block.inp" and the data files it lists,
// so that the engine adjusts the same block.
//
// Model mapping (engine conventions):
// - camera-ccd: focal length and principal point in mm (centred, y up), pixel spacing in
//   um/pixel; pixel coordinates are written in the engine's CCD convention, whose pixel centres
//   sit at whole numbers: c = col - 0.5, r = row - 0.5 for the top-left-corner convention.
// - ext-ori-opk-rot: R = Rx(omega) Ry(phi) Rz(kappa) maps camera to world, the engine projects
//   with (U, V, N) = R^T (P - X0), x = -c U / N; the same rotation and camera axes as the GPS/IMU
//   file. Positions and angles are the GPS/IMU values with "free" standard deviations (smaxu):
//   they are approximations only; control points carry the datum.
// - Lens distortion, when present, becomes fixed radial and decentering AP sets in metres.
// - Control points are observed with their survey standard deviation; check points are
//   adjusted as new points and compared in X, Y and Z (control-support "ch xyz").
#include <string>
#include <utility>
#include <vector>

#include "survey.h"

namespace blockgen {

struct NamedText {
  std::string name;  // file name relative to the engine folder
  std::string text;
};

// The main file comes first; every other file is listed in it.
std::vector<NamedText> engine_input_files(const Survey& survey);

// Engine pixel convention (whole numbers at pixel centres).
Pixel engine_pixel(Pixel top_left_corner);

}  // namespace blockgen
