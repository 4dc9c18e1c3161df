#pragma once
// A temperature program: the steps the runner goes through in order, the
// setpoint limits a program must stay within, and its estimated duration.
#include <QString>

#include <cmath>
#include <limits>
#include <optional>
#include <vector>

namespace calorix {

enum class TProgramState { Stopped, Running, Paused };

enum class TStepType { Set, Ramp, Hold, Wait, Repeat };

inline constexpr double kNoValue = std::numeric_limits<double>::quiet_NaN();

// One step. Which fields count depends on the type; the others stay NaN / 0.
struct TProgramStep {
  TStepType Type = TStepType::Set;
  double Setpoint = kNoValue;  // set, ramp: °C
  double Rate = kNoValue;      // ramp: °C per minute (or Seconds)
  double Seconds = kNoValue;   // ramp: its duration; hold: the hold; wait: how long stable
  double Band = kNoValue;      // hold: optional soak band; wait: the stability band, °C
  double Limit = kNoValue;     // wait: optional, seconds until the program pauses
  int From = 0;                // repeat: 1-based step to go back to
  int Count = 0;               // repeat: how many more times

  bool operator==(const TProgramStep&) const = default;
};

struct TProgram {
  QString Name;
  std::vector<TProgramStep> Steps;
  std::optional<double> End;  // written when the last step finishes

  bool operator==(const TProgram& o) const;
};

struct TSetpointLimits {
  double Min = -50.0;
  double Max = 150.0;
};

// A text of this folder in the user's language (source texts are Russian).
QString ProgramTr(const char* text);
// "<where>, поле "<field>": <what>": a fault in a program, as the user is told.
QString ProgramFault(const QString& where, const char* field, const QString& what);

// The first fault of the program, naming the step and the field; empty when
// the program may run. Limits are checked only when given.
QString CheckProgram(const TProgram& program, const TSetpointLimits* limits);
// The fault of one step within its program (index 0-based), or empty.
QString CheckStep(const TProgram& program, std::size_t index, const TSetpointLimits* limits);

// The step's name as the window shows it ("уставка", "выдержка" ...).
QString StepTypeTitle(TStepType type);
// The file's name of a step type ("set", "ramp" ...).
const char* StepTypeKey(TStepType type);

// Seconds the program takes at the least: holds and waits as if the bath were
// at once within band, ramps from the setpoint planned before them (the first
// from startSetpoint; NaN counts as its target). Repeats multiply without
// unrolling, so it is linear in the number of steps.
double EstimateSeconds(const TProgram& program, double startSetpoint);

}  // namespace calorix
