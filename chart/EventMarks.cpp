#include "chart/EventMarks.h"

#include <cmath>

namespace calorix {

TEventMarks::TEventMarks(QCustomPlot* plot, QCPAxis* keyAxis)
    : QCPAbstractItem(plot), FKeyAxis(keyAxis) {
  setSelectable(false);
  setClipToAxisRect(true);
  setClipAxisRect(keyAxis->axisRect());
  // Over the curves.
  setLayer(QStringLiteral("axes"));
}

double TEventMarks::selectTest(const QPointF&, bool, QVariant*) const {
  return -1;  // clicks go through to the curve below
}

QString TEventMarks::TextAt(const QPointF& pixel) const {
  const QRect plot = FKeyAxis->axisRect()->rect();
  if (pixel.y() < plot.top() || pixel.y() > plot.top() + kHeight + kHitTolerance ||
      pixel.x() < plot.left() || pixel.x() > plot.right())
    return {};
  const double a = FKeyAxis->pixelToCoord(pixel.x() - kHitTolerance);
  const double b = FKeyAxis->pixelToCoord(pixel.x() + kHitTolerance);
  return FList.TextsWithin(std::min(a, b), std::max(a, b));
}

void TEventMarks::draw(QCPPainter* painter) {
  FLastDrawn = 0;
  const QRect plot = FKeyAxis->axisRect()->rect();
  const QCPRange range = FKeyAxis->range();
  painter->setAntialiasing(false);
  // The selected event's line under its mark.
  if (FHighlight && *FHighlight >= range.lower && *FHighlight <= range.upper) {
    const double x = FKeyAxis->coordToPixel(*FHighlight);
    const QPen pen(QColor(0, 0, 0, 160), 1.0, Qt::DashLine);
    painter->setPen(pen);
    painter->drawLine(QLineF(x, plot.top(), x, plot.bottom()));
  }
  painter->setPen(Qt::NoPen);
  for (std::size_t c = 0; c < kMarkClasses; ++c) {
    const TMarkClass mark = TMarkClass(c);
    const auto& marks = FList.Marks(mark);
    FRects.clear();
    // Binary search to the first mark in view, then on by a mark's width:
    // a drawing costs the marks it shows, not the marks in the log.
    std::size_t i = FList.FirstFrom(mark, range.lower);
    while (i < marks.size() && marks[i].Time <= range.upper) {
      const double x = std::floor(FKeyAxis->coordToPixel(marks[i].Time));
      const QRect r(int(x) - 1, plot.top(), int(kWidth), int(kHeight));
      // Marks side by side make one bar: dense events cost one rectangle.
      if (!FRects.isEmpty() && FRects.back().right() + 1 >= r.left())
        FRects.back().setRight(r.right());
      else
        FRects.append(r);
      ++FLastDrawn;
      const double next = FKeyAxis->pixelToCoord(x + kWidth);
      i = std::max(i + 1, FList.FirstFrom(mark, next));
    }
    if (FRects.isEmpty())
      continue;
    painter->setBrush(MarkColor(mark));
    painter->drawRects(FRects);
  }
}

}  // namespace calorix
