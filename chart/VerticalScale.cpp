#include "chart/VerticalScale.h"

#include <algorithm>
#include <cmath>

namespace calorix {

int ClampScalePosition(int position) {
  return std::clamp(position, 0, kScalePositions - 1);
}

double MaxYFromSetting(int value) {
  return value > 0 ? double(value) : kDefaultMaxY;
}

int MaxYToSetting(double scaleMaxY) {
  const double v = std::trunc(scaleMaxY + 0.5);
  if (!(v >= 1.0 && v <= 2147483647.0))
    return int(kDefaultMaxY);
  return int(v);
}

TAxisRange ScaleRange(double scaleMaxY, int position) {
  const double half = scaleMaxY / ScaleDivisors[std::size_t(ClampScalePosition(position))];
  return {-half, half};
}

std::optional<TAxisRange> Recentre(TAxisRange current, double newest) {
  if (!std::isfinite(newest))
    return std::nullopt;
  if (newest >= current.Min && newest <= current.Max)
    return std::nullopt;
  const double h = (current.Max - current.Min) * 0.5;
  return TAxisRange{newest - h, newest + h};
}

std::optional<TAxisRange> CaptureFit(const TMeasurementRecord& record) {
  if (record.Count() <= 2)
    return std::nullopt;
  const TMinMax m = record.FiniteValueRange();
  if (m.Empty())
    return std::nullopt;
  return TAxisRange{m.Min, m.Max};
}

QString FormatScaleLabel(double value, const TFormatSettings& format) {
  if (!std::isfinite(value) || std::fabs(value) >= 1e14)
    return FormatGeneral8(value, format);
  const long long q = std::llround(std::fabs(value) * 10000.0);
  const QString whole = QString::number(q / 10000);
  QString out;
  if (value < 0 && q != 0)
    out += '-';
  for (qsizetype i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0)
      out += format.ThousandSeparator;
    out += whole[i];
  }
  if (long long frac = q % 10000) {
    QString digits = QString::number(frac).rightJustified(4, '0');
    while (digits.endsWith('0'))
      digits.chop(1);
    out += format.DecimalSeparator;
    out += digits;
  }
  return out;
}

}  // namespace calorix
