#pragma once
// Process settings of a project: named properties in named groups, each with a value, an
// optional closed list of allowed values and a description, stored in the project's settings.ini.
// CVantriSettings adds the defaults, the typed view read by the processing and the validation.

#include <map>
#include <string>
#include <vector>

namespace vantri {
class UserInterface;
}

namespace vantri::project {

using TextList = std::vector<std::string>;

struct SettingsGroup {
  std::string name;
  TextList properties;  // property names in display order
};

}  // namespace vantri::project

class CProcessSettings {
 public:
  // Largest group or property count a settings file may claim.
  static constexpr long kMaxSettingsCount = 10000;

  CProcessSettings() = default;
  CProcessSettings(const CProcessSettings& other) { CopyFrom(other); }
  CProcessSettings& operator=(const CProcessSettings& other) {
    CopyFrom(other);
    return *this;
  }
  virtual ~CProcessSettings() = default;

  // Deep copy of the three tables (and of the UI and version in use).
  virtual void CopyFrom(const CProcessSettings& other);
  // 0 when the path is empty or the user declines the version question; 1 otherwise, also when
  // the file does not exist or is damaged (the tables then stay as they are; a damaged file, e.g.
  // a group or property count beyond what it holds or kMaxSettingsCount, gets a warning).
  virtual int Load(const std::string& path);
  // 0 when the path is empty or the file cannot be written; else 1. Written through a temporary
  // file and a rename; keys of a previous, larger file are kept.
  virtual int Save(const std::string& path);
  // 1 when every rule holds; otherwise shows the first failing rule's message and returns 0.
  virtual int Validate() { return 1; }

  // Messages and the version question go to this UI; without one the question is answered Yes and
  // messages are dropped.
  void SetUi(vantri::UserInterface* ui) { ui_ = ui; }
  vantri::UserInterface* GetUi() const { return ui_; }
  // Version text written as "SoftwareVer" and compared on Load; defaults to the program's.
  void SetSoftwareVersion(const std::string& version) { software_version_ = version; }
  const std::string& SoftwareVersion() const { return software_version_; }

  // Current value (element 0 of the value list); empty when the property is missing.
  std::string Value(const std::string& property) const;
  bool HasProperty(const std::string& property) const;
  // Sets element 0, keeping the allowed values.
  void SetValue(const std::string& property, const std::string& value);
  // Allowed values (elements 1..n-1 of the value list); empty for free text.
  vantri::project::TextList Choices(const std::string& property) const;
  std::string Description(const std::string& property) const;
  // Group that lists the property; empty when none does.
  std::string GroupOf(const std::string& property) const;

  std::vector<vantri::project::SettingsGroup> groups;             // group table, in table order
  std::map<std::string, vantri::project::TextList> values;        // property -> value list
  std::map<std::string, vantri::project::TextList> descriptions;  // property -> description list

 protected:
  void AddProperty(const std::string& group, const std::string& property,
                   const vantri::project::TextList& values, const std::string& description);
  virtual void ParseTypedValues() {}
  void Inform(const std::string& message) const;
  void Warn(const std::string& message) const;

  vantri::UserInterface* ui_ = nullptr;
  std::string software_version_;
};

namespace vantri::project {

// Values parsed from the properties after every load; read by the processing.
struct VantriTypedSettings {
  int template_size = 0;             // pixels
  int search_area_size = 0;          // pixels
  double correlation_threshold = 0;  // normalised cross-correlation, 0.3 .. 0.95
  int max_points_to_search = 0;      // per image
  bool subpixel_matching = false;    // refine the correlation maximum below a pixel
  int max_points_per_image = 0;      // after the tie-point filter
  int min_measurements_per_point = 0;
  int max_reprojection_error = 0;  // pixels
  double min_iterations = 0;
  double max_iterations = 0;
  double convergence_threshold = 0;
  double std_dev_unit_weight = 0;  // pixels
  double gcps_weight = 0;
  // A-priori accuracy of the GPS projection centres per axis, metres; 0: they are no observations.
  double gps_accuracy = 0;
  bool show_report = false;
  bool send_email = false;
  std::string recipients;  // comma separated
  std::string smtp_server;
  std::string email_subject;
};

}  // namespace vantri::project

class CVantriSettings : public CProcessSettings {
 public:
  // Fills the tables with the groups and defaults and sets the typed values from them.
  CVantriSettings();
  CVantriSettings(const CVantriSettings& other) : CProcessSettings(other), typed(other.typed) {}
  CVantriSettings& operator=(const CProcessSettings& other) {
    CopyFrom(other);
    return *this;
  }
  CVantriSettings& operator=(const CVantriSettings& other) {
    CopyFrom(other);
    typed = other.typed;
    return *this;
  }

  int Load(const std::string& path) override;
  int Validate() override;
  // The first property Validate needs that is missing from the value table (Validate fails on it
  // without a message), empty when none is.
  std::string MissingProperty() const;

  vantri::project::VantriTypedSettings typed;

 protected:
  void ParseTypedValues() override;
};

// Property names, as stored.
namespace vantri::project::settings_names {
inline constexpr const char* kTemplateSize = "Template size";
inline constexpr const char* kSearchAreaSize = "Search area size";
inline constexpr const char* kCorrelation = "Cross correlation coefficient";
inline constexpr const char* kMaxPointsToSearch = "Max points to search per image";
inline constexpr const char* kSubpixelMatching = "Sub-pixel matching";
inline constexpr const char* kMaxPointsPerImage = "Max number of points per image";
inline constexpr const char* kMinMeasurements = "Min number of measurements per point";
inline constexpr const char* kMaxReprojectionError = "Max reprojection error (pixel)";
inline constexpr const char* kMinIterations = "Min number of iterations";
inline constexpr const char* kMaxIterations = "Max number of iterations";
inline constexpr const char* kConvergence = "Convergence threshold";
inline constexpr const char* kStdDevUnitWeight = "Std-dev of unit weight (pix)";
inline constexpr const char* kGcpsWeight = "GCPs weight";
inline constexpr const char* kGpsAccuracy = "GPS accuracy (m)";
inline constexpr const char* kShowReport = "Show bundle report";
inline constexpr const char* kSendEmail = "Send alert email";
inline constexpr const char* kRecipients = "Recipients Addresses";
inline constexpr const char* kSmtpServer = "SMTP server";
inline constexpr const char* kEmailSubject = "Email Subject";
}  // namespace vantri::project::settings_names

namespace vantri::project {

// The lower bound of the GCPs weight; 1.0 itself is accepted.
inline constexpr double kMinGcpsWeight = 1.0;

}  // namespace vantri::project
