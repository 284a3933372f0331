#include "bundle/completion_notice.h"

#include <filesystem>

#include "project/project.h"
#include "system/nvtools.h"
#include "ui_interface/ui.h"

namespace vantri::bundle {
namespace {

// True when the text holds something besides blanks and address separators.
bool HasContent(const std::string& text) {
  return text.find_first_not_of(" \t\r\n,;") != std::string::npos;
}

bool SendNotice(const project::VantriTypedSettings& settings, const char* body,
                const std::string& attachment, UserInterface& ui, NoticeOutcome* outcome) {
  if (!HasContent(settings.recipients) || !HasContent(settings.smtp_server)) return false;
  if (NVT_SendEmail(settings.smtp_server, settings.recipients, kNoticeSender,
                    settings.email_subject, body, attachment, "")) {
    outcome->mail_sent = true;
    return true;
  }
  outcome->mail_failed = true;
  ui.ShowMessage(kMailFailure, MessageIcon::kInformation);
  return false;
}

}  // namespace

std::string BundleReportPath(const CVantriProject& project) {
  return project.folder + "Bundle/" + project.name + ".atout";
}

NoticeOutcome NotifyCompletion(const project::VantriTypedSettings& settings,
                               const std::string& report_path, bool success, UserInterface& ui) {
  NoticeOutcome outcome;
  if (success && settings.show_report) {
    // "explorer" stands for the desktop's default program (xdg-open, started without a shell).
    outcome.report_shown = NVT_ShellExecute(report_path, "explorer", "open", 1) != 0;
    if (!outcome.report_shown) ui.Log("Unable to show the report " + report_path);
  }
  if (settings.send_email)
    SendNotice(settings, success ? kSuccessBody : kFailureBody, success ? report_path : "", ui,
               &outcome);
  return outcome;
}

NoticeOutcome NotifyCompletion(const CVantriProject& project, bool success, UserInterface& ui) {
  return NotifyCompletion(project.settings.typed, BundleReportPath(project), success, ui);
}

}  // namespace vantri::bundle
