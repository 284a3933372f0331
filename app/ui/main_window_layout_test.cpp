// The main window remembers its layout (geometry and tool bars) between starts, and only when
// the operator really closes it.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QToolBar>
#include <filesystem>

#include "project/project.h"
#include "system/nvtools.h"
#include "testing/temp_folder.h"
#include "ui/main_window.h"

namespace vantri::ui {
namespace {

// Answers the exit question from a flag; no window is shown.
class AnsweringUi : public QtUserInterface {
 public:
  bool answer = true;
  bool AskYesNo(std::string_view, MessageIcon, std::string_view) override { return answer; }
};

QToolBar* ViewBar(MainWindow& window) { return window.findChild<QToolBar*>("view_toolbar"); }

TEST(MainWindowLayout, GeometryAndToolBarsComeBackAtTheNextStart) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  test_support::ScopedVantriHome home;
  int argc = 1;
  char program[] = "main_window_layout_test";
  char* argv[] = {program, nullptr};
  QApplication application(argc, argv);
  const std::string layout_file =
      (std::filesystem::path(system::ProfilePath()).parent_path() / "window.ini").string();
  MainWindowOptions options;
  options.remember_layout = true;
  {
    CVantriProject project;
    AnsweringUi ui;
    MainWindow window(project, ui, options);
    window.show();
    window.setGeometry(60, 80, 900, 700);
    window.addToolBar(Qt::BottomToolBarArea, ViewBar(window));
    QApplication::processEvents();
    ui.answer = false;  // "Do you really want to exit?" No: nothing is stored
    window.close();
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(std::filesystem::exists(layout_file));
    ui.answer = true;
    window.close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_TRUE(std::filesystem::exists(layout_file));
  }
  CVantriProject project;
  AnsweringUi ui;
  MainWindow again(project, ui, options);
  again.show();
  QApplication::processEvents();
  EXPECT_EQ(again.size(), QSize(900, 700));
  EXPECT_EQ(again.toolBarArea(ViewBar(again)), Qt::BottomToolBarArea);

  options.remember_layout = false;  // the GUI test's windows start from the defaults
  MainWindow fresh(project, ui, options);
  EXPECT_EQ(fresh.toolBarArea(ViewBar(fresh)), Qt::TopToolBarArea);
}

}  // namespace
}  // namespace vantri::ui
