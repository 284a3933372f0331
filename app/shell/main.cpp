#include <unistd.h>

#include <iostream>

#include "shell/cli.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return vantri::shell::RunCommandLine(args, std::cin, std::cout, std::cerr, isatty(STDIN_FILENO) != 0);
}
