#include "chart/LinePath.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace calorix {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A 1000 x 600 plot: time 0..keySpan left to right, values -100..100 bottom
// to top.
TCurveView View(double keyLower, double keyUpper) {
  TCurveView v;
  v.KeyLower = keyLower;
  v.KeyUpper = keyUpper;
  v.XAtLower = 50;
  v.XAtUpper = 1050;
  v.ValueLower = -100;
  v.ValueUpper = 100;
  v.YAtLower = 620;
  v.YAtUpper = 20;
  v.Margin = 4;
  return v;
}

void FillRandom(TMeasurementRecord& r, std::size_t n, unsigned seed, double nanShare) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> value(-150.0, 150.0);
  std::uniform_real_distribution<double> u(0.0, 1.0);
  for (std::size_t i = 0; i < n; ++i) {
    const double p = u(rng);
    double v = value(rng);
    if (p < nanShare) {
      v = kNaN;
    } else if (p < nanShare + 0.005) {
      v = kInf;
    } else if (p < nanShare + 0.01) {
      v = -kInf;
    } else if (p < nanShare + 0.012) {
      v = 1e300;
    }
    r.Add(double(i), v);
  }
}

void ExpectInsideClip(const TLinePath& path, const TCurveView& v) {
  for (const TPathPoint& p : path.Points) {
    ASSERT_TRUE(std::isfinite(p.X) && std::isfinite(p.Y));
    ASSERT_GE(p.X, v.Left() - v.Margin - 1e-9);
    ASSERT_LE(p.X, v.Right() + v.Margin + 1e-9);
    ASSERT_GE(p.Y, v.Top() - v.Margin - 1e-9);
    ASSERT_LE(p.Y, v.Bottom() + v.Margin + 1e-9);
  }
  for (std::size_t i = 0; i < path.PolylineCount(); ++i)
    ASSERT_LT(path.Starts[i], path.PolylineEnd(i));
}

TEST(VisibleSamples, OneSampleBeyondEachEnd) {
  TMeasurementRecord r;
  for (int i = 0; i < 100; ++i)
    r.Add(i, 0);
  struct TCase {
    double Lower, Upper;
    std::size_t First, Last;
  };
  for (auto c : {TCase{10.5, 20.5, 10, 22},
                 {10, 20, 9, 22},
                 {-50, -10, 0, 1},
                 {-5, 200, 0, 100},
                 {150, 160, 99, 100}}) {
    const auto visible = VisibleSamples(r, View(c.Lower, c.Upper));
    EXPECT_EQ(visible.First, c.First) << c.Lower;
    EXPECT_EQ(visible.Last, c.Last) << c.Lower;
  }
}

// Few samples: one vertex per sample, NaN runs split the line.
TEST(LinePath, SparseSamplesAreDrawnAsGivenWithGaps) {
  TMeasurementRecord r;
  const double values[] = {0, 10, kNaN, 20, 30, 40, kNaN, kNaN, 50};
  for (int i = 0; i < 9; ++i)
    r.Add(i, values[i]);
  const TCurveView v = View(0, 8);
  TLinePath path;
  BuildLinePath(r, v, path);
  ASSERT_EQ(path.PolylineCount(), 3u);
  EXPECT_EQ(path.PolylineEnd(0) - path.Starts[0], 2u);
  EXPECT_EQ(path.PolylineEnd(1) - path.Starts[1], 3u);
  EXPECT_EQ(path.PolylineEnd(2) - path.Starts[2], 1u);
  EXPECT_EQ(path.Points[0], (TPathPoint{50, 320}));
  EXPECT_EQ(path.Points[2], (TPathPoint{v.X(3), v.Y(20)}));
}

TEST(LinePath, InfinitiesReachTheEdgeAndFarValuesAreClipped) {
  TMeasurementRecord r;
  const double values[] = {0, kInf, 0, -kInf, 0, 1e300, 0, -1e308, 0};
  for (int i = 0; i < 9; ++i)
    r.Add(i, values[i]);
  const TCurveView v = View(0, 8);
  TLinePath path;
  BuildLinePath(r, v, path);
  ExpectInsideClip(path, v);
  double top = 1e9, bottom = -1e9;
  for (const auto& p : path.Points) {
    top = std::min(top, p.Y);
    bottom = std::max(bottom, p.Y);
  }
  EXPECT_LE(top, v.Top());
  EXPECT_GE(bottom, v.Bottom());
  // The line up to 1e300 leaves the plot almost vertically above the sample before it.
  bool nearFive = false;
  for (const auto& p : path.Points)
    nearFive |= std::fabs(p.X - v.X(4)) < 0.01 && p.Y <= v.Top();
  EXPECT_TRUE(nearFive);
}

// Many samples: per column the drawn span equals the samples' span, and the
// number of vertices is bounded by the width, not by the record length.
// With 256 samples a column or more a column's ends may move by up to a
// 32nd of a column: its span lies between those of the column narrowed and
// widened by that much.
TEST(LinePath, DenseSamplesKeepEveryColumnsExtremes) {
  for (std::size_t n : {5000u, 200000u, 2000000u}) {
    SCOPED_TRACE(n);
    TMeasurementRecord r;
    FillRandom(r, n, unsigned(n), 0.001);
    const TCurveView v = View(-0.5, double(n) - 0.5);
    TLinePath path;
    BuildLinePath(r, v, path);
    ExpectInsideClip(path, v);
    // Four per column, and where the line leaves the plot and comes back
    // the clipping adds the points on the edge.
    EXPECT_LE(path.Points.size(), 8u * 1000 + 8);
    const double step = (v.KeyUpper - v.KeyLower) / 1000;
    const double slack = n / 1000 >= 256 ? step / 32 : 0.0;
    // Brute force: the smallest and largest y of the samples in [a, b)
    // (sample i lies at time i).
    auto span = [&](double a, double b) {
      double lo = kInf, hi = -kInf;
      for (auto i = std::size_t(std::max(0.0, std::ceil(a))); i < n && double(i) < b; ++i) {
        if (std::isnan(r[i].Value))
          continue;
        lo = std::min(lo, std::clamp(v.Y(r[i].Value), v.Top() - v.Margin, v.Bottom() + v.Margin));
        hi = std::max(hi, std::clamp(v.Y(r[i].Value), v.Top() - v.Margin, v.Bottom() + v.Margin));
      }
      return std::pair{lo, hi};
    };
    for (int c = 0; c < 1000; c += 37) {
      const double a = v.KeyLower + c * step, b = a + step;
      const auto inner = span(a + slack, b - slack), outer = span(a - slack, b + slack);
      if (outer.first == kInf)
        continue;
      const double x = v.X(v.KeyLower + (c + 0.5) * step);
      double drawnLo = kInf, drawnHi = -kInf;
      for (const auto& p : path.Points) {
        if (std::fabs(p.X - x) < 1e-6) {
          drawnLo = std::min(drawnLo, p.Y);
          drawnHi = std::max(drawnHi, p.Y);
        }
      }
      // Clipping may cut a column's span at the plot's margin.
      EXPECT_GE(drawnLo, outer.first - 1e-6) << c;
      EXPECT_LE(drawnLo, inner.first + 1e-6) << c;
      EXPECT_LE(drawnHi, outer.second + 1e-6) << c;
      EXPECT_GE(drawnHi, inner.second - 1e-6) << c;
    }
  }
}

TEST(LinePath, NothingToDrawForEmptyOrBrokenViews) {
  TMeasurementRecord r;
  TLinePath path;
  BuildLinePath(r, View(0, 10), path);
  EXPECT_TRUE(path.Points.empty());
  r.Add(1, 1);
  TCurveView bad = View(0, 10);
  bad.KeyUpper = kNaN;
  BuildLinePath(r, bad, path);
  EXPECT_TRUE(path.Points.empty());
  bad = View(5, 5);
  BuildLinePath(r, bad, path);
  EXPECT_TRUE(path.Points.empty());
}

// A thinned curve on screen, a line 2 px thick: a column's span covers the
// pixels whose centres lie within it, widened by 1 px across and by 1 px
// around its first and last vertex; spans sharing a pixel column make one
// band; spans farther apart are joined by a line.
TEST(PixelBands, CoverTheSpansOfTheLineOnWholePixels) {
  using TColumn = TPixelBands::TColumn;
  struct TCase {
    const char* Name;
    std::vector<std::vector<TPathPoint>> Polylines;
    std::vector<std::vector<TColumn>> Bands;
    std::vector<TPathPoint> Lines;
  };
  const TCase cases[] = {
      {"one column, entry and exit inside its span",
       {{{10.5, 100.5}, {10.5, 90.5}, {10.5, 110.5}, {10.5, 105.5}}},
       {{{10, 91, 111}, {11, 91, 111}}},
       {}},
      {"a flat line keeps its thickness",
       {{{10.5, 50.5}, {11.5, 50.5}}},
       {{{10, 50, 52}, {11, 50, 52}, {12, 50, 52}}},
       {}},
      {"a shared pixel column takes both spans",
       {{{10.5, 40.5}, {10.5, 60.5}, {11.5, 70.5}, {11.5, 80.5}}},
       {{{10, 40, 62}, {11, 40, 82}, {12, 70, 82}}},
       {}},
      {"a reversed axis gives the same band",
       {{{11.5, 80.5}, {11.5, 70.5}, {10.5, 60.5}, {10.5, 40.5}}},
       {{{10, 40, 62}, {11, 40, 82}, {12, 70, 82}}},
       {}},
      {"a gap in time is a line between two bands",
       {{{10.5, 50.5}, {20.5, 60.2}}},
       {{{10, 50, 52}, {11, 50, 52}}, {{20, 59, 61}, {21, 59, 61}}},
       {{10.5, 50.5}, {20.5, 60.2}}},
      {"one empty pixel column is a gap too",
       {{{10.5, 50.5}, {12.5, 50.5}}},
       {{{10, 50, 52}, {11, 50, 52}}, {{12, 50, 52}, {13, 50, 52}}},
       {{10.5, 50.5}, {12.5, 50.5}}},
      {"a NaN gap breaks the band",
       {{{10.5, 50.5}}, {{11.5, 50.5}}},
       {{{10, 50, 52}, {11, 50, 52}}, {{11, 50, 52}, {12, 50, 52}}},
       {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TLinePath path;
    path.Dense = true;
    for (const auto& line : c.Polylines) {
      path.Starts.push_back(path.Points.size());
      path.Points.insert(path.Points.end(), line.begin(), line.end());
    }
    TPixelBands bands;
    BuildPixelBands(path, 1.0, bands);
    ASSERT_EQ(bands.Starts.size(), c.Bands.size());
    for (std::size_t i = 0; i < c.Bands.size(); ++i) {
      const std::vector<TColumn> got(bands.Columns.begin() + std::ptrdiff_t(bands.Starts[i]),
                                     bands.Columns.begin() + std::ptrdiff_t(bands.BandEnd(i)));
      EXPECT_EQ(got, c.Bands[i]) << "band " << i;
    }
    EXPECT_EQ(bands.Lines, c.Lines);
  }
}

TEST(PointNear, FindsSamplesAndSegmentsWithinTolerance) {
  TMeasurementRecord r;
  const double values[] = {0, 50, kNaN, 50, 0};
  for (int i = 0; i < 5; ++i)
    r.Add(i * 10, values[i]);
  const TCurveView v = View(0, 40);  // 25 px per time unit
  struct TCase {
    double X, Y;
    std::optional<std::size_t> Index;
  };
  const TCase cases[] = {
      {v.X(10), v.Y(50), 1},                     // on a sample
      {v.X(10) + 3, v.Y(50) - 2, 1},             // near it
      {v.X(10) + 6, v.Y(50) - 6, std::nullopt},  // too far
      {v.X(3), v.Y(15), 0},                      // on the segment, nearer its start
      {v.X(8), v.Y(40), 1},                      // nearer its end
      {v.X(20), v.Y(50), std::nullopt},          // the gap has no line
      {v.X(40), v.Y(0) + 4, 4},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PointNear(r, v, c.X, c.Y, 4.0), c.Index) << c.X << "," << c.Y;
  }
  EXPECT_FALSE(PointNear(r, v, kNaN, 0, 4.0));
  EXPECT_FALSE(PointNear(TMeasurementRecord(), v, v.X(10), v.Y(50), 4.0));
}

}  // namespace
}  // namespace calorix
