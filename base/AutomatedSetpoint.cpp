#include "base/AutomatedSetpoint.h"

#include "base/NumberFormat.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>

namespace calorix {

TAutomatedSetpoint CheckAutomatedSetpoint(std::string_view text, double min, double max) {
  TAutomatedSetpoint out;
  auto outside = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
  while (!text.empty() && outside(text.front()))
    text.remove_prefix(1);
  while (!text.empty() && outside(text.back()))
    text.remove_suffix(1);
  std::string number(text);
  std::replace(number.begin(), number.end(), ',', '.');
  // The reader takes a lone '.' for 0; a setpoint needs a digit.
  const bool digit = std::any_of(number.begin(), number.end(), [](char c) {
    return std::isdigit(static_cast<unsigned char>(c));
  });
  const double v = digit ? ParseFloatValue(number, '.') : std::nan("");
  if (!std::isfinite(v))
    return out;
  // What goes on the wire is what must lie within the limits.
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  std::string written = buf;
  if (written == "-0.00")
    written = "0.00";
  out.Value = ParseFloatValue(written, '.');
  if (!(out.Value >= min && out.Value <= max)) {
    out.Verdict = TSetpointVerdict::OutOfLimits;
    return out;
  }
  out.Verdict = TSetpointVerdict::Accepted;
  out.Text = std::move(written);
  return out;
}

}  // namespace calorix
