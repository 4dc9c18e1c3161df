#pragma once
// The setpoint curves a temperature program draws beside the measured one:
// the planned setpoint from now to the end (dashed, its own colour) and the
// setpoints already written (thin, held until the next one). They are plain
// graphs of the chart: not part of the record, so never saved with it, and
// not counted by the read-out, which follows the series; the automatic
// temperature range takes them in while a program runs (TChart::SetRightFitGraphs).
#include <qcustomplot.h>

#include <QVector>

#include <algorithm>

namespace calorix {

inline const QColor kPlannedSetpointColor(230, 120, 0);
inline const QColor kWrittenSetpointColor(0, 140, 70);

class TSetpointCurves {
 public:
  explicit TSetpointCurves(QCustomPlot& chart);

  // The planned curve anew: keys in chart time (days), values in °C.
  void SetPlanned(const QVector<double>& keys, const QVector<double>& values);
  // Moves the planned curve's first point (now, the setpoint wanted now).
  void MovePlannedStart(double key, double value);
  void AddWritten(double key, double value);
  void ClearPlanned();
  void Clear();

  QCPGraph* Planned() const { return FPlanned; }
  QCPGraph* Written() const { return FWritten; }

 private:
  QCPGraph* FPlanned;  // owned by the chart
  QCPGraph* FWritten;
};

}  // namespace calorix
