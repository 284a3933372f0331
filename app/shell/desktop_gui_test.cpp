// The desktop program driven through its windows under a display (Xvfb in the test command):
// start-up, the command states at every stage, and the set-up of a generated survey with
// scripted answers to the message boxes and file pickers. Screenshots go to docs/screenshots.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QGraphicsEllipseItem>
#include <QGraphicsSimpleTextItem>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>

#include "aat/srtm.h"
#include "display/display_settings.h"
#include "project/project_flows.h"
#include "project/quality_thresholds.h"
#include "shell/desktop.h"
#include "system/nvtools.h"
#include "testing/scripted_ui.h"
#include "testing/temp_folder.h"
#include "ui/point_windows.h"
#include "ui/processing_windows.h"
#include "ui/project_dialogs.h"
#include "ui/result_windows.h"

namespace fs = std::filesystem;
using vantri::test_support::ReadFile;
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
  // Called at each message pump until it answers true: acts while a long operation runs.
  std::function<bool()> on_pump;
  void PumpMessages() override {
    if (on_pump) {
      auto act = std::move(on_pump);
      on_pump = nullptr;  // the act may pump messages itself
      if (!act()) on_pump = std::move(act);
    }
    QtUserInterface::PumpMessages();
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
    // A window being acted on may still be up when the timer fires again: the next step
    // belongs to the next window of that name.
    if (modal == acted_on_) return;
    acted_on_ = modal;
    Step step = steps_.front();
    steps_.pop_front();  // before acting: the action may open the next window
    // Acted on from a separate event: the polling timer does not fire again while its own
    // handler waits in a nested event loop (a menu or the next modal window).
    // A failed check inside the action leaves its window open: it is closed so that the test
    // reports the failure instead of waiting for its time-out.
    if (step.act) {
      QTimer::singleShot(0, modal, [act = step.act, modal] {
        act(modal);
        auto* dialog = qobject_cast<QDialog*>(modal);
        if (QTest::currentTestFailed() && dialog && dialog->isVisible()) dialog->reject();
      });
    }
  }
  QTimer timer_;
  std::deque<Step> steps_;
  QPointer<QWidget> acted_on_;
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

}  // namespace

class DesktopGuiTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<vantri::test_support::TempFolder> temp_;
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
  // Imports a survey file in a point manager: twice (the second adds nothing), and the variance
  // menu of the "XY var" header refuses a text before taking a value.
  void ImportPoints(Command command, const char* file, int count, const char* screenshot) {
    ui_->files.push_back(survey_ + file);
    ui_->files.push_back(survey_ + file);
    ModalScript script;
    const bool gcps = command == Command::kGcp;
    script.Add("point_manager_dialog", [this, count, gcps, screenshot](QWidget* dialog) {
      auto* table = Child<QTableWidget>(dialog, "points");
      QCOMPARE(table->rowCount(), 0);
      QVERIFY(!Child<QPushButton>(dialog, "remove_all")->isEnabled());
      Click(dialog, "import");
      QCOMPARE(table->rowCount(), count);
      QCOMPARE(Child<QLabel>(dialog, "count")->text(), QString("%1 points added").arg(count));
      QVERIFY(ui_->Showed(std::to_string(count) + " control points imported"));
      Click(dialog, "import");
      QVERIFY(ui_->Showed("No valid point to import or points already imported!"));
      QCOMPARE(table->rowCount(), count);
      QCOMPARE(table->columnCount(), gcps ? 7 : 5);
      QCOMPARE(table->horizontalHeaderItem(1)->text(), QString("Measuremets"));
      if (gcps) {
        ui_->values.push_back("abc");
        ui_->values.push_back("0.0004");
        auto* header = table->horizontalHeader();
        emit header->customContextMenuRequested(QPoint(header->sectionViewportPosition(5) + 5, 5));
        QVERIFY(ui_->Showed("Invalid value!"));
        QCOMPARE(table->item(0, 5)->text(), QString("0.000400"));
      }
      // Not measured yet: grey rows, check boxes off.
      QCOMPARE(table->item(0, 0)->checkState(), Qt::Unchecked);
      QCOMPARE(table->item(0, 0)->background().color(), QColor(128, 128, 128));
      Screenshot(dialog, screenshot);
      Click(dialog, "ok");
    });
    for (int i = 0; i < 2; ++i) {
      script.Add("import_dialog", [](QWidget* dialog) {
        Click(dialog, "browse");
        Click(dialog, "select_all");
        Click(dialog, "import");
      });
      if (gcps && i == 1) script.Add("menu:Set value to all");
    }
    RunWith(command, script);
    QVERIFY(fs::exists(projects_ + "/block/" + (gcps ? "GCP.col" : "CP.col")));
  }

  // Point -> image name -> true pixel position, from the generator's *_image.txt.
  static std::map<std::string, std::map<std::string, QPointF>> Truth(const std::string& path) {
    std::map<std::string, std::map<std::string, QPointF>> truth;
    std::istringstream lines(ReadFile(path));
    for (std::string line; std::getline(lines, line);) {
      if (line.empty() || line[0] == '#') continue;
      const QStringList fields = QString::fromStdString(line).split(',');
      truth[fields[0].toStdString()][fields[1].toStdString()] =
          QPointF(fields[2].toDouble(), fields[3].toDouble());
    }
    return truth;
  }

  // Measures a point in every proposed image as an operator would: from the proposed position
  // with the keypad (a Shift+click first when the proposal is far off), Ctrl+click where the
  // point is not in the image, Page Down to the next image, then OK.
  void Collimate(Command command, const std::string& name,
                 const std::map<std::string, QPointF>& truth) {
    ModalScript script;
    script.Add("point_manager_dialog", [name](QWidget* dialog) {
      auto* table = Child<QTableWidget>(dialog, "points");
      for (int r = 0; r < table->rowCount(); ++r) {
        // The import keeps names in lower case.
        if (table->item(r, 0)->text().compare(QString::fromStdString(name), Qt::CaseInsensitive) ==
            0)
          table->setCurrentCell(r, 0);
      }
      Click(dialog, "collimate");
      Click(dialog, "ok");
    });
    const bool first = !collimation_screenshot_taken_;
    script.Add("collimation_window", [this, name, truth, command, first](QWidget* widget) {
      auto* window = static_cast<vantri::ui::CollimationWindow*>(widget);
      const QString prefix = command == Command::kGcp ? "GCP - " : "CP - ";
      QCOMPARE(window->windowTitle(), prefix + QString::fromStdString(name).toLower());
      auto* canvas = window->Canvas();
      auto* line = Child<QLabel>(window, "image_line");
      const int count = line->text().section('/', 1).section(' ', 0, 0).toInt();
      QVERIFY(count >= static_cast<int>(truth.size()));
      for (int k = 0; k < count; ++k) {
        QVERIFY(line->text().startsWith(QString("Image %1/%2 - ").arg(k + 1).arg(count)));
        const std::string image = fs::path(line->text().section(" - ", 1).toStdString()).stem();
        MeasureInImage(window, truth, image);
        QTest::keyClick(canvas, Qt::Key_PageDown);
      }
      QVERIFY(line->text().startsWith("Image 1/"));  // cyclic
      if (first) {
        // Zoomed in, only the visible part of the 600 x 400 image is read.
        Click(window, "zoom_in");
        Click(window, "zoom_in");
        QApplication::processEvents();
        canvas->repaint();
        QVERIFY(canvas->LastReadWidth() < 600);
        Screenshot(window, "collimation_window");
      }
      Click(window, "ok");
    });
    collimation_screenshot_taken_ = true;
    RunWith(command, script);
  }

  void MeasureInImage(vantri::ui::CollimationWindow* window,
                      const std::map<std::string, QPointF>& truth, const std::string& image) {
    auto* canvas = window->Canvas();
    auto* marker_line = Child<QLabel>(window, "marker_line");
    // The marker position as the window shows it.
    const auto where = [&] {
      const QString text = marker_line->text();
      return Eigen::Vector2d(text.section("x ", 1).section(' ', 0, 0).toDouble(),
                             text.section("y ", 1).section(' ', 0, 0).toDouble());
    };
    const auto found = truth.find(image);
    if (found == truth.end()) {
      QTest::mouseClick(canvas, Qt::LeftButton, Qt::ControlModifier, QPoint(10, 10));
      QVERIFY(marker_line->text().startsWith("not measured"));
      return;
    }
    const QPointF target = found->second;
    Eigen::Vector2d marker = where();
    if (std::hypot(target.x() - marker.x(), target.y() - marker.y()) > 40) {
      const Eigen::Vector2d screen = window->View().ImageToScreen({target.x(), target.y()});
      QTest::mouseClick(canvas, Qt::LeftButton, Qt::ShiftModifier,
                        QPoint(static_cast<int>(screen.x()), static_cast<int>(screen.y())));
      marker = where();
    }
    // Keypad steps of one screen pixel (one image pixel at 1:1) towards the true position.
    for (int guard = 0; guard < 200; ++guard) {
      const int dx = static_cast<int>(std::lround(target.x() - marker.x()));
      const int dy = static_cast<int>(std::lround(target.y() - marker.y()));
      if (dx == 0 && dy == 0) break;
      static const std::map<std::pair<int, int>, Qt::Key> kKeys = {
          {{-1, 1}, Qt::Key_1}, {{0, 1}, Qt::Key_2},   {{1, 1}, Qt::Key_3},  {{-1, 0}, Qt::Key_4},
          {{1, 0}, Qt::Key_6},  {{-1, -1}, Qt::Key_7}, {{0, -1}, Qt::Key_8}, {{1, -1}, Qt::Key_9}};
      QTest::keyClick(canvas, kKeys.at({(dx > 0) - (dx < 0), (dy > 0) - (dy < 0)}),
                      Qt::KeypadModifier);
      marker = where();
    }
    QVERIFY2(marker_line->text().startsWith("measured"), qPrintable(marker_line->text()));
  }

  bool collimation_screenshot_taken_ = false;

 private slots:
  void initTestCase() {
    temp_ = std::make_unique<vantri::test_support::TempFolder>();
    home_ = temp_->path();
    QVERIFY(!home_.empty());
    survey_ = home_ + "/survey";
    projects_ = home_ + "/projects";
    fs::create_directories(projects_);
    // A stand-in for the desktop's default program records what it is asked to open.
    fs::create_directories(home_ + "/bin");
    std::ofstream(home_ + "/bin/xdg-open")
        << "#!/bin/sh\necho \"$@\" >> " << home_ << "/opened.txt\n";
    fs::permissions(home_ + "/bin/xdg-open", fs::perms::owner_all);
    setenv("PATH", (home_ + "/bin:" + std::getenv("PATH")).c_str(), 1);
    const std::string command = std::string(VANTRI_BLOCKGEN) + " --out " + survey_ +
                                " --strips 2 --images-per-strip 3 --width 600 --height 400" +
                                " --tie-points 60 > /dev/null";
    QCOMPARE(std::system(command.c_str()), 0);
    // A camera passport in the archive for the passport manager.
    fs::create_directories(vantri::system::PassportArchiveFolder());
    fs::copy_file(survey_ + "/camera.bcc", vantri::system::PassportArchiveFolder() + "/camera.bcc");

    vantri::shell::DesktopOptions options;
    options.splash_ms = 200;
    options.remember_layout = false;
    auto ui = std::make_unique<ScriptedQtUi>();
    ui_ = ui.get();
    // A report left by a crashed earlier run is announced at start-up.
    fs::create_directories(vantri::system::DataFolder() + "/crash");
    std::ofstream(vantri::system::DataFolder() + "/crash/vantri_crash_report.txt")
        << "Crash report\n";
    desktop_ = std::make_unique<vantri::shell::Desktop>(options, std::move(ui));
    QVERIFY(desktop_->StartUp(std::string(VANTRI_BINARY_DIR) + "/vantri"));
    QVERIFY(QTest::qWaitForWindowExposed(desktop_->Window()));
    QVERIFY(ui_->Showed("A crash report was written"));
    QVERIFY(fs::exists(vantri::system::DataFolder() + "/crash/vantri_crash_report.txt.seen"));
  }

  void cleanupTestCase() {
    desktop_.reset();
    // The detached stand-in of the desktop's default program may still be writing there.
    std::error_code error;
    for (int attempt = 0; attempt < 20 && fs::exists(home_); ++attempt) {
      fs::remove_all(home_, error);
      if (fs::exists(home_)) QTest::qWait(100);
    }
    temp_.reset();
  }

  void SplashShowsTheProgramsBitmap() {
    const QImage splash = vantri::shell::SplashPicture().toImage();
    QCOMPARE(splash.size(), QSize(520, 300));
    // The aerial picture, not the plain fallback: its corner is not the fallback's blue.
    QVERIFY(splash.pixelColor(5, 5) != QColor(30, 60, 110));
    if (QGuiApplication::platformName() == "xcb") {
      splash.save(QString::fromStdString(ScreenshotFolder() + "/splash.png"));
    }
  }

  void StartsWithOnlyNewAndOpen() {
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

  void NewProjectWithPassportAndCoordinateSystem() {
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
    QCOMPARE(vantri::project::OpenProjectPath(saved, quiet, ProjectFile()), 1);
    QCOMPARE(saved.coordinate_system.FuseName(), std::string("32 N"));
    QVERIFY(!Enabled(Command::kNew));
    QVERIFY(Enabled(Command::kSettings));
    QVERIFY(Enabled(Command::kImagesManager));
    QVERIFY(!Enabled(Command::kSearchTiePoints));
    QVERIFY(Window().ProjectPath()->text().endsWith("block"));
  }

  void ImagesWithoutGpsKeepTheSearchDisabled() {
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

  void GpsImuThroughTheImportWindow() {
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

  void CoordinateConversionInTheImportWindow() {
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

  void SrtmFolderAndExternalDem() {
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
    QCOMPARE(vantri::aat::SrtmFolder(), survey_ + "/srtm");

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
    QCOMPARE(vantri::project::OpenProjectPath(saved, quiet, ProjectFile()), 1);
    QCOMPARE(saved.use_external_dem, 1);
    QCOMPARE(saved.external_dem_path, survey_ + "/dem.tif");
    QVERIFY(saved.Image(5)->HasGpsImu());
    // Footprints on the DEM, one per image, and the GPS positions in the drawing.
    QCOMPARE(Window().Drawing()->EntityCount(vantri::ui::DrawingLayer::kFootprints), 6);
    QCOMPARE(Window().Drawing()->EntityCount(vantri::ui::DrawingLayer::kGpsPositions), 6);
    Screenshot(&Window(), "main_window_project");
  }

  void SettingsChangedAndRefusedThroughTheGrid() {
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
      // Template and search area for the survey's small images.
      set_value(dialog, "Template size", "16");
      set_value(dialog, "Search area size", "160");
      set_value(dialog, "Max points to search per image", "64");
      set_value(dialog, "Max reprojection error (pixel)", "2");
      Screenshot(dialog, "settings");
      Click(dialog, "ok");
    });
    RunWith(Command::kSettings, script);
    const std::string ini = ReadFile(projects_ + "/block/settings.ini");
    QVERIFY(ini.find("0.7") != std::string::npos);
    QVERIFY(ini.find("0.99") == std::string::npos);
  }

  void ThresholdsRefusedThenStored() {
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
    QCOMPARE(vantri::project::QualityThresholds::LoadFromProfile().tie_points.middle_threshold,
             8.0);
  }

  void SearchAbortedFromTheProgressWindow() {
    QVERIFY(Enabled(Command::kSearchTiePoints));
    QVERIFY(!Enabled(Command::kGcp));
    QElapsedTimer since_abort;
    qint64 abort_took_ms = -1;
    int images_added = 0;
    Window().on_search_window = [&](vantri::ui::SearchProgressWindow& window) {
      window.on_image_added = [&](int added, int) {
        images_added = added;
        if (added != 2 || since_abort.isValid()) return;
        ui_->yes_no.push_back(true);  // "Abort Process?"
        since_abort.start();
        window.AbortButton()->click();
      };
      connect(&window, &QDialog::finished, &window, [&] { abort_took_ms = since_abort.elapsed(); });
    };
    Window().Trigger(Command::kSearchTiePoints);
    QVERIFY(ui_->Showed("Abort Process?"));
    QCOMPARE(images_added, 2);  // stopped at the next poll, before a third image
    qInfo("abort answered to window closed: %lld ms", static_cast<long long>(abort_took_ms));
    QVERIFY(!fs::exists(projects_ + "/block/block.bro"));
    QVERIFY(fs::exists(projects_ + "/block/TiePoints/block_2.bro"));
    QVERIFY(!fs::exists(projects_ + "/block/TiePoints/block_3.bro"));
    QVERIFY(!Enabled(Command::kGcp));
    QVERIFY(!desktop_->Ui().IsAborted());  // the next operation is not aborted at once
    QVERIFY(Enabled(Command::kSearchTiePoints));
  }

  void SearchTiePointsWithThePreviewThenTheBundleRuns() {
    int preview_points = 0, preview_cameras = 0;
    bool screenshot_taken = false;
    Window().on_search_window = [&](vantri::ui::SearchProgressWindow& window) {
      QCOMPARE(window.geometry().topLeft(),
               QPoint(QGuiApplication::primaryScreen()->availableGeometry().width() / 5,
                      QGuiApplication::primaryScreen()->availableGeometry().height() / 5));
      window.on_image_added = [&](int added, int count) {
        preview_points = window.Preview()->PointCount();
        preview_cameras = window.Preview()->CameraCount();
        if (added == count - 1 && !screenshot_taken) {
          screenshot_taken = true;
          Screenshot(&window, "search_progress");
        }
      };
    };
    // An earlier search left exchange files: the question comes first; No ends the command.
    ui_->yes_no.push_back(false);
    Window().Trigger(Command::kSearchTiePoints);
    QVERIFY(ui_->Showed("If you proceed previous results will be deleted.\nDo you want continue?"));
    QVERIFY(!screenshot_taken);
    ui_->yes_no.push_back(true);
    Window().Trigger(Command::kSearchTiePoints);
    QVERIFY(screenshot_taken);
    QCOMPARE(preview_cameras, 6);
    QVERIFY2(preview_points > 20, qPrintable(QString::number(preview_points)));
    const std::string block = projects_ + "/block/";
    for (const char* file : {"block.bro", "block.iml", "TiePoints/block_6.bro",
                             "TiePoints/block_6.vtp", "101.int", "101.est"}) {
      QVERIFY2(fs::exists(block + file), file);
    }
    QVERIFY(Window().Log()->Lines().size() > 5);
    // The bundle process followed the search at once (no control point measured yet).
    QVERIFY(fs::exists(block + "Bundle/block.atout"));
    QVERIFY(fs::exists(block + "Bundle/block.html"));
    for (Command command :
         {Command::kGcp, Command::kCheckPoints, Command::kRunBundle, Command::kViewReport}) {
      QVERIFY2(Enabled(command), vantri::ui::InfoOf(command).label);
    }
    QCOMPARE(desktop_->Project().used_tie_points > 0, true);
  }

  void ControlAndCheckPointsImportedInTheManagers() {
    ImportPoints(Command::kGcp, "/gcp.txt", 6, "gcp_manager");
    ImportPoints(Command::kCheckPoints, "/cp.txt", 4, "cp_manager");
    vantri::ScriptedUi quiet;
    CVantriProject saved;
    QCOMPARE(vantri::project::OpenProjectPath(saved, quiet, ProjectFile()), 1);
    QCOMPARE(static_cast<int>(saved.gcps.size()), 6);
    QCOMPARE(static_cast<int>(saved.check_points.size()), 4);
    QCOMPARE(saved.gcps.begin()->second.xy_var, 0.0004);  // set through the header menu
    QVERIFY(Window().Drawing()->EntityCount(vantri::ui::DrawingLayer::kGcps) == 6);
    QVERIFY(Window().Drawing()->EntityCount(vantri::ui::DrawingLayer::kCheckPoints) == 4);
  }

  void PointsCollimatedByKeysAndClicks() {
    const auto gcp_truth = Truth(survey_ + "/gcp_image.txt");
    const auto cp_truth = Truth(survey_ + "/cp_image.txt");
    for (const auto& [name, images] : gcp_truth) Collimate(Command::kGcp, name, images);
    for (const auto& [name, images] : cp_truth) Collimate(Command::kCheckPoints, name, images);

    // Stored in the collection files relative to the image centre, y up, within a pixel.
    CGCPCollMap gcps;
    QVERIFY(ReadPTCollFile(projects_ + "/block/GCP.col", &gcps));
    for (const auto& [name, images] : gcp_truth) {
      const CGCPCollEx& point = gcps.at(name);
      QCOMPARE(point.measurements.size(), images.size());
      QCOMPARE(point.use, images.size() > 1);
      for (const CSIFTColl& measurement : point.measurements) {
        const std::string image = desktop_->Project().Image(measurement.image_index)->Name();
        const QPointF truth = images.at(image);
        QVERIFY(std::abs(300 + measurement.x - truth.x()) <= 0.75);
        QVERIFY(std::abs(200 - measurement.y - truth.y()) <= 0.75);
      }
    }
    // Cancel leaves the point as it was.
    const std::string before = ReadFile(projects_ + "/block/CP.col");
    ModalScript script;
    script.Add("point_manager_dialog", [](QWidget* dialog) {
      Child<QTableWidget>(dialog, "points")->setCurrentCell(0, 0);
      Click(dialog, "collimate");
      Click(dialog, "ok");
    });
    script.Add("collimation_window", [](QWidget* window) {
      auto* canvas = Child<QWidget>(window, "canvas");
      QTest::mouseClick(canvas, Qt::LeftButton, Qt::ShiftModifier, QPoint(20, 20));
      QTest::keyClick(canvas, Qt::Key_Delete);
      Click(window, "cancel");
    });
    RunWith(Command::kCheckPoints, script);
    QCOMPARE(ReadFile(projects_ + "/block/CP.col"), before);

    // A click on a check point's symbol in the drawing opens its collimation too.
    auto* drawing = Window().Drawing();
    const std::string name = desktop_->Project().check_points.begin()->first;
    QPointF symbol;
    QVERIFY(drawing->SymbolPosition(vantri::ui::DrawingLayer::kCheckPoints, name, &symbol));
    ModalScript from_drawing;
    from_drawing.Add("collimation_window", [name](QWidget* window) {
      QCOMPARE(window->windowTitle(), QString::fromStdString("CP - " + name));
      Click(window, "cancel");
    });
    QTest::mouseClick(drawing->viewport(), Qt::LeftButton, {}, drawing->mapFromScene(symbol));
    QApplication::processEvents();
    QVERIFY2(from_drawing.Done(), "the collimation did not open from the drawing");
    QCOMPARE(ReadFile(projects_ + "/block/CP.col"), before);
  }

  void RunBundleWithTheMeasuredPointsAndViewTheReport() {
    const std::string atout = projects_ + "/block/Bundle/block.atout";
    fs::remove(home_ + "/opened.txt");
    desktop_->Project().settings.typed.show_report = true;
    Window().Trigger(Command::kRunBundle);
    QVERIFY(fs::exists(atout));
    const std::string report = ReadFile(atout);
    const auto count_after = [&report](const std::string& label) {
      const size_t at = report.find(label);
      return at == std::string::npos ? -1 : std::atoi(report.c_str() + at + label.size());
    };
    QVERIFY(count_after("Control points        : ") > 0);
    QVERIFY(count_after("Check points          : ") > 0);
    QVERIFY(ReadFile(projects_ + "/block/Bundle/block.gcpres").find("g1") != std::string::npos);
    // The completion notice hands the report to the desktop (the stand-in records it).
    QTRY_VERIFY(ReadFile(home_ + "/opened.txt").find("block.atout") != std::string::npos);
    fs::remove(home_ + "/opened.txt");
    Window().Trigger(Command::kViewReport);
    QTRY_VERIFY(ReadFile(home_ + "/opened.txt").find("block.html") != std::string::npos);
    QTRY_VERIFY(ReadFile(home_ + "/opened.txt").find("block.atout") != std::string::npos);

    // The managers now colour used points by the quality of their residuals.
    ModalScript script;
    script.Add("point_manager_dialog", [](QWidget* dialog) {
      auto* table = Child<QTableWidget>(dialog, "points");
      int coloured = 0;
      for (int r = 0; r < table->rowCount(); ++r) {
        const QColor colour = table->item(r, 0)->background().color();
        if (colour != QColor(255, 255, 255) && colour != QColor(128, 128, 128)) ++coloured;
      }
      QVERIFY(coloured > 0);
      Screenshot(dialog, "gcp_manager_results");
      Click(dialog, "ok");
    });
    RunWith(Command::kGcp, script);
    Screenshot(&Window(), "main_window_results");
  }

  // After the bundle run the drawing shows the results: tie points in their quality colours,
  // control and check points with their labels once (the view's own layers step aside).
  void GraphicReportShowsThePointsInTheirQualityColours() {
    auto* drawing = Window().Drawing();
    QVERIFY(drawing->HasResults());
    const vantri::display::DisplayModel& model = drawing->Results();
    const vantri::project::QualityClass tie =
        vantri::project::QualityThresholds::LoadFromProfile().tie_points;
    const auto colour = [](int32_t color_ref) {
      const vantri::display::Rgb rgb = vantri::display::FromColorRef(color_ref);
      return QColor(rgb.r, rgb.g, rgb.b);
    };
    const std::map<QRgb, int> classes{{colour(tie.high_color).rgb(), 0},
                                      {colour(tie.middle_color).rgb(), 1},
                                      {colour(tie.low_color).rgb(), 2}};
    std::array<int, 3> per_class{};
    int markers = 0;
    for (QGraphicsItem* item : drawing->ResultLayer("TP")->childItems()) {
      auto* marker = qgraphicsitem_cast<QGraphicsEllipseItem*>(item);
      if (!marker) continue;
      ++markers;
      const auto found = classes.find(marker->brush().color().rgb());
      QVERIFY2(found != classes.end(), qPrintable(marker->brush().color().name()));
      ++per_class[found->second];
    }
    QVERIFY(markers > 20);
    QCOMPARE(markers, static_cast<int>(model.tie_points.size()));
    QVERIFY(per_class[0] > 0);  // a survey without noise in its measurements: mostly high
    // Every measured control point has a result and a quality colour; none is grey.
    QVERIFY(!model.control_points.empty());
    for (const auto& [name, point] : model.control_points) {
      QVERIFY2(point.has_result, name.c_str());
      QVERIFY(point.color != vantri::display::kNoResultGrey);
    }
    const std::string gcp = model.control_points.begin()->first;
    int labels = 0;
    for (QGraphicsItem* item : drawing->scene()->items()) {
      auto* text = qgraphicsitem_cast<QGraphicsSimpleTextItem*>(item);
      if (text && text->isVisible() && text->text() == QString::fromStdString(gcp)) ++labels;
    }
    QCOMPARE(labels, 1);

    // The view toggle hides and shows the results' tie points.
    Window().Trigger(Command::kShowTiePoints);
    QVERIFY(!drawing->ResultLayer("TP")->isVisible());
    Window().Trigger(Command::kShowTiePoints);
    QVERIFY(drawing->ResultLayer("TP")->isVisible());

    // A click on a control point of the report opens its collimation.
    const vantri::display::CEntGCP& point = model.control_points.at(gcp);
    ModalScript script;
    script.Add("collimation_window", [gcp](QWidget* window) {
      QCOMPARE(window->windowTitle(), QString::fromStdString("GCP - " + gcp));
      Click(window, "cancel");
    });
    QTest::mouseClick(drawing->viewport(), Qt::LeftButton, {},
                      drawing->mapFromScene(QPointF(point.x, point.y)));
    QApplication::processEvents();
    QVERIFY2(script.Done(), "the collimation did not open from the graphic report");
  }

  // Graphic Report opens its options: a symbol turned on and a scale changed are saved to the
  // .grs file and drawn.
  void GraphicReportOptionsSavedToTheGrsFileAndDrawn() {
    const std::string grs = projects_ + "/block/block.grs";
    fs::remove(grs);
    auto* drawing = Window().Drawing();
    QVERIFY(!drawing->ResultLayer("TPResXYVector")->isVisible());
    Window().Trigger(Command::kGraphicReport);
    vantri::ui::DisplaySettingsWindow* options = Window().GraphicReportWindow();
    QVERIFY(options && options->isVisible());
    Child<QCheckBox>(options, "TPResXYVector.Visible")->setChecked(true);
    Child<QCheckBox>(options, "ImageResXYEllipse.Visible")->setChecked(true);
    Child<QCheckBox>(options, "ImageResXYEllipse.Filled")->setChecked(true);
    Child<QLineEdit>(options, "ImageResXY.Scale")->setText("0.25");
    Child<QLineEdit>(options, "TPResXY.Scale")->setText("-8");
    // A scale that does not convert is named and nothing is written.
    Child<QLineEdit>(options, "CPResZ.Scale")->setText("big");
    Click(options, "save");
    QVERIFY(ui_->Showed("CPResZ"));
    QVERIFY(!fs::exists(grs));
    Child<QLineEdit>(options, "CPResZ.Scale")->setText("25");
    Click(options, "save");
    QVERIFY(fs::exists(grs));
    const std::string text = ReadFile(grs);
    QVERIFY(text.find("[TPResXYVector]\nVisible=1\n") != std::string::npos);
    QVERIFY(text.find("[TPResXY]\nScale=8.000000\n") != std::string::npos);
    QVERIFY(text.find("[ImageResXY]\nScale=0.250000\n") != std::string::npos);
    QCOMPARE(Child<QLineEdit>(options, "TPResXY.Scale")->text(), QString("8.000000"));
    // Redrawn with the new settings.
    QVERIFY(drawing->ResultLayer("TPResXYVector")->isVisible());
    QVERIFY(!drawing->ResultLayer("TPResXYVector")->childItems().isEmpty());
    Screenshot(options, "display_settings");
    options->move(Window().geometry().right() - options->width() - 20, Window().y() + 80);
    Screenshot(&Window(), "main_window_graphic_report");
    Window().Trigger(Command::kGraphicReport);
    QVERIFY(!options->isVisible());
  }

  // Export to Plotara: an abort from the dialog starts nothing; then the export runs and the
  // stand-in `plotara` on the PATH records the description file as its only argument.
  void ExportToPlotaraWithItsDialogAndAbort() {
    const std::string record = home_ + "/plotara-args.txt";
    std::ofstream(home_ + "/bin/plotara")
        << "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > " << record << ".tmp\nmv " << record
        << ".tmp " << record << "\n";
    fs::permissions(home_ + "/bin/plotara", fs::perms::owner_all);
    const std::string sti = projects_ + "/block/Stereo/block.sti";

    // The Abort button pressed while the first pass goes through the images.
    int pumps = 0;
    ui_->on_pump = [this, &pumps] {
      QWidget* dialog = QApplication::activeModalWidget();
      if (!dialog || dialog->objectName() != "export_dialog" || ++pumps < 3) return false;
      ui_->yes_no.push_back(true);
      Click(dialog, "abort");
      return true;
    };
    Window().Trigger(Command::kExportToPlotara);
    QVERIFY(!ui_->on_pump);
    QVERIFY(ui_->Showed("Abort process?"));
    QVERIFY(!fs::exists(sti));
    QVERIFY(!fs::exists(record));

    ModalScript script;
    script.Add("export_dialog",
               [](QWidget* dialog) { QVERIFY(Child<QPushButton>(dialog, "abort")->isVisible()); });
    Window().Trigger(Command::kExportToPlotara);
    QVERIFY2(script.Done(), "no export dialog");
    QVERIFY(fs::exists(sti));
    const std::string description = ReadFile(sti);
    QVERIFY(description.find("[Images]\nNumber=6\n") != std::string::npos);
    QVERIFY(description.find("[Image_00005]") != std::string::npos);
    QVERIFY(fs::exists(survey_ + "/images/101.int"));
    QVERIFY(fs::exists(survey_ + "/images/101.est"));
    QTRY_COMPARE(QString::fromStdString(ReadFile(record)), QString::fromStdString(sti + "\n"));
  }

  void RecoverByBroResumesTheSearch() {
    ui_->files.push_back(projects_ + "/block/TiePoints/block_4.bro");
    int first_added = 0;
    Window().on_search_window = [&](vantri::ui::SearchProgressWindow& window) {
      window.on_image_added = [&](int added, int) {
        if (first_added == 0) first_added = added;
      };
    };
    Window().Trigger(Command::kRecoverByBro);
    QCOMPARE(first_added, 5);  // the four images of the file stay; numbering goes on
    QVERIFY(fs::exists(projects_ + "/block/block.bro"));
    QVERIFY(Enabled(Command::kRunBundle));
  }

  void ProjectInfoAndExitAsks() {
    Window().Trigger(Command::kProjectInfo);
    QVERIFY(ui_->Showed("Number of images: 6"));
    QVERIFY(ui_->Showed("Total area: "));
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
  // Outlives the application: removed after everything that writes to it is gone.
  const vantri::test_support::TempFolder home_folder;
  const std::string home = home_folder.path();
  setenv("VANTRI_HOME", home.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (home + "/config").c_str(), 1);
  if (!std::getenv("DISPLAY")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  vantri::shell::SetSurfaceFormatForVtk();
  QApplication application(argc, argv);
  DesktopGuiTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "desktop_gui_test.moc"
