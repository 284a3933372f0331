#include "ui/setup_dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "aat/srtm.h"
#include "project/quality_thresholds.h"
#include "project/settings_window.h"
#include "ui/qt_user_interface.h"

namespace vantri::ui {

namespace {

QDialogButtonBox* OkCancel(QDialog* dialog) {
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->button(QDialogButtonBox::Ok)->setObjectName("ok");
  buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancel");
  QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
  return buttons;
}

// --- Process settings grid
// -------------------------------------------------------------------

class SettingsDialog : public QDialog {
 public:
  SettingsDialog(QWidget* parent, project::SettingsWindowModel& model)
      : QDialog(parent), model_(model) {
    setObjectName("settings_dialog");
    setWindowTitle("Process settings");
    resize(860, 820);
    table_ = new QTableWidget(0, 2);
    table_->setObjectName("grid");
    table_->setHorizontalHeaderLabels({"Property", "Value"});
    table_->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 10);
    description_ = new QLabel;
    description_->setObjectName("description");
    description_->setWordWrap(true);
    description_->setMinimumHeight(48);
    auto* alphabetical = new QCheckBox("Sort Alphabetical");
    alphabetical->setObjectName("alphabetical");
    auto* restore = new QPushButton("Restore");
    restore->setObjectName("restore");
    auto* buttons = OkCancel(this);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
      if (model_.Ok()) accept();
    });
    connect(alphabetical, &QCheckBox::toggled, this, [this](bool on) {
      model_.SetAlphabetical(on);
      Fill();
    });
    connect(restore, &QPushButton::clicked, this, [this] {
      model_.Restore();
      Fill();
    });
    connect(table_, &QTableWidget::cellChanged, this, [this](int row, int column) {
      if (filling_ || column != 1) return;
      const std::string property = FromQt(table_->item(row, 0)->text());
      model_.SetValue(property, FromQt(table_->item(row, 1)->text()));
      // The grid is rebuilt after the edit's signal has returned.
      QMetaObject::invokeMethod(
          this, [this] { Fill(); }, Qt::QueuedConnection);
    });
    connect(table_, &QTableWidget::currentCellChanged, this, [this](int row) {
      description_->setText(row >= 0 && row < static_cast<int>(descriptions_.size())
                                ? descriptions_[row]
                                : QString());
    });
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(alphabetical);
    bottom->addWidget(restore);
    bottom->addStretch();
    bottom->addWidget(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(table_);
    layout->addWidget(description_);
    layout->addLayout(bottom);
    Fill();
  }

 private:
  void Fill() {
    filling_ = true;
    const int current = table_->currentRow();
    const auto rows = model_.Rows();
    table_->clearContents();
    table_->clearSpans();
    table_->setRowCount(static_cast<int>(rows.size()));
    descriptions_.clear();
    QFont bold = font();
    bold.setBold(true);
    for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
      const auto& row = rows[r];
      descriptions_.push_back(ToQt(row.description));
      if (row.is_group) {
        auto* item = new QTableWidgetItem(ToQt(row.group));
        item->setFont(bold);
        item->setFlags(Qt::ItemIsEnabled);
        item->setBackground(QColor(225, 225, 230));
        table_->setItem(r, 0, item);
        table_->setSpan(r, 0, 1, 2);
        continue;
      }
      auto* name = new QTableWidgetItem(ToQt(row.property));
      name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
      table_->setItem(r, 0, name);
      auto* value = new QTableWidgetItem(ToQt(row.value));
      if (row.modified) value->setFont(bold);
      table_->setItem(r, 1, value);
      if (!row.choices.empty()) {
        auto* combo = new QComboBox;
        for (const std::string& choice : row.choices) combo->addItem(ToQt(choice));
        combo->setCurrentText(ToQt(row.value));
        const std::string property = row.property;
        connect(combo, &QComboBox::textActivated, this, [this, property](const QString& text) {
          model_.SetValue(property, FromQt(text));
          QMetaObject::invokeMethod(
              this, [this] { Fill(); }, Qt::QueuedConnection);
        });
        table_->setCellWidget(r, 1, combo);
      }
    }
    // The first property is current at opening so that its description shows.
    table_->setCurrentCell(current >= 0 ? current : (rows.size() > 1 ? 1 : -1), 1);
    filling_ = false;
  }

  project::SettingsWindowModel& model_;
  QTableWidget* table_;
  QLabel* description_;
  std::vector<QString> descriptions_;
  bool filling_ = false;
};

// --- Thresholds
// ------------------------------------------------------------------------------

class ThresholdsDialog : public QDialog {
 public:
  ThresholdsDialog(QWidget* parent, UserInterface& ui, project::QualityThresholds* thresholds)
      : QDialog(parent) {
    setObjectName("thresholds_dialog");
    setWindowTitle("Quality thresholds");
    auto field = [](const char* name, double value) {
      auto* edit = new QLineEdit(QString::number(value));
      edit->setObjectName(name);
      edit->setMinimumWidth(120);
      return edit;
    };
    auto* tie_high = field("tie_high", thresholds->tie_points.high_threshold);
    auto* tie_middle = field("tie_middle", thresholds->tie_points.middle_threshold);
    auto* gcp_high = field("gcp_high", thresholds->gcps.high_threshold);
    auto* gcp_middle = field("gcp_middle", thresholds->gcps.middle_threshold);
    auto* tie_box = new QGroupBox("Tie points (pixels)");
    auto* tie_form = new QFormLayout(tie_box);
    tie_form->addRow("High quality up to:", tie_high);
    tie_form->addRow("Middle quality up to:", tie_middle);
    auto* gcp_box = new QGroupBox("GCP and check points (drawing units)");
    auto* gcp_form = new QFormLayout(gcp_box);
    gcp_form->addRow("High quality up to:", gcp_high);
    gcp_form->addRow("Middle quality up to:", gcp_middle);
    auto* buttons = OkCancel(this);
    connect(buttons, &QDialogButtonBox::accepted, this, [=, this, &ui] {
      if (project::CheckQualityThresholds(ui, FromQt(tie_high->text()), FromQt(tie_middle->text()),
                                          FromQt(gcp_high->text()), FromQt(gcp_middle->text()),
                                          *thresholds)) {
        accept();
      }
    });
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tie_box);
    layout->addWidget(gcp_box);
    layout->addWidget(buttons);
  }
};

// --- SRTM source
// -----------------------------------------------------------------------------

class SrtmDialog : public QDialog {
 public:
  SrtmDialog(QWidget* parent, aat::SrtmSourceDialog& model) : QDialog(parent), model_(model) {
    setObjectName("srtm_dialog");
    setWindowTitle("Select SRTM Source");
    resize(560, 360);
    folder_ = new QLineEdit;
    folder_->setObjectName("folder");
    auto* browse = new QPushButton("...");
    browse->setObjectName("browse");
    list_ = new QListWidget;
    list_->setObjectName("datasets");
    auto* remote = new QCheckBox("Use remote SRTM");
    remote->setObjectName("remote");
    remote->setEnabled(model_.RemoteEnabled());
    auto* buttons = OkCancel(this);
    connect(browse, &QPushButton::clicked, this, [this] {
      model_.ChooseFolder();
      Fill();
    });
    connect(folder_, &QLineEdit::editingFinished, this, [this] {
      model_.SetFolderText(FromQt(folder_->text()));
      Fill();
    });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
      model_.SetFolderText(FromQt(folder_->text()));
      if (model_.Ok()) accept();
    });
    auto* row = new QHBoxLayout;
    row->addWidget(new QLabel("SRTM folder:"));
    row->addWidget(folder_, 1);
    row->addWidget(browse);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(new QLabel("Elevation datasets in the folder:"));
    layout->addWidget(list_);
    layout->addWidget(remote);
    layout->addWidget(buttons);
    Fill();
  }

 private:
  void Fill() {
    folder_->setText(ToQt(model_.folder()));
    list_->clear();
    for (const std::string& name : model_.datasets()) list_->addItem(ToQt(name));
  }
  aat::SrtmSourceDialog& model_;
  QLineEdit* folder_;
  QListWidget* list_;
};

// --- Coordinate system
// -----------------------------------------------------------------------

void FillCombo(QComboBox* combo, const crs::ChoiceList& list) {
  const QSignalBlocker block(combo);
  combo->clear();
  for (const std::string& item : list.items) combo->addItem(ToQt(item));
  combo->setCurrentIndex(list.selection);
  combo->setEnabled(list.enabled);
}

QComboBox* NamedCombo(const char* name) {
  auto* combo = new QComboBox;
  combo->setObjectName(name);
  combo->setMinimumWidth(360);
  combo->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  return combo;
}

class CoordinateSystemDialog : public QDialog {
 public:
  CoordinateSystemDialog(QWidget* parent, crs::CoordinateSystemWindow& window)
      : QDialog(parent), window_(window) {
    setObjectName("coordinate_system_dialog");
    setWindowTitle("Coordinate System");
    projection_ = NamedCombo("projection");
    datum_ = NamedCombo("datum");
    fuse_ = NamedCombo("fuse");
    units_ = NamedCombo("units");
    auto* form = new QFormLayout;
    form->addRow("Projection:", projection_);
    form->addRow("Datum:", datum_);
    form->addRow("Fuse:", fuse_);
    form->addRow("Units:", units_);
    auto* wkt = new QPushButton("Import from WKT file...");
    wkt->setObjectName("import_wkt");
    auto* epsg = new QPushButton("Import from EPSG code...");
    epsg->setObjectName("import_epsg");
    auto* show = new QPushButton("Show WKT String");
    show->setObjectName("show_wkt");
    auto* buttons = OkCancel(this);
    auto* tools = new QHBoxLayout;
    tools->addWidget(wkt);
    tools->addWidget(epsg);
    tools->addWidget(show);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(tools);
    layout->addWidget(buttons);
    connect(projection_, &QComboBox::textActivated, this, [this](const QString& text) {
      window_.SelectProjection(FromQt(text));
      Fill();
    });
    connect(datum_, qOverload<int>(&QComboBox::activated), this, [this](int row) {
      window_.SelectDatumRow(row);
      Fill();
    });
    connect(fuse_, &QComboBox::textActivated, this, [this](const QString& text) {
      window_.SelectFuse(FromQt(text));
      Fill();
    });
    connect(units_, &QComboBox::textActivated, this, [this](const QString& text) {
      window_.SelectUnits(FromQt(text));
      Fill();
    });
    connect(wkt, &QPushButton::clicked, this, [this] {
      window_.ImportFromWkt();
      Fill();
    });
    connect(epsg, &QPushButton::clicked, this, [this] {
      window_.ImportFromEpsg();
      Fill();
    });
    connect(show, &QPushButton::clicked, this, [this] { window_.ShowWkt(); });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
      if (window_.Ok()) accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, [this] { window_.Cancel(); });
    Fill();
  }

 private:
  void Fill() {
    FillCombo(projection_, window_.projections());
    FillCombo(datum_, window_.datums());
    FillCombo(fuse_, window_.fuses());
    FillCombo(units_, window_.units());
  }
  crs::CoordinateSystemWindow& window_;
  QComboBox *projection_, *datum_, *fuse_, *units_;
};

class CoordinateConversionDialog : public QDialog {
 public:
  CoordinateConversionDialog(QWidget* parent, crs::CoordinateConversionWindow& window)
      : QDialog(parent), window_(window) {
    setObjectName("coordinate_conversion_dialog");
    setWindowTitle("Coordinate Conversion");
    source_ = NamedCombo("source_datum");
    projection_ = NamedCombo("target_projection");
    target_ = NamedCombo("target_datum");
    fuse_ = NamedCombo("fuse");
    auto* source_box = new QGroupBox("Source: geographic coordinates (degrees)");
    auto* source_form = new QFormLayout(source_box);
    source_form->addRow("Datum:", source_);
    auto* target_box = new QGroupBox("Target: projected coordinates");
    auto* target_form = new QFormLayout(target_box);
    target_form->addRow("Projection:", projection_);
    target_form->addRow("Datum:", target_);
    target_form->addRow("Fuse:", fuse_);
    auto* estimate = new QPushButton("Estimate automatically");
    estimate->setObjectName("estimate");
    auto* buttons = OkCancel(this);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(source_box);
    layout->addWidget(target_box);
    layout->addWidget(estimate);
    layout->addWidget(buttons);
    connect(source_, &QComboBox::textActivated, this, [this](const QString& text) {
      window_.SelectSourceDatum(FromQt(text));
      Fill();
    });
    connect(projection_, &QComboBox::textActivated, this, [this](const QString& text) {
      window_.SelectTargetProjection(FromQt(text));
      Fill();
    });
    connect(target_, &QComboBox::textActivated, this, [this](const QString& text) {
      window_.SelectTargetDatum(FromQt(text));
      Fill();
    });
    connect(fuse_, &QComboBox::textActivated, this, [this](const QString& text) {
      window_.SelectFuse(FromQt(text));
      Fill();
    });
    connect(estimate, &QPushButton::clicked, this, [this] {
      window_.EstimateAutomatically();
      Fill();
    });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
      if (window_.Ok()) accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, [this] { window_.Cancel(); });
    Fill();
  }

 private:
  void Fill() {
    FillCombo(source_, window_.source_datums());
    FillCombo(projection_, window_.target_projections());
    FillCombo(target_, window_.target_datums());
    FillCombo(fuse_, window_.fuses());
  }
  crs::CoordinateConversionWindow& window_;
  QComboBox *source_, *projection_, *target_, *fuse_;
};

}  // namespace

bool RunSettingsDialog(QWidget* parent, project::SettingsWindowModel& model) {
  SettingsDialog dialog(parent, model);
  return dialog.exec() == QDialog::Accepted;
}

bool RunThresholdsDialog(QWidget* parent, UserInterface& ui,
                         project::QualityThresholds* thresholds) {
  ThresholdsDialog dialog(parent, ui, thresholds);
  return dialog.exec() == QDialog::Accepted;
}

bool RunSrtmDialog(QWidget* parent, aat::SrtmSourceDialog& model) {
  SrtmDialog dialog(parent, model);
  return dialog.exec() == QDialog::Accepted;
}

bool RunCoordinateSystemDialog(QWidget* parent, crs::CoordinateSystem& system, UserInterface& ui) {
  crs::CoordinateSystemWindow window(system, ui);
  CoordinateSystemDialog dialog(parent, window);
  const bool ok = dialog.exec() == QDialog::Accepted;
  if (!ok) window.Cancel();
  return ok;
}

void RunCoordinateConversionDialog(QWidget* parent, crs::CoordinateConversionWindow& window) {
  CoordinateConversionDialog dialog(parent, window);
  if (dialog.exec() != QDialog::Accepted) window.Cancel();
}

}  // namespace vantri::ui
