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
  const QPen linePen = pen();
  painter->setPen(linePen);
  painter->setBrush(Qt::NoBrush);
  FLines.clear();
  FDots.clear();
  if (FPath.Dense) {
    // Thinned to columns, the curve is a run of vertical spans one pixel
    // apart: smoothing their edges shows nothing and costs most of the time.
    painter->setAntialiasing(false);
    // On screen the spans are filled as bands of whole pixels; vector
    // output and scaled pictures keep the exact geometry.
    if (painter->transform().type() <= QTransform::TxTranslate &&
        !painter->modes().testFlag(QCPPainter::pmVectorized) && !linePen.isCosmetic() &&
        linePen.style() == Qt::SolidLine) {
      DrawBands(painter);
      return;
    }
  }
  // Separate lines: the stroker's outline of a long polyline, its joins
  // worked out one by one, costs many times the line's own pixels. The
  // pen's square cap closes the corner a join would.
  const auto& p = FPath.Points;
  for (std::size_t i = 0; i < FPath.PolylineCount(); ++i) {
    const std::size_t begin = FPath.Starts[i], end = FPath.PolylineEnd(i);
    if (end - begin == 1)
      FDots.push_back(QPointF(p[begin].X, p[begin].Y));  // a lone sample between gaps
    for (std::size_t j = begin; j + 1 < end; ++j)
      FLines.push_back(QLineF(p[j].X, p[j].Y, p[j + 1].X, p[j + 1].Y));
  }
  if (!FLines.isEmpty())
    painter->drawLines(FLines.constData(), int(FLines.size()));
  if (!FDots.isEmpty())
    painter->drawPoints(FDots.constData(), int(FDots.size()));
}

void TFastLineSeries::DrawBands(QCPPainter* painter) {
  BuildPixelBands(FPath, pen().widthF() / 2, FBands);
  for (std::size_t i = 0; i + 1 < FBands.Lines.size(); i += 2) {
    const TPathPoint &a = FBands.Lines[i], &b = FBands.Lines[i + 1];
    FLines.push_back(QLineF(a.X, a.Y, b.X, b.Y));
  }
  if (!FLines.isEmpty())
    painter->drawLines(FLines.constData(), int(FLines.size()));
  painter->setPen(Qt::NoPen);
  painter->setBrush(pen().color());
  FRects.clear();
  // A band's outline: the tops of its columns left to right, their bottoms
  // back; a step where the row changes, straight runs as one edge.
  for (std::size_t i = 0; i < FBands.Starts.size(); ++i) {
    const std::size_t begin = FBands.Starts[i], end = FBands.BandEnd(i);
    FOutline.clear();
    auto add = [this](int x, int y) {
      const qsizetype n = FOutline.size();
      if (n >= 2 && ((FOutline[n - 1].y() == y && FOutline[n - 2].y() == y) ||
                     (FOutline[n - 1].x() == x && FOutline[n - 2].x() == x))) {
        FOutline[n - 1] = QPoint(x, y);
        return;
      }
      if (n == 0 || FOutline[n - 1] != QPoint(x, y))
        FOutline.push_back(QPoint(x, y));
    };
    for (std::size_t c = begin; c < end; ++c) {
      add(FBands.Columns[c].X, FBands.Columns[c].Top);
      add(FBands.Columns[c].X + 1, FBands.Columns[c].Top);
    }
    for (std::size_t c = end; c-- > begin;) {
      add(FBands.Columns[c].X + 1, FBands.Columns[c].Bottom);
      add(FBands.Columns[c].X, FBands.Columns[c].Bottom);
    }
    // The raster engine fills a rectangle row by row for a few nanoseconds
    // a row, and scan converts a polygon for about twenty times that an
    // edge: a band of short columns is cheaper as rectangles, a band of
    // tall ones as one shape.
    std::size_t rows = 0;
    for (std::size_t c = begin; c < end; ++c)
      rows += std::size_t(FBands.Columns[c].Bottom - FBands.Columns[c].Top);
    if (12 * (end - begin) + rows < 16 * std::size_t(FOutline.size())) {
      for (std::size_t c = begin; c < end; ++c) {
        const auto& col = FBands.Columns[c];
        FRects.push_back(QRect(col.X, col.Top, 1, col.Bottom - col.Top));
      }
    } else {
      painter->drawPolygon(FOutline.constData(), int(FOutline.size()), Qt::WindingFill);
    }
  }
  if (!FRects.isEmpty())
    painter->drawRects(FRects.constData(), int(FRects.size()));
}

void TFastLineSeries::drawLegendIcon(QCPPainter* painter, const QRectF& rect) const {
  applyDefaultAntialiasingHint(painter);
  painter->setPen(pen());
  painter->drawLine(QLineF(rect.left(), rect.center().y(), rect.right(), rect.center().y()));
}

}  // namespace calorix
