// What a subscriber reads: topics and payloads, and the bound on what waits
// while the broker is away.
#include "publish/MqttClient.h"
#include "publish/Outbox.h"
#include "publish/Payloads.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace calorix {
namespace {

TEST(Publish, TopicsAndPayloads) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct {
    std::string Got, Want;
  } cases[] = {
      {ThermostatTopic("calorix", "A123", "temperature"), "calorix/A123/temperature"},
      {ThermostatTopic("lab/bath", "a/b+c#", "setpoint/set"), "lab/bath/a_b_c_/setpoint/set"},
      {ThermostatTopic("calorix", "", "online"), "calorix/_/online"},
      {ClientStatusTopic("calorix", "calorix-pc-42"), "calorix/clients/calorix-pc-42/status"},
      {FormatReading(24.37), "24.37"},
      {FormatReading(25.0), "25.00"},
      {FormatReading(-0.5), "-0.50"},
      {FormatReading(24.375), "24.375"},
      {FormatReading(1e20), "100000000000000000000.00"},
      {FormatReading(nan), "nan"},
      {FormatReading(-inf), "-inf"},
      {SampleJson({1'700'000'000'123, 12.3456, 24.37, 25.0, 0}),
       R"({"time": "2023-11-14T22:13:20.123Z", "elapsed": 12.346, "temperature": 24.37, )"
       R"("setpoint": 25.00, "protection": 0})"},
      {SampleJson({0, std::nullopt, nan, inf, std::nullopt}),
       R"({"time": "1970-01-01T00:00:00.000Z", "elapsed": null, "temperature": null, )"
       R"("setpoint": null, "protection": null})"},
      {PrintableText("a\x1b[31mb\\\x7f\xc2\x85"), "a\\x1b[31mb\\\\\\x7f\\x85"},
      {PrintableText("Т1\u202e\xff"), "Т1\\u{202e}\ufffd"},
      {PrintableText("abcdef", 3), "abc..."},
      {ProgramJson("running", 2, "Ступень \"А\"\n"),
       "{\"state\": \"running\", \"step\": 2, \"name\": \"Ступень \\\"А\\\"\\u000a\"}"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(c.Got, c.Want);
}

TEST(Publish, OutboxKeepsTheNewestAndEveryRetainedTopic) {
  TOutbox box(3);
  for (int i = 1; i <= 5; ++i)
    box.Push({"t", std::to_string(i), false});
  box.Remember("s/setpoint", "24.00");
  box.Remember("s/setpoint", "25.00");
  box.Remember("s/online", "1");
  EXPECT_EQ(box.Size(), 3u);
  EXPECT_EQ(box.Dropped(), 2u);
  std::string order;
  while (auto m = box.Pop())
    order += m->Payload;
  EXPECT_EQ(order, "345");
  const auto retained = box.Retained();
  ASSERT_EQ(retained.size(), 2u);
  EXPECT_EQ(retained[0].Topic + "=" + retained[0].Payload, "s/online=1");
  EXPECT_EQ(retained[1].Topic + "=" + retained[1].Payload, "s/setpoint=25.00");
  EXPECT_EQ(TOutbox().Size(), 0u);
  TOutbox full;
  for (int i = 0; i < 10'001; ++i)
    full.Push({"t", "x", false});
  EXPECT_EQ(full.Size(), 10'000u);
}

TEST(Publish, RetryWaitDoublesFromOneToThirty) {
  int s = TMqttClient::kFirstRetrySeconds;
  std::string seen = std::to_string(s);
  for (int i = 0; i < 6; ++i)
    seen += " " + std::to_string(s = NextRetrySeconds(s));
  EXPECT_EQ(seen, "1 2 4 8 16 30 30");
}

}  // namespace
}  // namespace calorix
