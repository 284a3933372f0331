#include "parse_it.h"

#include <cstdlib>
#include <cstring>

#include "system/bounded_read.h"

namespace vantri::import {

int CParseField::ToInt() const { return std::atoi(text_.c_str()); }
long CParseField::ToLong() const { return std::atol(text_.c_str()); }
double CParseField::ToDouble() const { return std::atof(text_.c_str()); }

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

bool CParseIt::LoadFile(const std::string& path) {
  if (loaded_) return false;
  std::string content;
  if (system::ReadRegularFile(path, &content) != system::ReadFileStatus::kOk || content.empty())
    return false;
  text_ = std::move(content);
  loaded_ = true;
  return true;
}

void CParseIt::SetSeparators(std::string_view separators) {
  separators_ = std::string(separators.substr(0, kMaxSeparators));
}

bool CParseIt::Parse(std::string_view text, std::string_view separators) {
  if (loaded_) return false;
  text_ = std::string(text);
  loaded_ = true;
  SetSeparators(separators);
  return Parse();
}

bool CParseIt::Parse() {
  if (!loaded_) return false;
  fields_.clear();
  for (auto& text : SplitFields(text_, separators_)) fields_.emplace_back(std::move(text));
  return true;
}

const CParseField* CParseIt::At(int index) const {
  if (index < 1 || index > FieldCount()) return nullptr;
  return &fields_[index - 1];
}

bool CParseIt::Field(int index, std::string* text) const {
  const CParseField* f = At(index);
  *text = f ? f->text() : std::string();
  return f != nullptr;
}

bool CParseIt::Field(int index, char* buffer, std::size_t size) const {
  if (size == 0) return false;
  const CParseField* f = At(index);
  const std::size_t n = f ? std::min(f->text().size(), size - 1) : 0;
  if (n > 0) std::memcpy(buffer, f->text().data(), n);
  buffer[n] = '\0';
  return f != nullptr;
}

bool CParseIt::FieldInt(int index, int* value) const {
  const CParseField* f = At(index);
  if (f) *value = f->ToInt();
  return f != nullptr;
}

bool CParseIt::FieldLong(int index, long* value) const {
  const CParseField* f = At(index);
  if (f) *value = f->ToLong();
  return f != nullptr;
}

bool CParseIt::FieldDouble(int index, double* value) const {
  const CParseField* f = At(index);
  if (f) *value = f->ToDouble();
  return f != nullptr;
}

bool CParseIt::IsSeparator(char c) const { return separators_.find(c) != std::string::npos; }

}  // namespace vantri::import
