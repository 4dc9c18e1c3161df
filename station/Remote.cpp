#include "station/Remote.h"

#include "base/AutomatedSetpoint.h"
#include "base/Messages.h"
#include "link/Hid.h"
#include "remote/RemoteServer.h"
#include "station/Session.h"
#include "station/Station.h"

#include <QDir>
#include <QFileInfo>
#include <QHostAddress>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>
#include <utility>

namespace calorix {
namespace {

TRemoteError Hardware(const TRequestDone& done) {
  switch (done.Outcome) {
    case TRequestOutcome::Answered:
      return {};
    case TRequestOutcome::ErrorStatus:
      return {-240, "thermostat status " + std::to_string(done.Status)};
    case TRequestOutcome::NoAnswer:
      return {-240, "no answer"};
    case TRequestOutcome::Dropped:
      break;
  }
  return {-240, "no thermostat"};
}

double Number(const TRequestDone& done) {
  return done.Outcome == TRequestOutcome::Answered ? ParseFloatValue(done.Value, '.')
                                                   : std::numeric_limits<double>::quiet_NaN();
}

// Device strings in answers: printable ASCII only, so that no answer of a
// client carries a line end, a control character or a byte it cannot decode.
std::string Printable(const QString& text) {
  std::string out;
  for (QChar c : text)
    out += c.unicode() >= 0x20 && c.unicode() < 0x7f ? char(c.unicode()) : '?';
  return out;
}

std::optional<QHostAddress> HostAddress(const QString& text) {
  if (text.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
    return QHostAddress(QHostAddress::LocalHost);
  QHostAddress a;
  if (!a.setAddress(text))
    return std::nullopt;
  return a;
}

}  // namespace

QString DefaultRemoteFolder() {
  QString base = qEnvironmentVariable("XDG_DATA_HOME");
  if (base.isEmpty() || QDir::isRelativePath(base))
    base = QDir::homePath() + QStringLiteral("/.local/share");
  return base + QStringLiteral("/Calorix");
}

bool IsListenAddress(const QString& text) {
  return HostAddress(text).has_value();
}

TRemoteService::TRemoteService(TStation& station, TThermostatSession& session, QObject* parent)
    : QObject(parent), FStation(station), FSession(session) {
  connect(&session, &TThermostatSession::TemperatureRead, this,
          [this](double t) { FLastTemperature = t; });
}

TRemoteService::~TRemoteService() {
  if (FServer)
    FServer->disconnect(this);  // dropping its clients tells nobody
}

void TRemoteService::Start(const std::optional<TEndpoint>& endpoint) {
  if (FServer)
    FServer->disconnect(this);
  FServer.reset();
  FListening.clear();
  FPublic = false;
  FFailure.clear();
  if (!endpoint) {
    emit StatusChanged();
    return;
  }
  const QString name = QStringLiteral("%1:%2").arg(endpoint->Host).arg(endpoint->Port);
  FServer = std::make_unique<TRemoteServer>(*this);
  FServer->SetIdleTimeout(Settings.IdleSeconds * 1000);
  connect(FServer.get(), &TRemoteServer::ClientsChanged, this, [this] { emit StatusChanged(); });
  QString error;
  const auto address = HostAddress(endpoint->Host);
  if (!address)
    error = LoadStr(1077);
  if (address && FServer->Listen(*address, endpoint->Port, &error)) {
    FListening = name;
    FPublic = !address->isLoopback();
    emit StatusChanged();
    return;
  }
  FServer.reset();
  FFailure = LoadStr(1072).arg(name, error);
  std::fprintf(stderr, "%s\n", FFailure.toLocal8Bit().constData());
  emit StatusChanged();
}

int TRemoteService::ClientCount() const {
  return FServer ? FServer->ClientCount() : 0;
}

TRemoteError TRemoteService::ForClient(const std::function<TRemoteError()>& handler) {
  QStringList boxes;
  const bool wasRunning = FSession.ProgramState() == TProgramState::Running;
  std::function<void(const QString&)> before =
      std::exchange(FSession.ErrorDiversion, [&boxes](const QString& text) { boxes << text; });
  TRemoteError error;
  try {
    error = handler();
  } catch (const std::exception& e) {
    boxes << QString::fromUtf8(e.what());
  } catch (...) {
    boxes << QString();
  }
  FSession.ErrorDiversion = std::move(before);
  if (boxes.isEmpty())
    return error;
  // The front end shows what it would have said; the client learns of it in ASCII.
  emit ClientNotice(boxes.back());
  if (error)
    return error;
  const bool paused = wasRunning && FSession.ProgramState() == TProgramState::Paused;
  return {-200, paused ? "the temperature program paused; see the window's status bar"
                       : "see the window's status bar"};
}

std::string TRemoteService::ProductName() const {
  TJvHidDevice* d = FSession.Device();
  return d ? Printable(d->ProductName()) : std::string();
}

std::string TRemoteService::SelectedSerial() const {
  TJvHidDevice* d = FSession.Device();
  return d ? Printable(FSession.Serial()) : std::string();
}

std::vector<std::string> TRemoteService::Catalog() const {
  std::vector<std::string> out;
  for (TJvHidDevice* d : FStation.Devices())
    out.push_back(Printable(FStation.Serial(d)));
  return out;
}

TRemoteError TRemoteService::Select(const std::string& serial) {
  for (TJvHidDevice* dev : FStation.Devices()) {
    // As the catalog names it.
    if (Printable(FStation.Serial(dev)) != serial)
      continue;
    return ForClient([&]() -> TRemoteError {
      // As a choice in the thermostats' menu.
      FStation.Select(FSession, dev);
      if (FSession.Device() != dev)
        return {-240, "the thermostat cannot take commands"};
      return {};
    });
  }
  return {-224, "no such thermostat"};
}

bool TRemoteService::QueueHasRoom() const {
  return FSession.Requests().Requests().size() < kMaxQueued;
}

namespace {
const TRemoteError kQueueFull{-200, "the thermostat is busy: too many requests wait"};
constexpr double kNoReading = std::numeric_limits<double>::quiet_NaN();
}  // namespace

void TRemoteService::MeasureTemperature(TValueDone done) {
  if (!QueueHasRoom())
    return done(kNoReading, kQueueFull);
  FSession.QueueRequest(rkTemperature, std::string(kTemperatureRequest),
                        [done](const TRequestDone& r) { done(Number(r), Hardware(r)); });
}

TRemoteError TRemoteService::WriteSetpoint(const std::string& text, TDone done) {
  // The window would ask whether to pause the program; a client is told instead.
  if (FSession.ProgramState() == TProgramState::Running)
    return {-221, "a temperature program is running; PROGram:STATe PAUSe first"};
  // Bound by the limits of programs, scripts and the broker; written as programs write.
  const TSetpointLimits& limits = FSession.Limits();
  const TAutomatedSetpoint setpoint = CheckAutomatedSetpoint(text, limits.Min, limits.Max);
  if (setpoint.Verdict == TSetpointVerdict::NotANumber)
    return {-224, "not a setpoint"};
  if (!setpoint) {
    char range[96];
    std::snprintf(range, sizeof range, "outside the setpoint limits %g..%g", limits.Min,
                  limits.Max);
    return {-222, range};
  }
  if (!QueueHasRoom())
    return kQueueFull;
  const std::string request = std::string(kSetpointWritePrefix) + setpoint.Text + "\r";
  auto written = std::make_shared<TRemoteError>();
  FSession.QueueRequest(rkSetpointWrite, request, [written](const TRequestDone& r) {
    // Status 5: the thermostat refuses a value out of its range.
    if (r.Outcome == TRequestOutcome::ErrorStatus && r.Status == 5)
      *written = {-222, "refused by the thermostat"};
    else
      *written = Hardware(r);
  });
  FSession.QueueRequest(
      rkSetpointRead, std::string(kSetpointReadRequest),
      [written, done](const TRequestDone& r) { done(*written ? *written : Hardware(r)); });
  return {};
}

void TRemoteService::ReadSetpoint(TValueDone done) {
  if (!QueueHasRoom())
    return done(kNoReading, kQueueFull);
  FSession.QueueRequest(rkSetpointRead, std::string(kSetpointReadRequest),
                        [done](const TRequestDone& r) { done(Number(r), Hardware(r)); });
}

void TRemoteService::ReadProtection(TBitsDone done) {
  if (!QueueHasRoom())
    return done(0, kQueueFull);
  FSession.QueueRequest(rkAlarmStatus, std::string(kAlarmStatusRequest),
                        [done](const TRequestDone& r) {
                          int bits = 0;
                          const std::string& v = r.Value;  // the last character is bit 0
                          for (std::size_t b = 0; b < 31 && b < v.size(); ++b) {
                            if (v[v.size() - 1 - b] == '1')
                              bits |= 1 << b;
                          }
                          done(bits, Hardware(r));
                        });
}

TRemoteError TRemoteService::SetRecording(bool on) {
  if (on == FSession.Recording())
    return {};
  if (on && !FSession.Device())
    return {-221, "no thermostat selected"};
  return ForClient([&]() -> TRemoteError {
    if (on)
      FSession.StartRecording();
    else
      FSession.StopRecording();
    return {};
  });
}

bool TRemoteService::Recording() const {
  return FSession.Recording();
}

std::size_t TRemoteService::RecordPoints() const {
  return FSession.Record().Count();
}

std::vector<TRemotePoint> TRemoteService::RecordData(std::size_t first, std::size_t count) const {
  const TMeasurementRecord& r = FSession.Record();
  std::vector<TRemotePoint> out;
  for (std::size_t i = first; i < r.Count() && out.size() < count; ++i)
    out.push_back({r[i].Time * 86400.0, r[i].Value});
  return out;
}

TRemoteError TRemoteService::RemotePath(const std::string& name, bool save, QString& path) const {
  if (name.empty())
    return {-224, "empty file name"};
  const QString text = QString::fromStdString(name);
  if (std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x20; }))
    return {-224, "a control character in the file name"};
  if (text.split(QLatin1Char('/')).contains(QStringLiteral("..")))
    return {-221, "'..' is not allowed in a file name"};
  const QString folder = Settings.Folder.isEmpty() ? DefaultRemoteFolder() : Settings.Folder;
  if (save && !QDir().mkpath(folder))
    return {-250, "the remote folder cannot be made"};
  // Compared as the file system resolves them: no symbolic link leads out.
  const QString root = QDir(folder).canonicalPath();
  if (root.isEmpty())
    return {-221, "the remote folder does not exist"};
  const QString wanted = QDir::cleanPath(QDir(folder).absoluteFilePath(text));
  const QFileInfo info(wanted);
  const QString parent = QDir(info.absolutePath()).canonicalPath();
  auto inside = [&root](const QString& p) {
    return p == root || p.startsWith(root + QLatin1Char('/'));
  };
  if (parent.isEmpty() || !inside(parent))
    return {-221, "outside the remote folder"};
  const QString file = parent + QLatin1Char('/') + info.fileName();
  struct stat st {};
  const bool exists = ::lstat(QFile::encodeName(file).constData(), &st) == 0;
  if (save) {
    if (exists)
      return {-221, "file exists"};
    path = file;
    return {};
  }
  if (!exists)
    return {-221, "no such file"};
  const QFileInfo target(file);
  if (!inside(target.canonicalFilePath()))
    return {-221, "outside the remote folder"};
  // Never a pipe or a device: either could block or read without end.
  if (!target.isFile())
    return {-221, "not a regular file"};
  if (target.size() > kMaxProgramFile)
    return {-221, "the file is larger than " + std::to_string(kMaxProgramFile) + " bytes"};
  path = target.canonicalFilePath();
  return {};
}

TRemoteError TRemoteService::SaveRecord(const std::string& name) {
  QString file;
  if (const TRemoteError refused = RemotePath(name, true, file))
    return refused;
  return ForClient([&]() -> TRemoteError {
    // The reason is in the user's language; the client's queue stays ASCII.
    if (!FSession.SaveRecordTo(file).isEmpty())
      return {-250, "the file cannot be written"};
    return {};
  });
}

TRemoteError TRemoteService::ClearRecord() {
  if (FSession.Modified())
    return {-221, "unsaved samples"};
  return ForClient([this]() -> TRemoteError {
    FSession.ClearRecord();
    return {};
  });
}

// Temperature programs: the session's own calls; their refusals go to the client.
TRemoteError TRemoteService::ProgramLoad(const std::string& name) {
  if (FSession.ProgramState() != TProgramState::Stopped)
    return {-221, "a temperature program is running"};
  QString path;
  if (const TRemoteError refused = RemotePath(name, false, path))
    return refused;
  return ForClient([&]() -> TRemoteError {
    QString error;
    // The reasons are in the user's language; the client's queue stays ASCII.
    if (!FSession.LoadProgram(path, &error))
      return {-224, "the program file cannot be loaded"};
    return {};
  });
}

TRemoteError TRemoteService::SetProgramState(TRemoteProgramState state) {
  return ForClient([&] { return ChangeProgramState(state); });
}

TRemoteError TRemoteService::ChangeProgramState(TRemoteProgramState state) {
  switch (state) {
    case TRemoteProgramState::Running: {
      if (FSession.ProgramState() == TProgramState::Running)
        return {};
      QString error;
      if (!FSession.RunProgram(&error))
        return {-221, "the program cannot run (none loaded, or no thermostat)"};
      return {};
    }
    case TRemoteProgramState::Paused:
      if (FSession.ProgramState() == TProgramState::Stopped)
        return {-221, "no temperature program is running"};
      FSession.PauseProgram();
      return {};
    case TRemoteProgramState::Stopped:
      FSession.StopProgram();
      return {};
  }
  return {};
}

TRemoteProgramState TRemoteService::ProgramState() const {
  switch (FSession.ProgramState()) {
    case TProgramState::Running:
      return TRemoteProgramState::Running;
    case TProgramState::Paused:
      return TRemoteProgramState::Paused;
    case TProgramState::Stopped:
      break;
  }
  return TRemoteProgramState::Stopped;
}

int TRemoteService::ProgramStep() const {
  return FSession.ProgramStep();
}

}  // namespace calorix
