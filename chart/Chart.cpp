#include "chart/Chart.h"

#include "chart/TimeWindow.h"
#include "chart/VerticalScale.h"

#include <QApplication>
#include <QHelpEvent>
#include <QToolTip>

#include <cmath>

namespace calorix {
namespace {

// Elapsed-time labels "h:nn:ss" (hours not folded at 24) at round steps of
// at least one second.
class TElapsedTicker final : public QCPAxisTicker {
 public:
  explicit TElapsedTicker(const TFormatSettings& format) : FFormat(format) {}

 protected:
  double getTickStep(const QCPRange& range) override {
    return ElapsedTickStep(range.size(), tickCount());
  }
  int getSubTickCount(double tickStep) override {
    const long long seconds = std::llround(tickStep * 86400.0);
    if (seconds % 60 == 0 && seconds / 60 % 6 == 0)
      return 5;
    if (seconds % 5 == 0)
      return 4;
    return seconds % 3 == 0 ? 2 : 1;
  }
  QString getTickLabel(double tick, const QLocale&, QChar, int) override {
    return FormatElapsed(tick, FFormat);
  }

 private:
  TFormatSettings FFormat;
};

// Temperature labels "#,##0.####" at steps of at least 0.0001.
class TScaleTicker final : public QCPAxisTicker {
 public:
  explicit TScaleTicker(const TFormatSettings& format) : FFormat(format) {}

 protected:
  double getTickStep(const QCPRange& range) override {
    return std::max(QCPAxisTicker::getTickStep(range), kMinScaleStep);
  }
  QString getTickLabel(double tick, const QLocale&, QChar, int) override {
    // Ticks such as 0.30000000000000004 or -1e-17 read as their round value.
    return FormatScaleLabel(tick, FFormat);
  }

 private:
  TFormatSettings FFormat;
};

// A range as the axes take it: ordered, at least `minWidth` wide; nullopt
// for ends that are not finite.
std::optional<TAxisRange> Sanitized(TAxisRange r, double minWidth) {
  if (!std::isfinite(r.Min) || !std::isfinite(r.Max))
    return std::nullopt;
  if (r.Min > r.Max)
    std::swap(r.Min, r.Max);
  if (r.Max - r.Min < minWidth) {
    const double centre = r.Min * 0.5 + r.Max * 0.5;
    r = {centre - minWidth * 0.5, centre + minWidth * 0.5};
  }
  // Wider than the plot can map (the plot ignores such ranges silently).
  if (!QCPRange::validRange(r.Min, r.Max))
    return std::nullopt;
  return r;
}

}  // namespace

TChart::TChart(const TFormatSettings& format, QWidget* parent)
    : QCustomPlot(parent), FFormat(format), FEventMarks(new TEventMarks(this, xAxis)) {
  xAxis->setTicker(QSharedPointer<QCPAxisTicker>(new TElapsedTicker(format)));
  yAxis->setVisible(false);
  yAxis2->setVisible(true);
  yAxis2->setTickLabels(true);
  yAxis2->setTicker(QSharedPointer<QCPAxisTicker>(new TScaleTicker(format)));
  legend->setVisible(false);
  setMouseTracking(true);
  connect(this, &QCustomPlot::beforeReplot, this, &TChart::FitAutomaticAxes);
  connect(this, &QCustomPlot::plottableClick, this,
          [this](QCPAbstractPlottable* plottable, int dataIndex, QMouseEvent* event) {
            for (int i = 0; i < SeriesCount(); ++i) {
              if (FSeries[std::size_t(i)] == plottable && dataIndex >= 0)
                emit SeriesClick(i, std::size_t(dataIndex), event->button());
            }
          });
}

TFastLineSeries* TChart::CreateSeries(std::shared_ptr<TMeasurementRecord> record) {
  legend->setVisible(false);
  for (std::size_t i = 0; i < SeriesNames.size(); ++i) {
    // The plot owns its plottables.
    auto* series = new TFastLineSeries(xAxis, yAxis2, record);
    series->setName(QString::fromUtf8(SeriesNames[i]));
    // Two pixels, not cosmetic: it scales with the device, so it stays
    // visible in vector pictures and on high-resolution printers.
    QPen pen(SeriesColors[i], 2.0);
    pen.setCosmetic(false);
    series->setPen(pen);
    FSeries.push_back(series);
  }
  return FSeries.front();
}

TFastLineSeries* TChart::Series(int i) const {
  return i >= 0 && i < SeriesCount() ? FSeries[std::size_t(i)] : nullptr;
}

QString TChart::SeriesName(int i) const {
  const TFastLineSeries* s = Series(i);
  return s ? s->name() : QString();
}

double TChart::RecordLength() const {
  double length = 0.0;
  bool any = false;
  for (const TFastLineSeries* s : FSeries) {
    if (s->keyAxis() != xAxis || s->Record().Empty())
      continue;
    length = any ? std::max(length, s->Record().Length()) : s->Record().Length();
    any = true;
  }
  return length;
}

std::optional<TAxisRange> TChart::DataKeyRange() const {
  std::optional<TAxisRange> r;
  for (const TFastLineSeries* s : FSeries) {
    if (s->keyAxis() != xAxis || s->Record().Empty())
      continue;
    const TAxisRange k{s->Record()[0].Time, s->Record().Last().Time};
    r = r ? TAxisRange{std::min(r->Min, k.Min), std::max(r->Max, k.Max)} : k;
  }
  return r;
}

void TChart::SetBottomRange(TAxisRange range) {
  FBottomAutomatic = false;
  if (auto r = Sanitized(range, kBottomMinWidth))
    xAxis->setRange(r->Min, r->Max);
}

TAxisRange TChart::BottomRange() const {
  if (FBottomAutomatic) {
    if (auto data = DataKeyRange()) {
      if (auto r = Sanitized(*data, kBottomMinWidth))
        return *r;
    }
  }
  return {xAxis->range().lower, xAxis->range().upper};
}

void TChart::SetBottomAutomatic(bool on) {
  FBottomAutomatic = on;
  if (on)
    FitAutomaticAxes();
}

void TChart::ScrollBottom(double offset, bool checkLimits) {
  if (!std::isfinite(offset))
    return;
  const TAxisRange current = BottomRange();
  if (!checkLimits) {
    SetBottomRange({current.Min + offset, current.Max + offset});
    return;
  }
  const auto data = DataKeyRange();
  const TMinMax dataX = data ? TMinMax{data->Min, data->Max} : TMinMax{NAN, NAN};
  if (auto moved = ScrollWithLimit(current, offset, dataX))
    SetBottomRange(*moved);
}

void TChart::SetRightRange(TAxisRange range) {
  FRightAutomatic = false;
  if (auto r = Sanitized(range, kRightMinWidth))
    yAxis2->setRange(r->Min, r->Max);
}

TAxisRange TChart::RightRange() const {
  if (FRightAutomatic) {
    TMinMax all{NAN, NAN};
    for (const TFastLineSeries* s : FSeries) {
      if (s->valueAxis() != yAxis2)
        continue;
      const TMinMax m = s->Record().FiniteValueRange();
      if (m.Empty())
        continue;
      all = all.Empty() ? m : TMinMax{std::min(all.Min, m.Min), std::max(all.Max, m.Max)};
    }
    for (const QCPGraph* g : FRightFitGraphs) {
      bool found = false;
      const QCPRange v = g ? g->getValueRange(found, QCP::sdBoth, xAxis->range()) : QCPRange();
      if (!found || !std::isfinite(v.lower) || !std::isfinite(v.upper))
        continue;
      all = all.Empty() ? TMinMax{v.lower, v.upper}
                        : TMinMax{std::min(all.Min, v.lower), std::max(all.Max, v.upper)};
    }
    if (!all.Empty()) {
      if (auto r = Sanitized({all.Min, all.Max}, kRightFitMinWidth))
        return *r;
    }
  }
  return {yAxis2->range().lower, yAxis2->range().upper};
}

void TChart::SetRightFitGraphs(std::vector<QPointer<QCPGraph>> graphs) {
  FRightFitGraphs = std::move(graphs);
}

void TChart::SetRightAutomatic(bool on) {
  FRightAutomatic = on;
  if (on)
    FitAutomaticAxes();
}

void TChart::FitAutomaticAxes() {
  if (FBottomAutomatic) {
    const TAxisRange r = BottomRange();
    xAxis->setRange(r.Min, r.Max);
  }
  if (FRightAutomatic) {
    const TAxisRange r = RightRange();
    yAxis2->setRange(r.Min, r.Max);
  }
}

std::optional<TSeriesHit> TChart::PointAt(const QPointF& pixel) const {
  for (int i = SeriesCount() - 1; i >= 0; --i) {
    if (auto index = FSeries[std::size_t(i)]->PointNear(pixel))
      return TSeriesHit{i, *index};
  }
  return std::nullopt;
}

void TChart::ZoomBottomAt(double x, double factor) {
  if (!std::isfinite(factor) || factor <= 0)
    return;
  const TAxisRange current = BottomRange();
  const double width = current.Max - current.Min;
  const double pixels = std::max(1.0, double(axisRect()->width()));
  const double narrowest = pixels / kPixelsPerSecondAtMost * kOneSecond;
  const auto data = DataKeyRange();
  const double widest = std::max(data ? data->Max - data->Min : 0.0, narrowest);
  double wanted = width * factor;
  if (factor < 1)
    wanted = std::max(wanted, std::min(narrowest, width));
  else
    wanted = std::min(wanted, std::max(widest, width));
  if (wanted == width)
    return;
  const double at = xAxis->pixelToCoord(x);
  const double share = width > 0 ? (at - current.Min) / width : 0.5;
  const double left = at - share * wanted;
  SetBottomRange({left, left + wanted});
  emit BottomMovedByUser();
}

void TChart::ZoomRightAt(double y, double factor) {
  if (!std::isfinite(factor) || factor <= 0)
    return;
  const TAxisRange current = RightRange();
  const double at = yAxis2->pixelToCoord(y);
  SetRightRange({at - (at - current.Min) * factor, at + (current.Max - at) * factor});
  emit RightZoomedByUser();
}

void TChart::PanBottomByPixels(double dx) {
  const TAxisRange current = BottomRange();
  const double pixels = std::max(1.0, double(axisRect()->width()));
  const double offset = -dx * (current.Max - current.Min) / pixels;
  if (offset == 0 || !std::isfinite(offset))
    return;
  SetBottomRange({current.Min + offset, current.Max + offset});
  emit BottomMovedByUser();
}

std::optional<TAxisRange> TChart::MarkedRange() const {
  if (!FMarkRect)
    return std::nullopt;
  const double a = FMarkRect->topLeft->key(), b = FMarkRect->bottomRight->key();
  return TAxisRange{std::min(a, b), std::max(a, b)};
}

void TChart::SetMarkedRange(std::optional<TAxisRange> range) {
  if (!range) {
    if (FMarkRect) {
      removeItem(FMarkRect);
      FMarkRect = nullptr;
      emit MarkedRangeChanged();
      QueueReplot();
    }
    return;
  }
  if (!FMarkRect) {
    FMarkRect = new QCPItemRect(this);  // the plot owns its items
    FMarkRect->setClipToAxisRect(true);
    FMarkRect->setSelectable(false);
    FMarkRect->setPen(QPen(QColor(0, 120, 215, 160)));
    FMarkRect->setBrush(QColor(0, 120, 215, 50));
    for (QCPItemPosition* p : {FMarkRect->topLeft, FMarkRect->bottomRight}) {
      p->setAxes(xAxis, yAxis2);
      p->setTypeX(QCPItemPosition::ptPlotCoords);
      p->setTypeY(QCPItemPosition::ptAxisRectRatio);
    }
  }
  FMarkRect->topLeft->setCoords(range->Min, 0.0);
  FMarkRect->bottomRight->setCoords(range->Max, 1.0);
  emit MarkedRangeChanged();
  QueueReplot();
}

bool TChart::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    const auto* help = static_cast<QHelpEvent*>(event);
    const QString text = FEventMarks->TextAt(help->pos());
    if (!text.isEmpty()) {
      // Gone as soon as the pointer leaves the marks' strip.
      const QRect plot = axisRect()->rect();
      const int tolerance = int(TEventMarks::kHitTolerance);
      const QRect strip(help->pos().x() - tolerance, plot.top(), 2 * tolerance + 1,
                        int(TEventMarks::kHeight) + tolerance);
      QToolTip::showText(help->globalPos(), text, this, strip);
      return true;
    }
  }
  return QCustomPlot::event(event);
}

void TChart::mousePressEvent(QMouseEvent* event) {
  FDrag = TDrag::None;
  if (event->button() == Qt::LeftButton &&
      axisRect()->rect().contains(event->position().toPoint())) {
    FDrag = TDrag::Pending;
    FDragMarks = event->modifiers().testFlag(Qt::ShiftModifier);
    FPressPos = event->position();
    FPanLastX = FPressPos.x();
  }
  QCustomPlot::mousePressEvent(event);
}

void TChart::mouseReleaseEvent(QMouseEvent* event) {
  const TDrag drag = FDrag;
  FDrag = TDrag::None;
  // A press and release in place stays a click (the read-out); it also
  // clears a marked range.
  if (drag == TDrag::Pending && MarkedRange())
    SetMarkedRange(std::nullopt);
  if (drag == TDrag::Pan || drag == TDrag::Mark) {
    if (drag == TDrag::Pan)
      unsetCursor();
    event->accept();
    mMouseHasMoved = true;  // the plot's own click handling stays out
  }
  QCustomPlot::mouseReleaseEvent(event);
}

void TChart::mouseDoubleClickEvent(QMouseEvent* event) {
  QCustomPlot::mouseDoubleClickEvent(event);
  if (event->button() == Qt::LeftButton)
    emit ViewResetByUser();
}

void TChart::wheelEvent(QWheelEvent* event) {
  const QPointF pos = event->position();
  const int delta = event->angleDelta().y();
  if (delta == 0) {
    QCustomPlot::wheelEvent(event);
    return;
  }
  const double factor = std::pow(kWheelZoomFactor, double(delta) / 120.0);
  const bool overRightAxis = pos.x() > axisRect()->right();
  if (event->modifiers().testFlag(Qt::ControlModifier) || overRightAxis) {
    ZoomRightAt(pos.y(), factor);
  } else if (axisRect()->rect().contains(pos.toPoint())) {
    ZoomBottomAt(pos.x(), factor);
  }
  QueueReplot();
  event->accept();
}

void TChart::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && MarkedRange()) {
    SetMarkedRange(std::nullopt);
    event->accept();
    return;
  }
  QCustomPlot::keyPressEvent(event);
}

void TChart::mouseMoveEvent(QMouseEvent* event) {
  if (FDrag == TDrag::Pending &&
      (event->position() - FPressPos).manhattanLength() >= QApplication::startDragDistance()) {
    FDrag = FDragMarks ? TDrag::Mark : TDrag::Pan;
    FMarkStart = xAxis->pixelToCoord(FPressPos.x());
    if (FDrag == TDrag::Pan)
      setCursor(Qt::ClosedHandCursor);
  }
  if (FDrag == TDrag::Pan) {
    PanBottomByPixels(event->position().x() - FPanLastX);
    FPanLastX = event->position().x();
    replot(rpQueuedReplot);
    return;
  }
  if (FDrag == TDrag::Mark) {
    SetMarkedRange(TAxisRange{FMarkStart, xAxis->pixelToCoord(event->position().x())});
    return;
  }
  QCustomPlot::mouseMoveEvent(event);
  if (event->buttons() != Qt::NoButton)
    return;
  const bool over = PointAt(event->position()).has_value();
  if (over && cursor().shape() != Qt::PointingHandCursor) {
    setCursor(Qt::PointingHandCursor);
  } else if (!over && testAttribute(Qt::WA_SetCursor)) {
    unsetCursor();
  }
}

}  // namespace calorix
