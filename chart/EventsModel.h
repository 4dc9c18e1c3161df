#pragma once
// The events page: the event log of the window's thermostat as a table (local
// time, elapsed time, who caused it, the text), newest last, and the list that
// shows it. Like the values page it paints only the rows in view and keeps no
// state per row, so an event added costs the same at 100,000 rows as at 100.
#include "base/NumberFormat.h"
#include "record/Events.h"

#include <QAbstractScrollArea>
#include <QAbstractTableModel>
#include <QPointer>

#include <deque>
#include <vector>

class QHeaderView;

namespace calorix {

class TEventsModel final : public QAbstractTableModel {
  Q_OBJECT

 public:
  enum TColumn { Time, Elapsed, Source, Text, ColumnCount };

  explicit TEventsModel(const TFormatSettings& format, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // Follows a log that grows at its end and may start anew: the model's rows
  // plus the newest is an insert of one row, anything else a reset.
  void Follow(const std::vector<TEvent>& log);
  const std::deque<TEvent>& Events() const { return FEvents; }
  const TEvent& Event(int row) const { return FEvents[std::size_t(row)]; }
  QString CellText(int row, int column) const;
  // The row's cells joined with tabs (what Ctrl+C copies).
  QString LineText(int row) const;

 private:
  // A deque: an append never moves the rows before it (a vector's growth
  // would copy them all now and then).
  std::deque<TEvent> FEvents;
  TFormatSettings FFormat;
};

// Rows of uniform height under a header whose sections the user may resize;
// one selected row, moved by click and keys; Enter or a double-click
// activates it; Ctrl+C copies it. Keeps to the bottom as events arrive while
// the scroll bar is at its end.
class TEventsView final : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit TEventsView(QWidget* parent = nullptr);
  void setModel(TEventsModel* model);
  TEventsModel* Model() const { return FModel; }
  QHeaderView* Header() const { return FHeader; }

  int Current() const { return FCurrent; }  // -1: none
  void SetCurrent(int row);
  int RowHeight() const { return FRowHeight; }
  int TopRow() const;
  int PageRows() const;
  bool AtBottom() const;
  QRect RowRect(int row) const;  // viewport coordinates
  int RowAt(int y) const;        // -1 below the last row

 signals:
  void CurrentChanged(int row);
  void Activated(int row);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  int RowCount() const;
  void UpdateScrollBar();
  void PlaceHeader();

  QPointer<TEventsModel> FModel;
  QHeaderView* FHeader;  // a child
  int FRowHeight = 1;
  int FCurrent = -1;
  bool FFollowBottom = true;
};

}  // namespace calorix
