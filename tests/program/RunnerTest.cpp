// The runner on a manual clock against a scripted bath: which setpoints it
// writes, when, and why it pauses.
#include "program/Runner.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <ostream>
#include <set>
#include <utility>

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
    Pending.push_back(Writes.size());
    Writes.push_back({Seconds, value});
  }
  void ProgramChanged() override { ++Changes; }

  // One second: answers, then a temperature reading, then the tick.
  void Second() {
    Clock.AdvanceSeconds(1);
    Seconds += 1;
    std::deque<std::size_t> due;  // writes made while answering wait a second
    due.swap(Pending);
    for (const std::size_t n : due) {
      const double v = Writes[n].Value;
      TWriteResult r = Failing.count(n) ? TWriteResult{false, false, kNoValue}
                       : Answer         ? Answer(v)
                                        : TWriteResult{true, true, v};
      if (r.ReadBack)
        Runner.SetpointInForce(r.Value);
      Runner.WriteDone(r);
    }
    Runner.Temperature(Temperature ? Temperature(Seconds, Runner.Commanded()) : Runner.Commanded());
    Runner.Tick();
  }
  // Seconds pass whatever the program's state.
  void Idle(int seconds) {
    for (int i = 0; i < seconds; ++i)
      Second();
  }
  void Run(int seconds) {
    for (int i = 0; i < seconds && Runner.State() == TProgramState::Running; ++i)
      Second();
  }

  TManualClock Clock;
  double Seconds = 0;
  TProgramRunner Runner;
  std::vector<TWrite> Writes;
  std::deque<std::size_t> Pending;  // indices into Writes
  std::set<std::size_t> Failing;    // writes (by index) the thermostat refuses
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
TProgramStep RampSeconds(double v, double seconds) {
  return {TStepType::Ramp, v, kNoValue, seconds};
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
    bath.Idle(50);
    EXPECT_EQ(bath.Writes.size(), paused);
    EXPECT_EQ(bath.Runner.State(), TProgramState::Paused);
    EXPECT_EQ(bath.Runner.Resume({}), QString());
    bath.Run(400);
    EXPECT_TRUE(bath.Runner.Finished());
    EXPECT_EQ(bath.Writes.back().Value, 25.0);
  }
}

bool operator==(const TWrite& a, const TWrite& b) {
  return a.At == b.At && a.Value == b.Value;
}
void PrintTo(const TWrite& w, std::ostream* os) {
  *os << w.Value << " at " << w.At << " s";
}

// When each setpoint is written, as the program's rules say: durations, a
// wait that starts anew, failed writes, ramps, pauses at the very end, Stop.
// The bath answers a write one second later and reads the setpoint back.
TEST(ProgramRunner, WritesEachSetpointWhenItsRulesSay) {
  struct TCase {
    const char* Name;
    TProgram Program;
    std::function<void(TBath&)> Script;  // after Start at second 0; then runs to the end
    std::vector<TWrite> Writes;
    double InForce = 20.0;
  };
  const std::optional<double> none;
  const TCase cases[] = {
      {"a hold counts from the set before it",
       {"p", {Set(30), Hold(5)}, 25},
       nullptr,
       {{0, 30}, {5, 25}}},
      {"paused time does not count",
       {"p", {Set(30), Hold(10)}, 25},
       [](TBath& b) {
         b.Run(3);
         b.Runner.Pause();
         b.Idle(50);
         EXPECT_EQ(b.Runner.Resume({}), QString());
       },
       // 3 s before the pause, 7 after the resume at 53.
       {{0, 30}, {60, 25}}},
      {"a wait starts anew when the bath leaves the band",
       {"p", {Set(30), Wait(0.1, 5)}, 25},
       [](TBath& b) {
         // A reading counts until the next; none in band before second 1, out at 3.
         b.Temperature = [](double s, double sp) { return s == 3 ? sp + 0.5 : sp; };
       },
       // Back in band with the reading at 4: five seconds later.
       {{0, 30}, {9, 25}}},
      {"the failure count starts anew after a good write",
       {"p", {Ramp(20.5, 6)}, none},
       [](TBath& b) {
         b.Failing = {0, 1, 3, 4};
       },
       // Two failures, a good retry, two more: no pause; the ramp goes on meanwhile.
       {{1, 20.1}, {2, 20.1}, {3, 20.1}, {4, 20.4}, {5, 20.4}, {6, 20.4}, {7, 20.5}}},
      {"a failed write is retried a poll period later",
       {"p", {Set(30)}, 25},
       [](TBath& b) {
         b.Runner.SetPollSeconds(3);
         b.Failing = {0};
       },
       {{0, 30}, {3, 30}, {4, 25}}},
      {"a ramp over a time",
       {"p", {RampSeconds(21, 4)}, none},
       nullptr,
       {{1, 20.25}, {2, 20.5}, {3, 20.75}, {4, 21}}},
      {"a ramp down",
       {"p", {Ramp(20.2, 6)}, none},
       nullptr,
       {{1, 20.4}, {2, 20.3}, {3, 20.2}},
       20.5},
      {"a ramp from beyond a limit starts at the limit",
       {"p", {RampSeconds(140, 2)}, none},
       nullptr,
       {{0, 150}, {1, 145}, {2, 140}},  // the limit at once, then on from there
       200},
      {"Stop ends it without the end setpoint",
       {"p", {Set(30), Hold(10)}, 25},
       [](TBath& b) {
         b.Run(3);
         b.Runner.Stop();
         EXPECT_EQ(b.Runner.State(), TProgramState::Stopped);
         EXPECT_FALSE(b.Runner.Finished());
         b.Idle(20);
       },
       {{0, 30}}},
      {"a pause while the last step's write is on the wire",
       {"p", {Set(30), Set(31)}, 25},
       [](TBath& b) {
         b.Second();  // 31 written, not yet answered
         b.Runner.DeviceGone();
         EXPECT_EQ(b.Runner.Step(), 2);
         EXPECT_TRUE(b.Runner.StatusText({}).startsWith(
             QString::fromUtf8("Программа приостановлена на шаге 2 из 2")))
             << b.Runner.StatusText({}).toStdString();
         b.Idle(5);
         EXPECT_EQ(b.Runner.Resume({}), QString());
       },
       {{0, 30}, {1, 31}, {6, 25}}},
      {"a pause while the end setpoint is on the wire",
       {"p", {Set(30)}, 25},
       [](TBath& b) {
         b.Second();  // 25 written
         b.Failing = {1};
         b.Runner.Protection(1, "перегрев");
         EXPECT_EQ(b.Runner.Step(), 1);
         b.Idle(5);
         EXPECT_EQ(b.Runner.Resume({}), QString());  // the end setpoint failed: again
       },
       {{0, 30}, {1, 25}, {6, 25}}},
      {"resume refuses what the limits now in force forbid",
       {"p", {RampSeconds(20, 10)}, none},
       [](TBath& b) {
         b.Run(5);
         b.Runner.Pause();
         b.Idle(3);
         EXPECT_EQ(b.Runner.Resume({-50, 15}),
                   QString::fromUtf8("Шаг 1, поле \"setpoint\": уставка вне допустимых пределов"));
         EXPECT_EQ(b.Runner.Resume({-50, 22}),
                   QString::fromUtf8("уставка 25.00 вне допустимых пределов"));
         EXPECT_EQ(b.Runner.State(), TProgramState::Paused);
         EXPECT_EQ(b.Runner.Resume({}), QString());
       },
       {{1, 29},
        {2, 28},
        {3, 27},
        {4, 26},
        {5, 25},
        {9, 24},
        {10, 23},
        {11, 22},
        {12, 21},
        {13, 20}},
       30},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    TBath bath;
    bath.Runner.SetpointInForce(c.InForce);
    bath.Runner.SetProgram(c.Program);
    ASSERT_EQ(bath.Runner.Start({}), QString());
    if (c.Script)
      c.Script(bath);
    bath.Run(200);
    EXPECT_EQ(bath.Runner.State(), TProgramState::Stopped);
    EXPECT_EQ(bath.Writes, c.Writes);
  }
}

TEST(ProgramRunner, ThePlanOfARampFromBeyondALimitStartsAtTheLimit) {
  TBath bath;
  bath.Runner.SetpointInForce(200);
  bath.Runner.SetProgram({"p", {Hold(5), RampSeconds(140, 2)}, std::nullopt});
  ASSERT_EQ(bath.Runner.Start({-50, 150}), QString());
  std::vector<TPlanPoint> plan;
  bath.Runner.Plan(plan, 100);
  std::vector<std::pair<double, double>> points;
  for (const TPlanPoint& p : plan)
    points.emplace_back(p.Seconds, p.Setpoint);
  const std::vector<std::pair<double, double>> expected{{0, 200}, {5, 200}, {5, 150}, {7, 140}};
  EXPECT_EQ(points, expected);
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
