#pragma once
// Writes a synthetic block as the engine's keyword input files: main file "block.inp" with
// params, ls-params, a frame camera (mm), frame images, "ext-ori-opk-rot" orientations (rad,
// free unknowns), object coordinates ("indiv-sdev": tie points free at their approximations,
// control points observed) and image coordinates (mm, scale factor 0.001).
#include <string>

#include "block_generator.h"

namespace bench {

enum class EngineInterface { kNative, kSparse };

// Writes every input file into `folder` (which must exist). Returns the main file's path, or an
// empty string when a file could not be written.
std::string writeEngineInput(const SyntheticBlock& block, const std::string& folder);

// Rewrites only the least-squares settings: `iterations` iterations are run whatever the
// increments (convergence limits of zero), with the given adjustment interface.
bool writeEngineSettings(double image_sigma, const std::string& folder, int iterations,
                         EngineInterface interface_kind);

// Identifiers used in the files, shared with the result reader.
std::string pointId(int index);
std::string imageId(int index);

}  // namespace bench
