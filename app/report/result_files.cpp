#include "report/result_files.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace vantri::report {
namespace {

constexpr const char* kResultHeader = "# Vantri - v";
constexpr const char* kRunStatisticsFormat = "VANTRI-BUNDLE-RUN";

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(" \t\r\n");
  return text.substr(first, last - first + 1);
}

// Every line a writer prints ends with a newline; a file that does not was cut short.
void CheckLastLine(const std::string& text, FileStatus& status) {
  if (text.empty() || text.back() == '\n' || status.state == FileState::kDamaged) return;
  status.state = FileState::kDamaged;
  status.problem = "the last line is incomplete (file cut short)";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::vector<std::string> Tokens(const std::string& line) {
  std::vector<std::string> tokens;
  std::istringstream in(line);
  std::string token;
  while (in >> token) tokens.push_back(token);
  return tokens;
}

// A whole token as a finite double.
bool ToNumber(const std::string& token, double* value) {
  if (token.empty()) return false;
  char* end = nullptr;
  const double parsed = std::strtod(token.c_str(), &end);
  if (end != token.c_str() + token.size() || !std::isfinite(parsed)) return false;
  *value = parsed;
  return true;
}

// A number printed with "%.<decimals>lf": a cut-off number has fewer decimals.
bool ToFixedNumber(const std::string& token, size_t decimals, double* value) {
  const size_t point = token.find('.');
  if (point == std::string::npos || token.size() - point - 1 != decimals) return false;
  return ToNumber(token, value);
}

// The last `count` tokens before the last `tail` tokens as numbers with `decimals` decimals.
bool TrailingNumbers(const std::vector<std::string>& tokens, size_t count, size_t tail,
                     size_t decimals, std::vector<double>* numbers) {
  if (tokens.size() < count + tail + 1) return false;
  numbers->assign(count, 0.0);
  const size_t first = tokens.size() - tail - count;
  for (size_t i = 0; i < count; ++i)
    if (!ToFixedNumber(tokens[first + i], decimals, &(*numbers)[i])) return false;
  return true;
}

std::string JoinFirst(const std::vector<std::string>& tokens, size_t count) {
  std::string joined;
  for (size_t i = 0; i < count; ++i) joined += (i ? " " : "") + tokens[i];
  return joined;
}

bool IsPointType(const std::string& token) {
  return token == "in" || token == "co" || token == "ch";
}

void MarkBad(FileStatus& status, size_t line_index, const std::string& what) {
  if (status.bad_lines++ == 0)
    status.problem = "line " + std::to_string(line_index + 1) + ": " + what;
  status.state = FileState::kDamaged;
}

// Checks the "# Vantri - v" header; returns the index of the first line after it, or the line
// count when the header is missing (the file is then damaged and nothing else is read).
size_t CheckHeader(const std::vector<std::string>& lines, FileStatus& status) {
  status.state = FileState::kRead;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (Trim(lines[i]).empty()) continue;
    if (lines[i].rfind(kResultHeader, 0) == 0) return i + 1;
    break;
  }
  status.state = FileState::kDamaged;
  status.problem =
      lines.empty() ? "empty file" : "not a Vantri result file (no \"# Vantri - v\" line)";
  return lines.size();
}

bool SkipLine(const std::string& line) {
  const std::string trimmed = Trim(line);
  return trimmed.empty() || trimmed[0] == '#';
}

// Rows of the per-image files (.ptres with 3 numbers, .ptics with 2): an image name line starts a
// group; a row ends with its point type.
template <typename Group, typename MakeRow>
void ParseImageGroups(const std::string& text, size_t numbers, size_t decimals,
                      std::vector<Group>& out, FileStatus& status, MakeRow make_row) {
  const std::vector<std::string> lines = Lines(text);
  for (size_t i = CheckHeader(lines, status); i < lines.size(); ++i) {
    if (SkipLine(lines[i])) continue;
    const std::vector<std::string> tokens = Tokens(lines[i]);
    if (!IsPointType(tokens.back())) {
      out.push_back(Group{Trim(lines[i]), {}});
      continue;
    }
    std::vector<double> values;
    if (out.empty()) {
      MarkBad(status, i, "point row before the first image name");
    } else if (!TrailingNumbers(tokens, numbers, 1, decimals, &values)) {
      MarkBad(status, i, "expected a point ID, " + std::to_string(numbers) + " numbers and a type");
    } else {
      out.back().rows.push_back(
          make_row(JoinFirst(tokens, tokens.size() - numbers - 1), values, tokens.back()));
    }
  }
}

bool ReadText(const std::string& path, std::string& text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) return false;
  text = buffer.str();
  return true;
}

}  // namespace

std::string AtoutReport::Value(const std::string& label) const {
  const auto found = values.find(label);
  return found == values.end() ? std::string() : found->second;
}

bool AtoutReport::Int(const std::string& label, int* value) const {
  const std::vector<double> numbers = Numbers(label);
  if (numbers.empty()) return false;
  *value = static_cast<int>(numbers.front());
  return true;
}

std::vector<double> AtoutReport::Numbers(const std::string& label) const {
  std::vector<double> numbers;
  for (const std::string& token : Tokens(Value(label))) {
    double value = 0;
    if (!ToNumber(token, &value)) return {};
    numbers.push_back(value);
  }
  return numbers;
}

const FileStatus* ResultFiles::Status(const std::string& label) const {
  for (const FileStatus& status : files)
    if (status.label == label) return &status;
  return nullptr;
}

bool ResultFiles::Has(const std::string& label) const {
  const FileStatus* status = Status(label);
  return status != nullptr && status->state != FileState::kMissing;
}

void ParseAtout(const std::string& text, AtoutReport& out, FileStatus& status) {
  const std::vector<std::string> lines = Lines(text);
  const size_t first = CheckHeader(lines, status);
  if (first <= lines.size() && first > 0 && status.state == FileState::kRead)
    out.program_version = Trim(lines[first - 1].substr(std::string(kResultHeader).size()));
  bool complete = false;
  for (size_t i = first; i < lines.size(); ++i) {
    if (Trim(lines[i]) == "Check point residuals") complete = true;
    const size_t colon = lines[i].find(':');
    if (colon == std::string::npos) continue;
    const std::string label = Trim(lines[i].substr(0, colon));
    if (!label.empty()) out.values[label] = Trim(lines[i].substr(colon + 1));
  }
  if (status.state == FileState::kRead && !complete) {
    status.state = FileState::kDamaged;
    status.problem = "incomplete: the check point residuals section is missing";
  }
}

void ParsePointResiduals(const std::string& text, std::vector<PointResidual>& out,
                         FileStatus& status) {
  const std::vector<std::string> lines = Lines(text);
  for (size_t i = CheckHeader(lines, status); i < lines.size(); ++i) {
    if (SkipLine(lines[i])) continue;
    const std::vector<std::string> tokens = Tokens(lines[i]);
    std::vector<double> v;
    if (!TrailingNumbers(tokens, 6, 0, 6, &v)) {
      MarkBad(status, i, "expected a point ID and 6 numbers");
      continue;
    }
    out.push_back({JoinFirst(tokens, tokens.size() - 6), v[0], v[1], v[2], v[3], v[4], v[5]});
  }
}

void ParseImageResiduals(const std::string& text, std::vector<ImageResiduals>& out,
                         FileStatus& status) {
  ParseImageGroups(
      text, 3, 6, out, status,
      [](const std::string& id, const std::vector<double>& v, const std::string& type) {
        return ImageResidualRow{id, v[0], v[1], v[2], type};
      });
}

void ParseImageCoordinates(const std::string& text, std::vector<ImageCoordinates>& out,
                           FileStatus& status) {
  ParseImageGroups(
      text, 2, 3, out, status,
      [](const std::string& id, const std::vector<double>& v, const std::string& type) {
        return ImageCoordinateRow{id, v[0], v[1], type};
      });
}

void ParseObjectPoints(const std::string& text, std::vector<ObjectPointRow>& out,
                       FileStatus& status) {
  const std::vector<std::string> lines = Lines(text);
  for (size_t i = CheckHeader(lines, status); i < lines.size(); ++i) {
    if (SkipLine(lines[i])) continue;
    const std::vector<std::string> tokens = Tokens(lines[i]);
    std::vector<double> v;
    if (!IsPointType(tokens.back()) || !TrailingNumbers(tokens, 3, 1, 6, &v)) {
      MarkBad(status, i, "expected a point ID, 3 numbers and a type");
      continue;
    }
    out.push_back({JoinFirst(tokens, tokens.size() - 4), v[0], v[1], v[2], tokens.back()});
  }
}

void ParseExtor(const std::string& text, std::vector<AdjustedOrientation>& out,
                CoordinateSystemNames& crs, FileStatus& status) {
  const std::vector<std::string> lines = Lines(text);
  const std::vector<std::pair<std::string, std::string*>> names = {
      {"# Projection :", &crs.projection},
      {"# Datum      :", &crs.datum},
      {"# Fuse       :", &crs.fuse},
      {"# Units      :", &crs.units}};
  for (size_t i = CheckHeader(lines, status); i < lines.size(); ++i) {
    for (const auto& [prefix, target] : names)
      if (lines[i].rfind(prefix, 0) == 0) *target = Trim(lines[i].substr(prefix.size()));
    if (SkipLine(lines[i]) || Trim(lines[i]).size() <= 1) continue;
    const std::vector<std::string> tokens = Tokens(lines[i]);
    std::vector<double> v;
    if (!TrailingNumbers(tokens, 6, 0, 6, &v)) {
      MarkBad(status, i, "expected an image name and 6 numbers");
      continue;
    }
    out.push_back({JoinFirst(tokens, tokens.size() - 6), v[0], v[1], v[2], v[3], v[4], v[5]});
  }
}

void ParseRunStatistics(const std::string& text, BundleRunStatistics& out, FileStatus& status) {
  const std::vector<std::string> lines = Lines(text);
  status.state = FileState::kDamaged;
  if (lines.empty() || Tokens(lines[0]).size() != 2 ||
      Tokens(lines[0])[0] != kRunStatisticsFormat) {
    status.problem = "not a bundle-run statistics file";
    return;
  }
  status.state = FileState::kRead;
  std::map<std::string, double> values;
  for (size_t i = 1; i < lines.size(); ++i) {
    if (SkipLine(lines[i])) continue;
    const size_t equals = lines[i].find('=');
    double value = 0;
    if (equals == std::string::npos || !ToNumber(Trim(lines[i].substr(equals + 1)), &value)) {
      MarkBad(status, i, "expected key=number");
      continue;
    }
    values[Trim(lines[i].substr(0, equals))] = value;
  }
  for (const char* key : {"run_succeeded", "sigma0_px", "iterations", "converged"})
    if (values.count(key) == 0) {
      status.state = FileState::kDamaged;
      if (status.problem.empty()) status.problem = std::string("missing key ") + key;
      return;
    }
  out.recorded = true;
  out.run_succeeded = values["run_succeeded"] != 0;
  out.sigma0_px = values["sigma0_px"];
  out.iterations = static_cast<int>(values["iterations"]);
  out.converged = values["converged"] != 0;
}

std::string FormatRunStatistics(const BundleRunStatistics& run) {
  char sigma[64];
  std::snprintf(sigma, sizeof sigma, "%.17g", run.sigma0_px);
  return std::string(kRunStatisticsFormat) + " 1\n" +
         "run_succeeded=" + (run.run_succeeded ? "1" : "0") + "\n" + "sigma0_px=" + sigma + "\n" +
         "iterations=" + std::to_string(run.iterations) + "\n" +
         "converged=" + (run.converged ? "1" : "0") + "\n";
}

ResultFiles ReadResultFiles(const std::string& bundle_folder, const std::string& project_name) {
  ResultFiles files;
  files.folder = bundle_folder;
  if (!files.folder.empty() && files.folder.back() != '/' && files.folder.back() != '\\')
    files.folder += '/';
  files.project_name = project_name;

  const auto read = [&](const std::string& label, auto parse) {
    FileStatus status;
    status.label = label;
    status.path = files.folder + project_name + "." + label;
    std::string text;
    std::error_code error;
    if (!std::filesystem::is_regular_file(status.path, error)) {
      status.state = FileState::kMissing;
    } else if (!ReadText(status.path, text)) {
      status.state = FileState::kDamaged;
      status.problem = "cannot be read";
    } else {
      parse(text, status);
      CheckLastLine(text, status);
    }
    files.files.push_back(status);
  };
  read("atout", [&](const std::string& t, FileStatus& s) { ParseAtout(t, files.atout, s); });
  read("gcpres", [&](const std::string& t, FileStatus& s) {
    ParsePointResiduals(t, files.control_points, s);
  });
  read("cpres",
       [&](const std::string& t, FileStatus& s) { ParsePointResiduals(t, files.check_points, s); });
  read("ptres", [&](const std::string& t, FileStatus& s) {
    ParseImageResiduals(t, files.image_residuals, s);
  });
  read("ptics", [&](const std::string& t, FileStatus& s) {
    ParseImageCoordinates(t, files.image_coordinates, s);
  });
  read("ptocs",
       [&](const std::string& t, FileStatus& s) { ParseObjectPoints(t, files.object_points, s); });
  read("extor", [&](const std::string& t, FileStatus& s) {
    ParseExtor(t, files.orientations, files.extor_crs, s);
  });
  read("runstats",
       [&](const std::string& t, FileStatus& s) { ParseRunStatistics(t, files.run, s); });

  // Result files much older than the report were left by an earlier run.
  std::error_code error;
  const auto atout_time = std::filesystem::last_write_time(files.files[0].path, error);
  if (!error) {
    for (FileStatus& status : files.files) {
      if (status.label == "atout" || status.state == FileState::kMissing) continue;
      std::error_code file_error;
      const auto time = std::filesystem::last_write_time(status.path, file_error);
      if (!file_error && atout_time - time > std::chrono::seconds(kStaleSeconds))
        status.stale = true;
    }
  }
  return files;
}

}  // namespace vantri::report
