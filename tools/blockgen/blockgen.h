#pragma once
// Generation of a complete block into one output folder:
//   truth.json, images/<ID>.jpg|tif, dem.tif, srtm/<tile>.tif, gps_imu.txt, gcp.txt, cp.txt,
//   gcp_image.txt, cp_image.txt, camera.bcc, engine/block.inp and its data files.
#include <ostream>
#include <string>

#include "options.h"
#include "survey.h"

namespace blockgen {

struct GenerationSummary {
  size_t images = 0;
  size_t tie_points = 0;
  size_t control_points = 0;
  size_t check_points = 0;
  size_t observations = 0;
  double seconds = 0;
};

// Writes every file of the block; progress lines go to log. Throws std::runtime_error with a
// message naming the failing file or option; files already written stay complete.
GenerationSummary generate_block(const BlockOptions& options, std::ostream& log);

// Writes the engine input of an already planned survey into folder.
void write_engine_input(const Survey& survey, const std::string& folder);

// Command-line entry: parses args, prints help or errors, generates. Returns the exit code.
int run_blockgen(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace blockgen
