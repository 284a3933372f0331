// Text conversions of the utility layer. Conversions use the "C" locale rules whatever the
// process locale: the decimal separator is always '.'.
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "system/nvtools.h"
#include "system/text.h"

int NVT_StringToDouble(std::string_view text, double* value) {
  text = vantri::system::Trim(text);
  if (text.empty()) return 0;
  if (text.front() == '+') text.remove_prefix(1);
  double parsed = 0.0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc() || end != text.data() + text.size()) return 0;
  if (!std::isfinite(parsed)) return 0;
  *value = parsed;
  return 1;
}

int NVT_StringToInt(std::string_view text, int* value) {
  text = vantri::system::Trim(text);
  if (text.empty()) return 0;
  if (text.front() == '+') text.remove_prefix(1);
  int parsed = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc() || end != text.data() + text.size()) return 0;
  *value = parsed;
  return 1;
}

int NVT_StringToBoolean(std::string_view text, bool* value) {
  const std::string word = vantri::system::ToLower(vantri::system::Trim(text));
  if (word == "1" || word == "true" || word == "yes" || word == "on") {
    *value = true;
    return 1;
  }
  if (word == "0" || word == "false" || word == "no" || word == "off") {
    *value = false;
    return 1;
  }
  return 0;
}

std::string NVT_DoubleToString(double value, int decimals) {
  if (decimals < 0) decimals = 0;
  if (decimals > 17) decimals = 17;
  char buffer[400];
  const auto [end, error] =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
  if (error != std::errc()) return {};
  return std::string(buffer, end);
}

int NVT_DoubleToString(double value, int decimals, char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  const std::string text = NVT_DoubleToString(value, decimals);
  const std::size_t copied = std::min(text.size(), size - 1);
  std::memcpy(buffer, text.data(), copied);
  buffer[copied] = '\0';
  return copied == text.size() && !text.empty() ? 1 : 0;
}

int NVT_ParseString(std::string_view text, char separator, std::vector<std::string>* fields) {
  fields->clear();
  if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
  if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
  std::size_t start = 0;
  while (true) {
    const std::size_t found = text.find(separator, start);
    if (found == std::string_view::npos) {
      fields->emplace_back(text.substr(start));
      break;
    }
    fields->emplace_back(text.substr(start, found - start));
    start = found + 1;
  }
  return static_cast<int>(fields->size());
}
