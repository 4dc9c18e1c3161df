#include "app/ProgramModel.h"

#include "base/NumberFormat.h"

#include <QBrush>
#include <QColor>
#include <QFont>

#include <algorithm>
#include <cmath>

namespace calorix {

double ParseTypedNumber(const QString& text) {
  QString s = text.trimmed();
  s.replace(QLatin1Char(','), QLatin1Char('.'));
  return ParseFloatValue(s.toStdString(), '.');
}

TProgramModel::TProgramModel(QObject* parent) : QAbstractTableModel(parent) {}

void TProgramModel::SetProgram(TProgram program) {
  beginResetModel();
  FProgram = std::move(program);
  endResetModel();
}

void TProgramModel::SetEnd(std::optional<double> end) {
  FProgram.End = end;
  emit ProgramEdited();
}

void TProgramModel::SetLimits(const TSetpointLimits& limits) {
  FLimits = limits;
  if (!FProgram.Steps.empty())
    emit dataChanged(index(0, 0), index(rowCount() - 1, colCount_ - 1));
}

void TProgramModel::Edited() {
  emit ProgramEdited();
}

void TProgramModel::AddStep(int row, TProgramStep step) {
  row = std::clamp(row, 0, rowCount());
  beginInsertRows({}, row, row);
  FProgram.Steps.insert(FProgram.Steps.begin() + row, step);
  endInsertRows();
  // Loops keep their first step: those from the new row on moved one down.
  Renumber([row](int from) { return from > row ? from + 1 : from; }, row);
  Edited();
}

void TProgramModel::RemoveStep(int row) {
  if (row < 0 || row >= rowCount())
    return;
  beginRemoveRows({}, row, row);
  FProgram.Steps.erase(FProgram.Steps.begin() + row);
  endRemoveRows();
  // A loop whose first step went begins with the step that took its place.
  Renumber([row](int from) { return from > row + 1 ? from - 1 : from; });
  Edited();
}

void TProgramModel::MoveStep(int row, int delta) {
  const int to = row + delta;
  if (row < 0 || row >= rowCount() || to < 0 || to >= rowCount() || delta == 0)
    return;
  std::swap(FProgram.Steps[std::size_t(row)], FProgram.Steps[std::size_t(to)]);
  emit dataChanged(index(std::min(row, to), 0), index(std::max(row, to), colCount_ - 1));
  // A loop goes on pointing at the same step, wherever it went.
  Renumber([row, to](int from) {
    return from == row + 1 ? to + 1 : from == to + 1 ? row + 1 : from;
  });
  Edited();
}

void TProgramModel::Renumber(const std::function<int(int)>& from, int skipRow) {
  for (int r = 0; r < rowCount(); ++r) {
    TProgramStep& s = FProgram.Steps[std::size_t(r)];
    if (s.Type != TStepType::Repeat || r == skipRow)
      continue;
    const int to = from(s.From);
    if (to != s.From) {
      s.From = to;
      emit dataChanged(index(r, colFrom), index(r, colFrom));
    }
  }
}

void TProgramModel::SetRunningRow(int row) {
  if (row == FRunningRow)
    return;
  const int before = FRunningRow;
  FRunningRow = row;
  for (int r : {before, row}) {
    if (r >= 0 && r < rowCount())
      emit dataChanged(index(r, 0), index(r, colCount_ - 1));
  }
}

QString TProgramModel::RowFault(int row) const {
  if (row < 0 || row >= rowCount())
    return {};
  return CheckStep(FProgram, std::size_t(row), &FLimits);
}

int TProgramModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : int(FProgram.Steps.size());
}

int TProgramModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : colCount_;
}

bool TProgramModel::Used(const TProgramStep& s, int column) const {
  switch (column) {
    case colType:
      return true;
    case colSetpoint:
      return s.Type == TStepType::Set || s.Type == TStepType::Ramp;
    case colRate:
      return s.Type == TStepType::Ramp;
    case colSeconds:
      return s.Type == TStepType::Ramp || s.Type == TStepType::Hold || s.Type == TStepType::Wait;
    case colBand:
      return s.Type == TStepType::Hold || s.Type == TStepType::Wait;
    case colLimit:
      return s.Type == TStepType::Wait;
    case colFrom:
    case colCount:
      return s.Type == TStepType::Repeat;
  }
  return false;
}

namespace {

double* Field(TProgramStep& s, int column) {
  switch (column) {
    case TProgramModel::colSetpoint:
      return &s.Setpoint;
    case TProgramModel::colRate:
      return &s.Rate;
    case TProgramModel::colSeconds:
      return &s.Seconds;
    case TProgramModel::colBand:
      return &s.Band;
    case TProgramModel::colLimit:
      return &s.Limit;
    default:
      return nullptr;
  }
}

}  // namespace

QVariant TProgramModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rowCount())
    return {};
  TProgramStep s = FProgram.Steps[std::size_t(index.row())];
  const int c = index.column();
  if (role == Qt::ToolTipRole)
    return RowFault(index.row());
  const bool running = index.row() == FRunningRow;
  if (role == Qt::BackgroundRole) {
    if (!RowFault(index.row()).isEmpty())
      return QBrush(QColor(255, 220, 220));
    return running ? QVariant(QBrush(QColor(255, 240, 200))) : QVariant();
  }
  if (role == Qt::FontRole && running) {
    QFont bold;
    bold.setBold(true);
    return bold;
  }
  if (role != Qt::DisplayRole && role != Qt::EditRole)
    return {};
  if (!Used(s, c))
    return QString();
  if (c == colType)
    return StepTypeTitle(s.Type);
  if (c == colFrom)
    return s.From;
  if (c == colCount)
    return s.Count;
  const double v = *Field(s, c);
  if (std::isnan(v))
    return QString();
  return QString::number(v, 'g', 10);
}

QVariant TProgramModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole)
    return {};
  if (orientation == Qt::Vertical)
    return section + 1;
  static const char* const kTitles[colCount_] = {
      QT_TRANSLATE_NOOP("calorix", "Шаг"),        QT_TRANSLATE_NOOP("calorix", "Уставка, °C"),
      QT_TRANSLATE_NOOP("calorix", "°C/мин"),     QT_TRANSLATE_NOOP("calorix", "Время, с"),
      QT_TRANSLATE_NOOP("calorix", "Полоса, °C"), QT_TRANSLATE_NOOP("calorix", "Предел, с"),
      QT_TRANSLATE_NOOP("calorix", "С шага"),     QT_TRANSLATE_NOOP("calorix", "Повторов")};
  if (section < 0 || section >= colCount_)
    return {};
  return ProgramTr(kTitles[section]);
}

Qt::ItemFlags TProgramModel::flags(const QModelIndex& index) const {
  if (!index.isValid())
    return Qt::NoItemFlags;
  Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
  if (Used(FProgram.Steps[std::size_t(index.row())], index.column()))
    f |= Qt::ItemIsEditable;
  return f;
}

bool TProgramModel::setData(const QModelIndex& index, const QVariant& value, int role) {
  if (!index.isValid() || role != Qt::EditRole || index.row() >= rowCount())
    return false;
  TProgramStep& s = FProgram.Steps[std::size_t(index.row())];
  const int c = index.column();
  const QString text = value.toString().trimmed();
  if (c == colType) {
    for (TStepType t :
         {TStepType::Set, TStepType::Ramp, TStepType::Hold, TStepType::Wait, TStepType::Repeat}) {
      if (text == StepTypeTitle(t) || text == QLatin1String(StepTypeKey(t))) {
        s.Type = t;
        emit dataChanged(this->index(index.row(), 0), this->index(index.row(), colCount_ - 1));
        Edited();
        return true;
      }
    }
    return false;
  }
  if (!Used(s, c))
    return false;
  if (c == colFrom || c == colCount) {
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok)
      return false;
    (c == colFrom ? s.From : s.Count) = v;
  } else {
    double* field = Field(s, c);
    // An optional field may be emptied; anything else must be a number.
    const bool optional = c == colLimit || c == colRate || c == colSeconds ||
                          (c == colBand && s.Type == TStepType::Hold);
    const double v = text.isEmpty() && optional ? kNoValue : ParseTypedNumber(text);
    if (std::isnan(v) && !(text.isEmpty() && optional))
      return false;
    *field = v;
  }
  emit dataChanged(this->index(index.row(), 0), this->index(index.row(), colCount_ - 1));
  Edited();
  return true;
}

}  // namespace calorix
