#pragma once
// The passport archive and the logic of the Passport Manager window: listing the archive, the
// parameter table in both coefficient conventions, the distortion-formula checks, import into the
// archive, creation through the passport editor, and the selection handed to New project.
//
// Archive: <data folder>/VTR/passports (PassportArchiveFolder()), files *.ccb, *.cvc, *.bcc,
// *.rdr. Profile: section "Passport", key "LastSelectedPassportIndex".

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "photogrammetry/passport.h"
#include "project/passport_editor.h"

namespace vantri {
class UserInterface;
}

namespace vantri::project {

// Paths of the archive's passport files: every *.ccb, then *.cvc, *.bcc and *.rdr (extensions
// compared without regard to case), each group sorted by name. Folders are skipped. The folder
// is created when missing. Paths keep their case: the file system is case-sensitive.
std::vector<std::string> ListPassportArchive(const std::string& archive_folder);

// One row of the manager's parameter table: "Camera parameters; values; different convention".
struct PassportTableRow {
  std::string label;
  std::string value;
  std::string other;  // the "different convention" column; may be empty
};

// The rows for a passport (null: nothing selected, "<new camera passport>"). Distortion
// coefficients: normalised convention in "values", metric in "different convention", related by
// normalised = metric * (s / 1000 * F)^n (s pixel size mm, F focal length in pixels, n = 2, 4, 6
// for K1..K3 and 2 for P1, P2). The last three rows hold the default distortion formulas.
std::vector<PassportTableRow> PassportParameterRows(const CCameraPassport* passport);

// The formulas of the table's last three rows.
struct DistortionFormulas {
  std::string radial;
  std::string tangential_x;
  std::string tangential_y;
};
DistortionFormulas DefaultDistortionFormulas();

// Checks the three formulas against the passport's normalised coefficients (null passport:
// coefficients without values). Returns the first message (empty when all three evaluate).
std::string CheckDistortionFormulas(const DistortionFormulas& formulas,
                                    const CCameraPassport* passport);

// The manager's distortion curve: for the radial formula, (r, dr) along the image's half
// diagonal; for the tangential pair, (r, |(dx, dy)|) along the diagonal x = y. r and the
// displacement are in pixels: the normalised coefficients take r in units of the focal length.
// `samples` points from r = 0; empty when the formulas do not check.
enum class DistortionCurveKind { kRadial, kTangential };
std::vector<std::array<double, 2>> DistortionCurve(const DistortionFormulas& formulas,
                                                   const CCameraPassport& passport,
                                                   DistortionCurveKind kind, int samples = 50);

// Outcome of the editor's OK button.
enum class EditorOutcome { kStayOpen, kClosed };

// The passport editor's OK: checks the values (CheckPassportEditor), builds
// "<archive>/<model>-<serial>-<lens>-<date>.bcc", asks before overwriting, saves. A failed save
// asks "Unable to save the passport. Retry?": Yes stays open, No closes without a path.
// `saved_path` receives the path of the written file (empty when nothing was saved).
EditorOutcome PassportEditorOk(vantri::UserInterface& ui, const PassportEditorValues& values,
                               const std::string& archive_folder, std::string* saved_path);

class PassportManager {
 public:
  // Lists the archive and preselects the entry stored under "LastSelectedPassportIndex" when it
  // is within the list.
  PassportManager(vantri::UserInterface& ui, std::string archive_folder);

  const std::vector<std::string>& Entries() const { return entries_; }
  // "name.ext" of every entry, as the list shows them.
  std::vector<std::string> EntryNames() const;
  int SelectedIndex() const { return selected_; }
  void SetSelectedIndex(int index);
  // The selected entry's passport as shown (null when nothing is selected or it does not open).
  std::unique_ptr<CCameraPassport> SelectedPassport() const;
  std::vector<PassportTableRow> SelectedRows() const;

  // Import: "Unable to open camera passport" for a file that does not open (a ".ccb" that does
  // not exist); an archive file of the same name asks before overwriting; the copy failing shows
  // "Unable to import the certificate!" (stop). 1 when the file has been copied.
  int Import(const std::string& path);
  // Import with the file window.
  int ImportWithDialog();

  // Create: runs `editor` (the editor window; it returns the saved path, empty on Cancel). A saved
  // ".bcc" is converted to "<same folder><same name>.ccb" and removed when that succeeds.
  int Create(const std::function<std::string(const std::string& archive_folder)>& editor);

  // Select (OK): "Select a camera passport" without a selection; "Invalid camera passport!" when
  // the selected file does not read. 1 when the window closes; the choice is then available.
  int Select();
  const std::string& ChosenPath() const { return chosen_path_; }
  std::unique_ptr<CCameraPassport> TakeChosenPassport() { return std::move(chosen_); }

  // Checks the formulas of the table against the selected passport; a refusal is shown with the
  // caption "Parser Initialize Error" (exclamation). True when all three evaluate.
  bool CheckFormulas(const DistortionFormulas& formulas);

  void Refresh();

 private:
  vantri::UserInterface& ui_;
  std::string archive_folder_;
  std::vector<std::string> entries_;
  int selected_ = -1;
  std::string chosen_path_;
  std::unique_ptr<CCameraPassport> chosen_;
};

// Reads a passport as the manager does: ".ccb" through CCBtoBCC into a CBCCCameraPassport, any
// other file with CCameraPassport::New. Null when it does not read.
std::unique_ptr<CCameraPassport> ReadManagerPassport(const std::string& path);

}  // namespace vantri::project
