#include "chart/FastLineSeries.h"

#include <cmath>

namespace calorix {

TFastLineSeries::TFastLineSeries(QCPAxis* keyAxis, QCPAxis* valueAxis,
                                 std::shared_ptr<const TMeasurementRecord> record)
    : QCPAbstractPlottable(keyAxis, valueAxis), FRecord(std::move(record)) {
  setSelectable(QCP::stSingleData);
}

TCurveView TFastLineSeries::View() const {
  TCurveView v;
  const QCPAxis* key = keyAxis();
  const QCPAxis* value = valueAxis();
  if (!key || !value)
    return v;
  v.KeyLower = key->range().lower;
  v.KeyUpper = key->range().upper;
  v.XAtLower = key->coordToPixel(v.KeyLower);
  v.XAtUpper = key->coordToPixel(v.KeyUpper);
  v.ValueLower = value->range().lower;
  v.ValueUpper = value->range().upper;
  v.YAtLower = value->coordToPixel(v.ValueLower);
  v.YAtUpper = value->coordToPixel(v.ValueUpper);
  v.Margin = std::max(4.0, pen().widthF() * 2);
  return v;
}

std::optional<std::size_t> TFastLineSeries::PointNear(const QPointF& pixel,
                                                      double tolerance) const {
  if (!keyAxis() || !valueAxis() || !clipRect().contains(pixel.toPoint()))
    return std::nullopt;
  return calorix::PointNear(*FRecord, View(), pixel.x(), pixel.y(), tolerance);
}

double TFastLineSeries::selectTest(const QPointF& pos, bool onlySelectable,
                                   QVariant* details) const {
  if (onlySelectable && !mSelectable)
    return -1;
  const auto index = PointNear(pos);
  if (!index)
    return -1;
  if (details) {
    const int i = int(std::min<std::size_t>(*index, INT_MAX - 1));
    details->setValue(QCPDataSelection(QCPDataRange(i, i + 1)));
  }
  const TSample& s = (*FRecord)[*index];
  const TCurveView v = View();
  const double d = std::hypot(v.X(s.Time) - pos.x(), v.Y(s.Value) - pos.y());
  // A hit on a segment may be farther from its end than the tolerance.
  return std::min(d, kHitTolerance);
}

QCPRange TFastLineSeries::getKeyRange(bool& foundRange, QCP::SignDomain inSignDomain) const {
  foundRange = false;
  if (FRecord->Empty())
    return {};
  QCPRange r((*FRecord)[0].Time, FRecord->Last().Time);
  if (inSignDomain == QCP::sdPositive) {
    if (r.upper <= 0)
      return {};
    if (r.lower <= 0)
      r.lower = (*FRecord)[FRecord->UpperBound(0.0)].Time;
  } else if (inSignDomain == QCP::sdNegative) {
    if (r.lower >= 0)
      return {};
    if (r.upper >= 0)
      r.upper = (*FRecord)[FRecord->LowerBound(0.0) - 1].Time;
  }
  foundRange = true;
  return r;
}

QCPRange TFastLineSeries::getValueRange(bool& foundRange, QCP::SignDomain inSignDomain,
                                        const QCPRange& inKeyRange) const {
  // The axis fit takes all samples (the chart fits the whole record) and
  // only finite values.
  Q_UNUSED(inKeyRange);
  const TMinMax m = FRecord->FiniteValueRange();
  foundRange = !m.Empty();
  if (!foundRange)
    return {};
  QCPRange r(m.Min, m.Max);
  if ((inSignDomain == QCP::sdPositive && r.upper <= 0) ||
      (inSignDomain == QCP::sdNegative && r.lower >= 0)) {
    foundRange = false;
    return {};
  }
  return r;
}

void TFastLineSeries::draw(QCPPainter* painter) {
  if (!keyAxis() || !valueAxis() || FRecord->Empty())
    return;
  BuildLinePath(*FRecord, View(), FPath);
  applyDefaultAntialiasingHint(painter);
  // Thinned to columns, the curve is a run of vertical spans one pixel
  // apart: smoothing their edges shows nothing and costs most of the time.
  if (FPath.Dense)
    painter->setAntialiasing(false);
  painter->setPen(pen());
  painter->setBrush(Qt::NoBrush);
  FPoints.resize(qsizetype(FPath.Points.size()));
  for (std::size_t i = 0; i < FPath.Points.size(); ++i)
    FPoints[qsizetype(i)] = QPointF(FPath.Points[i].X, FPath.Points[i].Y);
  const QPointF* points = FPoints.constData();
  // Short pieces: the rasteriser fills one stroked outline per call, and a
  // long zigzag of overlapping column spans makes that outline very costly.
  constexpr std::size_t kPiece = 16;
  for (std::size_t i = 0; i < FPath.PolylineCount(); ++i) {
    const std::size_t begin = FPath.Starts[i], end = FPath.PolylineEnd(i);
    if (end - begin == 1) {
      painter->drawPoint(points[begin]);  // a lone sample between gaps
      continue;
    }
    for (std::size_t from = begin; from + 1 < end; from += kPiece) {
      const std::size_t to = std::min(end, from + kPiece + 1);
      painter->drawPolyline(points + from, int(to - from));
    }
  }
}

void TFastLineSeries::drawLegendIcon(QCPPainter* painter, const QRectF& rect) const {
  applyDefaultAntialiasingHint(painter);
  painter->setPen(pen());
  painter->drawLine(QLineF(rect.left(), rect.center().y(), rect.right(), rect.center().y()));
}

}  // namespace calorix
