// The runner on a manual clock against a scripted bath: which setpoints it
// writes, when, and why it pauses.
#include "program/Runner.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>

namespace calorix {
namespace {

struct TWrite {
  double At;  // seconds on the test clock
  double Value;
};

// A thermostat that answers every write one second later, reading back what
// was written unless told otherwise; the bath's temperature is scripted.
class TBath final : public IProgramHost {
 public:
  TBath() : Runner(*this, Clock) {}

  void WriteSetpoint(double value) override {
    Writes.push_back({Seconds, value});
    Pending.push_back(value);
  }
  void ProgramChanged() override { ++Changes; }

  // One second: answers, then a temperature reading, then the tick.
  void Second() {
    Clock.AdvanceSeconds(1);
    Seconds += 1;
    while (!Pending.empty()) {
      const double v = Pending.front();
      Pending.pop_front();
      TWriteResult r = Answer ? Answer(v) : TWriteResult{true, true, v};
      if (r.ReadBack)
        Runner.SetpointInForce(r.Value);
      Runner.WriteDone(r);
    }
    Runner.Temperature(Temperature ? Temperature(Seconds, Runner.Commanded()) : Runner.Commanded());
    Runner.Tick();
  }
  void Run(int seconds) {
    for (int i = 0; i < seconds && Runner.State() == TProgramState::Running; ++i)
      Second();
  }

  TManualClock Clock;
  double Seconds = 0;
  TProgramRunner Runner;
  std::vector<TWrite> Writes;
  std::deque<double> Pending;
  int Changes = 0;
  std::function<TWriteResult(double)> Answer;
  std::function<double(double, double)> Temperature;  // (seconds, commanded) -> °C
};

TProgramStep Set(double v) {
  return {TStepType::Set, v};
}
TProgramStep Ramp(double v, double rate) {
  return {TStepType::Ramp, v, rate};
}
TProgramStep Hold(double s, double band = kNoValue) {
  return {TStepType::Hold, kNoValue, kNoValue, s, band};
}
TProgramStep Wait(double band, double s, double limit = kNoValue) {
  return {TStepType::Wait, kNoValue, kNoValue, s, band, limit};
}
TProgramStep Repeat(int from, int count) {
  TProgramStep s{TStepType::Repeat};
  s.From = from, s.Count = count;
  return s;
}

std::vector<double> Values(const std::vector<TWrite>& w) {
  std::vector<double> v;
  for (const auto& x : w)
    v.push_back(x.Value);
  return v;
}

TEST(ProgramRunner, WholeProgramWritesTheRampInPollStepsAndEndsWithTheEndSetpoint) {
  TBath bath;
  bath.Runner.SetpointInForce(20.0);
  // A ramp of 6 °C/min moves 0.1 °C a second: one write per poll second.
  bath.Runner.SetProgram({"p", {Set(20), Wait(0.05, 3), Ramp(20.5, 6), Hold(4), Repeat(2, 1)}, 25});
  ASSERT_EQ(bath.Runner.Start({}), QString());
  EXPECT_EQ(bath.Runner.State(), TProgramState::Running);
  bath.Run(100);
  EXPECT_EQ(bath.Runner.State(), TProgramState::Stopped);
  EXPECT_TRUE(bath.Runner.Finished());
  // The second pass ramps from 20.5 to 20.5: only the target is written.
  const std::vector<double> expected{20.0, 20.1, 20.2, 20.3, 20.4, 20.5, 20.5, 25.0};
  ASSERT_EQ(Values(bath.Writes), expected);
  for (std::size_t i = 2; i <= 5; ++i)
    EXPECT_EQ(bath.Writes[i].At - bath.Writes[i - 1].At, 1.0) << i;
}

}  // namespace
}  // namespace calorix
