#include "chart/ValuesModel.h"

#include <algorithm>
#include <climits>
#include <vector>

namespace calorix {

TValuesModel::TValuesModel(std::shared_ptr<TMeasurementRecord> record,
                           const TFormatSettings& format, QObject* parent)
    : QAbstractListModel(parent), FRecord(std::move(record)), FFormat(format) {
  FRecord->AddObserver(this);
}

TValuesModel::~TValuesModel() {
  FRecord->RemoveObserver(this);
}

int TValuesModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid())
    return 0;
  return int(std::min<std::size_t>(FRecord->Count(), INT_MAX));
}

QVariant TValuesModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() < 0 ||
      std::size_t(index.row()) >= FRecord->Count())
    return {};
  return LineText(std::size_t(index.row()));
}

Qt::ItemFlags TValuesModel::flags(const QModelIndex& index) const {
  return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

QString TValuesModel::LineText(std::size_t row) const {
  const TSample& s = (*FRecord)[row];
  return FormatElapsed(s.Time, FFormat) + QLatin1Char(' ') + FormatFixed2(s.Value, FFormat);
}

QString TValuesModel::Text() const {
  QString out;
  out.reserve(qsizetype(FRecord->Count()) * 20);
  bool first = true;
  ForEachLine([&](const QString& line) {
    if (!first)
      out += QLatin1Char('\n');
    out += line;
    first = false;
  });
  return out;
}

QString TValuesModel::SelectedText(std::vector<TRowRange> ranges) const {
  std::sort(ranges.begin(), ranges.end(),
            [](const TRowRange& a, const TRowRange& b) { return a.First < b.First; });
  QString out;
  int next = 0;  // first row not yet copied
  bool first = true;
  for (auto [top, bottom] : ranges) {
    bottom = std::min(bottom, rowCount() - 1);
    for (int row = std::max(top, next); row <= bottom; ++row) {
      if (!first)
        out += QLatin1Char('\n');
      out += LineText(std::size_t(row));
      first = false;
    }
    next = std::max(next, bottom + 1);
  }
  return out;
}

void TValuesModel::SampleAboutToBeInserted(std::size_t index) {
  beginInsertRows(QModelIndex(), int(index), int(index));
}

void TValuesModel::SampleInserted(std::size_t) {
  endInsertRows();
}

void TValuesModel::RecordAboutToBeReset() {
  beginResetModel();
}

void TValuesModel::RecordReset() {
  endResetModel();
}

}  // namespace calorix
