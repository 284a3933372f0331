#include "aat/exchange_files.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string_view>

#include "geometry/vtp_writer.h"
#include "photogrammetry/passport.h"
#include "system/files.h"
#include "system/nvtools.h"
#include "system/text.h"

namespace vantri::aat {

namespace {

// Whitespace-separated numbers of a text, read the way "%d" and "%lf" read
// them.
class NumberScanner {
 public:
  explicit NumberScanner(std::string_view text) : text_(text) {}

  void SkipLine() {
    const size_t end = text_.find('\n', position_);
    position_ = end == std::string_view::npos ? text_.size() : end + 1;
  }
  bool ReadInt(int* value) { return Read(value); }
  bool ReadDouble(double* value) { return Read(value); }
  // Bytes not yet read: a bound for the counts still to come.
  size_t Remaining() const { return text_.size() - position_; }

 private:
  template <typename T>
  bool Read(T* value) {
    while (position_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[position_])))
      ++position_;
    size_t begin = position_;
    if (begin < text_.size() && text_[begin] == '+') ++begin;  // from_chars refuses a '+' sign
    const char* first = text_.data() + begin;
    const char* last = text_.data() + text_.size();
    const auto [end, error] = std::from_chars(first, last, *value);
    if (error != std::errc() || end == first) return false;
    position_ = static_cast<size_t>(end - text_.data());
    return true;
  }

  std::string_view text_;
  size_t position_ = 0;
};

// Shortest text of a point block: "0 0 0\n0 0 0\n2 0 0 0 0 0 0 0 0\n" without
// the measurements is 14 bytes; a measurement " i k x y" takes at least 8.
constexpr size_t kMinPointBytes = 14;
constexpr size_t kMinMeasurementBytes = 8;
// A camera block is at least five lines "0 0 0".
constexpr size_t kMinCameraBytes = 30;

void AppendFormatted(std::string* text, const char* format, double a, double b, double c) {
  char line[128];
  const int length = std::snprintf(line, sizeof line, format, a, b, c);
  if (length > 0) text->append(line, static_cast<size_t>(std::min<int>(length, sizeof line - 1)));
}

bool Fail(std::string* error, const std::string& reason) {
  if (error != nullptr) *error = reason;
  return false;
}

bool ReadCamera(NumberScanner& scanner, BroCamera* camera) {
  std::array<double, 15> values{};
  for (double& value : values)
    if (!scanner.ReadDouble(&value) || !std::isfinite(value)) return false;
  if (values[0] == 0.0) return true;  // unoriented
  camera->oriented = true;
  for (int column = 0; column < 3; ++column)
    for (int row = 0; row < 3; ++row) camera->rotation(row, column) = values[3 + 3 * column + row];
  camera->centre = {values[12], values[13], values[14]};
  return true;
}

// Reads one point block; `keep` is false for a point with fewer than two
// measurements.
bool ReadPoint(NumberScanner& scanner, int project_image_count, CSSBAPoint* point, bool* keep,
               std::string* error) {
  int colour[3];
  int count = 0;
  if (!scanner.ReadDouble(&point->X) || !scanner.ReadDouble(&point->Y) ||
      !scanner.ReadDouble(&point->Z) || !scanner.ReadInt(&colour[0]) ||
      !scanner.ReadInt(&colour[1]) || !scanner.ReadInt(&colour[2]) || !scanner.ReadInt(&count))
    return Fail(error, "truncated or malformed point");
  if (count < 0 || static_cast<size_t>(count) > scanner.Remaining() / kMinMeasurementBytes + 1)
    return Fail(error, "measurement count does not fit the file");
  point->R = static_cast<uint8_t>(colour[0]);
  point->G = static_cast<uint8_t>(colour[1]);
  point->B = static_cast<uint8_t>(colour[2]);
  point->measurements.reserve(static_cast<size_t>(count));
  for (int m = 0; m < count; ++m) {
    CSSBAColl measurement;
    if (!scanner.ReadInt(&measurement.camera) || !scanner.ReadInt(&measurement.key) ||
        !scanner.ReadDouble(&measurement.x) || !scanner.ReadDouble(&measurement.y))
      return Fail(error, "truncated or malformed measurement");
    if (measurement.camera < 0 || measurement.camera >= project_image_count)
      return Fail(error, "measurement image index out of range");
    point->measurements.push_back(measurement);
  }
  *keep = count >= 2;
  return true;
}

}  // namespace

void TiePointList::Reset(int image_count) {
  points.clear();
  reference_patches.clear();
  measurements_by_image.assign(static_cast<size_t>(std::max(image_count, 0)), {});
}

int TiePointList::Append(std::unique_ptr<CSSBAPoint> point) {
  const int index = Size();
  point->point_index = index;
  for (size_t m = 0; m < point->measurements.size(); ++m) {
    const auto image = static_cast<size_t>(point->measurements[m].camera);
    if (image < measurements_by_image.size())
      measurements_by_image[image].push_back({index, static_cast<int32_t>(m)});
  }
  points.push_back(std::move(point));
  reference_patches.emplace_back();
  return index;
}

std::vector<CSSBAPoint*> TiePointList::Pointers() const {
  std::vector<CSSBAPoint*> pointers;
  pointers.reserve(points.size());
  for (const auto& point : points) pointers.push_back(point.get());
  return pointers;
}

std::string FormatBroFile(const std::vector<const CSSBAPoint*>& points,
                          const std::vector<nvc::COrientation>& orientations, double focal_pixels) {
  std::string text = "# SSBA file v1.0\n";
  text += std::to_string(orientations.size()) + " " + std::to_string(points.size()) + "\n";
  const char* kLine = "%0.10e %0.10e %0.10e\n";
  for (const nvc::COrientation& orientation : orientations) {
    const Eigen::Vector3d& centre = orientation.GetN();
    if (centre.x() == 0.0 && centre.y() == 0.0 && centre.z() == 0.0) {
      for (int line = 0; line < 5; ++line) text += "0 0 0\n";
      continue;
    }
    AppendFormatted(&text, kLine, focal_pixels, 0.0, 0.0);
    const Eigen::Matrix3d& rotation = orientation.GetRotMat();
    for (int column = 0; column < 3; ++column)
      AppendFormatted(&text, kLine, rotation(0, column), rotation(1, column), rotation(2, column));
    AppendFormatted(&text, kLine, centre.x(), centre.y(), centre.z());
  }
  char buffer[160];
  for (const CSSBAPoint* point : points) {
    AppendFormatted(&text, kLine, point->X, point->Y, point->Z);
    std::snprintf(buffer, sizeof buffer, "%d %d %d\n", point->R, point->G, point->B);
    text += buffer;
    text += std::to_string(point->measurements.size());
    for (const CSSBAColl& measurement : point->measurements) {
      std::snprintf(buffer, sizeof buffer, " %d %d %.4lf %.4lf", measurement.camera,
                    measurement.key, measurement.x, measurement.y);
      text += buffer;
    }
    text += '\n';
  }
  return text;
}

int WriteBroFile(const std::string& path, const std::vector<const CSSBAPoint*>& points,
                 const std::vector<nvc::COrientation>& orientations, double focal_pixels) {
  if (path.empty()) return 0;
  return vantri::system::WriteFileAtomically(path,
                                             FormatBroFile(points, orientations, focal_pixels))
             ? 1
             : 0;
}

int BroContent::OrientedCount() const {
  int count = 0;
  for (const BroCamera& camera : cameras) count += camera.oriented ? 1 : 0;
  return count;
}

bool ParseBroFile(const std::string& path, int project_image_count, bool cameras_only,
                  BroContent* content, std::string* error) {
  *content = BroContent{};
  std::error_code status_error;
  if (!std::filesystem::is_regular_file(path, status_error))
    return Fail(error, "not a regular file: " + path);
  std::string text;
  if (!vantri::system::ReadWholeFile(path, text)) return Fail(error, "cannot read " + path);

  NumberScanner scanner(text);
  scanner.SkipLine();
  int image_count = 0, point_count = 0;
  if (!scanner.ReadInt(&image_count) || !scanner.ReadInt(&point_count))
    return Fail(error, "malformed counts");
  if (image_count < 0 || point_count < 0) return Fail(error, "negative counts");
  if (image_count > project_image_count)
    return Fail(error, "the file lists more images than the project has");
  if (static_cast<size_t>(image_count) > scanner.Remaining() / kMinCameraBytes + 1)
    return Fail(error, "image count does not fit the file");

  content->cameras.resize(static_cast<size_t>(image_count));
  for (BroCamera& camera : content->cameras)
    if (!ReadCamera(scanner, &camera)) return Fail(error, "truncated or malformed camera");
  if (cameras_only) return true;

  if (static_cast<size_t>(point_count) > scanner.Remaining() / kMinPointBytes + 1)
    return Fail(error, "point count does not fit the file");
  content->points.reserve(static_cast<size_t>(point_count));
  for (int p = 0; p < point_count; ++p) {
    CSSBAPoint point;
    bool keep = false;
    if (!ReadPoint(scanner, project_image_count, &point, &keep, error)) {
      content->points.clear();
      return false;
    }
    if (keep) content->points.push_back(std::move(point));
  }
  return true;
}

std::vector<nvc::COrientation> OrientationsFromBro(const BroContent& content,
                                                   const CCameraPassport& passport,
                                                   int project_image_count) {
  std::vector<nvc::COrientation> orientations(static_cast<size_t>(project_image_count));
  for (size_t i = 0; i < orientations.size(); ++i) {
    orientations[i].BuildINTWithoutDistortion(passport, 0);
    if (i >= content.cameras.size() || !content.cameras[i].oriented) continue;
    orientations[i].SetRotMat(content.cameras[i].rotation);
    orientations[i].SetN(content.cameras[i].centre);
  }
  return orientations;
}

std::string StepFilePath(const std::string& folder, const std::string& project_name, int step,
                         const std::string& extension) {
  char name[64];
  std::snprintf(name, sizeof name, "_%d.", step);
  return folder + project_name + name + extension;
}

int WriteStepFile(const std::string& path, int last_added_image) {
  system::IniFile ini;
  char value[32];
  std::snprintf(value, sizeof value, "%d", last_added_image);
  ini.Set("SSBA", "iLastAddedImage", value);
  return ini.Save(path) != 0 ? 1 : 0;
}

int ReadStepFile(const std::string& path) {
  system::IniFile ini;
  std::error_code status_error;
  if (!std::filesystem::is_regular_file(path, status_error) || ini.Load(path) == 0) return -1;
  int value = -1;
  if (NVT_StringToInt(ini.Get("SSBA", "iLastAddedImage", ""), &value) == 0) return -1;
  return value;
}

int WriteTiePointCloud(const std::string& path, const std::vector<CSSBAPoint*>& points,
                       const Eigen::Vector3d& local_origin) {
  if (points.size() < 3) return 0;
  std::vector<Eigen::Vector3d> positions;
  std::vector<std::array<std::uint8_t, 3>> colours;
  for (const CSSBAPoint* point : points) {
    if (point->measurements.empty()) continue;
    positions.emplace_back(point->X, point->Y, point->Z);
    colours.push_back({point->R, point->G, point->B});
  }
  return WriteVtpPolyData(positions, path, local_origin, &colours);
}

cv::Mat CutReferencePatch(const cv::Mat& image, double x, double y, double scale, int side) {
  if (image.empty() || side <= 0) return {};
  const double centre_x = std::round(scale * x), centre_y = std::round(scale * y);
  if (!(std::abs(centre_x) < 1e9) || !(std::abs(centre_y) < 1e9)) return {};
  const cv::Rect rect(static_cast<int>(centre_x) - side / 2, static_cast<int>(centre_y) - side / 2,
                      side, side);
  if ((rect & cv::Rect(0, 0, image.cols, image.rows)) != rect) return {};
  return image(rect).clone();
}

}  // namespace vantri::aat
