#pragma once
// The completion notice after a bundle run: the aerial-triangulation report handed to the
// desktop's default viewer and the alert e-mail, as the process settings ask.

#include <string>

class CVantriProject;

namespace vantri::project {
struct VantriTypedSettings;
}  // namespace vantri::project

namespace vantri {
class UserInterface;
}

namespace vantri::bundle {

// Sender of the alert e-mails.
inline constexpr const char* kNoticeSender = "vantri-notice@localhost";
inline constexpr const char* kSuccessBody =
    "Vantri process done.\nPlease check report in attachment for further details\n\n";
inline constexpr const char* kFailureBody = "Vantri process error!\n\n";
inline constexpr const char* kMailFailure =
    "Unable to send the email.\nIs the bmail executable present?";

// <project folder>Bundle/<project name>.atout
std::string BundleReportPath(const CVantriProject& project);

struct NoticeOutcome {
  bool report_shown = false;  // handed to the viewer
  bool mail_sent = false;     // accepted by the server
  bool mail_failed = false;   // tried and refused ("Unable to send the email...")
};

// After a successful run: the report is opened with the desktop's default program when
// "Show bundle report" is on, and the e-mail with the report attached is sent when "Send alert
// email" is on. After a failed run: no report; the e-mail with the error body and no attachment.
// No e-mail is tried when the recipients or the SMTP server are empty. A refused e-mail shows
// kMailFailure (information icon); the run's result and files are not affected.
NoticeOutcome NotifyCompletion(const project::VantriTypedSettings& settings,
                               const std::string& report_path, bool success, UserInterface& ui);
// The same with the project's settings and report.
NoticeOutcome NotifyCompletion(const CVantriProject& project, bool success, UserInterface& ui);

}  // namespace vantri::bundle
