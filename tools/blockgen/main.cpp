#include <iostream>

#include "blockgen.h"

int main(int argc, char** argv) {
  return blockgen::run_blockgen(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                                std::cerr);
}
