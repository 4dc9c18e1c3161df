#include "record/Events.h"

#include <QDateTime>
#include <QJsonValue>

#include <array>
#include <cmath>
#include <utility>

namespace calorix {
namespace {

constexpr std::array<std::pair<TEventKind, const char*>, 24> kCodes{{
    {TEventKind::SetpointWritten, "setpoint"},
    {TEventKind::SetpointFailed, "setpoint-failed"},
    {TEventKind::RecordingStarted, "recording-started"},
    {TEventKind::RecordingStopped, "recording-stopped"},
    {TEventKind::RecordCleared, "record-cleared"},
    {TEventKind::RecordSaved, "record-saved"},
    {TEventKind::RecordOpened, "record-opened"},
    {TEventKind::RecordRestored, "record-restored"},
    {TEventKind::ThermostatSelected, "thermostat-selected"},
    {TEventKind::ThermostatArrived, "thermostat-arrived"},
    {TEventKind::ThermostatRemoved, "thermostat-removed"},
    {TEventKind::ThermostatOff, "thermostat-off"},
    {TEventKind::ProtectionChanged, "protection"},
    {TEventKind::ProgramLoaded, "program-loaded"},
    {TEventKind::ProgramStarted, "program-started"},
    {TEventKind::ProgramPaused, "program-paused"},
    {TEventKind::ProgramResumed, "program-resumed"},
    {TEventKind::ProgramStopped, "program-stopped"},
    {TEventKind::ProgramFinished, "program-finished"},
    {TEventKind::ProgramStep, "program-step"},
    {TEventKind::AlarmRaised, "alarm-raised"},
    {TEventKind::AlarmAcknowledged, "alarm-acknowledged"},
    {TEventKind::AlarmCleared, "alarm-cleared"},
    {TEventKind::SettingChanged, "setting"},
}};

}  // namespace

QString EventKindCode(TEventKind kind) {
  for (const auto& [k, code] : kCodes) {
    if (k == kind)
      return QString::fromLatin1(code);
  }
  return {};
}

std::optional<TEventKind> EventKindFromCode(const QString& code) {
  for (const auto& [k, c] : kCodes) {
    if (code == QLatin1String(c))
      return k;
  }
  return std::nullopt;
}

QString UtcIsoMs(qint64 utcMs) {
  return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC).toString(Qt::ISODateWithMs);
}

QJsonObject EventToJson(const TEvent& e) {
  QJsonObject o;
  o[QStringLiteral("time")] = UtcIsoMs(e.UtcMs);
  // Seconds with milliseconds, as the record's times are kept.
  o[QStringLiteral("elapsed")] =
      e.Elapsed ? QJsonValue(std::round(*e.Elapsed * 86'400'000.0) / 1000.0) : QJsonValue();
  o[QStringLiteral("serial")] = e.Serial;
  o[QStringLiteral("kind")] = EventKindCode(e.Kind);
  o[QStringLiteral("source")] = e.Source;
  o[QStringLiteral("text")] = e.Text;
  o[QStringLiteral("values")] = e.Values;
  return o;
}

std::optional<TEvent> EventFromJson(const QJsonObject& o) {
  const QJsonValue time = o.value(QStringLiteral("time")),
                   elapsed = o.value(QStringLiteral("elapsed")),
                   serial = o.value(QStringLiteral("serial")),
                   kind = o.value(QStringLiteral("kind")),
                   source = o.value(QStringLiteral("source")),
                   text = o.value(QStringLiteral("text")),
                   values = o.value(QStringLiteral("values"));
  if (!time.isString() || !(elapsed.isDouble() || elapsed.isNull()) || !serial.isString() ||
      !kind.isString() || !source.isString() || !text.isString() ||
      !(values.isObject() || values.isUndefined()))
    return std::nullopt;
  const QDateTime utc = QDateTime::fromString(time.toString(), Qt::ISODateWithMs);
  const auto k = EventKindFromCode(kind.toString());
  if (!utc.isValid() || !k || (elapsed.isDouble() && !std::isfinite(elapsed.toDouble())))
    return std::nullopt;
  TEvent e;
  e.UtcMs = utc.toMSecsSinceEpoch();
  if (elapsed.isDouble())
    e.Elapsed = elapsed.toDouble() / 86'400.0;
  e.Serial = serial.toString();
  e.Kind = *k;
  e.Source = source.toString();
  e.Text = text.toString();
  e.Values = values.toObject();
  return e;
}

}  // namespace calorix
