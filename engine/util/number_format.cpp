#include "util/number_format.h"

#include <cstdio>
#include <iomanip>
#include <sstream>

namespace bravik {
namespace {

std::string printfFormat(const char* format, int width, int decimals, double value) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, format, width, decimals, value);
  return buffer;
}

}  // namespace

std::string formatFixed(double value, int decimals, int width) {
  return printfFormat("%*.*f", width, decimals, value);
}

std::string formatScientific(double value, int decimals, int width) {
  return printfFormat("%*.*e", width, decimals, value);
}

std::string alignRight(const std::string& text, int width) {
  const int pad = width - static_cast<int>(text.size());
  return pad > 0 ? std::string(pad, ' ') + text : text;
}

std::string alignLeft(const std::string& text, int width) {
  const int pad = width - static_cast<int>(text.size());
  return pad > 0 ? text + std::string(pad, ' ') : text;
}

std::string formatGeneral(double value, int width) {
  std::ostringstream out;
  out << std::setprecision(6) << std::setw(width) << value;
  return out.str();
}

}  // namespace bravik
