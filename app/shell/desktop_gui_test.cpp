// The desktop program driven through its windows under a display (Xvfb in the test command):
// start-up, the command states at every stage, and the set-up of a generated survey with
// scripted answers to the message boxes and file pickers. Screenshots go to docs/screenshots.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "aat/srtm.h"
#include "project/project_flows.h"
#include "project/quality_thresholds.h"
#include "shell/desktop.h"
#include "system/nvtools.h"
#include "testing/scripted_ui.h"
#include "ui/project_dialogs.h"

namespace fs = std::filesystem;
using vantri::ui::Command;

namespace {

// The Qt interface with message boxes and file pickers answered from queues (empty: Cancel/No).
class ScriptedQtUi : public vantri::ui::QtUserInterface {
 public:
  std::deque<bool> yes_no;
  std::deque<std::string> files;
  std::deque<std::vector<std::string>> multi_files;
  std::deque<std::string> values;
  std::vector<std::string> shown;  // messages and questions in order

  void ShowMessage(std::string_view text, vantri::MessageIcon, std::string_view) override {
    shown.emplace_back(text);
  }
  bool AskYesNo(std::string_view text, vantri::MessageIcon, std::string_view) override {
    shown.emplace_back(text);
    return Pop(yes_no, false);
  }
  bool PickOpenFile(std::string_view, const std::vector<vantri::FileFilter>&, std::string_view,
                    std::string_view, std::string* path) override {
    return PopInto(files, path);
  }
  bool PickOpenFiles(std::string_view, const std::vector<vantri::FileFilter>&, std::string_view,
                     std::vector<std::string>* paths) override {
    return PopInto(multi_files, paths);
  }
  bool PickSaveFile(std::string_view, const std::vector<vantri::FileFilter>&, std::string_view,
                    std::string_view, std::string* path) override {
    return PopInto(files, path);
  }
  bool PickFolder(std::string_view, std::string_view, std::string* folder) override {
    return PopInto(files, folder);
  }
  bool PromptValue(std::string_view, std::string_view, std::string* value) override {
    return PopInto(values, value);
  }
  bool Showed(const std::string& part) const {
    for (const std::string& text : shown) {
      if (text.find(part) != std::string::npos) return true;
    }
    return false;
  }

 private:
  template <typename T>
  static T Pop(std::deque<T>& queue, T fallback) {
    if (queue.empty()) return fallback;
    T value = queue.front();
    queue.pop_front();
    return value;
  }
  template <typename T>
  static bool PopInto(std::deque<T>& queue, T* out) {
    if (queue.empty()) return false;
    *out = queue.front();
    queue.pop_front();
    return true;
  }
};

// Acts on the modal windows and pop-up menus as they open, in the order given.
class ModalScript : public QObject {
 public:
  struct Step {
    QString window;  // object name of the modal window, or "menu:<entry>" for a pop-up menu
    std::function<void(QWidget*)> act;
  };
  ModalScript() {
    connect(&timer_, &QTimer::timeout, this, [this] { Poll(); });
    timer_.start(30);
  }
  void Add(QString window, std::function<void(QWidget*)> act = {}) {
    steps_.push_back({std::move(window), std::move(act)});
  }
  bool Done() const { return steps_.empty(); }
  QString Next() const { return steps_.empty() ? QString() : steps_.front().window; }

 private:
  void Poll() {
    if (steps_.empty()) return;
    if (steps_.front().window.startsWith("menu:")) {
      auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
      if (!menu) return;
      const QString entry = steps_.front().window.mid(5);
      steps_.pop_front();
      for (QAction* action : menu->actions()) {
        if (action->text() == entry) {
          menu->setActiveAction(action);
          QTest::keyClick(menu, Qt::Key_Return);
          return;
        }
      }
      menu->close();
      return;
    }
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || modal->objectName() != steps_.front().window) return;
    Step step = steps_.front();
    steps_.pop_front();  // before acting: the action may open the next window
    // Acted on from a separate event: the polling timer does not fire again while its own
    // handler waits in a nested event loop (a menu or the next modal window).
    if (step.act) QTimer::singleShot(0, modal, [act = step.act, modal] { act(modal); });
  }
  QTimer timer_;
  std::deque<Step> steps_;
};

template <typename T>
T* Child(QWidget* parent, const char* name) {
  T* child = parent->findChild<T*>(name);
  if (!child) qFatal("no child %s in %s", name, qPrintable(parent->objectName()));
  return child;
}

void Click(QWidget* parent, const char* name) { Child<QPushButton>(parent, name)->click(); }

void Choose(QWidget* parent, const char* combo_name, const QString& text) {
  auto* combo = Child<QComboBox>(parent, combo_name);
  const int index = combo->findText(text);
  if (index < 0) qFatal("no entry %s in %s", qPrintable(text), combo_name);
  combo->setCurrentIndex(index);
  emit combo->activated(index);
  emit combo->textActivated(text);
  QApplication::processEvents();
}

std::string ScreenshotFolder() { return std::string(VANTRI_SOURCE_DIR) + "/docs/screenshots"; }

// Only on a real (virtual) display: the offscreen platform draws with other fonts.
void Screenshot(QWidget* widget, const char* name) {
  if (QGuiApplication::platformName() != "xcb") return;
  QApplication::processEvents();
  fs::create_directories(ScreenshotFolder());
  widget->grab().save(QString::fromStdString(ScreenshotFolder() + "/" + name + ".png"));
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

class DesktopGuiTest : public QObject {
  Q_OBJECT

 private:
  std::string home_, survey_, projects_;
  std::unique_ptr<vantri::shell::Desktop> desktop_;
  ScriptedQtUi* ui_ = nullptr;

  vantri::ui::MainWindow& Window() { return *desktop_->Window(); }
  bool Enabled(Command command) { return Window().Action(command)->isEnabled(); }
  // Triggers a command while the script answers the windows it opens.
  void RunWith(Command command, ModalScript& script) {
    Window().Trigger(command);
    QApplication::processEvents();
    QVERIFY2(script.Done(), qPrintable("window not seen: " + script.Next()));
  }
  std::string ProjectFile() { return projects_ + "/block/block.bun"; }

 private slots:
  void initTestCase() {
    home_ = (fs::temp_directory_path() / ("vantri_gui_" + std::to_string(getpid()))).string();
    fs::remove_all(home_);
    survey_ = home_ + "/survey";
    projects_ = home_ + "/projects";
    fs::create_directories(projects_);
    const std::string command = std::string(VANTRI_BLOCKGEN) + " --out " + survey_ +
                                " --strips 2 --images-per-strip 3 --width 600 --height 400" +
                                " --tie-points 60 > /dev/null";
    QCOMPARE(std::system(command.c_str()), 0);
    // A camera passport in the archive for the passport manager.
    fs::create_directories(vantri::passport_archive_folder());
    fs::copy_file(survey_ + "/camera.bcc", vantri::passport_archive_folder() + "/camera.bcc");

    vantri::shell::DesktopOptions options;
    options.splash_ms = 200;
    options.remember_layout = false;
    auto ui = std::make_unique<ScriptedQtUi>();
    ui_ = ui.get();
    // A report left by a crashed earlier run is announced at start-up.
    fs::create_directories(vantri::data_folder() + "/crash");
    std::ofstream(vantri::data_folder() + "/crash/vantri_crash_report.txt") << "Crash report\n";
    desktop_ = std::make_unique<vantri::shell::Desktop>(options, std::move(ui));
    QVERIFY(desktop_->StartUp(std::string(VANTRI_BINARY_DIR) + "/vantri"));
    QVERIFY(QTest::qWaitForWindowExposed(desktop_->Window()));
    QVERIFY(ui_->Showed("A crash report was written"));
    QVERIFY(fs::exists(vantri::data_folder() + "/crash/vantri_crash_report.txt.seen"));
  }

  void cleanupTestCase() {
    desktop_.reset();
    fs::remove_all(home_);
  }

  void startsWithOnlyNewAndOpen() {
    QVERIFY(Window().isMaximized());
    QVERIFY(Window().windowTitle().startsWith("vantri "));
    QCOMPARE(Window().ProjectPath()->text(),
             QString("Create a new project or open an existing one..."));
    QCOMPARE(Window().Cursor()->text(), QString("0.000, 0.000"));
    QVERIFY(Enabled(Command::kNew));
    QVERIFY(Enabled(Command::kOpen));
    for (Command command :
         {Command::kSave, Command::kImagesManager, Command::kSettings, Command::kSearchTiePoints,
          Command::kRunBundle, Command::kGcp, Command::kViewReport, Command::kCoordinateSystem}) {
      QVERIFY2(!Enabled(command), vantri::ui::InfoOf(command).label);
    }
    Screenshot(&Window(), "main_window_start");

    ui_->files.push_back(home_ + "/missing.bun");
    Window().Trigger(Command::kOpen);
    QVERIFY(ui_->Showed("Unable to find project!"));
    QVERIFY(Enabled(Command::kNew));
    QVERIFY(!Enabled(Command::kSave));
  }

  void newProjectWithPassportAndCoordinateSystem() {
    ModalScript script;
    script.Add("new_project_dialog", [this](QWidget* dialog) {
      auto* ok = Child<QPushButton>(dialog, "ok");
      QVERIFY(!ok->isEnabled());  // no name yet
      Child<QLineEdit>(dialog, "folder")->setText(QString::fromStdString(projects_));
      Child<QLineEdit>(dialog, "name")->setText("block");
      QVERIFY(Child<QLineEdit>(dialog, "path")->text().endsWith("block"));
      Screenshot(dialog, "new_project");
      ok->click();
    });
    script.Add("passport_manager_dialog", [](QWidget* dialog) {
      auto* list = Child<QListWidget>(dialog, "passports");
      QCOMPARE(list->count(), 1);
      Click(dialog, "create");  // the editor opens; its passport joins the archive as .ccb
      QCOMPARE(list->count(), 2);
      QCOMPARE(list->item(0)->text(), QString("Cam-1-2-01-02-2026.ccb"));
      list->setCurrentRow(0);  // the new passport has radial distortion: the curve shows it
      Screenshot(dialog, "passport_manager");
      list->setCurrentRow(1);
      QCOMPARE(list->currentItem()->text(), QString("camera.bcc"));
      QVERIFY(Child<QTableWidget>(dialog, "parameters")->rowCount() > 5);
      Click(dialog, "ok");
    });
    script.Add("passport_editor_dialog", [this](QWidget* dialog) {
      const std::pair<const char*, const char*> values[] = {
          {"model", "Cam"},     {"camera_serial", "1"},
          {"lens_serial", "2"}, {"date", "01-02-2026"},
          {"focal", "12"},      {"pixel", "0"},
          {"width", "600"},     {"height", "400"},
          {"ppx", "300"},       {"ppy", "200"},
          {"k1", "0.0001"},     {"k2", "0"},
          {"k3", "0"},          {"p1", "0"},
          {"p2", "0"}};
      for (const auto& [name, value] : values) Child<QLineEdit>(dialog, name)->setText(value);
      const size_t before = ui_->shown.size();
      Click(dialog, "ok");  // a pixel size of 0 is refused; the editor stays open
      QCOMPARE(ui_->shown.size(), before + 1);
      QVERIFY(dialog->isVisible());
      Child<QLineEdit>(dialog, "pixel")->setText("0.006");
      Screenshot(dialog, "passport_editor");
      Click(dialog, "ok");
    });
    script.Add("coordinate_system_dialog", [](QWidget* dialog) {
      Choose(dialog, "projection", "UTM");
      Choose(dialog, "fuse", "32 N");
      Choose(dialog, "units", "Meters");
      Screenshot(dialog, "coordinate_system");
      Click(dialog, "ok");
    });
    RunWith(Command::kNew, script);
    QVERIFY(fs::exists(ProjectFile()));
    QVERIFY(fs::exists(projects_ + "/block/camera.bcc"));
    vantri::ScriptedUi quiet;
    CVantriProject saved;
    QCOMPARE(OpenProjectPath(saved, quiet, ProjectFile()), 1);
    QCOMPARE(saved.coordinate_system.fuse_name(), std::string("32 N"));
    QVERIFY(!Enabled(Command::kNew));
    QVERIFY(Enabled(Command::kSettings));
    QVERIFY(Enabled(Command::kImagesManager));
    QVERIFY(!Enabled(Command::kSearchTiePoints));
    QVERIFY(Window().ProjectPath()->text().endsWith("block"));
  }

  void imagesWithoutGpsKeepTheSearchDisabled() {
    Window().Trigger(Command::kImagesManager);
    auto* manager = Window().ImagesManagerWindow();
    QVERIFY(manager && manager->isVisible());
    std::vector<std::string> images;
    for (const auto& entry : fs::directory_iterator(survey_ + "/images")) {
      images.push_back(entry.path().string());
    }
    QCOMPARE(static_cast<int>(images.size()), 6);
    ui_->multi_files.push_back(images);
    Click(manager, "add");
    QCOMPARE(manager->Table()->rowCount(), 6);
    QCOMPARE(desktop_->Project().ImageCount(), 6);
    QVERIFY(!Enabled(Command::kSearchTiePoints));
    const auto lines = Window().Log()->Lines();
    QVERIFY(!lines.empty());
    QVERIFY(lines.front().find("Warning: not all images have GPS/IMU data") != std::string::npos);
    manager->Table()->setCurrentCell(0, 0);
    QVERIFY(!manager->Preview()->pixmap(Qt::ReturnByValue).isNull());
    Screenshot(manager, "images_manager");
    // The preview is the project's preview file, built on first use.
    QVERIFY(fs::exists(projects_ + "/block/101.bmp"));
    manager->OpenPreviewWindow(0);
    QVERIFY(manager->PreviewWindow() && manager->PreviewWindow()->isVisible());
    QVERIFY(!manager->PreviewWindow()->Picture()->pixmap(Qt::ReturnByValue).isNull());
    Screenshot(manager->PreviewWindow(), "image_preview");
    manager->PreviewWindow()->hide();
  }

  void gpsImuThroughTheImportWindow() {
    auto* manager = Window().ImagesManagerWindow();
    ui_->files.push_back(survey_ + "/gps_imu.txt");
    ModalScript script;
    script.Add("import_dialog", [](QWidget* dialog) {
      Click(dialog, "browse");
      QVERIFY(Child<QTableWidget>(dialog, "parsed")->rowCount() == 6);
      Choose(dialog, "assign_4", "-> Omega");
      Choose(dialog, "assign_5", "-> Phi");
      Choose(dialog, "assign_6", "-> Kappa");
      QApplication::processEvents();
      auto* target = Child<QTableWidget>(dialog, "target");
      for (const char* angle : {"Omega", "Phi", "Kappa"}) {
        for (int c = 0; c < target->columnCount(); ++c) {
          if (target->horizontalHeaderItem(c)->text() == angle) {
            emit target->horizontalHeader()->sectionClicked(c);  // the column menu
          }
        }
      }
      Click(dialog, "select_all");
      Screenshot(dialog, "import_gps_imu");
      Click(dialog, "import");
    });
    for (int i = 0; i < 3; ++i) script.Add("menu:DEG to RAD");
    Click(manager, "import");
    QApplication::processEvents();
    QVERIFY2(script.Done(), qPrintable("window not seen: " + script.Next()));
    QVERIFY(ui_->Showed("6 GPS/IMU data points selected"));
    for (int i = 0; i < 6; ++i) QVERIFY(desktop_->Project().Image(i)->HasGpsImu());
    // Headings of the second strip are near 180 degrees: the column was converted to radians.
    double largest_kappa = 0;
    for (int i = 0; i < 6; ++i) {
      largest_kappa = std::max(largest_kappa, std::abs(desktop_->Project().Image(i)->kappa));
    }
    QVERIFY(largest_kappa > 3.0 && largest_kappa < 3.3);
    QVERIFY(Enabled(Command::kSearchTiePoints));
    QVERIFY(!Enabled(Command::kRunBundle));  // no tie points yet
    manager->hide();
  }

  void coordinateConversionInTheImportWindow() {
    const std::string file = home_ + "/gps_geographic.txt";
    std::ofstream(file) << "# ID, longitude, latitude, height, omega, phi, kappa\n"
                        << "101,9.158,47.755,1419.6,0,0,0\n";
    auto* manager = Window().ImagesManagerWindow();
    manager->show();
    const double x_before = desktop_->Project().Image(0)->x;
    ui_->files.push_back(file);
    ModalScript script;
    script.Add("import_dialog", [](QWidget* dialog) {
      Click(dialog, "browse");
      Click(dialog, "select_all");
      Click(dialog, "convert");  // the conversion window opens and closes here
      auto* target = Child<QTableWidget>(dialog, "target");
      const double x = target->item(0, 1)->text().toDouble();
      const double y = target->item(0, 2)->text().toDouble();
      QVERIFY2(x > 505000 && x < 520000, qPrintable(target->item(0, 1)->text()));
      QVERIFY2(y > 5280000 && y < 5300000, qPrintable(target->item(0, 2)->text()));
      Click(dialog, "cancel");
    });
    script.Add("coordinate_conversion_dialog", [](QWidget* dialog) {
      Choose(dialog, "source_datum", "World Geodetic System 1984");
      Choose(dialog, "target_projection", "Universal Transverse Mercator");
      Choose(dialog, "target_datum", "World Geodetic System 1984");
      Click(dialog, "estimate");
      QCOMPARE(Child<QComboBox>(dialog, "fuse")->currentText(), QString("32 North"));
      Screenshot(dialog, "coordinate_conversion");
      Click(dialog, "ok");
    });
    Click(manager, "import");
    QApplication::processEvents();
    QVERIFY2(script.Done(), qPrintable("window not seen: " + script.Next()));
    // A cancelled import gives every image its position back.
    QCOMPARE(desktop_->Project().Image(0)->x, x_before);
    QVERIFY(Enabled(Command::kSearchTiePoints));
    manager->hide();
  }

  void srtmFolderAndExternalDem() {
    ModalScript script;
    script.Add("srtm_dialog", [this](QWidget* dialog) {
      auto* folder = Child<QLineEdit>(dialog, "folder");
      folder->setText(QString::fromStdString(survey_ + "/srtm"));
      emit folder->editingFinished();
      QCOMPARE(Child<QListWidget>(dialog, "datasets")->count(), 1);
      Screenshot(dialog, "srtm_source");
      Click(dialog, "ok");
    });
    RunWith(Command::kSelectSrtmSource, script);
    QCOMPARE(vantri::aat::srtmFolder(), survey_ + "/srtm");

    ui_->files.push_back(survey_ + "/gps_imu.txt");  // not a raster
    Window().Trigger(Command::kUseExternalDem);
    QVERIFY(ui_->Showed("Unable to open selected file!"));
    QCOMPARE(desktop_->Project().use_external_dem, 0);
    ui_->files.push_back(survey_ + "/dem.tif");
    Window().Trigger(Command::kUseExternalDem);
    QCOMPARE(desktop_->Project().use_external_dem, 1);
    QVERIFY(Window().Action(Command::kUseExternalDem)->isChecked());
    Window().Trigger(Command::kSave);
    vantri::ScriptedUi quiet;
    CVantriProject saved;
    QCOMPARE(OpenProjectPath(saved, quiet, ProjectFile()), 1);
    QCOMPARE(saved.use_external_dem, 1);
    QCOMPARE(saved.external_dem_path, survey_ + "/dem.tif");
    QVERIFY(saved.Image(5)->HasGpsImu());
    // Footprints on the DEM, one per image, and the GPS positions in the drawing.
    QCOMPARE(Window().Drawing()->EntityCount(vantri::ui::DrawingLayer::kFootprints), 6);
    QCOMPARE(Window().Drawing()->EntityCount(vantri::ui::DrawingLayer::kGpsPositions), 6);
    // The control and check points of the survey, as the point managers will store them.
    for (const char* file : {"GCP.col", "CP.col"}) {
      fs::copy_file(survey_ + "/" + file, projects_ + "/block/" + file);
    }
    QVERIFY(ReadGcpFiles(projects_ + "/block", &desktop_->Project().gcps));
    QVERIFY(ReadCpFiles(projects_ + "/block", &desktop_->Project().check_points));
    Window().ProjectChanged();
    QVERIFY(Window().Drawing()->EntityCount(vantri::ui::DrawingLayer::kGcps) > 0);
    QVERIFY(Window().Drawing()->EntityCount(vantri::ui::DrawingLayer::kCheckPoints) > 0);
    Screenshot(&Window(), "main_window_project");
  }

  void settingsChangedAndRefusedThroughTheGrid() {
    ModalScript script;
    auto set_value = [](QWidget* dialog, const QString& property, const QString& value) {
      auto* grid = Child<QTableWidget>(dialog, "grid");
      for (int r = 0; r < grid->rowCount(); ++r) {
        if (grid->item(r, 0) && grid->item(r, 0)->text() == property && grid->item(r, 1)) {
          grid->item(r, 1)->setText(value);
          QApplication::processEvents();
          return;
        }
      }
      qFatal("no property %s", qPrintable(property));
    };
    script.Add("settings_dialog", [this, set_value](QWidget* dialog) {
      set_value(dialog, "Cross correlation coefficient", "0.7:1");
      QVERIFY(ui_->Showed("cannot contain ':'"));
      set_value(dialog, "Cross correlation coefficient", "0.99");
      Click(dialog, "ok");  // refused by the validation: the window stays open
      QVERIFY(ui_->Showed("Cross correlation coefficient must be included between 0.3 and 0.95"));
      QVERIFY(dialog->isVisible());
      set_value(dialog, "Cross correlation coefficient", "0.7");
      Screenshot(dialog, "settings");
      Click(dialog, "ok");
    });
    RunWith(Command::kSettings, script);
    const std::string ini = ReadAll(projects_ + "/block/settings.ini");
    QVERIFY(ini.find("0.7") != std::string::npos);
    QVERIFY(ini.find("0.99") == std::string::npos);
  }

  void thresholdsRefusedThenStored() {
    ModalScript script;
    script.Add("thresholds_dialog", [this](QWidget* dialog) {
      Child<QLineEdit>(dialog, "tie_high")->setText("5");
      Child<QLineEdit>(dialog, "tie_middle")->setText("3");
      const size_t before = ui_->shown.size();
      Click(dialog, "ok");
      QVERIFY(ui_->shown.size() == before + 1);
      QVERIFY(dialog->isVisible());
      Child<QLineEdit>(dialog, "tie_middle")->setText("8");
      Screenshot(dialog, "thresholds");
      Click(dialog, "ok");
    });
    RunWith(Command::kThresholds, script);
    QCOMPARE(QualityThresholds::LoadFromProfile().tie_points.middle_threshold, 8.0);
  }

  void laterCommandsSayTheyAreNotAvailableAndExitAsks() {
    Window().Trigger(Command::kProjectInfo);
    QVERIFY(ui_->Showed("Number of images: 6"));
    QVERIFY(ui_->Showed("Total area: "));
    Window().Trigger(Command::kSearchTiePoints);
    QVERIFY(ui_->Showed("Search Tie Points is not available in this version yet."));
    Window().Trigger(Command::kRecoverByBro);
    QVERIFY(ui_->Showed("Recover by BRO is not available in this version yet."));
    ui_->yes_no.push_back(false);
    Window().Trigger(Command::kExit);
    QApplication::processEvents();
    QVERIFY(ui_->Showed("Do you really want to exit?"));
    QVERIFY(Window().isVisible());
    ui_->yes_no.push_back(true);
    Window().Trigger(Command::kExit);
    QApplication::processEvents();
    QVERIFY(!Window().isVisible());
  }
};

int main(int argc, char** argv) {
  const std::string home =
      (fs::temp_directory_path() / ("vantri_gui_home_" + std::to_string(getpid()))).string();
  setenv("VANTRI_HOME", home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
  if (!std::getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication application(argc, argv);
  DesktopGuiTest test;
  const int result = QTest::qExec(&test, argc, argv);
  fs::remove_all(home);
  return result;
}

#include "desktop_gui_test.moc"
