// Several thermostats in several windows of one program, each polled every
// second as the program runs them (simulated thermostats, the manual clock):
//  - the UI thread's CPU time per second of polling all of them ("UI busy %":
//    the thread's own CPU clock, so the thermostats' threads are left out);
//  - one window's chart replotted with the others open ("replot ms"), after
//    the given seconds of record;
//  - the heap each window after the first adds ("heap MB/window"), measured
//    once it has shown its thermostat.
// Run from a Release build with QT_QPA_PLATFORM=offscreen.
#include "app/MainForm.h"
#include "app/Windows.h"
#include "base/Clock.h"
#include "base/Timer.h"
#include "chart/Chart.h"
#include "link/Hid.h"
#include "link/SimHidPlatform.h"
#include "link/SimThermostat.h"
#include "tests/soak/SoakRun.h"
#include "tests/support/HeapInUse.h"
#include "tests/support/ui/ScriptedPrompts.h"

#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <ctime>
#include <memory>

namespace calorix {
namespace {

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

bool Idle(const std::vector<TMainFrm*>& windows) {
  for (TMainFrm* w : windows) {
    if (!w->SelectedDevice() || !w->Requests().Requests().empty())
      return false;
  }
  return true;
}

void BM_WindowsPollEverySecond(benchmark::State& state) {
  const int count = int(state.range(0));
  TTimer::SetManualMode(true);
  QTemporaryDir dir;
  test::TScriptedPrompts prompts;
  TManualClock clock;
  auto sim = std::make_unique<TSimHidPlatform>(std::shared_ptr<IClock>(&clock, [](IClock*) {}));
  for (int i = 0; i < count; ++i) {
    TSimThermostatOptions bath;
    bath.Serial = QByteArray("SIM000") + QByteArray::number(i + 1);
    sim->Plug(bath);
  }
  TWindowsOptions options;
  options.Prompts = &prompts;
  options.Clock = &clock;
  options.IniFileName = QDir(dir.path()).filePath(QStringLiteral("Calorix.ini"));
  options.JournalFolder = QDir(dir.path()).filePath(QStringLiteral("state"));
  {
    TWindows windows(std::move(options), std::move(sim));
    windows.Start();
    std::vector<TMainFrm*> list = windows.List();
    if (!test::PumpUntil([&] { return Idle(list); })) {
      state.SkipWithError("the first thermostat was never read");
      return;
    }
    double heapPerWindow = 0.0;
    for (int i = 1; i < count; ++i) {
      const std::size_t before = test::HeapInUse();
      TMainFrm* w = windows.OpenNext();
      list = windows.List();
      if (!w || !test::PumpUntil([&] { return Idle(list); })) {
        state.SkipWithError("a window never read its thermostat");
        return;
      }
      QCoreApplication::processEvents();  // drawn once
      heapPerWindow += double(std::int64_t(test::HeapInUse() - before));
    }
    for (TMainFrm* w : list)
      w->RecordBtn->click();
    auto second = [&] {
      clock.AdvanceSeconds(1);
      for (TMainFrm* w : list)
        w->DataTimer->Fire();
      const bool ok = test::PumpUntil([&] { return Idle(list); });
      QCoreApplication::processEvents();  // the queued replots and repaints
      return ok;
    };
    // Some simulated time of record first: the replot draws what a user sees after it.
    for (std::int64_t s = 0; s < state.range(1); ++s) {
      if (!second()) {
        state.SkipWithError("a poll was never answered");
        return;
      }
    }
    double cpu = 0.0;
    std::int64_t seconds = 0;
    for (auto _ : state) {
      const double start = ThreadCpuSeconds();
      if (!second()) {
        state.SkipWithError("a poll was never answered");
        return;
      }
      cpu += ThreadCpuSeconds() - start;
      ++seconds;
    }
    QElapsedTimer replot;
    replot.start();
    constexpr int kReplots = 20;
    for (int i = 0; i < kReplots; ++i)
      list.front()->Chart->replot();
    state.counters["UI busy %"] = 100.0 * cpu / double(seconds);
    state.counters["replot ms"] = double(replot.nsecsElapsed()) / 1e6 / kReplots;
    if (count > 1)
      state.counters["heap MB/window"] = heapPerWindow / double(count - 1) / (1024.0 * 1024.0);
  }
  TTimer::SetManualMode(false);
}
// Windows, then seconds of record before the measured seconds (the first
// pair is the suite's brief run).
BENCHMARK(BM_WindowsPollEverySecond)
    ->Args({1, 60})
    ->Args({1, 3600})
    ->Args({8, 3600})
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace calorix
