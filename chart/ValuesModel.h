#pragma once
// The values tab: the record as text, one line per sample, formatted on
// demand (no text is kept per sample), and the read-only list that shows it.
#include "app/NumberFormat.h"
#include "chart/Record.h"

#include <QAbstractListModel>
#include <QItemSelection>
#include <QTableView>

#include <memory>

namespace calorix {

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
  // The lines of the selected rows in row order, joined with "\n"; a row
  // selected twice counts once.
  QString SelectedText(const QItemSelection& selection) const;

  const TMeasurementRecord& Record() const { return *FRecord; }

 private:
  void SampleAboutToBeInserted(std::size_t index) override;
  void SampleInserted(std::size_t index) override;
  void RecordAboutToBeReset() override;
  void RecordReset() override;

  std::shared_ptr<TMeasurementRecord> FRecord;
  TFormatSettings FFormat;
};

// The read-only list of the values tab: uniform rows in Courier New bold
// 13 px, extended row selection, Ctrl+C copies the selected lines; it keeps
// to the bottom as lines arrive while the user has left it there.
class TValuesView final : public QTableView {
  Q_OBJECT

 public:
  explicit TValuesView(QWidget* parent = nullptr);
  void setModel(QAbstractItemModel* model) override;
  // The text Ctrl+C puts on the clipboard.
  QString SelectedText() const;
  void CopySelection() const;

 protected:
  void keyPressEvent(QKeyEvent* event) override;

 private:
  bool FFollowBottom = true;
};

}  // namespace calorix
