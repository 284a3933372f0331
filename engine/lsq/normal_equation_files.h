#ifndef BRAVIK_LSQ_NORMAL_EQUATION_FILES_H
#define BRAVIK_LSQ_NORMAL_EQUATION_FILES_H

#include <string>

#include "lsq/dense.h"
#include "lsq/normal_system.h"

namespace bravik {

// The four normal-equation files of a dense system as stored after the last solution: the
// diagonal and upper triangle of N hold N, its strictly lower triangle the Cholesky factor.
// Each file is written to a temporary name and renamed, so an existing file is never left
// half-written. Names equal to "none" are skipped; a failure prints the file's "ERROR: " line
// to the diagnostics sink and the others are still written. Returns the number of failures.
int writeNormalEquationFiles(const NormalEquationFileNames& names, const Matrix& N, const Vector& n,
                             const Vector& x);

// "P1", rows, columns, an empty line, then "0 " for an exact zero and "1 " otherwise; the
// element [i][j] is read from the upper triangle ([j][i] for j < i).
bool writeNormalMatrixStructure(const std::string& path, const Matrix& N);
// Rows and columns, then every element as stored, "%.12e " each, one row per line.
bool writeNormalMatrix(const std::string& path, const Matrix& N);
// The length, then one element per line, "%.12e".
bool writeVectorFile(const std::string& path, const Vector& v);

}  // namespace bravik

#endif  // BRAVIK_LSQ_NORMAL_EQUATION_FILES_H
