// Temperature programs of 10,000 steps: one tick of the runner, the planned
// curve drawn anew, and opening, checking and estimating the file.
#include "program/ProgramFile.h"
#include "program/Runner.h"

#include <benchmark/benchmark.h>

#include <QTemporaryDir>

namespace calorix {
namespace {

constexpr int kSteps = 10000;

// Ramps, soaks, waits and sets in turn, with a loop now and then.
TProgram LongProgram() {
  TProgram p;
  p.Name = QStringLiteral("long");
  for (int i = 0; i < kSteps; ++i) {
    TProgramStep s;
    switch (i % 5) {
      case 0:
        s = {TStepType::Set, 20.0 + i % 40};
        break;
      case 1:
        s = {TStepType::Wait, kNoValue, kNoValue, 60, 0.1, 600};
        break;
      case 2:
        s = {TStepType::Ramp, 30.0 + i % 50, 0.5};
        break;
      case 3:
        s = {TStepType::Hold, kNoValue, kNoValue, 300, 0.2};
        break;
      case 4:
        s.Type = TStepType::Repeat;
        s.From = i - 3;
        s.Count = 1;
        break;
    }
    p.Steps.push_back(s);
  }
  p.End = 25.0;
  return p;
}

struct THost final : IProgramHost {
  void WriteSetpoint(double) override { ++Writes; }
  void ProgramChanged() override {}
  int Writes = 0;
};

// The runner in the middle of the program, in a soak within its band.
struct TRunning {
  THost Host;
  TManualClock Clock;
  TProgramRunner Runner{Host, Clock};
  TRunning() {
    Runner.SetProgram(LongProgram());
    Runner.SetpointInForce(20.0);
    Runner.Start({});
    // Walk the program to about its middle, answering every write.
    while (Runner.Step() < kSteps / 2 && Runner.State() == TProgramState::Running) {
      Clock.AdvanceSeconds(1);
      Runner.WriteDone({true, true, Runner.Commanded()});
      Runner.Temperature(Runner.Commanded());
      Runner.Tick();
    }
  }
};

void BM_RunnerTick(benchmark::State& state) {
  TRunning r;
  for (auto _ : state) {
    r.Clock.AdvanceSeconds(0.001);
    r.Runner.Temperature(r.Runner.Commanded());
    benchmark::DoNotOptimize(r.Runner.PlannedStepEnd());
  }
  state.counters["step"] = r.Runner.Step();
}
BENCHMARK(BM_RunnerTick);

// The whole remaining plan, as the chart gets it when a step changes.
void BM_PlanRebuild(benchmark::State& state) {
  TRunning r;
  std::vector<TPlanPoint> plan;
  for (auto _ : state) {
    r.Runner.Plan(plan, 20000);
    benchmark::DoNotOptimize(plan.data());
  }
  state.counters["points"] = double(plan.size());
}
BENCHMARK(BM_PlanRebuild);

void BM_OpenCheckEstimate(benchmark::State& state) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("long.json"));
  SaveProgramFile(path, LongProgram(), nullptr);
  const TSetpointLimits limits;
  for (auto _ : state) {
    QString error;
    auto p = LoadProgramFile(path, &limits, &error);
    if (!p)
      state.SkipWithError(error.toStdString().c_str());
    benchmark::DoNotOptimize(EstimateSeconds(*p, 20.0));
  }
}
BENCHMARK(BM_OpenCheckEstimate)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace calorix
