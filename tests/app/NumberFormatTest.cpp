#include "base/NumberFormat.h"

#include <gtest/gtest.h>

#include <QLocale>

#include <cmath>
#include <limits>
#include <ostream>

// Readable QString values in failure messages.
static void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}

namespace calorix {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TFormatSettings Dot() {
  return TFormatSettings{}.WithDecimal('.');
}
TFormatSettings Comma() {
  return TFormatSettings{}.WithDecimal(',');
}

struct TParseCase {
  const char* Text;
  char Separator;
  double Expected;  // NaN: no number
};

void PrintTo(const TParseCase& c, std::ostream* os) {
  *os << "'" << c.Text << "' with '" << c.Separator << "'";
}

class ParseFloatValueTest : public ::testing::TestWithParam<TParseCase> {};

TEST_P(ParseFloatValueTest, ReadsOnlyTheNumberGrammar) {
  const TParseCase& c = GetParam();
  for (double v : {ParseFloatValue(std::string_view(c.Text), c.Separator),
                   ParseFloatValue(QString::fromUtf8(c.Text), Dot().WithDecimal(c.Separator))}) {
    if (std::isnan(c.Expected)) {
      EXPECT_TRUE(std::isnan(v)) << v;
    } else {
      EXPECT_EQ(v, c.Expected);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseFloatValueTest,
    ::testing::Values(
        TParseCase{"25.31", '.', 25.31}, TParseCase{" 25.31 ", '.', 25.31},
        TParseCase{"\t25.31\r", '.', 25.31}, TParseCase{"-3.5", '.', -3.5},
        TParseCase{"+3.5", '.', 3.5}, TParseCase{".", '.', 0.0}, TParseCase{"5.", '.', 5.0},
        TParseCase{".5", '.', 0.5}, TParseCase{"-.5", '.', -0.5}, TParseCase{"1e3", '.', 1000.0},
        TParseCase{"1E+2", '.', 100.0}, TParseCase{"2.5e-1", '.', 0.25},
        TParseCase{"1e", '.', kNaN}, TParseCase{"1e+", '.', kNaN}, TParseCase{"e5", '.', kNaN},
        TParseCase{"1,5", '.', kNaN}, TParseCase{"1,5", ',', 1.5}, TParseCase{"1.5", ',', kNaN},
        TParseCase{"inf", '.', kInf}, TParseCase{"INF", '.', kInf}, TParseCase{" Inf ", ',', kInf},
        TParseCase{"-inf", '.', -kInf}, TParseCase{"-INF", ',', -kInf},
        TParseCase{"abc", '.', kNaN}, TParseCase{"", '.', kNaN}, TParseCase{"   ", '.', kNaN},
        TParseCase{"-", '.', kNaN}, TParseCase{"--5", '.', kNaN}, TParseCase{"- 5", '.', kNaN},
        TParseCase{"1.2.3", '.', kNaN}, TParseCase{"1,234.5", '.', kNaN},
        TParseCase{"1.234,5", ',', kNaN}, TParseCase{"1 234", '.', kNaN},
        TParseCase{"12abc", '.', kNaN}, TParseCase{".abc", '.', kNaN}, TParseCase{"-.x", '.', kNaN},
        TParseCase{"0x10", '.', kNaN}, TParseCase{"nan", '.', kNaN}, TParseCase{"1e400", '.', kInf},
        TParseCase{"1e-400", '.', 0.0}));

TEST(ParseFloatValueLongTest, VeryLongDigitStringsAreRead) {
  const std::string ones(5000, '1');
  EXPECT_EQ(ParseFloatValue("0." + std::string(300, '0') + "1", '.'), 1e-301);
  EXPECT_TRUE(std::isinf(ParseFloatValue(ones, '.')));
  EXPECT_TRUE(std::isnan(ParseFloatValue(ones + "x", '.')));
}

struct TFormatCase {
  double Value;
  const char* Dot;
  const char* Comma;
};

TEST(FormatFixed2Test, TwoDecimalsRoundedHalfUp) {
  const TFormatCase cases[] = {
      {24.37, "24.37", "24,37"},
      {-3.5, "-3.50", "-3,50"},
      {25, "25.00", "25,00"},
      {0, "0.00", "0,00"},
      {24.125, "24.13", "24,13"},
      {1.005, "1.01", "1,01"},
      {0.005, "0.01", "0,01"},
      {-0.005, "-0.01", "-0,01"},
      {0.0049, "0.00", "0,00"},
      {-0.001, "0.00", "0,00"},
      {-0.0, "0.00", "0,00"},
      {99.999, "100.00", "100,00"},
      {19947.9947, "19947.99", "19947,99"},  // not rounded twice via 19947.995
      {0.0049999, "0.00", "0,00"},
      {12345678.9, "12345679.00", "12345679,00"},  // 8 significant digits first
      {99999999.4, "99999999.00", "99999999,00"},
      {123456789, "1.2345679E8", "1,2345679E8"},
      {-123456789, "-1.2345679E8", "-1,2345679E8"},
      {1e20, "1E20", "1E20"},
      {kInf, "INF", "INF"},
      {-kInf, "-INF", "-INF"},
      {kNaN, "NAN", "NAN"},
  };
  for (const TFormatCase& c : cases) {
    EXPECT_EQ(FormatFixed2(c.Value, Dot()), c.Dot) << c.Value;
    EXPECT_EQ(FormatFixed2(c.Value, Comma()), c.Comma) << c.Value;
  }
}

TEST(FormatGeneral8Test, ShortestTextWithEightDigits) {
  const TFormatCase cases[] = {
      {36.6, "36.6", "36,6"},
      {-2.5, "-2.5", "-2,5"},
      {100, "100", "100"},
      {0, "0", "0"},
      {0.00001, "0.00001", "0,00001"},
      {0.000001, "1E-6", "1E-6"},
      {0.0000015, "1.5E-6", "1,5E-6"},
      {12345678, "12345678", "12345678"},
      {1.23456789, "1.2345679", "1,2345679"},
      {123456789, "1.2345679E8", "1,2345679E8"},
      {kInf, "INF", "INF"},
      {kNaN, "NAN", "NAN"},
  };
  for (const TFormatCase& c : cases) {
    EXPECT_EQ(FormatGeneral8(c.Value, Dot()), c.Dot) << c.Value;
    EXPECT_EQ(FormatGeneral8(c.Value, Comma()), c.Comma) << c.Value;
  }
}

TEST(FormatElapsedTest, HoursMinutesSecondsWithoutDayFolding) {
  const std::pair<double, const char*> cases[] = {
      {0, "0:00:00"},
      {5.0 / 86400, "0:00:05"},
      {0.999 / 86400, "0:00:00"},  // milliseconds are cut off
      {5.999 / 86400, "0:00:05"},
      {312.0 / 86400, "0:05:12"},
      {3661.0 / 86400, "1:01:01"},
      {25.0 / 24, "25:00:00"},
      {100.0, "2400:00:00"},
  };
  for (const auto& [days, expected] : cases) {
    EXPECT_EQ(FormatElapsed(days, Dot()), expected) << days * 86400 << " s";
  }
  TFormatSettings dotted = Dot();
  dotted.TimeSeparator = '.';
  EXPECT_EQ(FormatElapsed(3661.0 / 86400, dotted), "1.01.01");
  // Every whole second from 0 to one day reads back exactly.
  for (int s = 0; s <= 86400; s += 7) {
    const QString text = FormatElapsed(s / 86400.0, Dot());
    const QStringList parts = text.split(':');
    ASSERT_EQ(parts.size(), 3) << text.toStdString();
    EXPECT_EQ(parts[0].toInt() * 3600 + parts[1].toInt() * 60 + parts[2].toInt(), s);
  }
}

TEST(FormatSettingsTest, FromLocaleTakesTheDecimalSeparator) {
  const TFormatSettings ru =
      TFormatSettings::FromLocale(QLocale(QLocale::Russian, QLocale::Russia));
  EXPECT_EQ(ru.DecimalSeparator, QChar(','));
  EXPECT_EQ(ru.TimeSeparator, QChar(':'));
  EXPECT_EQ(FormatFixed2(-3.5, ru), "-3,50");

  const TFormatSettings en =
      TFormatSettings::FromLocale(QLocale(QLocale::English, QLocale::UnitedStates));
  EXPECT_EQ(en.DecimalSeparator, QChar('.'));
  EXPECT_EQ(en.TimeSeparator, QChar(':'));
  EXPECT_EQ(FormatFixed2(-3.5, en), "-3.50");

  EXPECT_EQ(ru.WithDecimal('.').DecimalSeparator, QChar('.'));
  EXPECT_EQ(ru.WithDecimal('.').TimeSeparator, ru.TimeSeparator);
}

}  // namespace
}  // namespace calorix
