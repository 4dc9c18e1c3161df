#include "chart/ValuesModel.h"

#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QKeyEvent>
#include <QScrollBar>

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

QString TValuesModel::SelectedText(const QItemSelection& selection) const {
  std::vector<std::pair<int, int>> rows;
  for (const QItemSelectionRange& r : selection) {
    if (r.isValid())
      rows.emplace_back(r.top(), r.bottom());
  }
  std::sort(rows.begin(), rows.end());
  QString out;
  int next = 0;  // first row not yet copied
  bool first = true;
  for (auto [top, bottom] : rows) {
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

TValuesView::TValuesView(QWidget* parent) : QTableView(parent) {
  QFont font(QStringLiteral("Courier New"));
  font.setStyleHint(QFont::TypeWriter);
  font.setPixelSize(13);
  font.setBold(true);
  setFont(font);
  setEditTriggers(NoEditTriggers);
  setSelectionMode(ExtendedSelection);
  setSelectionBehavior(SelectRows);
  setShowGrid(false);
  setWordWrap(false);
  setCornerButtonEnabled(false);
  horizontalHeader()->hide();
  horizontalHeader()->setStretchLastSection(true);
  // Fixed row heights: the view never measures rows, so appending stays
  // cheap however long the record is.
  verticalHeader()->hide();
  verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  verticalHeader()->setDefaultSectionSize(QFontMetrics(font).height() + 2);
  verticalHeader()->setMinimumSectionSize(1);
  setVerticalScrollMode(ScrollPerPixel);
}

void TValuesView::setModel(QAbstractItemModel* model) {
  if (QAbstractItemModel* old = this->model())
    disconnect(old, nullptr, this, nullptr);
  QTableView::setModel(model);
  if (!model)
    return;
  connect(model, &QAbstractItemModel::rowsAboutToBeInserted, this, [this] {
    const QScrollBar* bar = verticalScrollBar();
    FFollowBottom = bar->value() >= bar->maximum();
  });
  connect(model, &QAbstractItemModel::rowsInserted, this, [this] {
    if (FFollowBottom)
      scrollToBottom();
  });
  connect(model, &QAbstractItemModel::modelReset, this, [this] { FFollowBottom = true; });
}

QString TValuesView::SelectedText() const {
  const auto* values = qobject_cast<const TValuesModel*>(model());
  if (!values || !selectionModel())
    return {};
  return values->SelectedText(selectionModel()->selection());
}

void TValuesView::CopySelection() const {
  const QString text = SelectedText();
  if (!text.isEmpty())
    QApplication::clipboard()->setText(text);
}

void TValuesView::keyPressEvent(QKeyEvent* event) {
  if (event == QKeySequence::Copy) {
    CopySelection();
    event->accept();
    return;
  }
  QTableView::keyPressEvent(event);
}

}  // namespace calorix
