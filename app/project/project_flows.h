#pragma once
// The project commands of the main window as plain code: New, Open, Save, Close, Project Info,
// Camera Info and Settings. Windows are reached through the UI interface or through the callbacks
// given here, so that vantri-cli and the desktop program share the flows.

#include <functional>
#include <memory>
#include <string>

#include "project/project.h"

namespace vantri {
class UserInterface;
}

namespace vantri::project {

// What the new-project window and the passport manager chose.
struct NewProjectChoice {
  std::string parent_folder;  // the folder the project folder is created in
  std::string name;           // project name (file title)
  std::string passport_path;  // passport file chosen in the manager
  std::unique_ptr<CCameraPassport> passport;
};

// The new-project window ("Select new project folder and name"): the folder tree starts in the
// folder stored under profile section "NewProject", key "CurrentFolder" (default: the current
// directory); the read-only field shows "<folder>/<name>"; OK is enabled while the name is not
// empty and stores the chosen folder under the same key.
std::string NewProjectStartFolder();
std::string NewProjectPathText(const std::string& folder, const std::string& name);
bool NewProjectOkEnabled(const std::string& name);
void RememberNewProjectFolder(const std::string& folder);

// The project path label: the project folder followed by the project name, or the invitation
// "Create a new project or open an existing one..." when no project is open.
std::string ProjectPathLabel(const CVantriProject& project);

// New project. Creates "<parent>/<name>/" (one level; it must not exist), copies the passport
// file into it, saves "<name>.bun", then calls `choose_coordinate_system` (the Coordinate System
// window; may be empty) and saves again. 1 when a project has been created; 0 with the flow's
// message otherwise (the project is closed after a failed first save).
int NewProject(CVantriProject& project, vantri::UserInterface& ui, NewProjectChoice choice,
               const std::function<void(CVantriProject&)>& choose_coordinate_system = {});

// Open project: asks for a ".bun" file through the UI, then OpenProjectPath.
int OpenProject(CVantriProject& project, vantri::UserInterface& ui);
// "Unable to find project!" for a missing file (project unchanged); otherwise closes the current
// project and loads the file; on failure "Unable to open project!" and no project. A project
// opened from an old ".aba" file gets "<folder><name>.bun" as its project file path.
int OpenProjectPath(CVantriProject& project, vantri::UserInterface& ui, const std::string& path);

// Saves with the current format version to the project file path; a failure is not reported.
int SaveProject(CVantriProject& project);

// Project Info and Camera Info texts (empty when there is no project / no working passport) and
// the commands that show them with the information icon.
std::string ProjectInfoText(const CVantriProject& project);
std::string CameraInfoText(const CVantriProject& project);
void ShowProjectInfo(const CVantriProject& project, vantri::UserInterface& ui);
void ShowCameraInfo(const CVantriProject& project, vantri::UserInterface& ui);

// Area of the union of the footprints, in square project units.
double FootprintUnionArea(const CVantriProject& project);

// Settings command: loads "<folder>settings.ini" (0 ends the command), runs `window` on the
// settings (it returns true for OK), then saves and loads again. 1 when saved.
int RunSettingsCommand(CVantriProject& project, vantri::UserInterface& ui,
                       const std::function<bool(CVantriSettings&)>& window);
std::string SettingsPath(const CVantriProject& project);

}  // namespace vantri::project
