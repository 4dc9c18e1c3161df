#pragma once
// What happened to a thermostat while it was watched: an event log kept with
// its record. Each event carries its wall-clock time (UTC, milliseconds), the
// record's elapsed time when recording, the thermostat, a kind, who caused it
// and a text in the interface language, plus the values where there are some.
#include <QJsonObject>
#include <QString>

#include <optional>
#include <vector>

namespace calorix {

enum class TEventKind {
  SetpointWritten,
  SetpointFailed,
  RecordingStarted,
  RecordingStopped,
  RecordCleared,
  RecordSaved,
  RecordOpened,
  RecordRestored,
  ThermostatSelected,
  ThermostatArrived,
  ThermostatRemoved,
  ThermostatOff,
  ProtectionChanged,
  ProgramLoaded,
  ProgramStarted,
  ProgramPaused,
  ProgramResumed,
  ProgramStopped,
  ProgramFinished,
  ProgramStep,
  AlarmRaised,
  AlarmAcknowledged,
  AlarmCleared,
  SettingChanged,
};

// Who caused an event: "user", "program", "remote <address>:<port>", "mqtt", "system".
namespace source {
inline const QString kUser = QStringLiteral("user");
inline const QString kProgram = QStringLiteral("program");
inline const QString kMqtt = QStringLiteral("mqtt");
inline const QString kSystem = QStringLiteral("system");
inline QString Remote(const QString& peer) {
  return QStringLiteral("remote ") + peer;
}
}  // namespace source

struct TEvent {
  qint64 UtcMs = 0;               // wall clock, milliseconds since 1970 UTC
  std::optional<double> Elapsed;  // the record's elapsed time, days; none when not recording
  QString Serial;
  TEventKind Kind = TEventKind::SetpointWritten;
  QString Source;
  QString Text;        // in the interface language of the program that logged it
  QJsonObject Values;  // "old", "new" (setpoints), "cause", "file", "key", ...
  bool operator==(const TEvent&) const = default;
};

// The kind's code as files and topics carry it ("setpoint", "alarm-raised", ...).
QString EventKindCode(TEventKind kind);
std::optional<TEventKind> EventKindFromCode(const QString& code);

// {"time": "<UTC ISO 8601 ms>", "elapsed": <seconds> or null, "serial", "kind",
// "source", "text", "values": {...}}
QJsonObject EventToJson(const TEvent& event);
// None when a field is missing or of the wrong type, or the kind is unknown.
std::optional<TEvent> EventFromJson(const QJsonObject& object);

// "2026-12-09T20:31:05.123Z".
QString UtcIsoMs(qint64 utcMs);

}  // namespace calorix
