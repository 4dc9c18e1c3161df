#include "record/MeasurementFile.h"

#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QStringEncoder>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <unistd.h>
#include <cmath>
#include <csignal>
#include <cstring>
#include <limits>
#include <random>

#include "tests/support/PermissionsApply.h"

namespace calorix {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr const char* kCodePage = "windows-1252";

TFormatSettings Ru() {
  TFormatSettings f;
  f.DecimalSeparator = ',';
  f.ThousandSeparator = QChar(0xA0);
  f.TimeSeparator = ':';
  return f;
}

TFormatSettings En() {
  return TFormatSettings{};
}

double Seconds(double s) {
  return s / 86400.0;
}

TMeasurementFileResult Parse(const QByteArray& bytes, const TFormatSettings& local) {
  return ParseMeasurementBytes(bytes, local, local.WithDecimal('.'), local.WithDecimal(','),
                               kCodePage);
}

TMeasurementFileResult Read(const QString& path, const TFormatSettings& local,
                            const TReadProgress& progress = {}) {
  return ReadMeasurementFile(path, local, local.WithDecimal('.'), local.WithDecimal(','), progress,
                             kCodePage);
}

// Same value, NaN equal to NaN.
bool SameValue(double a, double b) {
  if (std::isnan(a) || std::isnan(b))
    return std::isnan(a) && std::isnan(b);
  if (std::isinf(a) || std::isinf(b))
    return a == b;
  return std::fabs(a - b) < 1e-9;
}

void ExpectSamples(const TMeasurementFileResult& r, const std::vector<TFileSample>& expected,
                   const std::string& context) {
  ASSERT_TRUE(r.Ok) << context << ": " << r.Error.toStdString();
  ASSERT_EQ(r.Samples.size(), expected.size()) << context;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_NEAR(r.Samples[i].Time * 86400.0, expected[i].Time * 86400.0, 1e-6)
        << context << " sample " << i;
    EXPECT_TRUE(SameValue(r.Samples[i].Value, expected[i].Value))
        << context << " sample " << i << ": " << r.Samples[i].Value;
  }
}

QByteArray WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  if (!f.open(QIODevice::WriteOnly))
    ADD_FAILURE() << "cannot write " << path.toStdString();
  f.write(bytes);
  return bytes;
}

QByteArray ReadBytes(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly))
    return {};
  return f.readAll();
}

// ---- writer ----

TEST(MeasurementWriter, WritesTimeSemicolonValueWithCrLf) {
  struct TCase {
    const char* Name;
    TFormatSettings Format;
    TFileSample Sample;
    const char* Expected;
  };
  const TCase cases[] = {
      {"ru", Ru(), {Seconds(5), 24.37}, "0:00:05;24,37\r\n"},
      {"en", En(), {Seconds(5), 24.37}, "0:00:05;24.37\r\n"},
      {"ru negative", Ru(), {Seconds(312), -3.5}, "0:05:12;-3,50\r\n"},
      {"25 hours", Ru(), {Seconds(25 * 3600), 20.0}, "25:00:00;20,00\r\n"},
      {"milliseconds cut", En(), {Seconds(59.999), 1.005}, "0:00:59;1.01\r\n"},
      {"NaN", Ru(), {Seconds(1), kNaN}, "0:00:01;NAN\r\n"},
      {"INF", Ru(), {Seconds(1), kInf}, "0:00:01;INF\r\n"},
      {"-INF", Ru(), {Seconds(1), -kInf}, "0:00:01;-INF\r\n"},
      {"tiny negative", En(), {Seconds(1), -0.004}, "0:00:01;0.00\r\n"},
  };
  for (const TCase& c : cases) {
    const TFileSample s[] = {c.Sample};
    EXPECT_EQ(FormatMeasurementFile(s, c.Format, kCodePage), QByteArray(c.Expected)) << c.Name;
  }
}

TEST(MeasurementWriter, EmptyRecordIsZeroBytesWithoutBom) {
  EXPECT_TRUE(FormatMeasurementFile({}, Ru(), kCodePage).isEmpty());
  EXPECT_TRUE(EncodeFileLines(u"", kCodePage).isEmpty());
}

// The writer formats by itself for speed; its text must be the formatters'.
TEST(MeasurementWriter, MatchesFormatElapsedAndFormatFixed2) {
  std::mt19937_64 rng(42);
  std::vector<double> values = {
      0.0,    -0.0,      0.005,      0.015,       1.005,       2.675,      -2.675,      0.125,
      -0.125, 9.995,     99999999.5, 10000000.5,  99999999.99, 1e8,        123456789.0, 1e-9,
      -1e-9,  0.0049999, 5e-3,       1e300,       -1e300,      4.9e-324,   kNaN,        kInf,
      -kInf,  24.37,     -3.5,       1234567.125, 0.994999999, 19947.9947, -19947.9947, 1234567.45};
  std::uniform_real_distribution<double> uni(-1000.0, 1000.0);
  std::uniform_int_distribution<int> digits(-3, 9);
  for (int i = 0; i < 3000; ++i)
    values.push_back(uni(rng) * std::pow(10.0, digits(rng) - 3));
  for (int i = 0; i < 1000; ++i)
    values.push_back(std::round(uni(rng) * 100.0) / 100.0);
  std::vector<double> times = {0.0,
                               Seconds(0.4),
                               Seconds(0.9995),
                               Seconds(1),
                               -Seconds(5),
                               -Seconds(0.5),
                               Seconds(86399),
                               Seconds(86400),
                               400.0,
                               1e12,
                               kNaN,
                               kInf};
  std::uniform_real_distribution<double> days(0.0, 50.0);
  for (int i = 0; i < 1000; ++i)
    times.push_back(days(rng));

  for (const TFormatSettings& f : {Ru(), En()}) {
    std::vector<TFileSample> samples;
    QString expected;
    for (std::size_t i = 0; i < std::max(values.size(), times.size()); ++i) {
      const TFileSample s{times[i % times.size()], values[i % values.size()]};
      samples.push_back(s);
      expected += FormatElapsed(s.Time, f) + ';' + FormatFixed2(s.Value, f) + "\r\n";
    }
    const QByteArray bytes = FormatMeasurementFile(samples, f, kCodePage);
    const QStringList got = QString::fromLatin1(bytes).split("\r\n");
    const QStringList want = expected.split("\r\n");
    ASSERT_EQ(got.size(), want.size());
    for (qsizetype i = 0; i < got.size(); ++i)
      ASSERT_EQ(got[i].toStdString(), want[i].toStdString()) << "sample " << i;
  }
}

// The old writer turned the values-list text into the file; the sample
// writer must give the same bytes.
TEST(MeasurementWriter, EqualsValuesListTextTransformed) {
  const std::vector<TFileSample> samples = {
      {Seconds(5), 24.37}, {Seconds(3600 * 30 + 7), -3.5}, {Seconds(9), kNaN}};
  for (const TFormatSettings& f : {Ru(), En()}) {
    QString memo;
    for (const auto& s : samples)
      memo += FormatElapsed(s.Time, f) + ' ' + FormatFixed2(s.Value, f) + '\n';
    EXPECT_EQ(EncodeFileLines(BlankRunsToSemicolons(memo), kCodePage),
              FormatMeasurementFile(samples, f, kCodePage));
  }
}

TEST(MeasurementWriter, BlankRunsBecomeOneSemicolon) {
  const std::pair<const char*, const char*> cases[] = {
      {"0:00:05 24,37", "0:00:05;24,37"}, {"a   b", "a;b"}, {"  a", ";a"}, {"a\tb", "a\tb"},
      {"a \r\n b", "a;\r\n;b"},           {"", ""},
  };
  for (const auto& [in, out] : cases)
    EXPECT_EQ(BlankRunsToSemicolons(QString::fromLatin1(in)), QString::fromLatin1(out)) << in;
}

TEST(MeasurementWriter, EncodesLinesWithCrLf) {
  const std::pair<QString, QByteArray> cases[] = {
      {"a", "a\r\n"},
      {"a\n", "a\r\n"},
      {"a\r\rb", "a\r\n\r\nb\r\n"},
      {"a\r\nb\n\nc", "a\r\nb\r\n\r\nc\r\n"},
      {"\n", "\r\n"},
      {QString::fromUtf8("\u00e9"), "\xe9\r\n"},
      {QString::fromUtf8("\u4e2d"), "\xEF\xBB\xBF\xE4\xB8\xAD\r\n"},
  };
  for (const auto& [in, out] : cases)
    EXPECT_EQ(EncodeFileLines(in, kCodePage).toHex(), out.toHex()) << in.toStdString();
  EXPECT_EQ(EncodeFileLines(QString::fromUtf8("\u0416"), "windows-1251"), QByteArray("\xC6\r\n"));
}

// Separators outside ASCII still read back: in the code page if it has them,
// else as UTF-8 with a byte-order mark.
TEST(MeasurementWriter, NonAsciiSeparatorsReadBack) {
  TFormatSettings latin = En();
  latin.TimeSeparator = QChar(0xB7);  // middle dot, in windows-1252
  TFormatSettings arabic = En();
  arabic.DecimalSeparator = QChar(0x066B);
  const std::vector<TFileSample> samples = {{Seconds(65), 1.25}, {Seconds(7200), -2.5}};
  for (const TFormatSettings& f : {latin, arabic}) {
    const QByteArray bytes = FormatMeasurementFile(samples, f, kCodePage);
    EXPECT_EQ(bytes.startsWith("\xEF\xBB\xBF"), f.DecimalSeparator.unicode() == 0x066B);
    // Values come back only in the '.' or ',' formats; the times always.
    const auto r = Parse(bytes, f);
    ASSERT_EQ(r.Samples.size(), 2u);
    EXPECT_NEAR(r.Samples[1].Time * 86400, 7200, 1e-6);
  }
  EXPECT_EQ(FormatMeasurementFile(samples, latin, kCodePage).left(9), QByteArray("0\xB7"
                                                                                 "01\xB7"
                                                                                 "05;1"));
}

// ---- saving ----

TEST(MeasurementSave, ReplacesFileContent) {
  QTemporaryDir dir;
  const QString path = dir.filePath("run.csv");
  WriteBytes(path, "old content that is longer\r\n");
  EXPECT_EQ(SaveFileBytes(path, "0:00:05;24,37\r\n"), QString());
  EXPECT_EQ(ReadBytes(path), QByteArray("0:00:05;24,37\r\n"));
  EXPECT_EQ(SaveFileBytes(path, {}), QString());
  EXPECT_EQ(QFileInfo(path).size(), 0);
}

TEST(MeasurementSave, FailureNamesFileAndKeepsOldOne) {
  const test::TPermissionsApply permissions;
  ASSERT_TRUE(permissions.Ok());
  QTemporaryDir dir;
  const QString sub = dir.filePath("ro");
  ASSERT_TRUE(QDir().mkdir(sub));
  const QString path = sub + "/run.csv";
  WriteBytes(path, "0:00:01;1,00\r\n");
  ASSERT_TRUE(QFile::setPermissions(sub, QFile::ReadOwner | QFile::ExeOwner));
  const QString error = SaveFileBytes(path, "0:00:02;2,00\r\n");
  QFile::setPermissions(sub, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  EXPECT_TRUE(error.startsWith("Cannot create file \"")) << error.toStdString();
  EXPECT_TRUE(error.contains(QDir::toNativeSeparators(path))) << error.toStdString();
  EXPECT_EQ(ReadBytes(path), QByteArray("0:00:01;1,00\r\n"));
  EXPECT_FALSE(SaveFileBytes(dir.filePath("missing/run.csv"), "x").isEmpty());
}

// Root passes permission checks, but not the file size limit.
TEST(MeasurementSave, WriteFailureKeepsOldFile) {
  QTemporaryDir dir;
  const QString path = dir.filePath("run.csv");
  WriteBytes(path, "0:00:01;1,00\r\n");
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  const rlimit small{4096, old.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const QString error = SaveFileBytes(path, QByteArray(100'000, 'x'));
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_TRUE(error.startsWith("Cannot create file \"" + QDir::toNativeSeparators(path) + "\". "))
      << error.toStdString();
  EXPECT_EQ(ReadBytes(path), QByteArray("0:00:01;1,00\r\n"));
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"run.csv"}) << "temporary left";
}

// ---- reading ----

TEST(MeasurementReader, RoundTripsInBothLocales) {
  const std::vector<TFileSample> samples = {
      {0, 0},
      {Seconds(5), 24.37},
      {Seconds(312), -3.5},
      {Seconds(59), kNaN},
      {Seconds(60), kInf},
      {Seconds(61), -kInf},
      {Seconds(86399), 99.99},
      {Seconds(25 * 3600), 20},
      {Seconds(1000 * 3600 + 1), 1e7},
      {Seconds(3), 0.01},
  };
  for (const auto& [name, f] : {std::pair{"ru", Ru()}, std::pair{"en", En()}}) {
    QTemporaryDir dir;
    const QString path = dir.filePath("run.csv");
    ASSERT_EQ(SaveFileBytes(path, FormatMeasurementFile(samples, f, kCodePage)), QString());
    const auto r = Read(path, f);
    ExpectSamples(r, samples, name);
    EXPECT_EQ(r.SkippedLines, 0);
    EXPECT_EQ(r.Lines, qint64(samples.size()));
  }
}

struct TLineCase {
  const char* Name;
  QByteArray Text;
  bool English;
  std::vector<TFileSample> Expected;
};

TEST(MeasurementReader, FieldAndTimeRules) {
  const auto s = [](double secs, double v) { return TFileSample{Seconds(secs), v}; };
  const TLineCase cases[] = {
      {"semicolon", "0:00:05;24,37\r\n", false, {s(5, 24.37)}},
      {"blank instead of semicolon", "0:00:05 24,37", false, {s(5, 24.37)}},
      {"blanks around", "  0:00:05 ;  24,37  \r\n", false, {s(5, 24.37)}},
      {"tab", "0:00:05\t24,37", false, {s(5, 24.37)}},
      {"trailing semicolon", "0:00:05;", false, {s(5, kNaN)}},
      {"semicolon then blank", "0:00:05; ", false, {}},
      {"time alone", "0:00:05\r\n", false, {}},
      {"first field no time", "abc;24,37\r\n", false, {}},
      {"third field ignored", "0:00:05;24,37;99", false, {s(5, 24.37)}},
      {"empty field between", "0:00:05;;24,37", false, {s(5, kNaN)}},
      {"empty first field", ";0:00:05;1", false, {}},
      {"quoted", "\"0:00:05\";\"24,37\"", false, {s(5, 24.37)}},
      {"quoted marker", "\"1:00:00 PM\";1", true, {s(13 * 3600, 1)}},
      {"doubled quote", "\"0:0\"\"0\";1", false, {}},
      {"unterminated quote", "\"0:00:05", false, {}},
      {"hours alone", "5;1", false, {s(5 * 3600, 1)}},
      {"hours and minutes", "1:30;1", false, {s(5400, 1)}},
      {"milliseconds ru", "0:00:05,250;1", false, {s(5.25, 1)}},
      {"milliseconds en", "0:00:05.250;1", true, {s(5.25, 1)}},
      {"over a day", "25:00:00;1\r\n1000:00:01;2", false, {s(90000, 1), s(3600001, 2)}},
      {"negative elapsed", "-0:00:05;1", false, {s(-5, 1)}},
      {"99:99:99", "99:99:99;1", false, {}},
      {"minute 60", "0:60:00;1", false, {}},
      {"second 60", "0:00:60;1", false, {}},
      {"millisecond 1000", "0:00:01,1000;1", false, {}},
      {"limits", "0:59:59,999;1", false, {s(3599.999, 1)}},
      {"missing minutes", "1:;1", false, {}},
      {"trailing text", "0:00:05x;1", false, {}},
      {"huge hours", "99999999999999999999:00:00;1", false, {}},
      {"AM attached", "12:00:05AM;1", true, {s(5, 1)}},
      {"PM attached", "12:00:05PM;1", true, {s(12 * 3600 + 5, 1)}},
      {"pm lower case", "1:00:00pm;1", true, {s(13 * 3600, 1)}},
      {"AM before", "AM11:00:00;1", true, {s(11 * 3600, 1)}},
      {"hour 0 with marker", "0:00:05AM;1", true, {}},
      {"hour 13 with marker", "13:00:00PM;1", true, {}},
      {"marker as third field", "12:00:05 AM;24.37", true, {s(12 * 3600 + 5, kNaN)}},
      {"INF", "0:00:01;INF", false, {s(1, kInf)}},
      {"inf", "0:00:01;inf", false, {s(1, kInf)}},
      {"-INF", "0:00:01;-INF", false, {s(1, -kInf)}},
      {"NAN", "0:00:01;NAN", false, {s(1, kNaN)}},
      {"value not a number", "0:00:01;abc", false, {s(1, kNaN)}},
      {"NUL ends the line", QByteArray("0:00:05\0;1", 10), false, {}},
      {"control chars",
       "\x01\x02"
       "0:00:05\x1f;\x1f"
       "2",
       false,
       {s(5, 2)}},
      {"empty lines", "\r\n\r\n0:00:05;1\r\n\r\n", false, {s(5, 1)}},
  };
  for (const TLineCase& c : cases) {
    SCOPED_TRACE(c.Name);
    ExpectSamples(Parse(c.Text, c.English ? En() : Ru()), c.Expected, c.Name);
  }
}

// Plain numbers and times are read by a shortcut; it must agree with the
// full readers on everything it takes.
TEST(MeasurementReader, ShortcutsAgreeWithFullReaders) {
  const char* values[] = {"24,37",
                          "-3,50",
                          "+5",
                          "007",
                          "1,",
                          ",5",
                          "-0",
                          "-0,00",
                          "0,1",
                          "123456789012345",
                          "1234567890123456",
                          "99999999,99",
                          "0,0000001",
                          "1,2,3",
                          "-",
                          ",",
                          "",
                          "1e5",
                          "1,5E-3",
                          "--1",
                          "9007199254740993",
                          "0,30000000000000004",
                          "4,35",
                          "1,005"};
  for (const char* v : values) {
    const auto r = Parse(QByteArray("0:00:01;") + v, Ru());
    ASSERT_EQ(r.Samples.size(), 1u) << v;
    const double full = ParseFloatValue(std::string_view(v), ',');
    EXPECT_TRUE(std::isnan(full) ? std::isnan(r.Samples[0].Value)
                                 : std::memcmp(&full, &r.Samples[0].Value, sizeof full) == 0)
        << v << ": " << r.Samples[0].Value << " vs " << full;
  }
  const char* times[] = {
      "0",         "5",          "0:00:05",    "12:34:56,789", "1:2:3",    "0001:02",
      "123456789", "1234567890", "0:00:05,",   "0::05",        "1:60",     "0:00:05,1000",
      "25:00:00",  "0:00:05:07", "12:00:05AM", "AM12:00:05",   "-0:00:05", "0:00:05 "};
  for (const char* t : times) {
    double expected = 0;
    const bool ok = ParseElapsedTime(QString::fromLatin1(t), Ru(), expected);
    const auto r = Parse(QByteArray("\"") + t + "\";1", Ru());
    ASSERT_EQ(r.Samples.size(), ok ? 1u : 0u) << t;
    if (ok) {
      EXPECT_EQ(r.Samples[0].Time, expected) << t;
    }
  }
}

TEST(MeasurementReader, FirstLineChoosesDecimalSeparator) {
  const auto s = [](double secs, double v) { return TFileSample{Seconds(secs), v}; };
  // The choice does not depend on the user's locale.
  for (const TFormatSettings& f : {Ru(), En()}) {
    ExpectSamples(Parse("0:00:05;24.37\r\n0:00:07;24,50\r\n", f), {s(5, 24.37), s(7, kNaN)},
                  "dot file");
    ExpectSamples(Parse("0:00:05;24,37\r\n0:00:07;24.50\r\n", f), {s(5, 24.37), s(7, kNaN)},
                  "comma file");
    ExpectSamples(Parse("v.2\r\n0:00:05;24.37\r\n", f), {s(5, 24.37)}, "skipped first line");
    ExpectSamples(Parse("0:00:05;24\r\n0:00:07;1.5\r\n", f), {s(5, 24), s(7, kNaN)},
                  "no dot in first line");
  }
}

TEST(MeasurementReader, LineEndsAndEncodings) {
  const auto s = [](double secs, double v) { return TFileSample{Seconds(secs), v}; };
  const std::vector<TFileSample> two = {s(5, 24.37), s(6, -1)};
  const QString text = QStringLiteral("0:00:05;24,37\r\n0:00:06;-1,00\r\n");
  QByteArray utf16le("\xFF\xFE"), utf16be("\xFE\xFF");
  for (QChar c : text) {
    utf16le += char(c.unicode() & 0xFF);
    utf16le += char(c.unicode() >> 8);
    utf16be += char(c.unicode() >> 8);
    utf16be += char(c.unicode() & 0xFF);
  }
  const std::pair<const char*, QByteArray> cases[] = {
      {"CR LF", "0:00:05;24,37\r\n0:00:06;-1,00\r\n"},
      {"CR only", "0:00:05;24,37\r0:00:06;-1,00\r"},
      {"LF only", "0:00:05;24,37\n0:00:06;-1,00\n"},
      {"no final line end", "0:00:05;24,37\n0:00:06;-1,00"},
      {"UTF-8 BOM",
       "\xEF\xBB\xBF"
       "0:00:05;24,37\r\n0:00:06;-1,00\r\n"},
      {"UTF-16 LE", utf16le},
      {"UTF-16 BE", utf16be},
  };
  for (const auto& [name, bytes] : cases) {
    ExpectSamples(Parse(bytes, Ru()), two, name);
    QTemporaryDir dir;
    WriteBytes(dir.filePath("f.csv"), bytes);
    const auto r = Read(dir.filePath("f.csv"), Ru());
    ExpectSamples(r, two, std::string(name) + " from file");
    EXPECT_EQ(r.Lines, 2) << name;
  }
  // "CR CR LF": CR, then CR LF: one empty line between.
  const auto r = Parse("0:00:05;1\r\r\n0:00:06;2", Ru());
  EXPECT_EQ(r.Lines, 3);
  EXPECT_EQ(r.SkippedLines, 1);
}

TEST(MeasurementReader, BadUtf16NeverCrashes) {
  // Lone surrogates, a NUL character and an odd byte at the end.
  const std::u16string units =
      u"0:00:05;1\r\n\xD800\r\n\xDC00"
      u"5;" +
      std::u16string(1, u'\0') + u"\n";
  QByteArray bad("\xFF\xFE");
  for (char16_t u : units) {
    bad += char(u & 0xFF);
    bad += char(u >> 8);
  }
  bad += '7';
  const auto r = Parse(bad, Ru());
  EXPECT_TRUE(r.Ok);
  ExpectSamples(r, {{Seconds(5), 1}}, "bad UTF-16");
  // UTF-16 without a BOM reads as 8-bit text: every line stops at a NUL.
  QByteArray noBom = bad.mid(2);
  EXPECT_TRUE(Parse(noBom, Ru()).Samples.empty());
}

TEST(MeasurementReader, ChunkedReadingEqualsInMemoryParse) {
  // Line ends of every kind, falling at every offset of the read chunks.
  std::mt19937 rng(7);
  QByteArray bytes;
  const char* ends[] = {"\r\n", "\r", "\n"};
  for (int i = 0; bytes.size() < (3 << 20); ++i) {
    bytes += QByteArray::number(i / 3600) + ':' + QByteArray::number(i / 60 % 60 + 10) + ':' +
             QByteArray::number(i % 60 + 10) + ';' + QByteArray::number(i % 100) + ",5";
    if (rng() % 50 == 0)
      bytes += QByteArray(int(rng() % 300), ' ');
    bytes += ends[rng() % 3];
  }
  // A CR LF split right across the first chunk boundary.
  QByteArray split = QByteArray((1 << 20) - 1 - 9, 'x');
  split += "\n0:00:01;1\r\n0:00:02;2\r\n";
  for (const QByteArray& b : {bytes, split}) {
    QTemporaryDir dir;
    WriteBytes(dir.filePath("f.csv"), b);
    const auto file = Read(dir.filePath("f.csv"), Ru());
    const auto memory = Parse(b, Ru());
    ASSERT_TRUE(file.Ok);
    EXPECT_EQ(file.Lines, memory.Lines);
    EXPECT_EQ(file.SkippedLines, memory.SkippedLines);
    ASSERT_EQ(file.Samples.size(), memory.Samples.size());
    for (std::size_t i = 0; i < file.Samples.size(); ++i) {
      ASSERT_EQ(file.Samples[i].Time, memory.Samples[i].Time) << i;
      ASSERT_TRUE(SameValue(file.Samples[i].Value, memory.Samples[i].Value)) << i;
    }
  }
}

TEST(MeasurementReader, BadInputFilesGiveSkippedLines) {
  QTemporaryDir dir;
  struct TCase {
    const char* Name;
    QByteArray Bytes;
    std::size_t Samples;
  };
  std::mt19937 rng(3);
  QByteArray binary(1 << 20, '\0');
  for (char& c : binary)
    c = char(rng());
  const TCase cases[] = {
      {"empty file", {}, 0},
      {"binary", binary, 0},  // at most chance samples: checked below only for no crash
      {"100 KB line", QByteArray(100'000, '7') + ";1\r\n0:00:05;2\r\n", 1},
      {"100 KB value", "0:00:05;" + QByteArray(100'000, '1') + "\r\n", 1},
      {"20 MB line", QByteArray(20 << 20, 'a') + "\r\n0:00:05;2\r\n", 1},
      {"20 MB quoted line", '"' + QByteArray(20 << 20, ' ') + "\n0:00:05;2", 1},
  };
  for (const TCase& c : cases) {
    const QString path = dir.filePath("bad.csv");
    WriteBytes(path, c.Bytes);
    const auto r = Read(path, Ru());
    ASSERT_TRUE(r.Ok) << c.Name;
    if (std::string_view(c.Name) != "binary") {
      EXPECT_EQ(r.Samples.size(), c.Samples) << c.Name;
    }
  }
}

TEST(MeasurementReader, GigabyteFileWithoutLineEnds) {
  QTemporaryDir dir;
  const QString path = dir.filePath("huge.csv");
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_TRUE(f.resize(qint64(1) << 30));  // sparse: zeros
    f.seek(qint64(1) << 30);
    f.write("\n0:00:05;1\r\n");
  }
  int calls = 0;
  const auto r = Read(path, Ru(), [&](std::int64_t, std::int64_t) { return ++calls > 0; });
  ASSERT_TRUE(r.Ok);
  ExpectSamples(r, {{Seconds(5), 1}}, "1 GB");
  EXPECT_EQ(r.SkippedLines, 1);
  EXPECT_LE(calls, 110);
}

TEST(MeasurementReader, OpenFailuresNameTheFile) {
  QTemporaryDir dir;
  const QString locked = dir.filePath("locked.csv");
  WriteBytes(locked, "0:00:05;1\r\n");
  QFile::setPermissions(locked, QFileDevice::Permissions());
  const std::vector<QString> paths = {dir.filePath("missing.csv"), dir.path(), "/dev/null", locked};
  const test::TPermissionsApply permissions;
  ASSERT_TRUE(permissions.Ok());
  for (const QString& path : paths) {
    const auto r = Read(path, Ru());
    EXPECT_FALSE(r.Ok) << path.toStdString();
    EXPECT_TRUE(r.Samples.empty());
    EXPECT_TRUE(r.Error.startsWith("Cannot open file \"" + QDir::toNativeSeparators(path) + "\". "))
        << r.Error.toStdString();
    EXPECT_GT(r.Error.size(), 20 + path.size()) << "no reason given";
  }
}

TEST(MeasurementReader, ProgressIsBoundedAndCanStop) {
  QTemporaryDir dir;
  const QString path = dir.filePath("run.csv");
  std::vector<TFileSample> samples(500'000);
  for (std::size_t i = 0; i < samples.size(); ++i)
    samples[i] = {Seconds(double(i)), 20.5};
  const QByteArray bytes = WriteBytes(path, FormatMeasurementFile(samples, Ru(), kCodePage));
  std::vector<std::int64_t> seen;
  const auto r = Read(path, Ru(), [&](std::int64_t done, std::int64_t total) {
    EXPECT_EQ(total, bytes.size());
    seen.push_back(done);
    return true;
  });
  ASSERT_TRUE(r.Ok);
  EXPECT_EQ(r.Samples.size(), samples.size());
  ASSERT_FALSE(seen.empty());
  EXPECT_LE(seen.size(), 110u);
  EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
  EXPECT_EQ(seen.back(), bytes.size());

  const auto stopped = Read(path, Ru(), [](std::int64_t, std::int64_t) { return false; });
  EXPECT_FALSE(stopped.Ok);
  EXPECT_TRUE(stopped.Error.contains(QDir::toNativeSeparators(path)));
}

}  // namespace
}  // namespace calorix
