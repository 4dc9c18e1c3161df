#pragma once
// The visible stretch of time on the chart: the frame lengths, the window
// that follows the newest sample, the whole-record switch and the scroll bar
// mapping. Plain maths: the chart widget only applies the ranges computed here.
#include "chart/AxisRange.h"
#include "record/Record.h"

#include <QString>

#include <array>
#include <optional>

namespace calorix {

inline constexpr double kOneSecond = 1.0 / 86400.0;

inline constexpr int kFrameCount = 5;
// 5, 15, 30, 60 and 120 minutes, in days.
inline constexpr std::array<double, kFrameCount> FrameLengths = {1.0 / 288, 1.0 / 96, 1.0 / 48,
                                                                 1.0 / 24, 1.0 / 12};
inline constexpr int kDefaultFrameIndex = 1;
// "5 минут" ... "2 часа"; the menu captions of the frames.
QString FrameCaption(int index);
// The "Frame" setting as a frame index: values without a frame fall back to
// the default 15 minutes.
int FrameIndexFromSetting(int value);

// The scroll bar under the chart runs over 0..100 for the whole record.
inline constexpr int kScrollMin = 0;
inline constexpr int kScrollMax = 100;

// The axis shift "with limit check": forward only while the newest data lie
// beyond the right end, backward only while the oldest lie before the left
// end. nullopt when the window stays (no data, or nothing beyond that end).
std::optional<TAxisRange> ScrollWithLimit(TAxisRange current, double offset, TMinMax dataX);

// Step between time labels: a round number of seconds, minutes, hours or
// days, never below one second, giving about `targetTicks` labels.
double ElapsedTickStep(double rangeDays, int targetTicks);

class TTimeWindow {
 public:
  explicit TTimeWindow(int frameIndex = kDefaultFrameIndex);

  int FrameIndex() const { return FFrameIndex; }
  double FrameLength() const { return FrameLengths[std::size_t(FFrameIndex)]; }
  double WindowMin() const { return FWindowMin; }
  double WindowMax() const { return FWindowMax; }
  int ScrollPos() const { return FScrollPos; }

  // Start-up and a cleared record: time 0 one sixtieth of the frame left of
  // the right end, scroll position 100. Returns the window to show.
  TAxisRange Reset();
  // Selects a frame (an index without a frame falls back to the default).
  void SetFrame(int index);
  // Re-places the window for the current frame: it keeps its right end while
  // that lies after the newest sample, else it moves to the newest sample
  // plus a margin of 1/60 frame. Returns the window to show.
  TAxisRange ApplyFrame(double recordLength);
  // Remembers the window shown when the whole record is switched on.
  void Remember(TAxisRange shown);
  // The axis shift for a scroll bar move to `position`: the whole scroll
  // range stands for the whole record. Remembers the position.
  double ScrollOffset(int position, double recordLength);
  // How far the window moves forward to follow the newest sample.
  double FollowStep() const { return FrameLength() * 0.1; }

 private:
  int FFrameIndex = kDefaultFrameIndex;
  double FWindowMin = 0.0;
  double FWindowMax = 0.0;
  int FScrollPos = kScrollMax;
};

}  // namespace calorix
