// Text helpers of the whole core. Case folding is ASCII only ("C" locale rules), whatever the
// process locale: file names, extensions, keys and point names compare the same everywhere.
#pragma once

#include <string>
#include <string_view>

namespace vantri::system {

std::string ToLower(std::string_view text);
bool EqualsNoCase(std::string_view a, std::string_view b);
// Without leading and trailing blanks (space, TAB, CR, LF, VT, FF).
std::string_view Trim(std::string_view text);
// The text with every CR and LF replaced by a space: an INI or record value is one line, a line
// break would end it and start a key of its own.
std::string SingleLine(std::string_view text);

}  // namespace vantri::system
