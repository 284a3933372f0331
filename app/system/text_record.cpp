#include "system/text_record.h"

#include <charconv>
#include <sstream>

#include "system/files.h"
#include "system/nvtools.h"
#include "system/text.h"

namespace vantri::system {

namespace {

bool ParseHeader(std::string_view line, std::string* format, int* version) {
  const std::size_t blank = line.find(' ');
  if (blank == std::string_view::npos || blank == 0) return false;
  *format = std::string(line.substr(0, blank));
  return NVT_StringToInt(line.substr(blank + 1), version) == 1;
}

bool IsCommentOrEmpty(const std::string& line) { return line.empty() || line.front() == '#'; }

}  // namespace

std::string FormatDouble(double value) {
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value);
  return error == std::errc() ? std::string(buffer, end) : std::string("0");
}

int TextRecord::ReadHeader(const std::string& path, std::string* format, int* version) {
  std::vector<std::string> lines;
  if (!ReadTextLines(path, &lines)) return 0;
  for (const std::string& line : lines) {
    if (IsCommentOrEmpty(line)) continue;
    return ParseHeader(line, format, version) ? 1 : 0;
  }
  return 0;
}

int TextRecord::FromLines(const std::vector<std::string>& lines) {
  std::vector<std::pair<std::string, std::string>> fields;
  bool header_seen = false;
  int version = 0;
  for (const std::string& line : lines) {
    if (IsCommentOrEmpty(line)) continue;
    if (!header_seen) {
      std::string format;
      if (!ParseHeader(line, &format, &version) || format != format_ || version < 1 ||
          version > version_)
        return 0;
      header_seen = true;
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos || equals == 0) return 0;
    fields.emplace_back(line.substr(0, equals), line.substr(equals + 1));
  }
  if (!header_seen) return 0;
  fields_ = std::move(fields);
  loaded_version_ = version;
  return 1;
}

int TextRecord::Load(const std::string& path) {
  std::vector<std::string> lines;
  return ReadTextLines(path, &lines) ? FromLines(lines) : 0;
}

std::string TextRecord::ToText() const {
  std::string text = format_ + " " + std::to_string(version_) + "\n";
  for (const auto& [key, value] : fields_) text += key + "=" + value + "\n";
  return text;
}

int TextRecord::Save(const std::string& path) const { return WriteFileAtomically(path, ToText()); }

void TextRecord::SetText(std::string_view key, std::string_view value) {
  const std::string clean = SingleLine(value);
  for (auto& [existing, stored] : fields_) {
    if (existing == key) {
      stored = clean;
      return;
    }
  }
  fields_.emplace_back(std::string(key), clean);
}

void TextRecord::SetInt(std::string_view key, long long value) {
  SetText(key, std::to_string(value));
}

void TextRecord::SetDouble(std::string_view key, double value) {
  SetText(key, FormatDouble(value));
}

void TextRecord::SetDoubles(std::string_view key, const std::vector<double>& values) {
  std::string text;
  for (double value : values) text += (text.empty() ? "" : " ") + FormatDouble(value);
  SetText(key, text);
}

const std::string* TextRecord::Find(std::string_view key) const {
  const std::string* found = nullptr;
  for (const auto& [existing, value] : fields_) {
    if (existing == key) found = &value;
  }
  return found;
}

bool TextRecord::Has(std::string_view key) const { return Find(key) != nullptr; }

int TextRecord::GetText(std::string_view key, std::string* value) const {
  const std::string* found = Find(key);
  if (found == nullptr) return 0;
  *value = *found;
  return 1;
}

int TextRecord::GetInt(std::string_view key, int* value) const {
  const std::string* found = Find(key);
  return found != nullptr ? NVT_StringToInt(*found, value) : 0;
}

int TextRecord::GetDouble(std::string_view key, double* value) const {
  const std::string* found = Find(key);
  return found != nullptr ? NVT_StringToDouble(*found, value) : 0;
}

int TextRecord::GetDoubles(std::string_view key, std::size_t count,
                           std::vector<double>* values) const {
  const std::string* found = Find(key);
  if (found == nullptr) return 0;
  std::istringstream words(*found);
  std::vector<double> parsed;
  std::string word;
  while (words >> word) {
    double value = 0.0;
    if (!NVT_StringToDouble(word, &value)) return 0;
    parsed.push_back(value);
  }
  if (parsed.size() != count) return 0;
  *values = std::move(parsed);
  return 1;
}

}  // namespace vantri::system
