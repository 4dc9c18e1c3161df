#include "chart/ReadOut.h"

#include "app/Messages.h"

namespace calorix {

QString ReadOutText(double x, double y, const TFormatSettings& format) {
  return QStringLiteral("X = ") + FormatElapsed(x, format) + QStringLiteral(", Y = ") +
         FormatGeneral8(y, format);
}

QString CatchCaption(const QString& seriesName) {
  return seriesName.isEmpty() ? LoadStr(1008) : seriesName;
}

}  // namespace calorix
