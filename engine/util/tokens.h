#ifndef BRAVIK_UTIL_TOKENS_H
#define BRAVIK_UTIL_TOKENS_H

#include <iosfwd>
#include <string>

namespace bravik {

// Token model of the input files: whitespace-separated words and numbers.
// Every reader returns false on failure, leaves the stream's fail state set and
// keeps the target unchanged.

inline constexpr const char* kStopDep = "stop-dep";

// True for "stop-dep", which ends every list.
inline bool isStopDep(const std::string& word) { return word == kStopDep; }
// True for "stop-dep" or "-1", which end the observation and point lists.
inline bool isListEnd(const std::string& word) { return word == kStopDep || word == "-1"; }

bool readWord(std::istream& in, std::string& word);
// A number in the stream's standard conversion.
bool readDouble(std::istream& in, double& value);
// An integer word without fraction or trailing characters.
bool readInt(std::istream& in, int& value);
// "0" is off, "1" is on; any other word fails the stream.
bool readSwitch(std::istream& in, bool& value);
// n numbers, either plain or as "(" a "," b ... ")" with optional blanks around the
// parentheses and commas. A bracket closed early gives 0 for the missing components;
// a missing closing parenthesis fails.
bool readTuple(std::istream& in, double* values, int n);
inline bool readTriple(std::istream& in, double* values) { return readTuple(in, values, 3); }
inline bool readPair(std::istream& in, double* values) { return readTuple(in, values, 2); }

// A number only if the next word is one; otherwise the word stays unread, the stream
// stays good (or at its end) and the result is false. For records whose trailing
// numbers may be missing.
bool readOptionalDouble(std::istream& in, double& value);

// Skips blank space and lines whose first non-blank character is '#'.
void skipCommentLines(std::istream& in);

}  // namespace bravik

#endif  // BRAVIK_UTIL_TOKENS_H
