#pragma once
// Texts of the capture tool and of the click read-out.
#include "base/NumberFormat.h"

#include "record/Record.h"
#include "record/TimeInBand.h"

#include <QString>

namespace calorix {

// "X = 1:02:05, Y = 36.6": elapsed time with the hours shown in full (a run
// longer than a day reads 25:00:00, not 1:00:00) and the value with up to
// eight significant digits.
QString ReadOutText(double x, double y, const TFormatSettings& format);

// The capture menu's caption of a series: its name, "Пустой" when unnamed.
QString CatchCaption(const QString& seriesName);

// The figures of a marked range for the status bar: "Участок 0:12:30,
// 750 изм.: изменение 1.23 °C, 0.0984 °C/мин, мин. 24.1, макс. 25.33,
// среднее 24.71, ско 0.352", with " (пропущено: N)" for samples left out.
// "В участке нет измерений" when none counts.
QString RangeStatsText(const TRangeStats& stats, const TFormatSettings& format);
// The same figures one per line, "name<TAB>value", for the clipboard.
QString RangeStatsTable(const TRangeStats& stats, const TFormatSettings& format);

// "В допуске: 0:12:30", or "Вне допуска".
QString TimeInBandText(std::optional<double> inside, const TFormatSettings& format);

}  // namespace calorix
