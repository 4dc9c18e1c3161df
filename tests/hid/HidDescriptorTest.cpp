#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "fuzz/DescriptorModel.h"
#include "link/HidDescriptor.h"
#include "link/SimThermostat.h"

namespace calorix {
namespace {

struct TDescriptorCase {
  std::string Name;
  std::vector<uint8_t> Bytes;
  uint16_t In, Out, Feature;
  bool Numbered;
  bool Damaged;
};

class ReportLengths : public ::testing::TestWithParam<TDescriptorCase> {};

TEST_P(ReportLengths, CountAsWindowsDoes) {
  const auto& c = GetParam();
  const auto info = ParseReportDescriptor(c.Bytes.data(), c.Bytes.size());
  EXPECT_EQ(info.InputReportByteLength, c.In);
  EXPECT_EQ(info.OutputReportByteLength, c.Out);
  EXPECT_EQ(info.FeatureReportByteLength, c.Feature);
  EXPECT_EQ(info.NumberedReports, c.Numbered);
  EXPECT_EQ(info.Damaged, c.Damaged);
}

const std::vector<uint8_t> kSim = [] {
  const QByteArray d = TSimThermostat::ReportDescriptor();
  return std::vector<uint8_t>(d.begin(), d.end());
}();

INSTANTIATE_TEST_SUITE_P(
    Descriptors, ReportLengths,
    ::testing::Values(
        TDescriptorCase{"Unnumbered64", kSim, 65, 65, 0, false, false},
        TDescriptorCase{"Numbered",
                        {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08,  //
                         0x85, 0x01, 0x95, 0x08, 0x09, 0x01, 0x81, 0x02,        // id 1: 8 in
                         0x85, 0x02, 0x95, 0x20, 0x09, 0x01, 0x81, 0x02,        // id 2: 32 in
                         0x85, 0x03, 0x95, 0x04, 0x09, 0x01, 0x91, 0x02,        // id 3: 4 out
                         0x85, 0x04, 0x95, 0x02, 0x09, 0x01, 0xB1, 0x02,        // id 4: 2 feature
                         0xC0},
                        33,
                        5,
                        3,
                        true,
                        false},
        // Bits of several items add up before rounding; constant (padding) items count.
        TDescriptorCase{"BitsRoundedOnce",
                        {0x75, 0x01, 0x95, 0x03, 0x81, 0x02, 0x75, 0x05, 0x95, 0x01, 0x81, 0x03,
                         0x75, 0x03, 0x95, 0x01, 0x81, 0x02},
                        3,
                        0,
                        0,
                        false,
                        false},
        // Pop restores size, count and the report ID.
        TDescriptorCase{
            "PushPop",
            {0x75, 0x08, 0x95, 0x04, 0xA4, 0x85, 0x05, 0x95, 0x10, 0x81, 0x02, 0xB4, 0x81, 0x02},
            17,
            0,
            0,
            true,
            false},
        TDescriptorCase{"LongItemSkipped",
                        {0xFE, 0x03, 0x10, 0x81, 0x02, 0x81, 0x75, 0x08, 0x95, 0x02, 0x81, 0x02},
                        3,
                        0,
                        0,
                        false,
                        false},
        TDescriptorCase{"Empty", {}, 0, 0, 0, false, false},
        TDescriptorCase{"TruncatedData", {0x75, 0x08, 0x95}, 0, 0, 0, false, true},
        TDescriptorCase{"TruncatedAfterReport",
                        {0x75, 0x08, 0x95, 0x02, 0x81, 0x02, 0x26, 0xFF},
                        3,
                        0,
                        0,
                        false,
                        true},
        TDescriptorCase{"TruncatedLongItem", {0xFE, 0x10, 0x00, 0x01}, 0, 0, 0, false, true},
        TDescriptorCase{"LongItemWithoutSize", {0xFE}, 0, 0, 0, false, true},
        TDescriptorCase{
            "PopOnEmptyStack", {0xB4, 0x75, 0x08, 0x95, 0x01, 0x91, 0x02}, 0, 2, 0, false, true},
        TDescriptorCase{
            "ReportIdZero", {0x85, 0x00, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02}, 2, 0, 0, true, true},
        TDescriptorCase{"HugeReportSaturates",
                        {0x77, 0xFF, 0xFF, 0xFF, 0xFF, 0x97, 0xFF, 0xFF, 0xFF, 0xFF, 0x81, 0x02},
                        0xFFFF,
                        0,
                        0,
                        false,
                        false}),
    [](const auto& info) { return info.param.Name; });

TEST(ReportDescriptor, TopLevelUsage) {
  const auto sim = ParseReportDescriptor(kSim.data(), kSim.size());
  EXPECT_EQ(sim.UsagePage, 0xFF00);
  EXPECT_EQ(sim.Usage, 1);
  // A 4-byte usage carries its own page.
  const std::vector<uint8_t> extended = {0x0B, 0x01, 0x00, 0x0C, 0x00, 0xA1, 0x01, 0xC0};
  const auto info = ParseReportDescriptor(extended.data(), extended.size());
  EXPECT_EQ(info.UsagePage, 0x000C);
  EXPECT_EQ(info.Usage, 1);
}

TEST(ReportDescriptor, DeepPushIsBounded) {
  std::vector<uint8_t> bytes(100000, 0xA4);
  const auto info = ParseReportDescriptor(bytes.data(), bytes.size());
  EXPECT_TRUE(info.Damaged);
  EXPECT_EQ(info.InputReportByteLength, 0);
}

TEST(ReportDescriptor, NullDataIsEmpty) {
  const auto info = ParseReportDescriptor(nullptr, 10);
  EXPECT_EQ(info.InputReportByteLength, 0);
  EXPECT_FALSE(info.Damaged);
}

// Random well-formed descriptors give the sums of their items; cut anywhere
// they must still be read within bounds (the sanitizers watch) and flagged.
TEST(ReportDescriptor, RandomDescriptorsGiveTheSumsOfTheirItems) {
  std::mt19937 random(7);
  for (int round = 0; round < 3000; ++round) {
    std::vector<uint8_t> choices(random() % 64);
    for (auto& b : choices)
      b = uint8_t(random());
    const auto built = fuzz::BuildDescriptor(choices.data(), choices.size());
    const auto info = ParseReportDescriptor(built.Bytes.data(), built.Bytes.size());
    ASSERT_EQ(info.InputReportByteLength, built.Lengths[0]) << round;
    ASSERT_EQ(info.OutputReportByteLength, built.Lengths[1]) << round;
    ASSERT_EQ(info.FeatureReportByteLength, built.Lengths[2]) << round;
    ASSERT_EQ(info.NumberedReports, built.Numbered) << round;
    ASSERT_FALSE(info.Damaged) << round;
    if (built.Bytes.size() < 2 || built.Bytes.back() == 0xA4 || built.Bytes.back() == 0xB4 ||
        built.Bytes.back() == 0xC0)
      continue;
    // Without its last byte the last item's data is missing.
    const std::vector<uint8_t> cut(built.Bytes.begin(), built.Bytes.end() - 1);
    ASSERT_TRUE(ParseReportDescriptor(cut.data(), cut.size()).Damaged) << round;
  }
}

}  // namespace
}  // namespace calorix
