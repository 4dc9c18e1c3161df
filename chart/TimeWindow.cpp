#include "chart/TimeWindow.h"

#include <QCoreApplication>

#include <cmath>

namespace calorix {

QString FrameCaption(int index) {
  static const std::array<const char*, kFrameCount> captions = {
      QT_TRANSLATE_NOOP("calorix", "5 минут"), QT_TRANSLATE_NOOP("calorix", "15 минут"),
      QT_TRANSLATE_NOOP("calorix", "30 минут"), QT_TRANSLATE_NOOP("calorix", "1 час"),
      QT_TRANSLATE_NOOP("calorix", "2 часа")};
  return QCoreApplication::translate("calorix",
                                     captions[std::size_t(FrameIndexFromSetting(index))]);
}

int FrameIndexFromSetting(int value) {
  return (value >= 0 && value < kFrameCount) ? value : kDefaultFrameIndex;
}

std::optional<TAxisRange> ScrollWithLimit(TAxisRange current, double offset, TMinMax dataX) {
  if (dataX.Empty() || !std::isfinite(offset))
    return std::nullopt;
  const bool forward = offset > 0 && dataX.Max > current.Max;
  const bool backward = offset < 0 && dataX.Min < current.Min;
  if (!forward && !backward)
    return std::nullopt;
  return TAxisRange{current.Min + offset, current.Max + offset};
}

double ElapsedTickStep(double rangeDays, int targetTicks) {
  static constexpr double steps[] = {1,   2,   5,    10,   15,   30,    60,    120,   300,
                                     600, 900, 1800, 3600, 7200, 10800, 21600, 43200, 86400};
  const double seconds = rangeDays * 86400.0 / double(targetTicks > 0 ? targetTicks : 1);
  if (!std::isfinite(seconds))
    return kOneSecond;
  for (double s : steps) {
    if (s >= seconds)
      return s * kOneSecond;
  }
  // Beyond a day: 1, 2 or 5 times a power of ten days.
  const double days = seconds / 86400.0;
  const double magnitude = std::pow(10.0, std::floor(std::log10(days)));
  for (double m : {1.0, 2.0, 5.0, 10.0}) {
    if (m * magnitude >= days)
      return m * magnitude;
  }
  return 10.0 * magnitude;
}

TTimeWindow::TTimeWindow(int frameIndex) : FFrameIndex(FrameIndexFromSetting(frameIndex)) {
  Reset();
}

TAxisRange TTimeWindow::Reset() {
  FWindowMax = FrameLength() / 60.0;
  FWindowMin = FWindowMax - FrameLength();
  FScrollPos = kScrollMax;
  return {FWindowMin, FWindowMax};
}

void TTimeWindow::SetFrame(int index) {
  FFrameIndex = FrameIndexFromSetting(index);
}

TAxisRange TTimeWindow::ApplyFrame(double recordLength) {
  if (FWindowMax <= recordLength)
    FWindowMax = recordLength + FrameLength() / 60.0;
  return {FWindowMax - FrameLength(), FWindowMax};
}

void TTimeWindow::Remember(TAxisRange shown) {
  FWindowMin = shown.Min;
  FWindowMax = shown.Max;
}

double TTimeWindow::ScrollOffset(int position, double recordLength) {
  const double offset =
      double(position - FScrollPos) * recordLength / double(kScrollMax - kScrollMin);
  FScrollPos = position;
  return offset;
}

}  // namespace calorix
