// The headless service with eight simulated thermostats polled every second:
// a simulated day on the manual clock (the work of each poll, the record and
// the data files; memory against 40 MB + 20 bytes per sample), and real
// seconds on real timers (CPU time as a share of one core, idle wake-ups
// included; start to the first poll).
#include "base/Clock.h"
#include "base/Timer.h"
#include "link/SimHidPlatform.h"
#include "link/SimThermostat.h"
#include "record/DataFile.h"
#include "service/Headless.h"
#include "station/Session.h"
#include "station/Station.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <ctime>
#include <fstream>
#include <memory>
#include <string>

namespace calorix {
namespace {

constexpr int kThermostats = 8;

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double RssMegabytes() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmRSS:") {
      double kb = 0;
      status >> kb;
      return kb / 1024.0;
    }
    status.ignore(1 << 20, '\n');
  }
  return 0;
}

// The data files in memory-backed storage where there is one: the disk's
// own sync time is not the program's CPU time.
QString TempBase() {
  return QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm/calorix-bench-XXXXXX")
                                                   : QDir::tempPath() + "/calorix-bench-XXXXXX";
}

struct TRun {
  QTemporaryDir Dir{TempBase()};
  std::shared_ptr<IClock> Clock;
  TSimHidPlatform* Sim = nullptr;
  std::unique_ptr<THeadless> Headless;

  explicit TRun(std::shared_ptr<IClock> clock) : Clock(std::move(clock)) {
    QFile ini(Dir.filePath("bench.ini"));
    ini.open(QIODevice::WriteOnly);
    ini.write(QStringLiteral("[Headless]\nDataFolder=%1\n").arg(Dir.filePath("data")).toUtf8());
    ini.close();
    auto sim = std::make_unique<TSimHidPlatform>(Clock);
    Sim = sim.get();
    for (int i = 0; i < kThermostats; ++i) {
      TSimThermostatOptions bath;
      bath.Noise = 0.05;
      Sim->Plug(bath);
    }
    THeadlessOptions o;
    o.Clock = Clock.get();
    o.IniFileName = ini.fileName();
    o.Log = [](const QString&) {};
    Headless = std::make_unique<THeadless>(std::move(o), std::move(sim));
  }
  ~TRun() { Headless.reset(); }

  bool AllIdle() const {
    const auto sessions = Headless->Sessions();
    if (sessions.size() != std::size_t(kThermostats))
      return false;
    for (TThermostatSession* s : sessions) {
      if (!s->Device() || !s->Requests().Requests().empty())
        return false;
    }
    return true;
  }
  // Runs the event loop until every answer is in; blocks rather than spins.
  void Settle() const {
    while (!AllIdle())
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
  }
  std::size_t Samples() const {
    std::size_t n = 0;
    for (TThermostatSession* s : Headless->Sessions())
      n += s->Record().Count();
    return n;
  }
};

// A simulated day (or the first size, briefly) on the manual clock.
void BM_SimulatedDay(benchmark::State& state) {
  const int seconds = int(state.range(0));
  for (auto _ : state) {
    TTimer::SetManualMode(true);
    auto clock = std::make_shared<TManualClock>();
    const double rssBefore = RssMegabytes();
    {
      TRun run(clock);
      run.Headless->Start();
      run.Settle();
      const double rssStart = RssMegabytes();
      const double cpu0 = CpuSeconds();
      for (int s = 1; s <= seconds; ++s) {
        clock->AdvanceSeconds(1);
        for (TThermostatSession* session : run.Headless->Sessions())
          session->PollTimer()->Fire();
        run.Settle();
        if (s % 5 == 0) {
          for (TThermostatSession* session : run.Headless->Sessions())
            run.Headless->DataFileOf(session)->Timer()->Fire();
        }
      }
      const double cpu = CpuSeconds() - cpu0;
      const double samples = double(run.Samples());
      const double rss = RssMegabytes();
      state.counters["samples"] = samples;
      state.counters["cpu_ms_per_sim_s"] = cpu * 1000 / seconds;
      // A share of one core, were the day real: the work of its polls only.
      state.counters["cpu_pct_core"] = cpu / seconds * 100;
      state.counters["rss_MB"] = rss;
      state.counters["rss_before_MB"] = rssBefore;
      state.counters["B_per_sample"] = (rss - rssStart) * 1024 * 1024 / samples;
      state.counters["limit_MB"] = 40 + 20 * samples / (1024 * 1024);
      run.Headless->Stop();
    }
    TTimer::SetManualMode(false);
  }
}
BENCHMARK(BM_SimulatedDay)->Arg(60)->Arg(86400)->Iterations(1)->Unit(benchmark::kSecond);

// Real seconds on real timers: the CPU time of the whole process over them,
// and the start to the first temperature read.
void BM_RealSeconds(benchmark::State& state) {
  const int seconds = int(state.range(0));
  for (auto _ : state) {
    QElapsedTimer wall;
    wall.start();
    TRun run(std::make_shared<TSteadyClock>());
    double firstPoll = -1;
    const auto follow = QObject::connect(&run.Headless->Station(), &TStation::SessionsChanged, [&] {
      for (TThermostatSession* s : run.Headless->Sessions()) {
        QObject::connect(s, &TThermostatSession::TemperatureRead, [&] {
          if (firstPoll < 0)
            firstPoll = double(wall.nsecsElapsed()) / 1e6;
        });
      }
    });
    run.Headless->Start();
    run.Settle();
    QObject::disconnect(follow);
    const double cpu0 = CpuSeconds();
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    const double cpu = CpuSeconds() - cpu0;
    state.counters["first_poll_ms"] = firstPoll;
    state.counters["cpu_pct_core"] = cpu / seconds * 100;
    state.counters["samples"] = double(run.Samples());
    run.Headless->Stop();
  }
}
BENCHMARK(BM_RealSeconds)->Arg(2)->Arg(60)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
}  // namespace calorix
