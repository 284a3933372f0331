#pragma once
// Test support: a project built from the sample survey of the block generator
// (examples/sample-block) and the result files a bundle run would leave in its Bundle folder, in
// their exact layouts, from the survey's truth with simulated residuals (fixed seed).

#include <string>

namespace vantri::test_support {

struct SampleOptions {
  unsigned seed = 7;
  double image_noise_px = 0.3;     // per axis
  double control_noise_m = 0.015;  // control point residuals per axis
  double check_noise_xy_m = 0.03;  // check point residuals
  double check_noise_z_m = 0.05;
  std::string noisy_image = "205";  // an image with larger residuals and a few outliers
};

// Writes <folder>/<name>.bun (with the sample's camera, images, GPS/IMU, UTM 32 N), GCP.col,
// CP.col, settings.ini and <folder>/Bundle/<name>.{atout,gcpres,cpres,ptres,ptics,ptocs,extor}.
// `sample_dir` is examples/sample-block. Returns false (with `error`) when the sample cannot be
// read or a file cannot be written.
bool WriteSampleProject(const std::string& sample_dir, const std::string& folder,
                        const std::string& name, const SampleOptions& options, std::string* error);

// The sample folder of the source tree (examples/sample-block) seen from a test's working
// directory (the folder of its sources).
std::string SampleBlockDir();

}  // namespace vantri::test_support
