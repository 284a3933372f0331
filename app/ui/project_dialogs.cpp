#include "ui/project_dialogs.h"

#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImageReader>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>

#include "import/project_import.h"
#include "project/preview_image.h"
#include "system/nvtools.h"
#include "ui/import_dialog.h"
#include "ui/qt_user_interface.h"

namespace vantri::ui {

namespace {

QPushButton* Button(const char* text, const char* name) {
  auto* button = new QPushButton(text);
  button->setObjectName(name);
  return button;
}

// --- Distortion curve
// ------------------------------------------------------------------------

class DistortionCurveWidget : public QWidget {
 public:
  DistortionCurveWidget() {
    setObjectName("distortion_curve");
    setMinimumSize(360, 220);
  }
  void SetCurves(std::vector<std::array<double, 2>> radial,
                 std::vector<std::array<double, 2>> tangential) {
    radial_ = std::move(radial);
    tangential_ = std::move(tangential);
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), Qt::white);
    const QRectF plot = QRectF(rect()).adjusted(58, 12, -12, -36);
    painter.setPen(QColor(120, 120, 120));
    painter.drawRect(plot);
    if (radial_.empty()) {
      painter.drawText(plot, Qt::AlignCenter, "No curve: the formulas do not evaluate");
      return;
    }
    double r_max = 1, d_min = 0, d_max = 0;
    for (const auto* curve : {&radial_, &tangential_}) {
      for (const auto& [r, d] : *curve) {
        r_max = std::max(r_max, r);
        d_min = std::min(d_min, d);
        d_max = std::max(d_max, d);
      }
    }
    if (d_max - d_min < 1e-9) d_max = d_min + 1;
    auto to_screen = [&](double r, double d) {
      return QPointF(plot.left() + r / r_max * plot.width(),
                     plot.bottom() - (d - d_min) / (d_max - d_min) * plot.height());
    };
    painter.drawLine(to_screen(0, 0), to_screen(r_max, 0));
    painter.drawText(QRectF(plot.left(), plot.bottom() + 4, plot.width(), 16), Qt::AlignCenter,
                     QString("radius, 0 .. %1 pixels").arg(r_max, 0, 'f', 0));
    painter.drawText(QRectF(2, plot.top(), 54, 16), Qt::AlignRight, QString::number(d_max, 'g', 3));
    painter.drawText(QRectF(2, plot.bottom() - 16, 54, 16), Qt::AlignRight,
                     QString::number(d_min, 'g', 3));
    auto draw = [&](const std::vector<std::array<double, 2>>& curve, const QColor& color) {
      QPainterPath path;
      for (size_t i = 0; i < curve.size(); ++i) {
        const QPointF p = to_screen(curve[i][0], curve[i][1]);
        if (i == 0)
          path.moveTo(p);
        else
          path.lineTo(p);
      }
      painter.setPen(QPen(color, 2));
      painter.drawPath(path);
    };
    draw(radial_, QColor(200, 40, 40));
    draw(tangential_, QColor(40, 90, 200));
    painter.setPen(QColor(200, 40, 40));
    painter.drawText(plot.adjusted(8, 4, -8, -4), Qt::AlignTop | Qt::AlignLeft, "radial (pixels)");
    painter.setPen(QColor(40, 90, 200));
    painter.drawText(plot.adjusted(8, 20, -8, -4), Qt::AlignTop | Qt::AlignLeft,
                     "tangential (pixels)");
  }

 private:
  std::vector<std::array<double, 2>> radial_, tangential_;
};

// --- Passport manager
// ------------------------------------------------------------------------

class PassportManagerDialog : public QDialog {
 public:
  explicit PassportManagerDialog(QWidget* parent, project::PassportManager& manager)
      : QDialog(parent), manager_(manager) {
    setObjectName("passport_manager_dialog");
    setWindowTitle("Passport Manager");
    resize(1040, 820);
    list_ = new QListWidget;
    list_->setObjectName("passports");
    list_->setMinimumWidth(300);
    table_ = new QTableWidget(0, 3);
    table_->setObjectName("parameters");
    table_->setHorizontalHeaderLabels({"Camera parameters", "values", "different convention"});
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 8);
    const project::DistortionFormulas defaults = project::DefaultDistortionFormulas();
    radial_ = new QLineEdit(ToQt(defaults.radial));
    radial_->setObjectName("radial_formula");
    tangential_x_ = new QLineEdit(ToQt(defaults.tangential_x));
    tangential_x_->setObjectName("tangential_x_formula");
    tangential_y_ = new QLineEdit(ToQt(defaults.tangential_y));
    tangential_y_->setObjectName("tangential_y_formula");
    curve_ = new DistortionCurveWidget;
    auto* formulas = new QFormLayout;
    formulas->addRow("Radial:", radial_);
    formulas->addRow("Tangential x:", tangential_x_);
    formulas->addRow("Tangential y:", tangential_y_);
    auto* check = Button("Check formulas", "check_formulas");
    auto* import = Button("Import...", "import");
    auto* create = Button("Create...", "create");
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("ok");
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
      if (manager_.Select()) accept();
    });
    connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
      manager_.SetSelectedIndex(row);
      ShowSelected();
    });
    connect(check, &QPushButton::clicked, this, [this] {
      manager_.CheckFormulas(Formulas());
      ShowSelected();
    });
    connect(import, &QPushButton::clicked, this, [this] {
      if (manager_.ImportWithDialog()) Fill();
    });
    connect(create, &QPushButton::clicked, this, [this] {
      if (manager_.Create([this](const std::string& archive) {
            return RunPassportEditorDialog(this, ManagerUi(), archive);
          })) {
        Fill();
      }
    });

    auto* left = new QVBoxLayout;
    left->addWidget(new QLabel("Passport archive:"));
    left->addWidget(list_);
    auto* left_buttons = new QHBoxLayout;
    left_buttons->addWidget(import);
    left_buttons->addWidget(create);
    left->addLayout(left_buttons);
    auto* right = new QVBoxLayout;
    right->addWidget(table_, 3);
    right->addLayout(formulas);
    right->addWidget(check, 0, Qt::AlignRight);
    right->addWidget(curve_, 2);
    auto* columns = new QHBoxLayout;
    columns->addLayout(left, 1);
    columns->addLayout(right, 2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    layout->addWidget(buttons);
    Fill();
  }

  std::function<UserInterface&()> ui_of;

 private:
  UserInterface& ManagerUi() { return ui_of(); }
  project::DistortionFormulas Formulas() const {
    return {FromQt(radial_->text()), FromQt(tangential_x_->text()), FromQt(tangential_y_->text())};
  }
  void Fill() {
    manager_.Refresh();
    const QSignalBlocker block(list_);
    list_->clear();
    for (const std::string& name : manager_.EntryNames()) list_->addItem(ToQt(name));
    list_->setCurrentRow(manager_.SelectedIndex());
    ShowSelected();
  }
  void ShowSelected() {
    const auto rows = manager_.SelectedRows();
    table_->setRowCount(static_cast<int>(rows.size()));
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
      table_->setItem(r, 0, new QTableWidgetItem(ToQt(rows[r].label)));
      table_->setItem(r, 1, new QTableWidgetItem(ToQt(rows[r].value)));
      table_->setItem(r, 2, new QTableWidgetItem(ToQt(rows[r].other)));
    }
    const auto passport = manager_.SelectedPassport();
    if (!passport) {
      curve_->SetCurves({}, {});
      return;
    }
    const project::DistortionFormulas formulas = Formulas();
    curve_->SetCurves(
        project::DistortionCurve(formulas, *passport, project::DistortionCurveKind::kRadial),
        project::DistortionCurve(formulas, *passport, project::DistortionCurveKind::kTangential));
  }

  project::PassportManager& manager_;
  QListWidget* list_;
  QTableWidget* table_;
  QLineEdit *radial_, *tangential_x_, *tangential_y_;
  DistortionCurveWidget* curve_;
};

// --- Passport editor
// -------------------------------------------------------------------------

class PassportEditorDialog : public QDialog {
 public:
  PassportEditorDialog(QWidget* parent, UserInterface& ui, const std::string& archive)
      : QDialog(parent) {
    setObjectName("passport_editor_dialog");
    setWindowTitle("Passport Editor");
    auto* form = new QFormLayout;
    struct Field {
      const char* label;
      const char* name;
      std::string project::PassportEditorValues::*member;
    };
    static const Field kFields[] = {
        {"Camera model:", "model", &project::PassportEditorValues::model},
        {"Camera serial number:", "camera_serial", &project::PassportEditorValues::camera_serial},
        {"Lens serial number:", "lens_serial", &project::PassportEditorValues::lens_serial},
        {"Calibration date (dd-mm-yyyy):", "date",
         &project::PassportEditorValues::calibration_date},
        {"Focal length (mm):", "focal", &project::PassportEditorValues::focal_mm},
        {"Pixel size (mm):", "pixel", &project::PassportEditorValues::pixel_mm},
        {"Width (pixels):", "width", &project::PassportEditorValues::width},
        {"Height (pixels):", "height", &project::PassportEditorValues::height},
        {"Principal point x (pixels):", "ppx", &project::PassportEditorValues::ppx},
        {"Principal point y (pixels):", "ppy", &project::PassportEditorValues::ppy},
        {"K1:", "k1", &project::PassportEditorValues::k1},
        {"K2:", "k2", &project::PassportEditorValues::k2},
        {"K3:", "k3", &project::PassportEditorValues::k3},
        {"P1:", "p1", &project::PassportEditorValues::p1},
        {"P2:", "p2", &project::PassportEditorValues::p2},
    };
    project::PassportEditorValues defaults;
    for (const Field& field : kFields) {
      auto* edit = new QLineEdit(ToQt(defaults.*(field.member)));
      edit->setObjectName(field.name);
      edit->setMinimumWidth(260);
      form->addRow(field.label, edit);
      edits_.push_back({edit, field.member});
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("ok");
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons, &QDialogButtonBox::accepted, this, [this, &ui, archive] {
      project::PassportEditorValues values;
      for (const auto& [edit, member] : edits_) values.*member = FromQt(edit->text());
      if (project::PassportEditorOk(ui, values, archive, &saved_) ==
          project::EditorOutcome::kClosed) {
        saved_.empty() ? reject() : accept();
      }
    });
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);
  }
  const std::string& Saved() const { return saved_; }

 private:
  std::vector<std::pair<QLineEdit*, std::string project::PassportEditorValues::*>> edits_;
  std::string saved_;
};

// --- New project
// -----------------------------------------------------------------------------

class NewProjectDialog : public QDialog {
 public:
  NewProjectDialog(QWidget* parent, UserInterface& ui) : QDialog(parent), ui_(ui) {
    setObjectName("new_project_dialog");
    setWindowTitle("Select new project folder and name");
    folder_ = new QLineEdit(ToQt(project::NewProjectStartFolder()));
    folder_->setObjectName("folder");
    folder_->setMinimumWidth(420);
    name_ = new QLineEdit;
    name_->setObjectName("name");
    path_ = new QLineEdit;
    path_->setObjectName("path");
    path_->setReadOnly(true);
    auto* browse = Button("Browse...", "browse");
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons_->button(QDialogButtonBox::Ok)->setObjectName("ok");
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons_, &QDialogButtonBox::accepted, this, [this] {
      project::RememberNewProjectFolder(FromQt(folder_->text()));
      accept();
    });
    connect(browse, &QPushButton::clicked, this, [this] {
      std::string folder;
      if (ui_.PickFolder("Select new project folder", FromQt(folder_->text()), &folder)) {
        folder_->setText(ToQt(folder));
      }
    });
    connect(folder_, &QLineEdit::textChanged, this, [this] { Update(); });
    connect(name_, &QLineEdit::textChanged, this, [this] { Update(); });
    auto* folder_row = new QHBoxLayout;
    folder_row->addWidget(folder_, 1);
    folder_row->addWidget(browse);
    auto* form = new QFormLayout;
    form->addRow("Folder:", folder_row);
    form->addRow("Project name:", name_);
    form->addRow("Project:", path_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons_);
    Update();
  }
  std::string Folder() const { return FromQt(folder_->text()); }
  std::string Name() const { return FromQt(name_->text()); }

 private:
  void Update() {
    path_->setText(ToQt(project::NewProjectPathText(Folder(), Name())));
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(project::NewProjectOkEnabled(Name()));
  }
  UserInterface& ui_;
  QLineEdit *folder_, *name_, *path_;
  QDialogButtonBox* buttons_;
};

}  // namespace

QImage ToQImage(const cv::Mat& picture) {
  if (picture.empty() || picture.depth() != CV_8U) return {};
  if (picture.channels() == 1) {
    return QImage(picture.data, picture.cols, picture.rows, static_cast<int>(picture.step),
                  QImage::Format_Grayscale8)
        .copy();
  }
  if (picture.channels() == 3) {
    return QImage(picture.data, picture.cols, picture.rows, static_cast<int>(picture.step),
                  QImage::Format_BGR888)
        .copy();
  }
  return {};
}

ImagePreviewWindow::ImagePreviewWindow(QWidget* parent) : QDialog(parent) {
  setObjectName("image_preview_window");
  setModal(false);
  resize(900, 640);
  picture_ = new QLabel;
  picture_->setObjectName("picture");
  picture_->setAlignment(Qt::AlignCenter);
  picture_->setMinimumSize(320, 240);
  picture_->setStyleSheet("QLabel { background: rgb(60, 60, 60); color: white; }");
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->addWidget(picture_);
}

void ImagePreviewWindow::Show(const QString& name, const QImage& picture) {
  setWindowTitle("Preview - " + name);
  picture_image_ = picture;
  show();
  raise();
  Fit();
}

void ImagePreviewWindow::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  Fit();
}

void ImagePreviewWindow::Fit() {
  if (picture_image_.isNull()) {
    picture_->setText("No preview");
    return;
  }
  picture_->setPixmap(QPixmap::fromImage(picture_image_.scaled(
      picture_->size() - QSize(4, 4), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

bool RunPassportManagerDialog(QWidget* parent, project::PassportManager& manager,
                              UserInterface& ui) {
  PassportManagerDialog dialog(parent, manager);
  dialog.ui_of = [&ui]() -> UserInterface& { return ui; };
  return dialog.exec() == QDialog::Accepted;
}

std::string RunPassportEditorDialog(QWidget* parent, UserInterface& ui,
                                    const std::string& archive_folder) {
  PassportEditorDialog dialog(parent, ui, archive_folder);
  dialog.exec();
  return dialog.Saved();
}

bool RunNewProjectDialog(QWidget* parent, UserInterface& ui, project::NewProjectChoice* choice) {
  NewProjectDialog dialog(parent, ui);
  if (dialog.exec() != QDialog::Accepted) return false;
  project::PassportManager manager(ui, system::PassportArchiveFolder());
  if (!RunPassportManagerDialog(parent, manager, ui)) return false;
  choice->parent_folder = dialog.Folder();
  choice->name = dialog.Name();
  choice->passport_path = manager.ChosenPath();
  choice->passport = manager.TakeChosenPassport();
  return choice->passport != nullptr;
}

// --- Images manager
// --------------------------------------------------------------------------

ImagesManagerDialog::ImagesManagerDialog(project::ImagesManager& manager, CVantriProject& project,
                                         UserInterface& ui, QWidget* parent)
    : QDialog(parent), manager_(manager), project_(project), ui_(ui) {
  setObjectName("images_manager_dialog");
  setWindowTitle("Images Manager");
  setModal(false);
  resize(1000, 560);
  table_ = new QTableWidget(0, 10);
  table_->setObjectName("images");
  table_->setHorizontalHeaderLabels({"Image", "GPS/IMU", "Var XY", "Var Z", "Var OP", "Var K",
                                     "Adj XY", "Adj Z", "Adj OP", "Adj K"});
  table_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
  table_->verticalHeader()->hide();
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  label_ = new QLabel;
  label_->setObjectName("label");
  preview_ = new QLabel("No image selected");
  preview_->setObjectName("preview");
  preview_->setAlignment(Qt::AlignCenter);
  preview_->setMinimumSize(360, 240);
  preview_->setStyleSheet("QLabel { background: rgb(60, 60, 60); color: white; }");
  mode_ = Button("Input Mode", "mode");
  auto* add = Button("Add...", "add");
  auto* remove = Button("Remove", "remove");
  auto* remove_all = Button("Remove All", "remove_all");
  auto* import = Button("Import GPS/IMU...", "import");
  auto* enable = Button("Enable", "enable");
  auto* disable = Button("Disable", "disable");
  connect(add, &QPushButton::clicked, this, [this] {
    manager_.AddImagesWithDialog();
    Changed();
  });
  connect(remove, &QPushButton::clicked, this, [this] {
    manager_.Remove(SelectedRows());
    Changed();
  });
  connect(remove_all, &QPushButton::clicked, this, [this] {
    if (manager_.RemoveAll()) Changed();
  });
  connect(enable, &QPushButton::clicked, this, [this] {
    manager_.SetEnabled(SelectedRows(), true);
    Changed();
  });
  connect(disable, &QPushButton::clicked, this, [this] {
    manager_.SetEnabled(SelectedRows(), false);
    Changed();
  });
  connect(import, &QPushButton::clicked, this, [this] {
    manager_.ImportGpsImu([this](CVantriProject& project) {
      import::PointImportModel model(import::ImportMode::kGpsImu, ui_);
      return RunImportDialog(this, model,
                             [&] { return import::ImportGpsImuIntoProject(model, project); });
    });
    Changed();
  });
  connect(mode_, &QPushButton::clicked, this, [this] {
    manager_.ToggleInputMode();
    Refresh();
  });
  connect(table_, &QTableWidget::currentCellChanged, this, [this](int row) { ShowPreview(row); });
  connect(table_, &QTableWidget::cellDoubleClicked, this,
          [this](int row) { OpenPreviewWindow(row); });

  auto* buttons = new QHBoxLayout;
  for (QPushButton* button : {add, remove, remove_all, import, enable, disable}) {
    buttons->addWidget(button);
  }
  buttons->addStretch();
  buttons->addWidget(mode_);
  auto* splitter = new QSplitter;
  splitter->addWidget(table_);
  splitter->addWidget(preview_);
  splitter->setStretchFactor(0, 3);
  splitter->setStretchFactor(1, 2);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(buttons);
  layout->addWidget(splitter, 1);
  layout->addWidget(label_);
  Refresh();
}

std::vector<int> ImagesManagerDialog::SelectedRows() const {
  std::vector<int> rows;
  for (const QModelIndex& index : table_->selectionModel()->selectedRows()) {
    rows.push_back(index.row());
  }
  return rows;
}

void ImagesManagerDialog::Changed() {
  Refresh();
  if (on_changed) on_changed();
}

void ImagesManagerDialog::Refresh() {
  const auto rows = manager_.Rows();
  const bool check_mode = manager_.IsCheckMode();
  mode_->setText(manager_.Caption());
  table_->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    const project::ImageRow& row = rows[r];
    const std::string cells[] = {row.name,  row.gps_imu, row.var_xy, row.var_z,  row.var_op,
                                 row.var_k, row.adj_xy,  row.adj_z,  row.adj_op, row.adj_k};
    for (int c = 0; c < 10; ++c) {
      auto* item = new QTableWidgetItem(ToQt(cells[c]));
      item->setBackground(QColor(row.background, row.background, row.background));
      table_->setItem(r, c, item);
    }
  }
  for (int c = 6; c < 10; ++c) table_->setColumnHidden(c, !check_mode);
  label_->setText(ToQt(manager_.Label()));
}

void ImagesManagerDialog::ShowPreview(int row) {
  const CABAImage* image = project_.Image(row);
  if (image == nullptr) {
    preview_->setText("No image selected");
    return;
  }
  // The project's preview file, built from the image the first time.
  cv::Mat preview;
  const QImage picture = project::LoadPreviewImage(*image, &preview) ? ToQImage(preview) : QImage();
  shown_picture_ = picture;
  if (picture.isNull()) {
    preview_->setText("No preview for " + ToQt(image->Name()));
    return;
  }
  preview_->setPixmap(QPixmap::fromImage(picture.scaled(
      preview_->size() - QSize(8, 8), Qt::KeepAspectRatio, Qt::SmoothTransformation)));
}

void ImagesManagerDialog::OpenPreviewWindow(int row) {
  const CABAImage* image = project_.Image(row);
  if (image == nullptr) return;
  ShowPreview(row);
  if (!preview_window_) preview_window_ = new ImagePreviewWindow(this);
  preview_window_->Show(ToQt(image->Name()), shown_picture_);
}

}  // namespace vantri::ui
