#include "aba_image.h"

#include "binary_archive.h"
#include "system/files.h"
#include "system/text.h"

using vantri::project::ArchiveReader;
using vantri::project::ArchiveWriter;
using vantri::project::FileExtension;
using vantri::project::FileTitle;

namespace vantri::project {

namespace {

size_t FileStart(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? 0 : slash + 1;
}

}  // namespace

std::string FileTitle(const std::string& path) {
  const std::string file = path.substr(FileStart(path));
  const size_t dot = file.find_last_of('.');
  return dot == std::string::npos ? file : file.substr(0, dot);
}

std::string FileExtension(const std::string& path) {
  const std::string file = path.substr(FileStart(path));
  const size_t dot = file.find_last_of('.');
  return dot == std::string::npos ? std::string() : file.substr(dot + 1);
}

}  // namespace vantri::project

CABAImage::CABAImage(const std::string& path, const std::string& project_folder)
    : project_folder_(project_folder) {
  SetPath(path);
}

void CABAImage::SetPath(const std::string& path) {
  path_ = path;
  DeriveNames();
}

void CABAImage::DeriveNames() {
  name_ = FileTitle(path_);
  const bool is_jpeg =
      vantri::system::ToLower(FileExtension(path_)).find("jpg") != std::string::npos;
  preview_path_ = project_folder_ + name_ + (is_jpeg ? ".bmp" : ".jpg");
}

bool CABAImage::HasGpsImu() const {
  const bool position = x != 0.0 || y != 0.0 || z != 0.0;
  const bool attitude = omega != 0.0 || phi != 0.0 || kappa != 0.0;
  return position && attitude;
}

void CABAImage::Write(vantri::project::ArchiveWriter& out, int version) const {
  if (version < 200) return;
  out.WriteText(path_);
  for (double v : {x, y, z, omega, phi, kappa, var_xy, var_z, var_op, var_k}) out.WriteDouble(v);
  if (version > 200) out.WriteInt(enabled);
  if (version > 201) {
    out.WriteInt(reserved);
    for (double v : reserved_point1) out.WriteDouble(v);
    for (double v : reserved_point2) out.WriteDouble(v);
  }
}

bool CABAImage::Read(vantri::project::ArchiveReader& in, int version) {
  if (version < 200) return in.ok();
  std::string stored;
  const std::string decoded = in.ReadText(&stored);
  path_ = vantri::system::PathOnDisk(decoded, stored);
  DeriveNames();
  for (double* v : {&x, &y, &z, &omega, &phi, &kappa, &var_xy, &var_z, &var_op, &var_k})
    *v = in.ReadDouble();
  if (version > 200) enabled = in.ReadInt();
  if (version > 201) {
    reserved = in.ReadInt();
    for (double& v : reserved_point1) v = in.ReadDouble();
    for (double& v : reserved_point2) v = in.ReadDouble();
  }
  return in.ok();
}
