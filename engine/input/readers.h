#ifndef BRAVIK_INPUT_READERS_H
#define BRAVIK_INPUT_READERS_H

#include <iosfwd>

#include "models/block.h"

namespace bravik {

// Reads the main input file: entries of a keyword and a file name, each file opened
// (relative to the current directory), read by the keyword's reader and closed.
// 1 on success, -1 after the messages on standard output. Fills `block` as it goes.
int readInput(Block& block, std::istream& in);

// Typed object files; each returns 1, or -1 after its messages on standard output.
int readCameraFile(std::istream& in, OwnedList<Camera>& cameras);
int readImageFile(std::istream& in, OwnedList<BundleImage>& images,
                  const OwnedList<Camera>& cameras);
int readGeometryFile(std::istream& in, OwnedList<ImageGeometry>& geometries);
int readAPSetFile(std::istream& in, OwnedList<APSet>& sets);
int readPosCorrectionFile(std::istream& in, OwnedList<PosCorrection>& corrections);
int readAttCorrectionFile(std::istream& in, OwnedList<AttCorrection>& corrections);

// Observation and object-point files.
int readImageCoordinates(std::istream& in, OwnedList<BundleImage>& images);
int readObjectCoordinates(std::istream& in, OwnedList<ObjectPoint>& points);
int readControlSupport(std::istream& in, OwnedList<ObjectPoint>& points);

}  // namespace bravik

#endif  // BRAVIK_INPUT_READERS_H
