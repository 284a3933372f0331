#include "shell/desktop.h"

#include <QVTKOpenGLNativeWidget.h>
#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPainter>
#include <QScreen>
#include <QSplashScreen>
#include <QSurfaceFormat>
#include <filesystem>
#include <iostream>

#include "system/nvtools.h"

// The resources of a static library are registered by hand (outside any namespace).
static void InitDesktopResources() { Q_INIT_RESOURCE(desktop); }

namespace vantri::shell {

namespace fs = std::filesystem;

Desktop::Desktop(DesktopOptions options, std::unique_ptr<ui::QtUserInterface> ui)
    : options_(options), ui_(ui ? std::move(ui) : std::make_unique<ui::QtUserInterface>()) {}

Desktop::~Desktop() {
  window_.reset();
  RemoveCrashReporter();
}

namespace {

CrashReporterSetup MachineSetup(const std::string& program, const std::string& version) {
  CrashReporterSetup setup;
  setup.program = program;
  setup.version = version;
  setup.report_folder = system::DataFolder() + "/crash";
  setup.os_info = NVT_GetOSInfo();
  setup.ram_info = NVT_GetRAMInfo();
  setup.pixel_depth = NVT_GetPixelDepth();
  setup.resolution = NVT_GetResolution();
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    setup.pixel_depth = std::to_string(screen->depth());
    setup.resolution =
        std::to_string(screen->size().width()) + "x" + std::to_string(screen->size().height());
  }
  NVT_GetDisplayAdaptersList(&setup.adapters);
  return setup;
}

}  // namespace

QPixmap SplashPicture() {
  // The aerial picture of the resources with the title on a dark band; a plain background
  // when the picture cannot be read.
  InitDesktopResources();
  QPixmap picture(":/vantri/splash.jpg");
  if (picture.isNull()) {
    picture = QPixmap(520, 300);
    picture.fill(QColor(30, 60, 110));
  }
  {
    QPainter painter(&picture);
    painter.fillRect(QRect(0, 90, picture.width(), 120), QColor(10, 25, 50, 200));
    painter.setPen(Qt::white);
    QFont title = painter.font();
    title.setPointSize(34);
    title.setBold(true);
    painter.setFont(title);
    painter.drawText(QRect(0, 92, picture.width(), 70), Qt::AlignCenter, "Vantri");
    QFont text = painter.font();
    text.setPointSize(12);
    text.setBold(false);
    painter.setFont(text);
    std::string version;
    NVT_GetVersionInfo({}, &version, nullptr);
    painter.drawText(QRect(0, 162, picture.width(), 36), Qt::AlignCenter,
                     ui::ToQt("Aerial triangulation  -  version " + version));
  }
  return picture;
}

void Desktop::ShowSplash() {
  if (options_.splash_ms <= 0) return;
  QSplashScreen splash(SplashPicture());
  splash.setObjectName("splash");
  splash.show();
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < options_.splash_ms) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  splash.close();
}

bool Desktop::StartUp(const std::string& executable_path) {
  const std::string program = fs::path(executable_path).stem().string();
  std::string version;
  NVT_GetVersionInfo({}, &version, nullptr);

  crash_setup_ = MachineSetup(program.empty() ? "vantri" : program, version);
  std::string error;
  if (!InstallCrashReporter(crash_setup_, &error)) {
    std::cout << error << "\n";
    QMessageBox::critical(nullptr, "Vantri", ui::ToQt(error));
    return false;
  }
  QCoreApplication::setOrganizationName("Vantri");
  QCoreApplication::setApplicationName(ui::ToQt(crash_setup_.program));
  GDALAllRegister();
  OGRRegisterAll();
  system::PassportArchiveFolder();  // creates VTR and VTR/passports

  ShowSplash();

  ui::MainWindowOptions window_options;
  window_options.program = crash_setup_.program;
  window_options.version = version;
  window_options.program_folder = fs::path(executable_path).parent_path().string();
  window_options.remember_layout = options_.remember_layout;
  window_ = std::make_unique<ui::MainWindow>(project_, *ui_, window_options);
  window_->update_terrain = [this](CVantriProject& project, UserInterface& ui) {
    terrain_.LoadForProject(project);
    terrain_.UpdateFootprints(project, ui);
  };
  window_->bind_images_manager = [this](project::ImagesManager& manager) {
    terrain_.BindHooks(manager, *ui_);
  };
  if (options_.show_maximized) {
    // Without a window manager (a virtual display) maximising alone leaves the default size.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      window_->setGeometry(screen->availableGeometry());
    }
    window_->showMaximized();
  } else {
    window_->show();
  }
  QCoreApplication::processEvents();
  const std::string smtp = NVT_GetUserProfileString("Email", "SMTPServer", "");
  const std::string recipients = NVT_GetUserProfileString("Email", "Recipients", "");
  AnnouncePendingCrashReport(*ui_, crash_setup_, smtp, recipients);
  return true;
}

void SetSurfaceFormatForVtk() {
  QSurfaceFormat::setDefaultFormat(QVTKOpenGLNativeWidget::defaultFormat());
}

int RunDesktopProgram(int argc, char** argv) {
  SetSurfaceFormatForVtk();  // before the application and the first 3-D view
  QApplication application(argc, argv);
  Desktop desktop;
  if (!desktop.StartUp(argc > 0 ? argv[0] : "vantri")) return 1;
  return application.exec();
}

}  // namespace vantri::shell
