// The event log's cost on the UI thread: one event appended to a session's
// log (aim: under 1 µs), without a crash journal (the headless service) and
// with one, whose events file takes each event as it comes. Run from a
// Release build.
#include "base/Clock.h"
#include "base/Timer.h"
#include "station/Session.h"

#include <benchmark/benchmark.h>
#include <QTemporaryDir>

namespace calorix {
namespace {

void BM_EventAppend(benchmark::State& state) {
  TTimer::SetManualMode(true);
  TManualClock clock;
  QTemporaryDir dir;
  TSessionOptions options;
  options.Clock = &clock;
  if (state.range(0) != 0)
    options.JournalFolder = dir.path();
  options.JournalOwner = QStringLiteral("bench");
  auto session = std::make_unique<TThermostatSession>(std::move(options));
  session->StartRecording();
  const QString text =
      QStringLiteral("Уставка 37,50 °C записана, прочитано 37,50 °C (было 25,00 °C)");
  std::int64_t logged = 0;
  for (auto _ : state) {
    session->LogEvent(TEventKind::SetpointWritten, text,
                      {{QStringLiteral("old"), 25.0},
                       {QStringLiteral("requested"), 37.5},
                       {QStringLiteral("new"), 37.5}});
    // A log of a long run, not of every iteration: a new record's log now and then.
    if (++logged % 100'000 == 0) {
      state.PauseTiming();
      session->ClearRecord();
      state.ResumeTiming();
    }
  }
  session->Close(false);
  session.reset();
  TTimer::SetManualMode(false);
}
BENCHMARK(BM_EventAppend)->Arg(0)->Arg(1)->ArgName("journal")->Unit(benchmark::kNanosecond);

}  // namespace
}  // namespace calorix
