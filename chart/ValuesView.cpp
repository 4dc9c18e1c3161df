#include "chart/ValuesModel.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include <algorithm>
#include <climits>
#include <unordered_map>

namespace calorix {

namespace {

// Adds r to sorted, disjoint ranges, merging what overlaps or touches it.
void AddRange(std::vector<TRowRange>& ranges, TRowRange r) {
  auto it = std::lower_bound(ranges.begin(), ranges.end(), r.First,
                             [](const TRowRange& a, int first) { return a.Last + 1 < first; });
  auto end = it;
  while (end != ranges.end() && end->First <= r.Last + 1) {
    r.First = std::min(r.First, end->First);
    r.Last = std::max(r.Last, end->Last);
    ++end;
  }
  *ranges.insert(ranges.erase(it, end), r) = r;
}

// The range holding row, or end.
std::vector<TRowRange>::const_iterator Holding(const std::vector<TRowRange>& ranges, int row) {
  auto it = std::lower_bound(ranges.begin(), ranges.end(), row,
                             [](const TRowRange& a, int r) { return a.Last < r; });
  return it != ranges.end() && it->First <= row ? it : ranges.end();
}

}  // namespace

void TRowSelection::Pick(int row) {
  FFixed.clear();
  FAnchor = FCurrent = row;
  FStretching = true;
}

void TRowSelection::Toggle(int row) {
  Commit();
  const auto it = Holding(FFixed, row);
  if (it == FFixed.end()) {
    AddRange(FFixed, {row, row});
  } else {
    const TRowRange r = *it;
    auto at = FFixed.erase(it);
    if (row < r.Last)
      at = FFixed.insert(at, {row + 1, r.Last});
    if (r.First < row)
      FFixed.insert(at, {r.First, row - 1});
  }
  FAnchor = FCurrent = row;
}

void TRowSelection::Extend(int row, bool keep) {
  if (!keep)
    FFixed.clear();
  if (FAnchor < 0)
    FAnchor = row;
  FCurrent = row;
  FStretching = true;
}

void TRowSelection::MoveCurrent(int row) {
  Commit();
  FAnchor = FCurrent = row;
}

void TRowSelection::SelectAll(int count) {
  FFixed.clear();
  FStretching = false;
  if (count > 0)
    FFixed.push_back({0, count - 1});
}

void TRowSelection::Clear() {
  *this = TRowSelection();
}

void TRowSelection::RowsInserted(int first, int count) {
  const auto shift = [&](int& row) {
    if (row >= first)
      row += count;
  };
  for (TRowRange& r : FFixed) {
    shift(r.First);
    shift(r.Last);
  }
  shift(FAnchor);
  shift(FCurrent);
}

bool TRowSelection::Contains(int row) const {
  if (FStretching) {
    const TRowRange s = Stretch();
    if (s.First <= row && row <= s.Last)
      return true;
  }
  return Holding(FFixed, row) != FFixed.end();
}

std::vector<TRowRange> TRowSelection::Ranges() const {
  std::vector<TRowRange> out = FFixed;
  if (FStretching)
    AddRange(out, Stretch());
  return out;
}

TRowRange TRowSelection::Stretch() const {
  return {std::min(FAnchor, FCurrent), std::max(FAnchor, FCurrent)};
}

void TRowSelection::Commit() {
  if (FStretching)
    AddRange(FFixed, Stretch());
  FStretching = false;
}

namespace {

// What assistive technology reads: a table of one column, a cell per line.
// Cells are made when asked for and dropped when the record is reset.
class TValuesCell final : public QAccessibleInterface, public QAccessibleTableCellInterface {
 public:
  TValuesCell(TValuesView* view, int row) : FView(view), FRow(row) {}

  bool isValid() const override { return FView && FView->Model() && FRow < Rows(); }
  QObject* object() const override { return nullptr; }
  QAccessibleInterface* parent() const override {
    return QAccessible::queryAccessibleInterface(FView.data());
  }
  QAccessibleInterface* child(int) const override { return nullptr; }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }
  QString text(QAccessible::Text t) const override {
    return t == QAccessible::Name && isValid() ? FView->Model()->LineText(std::size_t(FRow))
                                               : QString();
  }
  void setText(QAccessible::Text, const QString&) override {}
  QRect rect() const override {
    if (!isValid())
      return {};
    const QRect r = FView->RowRect(FRow);
    return QRect(FView->viewport()->mapToGlobal(r.topLeft()), r.size());
  }
  QAccessible::Role role() const override { return QAccessible::Cell; }
  QAccessible::State state() const override {
    QAccessible::State s;
    s.selectable = true;
    s.multiSelectable = true;
    s.extSelectable = true;
    if (!isValid())
      return s;
    s.selected = FView->Selection().Contains(FRow);
    s.focused = FView->hasFocus() && FView->Selection().Current() == FRow;
    s.offscreen = !FView->viewport()->rect().intersects(FView->RowRect(FRow));
    return s;
  }
  void* interface_cast(QAccessible::InterfaceType t) override {
    return t == QAccessible::TableCellInterface ? static_cast<QAccessibleTableCellInterface*>(this)
                                                : nullptr;
  }

  bool isSelected() const override { return isValid() && FView->Selection().Contains(FRow); }
  QList<QAccessibleInterface*> columnHeaderCells() const override { return {}; }
  QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
  int columnIndex() const override { return 0; }
  int rowIndex() const override { return FRow; }
  int columnExtent() const override { return 1; }
  int rowExtent() const override { return 1; }
  QAccessibleInterface* table() const override { return parent(); }

 private:
  int Rows() const { return FView->Model()->rowCount(); }

  QPointer<TValuesView> FView;
  int FRow;
};

class TValuesAccessible final : public QAccessibleWidget, public QAccessibleTableInterface {
 public:
  explicit TValuesAccessible(TValuesView* view) : QAccessibleWidget(view, QAccessible::Table) {}
  ~TValuesAccessible() override { DropCells(); }

  void* interface_cast(QAccessible::InterfaceType t) override {
    if (t == QAccessible::TableInterface)
      return static_cast<QAccessibleTableInterface*>(this);
    return QAccessibleWidget::interface_cast(t);
  }
  int childCount() const override { return rowCount(); }
  QAccessibleInterface* child(int index) const override { return cellAt(index, 0); }
  int indexOfChild(const QAccessibleInterface* child) const override {
    const QAccessibleTableCellInterface* cell =
        child ? const_cast<QAccessibleInterface*>(child)->tableCellInterface() : nullptr;
    return cell && child->parent() == this ? cell->rowIndex() : -1;
  }
  QAccessibleInterface* childAt(int x, int y) const override {
    const QPoint p = View()->viewport()->mapFromGlobal(QPoint(x, y));
    return View()->viewport()->rect().contains(p) ? cellAt(View()->RowAt(p.y()), 0) : nullptr;
  }

  QAccessibleInterface* caption() const override { return nullptr; }
  QAccessibleInterface* summary() const override { return nullptr; }
  QAccessibleInterface* cellAt(int row, int column) const override {
    if (column != 0 || row < 0 || row >= rowCount())
      return nullptr;
    if (auto it = FCells.find(row); it != FCells.end())
      return QAccessible::accessibleInterface(it->second);
    auto* cell = new TValuesCell(View(), row);
    FCells.emplace(row, QAccessible::registerAccessibleInterface(cell));
    return cell;
  }
  int selectedCellCount() const override { return selectedRowCount(); }
  QList<QAccessibleInterface*> selectedCells() const override {
    QList<QAccessibleInterface*> cells;
    for (int row : selectedRows())
      cells.append(cellAt(row, 0));
    return cells;
  }
  QString columnDescription(int) const override { return {}; }
  QString rowDescription(int) const override { return {}; }
  int columnCount() const override { return 1; }
  int rowCount() const override { return View()->Model() ? View()->Model()->rowCount() : 0; }
  int selectedColumnCount() const override { return 0; }
  int selectedRowCount() const override {
    qint64 n = 0;
    for (const TRowRange& r : View()->Selection().Ranges())
      n += qint64(std::min(r.Last, rowCount() - 1)) - r.First + 1;
    return int(std::clamp<qint64>(n, 0, INT_MAX));
  }
  QList<int> selectedColumns() const override { return {}; }
  QList<int> selectedRows() const override {
    QList<int> rows;
    for (const TRowRange& r : View()->Selection().Ranges())
      for (int row = r.First; row <= r.Last && row < rowCount() && rows.size() < kListed; ++row)
        rows.append(row);
    return rows;
  }
  bool isColumnSelected(int) const override { return false; }
  bool isRowSelected(int row) const override { return View()->Selection().Contains(row); }
  bool selectRow(int) override { return false; }
  bool selectColumn(int) override { return false; }
  bool unselectRow(int) override { return false; }
  bool unselectColumn(int) override { return false; }
  void modelChange(QAccessibleTableModelChangeEvent* event) override {
    if (event->modelChangeType() == QAccessibleTableModelChangeEvent::ModelReset)
      DropCells();
  }

 private:
  // Lists of selected rows are cut short: Ctrl+A over a long record would
  // otherwise make a cell per line.
  static constexpr qsizetype kListed = 10'000;
  TValuesView* View() const { return static_cast<TValuesView*>(widget()); }
  void DropCells() {
    for (const auto& [row, id] : FCells)
      QAccessible::deleteAccessibleInterface(id);
    FCells.clear();
  }

  mutable std::unordered_map<int, QAccessible::Id> FCells;
};

QAccessibleInterface* ValuesAccessibleFactory(const QString&, QObject* object) {
  if (auto* view = qobject_cast<TValuesView*>(object))
    return new TValuesAccessible(view);
  return nullptr;
}

}  // namespace

TValuesView::TValuesView(QWidget* parent) : QAbstractScrollArea(parent) {
  static const bool installed = (QAccessible::installFactory(ValuesAccessibleFactory), true);
  Q_UNUSED(installed);
  QFont font(QStringLiteral("Courier New"));
  font.setStyleHint(QFont::TypeWriter);
  font.setPixelSize(13);
  font.setBold(true);
  setFont(font);
  FRowHeight = QFontMetrics(font).height() + 2;
  setFocusPolicy(Qt::StrongFocus);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  verticalScrollBar()->setSingleStep(1);
  UpdateScrollBar();
}

void TValuesView::setModel(TValuesModel* model) {
  if (FModel)
    disconnect(FModel, nullptr, this, nullptr);
  FModel = model;
  FSelection.Clear();
  FFollowBottom = true;
  if (model) {
    connect(model, &QAbstractItemModel::rowsAboutToBeInserted, this,
            [this] { FFollowBottom = AtBottom(); });
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex&, int first, int last) {
              const int top = TopRow();
              FSelection.RowsInserted(first, last - first + 1);
              UpdateScrollBar();
              if (FFollowBottom)
                ScrollToBottom();
              else if (first < top)  // the lines in view stay in view
                verticalScrollBar()->setValue(top + last - first + 1);
              viewport()->update();
              NotifyAccessibility(QAccessibleTableModelChangeEvent::RowsInserted, first, last);
            });
    connect(model, &QAbstractItemModel::modelReset, this, [this] {
      FSelection.Clear();
      UpdateScrollBar();
      verticalScrollBar()->setValue(0);
      viewport()->update();
      NotifyAccessibility(QAccessibleTableModelChangeEvent::ModelReset, -1, -1);
    });
  }
  UpdateScrollBar();
  viewport()->update();
  NotifyAccessibility(QAccessibleTableModelChangeEvent::ModelReset, -1, -1);
}

QString TValuesView::SelectedText() const {
  return FModel ? FModel->SelectedText(FSelection.Ranges()) : QString();
}

void TValuesView::CopySelection() const {
  const QString text = SelectedText();
  if (!text.isEmpty())
    QApplication::clipboard()->setText(text);
}

int TValuesView::RowCount() const {
  return FModel ? FModel->rowCount() : 0;
}

int TValuesView::TopRow() const {
  return verticalScrollBar()->value();
}

int TValuesView::PageRows() const {
  return std::max(1, viewport()->height() / FRowHeight);
}

bool TValuesView::AtBottom() const {
  return verticalScrollBar()->value() >= verticalScrollBar()->maximum();
}

void TValuesView::ScrollToBottom() {
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

QRect TValuesView::RowRect(int row) const {
  // 64-bit: rows far from the top lie beyond the int range of pixels.
  const qint64 y = (qint64(row) - TopRow()) * FRowHeight;
  return QRect(0, int(std::clamp<qint64>(y, -(1 << 24), 1 << 24)), viewport()->width(), FRowHeight);
}

int TValuesView::RowAt(int y) const {
  if (y < 0)
    return -1;
  const qint64 row = qint64(TopRow()) + y / FRowHeight;
  return row < RowCount() ? int(row) : -1;
}

void TValuesView::UpdateScrollBar() {
  QScrollBar* bar = verticalScrollBar();
  bar->setPageStep(PageRows());
  bar->setRange(0, std::max(0, RowCount() - PageRows()));
}

void TValuesView::EnsureVisible(int row) {
  if (row < TopRow())
    verticalScrollBar()->setValue(row);
  else if (row >= TopRow() + PageRows())
    verticalScrollBar()->setValue(row - PageRows() + 1);
}

void TValuesView::SelectionChanged() {
  EnsureVisible(FSelection.Current());
  viewport()->update();
}

void TValuesView::NotifyAccessibility(int change, int first, int last) {
  if (!QAccessible::isActive())
    return;
  QAccessibleTableModelChangeEvent event(this,
                                         QAccessibleTableModelChangeEvent::ModelChangeType(change));
  event.setFirstRow(first);
  event.setLastRow(last);
  QAccessible::updateAccessibility(&event);
}

void TValuesView::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  const int rows = RowCount();
  const int top = TopRow();
  const QPalette::ColorGroup group = hasFocus() ? QPalette::Active : QPalette::Inactive;
  const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
  const QFontMetrics metrics(font());
  const int baseline = (FRowHeight - metrics.height()) / 2 + metrics.ascent();
  const int first = top + std::max(0, event->rect().top() / FRowHeight);
  const qint64 last = std::min<qint64>(rows - 1, qint64(top) + event->rect().bottom() / FRowHeight);
  for (int row = first; row <= last; ++row) {
    const QRect r = RowRect(row);
    const bool selected = FSelection.Contains(row);
    if (selected)
      painter.fillRect(r, palette().brush(group, QPalette::Highlight));
    painter.setPen(palette().color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    // At a baseline: no text layout per line, the lines are short.
    painter.drawText(margin, r.top() + baseline, FModel->LineText(std::size_t(row)));
    if (row == FSelection.Current() && hasFocus()) {
      QStyleOptionFocusRect focus;
      focus.initFrom(this);
      focus.rect = r;
      focus.backgroundColor =
          palette().color(group, selected ? QPalette::Highlight : QPalette::Base);
      style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &painter, this);
    }
  }
}

void TValuesView::resizeEvent(QResizeEvent* event) {
  const bool bottom = AtBottom();
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBar();
  if (bottom)
    ScrollToBottom();
}

void TValuesView::keyPressEvent(QKeyEvent* event) {
  if (event == QKeySequence::Copy) {
    CopySelection();
    return event->accept();
  }
  const int rows = RowCount();
  if (event == QKeySequence::SelectAll) {
    FSelection.SelectAll(rows);
    viewport()->update();
    return event->accept();
  }
  const int current = FSelection.Current() >= 0 ? FSelection.Current() : TopRow();
  int target;
  switch (event->key()) {
    case Qt::Key_Up:
      target = current - 1;
      break;
    case Qt::Key_Down:
      target = current + 1;
      break;
    case Qt::Key_PageUp:
      target = current - PageRows();
      break;
    case Qt::Key_PageDown:
      target = current + PageRows();
      break;
    case Qt::Key_Home:
      target = 0;
      break;
    case Qt::Key_End:
      target = rows - 1;
      break;
    case Qt::Key_Space:
      if (event->modifiers() & Qt::ControlModifier && rows > 0) {
        FSelection.Toggle(std::min(current, rows - 1));
        SelectionChanged();
        return event->accept();
      }
      [[fallthrough]];
    default:
      return QAbstractScrollArea::keyPressEvent(event);
  }
  if (rows == 0)
    return event->accept();
  target = std::clamp(target, 0, rows - 1);
  const bool shift = event->modifiers() & Qt::ShiftModifier;
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  if (shift)
    FSelection.Extend(target, ctrl);
  else if (ctrl)
    FSelection.MoveCurrent(target);
  else
    FSelection.Pick(target);
  SelectionChanged();
  event->accept();
}

void TValuesView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton)
    return QAbstractScrollArea::mousePressEvent(event);
  const int row = RowAt(event->position().toPoint().y());
  const bool shift = event->modifiers() & Qt::ShiftModifier;
  const bool ctrl = event->modifiers() & Qt::ControlModifier;
  if (row < 0) {
    if (!shift && !ctrl)
      FSelection.Clear();
  } else if (shift) {
    FSelection.Extend(row, ctrl);
  } else if (ctrl) {
    FSelection.Toggle(row);
  } else {
    FSelection.Pick(row);
  }
  viewport()->update();
  event->accept();
}

void TValuesView::mouseMoveEvent(QMouseEvent* event) {
  const int rows = RowCount();
  if (!(event->buttons() & Qt::LeftButton) || rows == 0 || FSelection.Current() < 0)
    return QAbstractScrollArea::mouseMoveEvent(event);
  // Dragging past an edge scrolls a row at a time.
  const int y = event->position().toPoint().y();
  qint64 row = qint64(TopRow()) + y / FRowHeight;
  if (y < 0)
    row = TopRow() - 1;
  else if (y >= viewport()->height())
    row = qint64(TopRow()) + PageRows();
  FSelection.Extend(int(std::clamp<qint64>(row, 0, rows - 1)), true);
  SelectionChanged();
  event->accept();
}

void TValuesView::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  // Keys need a current row to start from: the top one, as item views do.
  if (FSelection.Current() < 0 && RowCount() > 0)
    FSelection.MoveCurrent(TopRow());
  viewport()->update();
}

void TValuesView::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  viewport()->update();
}

}  // namespace calorix
