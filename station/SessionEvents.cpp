// The session's event log: what happened to its thermostat and its record,
// who caused it, and the metadata the file beside a measurement file keeps.
#include "base/Messages.h"
#include "base/Timer.h"
#include "link/Hid.h"
#include "station/Session.h"

#include <QDateTime>
#include <QFileInfo>

namespace calorix {

TThermostatSession::TActing::TActing(TThermostatSession& session, QString source)
    : FSession(session), FPrevious(std::exchange(session.FActing, std::move(source))) {}

TThermostatSession::TActing::~TActing() {
  FSession.FActing = std::move(FPrevious);
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
  e.Kind = kind;
  e.Source = FActing.isEmpty() ? source::kUser : FActing;
  e.Text = text;
  e.Values = std::move(values);
  FEvents.push_back(std::move(e));
  emit EventLogged(FEvents.back());
}

void TThermostatSession::LogProtection(int bits) {
  if (bits == FLoggedProtection)
    return;
  const TActing system(*this, source::kSystem);
  LogEvent(TEventKind::ProtectionChanged, LoadStr(1203).arg(ProtectionText(bits)),
           {{QStringLiteral("old"), FLoggedProtection}, {QStringLiteral("new"), bits}});
  FLoggedProtection = bits;
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
