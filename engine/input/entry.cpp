#include <exception>
#include <iostream>
#include <string>

#include "bravik.h"
#include "input/run.h"

int BravikScan(const char* inputPath, int writeCameraFile) {
  if (inputPath == nullptr) return 0;
  try {
    return bravik::runBravik(inputPath, writeCameraFile != 0);
  } catch (const std::exception& error) {
    std::cout << "ERROR: " << error.what() << "\n";
  } catch (...) {
    std::cout << "ERROR: Unexpected failure.\n";
  }
  return 0;
}

int Bravik(const char* inputPath, int writeCameraFile) {
  if (inputPath == nullptr) return 0;
  const std::string copy(inputPath);
  return BravikScan(copy.c_str(), writeCameraFile);
}
