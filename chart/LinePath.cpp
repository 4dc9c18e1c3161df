#include "chart/LinePath.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace calorix {
namespace {

// Maps a value along one axis; off-scale and infinite values end up just
// beyond the side of the edge they lie on.
double MapClamped(double v, double lower, double upper, double atLower, double atUpper,
                  double margin) {
  const double p = atLower + (v - lower) / (upper - lower) * (atUpper - atLower);
  const double lo = std::min(atLower, atUpper), hi = std::max(atLower, atUpper);
  if (std::isinf(v) || std::isnan(p)) {
    // An infinity: just beyond the edge on its side.
    const bool towardsUpper = std::isnan(p) ? v > 0 : (p > atLower) == (atUpper > atLower);
    const double outside = margin * 4;
    return towardsUpper ? atUpper + (atUpper > atLower ? outside : -outside)
                        : atLower + (atUpper > atLower ? -outside : outside);
  }
  // Far-off points are pulled in to 1e7 pixels: the line through the plot
  // turns by less than a tenth of a pixel, and the clipping arithmetic
  // keeps its precision.
  constexpr double kFar = 1e7;
  return std::clamp(p, lo - kFar, hi + kFar);
}

struct TRect {
  double Left, Top, Right, Bottom;
  bool Contains(const TPathPoint& p) const {
    return p.X >= Left && p.X <= Right && p.Y >= Top && p.Y <= Bottom;
  }
};

// Liang-Barsky: the part of a..b inside r as parameters t0 <= t1.
bool ClipSegment(const TPathPoint& a, const TPathPoint& b, const TRect& r, double& t0, double& t1) {
  const double dx = b.X - a.X, dy = b.Y - a.Y;
  t0 = 0.0;
  t1 = 1.0;
  const double p[4] = {-dx, dx, -dy, dy};
  const double q[4] = {a.X - r.Left, r.Right - a.X, a.Y - r.Top, r.Bottom - a.Y};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0.0) {
      if (q[i] < 0.0)
        return false;
    } else {
      const double t = q[i] / p[i];
      if (p[i] < 0.0) {
        if (t > t1)
          return false;
        if (t > t0)
          t0 = t;
      } else {
        if (t < t0)
          return false;
        if (t < t1)
          t1 = t;
      }
    }
  }
  return true;
}

// Collects clipped polylines; Break() ends the current one (a NaN gap).
class TPathBuilder {
 public:
  TPathBuilder(TLinePath& path, const TRect& clip) : FPath(path), FClip(clip) {}

  void Break() {
    FHavePrev = false;
    FOpen = false;
  }

  void Add(TPathPoint p) {
    if (FHavePrev && p == FPrev)
      return;
    if (!FHavePrev) {
      FHavePrev = true;
      FPrev = p;
      FOpen = FClip.Contains(p);
      if (FOpen)
        Start(p);
      return;
    }
    double t0, t1;
    if (ClipSegment(FPrev, p, FClip, t0, t1)) {
      // Inside or not is decided on the points themselves: with far-off
      // ends t rounds to 0 or 1.
      const bool inside = FClip.Contains(p);
      if (!FOpen)
        Start(FClip.Contains(FPrev) ? FPrev : At(p, t0));
      FPath.Points.push_back(inside ? p : At(p, t1));
      FOpen = inside;
    } else {
      FOpen = false;
    }
    FPrev = p;
  }

 private:
  // The point at t on the way from FPrev to p. It lies on the clip edge;
  // with far-off ends the arithmetic cancels, so it is put back onto it.
  TPathPoint At(const TPathPoint& p, double t) const {
    return {std::clamp(FPrev.X + t * (p.X - FPrev.X), FClip.Left, FClip.Right),
            std::clamp(FPrev.Y + t * (p.Y - FPrev.Y), FClip.Top, FClip.Bottom)};
  }

  void Start(TPathPoint p) {
    FPath.Starts.push_back(FPath.Points.size());
    FPath.Points.push_back(p);
  }

  TLinePath& FPath;
  TRect FClip;
  bool FHavePrev = false;
  bool FOpen = false;
  TPathPoint FPrev;
};

bool ValidView(const TCurveView& v) {
  return std::isfinite(v.KeyLower) && std::isfinite(v.KeyUpper) && v.KeyUpper > v.KeyLower &&
         std::isfinite(v.ValueLower) && std::isfinite(v.ValueUpper) &&
         v.ValueUpper > v.ValueLower && std::isfinite(v.XAtLower) && std::isfinite(v.XAtUpper) &&
         std::isfinite(v.YAtLower) && std::isfinite(v.YAtUpper) && v.XAtLower != v.XAtUpper;
}

double DistanceToSegment(double px, double py, const TPathPoint& a, const TPathPoint& b,
                         bool& nearerB) {
  const double dx = b.X - a.X, dy = b.Y - a.Y;
  const double len2 = dx * dx + dy * dy;
  double t = len2 > 0 ? ((px - a.X) * dx + (py - a.Y) * dy) / len2 : 0.0;
  t = std::clamp(t, 0.0, 1.0);
  nearerB = t > 0.5;
  const double cx = a.X + t * dx - px, cy = a.Y + t * dy - py;
  return std::sqrt(cx * cx + cy * cy);
}

// First index in [lo, hi) whose time is >= key, hi when none. Samples are
// mostly evenly spaced, so a guess by interpolation over the range is
// close; a search galloping out from it settles the rest in a few steps,
// and never takes more than twice the steps of a binary search.
std::size_t LowerBoundIn(const TMeasurementRecord& r, double key, std::size_t lo, std::size_t hi) {
  if (lo >= hi || !(r[lo].Time < key))
    return lo;
  if (r[hi - 1].Time < key)
    return hi;
  // Now r[lo] < key <= r[hi - 1]: the answer is in (lo, hi - 1].
  const double t0 = r[lo].Time, t1 = r[hi - 1].Time;
  const double share = (key - t0) / (t1 - t0);
  std::size_t guess = lo + std::size_t(std::clamp(share, 0.0, 1.0) * double(hi - 1 - lo));
  guess = std::clamp(guess, lo + 1, hi - 1);
  // Bracket: r[below] < key <= r[above].
  std::size_t below = lo, above = hi - 1;
  if (r[guess].Time < key) {
    below = guess;
    for (std::size_t step = 1; below + step < above; step *= 2) {
      if (!(r[below + step].Time < key)) {
        above = below + step;
        break;
      }
      below += step;
    }
  } else {
    above = guess;
    for (std::size_t step = 1; above - step > below; step *= 2) {
      if (r[above - step].Time < key) {
        below = above - step;
        break;
      }
      above -= step;
    }
  }
  while (above - below > 1) {
    const std::size_t mid = below + (above - below) / 2;
    if (r[mid].Time < key)
      below = mid;
    else
      above = mid;
  }
  return above;
}

}  // namespace

double TCurveView::X(double key) const {
  return MapClamped(key, KeyLower, KeyUpper, XAtLower, XAtUpper, Margin);
}

double TCurveView::Y(double value) const {
  return MapClamped(value, ValueLower, ValueUpper, YAtLower, YAtUpper, Margin);
}

double TCurveView::Key(double x) const {
  return KeyLower + (x - XAtLower) / (XAtUpper - XAtLower) * (KeyUpper - KeyLower);
}

TIndexRange VisibleSamples(const TMeasurementRecord& record, const TCurveView& view) {
  std::size_t first = record.LowerBound(view.KeyLower);
  std::size_t last = record.UpperBound(view.KeyUpper);
  if (first > 0)
    --first;
  if (last < record.Count())
    ++last;
  return {first, std::max(first, last)};
}

void BuildLinePath(const TMeasurementRecord& record, const TCurveView& view, TLinePath& path) {
  path.Clear();
  if (record.Empty() || !ValidView(view))
    return;
  const TRect clip{view.Left() - view.Margin, view.Top() - view.Margin, view.Right() + view.Margin,
                   view.Bottom() + view.Margin};
  TPathBuilder builder(path, clip);
  auto addSample = [&](std::size_t i) {
    const TSample& s = record[i];
    if (std::isnan(s.Value)) {
      builder.Break();
    } else {
      builder.Add({view.X(s.Time), view.Y(s.Value)});
    }
  };

  const TIndexRange range = VisibleSamples(record, view);
  const auto columns = std::size_t(std::max(1.0, std::ceil(view.Right() - view.Left())));
  if (range.Count() <= 2 * columns) {
    for (std::size_t i = range.First; i < range.Last; ++i)
      addSample(i);
    return;
  }

  // Dense: per pixel column the first, smallest, largest and last value.
  path.Dense = true;
  const std::size_t inFirst = record.LowerBound(view.KeyLower);
  const std::size_t inLast = record.UpperBound(view.KeyUpper);
  if (range.First < inFirst)
    addSample(range.First);
  const double keyStep = (view.KeyUpper - view.KeyLower) / double(columns);
  // With thousands of samples a column, its ends move to the nearest
  // boundary of a level's block, by at most a 32nd of the column: the
  // ranges then come from the levels alone, without the samples at the
  // ends (which is most of the memory a column touches).
  std::size_t snap = 1;
  const std::size_t perColumn = (inLast - inFirst) / columns;
  for (int k = 0; k < TMeasurementRecord::kLevels; ++k) {
    const std::size_t b = TMeasurementRecord::LevelBlock(k);
    if (b * 16 <= perColumn)
      snap = b;
  }
  std::size_t begin = inFirst;
  for (std::size_t c = 0; c < columns; ++c) {
    std::size_t end = inLast;
    if (c + 1 < columns) {
      const double key = view.KeyLower + double(c + 1) * keyStep;
      // A block boundary near where even spacing puts the end is taken when
      // the samples that change columns there lie that close in time: two
      // neighbouring samples to read, where a search reads several apart.
      const double tolerance = keyStep / 32;
      bool snapped = false;
      if (snap > 1 && record[inLast - 1].Time > record[begin].Time) {
        const double share =
            (key - record[begin].Time) / (record[inLast - 1].Time - record[begin].Time);
        const auto guess =
            begin + std::size_t(std::clamp(share, 0.0, 1.0) * double(inLast - 1 - begin));
        const std::size_t moved = (guess + snap / 2) / snap * snap;
        if (moved > begin && moved < inLast && record[moved - 1].Time < key + tolerance &&
            record[moved].Time >= key - tolerance) {
          end = moved;
          snapped = true;
        }
      }
      if (!snapped)
        end = LowerBoundIn(record, key, begin, inLast);
    }
    if (end > begin) {
      const double x = view.X(view.KeyLower + (double(c) + 0.5) * keyStep);
      const double entry = record[begin].Value, exit = record[end - 1].Value;
      const TMinMax m = record.ValueRange(begin, end);
      if (std::isnan(entry))
        builder.Break();
      if (!m.Empty()) {
        if (!std::isnan(entry))
          builder.Add({x, view.Y(entry)});
        // The order of smallest and largest does not show on one column;
        // going towards the exit value keeps the connecting line short.
        const bool rising = !std::isnan(exit) && !std::isnan(entry) && exit >= entry;
        builder.Add({x, view.Y(rising ? m.Min : m.Max)});
        builder.Add({x, view.Y(rising ? m.Max : m.Min)});
        if (!std::isnan(exit))
          builder.Add({x, view.Y(exit)});
      }
      if (std::isnan(exit) || m.Empty())
        builder.Break();
    }
    begin = end;
  }
  if (range.Last > inLast)
    addSample(range.Last - 1);
}

void BuildPixelBands(const TLinePath& path, double halfWidth, TPixelBands& bands) {
  bands.Columns.clear();
  bands.Starts.clear();
  bands.Lines.clear();
  const double h = std::max(halfWidth, 0.5);
  // Pixels whose centre lies in (a, b], at least one (the rule the raster
  // engine fills a stroke by).
  auto pixels = [](double a, double b) {
    const int first = int(std::floor(a - 0.5)) + 1;
    return std::pair{first, std::max(first + 1, int(std::floor(b - 0.5)) + 1)};
  };
  const auto& p = path.Points;
  for (std::size_t i = 0; i < path.PolylineCount(); ++i) {
    const std::size_t begin = path.Starts[i], end = path.PolylineEnd(i);
    // Runs in ascending x, whichever way the axis runs.
    const bool descending = p[end - 1].X < p[begin].X;
    std::size_t previousEnd = 0;  // the vertex ending the previous run
    bool open = false;
    for (std::size_t n = 0; n < end - begin;) {
      auto at = [&](std::size_t m) { return descending ? end - 1 - m : begin + m; };
      const double x = p[at(n)].X;
      double top = p[at(n)].Y, bottom = top;
      std::size_t runEnd = n + 1;
      for (; runEnd < end - begin && p[at(runEnd)].X == x; ++runEnd) {
        top = std::min(top, p[at(runEnd)].Y);
        bottom = std::max(bottom, p[at(runEnd)].Y);
      }
      // Across: the line's width. Down: the span itself, and the line's
      // width around the first and last vertex, where the lines from the
      // neighbouring columns arrive.
      const double first = p[at(n)].Y, last = p[at(runEnd - 1)].Y;
      const auto [left, right] = pixels(x - h, x + h);
      const auto [rowTop, rowBottom] =
          pixels(std::min({top, first - h, last - h}), std::max({bottom, first + h, last + h}));
      if (open && left > bands.Columns.back().X) {
        bands.Lines.push_back(p[previousEnd]);
        bands.Lines.push_back(p[at(n)]);
        open = false;
      }
      if (!open) {
        bands.Starts.push_back(bands.Columns.size());
        open = true;
      }
      for (int q = left; q < right; ++q) {
        const int lastX =
            bands.Columns.size() > bands.Starts.back() ? bands.Columns.back().X : q - 1;
        if (q <= lastX) {
          auto& c = bands.Columns[bands.Columns.size() - 1 - std::size_t(lastX - q)];
          c.Top = std::min(c.Top, rowTop);
          c.Bottom = std::max(c.Bottom, rowBottom);
        } else {
          bands.Columns.push_back({q, rowTop, rowBottom});
        }
      }
      previousEnd = at(runEnd - 1);
      n = runEnd;
    }
  }
}

std::optional<std::size_t> PointNear(const TMeasurementRecord& record, const TCurveView& view,
                                     double x, double y, double tolerance) {
  if (record.Empty() || !ValidView(view) || !std::isfinite(x) || !std::isfinite(y) ||
      !(tolerance >= 0))
    return std::nullopt;
  const double k0 = view.Key(x - tolerance), k1 = view.Key(x + tolerance);
  std::size_t first = record.LowerBound(std::min(k0, k1));
  std::size_t last = record.UpperBound(std::max(k0, k1));
  if (first > 0)
    --first;
  if (last < record.Count())
    ++last;
  std::optional<std::size_t> best;
  double bestDistance = tolerance;
  auto point = [&](std::size_t i) {
    return TPathPoint{view.X(record[i].Time), view.Y(record[i].Value)};
  };
  for (std::size_t i = first; i < last; ++i) {
    if (std::isnan(record[i].Value))
      continue;
    const TPathPoint a = point(i);
    const double d = std::hypot(a.X - x, a.Y - y);
    if (d <= bestDistance) {
      bestDistance = d;
      best = i;
    }
    if (i + 1 < last && !std::isnan(record[i + 1].Value)) {
      bool nearerB = false;
      const double ds = DistanceToSegment(x, y, a, point(i + 1), nearerB);
      if (ds < bestDistance) {
        bestDistance = ds;
        best = nearerB ? i + 1 : i;
      }
    }
  }
  return best;
}

}  // namespace calorix
