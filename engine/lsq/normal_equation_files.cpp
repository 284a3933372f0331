#include "lsq/normal_equation_files.h"

#include <cstdio>
#include <functional>

#include "util/diagnostics.h"

namespace bravik {
namespace {

// Writes through `body` into path + ".tmp" and renames it to `path` when every write succeeded.
bool writeAtomically(const std::string& path, const std::function<bool(std::FILE*)>& body) {
  const std::string temp = path + ".tmp";
  std::FILE* f = std::fopen(temp.c_str(), "w");
  if (!f) return false;
  const bool written = body(f);
  const bool closed = std::fclose(f) == 0;
  if (written && closed && std::rename(temp.c_str(), path.c_str()) == 0) return true;
  std::remove(temp.c_str());
  return false;
}

bool wanted(const std::string& name) { return name != "none"; }

}  // namespace

bool writeNormalMatrixStructure(const std::string& path, const Matrix& N) {
  return writeAtomically(path, [&N](std::FILE* f) {
    std::fprintf(f, "P1\n%d %d\n\n", N.rows(), N.cols());
    for (int i = 0; i < N.rows(); ++i) {
      for (int j = 0; j < N.cols(); ++j) {
        const double v = j < i ? N[j][i] : N[i][j];
        std::fputs(v == 0.0 ? "0 " : "1 ", f);
      }
      std::fputc('\n', f);
    }
    return !std::ferror(f);
  });
}

bool writeNormalMatrix(const std::string& path, const Matrix& N) {
  return writeAtomically(path, [&N](std::FILE* f) {
    std::fprintf(f, "%d %d\n", N.rows(), N.cols());
    for (int i = 0; i < N.rows(); ++i) {
      const double* row = N[i];
      for (int j = 0; j < N.cols(); ++j) std::fprintf(f, "%.12e ", row[j]);
      std::fputc('\n', f);
    }
    return !std::ferror(f);
  });
}

bool writeVectorFile(const std::string& path, const Vector& v) {
  return writeAtomically(path, [&v](std::FILE* f) {
    std::fprintf(f, "%zu\n", v.size());
    for (double e : v) std::fprintf(f, "%.12e\n", e);
    return !std::ferror(f);
  });
}

int writeNormalEquationFiles(const NormalEquationFileNames& names, const Matrix& N, const Vector& n,
                             const Vector& x) {
  int failures = 0;
  auto report = [&failures](bool ok, const char* message) {
    if (ok) return;
    messages() << message;
    ++failures;
  };
  if (wanted(names.structure))
    report(writeNormalMatrixStructure(names.structure, N),
           "ERROR: Cannot write structure of normal matrix file.\n");
  if (wanted(names.matrix))
    report(writeNormalMatrix(names.matrix, N), "ERROR: Cannot write normal matrix file.\n");
  if (wanted(names.rhs))
    report(writeVectorFile(names.rhs, n), "ERROR: Cannot write right side vector file.\n");
  if (wanted(names.solution))
    report(writeVectorFile(names.solution, x), "ERROR: Cannot write  solution vector file.\n");
  return failures;
}

}  // namespace bravik
