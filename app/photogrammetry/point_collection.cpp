#include "photogrammetry/point_collection.h"

#include <strings.h>

#include <climits>
#include <cmath>
#include <sstream>

#include "system/files.h"
#include "system/nvtools.h"
#include "system/text_record.h"

namespace {

constexpr const char* kHeader = "VANTRI-POINTS";
constexpr int kVersion = 1;

std::string JoinPath(const std::string& folder, const char* name) {
  if (folder.empty()) return name;
  const char last = folder.back();
  return (last == '/' || last == '\\') ? folder + name : folder + "/" + name;
}

std::string FormatTriple(double a, double b, double c) {
  return vantri::system::FormatDouble(a) + " " + vantri::system::FormatDouble(b) + " " +
         vantri::system::FormatDouble(c);
}

void AppendPoint(const CGCPCollEx& point, std::string* text) {
  std::string& out = *text;
  out += "begin point\n";
  out += "id=" + std::to_string(point.id) + "\n";
  std::string name = point.name;
  for (char& c : name) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  out += "name=" + name + "\n";
  out += "xyz=" + FormatTriple(point.x, point.y, point.z) + "\n";
  out += "residuals=" + FormatTriple(point.res_x, point.res_y, point.res_z) + "\n";
  out += "variances=" + vantri::system::FormatDouble(point.xy_var) + " " +
         vantri::system::FormatDouble(point.z_var) + "\n";
  out += std::string("use=") + (point.use ? "1" : "0") + "\n";
  out += "measurements=" + std::to_string(point.measurements.size()) + "\n";
  for (const CSIFTColl& m : point.measurements) {
    out += "m=" + std::to_string(m.image_index) + " " + vantri::system::FormatDouble(m.x) + " " +
           vantri::system::FormatDouble(m.y) + "\n";
  }
  out += "end point\n";
}

// The words of a value as numbers; false unless exactly `count` convert.
bool ParseNumbers(const std::string& value, std::size_t count, std::vector<double>* out) {
  std::istringstream words(value);
  std::string word;
  out->clear();
  while (words >> word) {
    double number = 0.0;
    if (!NVT_StringToDouble(word, &number)) return false;
    out->push_back(number);
  }
  return out->size() == count;
}

// Reads one point from lines[*index] (just after "begin point") up to "end point".
bool ParsePoint(const std::vector<std::string>& lines, std::size_t* index, CGCPCollEx* point) {
  int declared = -1;
  bool has_name = false, has_xyz = false;
  std::vector<double> values;
  for (; *index < lines.size(); ++*index) {
    const std::string& line = lines[*index];
    if (line.empty()) continue;
    if (line == "end point") {
      ++*index;
      return has_name && has_xyz && declared == static_cast<int>(point->measurements.size());
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) return false;
    const std::string key = line.substr(0, equals), value = line.substr(equals + 1);
    if (key == "id") {
      if (!NVT_StringToInt(value, &point->id)) return false;
    } else if (key == "name") {
      point->name = value;
      has_name = true;
    } else if (key == "xyz") {
      if (!ParseNumbers(value, 3, &values)) return false;
      point->x = values[0], point->y = values[1], point->z = values[2];
      has_xyz = true;
    } else if (key == "residuals") {
      if (!ParseNumbers(value, 3, &values)) return false;
      point->res_x = values[0], point->res_y = values[1], point->res_z = values[2];
    } else if (key == "variances") {
      if (!ParseNumbers(value, 2, &values)) return false;
      point->xy_var = values[0], point->z_var = values[1];
    } else if (key == "use") {
      if (!NVT_StringToBoolean(value, &point->use)) return false;
    } else if (key == "measurements") {
      if (!NVT_StringToInt(value, &declared) || declared < 0) return false;
    } else if (key == "m") {
      // The range is checked before the conversion: a double beyond int does not convert.
      if (!ParseNumbers(value, 3, &values) || !(values[0] >= 0 && values[0] <= INT_MAX) ||
          values[0] != std::floor(values[0]))
        return false;
      point->measurements.push_back({static_cast<int>(values[0]), values[1], values[2]});
    }
  }
  return false;  // no "end point"
}

}  // namespace

bool vantri::photogrammetry::CaseInsensitiveLess::operator()(const std::string& a,
                                                             const std::string& b) const {
  return strcasecmp(a.c_str(), b.c_str()) < 0;
}

int WritePTCollFile(const std::string& path, const CGCPCollMap& points,
                    const vantri::photogrammetry::PointProgress& progress) {
  std::string text = std::string(kHeader) + " " + std::to_string(kVersion) + "\n";
  text += "points=" + std::to_string(points.size()) + "\n";
  int done = 0;
  for (const auto& [name, point] : points) {
    AppendPoint(point, &text);
    if (progress) progress(++done, static_cast<int>(points.size()));
  }
  return vantri::system::WriteFileAtomically(path, text);
}

int ReadPTCollFile(const std::string& path, CGCPCollMap* points,
                   const vantri::photogrammetry::PointProgress& progress) {
  std::vector<std::string> lines;
  if (points == nullptr || !vantri::system::ReadTextLines(path, &lines)) return 0;
  std::size_t index = 0;
  while (index < lines.size() && lines[index].empty()) ++index;
  int version = 0, declared = -1;
  if (index >= lines.size() || lines[index].rfind(std::string(kHeader) + " ", 0) != 0 ||
      !NVT_StringToInt(lines[index].substr(std::string(kHeader).size() + 1), &version) ||
      version < 1 || version > kVersion)
    return 0;
  ++index;
  CGCPCollMap read;
  for (; index < lines.size(); ++index) {
    const std::string& line = lines[index];
    if (line.empty() || line.front() == '#') continue;
    if (line.rfind("points=", 0) == 0) {
      if (!NVT_StringToInt(line.substr(7), &declared)) return 0;
      continue;
    }
    if (line != "begin point") return 0;
    ++index;
    CGCPCollEx point;
    if (!ParsePoint(lines, &index, &point) || read.count(point.name) != 0) return 0;
    const std::string key = point.name;
    read.emplace(key, std::move(point));
    if (progress) progress(static_cast<int>(read.size()), declared);
    --index;
  }
  if (declared != static_cast<int>(read.size())) return 0;
  *points = std::move(read);
  return 1;
}

int ReadGcpFiles(const std::string& project_folder, CGCPCollMap* points,
                 const vantri::photogrammetry::PointProgress& progress) {
  return ReadPTCollFile(JoinPath(project_folder, "GCP.col"), points, progress);
}

int ReadCpFiles(const std::string& project_folder, CGCPCollMap* points,
                const vantri::photogrammetry::PointProgress& progress) {
  return ReadPTCollFile(JoinPath(project_folder, "CP.col"), points, progress);
}
