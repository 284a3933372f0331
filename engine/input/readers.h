#ifndef BRAVIK_INPUT_READERS_H
#define BRAVIK_INPUT_READERS_H

#include <iosfwd>

#include "models/block.h"

namespace bravik {

// Reads the main input file: entries of a keyword and a file name, each file opened
// (relative to the current directory), read by the keyword's reader and closed.
// 1 on success, -1 after the messages on the diagnostics sink. Fills `block` as it goes;
// an "ls-params" file replaces block.settings only when it was read completely, and the
// files after it are read with its settings.
int readInput(Block& block, std::istream& in);

// Typed object files; each returns 1, or -1 after its messages on the diagnostics sink. The
// settings `ls` classify std. devs. given in the files (observed, fixed or free).
int readCameraFile(std::istream& in, OwnedList<Camera>& cameras);
int readImageFile(std::istream& in, OwnedList<BundleImage>& images,
                  const OwnedList<Camera>& cameras);
int readGeometryFile(std::istream& in, OwnedList<ImageGeometry>& geometries, const LSParams& ls);
int readAPSetFile(std::istream& in, OwnedList<APSet>& sets);
int readPosCorrectionFile(std::istream& in, OwnedList<PosCorrection>& corrections);
int readAttCorrectionFile(std::istream& in, OwnedList<AttCorrection>& corrections);

// Observation and object-point files.
int readImageCoordinates(std::istream& in, OwnedList<BundleImage>& images);
int readObjectCoordinates(std::istream& in, OwnedList<ObjectPoint>& points, const LSParams& ls);
int readControlSupport(std::istream& in, OwnedList<ObjectPoint>& points, const LSParams& ls);

}  // namespace bravik

#endif  // BRAVIK_INPUT_READERS_H
