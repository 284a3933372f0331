#include "bravik.h"

// Placeholder until the run sequence lands.
int BravikScan(const char* inputPath, int /*writeCameraFile*/) { return inputPath ? 0 : 0; }
int Bravik(const char* inputPath, int writeCameraFile) { return BravikScan(inputPath, writeCameraFile); }
