#include "project/project.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "project/binary_archive.h"
#include "system/files.h"
#include "system/text.h"
#include "ui_interface/ui.h"

namespace fs = std::filesystem;

namespace {

// Smallest image record of a binary project: empty path and ten doubles.
constexpr size_t kMinImageRecordBytes = 1 + 10 * 8;

void WritePassport(vantri::project::ArchiveWriter& out, const CCameraPassport* passport) {
  if (passport == nullptr) {
    out.WriteInt(-1);
    return;
  }
  out.WriteInt(passport->TypeCode());
  std::ostringstream form;
  passport->Serialize(form);
  const std::string bytes = form.str();
  out.WriteRaw(bytes.data(), bytes.size());
}

// Null for a code without passport (nothing stored); on a malformed form the reader fails.
std::unique_ptr<CCameraPassport> ReadPassport(vantri::project::ArchiveReader& in) {
  const int32_t code = in.ReadInt();
  if (!in.ok()) return nullptr;
  std::unique_ptr<CCameraPassport> passport = CCameraPassport::CreateForTypeCode(code);
  if (passport == nullptr) return nullptr;
  std::istringstream form{std::string(in.remaining())};
  if (passport->Deserialize(form) == 0) {
    in.Fail();
    return nullptr;
  }
  std::streamoff consumed = form.tellg();
  if (consumed < 0) {
    form.clear();
    consumed = form.tellg();
  }
  in.Skip(consumed < 0 ? in.BytesLeft() : static_cast<size_t>(consumed));
  return passport;
}

// Old projects carry no passport: the first "<folder>*.ccb" file (by name) is converted.
int PassportFromFolderCcb(CVantriProject& project, vantri::UserInterface* ui) {
  std::vector<fs::path> candidates;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(project.folder, ec))
    if (!entry.is_directory(ec) &&
        vantri::system::ToLower(entry.path().extension().string()) == ".ccb")
      candidates.push_back(entry.path());
  if (candidates.empty()) {
    if (ui != nullptr)
      ui->ShowMessage("Unable to find camera passport!", vantri::MessageIcon::kExclamation);
    return 0;
  }
  std::sort(candidates.begin(), candidates.end());
  auto passport = std::make_unique<CBCCCameraPassport>();
  if (CCBtoBCC(candidates.front().string(), passport.get()) == 0) {
    if (ui != nullptr)
      ui->ShowMessage("Unable to read camera passport!", vantri::MessageIcon::kExclamation);
    return 0;
  }
  project.passport = std::move(passport);
  project.working_passport = project.passport->Clone();
  project.ApplyUndistortionRule();
  return 1;
}

void LoadProjectFolderFiles(CVantriProject& project) {
  if (!project.folder.empty()) project.settings.Load(project.folder + "settings.ini");
  std::error_code ec;
  if (fs::exists(project.folder + "GCP.col", ec)) ReadGcpFiles(project.folder, &project.gcps);
  if (fs::exists(project.folder + "CP.col", ec)) ReadCpFiles(project.folder, &project.check_points);
}

// Lines of a text file without their CR-LF or LF ends.
std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string line(text.substr(pos, end - pos));
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    pos = end + 1;
  }
  return lines;
}

// Text projects are decoded line by line by the archive's rule, so one path in another encoding
// does not change the others. A line that no 8-bit form keeps (bytes that are not UTF-8) is
// written as it is; binary projects keep it exactly.
std::string TextOfCodePage(std::string_view bytes) {
  std::string text;
  for (size_t pos = 0; pos <= bytes.size();) {
    size_t end = bytes.find('\n', pos);
    if (end == std::string_view::npos) end = bytes.size();
    text += vantri::project::DecodeStoredText(bytes.substr(pos, end - pos));
    if (end < bytes.size()) text += '\n';
    pos = end + 1;
  }
  return text;
}

std::string CodePageOfText(std::string_view utf8) {
  std::string out;
  for (size_t pos = 0; pos <= utf8.size();) {
    size_t end = utf8.find('\n', pos);
    if (end == std::string_view::npos) end = utf8.size();
    std::string stored;
    vantri::project::EncodeStoredText(utf8.substr(pos, end - pos), stored);
    out += stored;
    if (end < utf8.size()) out += '\n';
    pos = end + 1;
  }
  return out;
}

// The text after `prefix` up to the end of the line, at most 255 characters; false when the line
// does not start with the prefix.
bool ValueAfterPrefix(const std::string& line, std::string_view prefix, std::string& value) {
  if (line.compare(0, prefix.size(), prefix) != 0) return false;
  value = line.substr(prefix.size(), 255);
  return true;
}

class LineCursor {
 public:
  explicit LineCursor(std::vector<std::string> lines) : lines_(std::move(lines)) {}
  bool Next(std::string& line) {
    if (pos_ >= lines_.size()) return false;
    line = lines_[pos_++];
    return true;
  }
  // Skips empty lines, then expects `header`.
  bool ExpectHeader(std::string_view header) {
    while (pos_ < lines_.size() && lines_[pos_].find_first_not_of(" \t") == std::string::npos)
      ++pos_;
    return pos_ < lines_.size() && lines_[pos_++] == header;
  }
  size_t Left() const { return lines_.size() - pos_; }

 private:
  std::vector<std::string> lines_;
  size_t pos_ = 0;
};

}  // namespace

// ---- CVantriProject ----------------------------------------------------------------------------

CVantriProject::CVantriProject() { Close(); }

CABAImage* CVantriProject::Image(int index) {
  return index < 0 || index >= ImageCount() ? nullptr : images[static_cast<size_t>(index)].get();
}

const CABAImage* CVantriProject::Image(int index) const {
  return index < 0 || index >= ImageCount() ? nullptr : images[static_cast<size_t>(index)].get();
}

CABAImage& CVantriProject::AppendImage(const std::string& path) {
  images.push_back(std::make_unique<CABAImage>(path, folder));
  return *images.back();
}

void CVantriProject::ApplyUndistortionRule() {
  undistortion_flag = 0;
  if (passport == nullptr || working_passport == nullptr || !passport->HasLensDistortion()) return;
  const long long megapixels =
      static_cast<long long>(passport->width) * passport->height / 1048576LL;
  if (megapixels > vantri::project::kUndistortionMaxMegapixels) return;
  undistortion_flag = 1;
  working_passport->SetDistortionFree();
}

void CVantriProject::Close() {
  passport.reset();
  working_passport.reset();
  undistortion_flag = 0;
  images.clear();
  footprints.clear();
  folder.clear();
  name.clear();
  file_path.clear();
  passport_file_name.clear();
  local_origin = {0.0, 0.0, 0.0};
  coordinate_system.Reset();
  coordinate_system.units = vantri::crs::kUnitsMeters;
  gcps.clear();
  check_points.clear();
  used_tie_points = 0;
}

namespace vantri::project {

// ---- Binary form -------------------------------------------------------------------------------

std::string WriteBinaryProject(const CVantriProject& project, int version) {
  vantri::project::ArchiveWriter out;
  const vantri::crs::CoordinateSystem& cs = project.coordinate_system;
  out.WriteInt(version);
  out.WriteText(cs.ProjectionName());
  out.WriteText(cs.DatumName());
  out.WriteText(cs.FuseName());
  out.WriteText(cs.UnitsName());
  if (version > 204) {
    out.WriteText(cs.user_wkt);
    out.WriteInt(cs.user_epsg);
  }
  if (version > 202) {
    WritePassport(out, project.passport.get());
    WritePassport(out, project.working_passport.get());
    out.WriteInt(project.undistortion_flag);
  }
  if (version > 203) out.WriteText(project.passport_file_name);
  out.WriteInt(project.ImageCount());
  for (const auto& image : project.images) image->Write(out, version);
  if (version > 205) {
    out.WriteInt(project.use_external_dem);
    out.WriteText(project.external_dem_path);
  }
  return out.bytes();
}

int ReadBinaryProject(CVantriProject& project, std::string_view bytes, vantri::UserInterface& ui) {
  vantri::project::ArchiveReader in(bytes);
  const int32_t version = in.ReadInt();
  if (!in.ok() || version < kOldestBinaryVersion || version > kProjectFormatVersion) return 0;
  project.format_version = version;

  const std::string projection = in.ReadText();
  const std::string datum = in.ReadText();
  const std::string fuse = in.ReadText();
  const std::string units = in.ReadText();
  std::string user_wkt;
  int32_t user_epsg = 0;
  if (version > 204) {
    user_wkt = in.ReadText();
    user_epsg = in.ReadInt();
  }
  if (!in.ok()) return 0;
  vantri::crs::CoordinateSystem& cs = project.coordinate_system;
  cs.SetFromNames(projection, datum, fuse, units);
  cs.user_wkt = user_wkt;
  cs.user_epsg = user_epsg;

  if (version > 202) {
    project.passport = ReadPassport(in);
    project.working_passport = ReadPassport(in);
    project.undistortion_flag = in.ReadInt();
    if (!in.ok()) return 0;
  }
  if (version > 203) project.passport_file_name = in.ReadText();

  const int32_t count = in.ReadInt();
  if (!in.ok() || count < 0 || static_cast<size_t>(count) > in.BytesLeft() / kMinImageRecordBytes)
    return 0;
  std::vector<std::array<double, 3>> positions;
  for (int32_t i = 0; i < count; ++i) {
    CABAImage& image = project.AppendImage({});
    if (!image.Read(in, version)) return 0;
    positions.push_back({image.x, image.y, image.z});
  }
  if (version > 205) {
    project.use_external_dem = in.ReadInt();
    std::string stored;
    const std::string decoded = in.ReadText(&stored);
    project.external_dem_path = vantri::system::PathOnDisk(decoded, stored);
  }
  if (!in.ok()) return 0;

  cs.RebuildTransformations();
  if (version <= 202 && PassportFromFolderCcb(project, &ui) == 0) return 0;
  if (version <= 203 && project.passport != nullptr)
    project.passport_file_name = project.passport->model;
  if (project.choose_dem) project.choose_dem(project, positions);
  return 1;
}

// ---- Text form ---------------------------------------------------------------------------------

std::string WriteTextProject(const CVantriProject& project, int version) {
  std::string out;
  char line[1024];
  auto add = [&out](const std::string& text) { out += text + "\n"; };
  std::snprintf(line, sizeof line, "version = %d", version);
  add(line);
  add("");
  if (version >= 100) {
    std::snprintf(line, sizeof line, "image count = %d", project.ImageCount());
    add(line);
    add("");
    add("images file path");
    for (const auto& image : project.images) add(image->Path());
  }
  add("");
  add("images GPS/IMU data");
  for (const auto& im : project.images) {
    if (version >= 104) {
      std::snprintf(line, sizeof line,
                    "%.17g %.17g %.17g %.17g %.17g %.17g %.17g %.17g %.17g %.17g", im->x, im->y,
                    im->z, im->omega, im->phi, im->kappa, im->var_xy, im->var_z, im->var_op,
                    im->var_k);
    } else if (version == 103) {
      const bool zero = im->var_xy == 0 && im->var_z == 0 && im->var_op == 0 && im->var_k == 0;
      std::snprintf(line, sizeof line, "%.17g %.17g %.17g %.17g %.17g %.17g %d", im->x, im->y,
                    im->z, im->omega, im->phi, im->kappa, zero ? 1 : 0);
    } else {
      std::snprintf(line, sizeof line, "%.17g %.17g %.17g %.17g %.17g %.17g", im->x, im->y, im->z,
                    im->omega, im->phi, im->kappa);
    }
    add(line);
  }
  if (version == 101 || version == 102) {
    add("");
    add("level");
    for (const auto& image : project.images) add(std::to_string(image->level));
  }
  if (version > 101) {
    const vantri::crs::CoordinateSystem& cs = project.coordinate_system;
    add("");
    add("coordinate system");
    add("projection = " + cs.ProjectionName());
    add("datum = " + cs.DatumName());
    add("fuse = " + cs.FuseName());
    add("units = " + cs.UnitsName());
  }
  return CodePageOfText(out);
}

int ReadTextProject(CVantriProject& project, std::string_view text) {
  LineCursor lines(SplitLines(TextOfCodePage(text)));
  std::string line;
  int version = 0;
  if (!lines.Next(line) || std::sscanf(line.c_str(), "version = %d", &version) != 1) return 0;
  project.format_version = version;

  int count = 0;
  if (version >= 100) {
    std::string count_line;
    do {
      if (!lines.Next(count_line)) return 0;
    } while (count_line.empty());
    if (std::sscanf(count_line.c_str(), "image count = %d", &count) != 1 || count < 0 ||
        static_cast<size_t>(count) > lines.Left())
      return 0;
    if (!lines.ExpectHeader("images file path")) return 0;
    for (int i = 0; i < count; ++i) {
      if (!lines.Next(line)) return 0;
      project.AppendImage(line);
    }
  }
  if (!lines.ExpectHeader("images GPS/IMU data")) return 0;
  for (auto& im : project.images) {
    if (!lines.Next(line)) return 0;
    int parsed = 0;
    if (version >= 104) {
      parsed = std::sscanf(line.c_str(), "%lf %lf %lf %lf %lf %lf %lf %lf %lf %lf", &im->x, &im->y,
                           &im->z, &im->omega, &im->phi, &im->kappa, &im->var_xy, &im->var_z,
                           &im->var_op, &im->var_k);
      if (parsed != 10) return 0;
    } else if (version == 103) {
      int zero_variances = 0;
      parsed = std::sscanf(line.c_str(), "%lf %lf %lf %lf %lf %lf %d", &im->x, &im->y, &im->z,
                           &im->omega, &im->phi, &im->kappa, &zero_variances);
      if (parsed != 7) return 0;
      if (zero_variances == 1) im->var_xy = im->var_z = im->var_op = im->var_k = 0.0;
    } else {
      parsed = std::sscanf(line.c_str(), "%lf %lf %lf %lf %lf %lf", &im->x, &im->y, &im->z,
                           &im->omega, &im->phi, &im->kappa);
      if (parsed != 6) return 0;
    }
  }
  if (version == 101 || version == 102) {
    if (!lines.ExpectHeader("level")) return 0;
    for (auto& im : project.images) {
      int level = 0;
      if (!lines.Next(line) || std::sscanf(line.c_str(), "%d", &level) != 1) return 0;
      im->level = static_cast<int8_t>(level);
    }
  }
  if (version > 101) {
    if (!lines.ExpectHeader("coordinate system")) return 0;
    std::string names[4];
    const char* prefixes[4] = {"projection = ", "datum = ", "fuse = ", "units = "};
    for (int k = 0; k < 4; ++k)
      if (!lines.Next(line) || !ValueAfterPrefix(line, prefixes[k], names[k])) return 0;
    project.coordinate_system.SetFromNames(names[0], names[1], names[2], names[3]);
    project.coordinate_system.RebuildTransformations();
  }
  return 1;
}

// ---- Files -------------------------------------------------------------------------------------

int LoadProjectFile(CVantriProject& project, const std::string& path, vantri::UserInterface& ui) {
  std::string bytes;
  if (!vantri::system::ReadWholeFile(path, bytes)) return 0;
  project.settings.SetUi(&ui);
  const std::string extension = vantri::system::ToLower(FileExtension(path));
  const bool text_form = extension == "aba";
  const int read =
      text_form ? ReadTextProject(project, bytes) : ReadBinaryProject(project, bytes, ui);
  if (read == 0) return 0;
  // Text projects carry no passport; the folder's ccb passport is taken when there is one.
  if (text_form && project.passport == nullptr && !project.folder.empty() &&
      PassportFromFolderCcb(project, nullptr) != 0)
    project.passport_file_name = project.passport->model;
  LoadProjectFolderFiles(project);
  return 1;
}

int SaveProjectFile(const CVantriProject& project, const std::string& path, int version) {
  if (path.empty()) return 0;
  const std::string bytes = version < kOldestBinaryVersion ? WriteTextProject(project, version)
                                                           : WriteBinaryProject(project, version);
  return vantri::system::WriteFileAtomically(path, bytes) ? 1 : 0;
}

bool ReadLocalOrigin(const std::string& path, std::array<double, 3>& origin) {
  std::FILE* file = std::fopen(path.c_str(), "r");
  if (file == nullptr) return false;
  std::array<double, 3> read{};
  const bool ok = std::fscanf(file, "%lf %lf %lf", &read[0], &read[1], &read[2]) == 3;
  std::fclose(file);
  if (ok) origin = read;
  return ok;
}

}  // namespace vantri::project
