// Per-user profile strings, special folders and the INI file behind them.
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "system/files.h"
#include "system/nvtools.h"
#include "system/text.h"

namespace fs = std::filesystem;

namespace vantri::system {

namespace {

constexpr const char* kBrowseSection = "NVTools";
constexpr const char* kBrowseKey = "LastBrowsedPath";

std::string EnvOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

std::string HomeFolder() {
  std::string home = EnvOrEmpty("HOME");
  return home.empty() ? std::string("/tmp") : home;
}

std::string ConfigRoot() {
  std::string root = EnvOrEmpty("VANTRI_HOME");
  if (!root.empty()) return root;
  root = EnvOrEmpty("XDG_CONFIG_HOME");
  return root.empty() ? HomeFolder() + "/.config" : root;
}

std::string DataRoot() {
  std::string root = EnvOrEmpty("VANTRI_HOME");
  if (!root.empty()) return root;
  root = EnvOrEmpty("XDG_DATA_HOME");
  return root.empty() ? HomeFolder() + "/.local/share" : root;
}

std::string_view TrimSpacesAndTabs(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

std::string ExecutableFolder() {
  char buffer[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (length <= 0) return {};
  return fs::path(std::string(buffer, static_cast<std::size_t>(length))).parent_path().string();
}

}  // namespace

// --- IniFile -----------------------------------------------------------------------------------

IniFile::Section* IniFile::FindSection(std::string_view name) {
  for (Section& section : sections_) {
    if (system::EqualsNoCase(section.name, name)) return &section;
  }
  return nullptr;
}

const IniFile::Section* IniFile::FindSection(std::string_view name) const {
  for (const Section& section : sections_) {
    if (system::EqualsNoCase(section.name, name)) return &section;
  }
  return nullptr;
}

int IniFile::Load(const std::string& path) {
  sections_.clear();
  std::error_code error;
  if (!fs::exists(path, error)) return 1;
  std::vector<std::string> lines;
  if (!system::ReadTextLines(path, &lines)) return 0;
  Section* current = nullptr;
  for (const std::string& raw : lines) {
    const std::string_view line = TrimSpacesAndTabs(raw);
    if (line.empty() || line.front() == ';' || line.front() == '#') continue;
    if (line.front() == '[' && line.back() == ']') {
      const std::string name(TrimSpacesAndTabs(line.substr(1, line.size() - 2)));
      current = FindSection(name);
      if (current == nullptr) {
        sections_.push_back({name, {}});
        current = &sections_.back();
      }
      continue;
    }
    const std::size_t equals = line.find('=');
    if (current == nullptr || equals == std::string_view::npos) continue;
    Set(current->name, TrimSpacesAndTabs(line.substr(0, equals)),
        TrimSpacesAndTabs(line.substr(equals + 1)));
  }
  return 1;
}

int IniFile::Save(const std::string& path) const {
  std::string text;
  for (const Section& section : sections_) {
    text += "[" + section.name + "]\n";
    for (const Entry& entry : section.entries) text += entry.key + "=" + entry.value + "\n";
  }
  return system::WriteFileAtomically(path, text);
}

bool IniFile::Has(std::string_view section, std::string_view key) const {
  const Section* found = FindSection(section);
  if (found == nullptr) return false;
  for (const Entry& entry : found->entries) {
    if (system::EqualsNoCase(entry.key, key)) return true;
  }
  return false;
}

std::string IniFile::Get(std::string_view section, std::string_view key,
                         std::string_view default_value) const {
  const Section* found = FindSection(section);
  if (found != nullptr) {
    for (const Entry& entry : found->entries) {
      if (system::EqualsNoCase(entry.key, key)) return entry.value;
    }
  }
  return std::string(default_value);
}

void IniFile::Set(std::string_view section, std::string_view key, std::string_view value) {
  Section* found = FindSection(section);
  if (found == nullptr) {
    sections_.push_back({std::string(section), {}});
    found = &sections_.back();
  }
  const std::string clean = system::SingleLine(value);
  for (Entry& entry : found->entries) {
    if (system::EqualsNoCase(entry.key, key)) {
      entry.value = clean;
      return;
    }
  }
  found->entries.push_back({std::string(key), clean});
}

void IniFile::RemoveSection(std::string_view section) {
  std::erase_if(sections_, [&](const Section& s) { return system::EqualsNoCase(s.name, section); });
}

std::vector<std::string> IniFile::Sections() const {
  std::vector<std::string> names;
  for (const Section& section : sections_) names.push_back(section.name);
  return names;
}

std::vector<std::string> IniFile::Keys(std::string_view section) const {
  std::vector<std::string> keys;
  if (const Section* found = FindSection(section)) {
    for (const Entry& entry : found->entries) keys.push_back(entry.key);
  }
  return keys;
}

// --- Folders -----------------------------------------------------------------------------------

std::string ProfilePath() { return ConfigRoot() + "/vantri/profile.ini"; }

std::string DataFolder() { return DataRoot() + "/vantri"; }

std::string PassportArchiveFolder() {
  const std::string folder = DataFolder() + "/VTR/passports";
  system::MakeFolders(folder);
  return folder;
}

}  // namespace vantri::system

// --- Profile strings ---------------------------------------------------------------------------

std::string NVT_GetUserProfileString(std::string_view section, std::string_view key,
                                     std::string_view default_value) {
  vantri::system::IniFile ini;
  if (!ini.Load(vantri::system::ProfilePath())) return std::string(default_value);
  return ini.Get(section, key, default_value);
}

int NVT_GetUserProfileString(std::string_view section, std::string_view key,
                             std::string_view default_value, char* buffer, std::size_t size) {
  if (buffer == nullptr || size == 0) return 0;
  const std::string value = NVT_GetUserProfileString(section, key, default_value);
  const std::size_t copied = std::min(value.size(), size - 1);
  std::memcpy(buffer, value.data(), copied);
  buffer[copied] = '\0';
  return static_cast<int>(copied);
}

int NVT_WriteUserProfileString(std::string_view section, std::string_view key,
                               std::string_view value) {
  if (section.empty() || key.empty()) return 0;
  const std::string path = vantri::system::ProfilePath();
  if (!vantri::system::MakeFolders(fs::path(path).parent_path().string())) return 0;
  vantri::system::IniFile ini;
  if (!ini.Load(path)) return 0;
  ini.Set(section, key, value);
  return ini.Save(path);
}

// --- Special folders and the last browsed folder
// --------------------------------------------------------

std::string NVT_GetSpecialFolder(int folder_id, int, int) {
  switch (folder_id) {
    case NVT_FOLDER_COMMON_APPDATA: {
      const std::string folder = vantri::system::DataFolder();
      vantri::system::MakeFolders(folder);
      return folder;
    }
    case NVT_FOLDER_PROGRAM_FILES:
    case NVT_FOLDER_PROGRAM_FILESX86:
      return vantri::system::ExecutableFolder();
    default:
      return {};
  }
}

int NVT_GetSpecialFolder(int folder_id, char* buffer, std::size_t size, int option1, int option2) {
  if (buffer == nullptr || size == 0) return 0;
  const std::string folder = NVT_GetSpecialFolder(folder_id, option1, option2);
  if (folder.empty() || folder.size() >= size) {
    buffer[0] = '\0';
    return 0;
  }
  std::memcpy(buffer, folder.c_str(), folder.size() + 1);
  return 1;
}

std::string NVT_GetLastBrowsedPath() {
  return NVT_GetUserProfileString(vantri::system::kBrowseSection, vantri::system::kBrowseKey, "");
}

int NVT_SetLastBrowsedPath(std::string_view folder) {
  return NVT_WriteUserProfileString(vantri::system::kBrowseSection, vantri::system::kBrowseKey,
                                    folder);
}
