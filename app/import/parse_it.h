#pragma once

// The delimited-text tokenizer of the point and GPS/IMU import.
//
// Splitting rule for a separator set S: a character not in S extends the current field; a
// separator ends the current field (an empty one too), except that a space in S is ignored while
// the space-collapse switch is on. The switch starts on, goes off at every non-separator and on
// at every space separator; other separators leave it as it is. So leading spaces and runs of
// spaces collapse, every other separator always ends a field (",," and ", " give empty fields),
// and the text's end emits the last field even when it is empty. There is no quoting.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace vantri::import {

class CParseField {
 public:
  explicit CParseField(std::string text = {}) : text_(std::move(text)) {}

  const std::string& text() const { return text_; }
  // Plain numeric conversions of the leading number: 0 for non-numeric text, no error report.
  int ToInt() const;
  long ToLong() const;
  double ToDouble() const;

 private:
  std::string text_;
};

class CParseIt {
 public:
  static constexpr std::size_t kMaxSeparators = 8;
  static constexpr const char* kDefaultSeparators = ",";

  // Reads the whole file into the parse text; true when at least one byte was read. False, never
  // an exception, for a folder, a device or a file over the read cap. Does nothing (and returns
  // false) when a text is already loaded.
  bool LoadFile(const std::string& path);
  // Keeps the first kMaxSeparators characters.
  void SetSeparators(std::string_view separators);
  const std::string& separators() const { return separators_; }
  // Takes `text` as the parse text and splits it with `separators`; false (and nothing changes)
  // when a text is already loaded.
  bool Parse(std::string_view text, std::string_view separators);
  // Splits the loaded text with the current separators; false without a text.
  bool Parse();

  int FieldCount() const { return static_cast<int>(fields_.size()); }
  const std::vector<CParseField>& fields() const { return fields_; }
  // Field access by 1-based index. An index below 1 or above the count gives an empty text (or
  // leaves the value untouched) and false.
  bool Field(int index, std::string* text) const;
  // Copies at most size - 1 characters and terminates the buffer; false when the field does not
  // exist (the buffer then holds an empty text).
  bool Field(int index, char* buffer, std::size_t size) const;
  bool FieldInt(int index, int* value) const;
  bool FieldLong(int index, long* value) const;
  bool FieldDouble(int index, double* value) const;

  bool IsSeparator(char c) const;

 private:
  const CParseField* At(int index) const;

  std::string text_;
  bool loaded_ = false;
  std::string separators_ = kDefaultSeparators;
  std::vector<CParseField> fields_;
};

// Splits `text` with the separator rule above (the set is used whole, not cut to 8).
std::vector<std::string> SplitFields(std::string_view text, std::string_view separators);

}  // namespace vantri::import
