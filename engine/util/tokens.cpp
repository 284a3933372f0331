#include "util/tokens.h"

#include <charconv>
#include <cstdlib>
#include <istream>
#include <limits>

namespace bravik {

bool readWord(std::istream& in, std::string& word) {
  std::string read;
  if (!(in >> read)) return false;
  word = std::move(read);
  return true;
}

bool readDouble(std::istream& in, double& value) {
  double read = 0.0;
  if (!(in >> read)) return false;
  value = read;
  return true;
}

bool readInt(std::istream& in, int& value) {
  std::string word;
  if (!(in >> word)) return false;
  int read = 0;
  const char* end = word.data() + word.size();
  const char* begin = word.data() + (word.size() > 1 && word[0] == '+' ? 1 : 0);
  const auto [ptr, ec] = std::from_chars(begin, end, read);
  if (ec != std::errc() || ptr != end) {
    in.setstate(std::ios::failbit);
    return false;
  }
  value = read;
  return true;
}

bool readSwitch(std::istream& in, bool& value) {
  std::string word;
  if (!(in >> word)) return false;
  if (word != "0" && word != "1") {
    in.setstate(std::ios::failbit);
    return false;
  }
  value = word == "1";
  return true;
}

namespace {

bool readBracketed(std::istream& in, double* values, int n) {
  in.get();  // '('
  for (int i = 0; i < n; ++i) {
    if (!(in >> values[i])) return false;
    in >> std::ws;
    const int next = in.get();
    if (next == ')') {
      for (int k = i + 1; k < n; ++k) values[k] = 0.0;
      return true;
    }
    if (next != ',' || i == n - 1) break;
  }
  in.setstate(std::ios::failbit);
  return false;
}

}  // namespace

bool readTuple(std::istream& in, double* values, int n) {
  double read[3] = {0.0, 0.0, 0.0};
  if (n < 1 || n > 3) return false;
  if (!(in >> std::ws)) return false;
  if (in.peek() == '(') {
    if (!readBracketed(in, read, n)) return false;
  } else {
    for (int i = 0; i < n; ++i) {
      if (!(in >> read[i])) return false;
    }
  }
  for (int i = 0; i < n; ++i) values[i] = read[i];
  return true;
}

bool readOptionalDouble(std::istream& in, double& value) {
  if (!in) return false;
  const std::streampos start = in.tellg();
  std::string word;
  if (!(in >> word)) {
    in.clear(in.rdstate() & ~std::ios::failbit);
    return false;
  }
  char* end = nullptr;
  const double read = std::strtod(word.c_str(), &end);
  if (end != word.c_str() + word.size() || word.empty()) {
    in.clear();
    in.seekg(start);
    return false;
  }
  value = read;
  return true;
}

void skipCommentLines(std::istream& in) {
  while (in >> std::ws && in.peek() == '#') {
    in.ignore(std::numeric_limits<std::streamsize>::max(), '\n');
  }
}

}  // namespace bravik
