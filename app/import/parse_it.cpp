#include "parse_it.h"

#include <cstdlib>
#include <cstring>

#include "system/bounded_read.h"

namespace vantri::import {

int CParseField::toInt() const { return std::atoi(text_.c_str()); }
long CParseField::toLong() const { return std::atol(text_.c_str()); }
double CParseField::toDouble() const { return std::atof(text_.c_str()); }

std::vector<std::string> SplitFields(std::string_view text, std::string_view separators) {
  std::vector<std::string> fields;
  std::string current;
  bool collapse_spaces = true;
  for (const char c : text) {
    if (separators.find(c) == std::string_view::npos) {
      current += c;
      collapse_spaces = false;
    } else if (c == ' ' && collapse_spaces) {
      continue;
    } else {
      fields.push_back(std::move(current));
      current.clear();
      if (c == ' ') collapse_spaces = true;
    }
  }
  fields.push_back(std::move(current));
  return fields;
}

bool CParseIt::loadFile(const std::string& path) {
  if (loaded_) return false;
  std::string content;
  if (ReadRegularFile(path, &content) != ReadFileStatus::kOk || content.empty()) return false;
  text_ = std::move(content);
  loaded_ = true;
  return true;
}

void CParseIt::setSeparators(std::string_view separators) {
  separators_ = std::string(separators.substr(0, kMaxSeparators));
}

bool CParseIt::parse(std::string_view text, std::string_view separators) {
  if (loaded_) return false;
  text_ = std::string(text);
  loaded_ = true;
  setSeparators(separators);
  return parse();
}

bool CParseIt::parse() {
  if (!loaded_) return false;
  fields_.clear();
  for (auto& text : SplitFields(text_, separators_)) fields_.emplace_back(std::move(text));
  return true;
}

const CParseField* CParseIt::at(int index) const {
  if (index < 1 || index > fieldCount()) return nullptr;
  return &fields_[index - 1];
}

bool CParseIt::field(int index, std::string* text) const {
  const CParseField* f = at(index);
  *text = f ? f->text() : std::string();
  return f != nullptr;
}

bool CParseIt::field(int index, char* buffer, std::size_t size) const {
  if (size == 0) return false;
  const CParseField* f = at(index);
  const std::size_t n = f ? std::min(f->text().size(), size - 1) : 0;
  if (n > 0) std::memcpy(buffer, f->text().data(), n);
  buffer[n] = '\0';
  return f != nullptr;
}

bool CParseIt::fieldInt(int index, int* value) const {
  const CParseField* f = at(index);
  if (f) *value = f->toInt();
  return f != nullptr;
}

bool CParseIt::fieldLong(int index, long* value) const {
  const CParseField* f = at(index);
  if (f) *value = f->toLong();
  return f != nullptr;
}

bool CParseIt::fieldDouble(int index, double* value) const {
  const CParseField* f = at(index);
  if (f) *value = f->toDouble();
  return f != nullptr;
}

bool CParseIt::isSeparator(char c) const { return separators_.find(c) != std::string::npos; }

}  // namespace vantri::import
