#pragma once
// vantri-cli: the project flows without windows. Messages the windows would show go to the
// terminal through ConsoleUi (information to `out`, failures to `err`).
//
//   vantri-cli [--yes|--no] <command> [options]
//   passport create --out FILE --model M --serial S --lens L --date DD-MM-YYYY --focal MM
//                   --pixel MM --width PX --height PX --ppx PX --ppy PX [--k1 .. --p2]
//   passport show FILE
//   new --folder DIR --name NAME --passport FILE
//       [--projection NAME --datum NAME --fuse NAME | --epsg N | --wkt-file FILE]
//   info PROJECT.bun
//   settings PROJECT.bun [--set "PROPERTY=VALUE"]... [--validate]
//   crs PROJECT.bun
//   add-images PROJECT.bun FILES...        images as the Images Manager adds them (saved)
//   footprints PROJECT.bun                 footprint vertices and Project Info with the area
//   import-gps|import-gcp|import-cp, dem, srtm-folder: see import/import_command.h, aat/srtm.h
//   measure: see points/measure_command.h
//
// Exit codes: 0 success, 1 failure (the message says why), 2 bad command line.

#include <iosfwd>
#include <string>
#include <vector>

namespace vantri::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// Runs one command line (without the program name). Questions are answered from `in` when
// `interactive`, else Yes with "--yes" and No otherwise.
int Run(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
        std::ostream& err, bool interactive = false);

}  // namespace vantri::cli
