#include "shell/desktop.h"

int main(int argc, char** argv) { return vantri::shell::RunDesktopProgram(argc, argv); }
