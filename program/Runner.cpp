#include "program/Runner.h"

#include "base/Messages.h"

#include <algorithm>
#include <cmath>

namespace calorix {

namespace {

constexpr double kSecondsPerDay = 86400.0;
// Sums of clock steps are not exact; a step that is this close to its end is done.
constexpr double kTimeSlack = 1e-6;

double Round2(double v) {
  return std::round(v * 100.0) / 100.0;
}

// "12:30", or "1:02:30" from an hour on.
QString Clock(double seconds, const TFormatSettings& format) {
  const long s = long(std::max(0.0, std::floor(seconds + kTimeSlack)));
  const QChar sep = format.TimeSeparator;
  auto two = [](long v) { return QString::number(v).rightJustified(2, QLatin1Char('0')); };
  if (s >= 3600)
    return QString::number(s / 3600) + sep + two(s / 60 % 60) + sep + two(s % 60);
  return two(s / 60) + sep + two(s % 60);
}

}  // namespace

TProgramRunner::TProgramRunner(IProgramHost& host, const IClock& clock)
    : FHost(host), FClock(clock) {}

void TProgramRunner::SetProgram(TProgram program) {
  if (FState != TProgramState::Stopped)
    return;
  FProgram = std::move(program);
  FFinished = false;
}

QString TProgramRunner::Start(const TSetpointLimits& limits) {
  if (FState != TProgramState::Stopped)
    return {};
  if (FProgram.Steps.empty())
    return LoadStr(1059);
  QString fault = CheckProgram(FProgram, &limits);
  if (!fault.isEmpty())
    return fault;
  FLimits = limits;
  FRemaining.assign(FProgram.Steps.size(), -1);
  FState = TProgramState::Running;
  FCause = TPauseCause::None;
  FCauseDetail.clear();
  FFinished = false;
  FFailures = 0;
  FUnconfirmed = false;
  FEndWritten = false;
  FWritten = kNoValue;
  FCommanded = FInForce;
  FLastTick = FClock.Now();
  FIndex = 0;
  Enter();
  Advance();
  Changed();
  return {};
}

void TProgramRunner::Pause(TPauseCause cause, const QString& detail) {
  if (FState != TProgramState::Running)
    return;
  Accumulate();
  FState = TProgramState::Paused;
  FCause = cause;
  FCauseDetail = detail;
  Changed();
}

QString TProgramRunner::Resume(const TSetpointLimits& limits) {
  if (FState != TProgramState::Paused)
    return {};
  // The limits may have changed while paused.
  QString fault = CheckProgram(FProgram, &limits);
  if (!fault.isEmpty())
    return fault;
  // The program's last write stays in force, and may be written again.
  if (std::isfinite(FWritten) && (FWritten < limits.Min || FWritten > limits.Max))
    return ProgramTr(QT_TRANSLATE_NOOP("calorix", "уставка %1 вне допустимых пределов"))
        .arg(QString::number(FWritten, 'f', 2));
  FLimits = limits;
  FState = TProgramState::Running;
  FCause = TPauseCause::None;
  FCauseDetail.clear();
  FFailures = 0;
  FLastTick = FClock.Now();
  // Past the last step only the last write or the end setpoint is left.
  if (FIndex < FProgram.Steps.size() && FProgram.Steps[FIndex].Type == TStepType::Wait)
    FInStep = 0;  // the limit counts anew from the resume
  // A setpoint that never came back right, or that the thermostat no longer
  // holds (replaced while paused), is written again before the step goes on.
  const bool differs = std::isfinite(FInForce) && std::isfinite(FCommanded) &&
                       std::fabs(FInForce - FCommanded) > kReadBackTolerance;
  if ((FUnconfirmed || differs) && std::isfinite(FCommanded) && !FInFlight)
    Write(FCommanded);
  Advance();
  Changed();
  return {};
}

void TProgramRunner::Stop() {
  if (FState == TProgramState::Stopped)
    return;
  FState = TProgramState::Stopped;
  FCause = TPauseCause::None;
  FCauseDetail.clear();
  FFinished = false;
  Changed();
}

void TProgramRunner::Temperature(double value) {
  Tick();  // the time until now counts with the reading before this one
  FTemperature = value;
  Tick();
}

void TProgramRunner::SetpointInForce(double value) {
  FInForce = value;
}

void TProgramRunner::Protection(int bits, const QString& word) {
  if (bits != 0)
    Pause(TPauseCause::Protection, word);
}

void TProgramRunner::SwitchedOff() {
  Pause(TPauseCause::SwitchedOff);
}

void TProgramRunner::DeviceGone() {
  Pause(TPauseCause::DeviceGone);
}

void TProgramRunner::WriteDone(const TWriteResult& result) {
  FInFlight = false;
  if (FState == TProgramState::Stopped)
    return;
  // The time until now counts for the step as it was (a ramp waiting for this
  // answer has not started yet).
  Accumulate();
  if (!result.Written || !result.ReadBack || !std::isfinite(result.Value)) {
    FUnconfirmed = true;
    if (++FFailures >= kFailuresToPause)
      Pause(TPauseCause::WriteFailed);
    return;
  }
  FFailures = 0;
  if (std::fabs(result.Value - FWritten) > kReadBackTolerance) {
    FUnconfirmed = true;
    Pause(TPauseCause::ReadBack, LoadStr(1055)
                                     .arg(QString::number(FWritten, 'f', 2))
                                     .arg(QString::number(result.Value, 'f', 2)));
    return;
  }
  FUnconfirmed = false;
  if (FState == TProgramState::Running)
    Advance();
}

void TProgramRunner::Tick() {
  if (FState != TProgramState::Running)
    return;
  Accumulate();
  Advance();
}

void TProgramRunner::Accumulate() {
  const double now = FClock.Now();
  const double dt = std::max(0.0, (now - FLastTick) * kSecondsPerDay);
  FLastTick = now;
  if (FState != TProgramState::Running || FIndex >= FProgram.Steps.size())
    return;
  const TProgramStep& s = FProgram.Steps[FIndex];
  switch (s.Type) {
    case TStepType::Ramp:
      if (FStarted)
        FCounted += dt;
      break;
    case TStepType::Hold:
      if (std::isnan(s.Band) || InBand(s.Band))
        FCounted += dt;
      break;
    case TStepType::Wait:
      FInStep += dt;
      if (InBand(s.Band))
        FCounted += dt;
      else
        FCounted = 0;
      break;
    default:
      break;
  }
}

bool TProgramRunner::InBand(double band) const {
  return std::isfinite(FTemperature) && std::isfinite(FCommanded) &&
         std::fabs(FTemperature - FCommanded) <= band;
}

void TProgramRunner::Enter() {
  FStarted = false;
  FCounted = 0;
  FInStep = 0;
}

void TProgramRunner::Write(double value) {
  FWritten = Round2(value);
  FCommanded = FWritten;
  FInFlight = true;
  FLastWriteAt = FClock.Now();
  FHost.WriteSetpoint(FWritten);
}

void TProgramRunner::Advance() {
  const std::size_t before = FIndex;
  while (FState == TProgramState::Running) {
    // A write that did not come back right is tried again, a poll period
    // later, before the program goes on; three in a row pause it.
    if (FUnconfirmed) {
      if (!FInFlight && (FClock.Now() - FLastWriteAt) * kSecondsPerDay >= FPollSeconds - kTimeSlack)
        Write(FCommanded);
      break;
    }
    if (FIndex >= FProgram.Steps.size()) {
      Finish();
      return;
    }
    if (!StepDone())
      break;
    ++FIndex;
    Enter();
  }
  if (FIndex != before)
    Changed();
}

bool TProgramRunner::StepDone() {
  const TProgramStep& s = FProgram.Steps[FIndex];
  const double now = FClock.Now();
  switch (s.Type) {
    case TStepType::Set:
      if (FInFlight)
        return false;
      Write(s.Setpoint);
      return true;
    case TStepType::Ramp: {
      if (!FStarted) {
        if (FInFlight)
          return false;  // the read-back of the write before tells where the ramp starts
        FStarted = true;
        FRampFrom = std::isfinite(FInForce)     ? FInForce
                    : std::isfinite(FCommanded) ? FCommanded
                                                : s.Setpoint;
        FRampFrom = std::clamp(FRampFrom, FLimits.Min, FLimits.Max);
        FRampSeconds =
            std::isnan(s.Rate) ? s.Seconds : std::fabs(s.Setpoint - FRampFrom) / s.Rate * 60.0;
        FCounted = 0;
      }
      if (FInFlight || (now - FLastWriteAt) * kSecondsPerDay < FPollSeconds - kTimeSlack)
        return false;
      if (FCounted + kTimeSlack >= FRampSeconds) {
        Write(s.Setpoint);
        return true;
      }
      // Within the limits even when they narrowed during a pause.
      const double v = std::clamp(
          Round2(FRampFrom + (s.Setpoint - FRampFrom) * (FCounted / std::max(FRampSeconds, 1e-9))),
          FLimits.Min, FLimits.Max);
      if (!std::isfinite(FCommanded) || std::fabs(v - FCommanded) >= kRampStep - 1e-9)
        Write(v);
      return false;
    }
    case TStepType::Hold:
      return FCounted + kTimeSlack >= s.Seconds;
    case TStepType::Wait:
      if (FCounted + kTimeSlack >= s.Seconds)
        return true;
      if (std::isfinite(s.Limit) && FInStep + kTimeSlack >= s.Limit) {
        Pause(TPauseCause::WaitLimit, Clock(s.Limit, TFormatSettings{}));
        return false;
      }
      return false;
    case TStepType::Repeat: {
      int& left = FRemaining[FIndex];
      if (left < 0)
        left = s.Count;
      if (left == 0) {
        left = -1;  // an outer loop that comes back here runs this one in full again
        return true;
      }
      --left;
      FIndex = std::size_t(s.From - 1);
      Enter();
      return false;  // Advance goes on from the loop's first step
    }
  }
  return true;
}

void TProgramRunner::Finish() {
  // The end setpoint is the last thing written, and the program ends once
  // its read-back agreed.
  if (FInFlight)
    return;
  if (FProgram.End && !FEndWritten) {
    FEndWritten = true;
    Write(*FProgram.End);
    return;
  }
  FState = TProgramState::Stopped;
  FFinished = true;
  Changed();
}

QString TProgramRunner::CauseText() const {
  switch (FCause) {
    case TPauseCause::None:
      return {};
    case TPauseCause::User:
      return LoadStr(1057);
    case TPauseCause::Protection:
      return LoadStr(1051).arg(FCauseDetail);
    case TPauseCause::SwitchedOff:
      return LoadStr(1052);
    case TPauseCause::DeviceGone:
      return LoadStr(1053);
    case TPauseCause::WriteFailed:
      return LoadStr(1054);
    case TPauseCause::ReadBack:
      return FCauseDetail;
    case TPauseCause::WaitLimit:
      return LoadStr(1056).arg(FCauseDetail);
  }
  return {};
}

double TProgramRunner::StepSecondsLeft() const {
  if (FIndex >= FProgram.Steps.size())
    return 0;
  const TProgramStep& s = FProgram.Steps[FIndex];
  switch (s.Type) {
    case TStepType::Ramp:
      if (!FStarted) {
        const double from =
            std::clamp(std::isfinite(FInForce) ? FInForce : s.Setpoint, FLimits.Min, FLimits.Max);
        return std::isnan(s.Rate) ? s.Seconds : std::fabs(s.Setpoint - from) / s.Rate * 60.0;
      }
      return std::max(0.0, FRampSeconds - FCounted);
    case TStepType::Hold:
    case TStepType::Wait:
      return std::max(0.0, s.Seconds - FCounted);
    default:
      return 0;
  }
}

double TProgramRunner::PlannedStepEnd() const {
  return FClock.Now() + StepSecondsLeft() / kSecondsPerDay;
}

QString TProgramRunner::StatusText(const TFormatSettings& format) const {
  if (FState == TProgramState::Stopped)
    return {};
  if (FState == TProgramState::Paused)
    return LoadStr(1050).arg(Step()).arg(FProgram.Steps.size()).arg(CauseText());
  const TProgramStep& s = FProgram.Steps[std::min(FIndex, FProgram.Steps.size() - 1)];
  const QString head = LoadStr(1045).arg(Step()).arg(FProgram.Steps.size());
  switch (s.Type) {
    case TStepType::Set:
    case TStepType::Repeat:
      return head + StepTypeTitle(s.Type) + QLatin1Char(' ') + FormatFixed2(FCommanded, format);
    case TStepType::Ramp:
      return head + LoadStr(1046).arg(FormatFixed2(s.Setpoint, format),
                                      FormatFixed2(FCommanded, format), Clock(FCounted, format),
                                      Clock(FRampSeconds, format));
    case TStepType::Hold:
      if (std::isnan(s.Band))
        return head + LoadStr(1047).arg(Clock(FCounted, format), Clock(s.Seconds, format));
      return head + LoadStr(1048).arg(Clock(FCounted, format), Clock(s.Seconds, format),
                                      FormatFixed2(s.Band, format));
    case TStepType::Wait:
      return head + LoadStr(1049).arg(FormatFixed2(s.Band, format), Clock(FCounted, format),
                                      Clock(s.Seconds, format));
  }
  return head;
}

void TProgramRunner::Plan(std::vector<TPlanPoint>& out, std::size_t maxPoints) const {
  out.clear();
  if (FState == TProgramState::Stopped || maxPoints == 0)
    return;
  double t = 0;
  double sp = FCommanded;
  out.push_back({0, sp});
  std::vector<int> remaining = FRemaining;
  std::size_t i = FIndex;
  bool first = true;
  auto add = [&](double time, double value) {
    if (out.size() < maxPoints)
      out.push_back({time, value});
  };
  while (i < FProgram.Steps.size() && out.size() < maxPoints) {
    const TProgramStep& s = FProgram.Steps[i];
    switch (s.Type) {
      case TStepType::Set:
        if (!first || !FInFlight) {
          add(t, s.Setpoint);
          sp = s.Setpoint;
        }
        break;
      case TStepType::Ramp: {
        // A ramp that has yet to start begins within the limits, as Enter/StepDone do.
        if (!(first && FStarted) && std::isfinite(sp)) {
          const double from = std::clamp(sp, FLimits.Min, FLimits.Max);
          if (from != sp)
            add(t, sp = from);
        }
        const double left = first                ? StepSecondsLeft()
                            : std::isnan(s.Rate) ? s.Seconds
                                                 : std::fabs(s.Setpoint - sp) / s.Rate * 60.0;
        t += left;
        sp = s.Setpoint;
        add(t, sp);
        break;
      }
      case TStepType::Hold:
      case TStepType::Wait:
        t += first ? StepSecondsLeft() : s.Seconds;
        add(t, sp);
        break;
      case TStepType::Repeat: {
        int& left = remaining[i];
        if (left < 0)
          left = s.Count;
        if (left > 0) {
          --left;
          i = std::size_t(s.From - 1);
          first = false;
          continue;
        }
        left = -1;
        break;
      }
    }
    first = false;
    ++i;
  }
  if (FProgram.End && out.size() < maxPoints)
    add(t, *FProgram.End);
}

}  // namespace calorix
