#pragma once
// Files of the sparse bundle-adjustment exchange kept in a project's TiePoints
// folder and project folder: the block file "# SSBA file v1.0" (.bro), the step
// file (.abai) and the per-step tie-point cloud (.vtp); and the tie-point list
// they are read into.
//
// .bro layout (text):
//   "# SSBA file v1.0"
//   "<images> <points>"
//   per image five lines of three numbers ("%0.10e"): focal length in pixels,
//   0, 0; the rotation matrix (camera -> world) column by column; the
//   projection centre. An unoriented image (centre exactly 0, 0, 0) is five
//   lines "0 0 0". per point: "X Y Z" ("%0.10e"), "R G B", then "<n>" and n
//   times " <image> <key> <x> <y>" with x, y in pixels to 4 decimals.

#include <Eigen/Core>
#include <memory>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "photogrammetry/orientation.h"
#include "ssba/ssba.h"

class CCameraPassport;

namespace vantri::aat {

// The tie points of a run in creation order (the position of a point is its
// point index), the measurements made in each image, and an optional reference
// patch per point (empty: none).
struct TiePointList {
  std::vector<std::unique_ptr<CSSBAPoint>> points;
  std::vector<std::vector<SIFTIndex>> measurements_by_image;
  std::vector<cv::Mat> reference_patches;

  // Empties the list for a project of `image_count` images.
  void Reset(int image_count);
  int Size() const { return static_cast<int>(points.size()); }
  // Appends the point with the next point index and an empty patch slot, and
  // enters each of its measurements in the list of its image. The measurements'
  // images must be in range.
  int Append(std::unique_ptr<CSSBAPoint> point);
  std::vector<CSSBAPoint*> Pointers() const;
};

// The text of a .bro file. `orientations` holds one entry per project image;
// `focal_pixels` is the passport's focal length over its pixel size.
std::string FormatBroFile(const std::vector<const CSSBAPoint*>& points,
                          const std::vector<nvc::COrientation>& orientations, double focal_pixels);
// Writes it through a temporary file and a rename. 1 on success, 0 when it
// cannot be written.
int WriteBroFile(const std::string& path, const std::vector<const CSSBAPoint*>& points,
                 const std::vector<nvc::COrientation>& orientations, double focal_pixels);

// One image of a read .bro file.
struct BroCamera {
  bool oriented = false;
  Eigen::Matrix3d rotation = Eigen::Matrix3d::Identity();  // camera -> world
  Eigen::Vector3d centre = Eigen::Vector3d::Zero();
};

// A parsed .bro file: one camera per image of the file, and the points that
// have at least two measurements (points with fewer are dropped and take no
// index).
struct BroContent {
  std::vector<BroCamera> cameras;
  std::vector<CSSBAPoint> points;
  int OrientedCount() const;
};

// Parses a .bro file for a project of `project_image_count` images. Fails
// (false, with a reason in `error`) when the path is not a regular file or
// cannot be read, the header counts are malformed or the file lists more images
// than the project has, a number is missing or malformed, or a measurement's
// image index lies outside the project. Counts are checked against what the
// rest of the file can hold before anything is allocated. With `cameras_only`
// the points are not read. Never throws.
bool ParseBroFile(const std::string& path, int project_image_count, bool cameras_only,
                  BroContent* content, std::string* error);

// Orientations of a project of `project_image_count` images from the cameras of
// a parsed file: interior orientation from the passport without distortion for
// every image, exterior orientation for the oriented ones (the others keep the
// centre 0, 0, 0).
std::vector<nvc::COrientation> OrientationsFromBro(const BroContent& content,
                                                   const CCameraPassport& passport,
                                                   int project_image_count);

// "<folder><name>_<step>.<extension>" (folder with a trailing separator).
std::string StepFilePath(const std::string& folder, const std::string& project_name, int step,
                         const std::string& extension);

// The step file: section "SSBA", key "iLastAddedImage". 1 / 0.
int WriteStepFile(const std::string& path, int last_added_image);
// -1 when the file or the entry is missing or not a number.
int ReadStepFile(const std::string& path);

// Writes every point with at least one measurement as a vertex with its colour
// ("RGB"), through WriteVtpPolyData with the local origin. Nothing is written
// (and 0 returned) while the list holds fewer than 3 points; 1 when written.
int WriteTiePointCloud(const std::string& path, const std::vector<CSSBAPoint*>& points,
                       const Eigen::Vector3d& local_origin);

// The reference patch of a point: the square of side `side` centred on
// round(scale * position) in the working image `image`; empty when it does not
// lie wholly inside.
cv::Mat CutReferencePatch(const cv::Mat& image, double x, double y, double scale, int side);

}  // namespace vantri::aat
