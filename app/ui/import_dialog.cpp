#include "ui/import_dialog.h"

#include <QComboBox>
#include <QDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QTableWidget>
#include <QVBoxLayout>

#include "import/project_import.h"
#include "ui/qt_user_interface.h"
#include "ui/setup_dialogs.h"

namespace vantri::ui {

namespace {

QPushButton* Button(const char* text, const char* name) {
  auto* button = new QPushButton(text);
  button->setObjectName(name);
  return button;
}

class ImportDialog : public QDialog {
 public:
  ImportDialog(QWidget* parent, import::PointImportModel& model, std::function<int()> run_import)
      : QDialog(parent), model_(model), import_(std::move(run_import)) {
    setObjectName("import_dialog");
    setWindowTitle(ToQt(model_.Title()));
    resize(1100, 700);
    file_ = new QLineEdit;
    file_->setObjectName("file");
    file_->setReadOnly(true);
    comments_ = new QLineEdit(ToQt(model_.comments()));
    comments_->setObjectName("comments");
    separators_ = new QLineEdit(ToQt(model_.separators()));
    separators_->setObjectName("separators");
    parsed_ = new QTableWidget;
    parsed_->setObjectName("parsed");
    parsed_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    assignments_ = new QWidget;
    assignments_->setObjectName("assignments");
    new QHBoxLayout(assignments_);
    target_ = new QTableWidget;
    target_->setObjectName("target");
    target_->setSelectionBehavior(QAbstractItemView::SelectRows);
    target_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    auto* browse = Button("Browse...", "browse");
    auto* select_all = Button("Select all", "select_all");
    auto* unselect_all = Button("Unselect all", "unselect_all");
    auto* convert = Button("Coordinate Conversion...", "convert");
    auto* save_as = Button("Save As..", "save_as");
    auto* run = Button("Import", "import");
    auto* cancel = Button("Cancel", "cancel");

    connect(browse, &QPushButton::clicked, this, [this] {
      model_.Browse();
      Fill();
    });
    connect(comments_, &QLineEdit::editingFinished, this, [this] {
      model_.SetComments(FromQt(comments_->text()));
      Fill();
    });
    connect(separators_, &QLineEdit::editingFinished, this, [this] {
      model_.SetSeparators(FromQt(separators_->text()));
      Fill();
    });
    connect(select_all, &QPushButton::clicked, this, [this] {
      model_.SelectAll();
      ShowSelection();
    });
    connect(unselect_all, &QPushButton::clicked, this, [this] {
      model_.UnselectAll();
      ShowSelection();
    });
    connect(target_, &QTableWidget::itemSelectionChanged, this, [this] {
      if (filling_) return;
      for (int r = 0; r < target_->rowCount(); ++r) {
        model_.SelectRow(r, target_->selectionModel()->isRowSelected(r, QModelIndex()));
      }
    });
    connect(target_, &QTableWidget::cellChanged, this, [this](int row, int column) {
      if (filling_) return;
      model_.SetCell(row, column, FromQt(target_->item(row, column)->text()));
    });
    target_->horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(target_->horizontalHeader(), &QHeaderView::customContextMenuRequested, this,
            [this](const QPoint& at) {
              ColumnMenu(target_->horizontalHeader()->logicalIndexAt(at),
                         target_->horizontalHeader()->mapToGlobal(at));
            });
    connect(target_->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int column) { ColumnMenu(column, QCursor::pos()); });
    connect(convert, &QPushButton::clicked, this, [this] {
      import::WindowCoordinateConversion conversion(
          model_.ui(), [this](crs::CoordinateConversionWindow& window) {
            RunCoordinateConversionDialog(this, window);
    });
    model_.ConvertCoordinates(conversion);
    Fill();
  });
  connect(save_as, &QPushButton::clicked, this, [this] { model_.SaveAs(); });
  connect(run, &QPushButton::clicked, this, [this] {
    if (import_()) accept();
  });
  connect(cancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* file_row = new QHBoxLayout;
  file_row->addWidget(new QLabel("File:"));
  file_row->addWidget(file_, 1);
  file_row->addWidget(browse);
  auto* options = new QHBoxLayout;
  options->addWidget(new QLabel("Comments:"));
  options->addWidget(comments_);
  options->addWidget(new QLabel("Separators:"));
  options->addWidget(separators_);
  options->addStretch();
  auto* selection = new QHBoxLayout;
  selection->addWidget(select_all);
  selection->addWidget(unselect_all);
  selection->addStretch();
  selection->addWidget(convert);
  selection->addWidget(save_as);
  selection->addWidget(run);
  selection->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(file_row);
  layout->addLayout(options);
  layout->addWidget(new QLabel("File contents: assign each column to a field"));
  layout->addWidget(assignments_);
  layout->addWidget(parsed_, 2);
  layout->addWidget(new QLabel("Data to import (click a column header for its commands)"));
  layout->addWidget(target_, 3);
  layout->addLayout(selection);
  Fill();
}

private : void
          ColumnMenu(int column, const QPoint& where) {
  if (column < 0) return;
  QMenu menu(this);
  for (const std::string& entry : model_.ColumnMenu(column)) {
    if (entry.empty()) {
      menu.addSeparator();
    } else {
      menu.addAction(ToQt(entry));
    }
  }
  if (QAction* chosen = menu.exec(where)) {
    model_.RunColumnCommand(column, FromQt(chosen->text()));
    Fill();
  }
}

void FillAssignments() {
  QLayout* layout = assignments_->layout();
  while (QLayoutItem* item = layout->takeAt(0)) {
    delete item->widget();
    delete item;
  }
  std::vector<std::string> entries;
  for (const std::string& entry : model_.AssignmentMenu()) {
    if (!entry.empty()) entries.push_back(entry);
  }
  for (int source = 0; source < model_.parsed_column_count(); ++source) {
    auto* combo = new QComboBox;
    combo->setObjectName(QString("assign_%1").arg(source));
    combo->addItem(QString("Column %1").arg(source + 1));
    for (const std::string& entry : entries) combo->addItem(ToQt(entry));
    for (size_t t = 0; t < model_.target_columns().size(); ++t) {
      if (model_.AssignedSource(static_cast<int>(t)) == source) {
        combo->setCurrentText(ToQt("-> " + model_.target_columns()[t]));
      }
    }
    connect(combo, &QComboBox::textActivated, this, [this, source](const QString& text) {
      if (model_.ChooseAssignment(source, FromQt(text))) {
        QMetaObject::invokeMethod(
            this, [this] { Fill(); }, Qt::QueuedConnection);
      }
    });
    layout->addWidget(combo);
  }
  static_cast<QHBoxLayout*>(layout)->addStretch();
}

void Fill() {
  filling_ = true;
  file_->setText(ToQt(model_.file_path()));
  const auto& parsed = model_.parsed_rows();
  parsed_->clear();
  parsed_->setColumnCount(model_.parsed_column_count());
  QStringList headers;
  for (int c = 0; c < model_.parsed_column_count(); ++c) {
    headers << import::PointImportModel::kParsedColumnHeader;
  }
  parsed_->setHorizontalHeaderLabels(headers);
  parsed_->setRowCount(static_cast<int>(parsed.size()));
  for (int r = 0; r < static_cast<int>(parsed.size()); ++r) {
    for (int c = 0; c < static_cast<int>(parsed[r].size()); ++c) {
      parsed_->setItem(r, c, new QTableWidgetItem(ToQt(parsed[r][c])));
    }
  }
  const auto& columns = model_.target_columns();
  QStringList titles;
  for (const std::string& title : columns) titles << ToQt(title);
  target_->clear();
  target_->setColumnCount(static_cast<int>(columns.size()));
  target_->setHorizontalHeaderLabels(titles);
  const auto& rows = model_.target_rows();
  target_->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    for (int c = 0; c < static_cast<int>(rows[r].size()); ++c) {
      target_->setItem(r, c, new QTableWidgetItem(ToQt(rows[r][c])));
    }
  }
  target_->resizeColumnsToContents();
  parsed_->resizeColumnsToContents();
  FillAssignments();
  filling_ = false;
  ShowSelection();
}

void ShowSelection() {
  filling_ = true;
  target_->clearSelection();
  for (int r = 0; r < target_->rowCount(); ++r) {
    if (model_.IsSelected(r)) {
      target_->selectionModel()->select(target_->model()->index(r, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
  }
  filling_ = false;
}

import::PointImportModel& model_;
std::function<int()> import_;
QLineEdit *file_, *comments_, *separators_;
QTableWidget *parsed_, *target_;
QWidget* assignments_;
bool filling_ = false;
};

}  // namespace

bool RunImportDialog(QWidget* parent, import::PointImportModel& model,
                     const std::function<int()>& run_import) {
  ImportDialog dialog(parent, model, run_import);
  return dialog.exec() == QDialog::Accepted;
}

}  // namespace vantri::ui
