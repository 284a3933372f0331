#include "display/display_settings.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "system/nvtools.h"
#include "system/text.h"

namespace vantri::display {
namespace {

enum class ValueKind { kBool, kColor, kScale };

// One key of the file and the member it fills.
struct Field {
  const char* section;
  const char* key;
  ValueKind kind;
  void* target;
};

void AddStyle(std::vector<Field>& fields, const char* section, SymbolStyle& style) {
  fields.push_back({section, "Visible", ValueKind::kBool, &style.visible});
  fields.push_back({section, "Filled", ValueKind::kBool, &style.filled});
  fields.push_back({section, "Color", ValueKind::kColor, &style.color});
}

void AddVisible(std::vector<Field>& fields, const char* section, bool& visible) {
  fields.push_back({section, "Visible", ValueKind::kBool, &visible});
}

void AddScale(std::vector<Field>& fields, const char* section, double& scale) {
  fields.push_back({section, "Scale", ValueKind::kScale, &scale});
}

// Every key in file order, pointing into `s`.
std::vector<Field> Fields(DisplaySettings& s) {
  std::vector<Field> f;
  AddStyle(f, "ImageResXYEllipse", s.image_xy_ellipse);
  AddStyle(f, "ImageResZCircle", s.image_z_circle);
  AddVisible(f, "ImageResXYVector", s.image_xy_vector);
  AddVisible(f, "ImageResZVector", s.image_z_vector);
  AddScale(f, "ImageResXY", s.image_xy_scale);
  AddScale(f, "ImageResZ", s.image_z_scale);
  AddStyle(f, "ImageResOPEllipse", s.image_op_ellipse);
  AddStyle(f, "ImageResKCircle", s.image_k_circle);
  AddScale(f, "ImageResOP", s.image_op_scale);
  AddScale(f, "ImageResK", s.image_k_scale);
  AddStyle(f, "TPResXYEllipse", s.tie_xy_ellipse);
  AddVisible(f, "TPResXYVector", s.tie_xy_vector);
  AddScale(f, "TPResXY", s.tie_xy_scale);
  AddStyle(f, "CPResXYEllipse", s.check_xy_ellipse);
  AddStyle(f, "CPResZCircle", s.check_z_circle);
  AddVisible(f, "CPResXYVector", s.check_xy_vector);
  AddVisible(f, "CPResZVector", s.check_z_vector);
  AddScale(f, "CPResXY", s.check_xy_scale);
  AddScale(f, "CPResZ", s.check_z_scale);
  AddStyle(f, "GCPResXYEllipse", s.control_xy_ellipse);
  AddStyle(f, "GCPResZCircle", s.control_z_circle);
  AddVisible(f, "GCPResXYVector", s.control_xy_vector);
  AddVisible(f, "GCPResZVector", s.control_z_vector);
  AddScale(f, "GCPResXY", s.control_xy_scale);
  AddScale(f, "GCPResZ", s.control_z_scale);
  return f;
}

std::string Format(const Field& field) {
  char text[64];
  switch (field.kind) {
    case ValueKind::kBool:
      std::snprintf(text, sizeof text, "%d", *static_cast<const bool*>(field.target) ? 1 : 0);
      break;
    case ValueKind::kColor:
      std::snprintf(text, sizeof text, "%d", *static_cast<const int32_t*>(field.target));
      break;
    case ValueKind::kScale:
      std::snprintf(text, sizeof text, "%lf", *static_cast<const double*>(field.target));
      break;
  }
  return text;
}

// Converts `text` into the field; false (field unchanged) when it does not convert.
bool Parse(const Field& field, const std::string& text) {
  switch (field.kind) {
    case ValueKind::kBool: {
      int value = 0;
      if (NVT_StringToInt(text, &value) == 0) return false;
      *static_cast<bool*>(field.target) = value != 0;
      return true;
    }
    case ValueKind::kColor: {
      int value = 0;
      // A colour value holds three 8-bit channels and nothing above them.
      if (NVT_StringToInt(text, &value) == 0 || value < 0 || value > 0xFFFFFF) return false;
      *static_cast<int32_t*>(field.target) = value;
      return true;
    }
    case ValueKind::kScale: {
      double value = 0;
      if (NVT_StringToDouble(text, &value) == 0) return false;
      *static_cast<double*>(field.target) = std::fabs(value);
      return true;
    }
  }
  return false;
}

std::string Name(const Field& field) { return std::string(field.section) + "." + field.key; }

const Field* FindField(const std::vector<Field>& fields, const std::string& key) {
  for (const Field& field : fields)
    if (system::EqualsNoCase(Name(field), key)) return &field;
  return nullptr;
}

}  // namespace

std::string GrsPath(const std::string& project_folder, const std::string& project_name) {
  return project_folder + project_name + ".grs";
}

DisplaySettings ReadDisplaySettings(const std::string& path, std::vector<std::string>* problems) {
  DisplaySettings settings;
  auto report = [&](const std::string& problem) {
    if (problems != nullptr) problems->push_back(problem);
  };
  std::error_code error;
  if (!std::filesystem::exists(path, error)) return settings;
  system::IniFile ini;
  if (ini.Load(path) == 0) {
    report("Unable to read the display settings " + path + ": the defaults are used");
    return settings;
  }
  bool any_known = false;
  for (const Field& field : Fields(settings)) {
    if (!ini.Has(field.section, field.key)) continue;
    any_known = true;
    const std::string text = ini.Get(field.section, field.key);
    if (Parse(field, text)) continue;
    if (field.kind == ValueKind::kScale) *static_cast<double*>(field.target) = kFallbackScale;
    report("Display settings " + path + ": " + Name(field) + " = \"" + text + "\" is not valid; " +
           Format(field) + " is used");
  }
  if (!any_known && !ini.Sections().empty())
    report("Display settings " + path + " hold no known value: the defaults are used");
  return settings;
}

bool WriteDisplaySettings(const std::string& path, const DisplaySettings& settings) {
  DisplaySettings copy = settings;
  system::IniFile ini;
  for (const Field& field : Fields(copy)) ini.Set(field.section, field.key, Format(field));
  return ini.Save(path) != 0;
}

std::vector<std::string> DisplaySettingKeys() {
  DisplaySettings settings;
  std::vector<std::string> keys;
  for (const Field& field : Fields(settings)) keys.push_back(Name(field));
  return keys;
}

bool GetDisplaySetting(const DisplaySettings& settings, const std::string& key,
                       std::string* value) {
  DisplaySettings copy = settings;
  const std::vector<Field> fields = Fields(copy);
  const Field* field = FindField(fields, key);
  if (field == nullptr) return false;
  *value = Format(*field);
  return true;
}

bool SetDisplaySetting(DisplaySettings& settings, const std::string& key, const std::string& text,
                       std::string* problem) {
  const std::vector<Field> fields = Fields(settings);
  const Field* field = FindField(fields, key);
  if (field == nullptr) {
    if (problem != nullptr) *problem = "Unknown display setting \"" + key + "\"";
    return false;
  }
  if (!Parse(*field, text)) {
    if (problem != nullptr)
      *problem = "\"" + text + "\" is not a valid value for " + Name(*field) +
                 (field->kind == ValueKind::kBool    ? " (0 or 1)"
                  : field->kind == ValueKind::kColor ? " (a colour value 0 .. 16777215)"
                                                     : " (a number)");
    return false;
  }
  return true;
}

}  // namespace vantri::display
