#pragma once
// The block's plain-text products for the desktop program and for people: GPS/IMU, surveyed
// control and check points, their true image measurements, the camera passport and truth.json.
#include <string>

#include "survey.h"

namespace blockgen {

std::string gps_imu_text(const Survey& survey);
// kind is kControl (gcp.txt) or kCheck (cp.txt): surveyed coordinates.
std::string points_text(const Survey& survey, PointKind kind);
// True (noise-free) image measurements of the control or check points.
std::string point_measurements_text(const Survey& survey, PointKind kind);
// The same points as a Vantri point collection (GCP.col, CP.col): surveyed coordinates, survey
// variances, and the true measurements in pixels relative to the image centre, y up; image
// index = position in the survey's image list (the order of the images in truth.json).
std::string point_collection_text(const Survey& survey, PointKind kind);
std::string camera_passport_text(const FrameCamera& camera);
// image_files: the file name of each image (empty strings when no images were written).
std::string truth_json(const Survey& survey, const std::vector<std::string>& image_files,
                       const std::string& srtm_file);

// Fixed-point formatting independent of the locale.
std::string fixed(double value, int decimals);

}  // namespace blockgen
