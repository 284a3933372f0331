// Readers of the image-coordinate, object-coordinate and control-support files.
#include <array>
#include <iostream>
#include <memory>
#include <string>

#include "input/readers.h"
#include "lsq/ls_params.h"
#include "util/diagnostics.h"
#include "util/tokens.h"

namespace bravik {
namespace {

// Control-support record: point ID, type word, and for "co" and "ch" the component word.
struct SupportRecord {
  std::string id;
  std::int32_t type = kPointNone;
  std::array<bool, 3> components{false, false, false};
};

enum class RecordResult { kRead, kEnd, kFailed };

RecordResult readSupportRecord(std::istream& in, SupportRecord& record) {
  skipCommentLines(in);
  if (in.peek() == std::char_traits<char>::eof()) return RecordResult::kEnd;
  if (!readWord(in, record.id)) {
    messages() << "ERROR: Cannot read point ID.\n";
    return RecordResult::kFailed;
  }
  if (isListEnd(record.id)) return RecordResult::kEnd;
  std::string type;
  if (!readWord(in, type)) {
    messages() << "ERROR: Cannot read object point type.\n";
    return RecordResult::kFailed;
  }
  if (type == "co") {
    record.type = kPointControl;
  } else if (type == "in") {
    record.type = kPointIntersection;
  } else if (type == "ch") {
    record.type = kPointCheck;
  } else {
    messages() << "ERROR: Invalid object point type: " << type << "\n";
    return RecordResult::kFailed;
  }
  record.components = {false, false, false};
  if (record.type == kPointIntersection) return RecordResult::kRead;
  std::string list;
  if (!readWord(in, list)) return RecordResult::kFailed;
  for (int k = 0; k < 3; ++k) record.components[k] = list.find("xyz"[k]) != std::string::npos;
  return RecordResult::kRead;
}

void applySupport(const SupportRecord& record, ObjectPoint& point, const LSParams& ls) {
  for (int k = 0; k < 3; ++k) {
    const bool fixed = record.type == kPointControl && record.components[k];
    point.sdev[k] = fixed ? ls.sminu : ls.smaxu;
    point.checkComponents[k] = record.type == kPointCheck && record.components[k];
  }
  point.type = record.type;
}

}  // namespace

int readImageCoordinates(std::istream& in, OwnedList<BundleImage>& images) {
  std::string id;
  while (readWord(in, id) && !isListEnd(id)) {
    BundleImage* image = images.find(id);
    if (image == nullptr) {
      messages() << "ERROR: BundleImage " << id << " not found.\n";
      return -1;
    }
    if (image->camera->readImagePoints(in, *image) != 1) {
      messages() << "ERROR: BundleImage " << id << " read image coords. failed.\n";
      return -1;
    }
  }
  return 1;
}

int readObjectCoordinates(std::istream& in, OwnedList<ObjectPoint>& points, const LSParams& ls) {
  std::string form;
  if (!readWord(in, form)) return -1;
  const bool individual = form == "indiv-sdev";
  Vec3 commonSdev{0.0, 0.0, 0.0};
  if (form == "common-sdev") {
    if (!readTriple(in, commonSdev.data())) {
      messages() << "ERROR: Reading common std. dev. failed.\n";
      return -1;
    }
  } else if (!individual) {
    messages() << "ERROR: Unknown file type: " << form << "\n";
    return -1;
  }
  const double smax = ls.smax;
  std::string id;
  while (readWord(in, id) && !isListEnd(id)) {
    Vec3 xyz;
    Vec3 sdev = commonSdev;
    if (!readTriple(in, xyz.data())) {
      messages() << "ERROR: Reading coords. failed.\n";
      return -1;
    }
    if (individual && !readTriple(in, sdev.data())) {
      messages() << "ERROR: Reading std. dev. failed.\n";
      return -1;
    }
    ObjectPoint* point = points.find(id);
    if (point == nullptr) {
      points.insert(std::make_unique<ObjectPoint>(id, ls));
      point = points.find(id);
    } else {
      messages() << "ATTENTION: Object point " << id << " replaced.\n";
    }
    point->xyz = xyz;
    point->sdev = sdev;
    point->coordinatesGiven = true;
    point->checkComponents = {false, false, false};
    const bool allUnknown = sdev[0] > smax && sdev[1] > smax && sdev[2] > smax;
    point->type = allUnknown ? kPointIntersection : kPointControl;
  }
  return 1;
}

int readControlSupport(std::istream& in, OwnedList<ObjectPoint>& points, const LSParams& ls) {
  for (;;) {
    SupportRecord record;
    const RecordResult result = readSupportRecord(in, record);
    if (result == RecordResult::kEnd) return 1;
    if (result == RecordResult::kFailed) {
      messages() << "ERROR: Set std. dev. from CS failed.\n";
      return -1;
    }
    ObjectPoint* point = points.find(record.id);
    if (point == nullptr) {
      messages() << "ERROR: Object point ID " << record.id << " not exist.\n";
      return -1;
    }
    applySupport(record, *point, ls);
  }
}

}  // namespace bravik
