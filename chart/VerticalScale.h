#pragma once
// The vertical (temperature) scale: the twelve trackbar steps, the settings
// behind them, re-centring on the captured series and the axis labels.
// Plain maths: the chart widget only applies the ranges computed here.
#include "base/NumberFormat.h"
#include "chart/AxisRange.h"
#include "record/Record.h"

#include <QString>

#include <array>
#include <optional>

namespace calorix {

inline constexpr int kScalePositions = 12;
// The coefficient shown above the trackbar: fixed texts, whatever MaxY is.
inline constexpr std::array<const char*, kScalePositions> ScaleLabels = {
    "1000", "200", "50", "10", "2", "0.5", "0.1", "0.02", "0.005", "0.001", "0.0001", "0.00001"};
inline constexpr std::array<double, kScalePositions> ScaleDivisors = {
    1, 5, 20, 100, 500, 2000, 10000, 50000, 200000, 1000000, 10000000, 100000000};

inline constexpr double kDefaultMaxY = 2000.0;
// Smallest step between labels of the temperature axis.
inline constexpr double kMinScaleStep = 0.0001;

// A trackbar position brought into 0..11 (as the trackbar itself does).
int ClampScalePosition(int position);
// The "MaxY" setting as ScaleMaxY: 0 or below would give an empty or
// reversed range, so it falls back to the default 2000.
double MaxYFromSetting(int value);
// ScaleMaxY as written back to "MaxY".
int MaxYToSetting(double scaleMaxY);

// The range at a trackbar position: symmetric around 0.
TAxisRange ScaleRange(double scaleMaxY, int position);

// Re-centring on the captured series: when the newest value lies outside
// the range, the range keeps its height and is centred on it. A value on an
// end stays; NaN and infinite values never move the range. nullopt: no move.
std::optional<TAxisRange> Recentre(TAxisRange current, double newest);

// "Авто" with a captured series: the range fitted once to its smallest and
// largest finite value, when it has more than two samples.
std::optional<TAxisRange> CaptureFit(const TMeasurementRecord& record);

// A label of the temperature axis, "#,##0.####": thousands grouped, up to
// four decimals, the locale's separators.
QString FormatScaleLabel(double value, const TFormatSettings& format);

}  // namespace calorix
