#ifndef BRAVIK_UTIL_NUMBER_FORMAT_H
#define BRAVIK_UTIL_NUMBER_FORMAT_H

#include <string>

namespace bravik {

// The fixed number formats of the report and result files, as strings so that no stream
// state leaks between writers. A width of 0 means no field width.
// F(p, w): fixed-point with p decimals, right-aligned in w characters.
std::string formatFixed(double value, int decimals, int width = 0);
// E(p, w): scientific notation with p digits after the point, right-aligned in w.
std::string formatScientific(double value, int decimals, int width = 0);
// Text right-aligned in w characters (never truncated).
std::string alignRight(const std::string& text, int width);
// Text left-aligned in w characters (never truncated).
std::string alignLeft(const std::string& text, int width);
// Number in the stream's general format with 6 significant digits, right-aligned in w.
std::string formatGeneral(double value, int width);

}  // namespace bravik

#endif  // BRAVIK_UTIL_NUMBER_FORMAT_H
