#include "ui/point_windows.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <cmath>

#include "ui/qt_user_interface.h"

namespace vantri::ui {

namespace {

// Colours are stored with red in the low byte.
QColor FromStoredColour(int32_t colour) {
  return QColor(colour & 0xFF, (colour >> 8) & 0xFF, (colour >> 16) & 0xFF);
}

QPushButton* Button(const char* text, const char* name) {
  auto* button = new QPushButton(text);
  button->setObjectName(name);
  button->setAutoDefault(false);
  return button;
}

// Colour indices of the drawing palette the marker uses: 2 yellow, 3 green.
QColor PaletteColour(int index) {
  switch (index) {
    case 1:
      return QColor(255, 0, 0);
    case 2:
      return QColor(255, 255, 0);
    case 3:
      return QColor(0, 255, 0);
    default:
      return QColor(255, 255, 255);
  }
}

bool KeypadKey(int key, points::SessionKey* session_key) {
  using points::SessionKey;
  switch (key) {
    case Qt::Key_1:
      *session_key = SessionKey::kKeypad1;
      return true;
    case Qt::Key_2:
      *session_key = SessionKey::kKeypad2;
      return true;
    case Qt::Key_3:
      *session_key = SessionKey::kKeypad3;
      return true;
    case Qt::Key_4:
      *session_key = SessionKey::kKeypad4;
      return true;
    case Qt::Key_6:
      *session_key = SessionKey::kKeypad6;
      return true;
    case Qt::Key_7:
      *session_key = SessionKey::kKeypad7;
      return true;
    case Qt::Key_8:
      *session_key = SessionKey::kKeypad8;
      return true;
    case Qt::Key_9:
      *session_key = SessionKey::kKeypad9;
      return true;
    default:
      return false;
  }
}

}  // namespace

// --- Point manager ---------------------------------------------------------------------------

PointManagerDialog::PointManagerDialog(points::PointManager& manager, QWidget* parent)
    : QDialog(parent), manager_(manager) {
  setObjectName("point_manager_dialog");
  setWindowTitle(manager_.Title());
  resize(860, 520);
  table_ = new QTableWidget;
  table_->setObjectName("points");
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->verticalHeader()->hide();
  table_->horizontalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
  count_ = new QLabel;
  count_->setObjectName("count");
  auto* import = Button("Import...", "import");
  remove_ = Button("Remove Selected", "remove");
  remove_all_ = Button("Remove All", "remove_all");
  auto* collimate = Button("Collimate...", "collimate");
  collimate->setToolTip("Measure the selected point in its images (or double-click a row)");
  auto* ok = Button("OK", "ok");

  connect(import, &QPushButton::clicked, this, [this] {
    manager_.Import([this](import::ImportMode mode, std::vector<import::SFIO_ControlPoint>* out) {
      return import_window && import_window(this, mode, out);
    });
    Refresh();
  });
  connect(remove_, &QPushButton::clicked, this, [this] {
    manager_.RemoveSelected(SelectedNames());
    Refresh();
  });
  connect(remove_all_, &QPushButton::clicked, this, [this] {
    manager_.RemoveAll();
    Refresh();
  });
  connect(collimate, &QPushButton::clicked, this, [this] {
    const std::string name = CurrentName();
    if (!name.empty() && on_collimate) on_collimate(name);
    Refresh();
  });
  connect(table_, &QTableWidget::cellDoubleClicked, this, [this](int row) {
    if (row < 0 || !on_collimate) return;
    on_collimate(FromQt(table_->item(row, 0)->data(Qt::UserRole).toString()));
    Refresh();
  });
  connect(table_, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
    if (filling_ || item->column() != 0) return;
    manager_.SetUse(FromQt(item->data(Qt::UserRole).toString()), item->checkState() == Qt::Checked);
    Refresh();
  });
  connect(table_->horizontalHeader(), &QHeaderView::customContextMenuRequested, this,
          [this](const QPoint& position) {
            const int column = table_->horizontalHeader()->logicalIndexAt(position);
            ShowVarianceMenu(column, table_->horizontalHeader()->mapToGlobal(position));
          });
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* buttons = new QHBoxLayout;
  for (QPushButton* button : {import, remove_, remove_all_, collimate}) buttons->addWidget(button);
  buttons->addStretch();
  buttons->addWidget(ok);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(table_, 1);
  layout->addWidget(count_);
  layout->addLayout(buttons);
  Refresh();
}

void PointManagerDialog::Refresh() {
  filling_ = true;
  const std::vector<std::string> columns = manager_.Columns();
  table_->clear();
  table_->setColumnCount(static_cast<int>(columns.size()));
  QStringList headers;
  for (const std::string& column : columns) headers << ToQt(column);
  table_->setHorizontalHeaderLabels(headers);
  const std::vector<points::PointRow> rows = manager_.Rows();
  table_->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    const points::PointRow& row = rows[r];
    const QColor background = FromStoredColour(row.colour);
    for (int c = 0; c < static_cast<int>(row.cells.size()); ++c) {
      auto* item = new QTableWidgetItem(ToQt(row.cells[c]));
      item->setBackground(background);
      item->setForeground(background.lightness() < 110 ? Qt::white : Qt::black);
      if (c == 0) {
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(row.use ? Qt::Checked : Qt::Unchecked);
        item->setData(Qt::UserRole, ToQt(row.name));
      } else {
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
      }
      table_->setItem(r, c, item);
    }
  }
  FitColumns();
  count_->setText(ToQt(manager_.CountLabel()));
  remove_->setEnabled(manager_.CanRemove());
  remove_all_->setEnabled(manager_.CanRemove());
  filling_ = false;
}

void PointManagerDialog::FitColumns() {
  const int width = std::max(table_->viewport()->width(), 400);
  const std::vector<int> widths = manager_.ColumnWidths(width);
  for (int c = 0; c < static_cast<int>(widths.size()); ++c) table_->setColumnWidth(c, widths[c]);
}

void PointManagerDialog::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  FitColumns();
}

void PointManagerDialog::ShowVarianceMenu(int column, const QPoint& global_position) {
  const std::vector<std::string> entries = manager_.VarianceMenu();
  const std::vector<std::string> columns = manager_.Columns();
  if (entries.empty() || column < 0 || column >= static_cast<int>(columns.size())) return;
  using Column = points::PointManager::VarianceColumn;
  Column which;
  if (columns[column] == "XY var") {
    which = Column::kXY;
  } else if (columns[column] == "Z var") {
    which = Column::kZ;
  } else {
    return;
  }
  QMenu menu(this);
  menu.setObjectName("variance_menu");
  for (const std::string& entry : entries) menu.addAction(ToQt(entry));
  QAction* chosen = menu.exec(global_position);
  if (chosen == nullptr) return;
  if (chosen == menu.actions().value(0)) {
    manager_.SetVarianceToAll(which);
  } else {
    manager_.ClearVariance(which);
  }
  Refresh();
}

std::vector<std::string> PointManagerDialog::SelectedNames() const {
  std::vector<std::string> names;
  for (const QModelIndex& index : table_->selectionModel()->selectedRows()) {
    names.push_back(FromQt(table_->item(index.row(), 0)->data(Qt::UserRole).toString()));
  }
  return names;
}

std::string PointManagerDialog::CurrentName() const {
  const int row = table_->currentRow();
  if (row < 0 || table_->item(row, 0) == nullptr) return {};
  return FromQt(table_->item(row, 0)->data(Qt::UserRole).toString());
}

// --- Collimation -------------------------------------------------------------------------------

CollimationCanvas::CollimationCanvas(points::CollimationSession& session,
                                     points::CollimationViewport& view, QWidget* parent)
    : QWidget(parent), session_(session), view_(view) {
  setObjectName("canvas");
  setFocusPolicy(Qt::StrongFocus);
  setMinimumSize(480, 360);
  setMouseTracking(true);
  setCursor(Qt::CrossCursor);
}

const QImage& CollimationCanvas::RegionImage(const points::ViewRegion& region) {
  const QString key = QString("%1 %2 %3 %4 %5 %6 %7")
                          .arg(session_.CurrentImage())
                          .arg(region.col)
                          .arg(region.row)
                          .arg(region.width)
                          .arg(region.height)
                          .arg(region.buffer_width)
                          .arg(region.buffer_height);
  if (key == cached_key_) return cached_;
  cached_key_ = key;
  cached_ = QImage();
  const points::SessionImage& image = session_.Image(session_.CurrentImage());
  const points::SessionRaster* raster =
      image.working_copy ? image.working_copy.get() : image.raster.get();
  if (raster != nullptr &&
      raster->ReadRegion(region.col, region.row, region.width, region.height, region.buffer_width,
                         region.buffer_height, &buffer_)) {
    cached_ = QImage(buffer_.data(), region.buffer_width, region.buffer_height,
                     region.buffer_width * 3, QImage::Format_RGB888)
                  .copy();
    last_read_width_ = region.width;
    last_read_height_ = region.height;
  }
  return cached_;
}

void CollimationCanvas::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), QColor(45, 45, 45));
  if (session_.ImageCount() == 0) return;
  const points::SessionImage& image = session_.Image(session_.CurrentImage());
  const points::ViewRegion region = view_.VisibleRegion(image.width, image.height);
  if (!region.IsEmpty()) {
    const QImage& picture = RegionImage(region);
    if (!picture.isNull()) {
      // Enlarged pixels stay square blocks so the operator sees what he points at.
      painter.setRenderHint(QPainter::SmoothPixmapTransform, view_.Zoom() < 1.0);
      painter.drawImage(
          QRectF(region.screen_x, region.screen_y, region.screen_width, region.screen_height),
          picture);
    }
  }
  // The marker: a cross with a gap and a circle, centred on the pixel position.
  const Eigen::Vector2d marker = view_.ImageToScreen(session_.Marker());
  const QPointF centre(marker.x(), marker.y());
  const QColor colour = PaletteColour(session_.MarkerColourIndex());
  painter.setRenderHint(QPainter::Antialiasing);
  for (const QColor& pen_colour : {QColor(0, 0, 0), colour}) {
    const double width = pen_colour == colour ? 1.5 : 3.5;
    painter.setPen(QPen(pen_colour, width));
    painter.drawLine(centre + QPointF(-18, 0), centre + QPointF(-5, 0));
    painter.drawLine(centre + QPointF(5, 0), centre + QPointF(18, 0));
    painter.drawLine(centre + QPointF(0, -18), centre + QPointF(0, -5));
    painter.drawLine(centre + QPointF(0, 5), centre + QPointF(0, 18));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(centre, 10, 10);
  }
}

void CollimationCanvas::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  view_.SetScreenSize(width(), height());
}

void CollimationCanvas::keyPressEvent(QKeyEvent* event) {
  const bool keypad = event->modifiers() & Qt::KeypadModifier;
  points::SessionKey key;
  bool handled = true;
  if (event->key() == Qt::Key_PageUp) {
    session_.HandleKey(points::SessionKey::kPageUp);
  } else if (event->key() == Qt::Key_PageDown) {
    session_.HandleKey(points::SessionKey::kPageDown);
  } else if (event->key() == Qt::Key_Delete) {
    session_.HandleKey(points::SessionKey::kDelete);
  } else if (keypad && KeypadKey(event->key(), &key)) {
    session_.HandleKey(key, view_.ImagePixelsPerScreenPixel());
  } else if (keypad && event->key() == Qt::Key_Plus) {
    view_.ZoomIn();
  } else if (keypad && event->key() == Qt::Key_Minus) {
    view_.ZoomOut();
  } else if (event->key() == Qt::Key_Insert) {
    session_.ToggleSkip();
  } else if (keypad && event->key() == Qt::Key_0) {
    view_.CentreOn(session_.Marker());
  } else {
    handled = false;
  }
  if (!handled) {
    QWidget::keyPressEvent(event);
    return;
  }
  if (on_changed) on_changed();
}

void CollimationCanvas::mousePressEvent(QMouseEvent* event) {
  setFocus();
  if (event->button() != Qt::LeftButton) return;
  const Eigen::Vector2d pixel = view_.ScreenToImage({event->pos().x(), event->pos().y()});
  if (event->modifiers() & Qt::ShiftModifier) {
    session_.Click(pixel, points::ClickModifier::kShift);
  } else if (event->modifiers() & Qt::ControlModifier) {
    session_.Click(pixel, points::ClickModifier::kCtrl);
  } else {
    dragging_ = true;
    last_mouse_ = event->pos();
    setCursor(Qt::ClosedHandCursor);
    return;
  }
  if (on_changed) on_changed();
}

void CollimationCanvas::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) return;
  const QPoint delta = event->pos() - last_mouse_;
  last_mouse_ = event->pos();
  view_.Pan(delta.x(), delta.y());
  update();
}

void CollimationCanvas::mouseReleaseEvent(QMouseEvent*) {
  if (!dragging_) return;
  dragging_ = false;
  setCursor(Qt::CrossCursor);
}

void CollimationCanvas::wheelEvent(QWheelEvent* event) {
  // Zooms about the image point under the cursor.
  const Eigen::Vector2d screen(event->position().x(), event->position().y());
  const Eigen::Vector2d before = view_.ScreenToImage(screen);
  if (event->angleDelta().y() > 0) {
    view_.ZoomIn();
  } else {
    view_.ZoomOut();
  }
  const Eigen::Vector2d after = view_.ScreenToImage(screen);
  view_.CentreOn(view_.Centre() + before - after);
  if (on_changed) on_changed();
}

CollimationWindow::CollimationWindow(points::CollimationSession& session, QWidget* parent)
    : QDialog(parent), session_(session) {
  setObjectName("collimation_window");
  setWindowTitle(ToQt(session_.WindowTitle()));
  resize(1000, 780);
  image_line_ = new QLabel;
  image_line_->setObjectName("image_line");
  QFont bold = image_line_->font();
  bold.setBold(true);
  image_line_->setFont(bold);
  marker_line_ = new QLabel;
  marker_line_->setObjectName("marker_line");
  canvas_ = new CollimationCanvas(session_, view_, this);
  canvas_->on_changed = [this] { Refresh(); };
  auto* help = new QLabel(
      "Shift+click: place the point   Ctrl+click / Delete: not measured   Keypad 1-9: move by one "
      "screen pixel   Page Up/Down: previous/next image   Insert: skip image   Wheel, keypad +/-: "
      "zoom   Drag: pan");
  help->setWordWrap(true);
  help->setObjectName("help");

  auto* previous = Button("< Previous", "previous");
  auto* next = Button("Next >", "next");
  auto* skip = Button("Skip Image", "skip");
  auto* zoom_in = Button("Zoom In", "zoom_in");
  auto* zoom_out = Button("Zoom Out", "zoom_out");
  auto* one_to_one = Button("1:1", "one_to_one");
  auto* ok = Button("OK", "ok");
  auto* cancel = Button("Cancel", "cancel");
  connect(previous, &QPushButton::clicked, this, [this] {
    session_.PreviousImage();
    Refresh();
  });
  connect(next, &QPushButton::clicked, this, [this] {
    session_.NextImage();
    Refresh();
  });
  connect(skip, &QPushButton::clicked, this, [this] {
    session_.ToggleSkip();
    Refresh();
  });
  connect(zoom_in, &QPushButton::clicked, this, [this] {
    view_.ZoomIn();
    Refresh();
  });
  connect(zoom_out, &QPushButton::clicked, this, [this] {
    view_.ZoomOut();
    Refresh();
  });
  connect(one_to_one, &QPushButton::clicked, this, [this] {
    view_.SetZoom(1.0);
    view_.CentreOn(session_.Marker());
    Refresh();
  });
  connect(ok, &QPushButton::clicked, this, &CollimationWindow::accept);
  connect(cancel, &QPushButton::clicked, this, &CollimationWindow::reject);

  auto* top = new QHBoxLayout;
  top->addWidget(image_line_, 1);
  top->addWidget(marker_line_);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* button : {previous, next, skip}) buttons->addWidget(button);
  buttons->addSpacing(20);
  for (QPushButton* button : {zoom_in, zoom_out, one_to_one}) buttons->addWidget(button);
  buttons->addStretch();
  buttons->addWidget(ok);
  buttons->addWidget(cancel);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(canvas_, 1);
  layout->addWidget(help);
  layout->addLayout(buttons);
  view_.SetZoom(1.0);
  ShowCurrentImage();
  canvas_->setFocus();
}

void CollimationWindow::ShowCurrentImage() {
  shown_image_ = session_.CurrentImage();
  view_.CentreOn(session_.Marker());
  canvas_->Invalidate();
}

void CollimationWindow::Refresh() {
  if (session_.CurrentImage() != shown_image_) ShowCurrentImage();
  image_line_->setText(ToQt(session_.ImageLine()));
  if (session_.ImageCount() > 0) {
    const Eigen::Vector2d marker = session_.Marker();
    const bool measured = session_.MarkerColourIndex() == points::kMeasuredColourIndex;
    marker_line_->setText(QString("%1  x %2  y %3   zoom %4")
                              .arg(measured ? "measured" : "not measured")
                              .arg(marker.x(), 0, 'f', 2)
                              .arg(marker.y(), 0, 'f', 2)
                              .arg(view_.Zoom() >= 1.0 ? QString("%1:1").arg(view_.Zoom())
                                                       : QString("1:%1").arg(1.0 / view_.Zoom())));
  }
  canvas_->update();
}

void CollimationWindow::accept() {
  session_.Ok();
  QDialog::accept();
}

void CollimationWindow::reject() {
  session_.Cancel();
  QDialog::reject();
}

bool RunCollimationWindow(QWidget* parent, points::CollimationSession& session) {
  CollimationWindow window(session, parent);
  window.Refresh();
  return window.exec() == QDialog::Accepted;
}

}  // namespace vantri::ui
