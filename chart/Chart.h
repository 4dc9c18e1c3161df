#pragma once
// The chart of the graph tab: elapsed time on the bottom axis, temperature
// on the right axis, the measurement series, and the axis operations the
// main window's time window and vertical scale handlers need.
#include "base/NumberFormat.h"
#include "chart/AxisRange.h"
#include "chart/EventMarks.h"
#include "chart/FastLineSeries.h"
#include "record/Record.h"

#include <qcustomplot.h>

#include <QPointer>

#include <array>
#include <memory>
#include <optional>
#include <vector>

namespace calorix {

// The series the chart is created with (one: the measurement series).
inline const std::array<const char*, 1> SeriesNames = {"Temp"};
inline const std::array<QColor, 1> SeriesColors = {QColor(0, 0, 255)};

// A sample of a series under the mouse.
struct TSeriesHit {
  int Series = -1;
  std::size_t Index = 0;
};

class TChart final : public QCustomPlot {
  Q_OBJECT

 public:
  // Narrowest range each axis accepts: a set range below it is widened
  // around its centre. The temperature axis must take the finest trackbar
  // step (±1e-8 with "MaxY" 1), hence its tiny minimum.
  static constexpr double kBottomMinWidth = 1.0 / 86400.0;  // one second
  static constexpr double kRightMinWidth = 1e-10;
  // An automatic temperature range fitted to constant data gets this height.
  static constexpr double kRightFitMinWidth = 0.0002;

  explicit TChart(const TFormatSettings& format, QWidget* parent = nullptr);

  // Hides the legend and creates the series of SeriesNames / SeriesColors
  // over the given records (one per entry). Returns the first series.
  TFastLineSeries* CreateSeries(std::shared_ptr<TMeasurementRecord> record);
  int SeriesCount() const { return int(FSeries.size()); }
  TFastLineSeries* Series(int i) const;
  QString SeriesName(int i) const;
  // Largest time of all series on the bottom axis; 0 when all are empty.
  double RecordLength() const;

  // Bottom axis (elapsed time).
  void SetBottomRange(TAxisRange range);  // also switches automatic off
  TAxisRange BottomRange() const;         // the fitted range while automatic
  void SetBottomAutomatic(bool on);
  bool BottomAutomatic() const { return FBottomAutomatic; }
  // Both ends move by offset. Without limit check always (automatic off);
  // with it only while data lie beyond the end it moves towards.
  void ScrollBottom(double offset, bool checkLimits);

  // Right axis (temperature).
  void SetRightRange(TAxisRange range);  // ordered; also switches automatic off
  TAxisRange RightRange() const;         // the fitted range while automatic
  void SetRightAutomatic(bool on);
  bool RightAutomatic() const { return FRightAutomatic; }
  // Graphs whose values within the time range in view the automatic
  // temperature range takes in beside the series (a running program's setpoints).
  void SetRightFitGraphs(std::vector<QPointer<QCPGraph>> graphs);

  // A replot at the next event loop pass; calls within one pass merge.
  void QueueReplot() { replot(rpQueuedReplot); }

  // The series sample under a widget pixel, if a curve passes near it.
  std::optional<TSeriesHit> PointAt(const QPointF& pixel) const;

  // Mouse navigation. The narrowest time range the wheel gives: one second
  // per this many pixels of the plot.
  static constexpr double kPixelsPerSecondAtMost = 100.0;
  // Each wheel notch narrows (or widens) a range by this factor.
  static constexpr double kWheelZoomFactor = 0.8;
  // Zooms the time axis by `factor` (< 1 narrows) keeping the time under
  // pixel x in place; held between one second per 100 pixels and the
  // length of the record (a wider range stays as wide as it is).
  void ZoomBottomAt(double x, double factor);
  // Zooms the temperature axis keeping the value under pixel y in place.
  void ZoomRightAt(double y, double factor);
  // Moves the time axis by a pixel distance (drag to the right: earlier).
  void PanBottomByPixels(double dx);

  // The time range marked with Shift+drag, if any.
  std::optional<TAxisRange> MarkedRange() const;
  void SetMarkedRange(std::optional<TAxisRange> range);

  // The event log's marks at the top of the plot; over one, the tool tip
  // shows their texts.
  TEventMarks* EventMarks() const { return FEventMarks; }

 signals:
  // A click on a series' curve: the series' number, the sample's index and
  // the mouse button.
  void SeriesClick(int series, std::size_t index, Qt::MouseButton button);
  // The user zoomed or panned the time axis with the mouse.
  void BottomMovedByUser();
  // The user zoomed the temperature axis with the mouse.
  void RightZoomedByUser();
  // Double-click: back to the window the controls give.
  void ViewResetByUser();
  // A range was marked or cleared (Shift+drag, Esc, a click elsewhere).
  void MarkedRangeChanged();

 protected:
  bool event(QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void FitAutomaticAxes();
  std::optional<TAxisRange> DataKeyRange() const;

  TFormatSettings FFormat;
  std::vector<TFastLineSeries*> FSeries;  // owned by the plot
  std::vector<QPointer<QCPGraph>> FRightFitGraphs;
  bool FBottomAutomatic = false;
  bool FRightAutomatic = false;

  enum class TDrag { None, Pending, Pan, Mark };
  TDrag FDrag = TDrag::None;
  bool FDragMarks = false;  // Shift was held at the press
  QPointF FPressPos;
  double FPanLastX = 0;
  double FMarkStart = 0;
  QCPItemRect* FMarkRect = nullptr;  // owned by the plot
  TEventMarks* FEventMarks;          // owned by the plot
};

}  // namespace calorix
