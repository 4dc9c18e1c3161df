// The number reader over any text: both entries must agree, and what the
// formatters make of a value must read back as that value.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "base/NumberFormat.h"
#include "fuzz/Allowance.h"

namespace calorix {
namespace {

void Check(bool ok, const char* what, std::string_view text) {
  if (ok)
    return;
  std::fprintf(stderr, "invariant broken: %s for '%.*s'\n", what, int(text.size()), text.data());
  std::abort();
}

bool Same(double a, double b) {
  return std::isnan(a) ? std::isnan(b) : std::memcmp(&a, &b, sizeof a) == 0;
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80)
      return false;
  }
  return true;
}

// Formatted text reads back within the rounding the formatter applied.
void CheckRoundTrip(double value, const QString& text, const TFormatSettings& format,
                    double allowed, const char* what) {
  const double back = ParseFloatValue(text, format);
  const QByteArray utf8 = text.toUtf8();
  const std::string_view shown(utf8.constData(), std::size_t(utf8.size()));
  if (std::isnan(value) || std::isinf(value)) {
    Check(Same(back, value), what, shown);
    return;
  }
  Check(std::fabs(back - value) <= allowed, what, shown);
}

}  // namespace
}  // namespace calorix

// Byte 0 picks the decimal separator; the rest is the text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace calorix;
  if (size == 0)
    return 0;
  const char separator = (data[0] & 1) ? ',' : '.';
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  TFormatSettings format;
  format.DecimalSeparator = QLatin1Char(separator);
  format.ThousandSeparator = separator == ',' ? QChar(0xA0) : QChar(',');

  const double value = ParseFloatValue(text, separator);
  if (IsAscii(text)) {
    const double viaQt =
        ParseFloatValue(QString::fromLatin1(text.data(), qsizetype(text.size())), format);
    Check(Same(value, viaQt), "8-bit and QString readers disagree", text);
  }
  // Subnormals carry too few digits, and the largest values round up to
  // infinity at 8 digits.
  if (std::isfinite(value) && value != 0 && (std::fabs(value) < 1e-300 || std::fabs(value) > 1e300))
    return 0;
  CheckRoundTrip(value, FormatGeneral8(value, format), format, fuzz::General8Allowance(value),
                 "general format round trip");
  CheckRoundTrip(value, FormatFixed2(value, format), format, fuzz::Fixed2Allowance(value),
                 "fixed format round trip");
  return 0;
}
