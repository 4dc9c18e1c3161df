#pragma once
// The values tab: the record as text, one line per sample, formatted on
// demand (no text is kept per sample), and the list that shows it. The list
// paints only the rows in view, straight from the model, and keeps no state
// per row: appending a line costs the same at ten million rows as at ten
// thousand (QTableView's header keeps an entry per row and lays them all out
// again on every insert).
#include "base/NumberFormat.h"
#include "record/Record.h"

#include <QAbstractListModel>
#include <QAbstractScrollArea>
#include <QPointer>

#include <memory>
#include <vector>

namespace calorix {

// Rows first to last, both included.
struct TRowRange {
  int First;
  int Last;
  bool operator==(const TRowRange&) const = default;
};

class TValuesModel final : public QAbstractListModel, private IRecordObserver {
  Q_OBJECT

 public:
  TValuesModel(std::shared_ptr<TMeasurementRecord> record, const TFormatSettings& format,
               QObject* parent = nullptr);
  ~TValuesModel() override;

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;

  // "0:00:05 25.00": elapsed time (hours not folded at 24), one blank, the
  // value with two decimals, in the locale given at construction.
  QString LineText(std::size_t row) const;
  // Every line, in record order, without line ends (for the file writer).
  template <class F>
  void ForEachLine(F&& f) const {
    for (std::size_t i = 0; i < FRecord->Count(); ++i)
      f(LineText(i));
  }
  // All lines joined with "\n".
  QString Text() const;
  // The lines of the rows in the ranges in row order, joined with "\n"; a
  // row in two ranges counts once.
  QString SelectedText(std::vector<TRowRange> ranges) const;

  const TMeasurementRecord& Record() const { return *FRecord; }

 private:
  void SampleAboutToBeInserted(std::size_t index) override;
  void SampleInserted(std::size_t index) override;
  void RecordAboutToBeReset() override;
  void RecordReset() override;

  std::shared_ptr<TMeasurementRecord> FRecord;
  TFormatSettings FFormat;
};

// The rows picked in a list with extended selection: the rows fixed by
// earlier gestures plus the stretch from the anchor to the current row that
// Shift moves. Plain C++ over row numbers.
class TRowSelection {
 public:
  // A click or a key without modifiers: this row only.
  void Pick(int row);
  // Ctrl+click: this row in or out, the others kept.
  void Toggle(int row);
  // Shift: from the anchor to this row; keep (Ctrl held too) keeps the rows
  // picked before the stretch.
  void Extend(int row, bool keep);
  // Ctrl+key: the current row moves, the selection stays.
  void MoveCurrent(int row);
  void SelectAll(int count);
  void Clear();
  // Rows from first on moved down by count (a late sample inserted above).
  void RowsInserted(int first, int count);

  bool Contains(int row) const;
  int Current() const { return FCurrent; }
  // The selected rows as sorted, disjoint ranges.
  std::vector<TRowRange> Ranges() const;

 private:
  TRowRange Stretch() const;
  void Commit();

  std::vector<TRowRange> FFixed;  // sorted, disjoint, not touching
  int FAnchor = -1;
  int FCurrent = -1;
  bool FStretching = false;  // the stretch anchor..current is selected
};

// Uniform rows in Courier New bold 13 px, extended row selection (click,
// Shift/Ctrl+click, drag, Shift+keys, Ctrl+A), Ctrl+C copies the selected
// lines. The scroll bar counts rows, so any number of rows fits its int
// range. It keeps to the bottom as lines arrive while the scroll bar is at
// its end, and stays put when the user scrolled up.
class TValuesView final : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit TValuesView(QWidget* parent = nullptr);
  void setModel(TValuesModel* model);
  TValuesModel* Model() const { return FModel; }

  const TRowSelection& Selection() const { return FSelection; }
  // The text Ctrl+C puts on the clipboard.
  QString SelectedText() const;
  void CopySelection() const;

  int RowHeight() const { return FRowHeight; }
  int TopRow() const;
  // Rows wholly in view (at least one).
  int PageRows() const;
  bool AtBottom() const;
  void ScrollToBottom();
  // Geometry of a row in viewport coordinates (it may lie outside).
  QRect RowRect(int row) const;
  // The row at a viewport position, -1 below the last row.
  int RowAt(int y) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  int RowCount() const;
  void UpdateScrollBar();
  void EnsureVisible(int row);
  void SelectionChanged();
  void NotifyAccessibility(int change, int first, int last);

  QPointer<TValuesModel> FModel;
  TRowSelection FSelection;
  int FRowHeight = 1;
  bool FFollowBottom = true;
};

}  // namespace calorix
