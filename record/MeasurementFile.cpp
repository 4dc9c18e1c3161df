#include "record/MeasurementFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSaveFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace calorix {
namespace {

constexpr std::size_t kReadChunk = std::size_t(1) << 20;
// Longer lines are no measurement lines: they are skipped without being kept
// in memory, so a file without line ends cannot exhaust it.
constexpr std::size_t kMaxLine = std::size_t(16) << 20;
constexpr char kUtf8Bom[] = "\xEF\xBB\xBF";
// Powers of ten that a double holds exactly.
constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                             1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

QString FileError(const char* what, const QString& path, const QString& reason) {
  return QStringLiteral("%1 \"%2\". %3")
      .arg(QLatin1String(what), QDir::toNativeSeparators(path), reason);
}

bool IsAscii(QStringView s) {
  for (QChar c : s) {
    if (c.unicode() >= 0x80)
      return false;
  }
  return true;
}

// Encodes `text` in the code page if it round-trips there exactly.
std::optional<QByteArray> EncodeExactly(QStringView text, QByteArrayView codePage) {
  if (IsAscii(text))
    return text.toLatin1();
  QStringEncoder enc(codePage.toByteArray().constData());
  if (!enc.isValid())
    enc = QStringEncoder(QStringConverter::Latin1);
  QByteArray bytes = enc(text);
  if (enc.hasError())
    return std::nullopt;
  QStringDecoder dec(codePage.toByteArray().constData());
  if (dec.isValid() && QString(dec(bytes)) != text)
    return std::nullopt;
  return bytes;
}

// ---- writing samples ----

// The byte forms of the two separators and whether the file needs a BOM.
struct TWriteEncoding {
  QByteArray Time, Decimal;
  bool Utf8 = false;
};

TWriteEncoding ChooseEncoding(const TFormatSettings& f, QByteArrayView codePage) {
  TWriteEncoding e;
  auto time = EncodeExactly(QString(f.TimeSeparator), codePage);
  auto decimal = EncodeExactly(QString(f.DecimalSeparator), codePage);
  if (time && decimal) {
    e.Time = *time;
    e.Decimal = *decimal;
  } else {
    e.Utf8 = true;
    e.Time = QString(f.TimeSeparator).toUtf8();
    e.Decimal = QString(f.DecimalSeparator).toUtf8();
  }
  return e;
}

// Writes one line into a buffer large enough for any line.
class TLineWriter {
 public:
  TLineWriter(const TFormatSettings& f, const TWriteEncoding& e) : f_(f), e_(e) {}

  char* Elapsed(char* p, double days) const {
    const double msD = std::isfinite(days) ? std::round(std::fabs(days) * 86'400'000.0) : 0.0;
    if (!std::isfinite(days) || msD > 9.0e15)
      return Mapped(p, FormatElapsed(days, f_));
    const long long ms = static_cast<long long>(msD);
    const long long secs = ms / 1000;
    if (days < 0 && ms >= 1000)
      *p++ = '-';
    p = std::to_chars(p, p + 20, secs / 3600).ptr;
    p = Bytes(p, e_.Time);
    p = TwoDigits(p, (secs / 60) % 60);
    p = Bytes(p, e_.Time);
    return TwoDigits(p, secs % 60);
  }

  // The text of FormatFixed2: the value rounded half up to hundredths, at
  // most 8 significant digits. Away from a tie every rounding of the value
  // agrees; near one the formatter itself decides.
  char* Fixed2(char* p, double value) const {
    const double a = std::fabs(value);
    if (!std::isfinite(value) || a >= 1e8)
      return Mapped(p, FormatFixed2(value, f_));
    // Units of the last digit kept: hundredths below 10^6, then tenths, then ones.
    const long long unit = a < 1e6 ? 1 : a < 1e7 ? 10 : 100;
    const double scaled = a * (100.0 / double(unit));
    const double floor = std::floor(scaled);
    if (std::fabs(scaled - floor - 0.5) < 1e-4)
      return Mapped(p, FormatFixed2(value, f_));
    const long long hundredths =
        static_cast<long long>(scaled - floor > 0.5 ? floor + 1 : floor) * unit;
    if (hundredths >= 10'000'000'000LL)
      return Mapped(p, FormatFixed2(value, f_));
    if (std::signbit(value) && hundredths != 0)
      *p++ = '-';
    p = std::to_chars(p, p + 20, hundredths / 100).ptr;
    p = Bytes(p, e_.Decimal);
    return TwoDigits(p, hundredths % 100);
  }

 private:
  static char* TwoDigits(char* p, long long v) {
    *p++ = char('0' + v / 10);
    *p++ = char('0' + v % 10);
    return p;
  }

  static char* Bytes(char* p, const QByteArray& b) {
    for (char c : b)
      *p++ = c;
    return p;
  }

  // Text of ASCII and the two separators, at most 24 characters.
  char* Mapped(char* p, const QString& text) const {
    for (QChar c : text.left(24)) {
      if (c == f_.DecimalSeparator) {
        p = Bytes(p, e_.Decimal);
      } else if (c == f_.TimeSeparator) {
        p = Bytes(p, e_.Time);
      } else {
        *p++ = c.unicode() < 0x80 ? char(c.unicode()) : '?';
      }
    }
    return p;
  }

  const TFormatSettings& f_;
  const TWriteEncoding& e_;
};

// ---- reading ----

enum class TEncoding { EightBit, Utf8, Utf16LE, Utf16BE };

bool IsControl(unsigned char c) {
  return c >= 1 && c <= 32;
}

// The usual time field, "h:mm:ss" with ASCII digits and separators, read
// without building a string. Returns 1 when read, 0 when out of range, -1 when
// the field has another form (the full reader decides then).
int FastElapsed(std::string_view t, char timeSep, char decSep, double& days) {
  const char* p = t.data();
  const char* e = p + t.size();
  auto number = [&](long long& v, int maxDigits) {
    const char* start = p;
    v = 0;
    while (p < e && IsDigit(*p) && p - start < maxDigits)
      v = v * 10 + (*p++ - '0');
    return p > start && (p == e || !IsDigit(*p));
  };
  long long hour = 0, min = 0, sec = 0, msec = 0;
  if (timeSep == 0 || !number(hour, 9))
    return -1;
  if (p < e && *p == timeSep) {
    ++p;
    if (!number(min, 9))
      return -1;
    if (p < e && *p == timeSep) {
      ++p;
      if (!number(sec, 9))
        return -1;
      if (p < e && decSep != 0 && *p == decSep) {
        ++p;
        if (!number(msec, 9))
          return -1;
      }
    }
  }
  if (p != e)
    return -1;
  if (min > 59 || sec > 59 || msec > 999)
    return 0;
  const double ms = double(hour) * 3'600'000.0 + double(min * 60'000 + sec * 1000 + msec);
  days = ms / 86'400'000.0;
  return 1;
}

// A plain decimal ("-24,37") of at most 15 digits: digits over an exact power
// of ten is correctly rounded, so it equals what the full number reader gives.
bool FastDecimal(std::string_view t, char sep, double& value) {
  const char* p = t.data();
  const char* e = p + t.size();
  const bool negative = p < e && *p == '-';
  if (p < e && (*p == '-' || *p == '+'))
    ++p;
  long long mantissa = 0;
  int digits = 0, fraction = 0;
  bool separator = false;
  for (; p < e; ++p) {
    if (IsDigit(*p)) {
      if (++digits > 15)
        return false;
      mantissa = mantissa * 10 + (*p - '0');
      fraction += separator ? 1 : 0;
    } else if (*p == sep && !separator) {
      separator = true;
    } else {
      return false;
    }
  }
  if (digits == 0)
    return false;
  const double v = double(mantissa) / kPow10[fraction];
  value = negative ? -v : v;
  return true;
}

// A field of a line: a view into the line, or its own text when a quoted
// field held doubled quotes.
struct TField {
  std::string_view Text;
  std::string Own;
};

class TFileParser {
 public:
  TFileParser(const TFormatSettings& local, const TFormatSettings& dot,
              const TFormatSettings& comma, QByteArrayView codePage, TMeasurementFileResult& out)
      : local_(local),
        dotSep_(AsciiSeparator(dot, '.')),
        commaSep_(AsciiSeparator(comma, ',')),
        codePage_(codePage.toByteArray()),
        out_(out) {}

  // Raw file bytes, in any portions.
  void Feed(const char* data, std::size_t n) {
    if (!encoding_) {
      head_.append(data, n);
      if (head_.size() < 3)
        return;
      Detect();
      return;
    }
    FeedText(data, n);
  }

  void Finish() {
    if (!encoding_)
      Detect();
    ScanLines(true);
  }

 private:
  // 0 for a character outside ASCII, so that the fast paths never match it.
  static char AsciiChar(QChar c) {
    return c.unicode() > 0 && c.unicode() < 0x80 ? char(c.unicode()) : 0;
  }

  static char AsciiSeparator(const TFormatSettings& f, char fallback) {
    const char16_t u = f.DecimalSeparator.unicode();
    return u > 0 && u < 0x80 ? char(u) : fallback;
  }

  void Detect() {
    std::size_t bom = 0;
    const auto* h = reinterpret_cast<const unsigned char*>(head_.data());
    if (head_.size() >= 3 && h[0] == 0xEF && h[1] == 0xBB && h[2] == 0xBF) {
      encoding_ = TEncoding::Utf8;
      bom = 3;
    } else if (head_.size() >= 2 && h[0] == 0xFF && h[1] == 0xFE) {
      encoding_ = TEncoding::Utf16LE;
      bom = 2;
    } else if (head_.size() >= 2 && h[0] == 0xFE && h[1] == 0xFF) {
      encoding_ = TEncoding::Utf16BE;
      bom = 2;
    } else {
      encoding_ = TEncoding::EightBit;
    }
    if (*encoding_ == TEncoding::EightBit) {
      fieldDecoder_ = QStringDecoder(codePage_.constData());
      if (!fieldDecoder_.isValid())
        fieldDecoder_ = QStringDecoder(QStringConverter::Latin1);
    } else {
      // UTF-16 is turned into UTF-8 as it comes, so lines are bytes throughout.
      fieldDecoder_ = QStringDecoder(QStringConverter::Utf8);
      if (*encoding_ != TEncoding::Utf8)
        utf16_ = QStringDecoder(*encoding_ == TEncoding::Utf16LE ? QStringConverter::Utf16LE
                                                                 : QStringConverter::Utf16BE);
    }
    std::string head = std::move(head_);
    head_.clear();
    FeedText(head.data() + bom, head.size() - bom);
  }

  void FeedText(const char* data, std::size_t n) {
    if (n == 0)
      return;
    if (utf16_.isValid()) {
      const QString text = utf16_.decode(QByteArrayView(data, qsizetype(n)));
      const QByteArray utf8 = text.toUtf8();
      work_.append(utf8.constData(), std::size_t(utf8.size()));
    } else {
      work_.append(data, n);
    }
    ScanLines(false);
  }

  static std::size_t FindLineEnd(const char* base, std::size_t from, std::size_t n) {
    const auto* lf = static_cast<const char*>(std::memchr(base + from, '\n', n - from));
    const std::size_t end = lf != nullptr ? std::size_t(lf - base) : n;
    const auto* cr = static_cast<const char*>(std::memchr(base + from, '\r', end - from));
    return cr != nullptr ? std::size_t(cr - base) : end;
  }

  // Position after the line end at i; a CR at the end of the buffer may still
  // be followed by the LF of the next portion.
  std::size_t AfterLineEnd(const char* base, std::size_t i, std::size_t n) {
    if (base[i] == '\n')
      return i + 1;
    if (i + 1 < n)
      return base[i + 1] == '\n' ? i + 2 : i + 1;
    swallowLf_ = true;
    return n;
  }

  void ScanLines(bool eof) {
    const char* base = work_.data();
    const std::size_t n = work_.size();
    std::size_t pos = 0;
    if (swallowLf_ && pos < n) {
      if (base[pos] == '\n')
        ++pos;
      swallowLf_ = false;
    }
    if (discarding_) {
      const std::size_t i = FindLineEnd(base, pos, n);
      if (i == n) {
        work_.clear();
        return;
      }
      discarding_ = false;
      pos = AfterLineEnd(base, i, n);
    }
    for (;;) {
      const std::size_t i = FindLineEnd(base, pos, n);
      if (i == n)
        break;
      Line(base + pos, base + i);
      pos = AfterLineEnd(base, i, n);
    }
    if (eof) {
      if (pos < n)
        Line(base + pos, base + n);
      work_.clear();
    } else if (n - pos > kMaxLine) {
      ChooseSeparator(base + pos, base + n);
      ++out_.Lines;
      ++out_.SkippedLines;
      discarding_ = true;
      work_.clear();
    } else {
      work_.erase(0, pos);
    }
  }

  void ChooseSeparator(const char* b, const char* e) {
    if (valueSep_ != 0)
      return;
    valueSep_ = std::memchr(b, '.', std::size_t(e - b)) != nullptr ? dotSep_ : commaSep_;
  }

  // Splits off at most two fields; a NUL ends the line's text.
  static int SplitFields(const char* p, const char* e, TField (&fields)[2]) {
    int n = 0;
    auto atEnd = [&] { return p == e || *p == '\0'; };
    auto skipControls = [&] {
      while (p < e && IsControl(static_cast<unsigned char>(*p)))
        ++p;
    };
    skipControls();
    while (!atEnd() && n < 2) {
      TField& f = fields[n++];
      if (*p == '"') {
        const char* start = ++p;
        bool doubled = false;
        while (p < e && *p != '\0') {
          if (*p == '"') {
            if (p + 1 < e && p[1] == '"') {
              doubled = true;
              p += 2;
              continue;
            }
            break;
          }
          ++p;
        }
        f.Text = std::string_view(start, std::size_t(p - start));
        if (p < e && *p == '"')
          ++p;
        if (doubled) {
          f.Own.clear();
          for (std::size_t i = 0; i < f.Text.size(); ++i) {
            f.Own += f.Text[i];
            if (f.Text[i] == '"')
              ++i;
          }
          f.Text = f.Own;
        }
      } else {
        const char* start = p;
        while (p<e&& static_cast<unsigned char>(*p)> 32 && *p != ';')
          ++p;
        f.Text = std::string_view(start, std::size_t(p - start));
      }
      skipControls();
      if (p < e && *p == ';') {
        if ((p + 1 == e || p[1] == '\0') && n < 2)
          fields[n++].Text = {};
        ++p;
        skipControls();
      }
    }
    return n;
  }

  bool ParseTime(std::string_view text, double& days) {
    const int fast = FastElapsed(text, timeSep_, msSep_, days);
    if (fast >= 0)
      return fast == 1;
    char16_t wide[64];
    if (text.size() <= std::size(wide)) {
      bool ascii = true;
      for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        ascii = ascii && c < 0x80;
        wide[i] = c;
      }
      if (ascii)
        return ParseElapsedTime(QStringView(wide, qsizetype(text.size())), local_, days);
    }
    fieldDecoder_.resetState();
    const QString decoded =
        fieldDecoder_.decode(QByteArrayView(text.data(), qsizetype(text.size())));
    return ParseElapsedTime(decoded, local_, days);
  }

  void Line(const char* b, const char* e) {
    ChooseSeparator(b, e);
    ++out_.Lines;
    if (SplitFields(b, e, fields_) < 2) {
      ++out_.SkippedLines;
      return;
    }
    double days = 0.0;
    if (!ParseTime(fields_[0].Text, days)) {
      ++out_.SkippedLines;
      return;
    }
    double value = 0.0;
    if (!FastDecimal(fields_[1].Text, valueSep_, value))
      value = ParseFloatValue(fields_[1].Text, valueSep_);
    out_.Samples.push_back({days, value});
  }

  const TFormatSettings& local_;
  const char dotSep_, commaSep_;
  const char timeSep_ = AsciiChar(local_.TimeSeparator);
  const char msSep_ = AsciiChar(local_.DecimalSeparator);
  const QByteArray codePage_;
  TMeasurementFileResult& out_;
  std::optional<TEncoding> encoding_;
  std::string head_;
  QStringDecoder utf16_;
  QStringDecoder fieldDecoder_;
  std::string work_;
  bool swallowLf_ = false;
  bool discarding_ = false;
  char valueSep_ = 0;
  TField fields_[2];
};

}  // namespace

QByteArray SystemCodePage(const QLocale& locale) {
  const char* name = locale.script() == QLocale::CyrillicScript ? "windows-1251" : "windows-1252";
  if (QStringEncoder(name).isValid())
    return name;
  return "ISO-8859-1";
}

QString BlankRunsToSemicolons(QStringView text) {
  QString out;
  out.reserve(text.size());
  bool inRun = false;
  for (QChar c : text) {
    if (c == u' ') {
      if (!inRun)
        out += u';';
      inRun = true;
    } else {
      out += c;
      inRun = false;
    }
  }
  return out;
}

QByteArray EncodeFileLines(QStringView text, QByteArrayView codePage) {
  QString lines;
  lines.reserve(text.size() + text.size() / 8);
  qsizetype start = 0;
  const qsizetype n = text.size();
  for (qsizetype i = 0; i < n; ++i) {
    const QChar c = text[i];
    if (c != u'\r' && c != u'\n')
      continue;
    lines += text.mid(start, i - start);
    lines += u"\r\n";
    if (c == u'\r' && i + 1 < n && text[i + 1] == u'\n')
      ++i;
    start = i + 1;
  }
  if (start < n) {
    lines += text.mid(start);
    lines += u"\r\n";
  }
  if (auto bytes = EncodeExactly(lines, codePage))
    return *bytes;
  return QByteArray(kUtf8Bom) + lines.toUtf8();
}

QByteArray FormatMeasurementFile(std::span<const TFileSample> samples, const TFormatSettings& local,
                                 QByteArrayView codePage) {
  if (samples.empty())
    return {};
  const TWriteEncoding enc = ChooseEncoding(local, codePage);
  const TLineWriter writer(local, enc);
  // Written in place; a line takes far less than kLineRoom bytes even with
  // 4-byte separators or a fallback text.
  constexpr qsizetype kLineRoom = 128;
  QByteArray out;
  out.resize(qsizetype(samples.size()) * 24 + kLineRoom);
  qsizetype used = 0;
  if (enc.Utf8) {
    std::memcpy(out.data(), kUtf8Bom, 3);
    used = 3;
  }
  for (const TFileSample& s : samples) {
    if (out.size() - used < kLineRoom)
      out.resize(out.size() + out.size() / 2 + kLineRoom);
    char* const start = out.data() + used;
    char* p = writer.Elapsed(start, s.Time);
    *p++ = ';';
    p = writer.Fixed2(p, s.Value);
    *p++ = '\r';
    *p++ = '\n';
    used += p - start;
  }
  out.truncate(used);
  return out;
}

QString SaveFileBytes(const QString& path, const QByteArray& bytes) {
  QSaveFile file(path);
  if (!file.open(QIODevice::WriteOnly))
    return FileError("Cannot create file", path, file.errorString());
  if (file.write(bytes) != bytes.size()) {
    const QString reason = file.errorString();
    file.cancelWriting();
    return FileError("Cannot create file", path, reason);
  }
  if (!file.commit())
    return FileError("Cannot create file", path, file.errorString());
  return {};
}

bool ParseElapsedTime(QStringView s, const TFormatSettings& local, double& days) {
  const qsizetype n = s.size();
  qsizetype pos = 0;
  auto skipBlanks = [&] {
    while (pos < n && s[pos] == u' ')
      ++pos;
  };
  auto isDigit = [&] { return pos < n && s[pos] >= u'0' && s[pos] <= u'9'; };
  auto scanString = [&](QStringView symbol) {
    if (symbol.isEmpty())
      return false;
    skipBlanks();
    if (n - pos < symbol.size() ||
        s.mid(pos, symbol.size()).compare(symbol, Qt::CaseInsensitive) != 0)
      return false;
    pos += symbol.size();
    return true;
  };
  // 0 for AM, 12 for PM, -1 for none.
  auto scanMarker = [&] {
    skipBlanks();
    if (pos >= n || isDigit())
      return -1;
    if (scanString(local.TimeAMString) || scanString(u"AM"))
      return 0;
    if (scanString(local.TimePMString) || scanString(u"PM"))
      return 12;
    return -1;
  };
  // Hours are capped well below what a double holds in milliseconds exactly.
  auto scanNumber = [&](long long& v) {
    skipBlanks();
    const qsizetype start = pos;
    v = 0;
    for (; isDigit(); ++pos) {
      v = v * 10 + (s[pos].unicode() - u'0');
      if (v > 1'000'000'000)
        return false;
    }
    return pos > start;
  };
  auto scanChar = [&](QChar c) {
    skipBlanks();
    if (pos < n && s[pos] == c) {
      ++pos;
      return true;
    }
    return false;
  };

  int baseHour = scanMarker();
  const bool negative = baseHour < 0 && scanChar(u'-');
  long long hour = 0, min = 0, sec = 0, msec = 0;
  if (!scanNumber(hour))
    return false;
  if (scanChar(local.TimeSeparator)) {
    if (!scanNumber(min))
      return false;
    if (scanChar(local.TimeSeparator)) {
      if (!scanNumber(sec))
        return false;
      if (scanChar(local.DecimalSeparator) && !scanNumber(msec))
        return false;
    }
  }
  if (baseHour < 0)
    baseHour = scanMarker();
  if (baseHour >= 0) {
    if (negative || hour == 0 || hour > 12)
      return false;
    if (hour == 12)
      hour = 0;
    hour += baseHour;
  }
  skipBlanks();
  if (pos != n || min > 59 || sec > 59 || msec > 999)
    return false;
  const double ms = double(hour) * 3'600'000.0 + double(min * 60'000 + sec * 1000 + msec);
  days = (negative ? -ms : ms) / 86'400'000.0;
  return true;
}

TMeasurementFileResult ParseMeasurementBytes(QByteArrayView bytes, const TFormatSettings& local,
                                             const TFormatSettings& dot,
                                             const TFormatSettings& comma,
                                             QByteArrayView codePage) {
  TMeasurementFileResult result;
  TFileParser parser(local, dot, comma, codePage, result);
  parser.Feed(bytes.data(), std::size_t(bytes.size()));
  parser.Finish();
  result.Ok = true;
  return result;
}

TMeasurementFileResult ReadMeasurementFile(const QString& path, const TFormatSettings& local,
                                           const TFormatSettings& dot, const TFormatSettings& comma,
                                           const TReadProgress& progress, QByteArrayView codePage) {
  TMeasurementFileResult result;
  auto fail = [&](const QString& reason) {
    TMeasurementFileResult failed;
    failed.Error = FileError("Cannot open file", path, reason);
    return failed;
  };
  // Before opening: opening a named pipe waits for a writer, and devices and
  // pipes may never end.
  const QFileInfo info(path);
  if (info.exists() && !info.isFile())
    return fail(QStringLiteral("Not a regular file"));
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    return fail(file.errorString());
  const std::int64_t total = file.size();
  const std::int64_t step = std::max<std::int64_t>(64 * 1024, total / 100);
  std::int64_t done = 0, nextReport = step;
  // A guess from the usual line length; capped, as a file may be anything.
  result.Samples.reserve(std::size_t(std::min<std::int64_t>(total / 16, std::int64_t(1) << 22)));
  TFileParser parser(local, dot, comma, codePage, result);
  std::string buffer(kReadChunk, '\0');
  for (;;) {
    const qint64 got = file.read(buffer.data(), qint64(buffer.size()));
    if (got < 0)
      return fail(file.errorString());
    if (got == 0)
      break;
    parser.Feed(buffer.data(), std::size_t(got));
    done += got;
    if (progress && done >= nextReport) {
      nextReport = done + step;
      if (!progress(done, total))
        return fail(QStringLiteral("Reading was cancelled"));
    }
  }
  parser.Finish();
  if (progress && !progress(done, total))
    return fail(QStringLiteral("Reading was cancelled"));
  result.Ok = true;
  return result;
}

}  // namespace calorix
