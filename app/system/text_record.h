// One record of "key=value" lines under a versioned header line "<FORMAT> <version>": the
// layout of the passport and orientation files (docs/formats.md).
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantri::system {

// Doubles are written in the shortest form that reads back to the same value.
std::string FormatDouble(double value);

class TextRecord {
 public:
  TextRecord(std::string format, int version) : format_(std::move(format)), version_(version) {}

  // The format name and version of a file's header line; 0 when unreadable or malformed.
  static int ReadHeader(const std::string& path, std::string* format, int* version);

  // Reads the file: the header must name this format with a version from 1 to ours. Empty lines
  // and lines starting with '#' are skipped; a later key replaces an earlier one.
  int Load(const std::string& path);
  // Writes header and fields in insertion order, through a temporary file and a rename.
  int Save(const std::string& path) const;
  std::string ToText() const;
  int FromLines(const std::vector<std::string>& lines);

  int loaded_version() const { return loaded_version_; }

  void SetText(std::string_view key, std::string_view value);
  void SetInt(std::string_view key, long long value);
  void SetDouble(std::string_view key, double value);
  void SetDoubles(std::string_view key, const std::vector<double>& values);

  bool Has(std::string_view key) const;
  // 0 when the key is missing or its value does not convert.
  int GetText(std::string_view key, std::string* value) const;
  int GetInt(std::string_view key, int* value) const;
  int GetDouble(std::string_view key, double* value) const;
  // Exactly `count` blank-separated numbers.
  int GetDoubles(std::string_view key, std::size_t count, std::vector<double>* values) const;

 private:
  const std::string* Find(std::string_view key) const;

  std::string format_;
  int version_;
  int loaded_version_ = 0;
  std::vector<std::pair<std::string, std::string>> fields_;
};

}  // namespace vantri::system
