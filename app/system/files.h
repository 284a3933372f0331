// File helpers of the whole core: crash-safe writes, whole-file reads and folder creation.
// A crash-safe write goes to a temporary file in the folder of the target, is flushed and synced
// to disk and then renamed over the target, so that a crash leaves either the old file or the new
// one, never a part of either. On failure the target is untouched and the temporary removed.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vantri::system {

// Writes `content` crash-safely to `path` (permissions 0644). False when anything fails.
bool WriteFileAtomically(const std::string& path, std::string_view content);

// The same for writers that produce the file themselves (VTK, OpenCV): `write` is called with the
// temporary path, which ends with the extension of `path` so that extension-driven encoders
// choose the same format; it returns false when it could not write.
bool WriteFileAtomicallyWith(const std::string& path,
                             const std::function<bool(const std::string& temporary)>& write);

// Reads a whole regular file (capped, see system/bounded_read.h); false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& bytes);

// Reads a whole text file into lines without their LF or CR-LF ends; false when unreadable.
bool ReadTextLines(const std::string& path, std::vector<std::string>* lines);

// A path read from a project: `decoded` as the archive decoded it, or, when only that does not
// exist on disk, the bytes as `stored` (projects written before paths were kept byte for byte
// stored folder names that are not UTF-8 unmarked).
std::string PathOnDisk(const std::string& decoded, const std::string& stored);

// Creates the folder and its parents; true when it exists afterwards.
bool MakeFolders(const std::string& folder);

// True for a regular file this process may execute (a folder with the x bit is not one).
bool IsExecutableFile(const std::string& path);
// Full path of a program: `name` itself when it holds a '/', else the first executable file of
// that name in the folders of PATH (an empty entry is the current folder). Empty when none.
std::string FindExecutable(const std::string& name);

}  // namespace vantri::system
