#include "base/NumberFormat.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

namespace calorix {
namespace {

bool IsBlank(char c) {
  return static_cast<unsigned char>(c) <= ' ' && c != '\0';
}

char Lower(char c) {
  return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c;
}

bool ContainsInf(std::string_view s) {
  for (std::size_t i = 0; i + 3 <= s.size(); ++i) {
    if (Lower(s[i]) == 'i' && Lower(s[i + 1]) == 'n' && Lower(s[i + 2]) == 'f')
      return true;
  }
  return false;
}

// Decimal digits of |value| rounded to `precision` significant digits, and the
// position of the decimal point relative to the first digit (Delphi's exponent:
// 0.5 has exponent 0, 5 has exponent 1).
struct TDecimal {
  std::string Digits;
  int Exponent = 0;
  bool Negative = false;
};

TDecimal ToDecimal(double value, int precision) {
  TDecimal d;
  d.Negative = std::signbit(value) && value != 0.0;
  if (value == 0.0) {
    d.Digits.assign(1, '0');  // not = "0": GCC 12 warns falsely (-Wrestrict)
    d.Exponent = 1;
    return d;
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*e", precision - 1, std::fabs(value));
  // buf: D.DDDDDDDe[+-]XX
  std::string s(buf);
  auto e = s.find('e');
  for (std::size_t i = 0; i < e; ++i) {
    if (s[i] != '.')
      d.Digits += s[i];
  }
  d.Exponent = std::atoi(s.c_str() + e + 1) + 1;
  return d;
}

QString SpecialText(double value) {
  if (std::isnan(value))
    return QStringLiteral("NAN");
  return value < 0 ? QStringLiteral("-INF") : QStringLiteral("INF");
}

QString Scientific(const TDecimal& d, QChar sep) {
  std::string m = d.Digits;
  while (m.size() > 1 && m.back() == '0')
    m.pop_back();
  QString out;
  if (d.Negative)
    out += '-';
  out += QChar(m[0]);
  if (m.size() > 1) {
    out += sep;
    out += QString::fromLatin1(m.data() + 1, qsizetype(m.size() - 1));
  }
  out += 'E';
  out += QString::number(d.Exponent - 1);
  return out;
}

// Rounds a digit string half away from zero so that it keeps `keep` digits
// (keep may be 0 or negative: everything rounds into a carry).
void RoundDigits(TDecimal& d, int keep) {
  if (keep >= int(d.Digits.size()))
    return;
  if (keep < 0) {
    d.Digits.assign(1, '0');
    d.Exponent = 1;
    return;
  }
  bool up = d.Digits[std::size_t(keep)] >= '5';
  d.Digits.resize(std::size_t(keep));
  if (up) {
    int i = keep - 1;
    while (i >= 0 && d.Digits[std::size_t(i)] == '9') {
      d.Digits[std::size_t(i)] = '0';
      --i;
    }
    if (i >= 0) {
      ++d.Digits[std::size_t(i)];
    } else {
      d.Digits.insert(d.Digits.begin(), '1');
      ++d.Exponent;
    }
  }
  if (d.Digits.empty()) {
    d.Digits.assign(1, '0');
    d.Exponent = 1;
  }
}

}  // namespace

TFormatSettings TFormatSettings::FromLocale(const QLocale& locale) {
  TFormatSettings f;
  QString dec = locale.decimalPoint();
  QString grp = locale.groupSeparator();
  f.DecimalSeparator = dec.isEmpty() ? QChar('.') : dec.at(0);
  f.ThousandSeparator = grp.isEmpty() ? QChar(' ') : grp.at(0);
  // The time separator is the first character of the short time format that is
  // not part of a field (h, m, s, a, t) and not a quote or blank.
  const QString tf = locale.timeFormat(QLocale::ShortFormat);
  for (QChar c : tf) {
    if (!c.isLetter() && c != '\'' && !c.isSpace()) {
      f.TimeSeparator = c;
      break;
    }
  }
  if (!locale.amText().isEmpty())
    f.TimeAMString = locale.amText();
  if (!locale.pmText().isEmpty())
    f.TimePMString = locale.pmText();
  return f;
}

double ParseFloatValue(std::string_view text, char decimalSeparator) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  std::size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b]))
    ++b;
  while (e > b && IsBlank(text[e - 1]))
    --e;
  std::string_view s = text.substr(b, e - b);
  if (ContainsInf(s)) {
    return (!s.empty() && s[0] == '-') ? -std::numeric_limits<double>::infinity()
                                       : std::numeric_limits<double>::infinity();
  }
  // Validate the grammar and copy it in the form from_chars reads.
  char buf[128];
  std::size_t n = 0;
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
    negative = s[i] == '-';
    ++i;
  }
  bool digits = false, separator = false;
  std::string big;  // used only for texts longer than buf
  auto put = [&](char c) {
    if (n < sizeof buf) {
      buf[n++] = c;
    } else {
      if (big.empty())
        big.assign(buf, n);
      big += c;
      ++n;
    }
  };
  for (; i < s.size(); ++i) {
    char c = s[i];
    if (c >= '0' && c <= '9') {
      digits = true;
      put(c);
    } else if (c == decimalSeparator && !separator) {
      separator = true;
      put('.');
    } else {
      break;
    }
  }
  if (!digits && !separator)
    return kNaN;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    put('e');
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
      put(s[i++]);
    bool expDigits = false;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
      put(s[i]);
      expDigits = true;
    }
    if (!expDigits)
      return kNaN;
  }
  if (i != s.size())
    return kNaN;
  if (!digits)
    return negative ? -0.0 : 0.0;  // a lone separator reads as 0
  const char* first = big.empty() ? buf : big.data();
  const char* last = first + n;
  if (*first == '.') {
    // from_chars needs a digit before the point.
    if (big.empty())
      big.assign(buf, n);
    big.insert(big.begin(), '0');
    first = big.data();
    last = first + big.size();
  }
  double v = 0.0;
  auto r = std::from_chars(first, last, v);
  if (r.ec == std::errc::result_out_of_range) {
    // Overflow gives an infinity, underflow zero, as a conversion would.
    v = std::strtod(std::string(first, last).c_str(), nullptr);
  } else if (r.ec != std::errc() || r.ptr != last) {
    return kNaN;
  }
  return negative ? -v : v;
}

double ParseFloatValue(const QString& text, const TFormatSettings& format) {
  const QByteArray bytes = text.toUtf8();
  const QChar sep = format.DecimalSeparator;
  return ParseFloatValue(std::string_view(bytes.constData(), std::size_t(bytes.size())),
                         sep.unicode() < 128 ? char(sep.unicode()) : '.');
}

QString FormatFixed2(double value, const TFormatSettings& format) {
  if (!std::isfinite(value))
    return SpecialText(value);
  const TDecimal eight = ToDecimal(value, 8);
  if (eight.Exponent > 8)
    return Scientific(eight, format.DecimalSeparator);
  // Half up from fifteen digits, which hold the value as it was typed or
  // measured: 1.005 is 1.01, and 19947.9947 is 19947.99, not the 19948.00 a
  // second rounding of its eight-digit form 19947.995 would make.
  TDecimal d = ToDecimal(value, 15);
  RoundDigits(d, std::min(8, d.Exponent + 2));
  if (d.Exponent > 8)
    return Scientific(eight, format.DecimalSeparator);
  QString out;
  bool allZero = d.Digits.find_first_not_of('0') == std::string::npos;
  if (d.Negative && !allZero)
    out += '-';
  // integer part
  if (d.Exponent <= 0) {
    out += '0';
  } else {
    for (int k = 0; k < d.Exponent; ++k)
      out += QChar(k < int(d.Digits.size()) ? d.Digits[std::size_t(k)] : '0');
  }
  out += format.DecimalSeparator;
  for (int k = d.Exponent; k < d.Exponent + 2; ++k) {
    out += QChar((k >= 0 && k < int(d.Digits.size())) ? d.Digits[std::size_t(k)] : '0');
  }
  return out;
}

QString FormatGeneral8(double value, const TFormatSettings& format) {
  if (!std::isfinite(value))
    return SpecialText(value);
  TDecimal d = ToDecimal(value, 8);
  if (value == 0.0)
    return QStringLiteral("0");
  if (d.Exponent > 8 || d.Exponent < -4)
    return Scientific(d, format.DecimalSeparator);
  std::string m = d.Digits;
  while (m.size() > 1 && m.back() == '0' && int(m.size()) > d.Exponent)
    m.pop_back();
  QString out;
  if (d.Negative)
    out += '-';
  if (d.Exponent <= 0) {
    out += '0';
    out += format.DecimalSeparator;
    for (int k = d.Exponent; k < 0; ++k)
      out += '0';
    out += QString::fromLatin1(m.data(), qsizetype(m.size()));
  } else {
    for (int k = 0; k < d.Exponent; ++k)
      out += QChar(k < int(m.size()) ? m[std::size_t(k)] : '0');
    if (int(m.size()) > d.Exponent) {
      out += format.DecimalSeparator;
      out += QString::fromLatin1(m.data() + d.Exponent, qsizetype(m.size()) - d.Exponent);
    }
  }
  return out;
}

QString FormatElapsed(double days, const TFormatSettings& format) {
  if (!std::isfinite(days))
    return SpecialText(days);
  // Round to milliseconds first, as a time stamp would, then cut to seconds.
  const double msD = std::round(std::fabs(days) * 86'400'000.0);
  if (msD > 9.0e15)
    return SpecialText(days > 0 ? INFINITY : -INFINITY);
  const long long ms = static_cast<long long>(msD);
  const long long secs = ms / 1000;
  const long long h = secs / 3600, m = (secs / 60) % 60, s = secs % 60;
  QString out;
  if (days < 0 && ms >= 1000)
    out += '-';
  out += QString::number(h);
  out += format.TimeSeparator;
  out += QString::number(m).rightJustified(2, '0');
  out += format.TimeSeparator;
  out += QString::number(s).rightJustified(2, '0');
  return out;
}

}  // namespace calorix
