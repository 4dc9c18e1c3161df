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

namespace calorix {
namespace {

TEST(ProgramRunner, GuaranteedSoakCountsOnlyTimeWithinTheBand) {
  TBath bath;
  bath.Runner.SetpointInForce(30.0);
  bath.Runner.SetProgram({"p", {Set(30), Hold(10, 0.1)}, std::nullopt});
  // The bath leaves the band for seconds 4..8 (five readings out).
  bath.Temperature = [](double s, double sp) { return s >= 4 && s <= 8 ? sp + 0.5 : sp; };
  ASSERT_EQ(bath.Runner.Start({}), QString());
  bath.Run(100);
  EXPECT_TRUE(bath.Runner.Finished());
  // Time counts with the last reading: none before second 1, in band 1..4 (the
  // reading at 4 is out), out 4..9, then the other seven seconds: ends at 16.
  EXPECT_EQ(bath.Seconds, 16.0);
}

TEST(ProgramRunner, NestedLoopsRunTheirCounts) {
  TBath bath;
  bath.Runner.SetpointInForce(0.0);
  // Outer: steps 1..4 twice more; inner: step 2 once more per outer pass.
  bath.Runner.SetProgram({"p", {Set(1), Set(2), Repeat(2, 1), Set(3), Repeat(1, 2)}, std::nullopt});
  ASSERT_EQ(bath.Runner.Start({}), QString());
  bath.Run(100);
  const std::vector<double> pass{1, 2, 2, 3};
  std::vector<double> expected;
  for (int i = 0; i < 3; ++i)
    expected.insert(expected.end(), pass.begin(), pass.end());
  EXPECT_EQ(Values(bath.Writes), expected);
}

// Every cause that pauses a running program, and what the user is told.
TEST(ProgramRunner, PausesKeepTheSetpointAndSayWhy) {
  struct TCase {
    const char* Name;
    TPauseCause Cause;
    std::function<void(TBath&)> Fault;
    const char* Text;
  };
  const TCase cases[] = {
      {"protection", TPauseCause::Protection, [](TBath& b) { b.Runner.Protection(0b100, "насос"); },
       "защита термостата: насос"},
      {"switched off", TPauseCause::SwitchedOff, [](TBath& b) { b.Runner.SwitchedOff(); },
       "термостат выключен"},
      {"device gone", TPauseCause::DeviceGone, [](TBath& b) { b.Runner.DeviceGone(); },
       "термостат отключен или выбран другой"},
      {"three failed writes", TPauseCause::WriteFailed,
       [](TBath& b) {
         b.Answer = [](double) { return TWriteResult{false, true, 30.0}; };
         b.Run(10);
       },
       "три записи уставки подряд не удались"},
      {"read-back differs", TPauseCause::ReadBack,
       [](TBath& b) {
         b.Answer = [](double v) { return TWriteResult{true, true, v + 0.006}; };
         b.Run(3);
       },
       "записана уставка 30.10, а прочитана 30.11"},
      {"wait past its limit", TPauseCause::WaitLimit,
       [](TBath& b) {
         b.Temperature = [](double, double sp) { return sp + 1.0; };  // never stable
         b.Run(200);
       },
       "температура не стабилизировалась за 01:00"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TBath bath;
    bath.Runner.SetpointInForce(30.0);
    bath.Runner.SetProgram({"p", {Set(30), Ramp(30.2, 6), Wait(0.1, 30, 60)}, 25});
    ASSERT_EQ(bath.Runner.Start({}), QString());
    bath.Second();  // 30 written and read back
    bath.Second();  // the ramp's first step, 30.10
    const std::size_t writes = bath.Writes.size();
    c.Fault(bath);
    EXPECT_EQ(bath.Runner.State(), TProgramState::Paused);
    EXPECT_EQ(bath.Runner.Cause(), c.Cause);
    EXPECT_EQ(bath.Runner.CauseText(), QString::fromUtf8(c.Text));
    // Paused: nothing more is written, time does not count, only the user resumes.
    const std::size_t paused = bath.Writes.size();
    if (c.Cause != TPauseCause::WriteFailed && c.Cause != TPauseCause::ReadBack &&
        c.Cause != TPauseCause::WaitLimit) {
      EXPECT_EQ(paused, writes);
    }
    bath.Answer = nullptr;
    bath.Temperature = nullptr;
    bath.Run(50);
    for (int i = 0; i < 50; ++i)
      bath.Second();
    EXPECT_EQ(bath.Writes.size(), paused);
    EXPECT_EQ(bath.Runner.State(), TProgramState::Paused);
    bath.Runner.Resume();
    bath.Run(400);
    EXPECT_TRUE(bath.Runner.Finished());
    EXPECT_EQ(bath.Writes.back().Value, 25.0);
  }
}

TEST(ProgramRunner, RefusesToStartOutsideTheLimits) {
  TBath bath;
  bath.Runner.SetProgram({"p", {Set(30), Ramp(160, 1)}, std::nullopt});
  EXPECT_EQ(bath.Runner.Start({-50, 150}),
            QString::fromUtf8("Шаг 2, поле \"setpoint\": уставка вне допустимых пределов"));
  EXPECT_EQ(bath.Runner.State(), TProgramState::Stopped);
  EXPECT_TRUE(bath.Writes.empty());
}

}  // namespace
}  // namespace calorix
