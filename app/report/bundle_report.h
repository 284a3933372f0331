#pragma once
// The accuracy report of a project's last bundle run: Bundle/<project name>.html beside the
// .atout, written from the project and the result files.
//
// WriteBundleHtmlReport is the one call a bundle run makes after it ends (desktop program and
// `vantri-cli bundle`), whether it succeeded or not: a missing or damaged file makes the report say
// so, it never fails the run. `vantri-cli report` calls it without statistics.

#include <string>

#include "project/project.h"
#include "report/report_model.h"

namespace vantri {
class UserInterface;
}

namespace vantri::report {

// <project folder>Bundle/<project name>.html
std::string HtmlReportPath(const CVantriProject& project);

// Gathers the report input from the project and its Bundle folder. Footprints are the project's
// when it has them; otherwise each image's outline on the plane at the mean tie-point height.
ReportInput GatherReportInput(const CVantriProject& project);

// Writes Bundle/<name>.runstats from `run` (when given: the a-posteriori sigma 0, iterations,
// convergence of the adjustment, which the .atout does not carry), then Bundle/<name>.html through
// a temporary file and a rename; the Bundle folder is created when missing. Logs "HTML report
// written: <path>" or the reason it could not be written. Returns 1 when the HTML was written,
// else 0. Never throws.
int WriteBundleHtmlReport(const CVantriProject& project, const BundleRunStatistics* run,
                          vantri::UserInterface& ui);

}  // namespace vantri::report
