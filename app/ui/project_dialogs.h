#pragma once
// Project set-up windows over their core models: the new-project window, the
// passport manager with its distortion curve and the passport editor, and the
// images manager with its preview.

#include <QDialog>
#include <QImage>
#include <QLabel>
#include <QTableWidget>
#include <functional>

#include "project/images_manager.h"
#include "project/passport_manager.h"
#include "project/project_flows.h"

namespace vantri {
class UserInterface;
}

namespace vantri::ui {

// "Select new project folder and name", then the passport manager. True with a
// complete choice.
bool RunNewProjectDialog(QWidget* parent, UserInterface& ui, project::NewProjectChoice* choice);
// The passport manager over the archive; true when a passport was selected with
// OK.
bool RunPassportManagerDialog(QWidget* parent, project::PassportManager& manager,
                              UserInterface& ui);
// The passport editor; returns the saved path, empty on Cancel.
std::string RunPassportEditorDialog(QWidget* parent, UserInterface& ui,
                                    const std::string& archive_folder);

// The image-preview window: one image's preview fitted to the window.
class ImagePreviewWindow : public QDialog {
 public:
  explicit ImagePreviewWindow(QWidget* parent);
  void Show(const QString& name, const QImage& picture);
  QLabel* Picture() const { return picture_; }

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void Fit();
  QLabel* picture_;
  QImage picture_image_;
};

// The images manager: a modeless window over ImagesManager. A row's double click opens the
// image-preview window.
class ImagesManagerDialog : public QDialog {
 public:
  ImagesManagerDialog(project::ImagesManager& manager, CVantriProject& project, UserInterface& ui,
                      QWidget* parent);
  void Refresh();
  QTableWidget* Table() const { return table_; }
  QLabel* Preview() const { return preview_; }
  void OpenPreviewWindow(int row);
  ImagePreviewWindow* PreviewWindow() const { return preview_window_; }
  std::function<void()> on_changed;

 private:
  void Changed();
  void ShowPreview(int row);
  std::vector<int> SelectedRows() const;

  project::ImagesManager& manager_;
  CVantriProject& project_;
  UserInterface& ui_;
  QTableWidget* table_;
  QLabel* label_;
  QLabel* preview_;
  QPushButton* mode_;
  QImage shown_picture_;
  ImagePreviewWindow* preview_window_ = nullptr;
};

}  // namespace vantri::ui
