#include "chart/EventsModel.h"

#include "base/Messages.h"
#include "chart/EventLog.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include <algorithm>
#include <climits>

namespace calorix {

TEventsModel::TEventsModel(const TFormatSettings& format, QObject* parent)
    : QAbstractTableModel(parent), FFormat(format) {}

int TEventsModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(std::min<std::size_t>(FEvents.size(), INT_MAX));
}

int TEventsModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QVariant TEventsModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount())
    return {};
  return CellText(index.row(), index.column());
}

QVariant TEventsModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
      section >= ColumnCount)
    return {};
  return LoadStr(1241 + section);
}

void TEventsModel::Follow(const std::vector<TEvent>& log) {
  const std::size_t n = FEvents.size();
  // Compared at both ends: a log replaced by another of the same length
  // (a file opened) is not taken for this one.
  const bool same =
      n == 0 || (log.size() >= n && log.front() == FEvents.front() && log[n - 1] == FEvents.back());
  if (same && log.size() == n)
    return;
  if (same && log.size() == n + 1) {
    beginInsertRows(QModelIndex(), int(n), int(n));
    FEvents.push_back(log.back());
    endInsertRows();
    return;
  }
  beginResetModel();
  FEvents.assign(log.begin(), log.end());
  endResetModel();
}

QString TEventsModel::CellText(int row, int column) const {
  const TEvent& e = Event(row);
  switch (column) {
    case Time:
      return EventTimeText(e.UtcMs);
    case Elapsed:
      return e.Elapsed ? FormatElapsed(*e.Elapsed, FFormat) : QString();
    case Source:
      return EventSourceText(e.Source);
    case Text:
      return e.Text;
    default:
      return {};
  }
}

QString TEventsModel::LineText(int row) const {
  QStringList cells;
  for (int c = 0; c < ColumnCount; ++c)
    cells << CellText(row, c);
  return cells.join(QLatin1Char('\t'));
}

TEventsView::TEventsView(QWidget* parent)
    : QAbstractScrollArea(parent), FHeader(new QHeaderView(Qt::Horizontal, this)) {
  FRowHeight = fontMetrics().height() + 4;
  setFocusPolicy(Qt::StrongFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  verticalScrollBar()->setSingleStep(1);
  // The header never hears of rows: its model has the columns only.
  auto* columns = new QStandardItemModel(0, TEventsModel::ColumnCount, FHeader);
  FHeader->setModel(columns);
  FHeader->setStretchLastSection(true);
  FHeader->setSectionsClickable(false);
  connect(FHeader, &QHeaderView::sectionResized, viewport(), qOverload<>(&QWidget::update));
  UpdateScrollBar();
}

void TEventsView::setModel(TEventsModel* model) {
  if (FModel)
    disconnect(FModel, nullptr, this, nullptr);
  FModel = model;
  FCurrent = -1;
  FFollowBottom = true;
  if (model) {
    auto* columns = static_cast<QStandardItemModel*>(FHeader->model());
    QStringList labels;
    for (int c = 0; c < TEventsModel::ColumnCount; ++c)
      labels << model->headerData(c, Qt::Horizontal).toString();
    columns->setHorizontalHeaderLabels(labels);
    const int widths[] = {
        fontMetrics().horizontalAdvance(QStringLiteral("00.00.0000 00:00:00")),
        fontMetrics().horizontalAdvance(QStringLiteral("0000:00:00")),
        fontMetrics().horizontalAdvance(QStringLiteral("remote 000.000.000.000"))};
    for (int c = 0; c < 3; ++c)
      FHeader->resizeSection(c, std::max(widths[c], FHeader->sectionSizeHint(c)) + 16);
    connect(model, &QAbstractItemModel::rowsAboutToBeInserted, this,
            [this] { FFollowBottom = AtBottom(); });
    connect(model, &QAbstractItemModel::rowsInserted, this, [this] {
      UpdateScrollBar();
      if (FFollowBottom)
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
      viewport()->update();
    });
    connect(model, &QAbstractItemModel::modelReset, this, [this] {
      FCurrent = -1;
      UpdateScrollBar();
      verticalScrollBar()->setValue(verticalScrollBar()->maximum());
      viewport()->update();
      emit CurrentChanged(-1);
    });
  }
  UpdateScrollBar();
  viewport()->update();
}

int TEventsView::RowCount() const {
  return FModel ? FModel->rowCount() : 0;
}

void TEventsView::SetCurrent(int row) {
  row = RowCount() == 0 ? -1 : std::clamp(row, 0, RowCount() - 1);
  if (row >= 0) {
    if (row < TopRow())
      verticalScrollBar()->setValue(row);
    else if (row >= TopRow() + PageRows())
      verticalScrollBar()->setValue(row - PageRows() + 1);
  }
  viewport()->update();
  if (row == FCurrent)
    return;
  FCurrent = row;
  emit CurrentChanged(row);
}

int TEventsView::TopRow() const {
  return verticalScrollBar()->value();
}

int TEventsView::PageRows() const {
  return std::max(1, viewport()->height() / FRowHeight);
}

bool TEventsView::AtBottom() const {
  return verticalScrollBar()->value() >= verticalScrollBar()->maximum();
}

QRect TEventsView::RowRect(int row) const {
  const qint64 y = (qint64(row) - TopRow()) * FRowHeight;
  return QRect(0, int(std::clamp<qint64>(y, -(1 << 24), 1 << 24)), viewport()->width(), FRowHeight);
}

int TEventsView::RowAt(int y) const {
  if (y < 0)
    return -1;
  const qint64 row = qint64(TopRow()) + y / FRowHeight;
  return row < RowCount() ? int(row) : -1;
}

void TEventsView::UpdateScrollBar() {
  QScrollBar* bar = verticalScrollBar();
  bar->setPageStep(PageRows());
  bar->setRange(0, std::max(0, RowCount() - PageRows()));
}

void TEventsView::PlaceHeader() {
  const int height = FHeader->sizeHint().height();
  setViewportMargins(0, height, 0, 0);
  const QRect v = viewport()->geometry();
  FHeader->setGeometry(v.left(), v.top() - height, v.width(), height);
}

void TEventsView::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
  const QFontMetrics metrics(font());
  const int baseline = (FRowHeight - metrics.height()) / 2 + metrics.ascent();
  const int pad = 4;
  const int first = TopRow() + std::max(0, event->rect().top() / FRowHeight);
  const qint64 last =
      std::min<qint64>(RowCount() - 1, qint64(TopRow()) + event->rect().bottom() / FRowHeight);
  for (int row = first; row <= last; ++row) {
    const QRect r = RowRect(row);
    const bool selected = row == FCurrent;
    if (selected)
      painter.fillRect(r, palette().brush(group, QPalette::Highlight));
    painter.setPen(palette().color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    for (int c = 0; c < TEventsModel::ColumnCount; ++c) {
      int x = FHeader->sectionViewportPosition(c) + pad;
      const int right = FHeader->sectionViewportPosition(c) + FHeader->sectionSize(c) - pad;
      if (c == TEventsModel::Text) {
        // The colour of the event's mark on the chart.
        const int side = metrics.ascent() - 2;
        painter.fillRect(QRect(x, r.top() + baseline - side, side, side),
                         MarkColor(MarkClassOf(FModel->Event(row).Kind)));
        x += side + pad;
      }
      if (right <= x)
        continue;
      painter.drawText(x, r.top() + baseline,
                       metrics.elidedText(FModel->CellText(row, c), Qt::ElideRight, right - x));
    }
    if (selected && hasFocus()) {
      QStyleOptionFocusRect focus;
      focus.initFrom(this);
      focus.rect = r;
      focus.backgroundColor = palette().color(group, QPalette::Highlight);
      style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
  }
}

void TEventsView::resizeEvent(QResizeEvent* event) {
  const bool bottom = AtBottom();
  QAbstractScrollArea::resizeEvent(event);
  PlaceHeader();
  UpdateScrollBar();
  if (bottom)
    verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void TEventsView::keyPressEvent(QKeyEvent* event) {
  if (event == QKeySequence::Copy) {
    if (FModel && FCurrent >= 0)
      QApplication::clipboard()->setText(FModel->LineText(FCurrent));
    return event->accept();
  }
  const int current = FCurrent >= 0 ? FCurrent : TopRow() - 1;
  switch (event->key()) {
    case Qt::Key_Up:
      SetCurrent(std::max(0, current - 1));
      break;
    case Qt::Key_Down:
      SetCurrent(current + 1);
      break;
    case Qt::Key_PageUp:
      SetCurrent(std::max(0, current - PageRows()));
      break;
    case Qt::Key_PageDown:
      SetCurrent(current + PageRows());
      break;
    case Qt::Key_Home:
      SetCurrent(0);
      break;
    case Qt::Key_End:
      SetCurrent(RowCount() - 1);
      break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      if (FCurrent >= 0)
        emit Activated(FCurrent);
      break;
    default:
      return QAbstractScrollArea::keyPressEvent(event);
  }
  event->accept();
}

void TEventsView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton)
    return QAbstractScrollArea::mousePressEvent(event);
  const int row = RowAt(event->position().toPoint().y());
  if (row >= 0)
    SetCurrent(row);
  event->accept();
}

void TEventsView::mouseDoubleClickEvent(QMouseEvent* event) {
  const int row = RowAt(event->position().toPoint().y());
  if (event->button() == Qt::LeftButton && row >= 0)
    emit Activated(row);
  event->accept();
}

void TEventsView::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();
}

void TEventsView::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  viewport()->update();
}

}  // namespace calorix
