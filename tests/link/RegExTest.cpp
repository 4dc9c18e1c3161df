// The product-name patterns.
#include "link/RegEx.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace calorix;

namespace {

struct TMatchCase {
  const char* Pattern;
  const char* Subject;
  bool Match;
};

class RegExMatch : public ::testing::TestWithParam<TMatchCase> {};

TEST_P(RegExMatch, LowerCasesPatternAndSubjectAndSearchesUnanchored) {
  const TMatchCase& c = GetParam();
  TRegEx re(QString::fromUtf8(c.Pattern));
  EXPECT_EQ(re.IsMatch(QString::fromUtf8(c.Subject)), c.Match) << c.Pattern << " ~ " << c.Subject;
}

const char* const kDefault = "thermostat|(usb.{0,}adapter)";

INSTANTIATE_TEST_SUITE_P(
    Names, RegExMatch,
    ::testing::Values(
        TMatchCase{kDefault, "USB Thermostat", true}, TMatchCase{kDefault, "USB-HID Adapter", true},
        TMatchCase{kDefault, "Thermostat adapter", true}, TMatchCase{kDefault, "Adapter", false},
        TMatchCase{kDefault, "ADAPTER USB", false}, TMatchCase{"adapter", "USB-HID Adapter", true},
        TMatchCase{"adapter", "USB Thermostat", false},
        // An upper-case escape turns into its lower-case counterpart.
        TMatchCase{"t\\D", "T5", true}, TMatchCase{"t\\D", "TX", false},
        // A match of zero characters does not count.
        TMatchCase{"x*", "USB Thermostat", false}, TMatchCase{"x*", "", false},
        // Only ASCII letters are lower-cased; UTF-8 subjects are fine.
        TMatchCase{"термостат", "Термостат", false}, TMatchCase{"термостат", "термостат", true}));

TEST(RegEx, ABrokenPatternIsReportedOnceThenNeverMatches) {
  TRegEx re(QStringLiteral("thermo(stat"));
  try {
    re.IsMatch(QStringLiteral("thermostat"));
    FAIL() << "no error for a pattern that does not compile";
  } catch (const std::runtime_error& e) {
    EXPECT_TRUE(QString::fromUtf8(e.what()).startsWith("Error in regular expression at offset "))
        << e.what();
  }
  EXPECT_NO_THROW(EXPECT_FALSE(re.IsMatch(QStringLiteral("thermostat"))));
}

TEST(RegEx, AnEmptyPatternIsAnError) {
  TRegEx re{QString()};
  EXPECT_THROW(re.IsMatch(QStringLiteral("x")), std::runtime_error);
  EXPECT_FALSE(re.IsMatch(QStringLiteral("x")));
}

TEST(RegEx, AsciiLowerLeavesOtherLettersAlone) {
  EXPECT_EQ(AsciiLower(QStringLiteral("NORVIK Ä Ж")), QStringLiteral("norvik Ä Ж"));
}

}  // namespace
