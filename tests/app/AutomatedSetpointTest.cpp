// Setpoints from scripts and the broker: within the limits, written with two decimals.
#include "base/AutomatedSetpoint.h"

#include <gtest/gtest.h>

#include <string>

namespace calorix {
namespace {

TEST(AutomatedSetpoint, WithinTheLimitsAndWrittenWithTwoDecimals) {
  using V = TSetpointVerdict;
  struct TCase {
    std::string Text;
    V Verdict;
    const char* Written;  // on the wire when accepted
  } const cases[] = {
      {"25", V::Accepted, "25.00"},
      {" 25.5\r", V::Accepted, "25.50"},
      {"25,5", V::Accepted, "25.50"},
      {"+25", V::Accepted, "25.00"},
      {".5", V::Accepted, "0.50"},
      {"1e2", V::Accepted, "100.00"},
      {"-0.001", V::Accepted, "0.00"},
      {"21.126", V::Accepted, "21.13"},
      {"-50", V::Accepted, "-50.00"},
      {"150", V::Accepted, "150.00"},
      {"150.004", V::Accepted, "150.00"},  // what is written lies within
      {"0." + std::string(4000, '0') + "1", V::Accepted, "0.00"},
      {"150.01", V::OutOfLimits, ""},
      {"-50.01", V::OutOfLimits, ""},
      {"250", V::OutOfLimits, ""},
      {"1" + std::string(4000, '0'), V::NotANumber, ""},  // infinite
      {"1e39", V::OutOfLimits, ""},
      {".", V::NotANumber, ""},
      {"", V::NotANumber, ""},
      {"abc", V::NotANumber, ""},
      {"inf", V::NotANumber, ""},
      {"nan", V::NotANumber, ""},
      {"25 26", V::NotANumber, ""},
      {"1\r2", V::NotANumber, ""},
  };
  for (const auto& c : cases) {
    const TAutomatedSetpoint s = CheckAutomatedSetpoint(c.Text, -50.0, 150.0);
    const std::string shown = c.Text.substr(0, 20);
    EXPECT_EQ(s.Verdict, c.Verdict) << shown;
    EXPECT_EQ(s.Text, c.Written) << shown;
    EXPECT_EQ(bool(s), c.Verdict == V::Accepted) << shown;
  }
}

}  // namespace
}  // namespace calorix
