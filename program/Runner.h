#pragma once
// Runs a temperature program. It hears the readings (temperature, setpoint in
// force, protection status, the link's events) and the outcome of its writes,
// and hands back setpoints to write and state changes through IProgramHost.
// Time comes from the clock; Tick() moves time-driven steps on.
#include "base/Clock.h"
#include "base/NumberFormat.h"
#include "program/Program.h"

#include <QString>

#include <algorithm>
#include <cstddef>
#include <vector>

namespace calorix {

class IProgramHost {
 public:
  virtual ~IProgramHost() = default;
  // Write value (already rounded to two decimals) and read the setpoint back;
  // the outcome comes back through TProgramRunner::WriteDone, once.
  virtual void WriteSetpoint(double value) = 0;
  // State, step or cause changed.
  virtual void ProgramChanged() = 0;
};

enum class TPauseCause {
  None,
  User,
  Protection,   // the protection status is not normal
  SwitchedOff,  // status 6
  DeviceGone,   // the thermostat went away or another was selected
  WriteFailed,  // three writes in a row failed
  ReadBack,     // the read-back differs from what was written
  WaitLimit,    // stability did not come in time
};

// How one setpoint write and its read-back ended.
struct TWriteResult {
  bool Written = false;   // the write was answered with status 0
  bool ReadBack = false;  // the read-back was answered with a number
  double Value = kNoValue;
};

// A point of the planned setpoint: seconds from now, °C.
struct TPlanPoint {
  double Seconds;
  double Setpoint;
};

class TProgramRunner {
 public:
  static constexpr double kReadBackTolerance = 0.005;
  static constexpr int kFailuresToPause = 3;
  static constexpr double kRampStep = 0.01;

  TProgramRunner(IProgramHost& host, const IClock& clock);

  // Only while stopped; a running program keeps its own copy.
  void SetProgram(TProgram program);
  const TProgram& Program() const { return FProgram; }
  // Ramp writes come at most this often.
  void SetPollSeconds(double seconds) { FPollSeconds = seconds; }

  // Starts from step 1; refused (with the reason) when the program is empty or
  // a step lies outside the limits. Ramps keep within the limits: one that
  // begins at a setpoint outside them starts from the nearer limit.
  QString Start(const TSetpointLimits& limits);
  void Pause(TPauseCause cause = TPauseCause::User, const QString& detail = {});
  // Refused (with the reason) when a step, or the setpoint the program holds,
  // lies outside the limits now in force.
  QString Resume(const TSetpointLimits& limits);
  void Stop();

  // What the thermostat reports.
  void Temperature(double value);
  void SetpointInForce(double value);
  // bits != 0 pauses, word names the protection that tripped.
  void Protection(int bits, const QString& word);
  void SwitchedOff();
  void DeviceGone();
  void WriteDone(const TWriteResult& result);
  void Tick();

  TProgramState State() const { return FState; }
  // 1-based; the last step while only its write or the end setpoint is still on the wire.
  int Step() const {
    return FState == TProgramState::Stopped ? 0 : int(std::min(FIndex + 1, FProgram.Steps.size()));
  }
  TPauseCause Cause() const { return FCause; }
  // What the program pauses for, as the user is told.
  QString CauseText() const;
  // "Шаг 3 из 5: выдержка 12:30 из 30:00", or the pause and its cause.
  QString StatusText(const TFormatSettings& format) const;
  bool Finished() const { return FFinished; }      // the last stop was the program's end
  double Commanded() const { return FCommanded; }  // the setpoint the program wants now
  bool WriteInFlight() const { return FInFlight; }

  // The planned setpoint from now to the end (at most maxPoints points).
  void Plan(std::vector<TPlanPoint>& out, std::size_t maxPoints) const;
  // When the running step is planned to end, in clock days.
  double PlannedStepEnd() const;

 private:
  void Enter();     // begin the step at FIndex
  void Advance();   // run instant steps and finished ones
  bool StepDone();  // the step at FIndex is over (time-driven steps)
  void Write(double value);
  void Finish();
  void Changed() { FHost.ProgramChanged(); }
  double StepSecondsLeft() const;
  bool InBand(double band) const;
  void Accumulate();

  IProgramHost& FHost;
  const IClock& FClock;
  TProgram FProgram;
  double FPollSeconds = 1.0;
  TSetpointLimits FLimits;

  TProgramState FState = TProgramState::Stopped;
  TPauseCause FCause = TPauseCause::None;
  QString FCauseDetail;
  bool FFinished = false;
  std::size_t FIndex = 0;
  std::vector<int> FRemaining;  // per repeat step: passes still to go, -1 before the first

  double FTemperature = kNoValue;
  double FInForce = kNoValue;  // as last read back
  double FCommanded = kNoValue;
  double FLastTick = 0;  // clock days

  // The running step.
  bool FStarted = false;  // a ramp starts once no write is on the wire
  double FCounted = 0;    // seconds counted towards the step
  double FInStep = 0;     // seconds run in the step (wait: towards its limit)
  double FRampFrom = 0, FRampSeconds = 0;
  double FLastWriteAt = -1e9;  // clock days

  bool FInFlight = false;
  bool FUnconfirmed = false;  // the last write did not come back right
  bool FEndWritten = false;
  double FWritten = kNoValue;
  int FFailures = 0;
};

}  // namespace calorix
