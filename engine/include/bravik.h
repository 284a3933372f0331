#ifndef BRAVIK_H
#define BRAVIK_H

/* Bravik bundle-adjustment engine.
 *
 * Each call runs one complete adjustment described by the main input file at
 * inputPath and writes the report (.out) and result files next to it. A camera
 * file (.cam) is written only when writeCameraFile is non-zero.
 * Returns 1 when the run finished and every result file was written, 0 otherwise.
 * Messages ("ERROR: ..." and the like) go to standard output.
 *
 * Bravik makes its own copy of the path and calls BravikScan with it; the two exist
 * because hosts were built against both names, and they behave identically.
 *
 * Not re-entrant: a run makes the input file's folder the process's current directory
 * while it works (relative names in the input files resolve against it; the caller's
 * directory is restored before return), and the least-squares settings persist between
 * runs of one process (a run without an "ls-params" file uses those of the last run that
 * read one completely). Never run two at once in one process, nor from two threads. */

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define BRAVIK_API __attribute__((visibility("default")))
#else
#define BRAVIK_API
#endif

BRAVIK_API int BravikScan(const char* inputPath, int writeCameraFile);
BRAVIK_API int Bravik(const char* inputPath, int writeCameraFile);

#ifdef __cplusplus
}
#endif

#endif /* BRAVIK_H */
