#include "service/Headless.h"

#include "base/Clock.h"
#include "base/Helper.h"
#include "base/IniFile.h"
#include "base/Messages.h"
#include "link/Hid.h"
#include "record/DataFile.h"
#include "station/Remote.h"
#include "station/Services.h"
#include "station/Session.h"
#include "station/Station.h"

#include <QDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <memory>

namespace calorix {
namespace {
const QString kSection = QStringLiteral("Headless");
}

struct THeadless::TEntry {
  std::unique_ptr<TThermostatSession> Session;
  std::unique_ptr<TDataFile> File;
  QString Folder;              // the data file's
  std::size_t Taken = 0;       // samples of the record handed to the file
  bool StoppedByUser = false;  // RECord:STATe OFF: not started again at the next attach
};

QStringList SplitSerials(const QString& text) {
  QStringList serials;
  for (const QString& item : text.split(QLatin1Char(','))) {
    const QString serial = item.trimmed();
    if (!serial.isEmpty() && !serials.contains(serial))
      serials << serial;
  }
  return serials;
}

THeadless::THeadless(THeadlessOptions options, std::unique_ptr<IHidPlatform> platform,
                     QObject* parent)
    : QObject(parent),
      FOptions(std::move(options)),
      FStation(std::make_unique<TStation>(std::move(platform))) {}

THeadless::~THeadless() {
  Stop();
  FEntries.clear();  // the sessions go before the station they stand on
}

void THeadless::Log(const QString& serial, const QString& text) const {
  if (text.isEmpty())
    return;
  const QString line = serial.isEmpty() ? text : serial + QStringLiteral(": ") + text;
  if (FOptions.Log) {
    FOptions.Log(line);
    return;
  }
  // One write per line: lines of a journal never interleave.
  const QByteArray bytes = line.simplified().toUtf8() + '\n';
  std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
  std::fflush(stderr);
}

void THeadless::Start() {
  const TIniFile ini(FOptions.IniFileName);
  FDataFolder = ini.ReadString(kSection, QStringLiteral("DataFolder"), QString()).trimmed();
  FDataFolder = FDataFolder.isEmpty() ? DefaultRemoteFolder() : QDir::cleanPath(FDataFolder);
  FThermostats = !FOptions.Thermostats.isEmpty()
                     ? FOptions.Thermostats
                     : SplitSerials(ini.ReadString(kSection, QStringLiteral("Thermostats"), {}));
  FPollTime =
      ClampPollTime(ini.ReadInteger(QStringLiteral("Chart"), QStringLiteral("PollTime"), 1000));
  // A temperature program that ran when the last run ended is told, never continued.
  for (const TAbandonedProgram& p : TakeAbandonedPrograms(StateFolder()))
    Log(p.Serial, p.Notice);

  FStation->SetProductPattern(ini.ReadString(QStringLiteral("usb"), QStringLiteral("pname"),
                                             QStringLiteral("thermostat|(usb.{0,}adapter)")));
  connect(FStation.get(), &TStation::HandlerFailed, this,
          [this](const QString& text) { Log({}, text); });
  connect(FStation.get(), &TStation::Refused, this,
          [this](TThermostatSession* session, TJvHidDevice*, const QString& why) {
            Log(session ? session->BoundSerial() : QString(), why);
          });
  // Without a list every thermostat found gets a session of its own, bound to
  // it: it is taken again when it comes back. Made before the station looks
  // for a session waiting for it.
  connect(FStation.get(), &TStation::DeviceArrived, this, [this](TJvHidDevice* dev) {
    const QString serial = FStation->Serial(dev);
    if (FThermostats.isEmpty() && !FStation->SessionFor(serial))
      Open(serial);
  });
  for (const QString& serial : FThermostats)
    Open(serial);

  FServices = std::make_unique<TStationServices>(*FStation, FOptions.Remote, FOptions.Mqtt);
  connect(&FServices->Remote(), &TRemoteService::ClientNotice, this,
          [this](TThermostatSession* session, const QString& text) {
            Log(session ? session->BoundSerial() : QString(), text);
          });
  FServices->Start(ini);
  // The remote file commands work in the data folder.
  FServices->Remote().Settings.Folder = FDataFolder;
  if (TSessionPublisher* publisher = FServices->Publisher()) {
    // Each state once: the first one may come both ways.
    auto shown = std::make_shared<QString>(publisher->State());
    connect(publisher, &TSessionPublisher::StateChanged, this, [this, shown](const QString& text) {
      if (text != *shown)
        Log({}, *shown = text);
    });
    Log({}, *shown);
  }
  // The first scan was posted when the station was made: this comes after it.
  QTimer::singleShot(0, this, [this] {
    if (!FStopped)
      emit Ready();
  });
}

void THeadless::Open(const QString& serial) {
  auto entry = std::make_unique<TEntry>();
  TSessionOptions options;
  options.Clock = FOptions.Clock;
  options.Serial = serial;  // no journal: the data file is the durable record
  options.NotesFolder = StateFolder();
  options.JournalOwner = JournalOwnerFor(serial);  // names the program's note
  entry->Session = std::make_unique<TThermostatSession>(std::move(options));
  entry->Session->SetPollTime(FPollTime);
  TDataFileOptions file;
  file.Folder = entry->Folder = QDir(FDataFolder).filePath(DataFileName(serial));
  file.Serial = serial;
  file.Format = entry->Session->LocalFormat();
  file.PeriodMs = FOptions.DataPeriodMs;
  file.UtcNow = FOptions.UtcNow;
  // Each data file has its metadata file: the events are its own.
  file.Meta = [session = entry->Session.get()] {
    TRunMeta meta = session->RunMeta();
    meta.Events.clear();
    return meta;
  };
  entry->File = std::make_unique<TDataFile>(std::move(file));
  TEntry& e = *entry;
  FEntries.push_back(std::move(entry));
  Connect(e);
  FStation->AddSession(e.Session.get());
  FStation->Assign(*e.Session);
}

void THeadless::Connect(TEntry& e) {
  TThermostatSession* s = e.Session.get();
  const QString serial = s->BoundSerial();
  const auto log = [this, serial](const QString& text) { Log(serial, text); };
  connect(s, &TThermostatSession::ErrorRaised, this, log);
  connect(s, &TThermostatSession::HandlerFailed, this, log);
  connect(s, &TThermostatSession::StatusMessage, this, log);
  connect(e.File.get(), &TDataFile::Log, this, log);
  // A line for each event, and the event in the current data file's metadata.
  // Where a line of its own says it already (the thermostat found, with its
  // folder; an alarm; a pause the bath or the program caused, told as an
  // error with its step) that line stays the only one.
  connect(s, &TThermostatSession::EventLogged, this, [&e, log](const TEvent& event) {
    e.File->AddEvent(event);
    switch (event.Kind) {
      case TEventKind::ThermostatSelected:
      case TEventKind::AlarmRaised:
      case TEventKind::AlarmAcknowledged:
      case TEventKind::AlarmCleared:
        return;
      case TEventKind::ProgramPaused:
        if (event.Source == source::kSystem || event.Source == source::kProgram)
          return;
        break;
      default:
        break;
    }
    log(LoadStr(1261).arg(event.Text, event.Source));
  });
  connect(e.File.get(), &TDataFile::FailedChanged, s, &TThermostatSession::DataFileFailed);

  // Recorded from the moment it is found; a thermostat that comes back goes
  // on in the same record and file, unless a client stopped the recording.
  connect(s, &TThermostatSession::Attached, this, [this, &e, log] {
    log(LoadStr(1184).arg(QDir::toNativeSeparators(e.Folder)));
    if (!e.StoppedByUser && !FStopped) {
      const TThermostatSession::TActing service(*e.Session, source::kSystem);
      e.Session->StartRecording();
    }
  });
  // A line for each raise, acknowledgement and clearing of an alarm; the data
  // file's own lines tell of its failure and its recovery, with the reason.
  connect(s, &TThermostatSession::AlarmsChanged, this, [s, log] {
    for (const TAlarmChange& change : s->AlarmChanges()) {
      if (change.Code != TAlarmCode::DataFile || change.Event == TAlarmEvent::Acknowledged)
        log(AlarmChangeText(change));
    }
  });
  connect(s, &TThermostatSession::TemperatureRead, this, [this, &e] { TakeSamples(e); });
  connect(s, &TThermostatSession::RecordingChanged, this, [&e](bool on) {
    if (on) {
      e.StoppedByUser = false;
      return;
    }
    if (!e.Session->Device()) {
      e.File->Flush();  // gone for now: its file goes on when it is back
      return;
    }
    e.StoppedByUser = true;  // RECord:STATe OFF: the file is finished
    e.File->Finish();
  });
  // An emptied or replaced record starts its times anew: a new file.
  connect(s, &TThermostatSession::RecordReset, this, [&e] {
    e.File->Finish();
    e.Taken = 0;
  });
  connect(s, &TThermostatSession::RecordLoaded, this, [&e] {
    e.File->Finish();
    e.Taken = e.Session->Record().Count();
  });
}

void THeadless::TakeSamples(TEntry& e) {
  if (FStopped)
    return;  // every file is finished
  const TMeasurementRecord& record = e.Session->Record();
  for (; e.Taken < record.Count(); ++e.Taken) {
    const TSample& sample = record[e.Taken];
    e.File->Append(sample.Time, sample.Value);
  }
}

void THeadless::Stop() {
  if (FStopped)
    return;
  for (const auto& e : FEntries)
    TakeSamples(*e);
  FStopped = true;
  for (const auto& e : FEntries) {
    e->File->Finish();
    // Samples the disk never took (a folder still refused, a full disk) go now: said so.
    if (const std::size_t waiting = e->File->Waiting())
      Log(e->Session->BoundSerial(), LoadStr(1187).arg(waiting).arg(e->File->Error()));
  }
  // The clients are closed and the broker hears this client is offline.
  FServices.reset();
}

QString THeadless::StateFolder() const {
  // No serial's folder begins with a dot (see DataFileName).
  return QDir(FDataFolder).filePath(QStringLiteral(".state"));
}

std::vector<TThermostatSession*> THeadless::Sessions() const {
  std::vector<TThermostatSession*> out;
  for (const auto& e : FEntries)
    out.push_back(e->Session.get());
  return out;
}

THeadless::TEntry* THeadless::EntryOf(const TThermostatSession* session) const {
  for (const auto& e : FEntries) {
    if (e->Session.get() == session)
      return e.get();
  }
  return nullptr;
}

TDataFile* THeadless::DataFileOf(const TThermostatSession* session) const {
  const TEntry* e = EntryOf(session);
  return e ? e->File.get() : nullptr;
}

}  // namespace calorix
