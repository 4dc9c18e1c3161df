#include "station/Session.h"

#include "base/Guarded.h"
#include "base/Messages.h"
#include "base/Timer.h"
#include "link/Hid.h"
#include "record/EventJournal.h"
#include "record/Journal.h"
#include "record/MeasurementFile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <exception>
#include <limits>

namespace calorix {
namespace {

// An abandoned journal goes with the events kept beside it.
void DiscardJournal(const QString& path) {
  TRecordJournal::Discard(path);
  TEventJournal::Discard(TEventJournal::PathFor(path));
}

int DataHandlers = 0;  // > 0 while a thermostat's data is handled

struct TDataHandling {
  TDataHandling() { ++DataHandlers; }
  ~TDataHandling() { --DataHandlers; }
  TDataHandling(const TDataHandling&) = delete;
  TDataHandling& operator=(const TDataHandling&) = delete;
};

}  // namespace

QString ProtectionText(int bits) {
  // Only the lowest set bit of the six known ones is named.
  for (int bit = 0; bit < 6; ++bit) {
    if (bits & (1 << bit))
      return LoadStr(1022 + bit);
  }
  return LoadStr(1021);
}

TThermostatSession::TThermostatSession(TSessionOptions options, QObject* parent)
    : QObject(parent),
      FClock(*options.Clock),
      FRequests(*this),
      FTemperature(std::numeric_limits<double>::quiet_NaN()),
      FRecord(std::make_shared<TMeasurementRecord>()),
      FJournalFolder(options.JournalFolder),
      FJournalOwner(options.JournalOwner),
      FNotesFolder(options.NotesFolder.isEmpty() ? options.JournalFolder : options.NotesFolder),
      FRunner(*this, *options.Clock),
      FAlarms(*options.Clock) {
  FBoundSerial = options.Serial;
  FWall = TWallClock(QDateTime::currentMSecsSinceEpoch(), FClock.Now());
  FLocalFormat = TFormatSettings::FromLocale(QLocale::system());
  FDotFormat = FLocalFormat.WithDecimal('.');
  FCommaFormat = FLocalFormat.WithDecimal(',');
  QStringList statusTexts{QString()};
  for (int id = 1014; id <= 1019; ++id)
    statusTexts << LoadStr(id);
  FRequests.SetStatusTexts(statusTexts);

  FPollTimer = new TTimer(this, 1000);
  FPollTimer->setObjectName(QStringLiteral("DataTimer"));
  FPollTimer->OnTimer = [this] { Guarded([this] { PollTick(); }); };
  FTimeoutTimer = new TTimer(this, 1000, /*singleShot=*/true);
  FTimeoutTimer->setObjectName(QStringLiteral("Timeout"));
  FTimeoutTimer->OnTimer = [this] { Guarded([this] { TimeoutTick(); }); };
  FProgramTimer = new TTimer(this, 500);
  FProgramTimer->setObjectName(QStringLiteral("ProgramTimer"));
  FProgramTimer->OnTimer = [this] {
    Guarded([this] {
      FRunner.Tick();
      ProgramChanged();
    });
  };

  if (!FJournalFolder.isEmpty()) {
    TJournalOptions journal;
    journal.PeriodMs = options.JournalPeriodMs;
    journal.Owner = FJournalOwner;
    FJournal = std::make_unique<TRecordJournal>(FJournalFolder, std::move(journal));
    FEventJournal = std::make_unique<TEventJournal>(FJournal->EventsPath());
    // Runs on the journal's writer thread: the text goes to the session's thread.
    FJournal->SetOnWriteError([this](const QString& text) {
      QMetaObject::invokeMethod(
          this, [this, text] { emit StatusMessage(text); }, Qt::QueuedConnection);
    });
  }
}

TThermostatSession::~TThermostatSession() {
  ForgetDevice();
}

void TThermostatSession::ForgetDevice() {
  if (FDevice) {
    FDevice->SetOnData({});
    FDevice->Unlock();  // free for another session or program now
  }
  FDevice = nullptr;
  FSerial.clear();
}

QString JournalOwnerFor(const QString& serial) {
  // Percent-encoded, '-' too: the journal's own "-2" suffix stays unmistakable.
  const QByteArray safe = serial.toUtf8().toPercentEncoding("#_", "-.~");
  return QStringLiteral("%1@%2")
      .arg(QCoreApplication::applicationPid())
      .arg(QString::fromLatin1(safe));
}

QString JournalSerial(const QString& journalPath) {
  // "record-<pid>@<serial>[-n].journal": what follows the process id.
  static const QRegularExpression name(
      QStringLiteral("^record-\\d+@([A-Za-z0-9_#%]+?)(?:-\\d+)?\\.journal(?:\\.new)?$"));
  const QRegularExpressionMatch m = name.match(QFileInfo(journalPath).fileName());
  return m.hasMatch() ? QString::fromUtf8(QByteArray::fromPercentEncoding(m.captured(1).toLatin1()))
                      : QString();
}

bool TThermostatSession::HandlingData() {
  return DataHandlers > 0;
}

void TThermostatSession::RaiseError(const QString& text) {
  if (ErrorDiversion)
    ErrorDiversion(text);
  else
    emit ErrorRaised(text);
}

void TThermostatSession::Guarded(const std::function<void()>& handler) {
  if (const auto escaped = RunGuarded(handler))
    emit HandlerFailed(*escaped);
}

// ---------------------------------------------------------------------------
// The thermostat

void TThermostatSession::Attach(TJvHidDevice* dev, bool adapter, const QString& serial) {
  if (FDevice) {
    FDevice->Unlock();  // free for another program now
    FDevice->SetOnData({});
    // Requests meant for the previous thermostat must not reach this one; their
    // askers hear they were dropped while no thermostat is attached.
    FDevice = nullptr;
    FRequests.DeviceGone();
  }
  FDevice = dev;
  FSerial = serial;
  FSwitchedOff = false;
  FSetpointKnown = false;
  // What it sent while not attached answered requests it will never be asked again.
  dev->DiscardInput();
  dev->SetOnData([this](TJvHidDevice*, uint8_t, const uint8_t* data, uint16_t size) {
    const TDataHandling handling;
    Guarded([&] { InputReport(data, size); });
  });
  FReportLength = dev->Caps().OutputReportByteLength;
  FInBand.Reset();
  FInside.reset();
  emit Attached();
  {
    const TActing system(*this, source::kSystem);
    FLoggedProtection = 0;
    LogEvent(TEventKind::ThermostatSelected, LoadStr(1200).arg(serial),
             {{QStringLiteral("serial"), serial}});
  }
  FRunner.DeviceGone();
  FAlarms.SetSettings(FAlarmConfig.For(serial));
  FAlarms.Attached();
  AlarmsFed();
  FAdapterFraming = adapter;
  if (FAdapterFraming)
    WriteReport(AdapterSetupReport(FReportLength));
  QueueRequest(rkSetpointRead, std::string(kSetpointReadRequest));
  QueueRequest(rkReadyBand, std::string(kReadyBandRequest));
  QueueRequest(rkTemperature, std::string(kTemperatureRequest));
  FPollTimer->SetEnabled(true);
}

void TThermostatSession::Detach() {
  if (!FDevice)
    return;
  {
    const TActing system(*this, source::kSystem);
    LogEvent(TEventKind::ThermostatRemoved, LoadStr(1201).arg(FSerial),
             {{QStringLiteral("serial"), FSerial}});
  }
  FDevice = nullptr;
  FSerial.clear();
  FSwitchedOff = false;
  if (FRecording)
    StopRecording();
  FInBand.Reset();
  FInside.reset();
  emit Detached();
  FRunner.DeviceGone();
  FPollTimer->SetEnabled(false);
  // Requests left for the removed thermostat would hold back the next one's.
  FRequests.DeviceGone();
  FAlarms.Detached();
  AlarmsFed();
}

void TThermostatSession::WriteReport(const TBytes& report) {
  if (!FDevice)
    return;
  uint32_t written = 0;
  FDevice->WriteFile(report.data(), uint32_t(report.size()), written);
}

// ---------------------------------------------------------------------------
// Requests, poll and time-out

void TThermostatSession::QueueRequest(TRequestKind kind, const std::string& text) {
  if (kind == rkSetpointWrite || kind == rkSetpointRead)
    QueueTicketed(kind, text, nullptr, true);
  else
    FRequests.QueueRequest(kind, text);
}

void TThermostatSession::QueueRequest(TRequestKind kind, const std::string& text,
                                      TRequestDoneHandler done) {
  QueueTicketed(kind, text, std::move(done), false);
}

void TThermostatSession::QueueTicketed(TRequestKind kind, const std::string& text,
                                       TRequestDoneHandler done, bool loud) {
  if (kind == rkSetpointWrite)
    done = WatchSetpointWrite(text, std::move(done));
  else if (kind == rkSetpointRead)
    done = WatchSetpointRead(std::move(done));
  const std::uint64_t ticket = ++FLastTicket;
  FTickets.emplace(ticket, std::move(done));
  FRequests.QueueRequest(kind, text, ticket, loud);
}

void TThermostatSession::RequestDone(const TRequestDone& done) {
  auto it = FTickets.find(done.Ticket);
  if (it == FTickets.end())
    return;
  TRequestDoneHandler handler = std::move(it->second);
  FTickets.erase(it);
  if (handler)
    handler(done);
}

void TThermostatSession::WriteRequest(const std::string& text) {
  FRequests.WriteRequest(text);
}

void TThermostatSession::PollTick() {
  FRequests.PollTick(FPollTimer->Enabled());
  FAlarms.Tick();
  AlarmsFed();
}

void TThermostatSession::TimeoutTick() {
  FRequests.TimeoutExpired();
}

void TThermostatSession::InputReport(const std::uint8_t* data, std::size_t size) {
  FRequests.InputReport(data, size);
}

void TThermostatSession::SetPollTime(int ms) {
  FPollTimer->SetInterval(std::max(ms, 1000));
  FAlarms.SetPollSeconds(FPollTimer->Interval() / 1000.0);
}

void TThermostatSession::StartTimeout() {
  FTimeoutTimer->Restart();
}

void TThermostatSession::StopTimeout() {
  FTimeoutTimer->SetEnabled(false);
}

void TThermostatSession::StopPolling() {
  FPollTimer->SetEnabled(false);
}

void TThermostatSession::ConsoleAnswer(const std::string& line) {
  emit ConsoleAnswerRead(QString::fromLatin1(line.data(), qsizetype(line.size())));
}

void TThermostatSession::SwitchedOff() {
  if (!FSwitchedOff) {
    const TActing system(*this, source::kSystem);
    LogEvent(TEventKind::ThermostatOff, LoadStr(1202));
  }
  FSwitchedOff = true;
  emit ThermostatSwitchedOff();
  FRunner.SwitchedOff();
  FAlarms.SwitchedOff();
  AlarmsFed();
}

void TThermostatSession::AcknowledgeAlarms() {
  FAlarms.Acknowledge();
  AlarmsFed();
}

void TThermostatSession::DataFileFailed(bool failed) {
  FAlarms.DataFile(failed);
  AlarmsFed();
}

void TThermostatSession::SetAlarmConfig(const TAlarmConfig& config) {
  FAlarmConfig = config;
  FAlarms.SetSettings(FAlarmConfig.For(FDevice ? FSerial : FBoundSerial));
}

void TThermostatSession::AlarmsFed() {
  if (!FAlarms.Changed())
    return;
  FAlarmChanges = FAlarms.TakeChanges();
  LogAlarmChanges();
  emit AlarmsChanged();
}

// ---------------------------------------------------------------------------
// Readings

void TThermostatSession::Dispatch(TRequestKind kind, const std::string& value) {
  const QString text = QString::fromLatin1(value.data(), qsizetype(value.size()));
  switch (kind) {
    case rkTemperature: {
      const double t = ParseFloatValue(text, FDotFormat);
      FTemperature = t;
      AddSample(Elapsed(), t);
      FInside = FInBand.Update(FClock.Now(), t, FSetpoint, FReadyBand);
      FAlarms.Temperature(t);
      emit TemperatureRead(t);
      AlarmsFed();
      FRunner.Temperature(t);
      if (FRunner.State() != TProgramState::Stopped)
        ProgramChanged();
      break;
    }
    case rkSetpointRead:
      FSetpoint = ParseFloatValue(text, FDotFormat);
      FSetpointKnown = true;
      emit SetpointRead(FSetpoint);
      FRunner.SetpointInForce(FSetpoint);
      FAlarms.Setpoint(FSetpoint);
      AlarmsFed();
      break;
    case rkReadyBand:
      FReadyBand = ParseFloatValue(text, FDotFormat);
      emit ReadyBandRead(FReadyBand);
      break;
    case rkAlarmStatus: {
      // The last character is bit 0.
      int flags = 0;
      for (int bit = 0; bit < 31 && bit < text.size(); ++bit) {
        if (text.at(text.size() - 1 - bit) == QLatin1Char('1'))
          flags |= 1 << bit;
      }
      FProtection = flags;
      LogProtection(flags);
      emit ProtectionRead(flags);
      FRunner.Protection(flags, ProtectionText(flags));
      FAlarms.Protection(flags);
      AlarmsFed();
      break;
    }
    case rkSetpointWrite:  // a successful write shows nothing; the read-back does
    case rkConsole:
      break;
  }
}

std::optional<std::string> TThermostatSession::SetpointWriteRequest(QString s) const {
  // The text goes on the wire as typed (comma made a point), but only when it
  // is a number: surrounding blanks and control characters are cut off, so a
  // pasted text cannot carry a second command.
  s.replace(QLatin1Char(','), QLatin1Char('.'));
  while (!s.isEmpty() && s.front().unicode() <= ' ')
    s.remove(0, 1);
  while (!s.isEmpty() && s.back().unicode() <= ' ')
    s.chop(1);
  const double v = ParseFloatValue(s, FDotFormat);
  // Valid when it is a finite number in single precision, as the thermostat keeps it.
  const bool valid = std::isfinite(v) && std::fabs(v) <= double(std::numeric_limits<float>::max());
  if (!valid)
    return std::nullopt;
  return std::string(kSetpointWritePrefix) + s.toStdString() + "\r";
}

void TThermostatSession::WriteSetpoint(const QString& text) {
  if (const auto request = SetpointWriteRequest(text))
    QueueRequest(rkSetpointWrite, *request);
  else
    RaiseError(LoadStr(1013));
  ReadSetpoint();
}

void TThermostatSession::ReadSetpoint() {
  QueueRequest(rkSetpointRead, std::string(kSetpointReadRequest));
}

// ---------------------------------------------------------------------------
// Record

bool TThermostatSession::AddSample(double time, double value) {
  if (!FRecording)
    return false;
  FRecord->Add(time, value);
  if (FJournal)
    FJournal->Append(time, value);
  FModified = true;
  return true;
}

void TThermostatSession::StartRecording() {
  if (FRecording)
    return;
  FRecording = true;
  // Continuing a record leaves no gap for the pause.
  FTimeBase = FClock.Now() - RecordLength();
  LogEvent(TEventKind::RecordingStarted, LoadStr(1204));
  emit RecordingChanged(true);
}

void TThermostatSession::StopRecording() {
  if (!FRecording)
    return;
  LogEvent(TEventKind::RecordingStopped, LoadStr(1205));
  FRecording = false;
  if (FJournal)
    FJournal->WriteSoon();  // on the writer thread: Stop does not wait for the disk
  emit RecordingChanged(false);
}

void TThermostatSession::ResetRecord() {
  FRecord->Clear();
  emit RecordReset();
  FTimeBase = FClock.Now() - RecordLength();
}

void TThermostatSession::ClearRecord() {
  ResetRecord();
  // A new record keeps a log of its own.
  FEvents.clear();
  EventsReplaced();
  LogEvent(TEventKind::RecordCleared, LoadStr(1206));
  FModified = false;
  if (FJournal) {
    FJournal->Reset(std::vector<TSample>{});
    FJournal->MarkSaved();
  }
}

QString TThermostatSession::SaveRecordTo(const QString& path) {
  std::vector<TFileSample> samples;
  samples.reserve(FRecord->Count());
  for (std::size_t i = 0; i < FRecord->Count(); ++i) {
    const TSample& s = (*FRecord)[i];
    samples.push_back({s.Time, s.Value});
  }
  // Written to a temporary file and swapped in: a failed save leaves the old file whole.
  const QByteArray bytes = FormatMeasurementFile(samples, FLocalFormat);
  const QString error = SaveFileBytes(path, bytes);
  if (!error.isEmpty())
    return error;
  LogEvent(TEventKind::RecordSaved, LoadStr(1207).arg(path), {{QStringLiteral("file"), path}});
  // The metadata after the file it describes: a sidecar never names bytes not on the disk.
  TRunMeta meta = RunMeta();
  meta.CsvSha256 = Sha256Hex(bytes);
  const QString metaError = WriteSidecar(path, meta);
  if (!metaError.isEmpty())
    emit StatusMessage(metaError);
  FModified = false;
  if (FJournal)
    FJournal->MarkSaved();
  return {};
}

void TThermostatSession::OpenRecord(const std::vector<TFileSample>& samples, const QString& path) {
  LoadRecord(samples);
  FEvents.clear();
  if (!path.isEmpty())
    ReadSidecarOf(path);
  EventsReplaced();
  if (!path.isEmpty()) {
    LogEvent(TEventKind::RecordOpened, LoadStr(1208).arg(path), {{QStringLiteral("file"), path}});
  }
  FModified = false;
  if (FJournal) {
    FJournal->Reset(*FRecord);
    FJournal->MarkSaved();
  }
}

void TThermostatSession::RestoreAbandoned(ISessionQuestions& ask) {
  if (!FJournal)
    return;
  std::vector<TJournalFound> found = TRecordJournal::FindAbandoned(FJournalFolder);
  // The newest first. One record can be restored into the session; journals
  // not asked about stay on disk for the next start.
  std::stable_sort(found.begin(), found.end(), [](const TJournalFound& a, const TJournalFound& b) {
    return QFileInfo(a.Path).lastModified() > QFileInfo(b.Path).lastModified();
  });
  bool restoredOne = false;
  for (const TJournalFound& j : found) {
    // One naming its thermostat goes to that thermostat's session (when the
    // front end has one for it); the others into this one, the first only:
    // those after it stay on disk for the next start.
    const QString serial = JournalSerial(j.Path);
    const bool routed = !serial.isEmpty() && ask.OpensSessions();
    if (!routed && restoredOne)
      continue;
    if (j.Count == 0) {
      // Nothing whole is left in it: say so once, then it goes.
      ask.Tell(LoadStr(1035).arg(j.Unreadable));
      DiscardJournal(j.Path);
      continue;
    }
    if (!ask.Confirm(RestoreQuestion(j.Count, j.Length, j.Unreadable, serial))) {
      DiscardJournal(j.Path);
      continue;
    }
    TThermostatSession* target = routed ? ask.SessionFor(serial) : this;
    if (!target)
      target = this;
    if (target->RestoreJournal(j.Path) && target == this)
      restoredOne = true;
  }
  TEventJournal::DiscardOrphans(FJournalFolder);
}

bool TThermostatSession::RestoreJournal(const QString& path) {
  if (!FJournal)
    return false;
  TJournalRestore restored = TRecordJournal::Restore(path);
  if (!restored.Error.isEmpty()) {
    RaiseError(LoadStr(1036).arg(path, restored.Error));
    return false;
  }
  StopRecording();
  LoadRecord(restored.Samples);
  FEvents = TEventJournal::Read(TEventJournal::PathFor(path));
  EventsReplaced();
  LogEvent(TEventKind::RecordRestored, LoadStr(1209).arg(path), {{QStringLiteral("file"), path}});
  FModified = true;
  // Our own journal holds the record on disk before the old one goes; if
  // it cannot, the old one stays for the next start.
  FJournal->Reset(std::move(restored.Samples));
  FJournal->MarkUnsaved();
  FJournal->Flush();
  if (!FJournal->Failed())
    DiscardJournal(path);
  return true;
}

void TThermostatSession::Close(bool keepJournal) {
  if (FJournal && !keepJournal) {
    FJournal->Close();
    FEventJournal->Close();
  }
}

}  // namespace calorix
