// The session's event log: what happened to its thermostat and its record,
// who caused it, and the metadata the file beside a measurement file keeps.
#include "base/Messages.h"
#include "base/Timer.h"
#include "link/Hid.h"
#include "record/EventJournal.h"
#include "station/Session.h"

#include "link/Codec.h"

#include <QDateTime>
#include <QFileInfo>

namespace calorix {

TThermostatSession::TActing::TActing(TThermostatSession& session, QString source)
    : FSession(&session), FPrevious(std::exchange(session.FActing, std::move(source))) {}

TThermostatSession::TActing::~TActing() {
  if (FSession)  // a client's command may have closed it
    FSession->FActing = std::move(FPrevious);
}

qint64 TThermostatSession::UtcMs() const {
  return FWall.At(FClock.Now());
}

void TThermostatSession::SetUtcBase(qint64 utcMs) {
  FWall = TWallClock(utcMs, FClock.Now());
}

void TThermostatSession::LogEvent(TEventKind kind, const QString& text, QJsonObject values) {
  TEvent e;
  e.UtcMs = UtcMs();
  if (FRecording)
    e.Elapsed = Elapsed();
  e.Serial = FDevice ? FSerial : FBoundSerial;
  if (e.Serial.isEmpty())  // a thermostat that came to a session waiting for any
    e.Serial = values.value(QStringLiteral("serial")).toString();
  e.Kind = kind;
  e.Source = FActing.isEmpty() ? source::kUser : FActing;
  e.Text = text;
  e.Values = std::move(values);
  FEvents.push_back(std::move(e));
  if (FEventJournal)
    FEventJournal->Append(FEvents.back());
  emit EventLogged(FEvents.back());
}

void TThermostatSession::EventsReplaced() {
  if (FEventJournal)
    FEventJournal->Rewrite(FEvents);
}

void TThermostatSession::LogSettingChanged(const QString& key, const QString& old,
                                           const QString& now) {
  LogEvent(
      TEventKind::SettingChanged, LoadStr(1226).arg(key, old, now),
      {{QStringLiteral("key"), key}, {QStringLiteral("old"), old}, {QStringLiteral("new"), now}});
}

void TThermostatSession::LogProtection(int bits) {
  if (bits == FLoggedProtection)
    return;
  const TActing system(*this, source::kSystem);
  LogEvent(TEventKind::ProtectionChanged, LoadStr(1203).arg(ProtectionText(bits)),
           {{QStringLiteral("old"), FLoggedProtection}, {QStringLiteral("new"), bits}});
  FLoggedProtection = bits;
}

namespace {

QString SetpointText(std::optional<double> value, const TFormatSettings& format) {
  return value && std::isfinite(*value) ? FormatFixed2(*value, format) : QStringLiteral("—");
}

QJsonValue SetpointValue(std::optional<double> value) {
  return value && std::isfinite(*value) ? QJsonValue(*value) : QJsonValue();
}

}  // namespace

TThermostatSession::TRequestDoneHandler TThermostatSession::WatchSetpointWrite(
    const std::string& text, TRequestDoneHandler done) {
  TSetpointWrite write;
  write.Source = FActing.isEmpty() ? source::kUser : FActing;
  if (FSetpointKnown)
    write.Old = FSetpoint;
  const std::string_view value =
      std::string_view(text).substr(std::min(text.size(), kSetpointWritePrefix.size()));
  write.Requested = ParseFloatValue(value.substr(0, value.find('\r')), '.');
  return [this, write, done = std::move(done)](const TRequestDone& r) {
    if (r.Outcome == TRequestOutcome::Answered)
      FReadBacks.push_back(write);  // logged with the value read back
    else
      LogSetpointFailed(write, r);
    if (done)
      done(r);
  };
}

TThermostatSession::TRequestDoneHandler TThermostatSession::WatchSetpointRead(
    TRequestDoneHandler done) {
  return [this, done = std::move(done)](const TRequestDone& r) {
    std::optional<double> readBack;
    if (r.Outcome == TRequestOutcome::Answered)
      readBack = ParseFloatValue(r.Value, '.');
    for (const TSetpointWrite& write : std::exchange(FReadBacks, {}))
      LogSetpointWritten(write, readBack);
    if (done)
      done(r);
  };
}

void TThermostatSession::LogSetpointWritten(const TSetpointWrite& write,
                                            std::optional<double> readBack) {
  const TActing who(*this, write.Source);
  LogEvent(TEventKind::SetpointWritten,
           LoadStr(1219).arg(SetpointText(write.Requested, FLocalFormat),
                             SetpointText(readBack, FLocalFormat),
                             SetpointText(write.Old, FLocalFormat)),
           {{QStringLiteral("old"), SetpointValue(write.Old)},
            {QStringLiteral("requested"), SetpointValue(write.Requested)},
            {QStringLiteral("new"), SetpointValue(readBack)}});
}

void TThermostatSession::LogSetpointFailed(const TSetpointWrite& write, const TRequestDone& done) {
  QString cause;
  switch (done.Outcome) {
    case TRequestOutcome::Answered:
      break;
    case TRequestOutcome::ErrorStatus:
      cause = done.Status < 0 ? UnexpectedAnswerText()
                              : StatusErrorText(done.Status, FRequests.StatusTexts());
      break;
    case TRequestOutcome::NoAnswer:
      cause = LoadStr(1221);
      break;
    case TRequestOutcome::Dropped:
      cause = LoadStr(1222);
      break;
  }
  const TActing who(*this, write.Source);
  LogEvent(TEventKind::SetpointFailed,
           LoadStr(1220).arg(SetpointText(write.Requested, FLocalFormat), cause),
           {{QStringLiteral("old"), SetpointValue(write.Old)},
            {QStringLiteral("requested"), SetpointValue(write.Requested)},
            {QStringLiteral("cause"), cause},
            {QStringLiteral("status"), done.Status}});
}

void TThermostatSession::LogAlarmChanges() {
  for (const TAlarmChange& change : FAlarmChanges) {
    const QString alarm = AlarmText(change.Code, change.Detail);
    static constexpr TEventKind kKinds[] = {TEventKind::AlarmRaised, TEventKind::AlarmAcknowledged,
                                            TEventKind::AlarmCleared};
    static constexpr int kTexts[] = {1141, 1163, 1164};
    const int i = int(change.Event);
    // Acknowledging is whoever acts (a person, a client); the rest is the bath's.
    const TActing who(*this, change.Event == TAlarmEvent::Acknowledged
                                 ? (FActing.isEmpty() ? source::kUser : FActing)
                                 : source::kSystem);
    LogEvent(kKinds[i], LoadStr(kTexts[i]).arg(alarm),
             {{QStringLiteral("alarm"), QString::fromLatin1(AlarmCodeName(change.Code))},
              {QStringLiteral("detail"), change.Detail}});
  }
}

TRunMeta TThermostatSession::RunMeta() const {
  TRunMeta m;
  m.Software = QStringLiteral("Calorix " CALORIX_VERSION);
  m.Serial = FDevice ? FSerial : FBoundSerial;
  if (FDevice) {
    m.Product = FDevice->ProductName();
    m.Manufacturer = FDevice->VendorName();
  }
  if (FRecord->Count() > 0) {
    m.StartUtcMs = FWall.At(FTimeBase + (*FRecord)[0].Time);
  }
  m.PollMs = FPollTimer->Interval();
  m.Samples = std::int64_t(FRecord->Count());
  m.Events = FEvents;
  return m;
}

void TThermostatSession::ReadSidecarOf(const QString& path) {
  const TSidecarRead read = ReadSidecar(path);
  switch (read.State) {
    case TSidecarRead::TState::None:
      break;
    case TSidecarRead::TState::Damaged:
      // The file opens as it would without it.
      emit StatusMessage(LoadStr(1211).arg(read.Error));
      break;
    case TSidecarRead::TState::Ok:
      FEvents = read.Meta.Events;
      if (!read.ChecksumMatches) {
        const TActing system(*this, source::kSystem);
        LogEvent(TEventKind::RecordOpened, LoadStr(1210), {{QStringLiteral("file"), path}});
        emit StatusMessage(LoadStr(1210));
      }
      break;
  }
}

}  // namespace calorix
