#include "chart/ReadOut.h"
#include "chart/TimeWindow.h"
#include "chart/VerticalScale.h"

#include <gtest/gtest.h>

#include "tests/chart/Printers.h"

#include <cmath>
#include <limits>

namespace calorix {
namespace {

constexpr double kSec = 1.0 / 86400.0;
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TFormatSettings Dot() {
  return TFormatSettings{};
}
TFormatSettings Comma() {
  TFormatSettings f;
  f.DecimalSeparator = ',';
  f.ThousandSeparator = QChar(0x00A0);
  return f;
}

TEST(ScaleTable, RangesAtEveryPosition) {
  struct TCase {
    int Position;
    const char* Label;
    double Half2000;
  };
  const TCase cases[] = {
      {0, "1000", 2000},  {1, "200", 400},     {2, "50", 100},         {3, "10", 20},
      {4, "2", 4},        {5, "0.5", 1},       {6, "0.1", 0.2},        {7, "0.02", 0.04},
      {8, "0.005", 0.01}, {9, "0.001", 0.002}, {10, "0.0001", 0.0002}, {11, "0.00001", 0.00002}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Position);
    EXPECT_STREQ(ScaleLabels[std::size_t(c.Position)], c.Label);
    const TAxisRange r = ScaleRange(2000, c.Position);
    EXPECT_DOUBLE_EQ(r.Max, c.Half2000);
    EXPECT_DOUBLE_EQ(r.Min, -c.Half2000);
    // The labels stay; the ranges follow MaxY.
    EXPECT_DOUBLE_EQ(ScaleRange(100, c.Position).Max, c.Half2000 / 20);
  }
  EXPECT_EQ(ScaleRange(100, 0), (TAxisRange{-100, 100}));
}

TEST(ScaleTable, SettingsAreBroughtIntoRange) {
  struct TCase {
    int In, Out;
  };
  for (auto c : {TCase{15, 11}, {-3, 0}, {0, 0}, {11, 11}, {5, 5}})
    EXPECT_EQ(ClampScalePosition(c.In), c.Out) << c.In;
  for (auto [in, out] :
       {std::pair{2000, 2000.0}, {100, 100.0}, {1, 1.0}, {0, 2000.0}, {-5, 2000.0}})
    EXPECT_EQ(MaxYFromSetting(in), out) << in;
  EXPECT_EQ(MaxYToSetting(MaxYFromSetting(137)), 137);
  EXPECT_EQ(MaxYToSetting(kNaN), 2000);
}

TEST(ScaleRecentre, FollowsTheNewestValueOnly) {
  TAxisRange r = ScaleRange(2000, 4);  // -4..4
  auto moved = Recentre(r, 25.0);
  ASSERT_TRUE(moved);
  EXPECT_EQ(*moved, (TAxisRange{21, 29}));
  r = *moved;
  EXPECT_FALSE(Recentre(r, 28.5));
  EXPECT_FALSE(Recentre(r, 29.0));  // on the end
  EXPECT_FALSE(Recentre(r, 21.0));
  moved = Recentre(r, 30.0);
  ASSERT_TRUE(moved);
  EXPECT_EQ(*moved, (TAxisRange{26, 34}));
  for (double v : {kNaN, kInf, -kInf})
    EXPECT_FALSE(Recentre(r, v)) << v;
  moved = Recentre(r, -10.0);
  ASSERT_TRUE(moved);
  EXPECT_EQ(*moved, (TAxisRange{-14, -6}));
}

TEST(ScaleRecentre, CaptureFitNeedsMoreThanTwoSamples) {
  TMeasurementRecord r;
  r.Add(0, 20);
  r.Add(1, 30);
  EXPECT_FALSE(CaptureFit(r));
  r.Add(2, kInf);
  r.Add(3, kNaN);
  r.Add(4, 10);
  ASSERT_TRUE(CaptureFit(r));
  EXPECT_EQ(*CaptureFit(r), (TAxisRange{10, 30}));
  TMeasurementRecord gaps;
  for (int i = 0; i < 3; ++i)
    gaps.Add(i, kNaN);
  EXPECT_FALSE(CaptureFit(gaps));
}

TEST(ScaleLabel, GroupsThousandsAndKeepsFourDecimals) {
  struct TCase {
    double Value;
    const char* Dot;
    const char* Comma;
  };
  const TCase cases[] = {
      {0, "0", "0"},
      {1234567.5, "1,234,567.5", "1\u00A0234\u00A0567,5"},
      {-2000, "-2,000", "-2\u00A0000"},
      {0.0001, "0.0001", "0,0001"},
      {0.00002, "0", "0"},  // below the last decimal
      {-0.00002, "0", "0"},
      {0.30000000000000004, "0.3", "0,3"},
      {999.99996, "1,000", "1\u00A0000"},
      {25.12346, "25.1235", "25,1235"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FormatScaleLabel(c.Value, Dot()), QString::fromUtf8(c.Dot)) << c.Value;
    EXPECT_EQ(FormatScaleLabel(c.Value, Comma()), QString::fromUtf8(c.Comma)) << c.Value;
  }
  EXPECT_EQ(FormatScaleLabel(kInf, Dot()), "INF");
  EXPECT_EQ(FormatScaleLabel(kNaN, Dot()), "NAN");
  EXPECT_FALSE(FormatScaleLabel(1e200, Dot()).isEmpty());
}

TEST(FrameTable, LengthsCaptionsAndSetting) {
  const double minutes[] = {5, 15, 30, 60, 120};
  const char* captions[] = {"5 минут", "15 минут", "30 минут", "1 час", "2 часа"};
  for (int i = 0; i < kFrameCount; ++i) {
    EXPECT_DOUBLE_EQ(FrameLengths[std::size_t(i)], minutes[i] * 60 * kSec);
    EXPECT_EQ(FrameCaption(i), QString::fromUtf8(captions[i]));
    EXPECT_EQ(FrameIndexFromSetting(i), i);
  }
  for (int bad : {-1, 5, 100})
    EXPECT_EQ(FrameIndexFromSetting(bad), 1) << bad;
  TTimeWindow w(7);
  EXPECT_EQ(w.FrameIndex(), 1);
}

TEST(TimeWindow, DefaultWindowAndFollowStep) {
  TTimeWindow w;
  const TAxisRange r = w.Reset();
  EXPECT_NEAR(r.Min, -(14 * 60 + 45) * kSec, 1e-12);
  EXPECT_NEAR(r.Max, 15 * kSec, 1e-12);
  EXPECT_NEAR(w.FollowStep(), 90 * kSec, 1e-12);
  EXPECT_EQ(w.ScrollPos(), 100);
  for (int i = 0; i < kFrameCount; ++i) {
    w.SetFrame(i);
    EXPECT_DOUBLE_EQ(w.FollowStep(), FrameLengths[std::size_t(i)] / 10);
  }
}

TEST(TimeWindow, ApplyFrameKeepsARightEndAfterTheNewestSample) {
  TTimeWindow w;  // window ends at 15 s
  w.SetFrame(0);
  TAxisRange r = w.ApplyFrame(10 * kSec);
  EXPECT_NEAR(r.Max, 15 * kSec, 1e-12);
  EXPECT_NEAR(r.Min, 15 * kSec - 300 * kSec, 1e-12);
  // The newest sample at or past the right end: to the sample plus 1/60.
  w.SetFrame(4);
  r = w.ApplyFrame(15 * kSec);
  EXPECT_NEAR(r.Max, 15 * kSec + 120 * kSec, 1e-12);
  EXPECT_NEAR(r.Size(), FrameLengths[4], 1e-12);
  EXPECT_NEAR(w.WindowMax(), r.Max, 1e-15);
}

TEST(TimeWindow, ScrollOffsetIsRelativeToTheLastPosition) {
  TTimeWindow w;
  const double length = 2.0 / 24;
  EXPECT_DOUBLE_EQ(w.ScrollOffset(0, length), -length);
  EXPECT_EQ(w.ScrollPos(), 0);
  EXPECT_DOUBLE_EQ(w.ScrollOffset(100, length), length);
  EXPECT_DOUBLE_EQ(w.ScrollOffset(99, length), -length / 100);
  EXPECT_EQ(w.ScrollOffset(99, 0.0), 0.0);  // empty record
  w.Reset();
  EXPECT_EQ(w.ScrollPos(), 100);
}

TEST(TimeWindow, ScrollWithLimitMovesOnlyTowardsData) {
  const TAxisRange r{0, 10};
  struct TCase {
    double Offset;
    TMinMax Data;
    bool Moves;
  };
  const TCase cases[] = {
      {1, {0, 11}, true},   {1, {0, 10}, false},      {-1, {-1, 5}, true},     {-1, {0, 5}, false},
      {0, {-5, 15}, false}, {1, {kNaN, kNaN}, false}, {kNaN, {-5, 15}, false},
  };
  for (const auto& c : cases) {
    const auto moved = ScrollWithLimit(r, c.Offset, c.Data);
    EXPECT_EQ(moved.has_value(), c.Moves) << c.Offset << " " << c.Data.Min << ".." << c.Data.Max;
    if (moved) {
      EXPECT_EQ(*moved, (TAxisRange{c.Offset, 10 + c.Offset}));
    }
  }
}

TEST(TimeWindow, TickStepsAreRoundAndAtLeastOneSecond) {
  struct TCase {
    double RangeSeconds;
    double StepSeconds;
  };
  for (auto c : {TCase{1, 1},
                 {3, 1},
                 {20, 5},
                 {300, 60},
                 {900, 300},
                 {7200, 1800},
                 {86400 * 3, 86400},
                 {86400 * 40, 86400 * 10}})
    EXPECT_DOUBLE_EQ(ElapsedTickStep(c.RangeSeconds * kSec, 5) / kSec, c.StepSeconds)
        << c.RangeSeconds;
  EXPECT_EQ(ElapsedTickStep(kNaN, 5), kSec);
  EXPECT_EQ(ElapsedTickStep(0, 5), kSec);
}

TEST(ReadOut, TextShowsElapsedHoursInFull) {
  EXPECT_EQ(ReadOutText((3600 + 125) * kSec, 36.6, Dot()), "X = 1:02:05, Y = 36.6");
  EXPECT_EQ(ReadOutText((3600 + 125) * kSec, 36.6, Comma()), "X = 1:02:05, Y = 36,6");
  EXPECT_EQ(ReadOutText(25.0 / 24, -0.125, Dot()), "X = 25:00:00, Y = -0.125");
  EXPECT_EQ(ReadOutText(0, kNaN, Dot()), "X = 0:00:00, Y = NAN");
  EXPECT_EQ(CatchCaption("Temp"), "Temp");
  EXPECT_EQ(CatchCaption(""), QString::fromUtf8("Пустой"));
}

TEST(TimeInBand, EdgesOfTheBand) {
  // Setpoint 25, band 0.5 (exact in binary): equal to the band is inside.
  struct TStep {
    double Now, Temperature;
    bool Inside;
    double Since;  // seconds inside so far
  };
  const TStep steps[] = {
      {0, 26.0, false, 0},   {10, 25.5, true, 0},        {20, 24.5, true, 10},
      {30, 25.25, true, 20}, {40, 25.5000001, false, 0}, {50, 24.4999999, false, 0},
      {60, 25.0, true, 0},   {75, 25.0, true, 15},
  };
  TTimeInBand band;
  for (const TStep& s : steps) {
    SCOPED_TRACE(s.Now);
    const auto got = band.Update(s.Now * kSec, s.Temperature, 25.0, 0.5);
    ASSERT_EQ(got.has_value(), s.Inside);
    if (s.Inside) {
      EXPECT_NEAR(*got, s.Since * kSec, 1e-12);
    }
  }
  EXPECT_EQ(TimeInBandText(750 * kSec, Dot()), QString::fromUtf8("В допуске: 0:12:30"));
  EXPECT_EQ(TimeInBandText(std::nullopt, Dot()), QString::fromUtf8("Вне допуска"));
}

}  // namespace
}  // namespace calorix
