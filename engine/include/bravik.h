#ifndef BRAVIK_H
#define BRAVIK_H

/* Bravik bundle-adjustment engine.
 *
 * Each call runs one complete adjustment described by the main input file at
 * inputPath and writes the report (.out) and result files next to it. A camera
 * file (.cam) is written only when writeCameraFile is non-zero.
 * Returns 1 when the run finished and every result file was written, 0 otherwise.
 * Runs change the process's current directory while they work and share the
 * process-wide least-squares settings: never run two at once in one process. */

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
