// The measurement file reader over any bytes, under a Russian and an English
// locale; every sample it reads must survive being written and read again.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "base/NumberFormat.h"
#include "fuzz/Allowance.h"
#include "record/MeasurementFile.h"

namespace calorix {
namespace {

[[noreturn]] void Fail(const char* what, double time, double value) {
  std::fprintf(stderr, "invariant broken: %s (time %.17g days, value %.17g)\n", what, time, value);
  std::abort();
}

TFormatSettings Russian() {
  TFormatSettings f;
  f.DecimalSeparator = ',';
  f.ThousandSeparator = QChar(0xA0);
  f.TimeSeparator = ':';
  return f;
}

TMeasurementFileResult Parse(QByteArrayView bytes, const TFormatSettings& local,
                             const char* codePage) {
  return ParseMeasurementBytes(bytes, local, local.WithDecimal('.'), local.WithDecimal(','),
                               codePage);
}

void CheckRoundTrip(const TFileSample& sample, const TFormatSettings& local, const char* codePage) {
  const QByteArray file = FormatMeasurementFile({&sample, 1}, local, codePage);
  const TMeasurementFileResult back = Parse(file, local, codePage);
  if (!back.Ok || back.Samples.size() != 1)
    Fail("written sample does not read back", sample.Time, sample.Value);
  const TFileSample& got = back.Samples[0];
  // Times are written in whole seconds, milliseconds cut off.
  constexpr double kSecond = 1.0 / 86400.0;
  const double slack = 1e-12 + 1e-15 * std::fabs(sample.Time);
  if (!(got.Time <= sample.Time + slack && got.Time > sample.Time - kSecond - slack))
    Fail("time changed on the way back", sample.Time, got.Time);
  // Values are written with two decimals after rounding to 8 digits.
  const double v = sample.Value;
  if (std::isnan(v) || std::isinf(v)) {
    if (!(std::isnan(v) ? std::isnan(got.Value) : got.Value == v))
      Fail("special value changed on the way back", v, got.Value);
  } else if (std::fabs(v) < 1e300) {
    if (!(std::fabs(got.Value - v) <= fuzz::Fixed2Allowance(v)))
      Fail("value changed on the way back", v, got.Value);
  }
}

}  // namespace
}  // namespace calorix

// Byte 0: bit 0 the locale, bit 1 the 8-bit code page; the rest is the file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace calorix;
  if (size == 0)
    return 0;
  const TFormatSettings local = (data[0] & 1) ? TFormatSettings{} : Russian();
  const char* codePage = (data[0] & 2) ? "windows-1251" : "windows-1252";
  const QByteArrayView bytes(data + 1, qsizetype(size - 1));

  const TMeasurementFileResult r = Parse(bytes, local, codePage);
  if (!r.Ok)
    Fail("bytes in memory failed to parse", 0, 0);
  if (r.Lines < 0 || r.SkippedLines < 0 ||
      std::int64_t(r.Samples.size()) + r.SkippedLines > r.Lines)
    Fail("line counts do not add up", double(r.Lines), double(r.SkippedLines));

  // Elapsed times of up to a few years; the rest is not what a recording holds.
  int checked = 0;
  for (const TFileSample& s : r.Samples) {
    if (checked++ == 16)
      break;
    if (std::isfinite(s.Time) && s.Time >= 0 && s.Time < 2000)
      CheckRoundTrip(s, local, codePage);
  }
  return 0;
}
