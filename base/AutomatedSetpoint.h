#pragma once
// Setpoints that come from automation (a remote script, a broker command):
// they must lie within the limits the user set for programs, scripts and the
// broker, and go on the wire as temperature programs write them, with two
// decimals and '.'. The person at the window ("Изменить") is not bound by this.
#include <limits>
#include <string>
#include <string_view>

namespace calorix {

enum class TSetpointVerdict { Accepted, NotANumber, OutOfLimits };

struct TAutomatedSetpoint {
  TSetpointVerdict Verdict = TSetpointVerdict::NotANumber;
  double Value = std::numeric_limits<double>::quiet_NaN();  // as written, two decimals
  std::string Text;  // the value for the wire: "21.50"; empty unless accepted
  explicit operator bool() const { return Verdict == TSetpointVerdict::Accepted; }
};

// text: a number as a person types it ('.' or ',' as the decimal separator,
// blanks around it, an exponent); it needs a digit and must be finite. The
// value written (rounded to two decimals) must lie within min..max.
TAutomatedSetpoint CheckAutomatedSetpoint(std::string_view text, double min, double max);

}  // namespace calorix
