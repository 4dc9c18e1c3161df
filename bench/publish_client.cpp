// Publishing from the window's thread: what one reading costs (topics and
// payloads built, two messages queued), and the memory the client holds while
// the broker stays away for an hour of 1 s polling, for ten and for twenty,
// with an error when that passes the outbox's bound. No broker
// runs: the client keeps retrying a closed loopback port. Run from a Release
// build.
#include "publish/MqttClient.h"
#include "publish/Outbox.h"
#include "publish/Payloads.h"

#include <benchmark/benchmark.h>

#include "tests/support/ClosedPort.h"
#include "tests/support/HeapInUse.h"

#include <cmath>

namespace calorix {
using calorix::test::ClosedPort;

namespace {

// What one waiting message may cost: the message itself, its topic and a
// sample's payload of about 130 bytes, with the allocator's rounding.
constexpr std::size_t kBytesPerMessage = 512;
// What a full outbox may still move by: a deque block or two, a retry's buffers.
constexpr std::size_t kSteadySlack = 64 * 1024;

TMqttSettings AwaySettings() {
  TMqttSettings s;
  s.Host = "127.0.0.1";
  s.Port = ClosedPort();
  s.ClientId = "bench";
  return s;
}

// One poll as the window hands it over: temperature and sample (not retained),
// the protection status (retained).
void PublishPoll(TMqttClient& client, int i) {
  const double t = 25.0 + std::sin(i * 0.01);
  client.Publish(ThermostatTopic("calorix", "SIM0001", "temperature"), FormatReading(t), false);
  TSampleMessage sample;
  sample.UtcMs = 1'700'000'000'000 + qint64(i) * 1000;
  sample.Elapsed = i;
  sample.Temperature = t;
  sample.Setpoint = 25.0;
  sample.Protection = 0;
  client.Publish(ThermostatTopic("calorix", "SIM0001", "sample"), SampleJson(sample), false);
  client.Publish(ThermostatTopic("calorix", "SIM0001", "protection"), std::to_string(i % 2), true);
}

void BM_PublishReading(benchmark::State& state) {
  TMqttClient client(AwaySettings());
  int i = 0;
  for (auto _ : state)
    PublishPoll(client, i++);
  state.counters["waiting"] = double(client.Waiting());
}
BENCHMARK(BM_PublishReading)->Unit(benchmark::kMicrosecond);

void BM_BrokerAwayForHours(benchmark::State& state) {
  for (auto _ : state) {
    TMqttClient client(AwaySettings());
    const std::size_t before = test::HeapInUse();
    int i = 0;
    for (; i < 3600; ++i)
      PublishPoll(client, i);
    const std::size_t hour = test::HeapInUse();
    for (; i < 36000; ++i)
      PublishPoll(client, i);
    const std::size_t tenHours = test::HeapInUse();
    for (; i < 72000; ++i)
      PublishPoll(client, i);
    const std::size_t twentyHours = test::HeapInUse();
    // The outbox is full from about the 84th minute on: later hours add nothing.
    state.counters["bytes_after_1h"] = double(hour - before);
    state.counters["bytes_after_10h"] = double(tenHours - before);
    state.counters["bytes_after_20h"] = double(twentyHours - before);
    state.counters["waiting"] = double(client.Waiting());
    state.counters["dropped"] = double(client.Dropped());
    // The bound: a full outbox of the largest message (a sample) in a few
    // hundred bytes each, and nothing more once it is full.
    const std::size_t bound = TOutbox::kMaxWaiting * kBytesPerMessage;
    if (client.Waiting() > TOutbox::kMaxWaiting)
      state.SkipWithError("more messages wait than the outbox holds");
    else if (tenHours > before + bound)
      state.SkipWithError("the client holds more than a full outbox after 10 hours");
    else if (twentyHours > tenHours + kSteadySlack)
      state.SkipWithError("the client's memory still grows once the outbox is full");
  }
}
BENCHMARK(BM_BrokerAwayForHours)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace calorix
