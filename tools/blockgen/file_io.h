#pragma once
// Crash-safe file writing: content goes to a temporary file beside the target, which is then
// renamed over it, so a reader sees either the old or the complete new file.
#include <string>

namespace blockgen {

// Throws std::runtime_error naming the path when the file cannot be written.
void write_file_atomically(const std::string& path, const std::string& content);
// Renames a finished temporary file over path; throws on failure (the temporary is removed).
void commit_file(const std::string& temporary, const std::string& path);
std::string temporary_path(const std::string& path);
// Creates the folder and its parents; throws on failure.
void make_folder(const std::string& path);

}  // namespace blockgen
