#pragma once
// The chart of the graph tab: elapsed time on the bottom axis, temperature
// on the right axis, the measurement series, and the axis operations the
// main window's time window and vertical scale handlers need.
#include "app/NumberFormat.h"
#include "chart/AxisRange.h"
#include "chart/FastLineSeries.h"
#include "chart/Record.h"

#include <qcustomplot.h>

#include <array>
#include <memory>
#include <optional>

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

  // A replot at the next event loop pass; calls within one pass merge.
  void QueueReplot() { replot(rpQueuedReplot); }

  // The series sample under a widget pixel, if a curve passes near it.
  std::optional<TSeriesHit> PointAt(const QPointF& pixel) const;

 signals:
  // A click on a series' curve: the series' number, the sample's index and
  // the mouse button.
  void SeriesClick(int series, std::size_t index, Qt::MouseButton button);

 protected:
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  void FitAutomaticAxes();
  std::optional<TAxisRange> DataKeyRange() const;

  TFormatSettings FFormat;
  std::vector<TFastLineSeries*> FSeries;  // owned by the plot
  bool FBottomAutomatic = false;
  bool FRightAutomatic = false;
};

}  // namespace calorix
