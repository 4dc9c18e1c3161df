#pragma once
// Texts of the capture tool and of the click read-out.
#include "app/NumberFormat.h"

#include <QString>

namespace calorix {

// "X = 1:02:05, Y = 36.6": elapsed time with the hours shown in full (a run
// longer than a day reads 25:00:00, not 1:00:00) and the value with up to
// eight significant digits.
QString ReadOutText(double x, double y, const TFormatSettings& format);

// The capture menu's caption of a series: its name, "Пустой" when unnamed.
QString CatchCaption(const QString& seriesName);

}  // namespace calorix
