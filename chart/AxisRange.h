#pragma once
// A range of one chart axis, as the window and scale maths pass it around.

namespace calorix {

struct TAxisRange {
  double Min = 0.0;
  double Max = 0.0;
  double Size() const { return Max - Min; }
  bool operator==(const TAxisRange&) const = default;
};

}  // namespace calorix
