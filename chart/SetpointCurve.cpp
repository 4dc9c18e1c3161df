#include "chart/SetpointCurve.h"

namespace calorix {

TSetpointCurves::TSetpointCurves(QCustomPlot& chart)
    : FPlanned(chart.addGraph(chart.xAxis, chart.yAxis2)),
      FWritten(chart.addGraph(chart.xAxis, chart.yAxis2)) {
  QPen planned(kPlannedSetpointColor, 1.5, Qt::DashLine);
  FPlanned->setPen(planned);
  FPlanned->setName(QStringLiteral("PlannedSetpoint"));
  FPlanned->setSelectable(QCP::stNone);
  FWritten->setPen(QPen(kWrittenSetpointColor, 1.0));
  FWritten->setLineStyle(QCPGraph::lsStepLeft);
  FWritten->setName(QStringLiteral("WrittenSetpoint"));
  FWritten->setSelectable(QCP::stNone);
}

void TSetpointCurves::SetPlanned(const QVector<double>& keys, const QVector<double>& values) {
  // Already in time order: the sort the container would do is skipped.
  FPlanned->setData(keys, values, true);
}

void TSetpointCurves::MovePlannedStart(double key, double value) {
  auto data = FPlanned->data();
  if (data->isEmpty())
    return;
  auto first = data->begin();
  // Never past the next point: the curve stays in time order.
  auto next = first + 1;
  first->key = next != data->end() ? std::min(key, next->key) : key;
  first->value = value;
}

void TSetpointCurves::AddWritten(double key, double value) {
  FWritten->addData(key, value);
}

void TSetpointCurves::ClearPlanned() {
  FPlanned->data()->clear();
}

void TSetpointCurves::Clear() {
  FPlanned->data()->clear();
  FWritten->data()->clear();
}

}  // namespace calorix
