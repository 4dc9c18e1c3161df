#pragma once
// The geometry of the measurement curve on screen: which samples are drawn,
// thinned to a few vertices per pixel column, clipped, with NaN gaps, and
// which sample lies under the mouse. Plain maths over the record, so that
// the series widget only paints what is computed here.
#include "record/Record.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace calorix {

// Where the curve goes: the visible key (time) and value ranges and the
// pixel positions of their ends. Either axis may run in either direction.
struct TCurveView {
  double KeyLower = 0, KeyUpper = 1;      // visible time range
  double XAtLower = 0, XAtUpper = 1;      // pixel x of its ends
  double ValueLower = 0, ValueUpper = 1;  // visible value range
  double YAtLower = 1, YAtUpper = 0;      // pixel y of its ends
  double Margin = 4;                      // clipping keeps this much beyond the ends

  double X(double key) const;
  // Pixel y; infinite values and values too far off for the pixel space
  // land just beyond the edge on their side.
  double Y(double value) const;
  double Key(double x) const;
  double Left() const { return std::min(XAtLower, XAtUpper); }
  double Right() const { return std::max(XAtLower, XAtUpper); }
  double Top() const { return std::min(YAtLower, YAtUpper); }
  double Bottom() const { return std::max(YAtLower, YAtUpper); }
};

struct TPathPoint {
  double X = 0, Y = 0;
  bool operator==(const TPathPoint&) const = default;
};

// Polylines of one curve: polyline i runs from Points[Starts[i]] to the
// point before Starts[i + 1] (or the last point).
struct TLinePath {
  std::vector<TPathPoint> Points;
  std::vector<std::size_t> Starts;
  // Thinned to pixel columns (more samples than columns).
  bool Dense = false;
  std::size_t PolylineCount() const { return Starts.size(); }
  std::size_t PolylineEnd(std::size_t i) const {
    return i + 1 < Starts.size() ? Starts[i + 1] : Points.size();
  }
  void Clear() {
    Points.clear();
    Starts.clear();
    Dense = false;
  }
};

// The samples whose time is in the view, plus the one before and the one
// after so that the line runs out to the edges: [First, Last).
struct TIndexRange {
  std::size_t First = 0, Last = 0;
  std::size_t Count() const { return Last - First; }
};
TIndexRange VisibleSamples(const TMeasurementRecord& record, const TCurveView& view);

// Builds the curve: one vertex per sample while there are at most two
// samples per pixel column, otherwise at most four per column (first,
// smallest, largest, last) taken from the record's levels, so the work
// does not grow with the length of the record. With 256 samples or more a
// column, its ends move to the nearest boundary of a level's block, by at
// most a 32nd of a column. NaN values break the line; segments are clipped
// to the view plus its margin.
void BuildLinePath(const TMeasurementRecord& record, const TCurveView& view, TLinePath& path);

// The screen form of a thinned curve: whole pixel columns, each filled from
// one row to another, in bands of neighbouring columns. Filling a band as
// one shape costs a few spans a row, where drawing the column spans one by
// one costs a span for every row of every column.
struct TPixelBands {
  struct TColumn {
    int X = 0, Top = 0, Bottom = 0;  // pixel column X, rows Top..Bottom - 1
    bool operator==(const TColumn&) const = default;
  };
  std::vector<TColumn> Columns;     // bands one after another, X ascending in each
  std::vector<std::size_t> Starts;  // first column of each band
  std::vector<TPathPoint> Lines;    // pairs of ends: lines between the bands of a polyline
  std::size_t BandEnd(std::size_t i) const {
    return i + 1 < Starts.size() ? Starts[i + 1] : Columns.size();
  }
};

// The pixels a line `halfWidth` thick along the path covers: each run of
// vertices in one column (as BuildLinePath thins them) is a span from the
// highest to the lowest, widened across by halfWidth on each side and
// down by halfWidth around its first and last vertex (where the lines from
// the neighbouring columns arrive), on the pixels whose centres it covers.
// Spans of one polyline sharing a pixel column make one band, the column
// taking the highest and lowest row of both (the line between them stays
// within); spans farther apart are joined by a line.
void BuildPixelBands(const TLinePath& path, double halfWidth, TPixelBands& bands);

// The sample nearest to a pixel, on the curve or its line segments, within
// `tolerance` pixels (a segment gives its nearer end).
std::optional<std::size_t> PointNear(const TMeasurementRecord& record, const TCurveView& view,
                                     double x, double y, double tolerance);

}  // namespace calorix
