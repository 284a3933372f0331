#include "points/measure_command.h"

#include <strings.h>

#include <algorithm>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>

#include "import/parse_it.h"
#include "project/project.h"
#include "project/project_flows.h"
#include "system/files.h"
#include "system/nvtools.h"
#include "ui_interface/ui.h"

namespace vantri::points {
namespace {

struct RasterSize {
  int width = 0, height = 0;
};

std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> items;
  std::stringstream stream(list);
  std::string item;
  while (std::getline(stream, item, ',')) items.push_back(item);
  if (!list.empty() && list.back() == ',') items.emplace_back();
  return items;
}

std::string Trimmed(std::string text) {
  text.erase(0, text.find_first_not_of(" \t"));
  text.erase(text.find_last_not_of(" \t") + 1);
  return text;
}

int FindImage(const CVantriProject& project, const std::string& field) {
  const std::string title = project::FileTitle(Trimmed(field));
  for (int i = 0; i < project.ImageCount(); ++i)
    if (strcasecmp(project.Image(i)->Name().c_str(), title.c_str()) == 0) return i;
  return -1;
}

// Stores one data line; returns the reason when it is skipped, empty when stored.
class LineStorer {
 public:
  LineStorer(CVantriProject& project, CGCPCollMap& points, const MeasureFormat& format,
             const RasterOpener& open_raster)
      : project_(project), points_(points), format_(format), open_raster_(open_raster) {}

  std::string Store(const std::vector<std::string>& fields) {
    const int needed = std::max({format_.point, format_.image, format_.col, format_.row}) + 1;
    if (static_cast<int>(fields.size()) < needed) return "too few fields";
    const std::string name = Trimmed(fields[format_.point]);
    const auto point = points_.find(name);
    if (point == points_.end()) return "unknown point '" + name + "'";
    const int image = FindImage(project_, fields[format_.image]);
    if (image < 0) return "unknown image '" + Trimmed(fields[format_.image]) + "'";
    Eigen::Vector2d pixel;
    if (!NVT_StringToDouble(fields[format_.col], &pixel.x()) ||
        !NVT_StringToDouble(fields[format_.row], &pixel.y()))
      return "invalid pixel position";
    const std::optional<RasterSize> size = SizeOf(image);
    const std::string image_name = project_.Image(image)->Name();
    if (!size) return "unable to open image '" + image_name + "'";
    if (!InsideRaster(pixel, size->width, size->height))
      return "position outside image '" + image_name + "'";
    const Eigen::Vector2d centred = CentredFromPixel(pixel, size->width, size->height);
    StoreMeasurement(&point->second, image, centred.x(), centred.y());
    measured_points_.insert(point->second.name);
    return {};
  }

  int MeasuredPoints() const { return static_cast<int>(measured_points_.size()); }

 private:
  std::optional<RasterSize> SizeOf(int image) {
    const auto known = sizes_.find(image);
    if (known != sizes_.end()) return known->second;
    std::optional<RasterSize> size;
    if (open_raster_) {
      if (const auto raster = open_raster_(project_.Image(image)->Path()))
        size = RasterSize{raster->Width(), raster->Height()};
    }
    sizes_[image] = size;
    return size;
  }

  CVantriProject& project_;
  CGCPCollMap& points_;
  const MeasureFormat& format_;
  const RasterOpener& open_raster_;
  std::map<int, std::optional<RasterSize>> sizes_;
  std::set<std::string> measured_points_;
};

}  // namespace

bool StoreMeasurementsFromFile(CVantriProject& project, PointKind kind, const std::string& path,
                               const MeasureFormat& format, const RasterOpener& open_raster,
                               MeasureReport* report) {
  // Regular files only, capped: a folder once threw from the stream, /dev/zero never ended.
  std::vector<std::string> lines;
  if (!system::ReadTextLines(path, &lines)) return false;
  LineStorer storer(project, PointMap(project, kind), format, open_raster);
  const std::string separators = format.separators + "\t";
  for (size_t index = 0; index < lines.size(); ++index) {
    const std::string& line = lines[index];
    const size_t number = index + 1;
    if (line.empty() || format.comments.find(line[0]) != std::string::npos) continue;
    const std::string reason = storer.Store(import::SplitFields(line, separators));
    if (reason.empty()) {
      ++report->stored;
    } else {
      report->skipped.push_back("line " + std::to_string(number) + ": " + reason);
    }
  }
  report->points = storer.MeasuredPoints();
  return true;
}

std::string ParseMeasureColumns(const std::string& list, MeasureFormat* format) {
  std::map<std::string, int*> targets = {{"point", &format->point},
                                         {"image", &format->image},
                                         {"col", &format->col},
                                         {"row", &format->row}};
  std::set<std::string> seen;
  const std::vector<std::string> items = SplitList(list);
  for (size_t k = 0; k < items.size(); ++k) {
    std::string item = Trimmed(items[k]);
    std::transform(item.begin(), item.end(), item.begin(), ::tolower);
    if (item == "skip" || item == "-") continue;
    const auto target = targets.find(item);
    if (target == targets.end()) return "Unknown column \"" + items[k] + "\"";
    if (!seen.insert(item).second) return "Column \"" + item + "\" given twice";
    *target->second = static_cast<int>(k);
  }
  if (seen.size() != targets.size()) return "--columns needs point, image, col and row";
  return {};
}

MeasureFormat ProfileMeasureFormat() {
  MeasureFormat format;
  format.separators = NVT_GetUserProfileString("PointFile", "Separators", ", ;");
  format.comments = NVT_GetUserProfileString("PointFile", "Comments", "#%@+");
  return format;
}

bool MeasureIntoProjectFile(const std::string& project_path, PointKind kind,
                            const std::string& file, const MeasureFormat& format, UserInterface& ui,
                            std::ostream& out, std::ostream& err) {
  CVantriProject project;
  if (!project::OpenProjectPath(project, ui, project_path)) return false;
  MeasureReport report;
  if (!StoreMeasurementsFromFile(project, kind, file, format, OpenGdalRaster, &report)) {
    err << "Unable to open the selected file!\n";
    return false;
  }
  for (const std::string& skipped : report.skipped) err << skipped << "\n";
  if (report.stored == 0) {
    err << "No measurement stored\n";
    return false;
  }
  const std::string collection = CollectionPath(project, kind);
  if (!WritePTCollFile(collection, PointMap(project, kind))) {
    err << "Unable to write '" << collection << "'!\n";
    return false;
  }
  out << report.stored << " measurements of " << report.points << " points stored in "
      << CollectionFileName(kind) << "\n";
  return true;
}

}  // namespace vantri::points
