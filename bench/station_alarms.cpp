// The alarms' cost on the UI thread: evaluating one reading against every
// condition (aim: under 1 µs), and one alarm change published, from the
// session's signal to the message queued for the broker (aim: under 20 µs).
// No broker runs: the client keeps retrying a closed loopback port. Run from a
// Release build.
#include "base/Clock.h"
#include "base/Timer.h"
#include "link/SimHidPlatform.h"
#include "station/Alarms.h"
#include "station/Publisher.h"
#include "station/Session.h"
#include "station/Station.h"

#include <benchmark/benchmark.h>
#include <QCoreApplication>
#include <QElapsedTimer>

#include "tests/support/ClosedPort.h"
#include "tests/support/SimStation.h"

#include <cmath>

namespace calorix {
namespace {

// A bath held at its setpoint, every condition watched: the common reading.
void BM_AlarmReading(benchmark::State& state) {
  TManualClock clock;
  TAlarmWatch watch(clock);
  TAlarmSettings s;
  s.Band = 0.5;
  s.DelaySeconds = 60;
  s.High = 90.0;
  s.Low = 5.0;
  watch.SetSettings(s);
  watch.Attached();
  watch.Setpoint(37.0);
  int i = 0;
  for (auto _ : state) {
    clock.AdvanceSeconds(1);
    watch.Temperature(37.0 + 0.3 * std::sin(i++ * 0.1));
    watch.Tick();
    benchmark::DoNotOptimize(watch.Changed());
  }
}
BENCHMARK(BM_AlarmReading)->Unit(benchmark::kNanosecond);

// A protection alarm raised and acknowledged, then cleared: two changes, each
// told by the session's signal and published retained by the publisher.
void BM_AlarmChangePublished(benchmark::State& state) {
  test::TSimStation sim({"SIM0001"});
  TStation& station = *sim.Station;
  TThermostatSession* session = sim.Open();
  QElapsedTimer waited;
  waited.start();
  while (!session->Device() && waited.elapsed() < 10000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  if (!session->Device()) {
    state.SkipWithError("the simulated thermostat was not attached");
    return;
  }
  TPublishConfig config;
  config.Enabled = true;
  config.Host = QStringLiteral("127.0.0.1");
  config.Port = test::ClosedPort();
  TSessionPublisher publisher(station, config, std::nullopt);
  for (auto _ : state) {
    session->Alarms().Protection(1);
    session->AcknowledgeAlarms();
    session->Alarms().Protection(0);
    session->AcknowledgeAlarms();  // nothing left to acknowledge: tells of the clearing
  }
  state.SetItemsProcessed(state.iterations() * 2);  // a change costs half an iteration
  delete session;
}
BENCHMARK(BM_AlarmChangePublished)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace calorix
