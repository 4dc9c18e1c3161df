#pragma once
// The program's steps as a table for the editor: one row per step, one
// column per field. A typed value that is no number is refused; a step whose
// fields do not fit together shows its fault in the row's tool tip.
#include "program/Program.h"

#include <QAbstractTableModel>

#include <functional>

namespace calorix {

class TProgramModel final : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum TColumn {
    colType,
    colSetpoint,
    colRate,
    colSeconds,
    colBand,
    colLimit,
    colFrom,
    colCount,
    colCount_
  };

  explicit TProgramModel(QObject* parent = nullptr);

  const TProgram& Program() const { return FProgram; }
  void SetProgram(TProgram program);
  void SetName(const QString& name) { FProgram.Name = name; }
  void SetEnd(std::optional<double> end);
  // Limits the setpoints are checked against while editing.
  void SetLimits(const TSetpointLimits& limits);

  // Adding, removing and moving keep each repeat's "from" on the step it named.
  void AddStep(int row, TProgramStep step);
  void RemoveStep(int row);
  void MoveStep(int row, int delta);  // swaps with the neighbour; nothing when out of range
  // The first fault of the row's step, or empty.
  QString RowFault(int row) const;
  // The step a program runs (0-based; -1: none), shown bold on its own colour.
  void SetRunningRow(int row);
  int RunningRow() const { return FRunningRow; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
  Qt::ItemFlags flags(const QModelIndex& index) const override;
  bool setData(const QModelIndex& index, const QVariant& value, int role) override;

 signals:
  void ProgramEdited();

 private:
  bool Used(const TProgramStep& s, int column) const;
  // Gives each repeat (but the one at skipRow) the new number of the step it starts from.
  void Renumber(const std::function<int(int)>& from, int skipRow = -1);
  void Edited();

  TProgram FProgram;
  TSetpointLimits FLimits;
  int FRunningRow = -1;
};

// Reads a number typed with either '.' or ',' as decimal separator; NaN when it is none.
double ParseTypedNumber(const QString& text);

}  // namespace calorix
