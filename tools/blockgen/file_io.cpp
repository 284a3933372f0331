#include "file_io.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>

namespace blockgen {

std::string temporary_path(const std::string& path) { return path + ".part"; }

void commit_file(const std::string& temporary, const std::string& path) {
  std::error_code ec;
  std::filesystem::rename(temporary, path, ec);
  if (ec) {
    std::filesystem::remove(temporary, ec);
    throw std::runtime_error("cannot write " + path + ": rename failed");
  }
}

void write_file_atomically(const std::string& path, const std::string& content) {
  const std::string temporary = temporary_path(path);
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    out.flush();
    if (!out) {
      std::error_code ec;
      std::filesystem::remove(temporary, ec);
      throw std::runtime_error("cannot write " + path);
    }
  }
  commit_file(temporary, path);
}

void make_folder(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec || !std::filesystem::is_directory(path))
    throw std::runtime_error("cannot create folder " + path);
}

}  // namespace blockgen
