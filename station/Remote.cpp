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
#include <QPointer>
#include <QStringList>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <limits>
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

// ---------------------------------------------------------------------------
// One client: the session it addresses and its commands on that session

namespace {

class TRemoteClient final : public QObject, public IRemoteInstrument {
 public:
  explicit TRemoteClient(TRemoteService& service) : FService(service), FStation(service.Station()) {
    // A request of a session that went is never answered by it: the client
    // hears it dropped instead of waiting for ever.
    connect(&FStation, &TStation::SessionsChanged, this, [this] { DropGone(); });
  }

  std::string ProductName() const override;
  std::string SelectedSerial() const override;
  std::vector<std::string> Catalog() const override;
  TRemoteError Select(const std::string& serial) override;
  void MeasureTemperature(TValueDone done) override;
  double LastTemperature() const override;
  TRemoteError WriteSetpoint(const std::string& text, TDone done) override;
  void ReadSetpoint(TValueDone done) override;
  void ReadProtection(TBitsDone done) override;
  TRemoteError SetRecording(bool on) override;
  bool Recording() const override;
  std::size_t RecordPoints() const override;
  std::vector<TRemotePoint> RecordData(std::size_t first, std::size_t count) const override;
  TRemoteError SaveRecord(const std::string& path) override;
  TRemoteError ClearRecord() override;
  TRemoteError ProgramLoad(const std::string& path) override;
  TRemoteError SetProgramState(TRemoteProgramState state) override;
  TRemoteProgramState ProgramState() const override;
  int ProgramStep() const override;
  std::vector<std::string> ActiveAlarms() const override;
  std::vector<std::string> UnacknowledgedAlarms() const override;
  TRemoteError AcknowledgeAlarms() override;
  void SetPeer(const std::string& peer) override {
    FSource = source::Remote(QString::fromStdString(peer));
  }

 private:
  struct TPending {
    TThermostatSession* Session = nullptr;
    TThermostatSession::TRequestDoneHandler Done;  // empty once told
  };

  // The session the client addresses: the one it chose while the station
  // still has it, otherwise the first one; none without any session.
  TThermostatSession* Session() const;
  // Runs a command for a client: the errors it raises become the client's error.
  TRemoteError ForClient(TThermostatSession& session, const std::function<TRemoteError()>& handler);
  TRemoteError ChangeProgramState(TThermostatSession& session, TRemoteProgramState state);
  // A client's file name as a path inside the folder, or why it is refused.
  TRemoteError RemotePath(const std::string& name, bool save, QString& path) const;
  // The session's queue has room for a client's request.
  static bool QueueHasRoom(const TThermostatSession& session);
  // Queues a request whose answer reaches done once, even when the session goes.
  void Queue(TThermostatSession& session, TRequestKind kind, const std::string& text,
             TThermostatSession::TRequestDoneHandler done);
  void DropGone();

  TRemoteService& FService;
  TStation& FStation;
  QPointer<TThermostatSession> FChosen;  // none: the first session
  std::vector<std::shared_ptr<TPending>> FPending;
  QString FSource = source::Remote(QStringLiteral("?"));  // who the session's log names
};

}  // namespace

TRemoteService::TRemoteService(TStation& station, QObject* parent)
    : QObject(parent), FStation(station) {}

TRemoteService::~TRemoteService() {
  if (FServer)
    FServer->disconnect(this);  // dropping its clients tells nobody
}

std::unique_ptr<IRemoteInstrument> TRemoteService::NewClient() {
  return std::make_unique<TRemoteClient>(*this);
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
  FServer = std::make_unique<TRemoteServer>([this] { return NewClient(); });
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

namespace {
const TRemoteError kQueueFull{-200, "the thermostat is busy: too many requests wait"};
const TRemoteError kNoSession{-240, "no thermostat"};
constexpr double kNoReading = std::numeric_limits<double>::quiet_NaN();
}  // namespace

TThermostatSession* TRemoteClient::Session() const {
  const std::vector<TThermostatSession*>& all = FStation.Sessions();
  if (FChosen && std::find(all.begin(), all.end(), FChosen.data()) != all.end())
    return FChosen;
  return all.empty() ? nullptr : all.front();
}

void TRemoteClient::Queue(TThermostatSession& session, TRequestKind kind, const std::string& text,
                          TThermostatSession::TRequestDoneHandler done) {
  std::erase_if(FPending, [](const auto& p) { return !p->Done; });
  auto pending = std::make_shared<TPending>(TPending{&session, std::move(done)});
  FPending.push_back(pending);
  const TThermostatSession::TActing client(session, FSource);
  // Weak: a client gone before the answer hears nothing.
  session.QueueRequest(kind, text,
                       [weak = std::weak_ptr<TPending>(pending)](const TRequestDone& r) {
                         if (const auto p = weak.lock())
                           std::exchange(p->Done, nullptr)(r);
                       });
}

void TRemoteClient::DropGone() {
  const std::vector<TThermostatSession*>& all = FStation.Sessions();
  // Told in the order asked; a handler may queue more, so the list is taken first.
  std::vector<std::shared_ptr<TPending>> gone;
  for (const auto& p : FPending) {
    if (p->Done && std::find(all.begin(), all.end(), p->Session) == all.end())
      gone.push_back(p);
  }
  for (const auto& p : gone) {
    TRequestDone dropped;
    dropped.Outcome = TRequestOutcome::Dropped;
    if (p->Done)
      std::exchange(p->Done, nullptr)(dropped);
  }
}

TRemoteError TRemoteClient::ForClient(TThermostatSession& session,
                                      const std::function<TRemoteError()>& handler) {
  QStringList boxes;
  const QPointer<TThermostatSession> guard = &session;
  const bool wasRunning = session.ProgramState() == TProgramState::Running;
  std::function<void(const QString&)> before =
      std::exchange(session.ErrorDiversion, [&boxes](const QString& text) { boxes << text; });
  TRemoteError error;
  try {
    const TThermostatSession::TActing client(session, FSource);
    error = handler();
  } catch (const std::exception& e) {
    boxes << QString::fromUtf8(e.what());
  } catch (...) {
    boxes << QString();
  }
  if (!guard)
    return error ? error : kNoSession;
  session.ErrorDiversion = std::move(before);
  if (boxes.isEmpty())
    return error;
  // The front end shows what it would have said; the client learns of it in ASCII.
  emit FService.ClientNotice(&session, boxes.back());
  if (error)
    return error;
  const bool paused = wasRunning && session.ProgramState() == TProgramState::Paused;
  return {-200, paused ? "the temperature program paused; see the window's status bar"
                       : "see the window's status bar"};
}

std::string TRemoteClient::ProductName() const {
  const TThermostatSession* s = Session();
  TJvHidDevice* d = s ? s->Device() : nullptr;
  return d ? Printable(d->ProductName()) : std::string();
}

std::string TRemoteClient::SelectedSerial() const {
  const TThermostatSession* s = Session();
  return s && s->Device() ? Printable(s->Serial()) : std::string();
}

std::vector<std::string> TRemoteClient::Catalog() const {
  std::vector<std::string> out;
  for (TJvHidDevice* d : FStation.Devices())
    out.push_back(Printable(FStation.Serial(d)));
  return out;
}

TRemoteError TRemoteClient::Select(const std::string& serial) {
  TThermostatSession* own = Session();
  // Another session shows it, or is bound to it and waits: the client talks to
  // that one from now on, and no session changes its thermostat.
  for (TThermostatSession* s : FStation.Sessions()) {
    const QString& shown = s->Device() ? s->Serial() : s->BoundSerial();
    if (s != own && !shown.isEmpty() && Printable(shown) == serial) {
      FChosen = s;
      return {};
    }
  }
  if (!own)
    return kNoSession;
  for (TJvHidDevice* dev : FStation.Devices()) {
    // As the catalog names it.
    if (Printable(FStation.Serial(dev)) != serial)
      continue;
    return ForClient(*own, [&]() -> TRemoteError {
      // As a choice in the thermostats' menu of the client's session.
      FStation.Select(*own, dev);
      if (own->Device() != dev)
        return {-240, "the thermostat cannot take commands"};
      FChosen = own;
      return {};
    });
  }
  return {-224, "no such thermostat"};
}

bool TRemoteClient::QueueHasRoom(const TThermostatSession& session) {
  return session.Requests().Requests().size() < TRemoteService::kMaxQueued;
}

void TRemoteClient::MeasureTemperature(TValueDone done) {
  TThermostatSession* s = Session();
  if (!s)
    return done(kNoReading, kNoSession);
  if (!QueueHasRoom(*s))
    return done(kNoReading, kQueueFull);
  Queue(*s, rkTemperature, std::string(kTemperatureRequest),
        [done](const TRequestDone& r) { done(Number(r), Hardware(r)); });
}

double TRemoteClient::LastTemperature() const {
  const TThermostatSession* s = Session();
  return s ? s->Temperature() : kNoReading;
}

TRemoteError TRemoteClient::WriteSetpoint(const std::string& text, TDone done) {
  TThermostatSession* s = Session();
  if (!s)
    return kNoSession;
  // The window would ask whether to pause the program; a client is told instead.
  if (s->ProgramState() == TProgramState::Running)
    return {-221, "a temperature program is running; PROGram:STATe PAUSe first"};
  // Bound by the limits of programs, scripts and the broker; written as programs write.
  const TSetpointLimits& limits = s->Limits();
  const TAutomatedSetpoint setpoint = CheckAutomatedSetpoint(text, limits.Min, limits.Max);
  if (setpoint.Verdict == TSetpointVerdict::NotANumber)
    return {-224, "not a setpoint"};
  if (!setpoint) {
    char range[96];
    std::snprintf(range, sizeof range, "outside the setpoint limits %g..%g", limits.Min,
                  limits.Max);
    return {-222, range};
  }
  if (!QueueHasRoom(*s))
    return kQueueFull;
  const std::string request = std::string(kSetpointWritePrefix) + setpoint.Text + "\r";
  auto written = std::make_shared<TRemoteError>();
  Queue(*s, rkSetpointWrite, request, [written](const TRequestDone& r) {
    // Status 5: the thermostat refuses a value out of its range.
    if (r.Outcome == TRequestOutcome::ErrorStatus && r.Status == 5)
      *written = {-222, "refused by the thermostat"};
    else
      *written = Hardware(r);
  });
  Queue(*s, rkSetpointRead, std::string(kSetpointReadRequest),
        [written, done](const TRequestDone& r) { done(*written ? *written : Hardware(r)); });
  return {};
}

void TRemoteClient::ReadSetpoint(TValueDone done) {
  TThermostatSession* s = Session();
  if (!s)
    return done(kNoReading, kNoSession);
  if (!QueueHasRoom(*s))
    return done(kNoReading, kQueueFull);
  Queue(*s, rkSetpointRead, std::string(kSetpointReadRequest),
        [done](const TRequestDone& r) { done(Number(r), Hardware(r)); });
}

void TRemoteClient::ReadProtection(TBitsDone done) {
  TThermostatSession* s = Session();
  if (!s)
    return done(0, kNoSession);
  if (!QueueHasRoom(*s))
    return done(0, kQueueFull);
  Queue(*s, rkAlarmStatus, std::string(kAlarmStatusRequest), [done](const TRequestDone& r) {
    int bits = 0;
    const std::string& v = r.Value;  // the last character is bit 0
    for (std::size_t b = 0; b < 31 && b < v.size(); ++b) {
      if (v[v.size() - 1 - b] == '1')
        bits |= 1 << b;
    }
    done(bits, Hardware(r));
  });
}

TRemoteError TRemoteClient::SetRecording(bool on) {
  TThermostatSession* s = Session();
  if (!s)
    return kNoSession;
  if (on == s->Recording())
    return {};
  if (on && !s->Device())
    return {-221, "no thermostat selected"};
  return ForClient(*s, [&]() -> TRemoteError {
    if (on)
      s->StartRecording();
    else
      s->StopRecording();
    return {};
  });
}

bool TRemoteClient::Recording() const {
  const TThermostatSession* s = Session();
  return s && s->Recording();
}

std::size_t TRemoteClient::RecordPoints() const {
  const TThermostatSession* s = Session();
  return s ? s->Record().Count() : 0;
}

std::vector<TRemotePoint> TRemoteClient::RecordData(std::size_t first, std::size_t count) const {
  std::vector<TRemotePoint> out;
  const TThermostatSession* s = Session();
  if (!s)
    return out;
  const TMeasurementRecord& r = s->Record();
  for (std::size_t i = first; i < r.Count() && out.size() < count; ++i)
    out.push_back({r[i].Time * 86400.0, r[i].Value});
  return out;
}

TRemoteError TRemoteClient::RemotePath(const std::string& name, bool save, QString& path) const {
  if (name.empty())
    return {-224, "empty file name"};
  const QString text = QString::fromStdString(name);
  if (std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x20; }))
    return {-224, "a control character in the file name"};
  if (text.split(QLatin1Char('/')).contains(QStringLiteral("..")))
    return {-221, "'..' is not allowed in a file name"};
  const QString folder =
      FService.Settings.Folder.isEmpty() ? DefaultRemoteFolder() : FService.Settings.Folder;
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
  if (target.size() > TRemoteService::kMaxProgramFile)
    return {-221, "the file is larger than " + std::to_string(TRemoteService::kMaxProgramFile) +
                      " bytes"};
  path = target.canonicalFilePath();
  return {};
}

TRemoteError TRemoteClient::SaveRecord(const std::string& name) {
  TThermostatSession* s = Session();
  if (!s)
    return kNoSession;
  QString file;
  if (const TRemoteError refused = RemotePath(name, true, file))
    return refused;
  return ForClient(*s, [&]() -> TRemoteError {
    // The reason is in the user's language; the client's queue stays ASCII.
    if (!s->SaveRecordTo(file).isEmpty())
      return {-250, "the file cannot be written"};
    return {};
  });
}

TRemoteError TRemoteClient::ClearRecord() {
  TThermostatSession* s = Session();
  if (!s)
    return kNoSession;
  if (s->Modified())
    return {-221, "unsaved samples"};
  return ForClient(*s, [s]() -> TRemoteError {
    s->ClearRecord();
    return {};
  });
}

// Temperature programs: the session's own calls; their refusals go to the client.
TRemoteError TRemoteClient::ProgramLoad(const std::string& name) {
  TThermostatSession* s = Session();
  if (!s)
    return kNoSession;
  if (s->ProgramState() != TProgramState::Stopped)
    return {-221, "a temperature program is running"};
  QString path;
  if (const TRemoteError refused = RemotePath(name, false, path))
    return refused;
  return ForClient(*s, [&]() -> TRemoteError {
    QString error;
    // The reasons are in the user's language; the client's queue stays ASCII.
    if (!s->LoadProgram(path, &error))
      return {-224, "the program file cannot be loaded"};
    return {};
  });
}

TRemoteError TRemoteClient::SetProgramState(TRemoteProgramState state) {
  TThermostatSession* s = Session();
  if (!s)
    return kNoSession;
  return ForClient(*s, [&] { return ChangeProgramState(*s, state); });
}

TRemoteError TRemoteClient::ChangeProgramState(TThermostatSession& s, TRemoteProgramState state) {
  switch (state) {
    case TRemoteProgramState::Running: {
      if (s.ProgramState() == TProgramState::Running)
        return {};
      QString error;
      if (!s.RunProgram(&error))
        return {-221, "the program cannot run (none loaded, or no thermostat)"};
      return {};
    }
    case TRemoteProgramState::Paused:
      if (s.ProgramState() == TProgramState::Stopped)
        return {-221, "no temperature program is running"};
      s.PauseProgram();
      return {};
    case TRemoteProgramState::Stopped:
      s.StopProgram();
      return {};
  }
  return {};
}

TRemoteProgramState TRemoteClient::ProgramState() const {
  const TThermostatSession* s = Session();
  switch (s ? s->ProgramState() : TProgramState::Stopped) {
    case TProgramState::Running:
      return TRemoteProgramState::Running;
    case TProgramState::Paused:
      return TRemoteProgramState::Paused;
    case TProgramState::Stopped:
      break;
  }
  return TRemoteProgramState::Stopped;
}

int TRemoteClient::ProgramStep() const {
  const TThermostatSession* s = Session();
  return s ? s->ProgramStep() : 0;
}

namespace {
std::vector<std::string> Codes(const QStringList& codes) {
  std::vector<std::string> out;
  for (const QString& c : codes)
    out.push_back(c.toStdString());
  return out;
}
}  // namespace

std::vector<std::string> TRemoteClient::ActiveAlarms() const {
  const TThermostatSession* s = Session();
  return s ? Codes(s->Alarms().ActiveCodes()) : std::vector<std::string>{};
}

std::vector<std::string> TRemoteClient::UnacknowledgedAlarms() const {
  const TThermostatSession* s = Session();
  return s ? Codes(s->Alarms().UnacknowledgedCodes()) : std::vector<std::string>{};
}

TRemoteError TRemoteClient::AcknowledgeAlarms() {
  TThermostatSession* s = Session();
  if (!s)
    return kNoSession;
  const TThermostatSession::TActing client(*s, FSource);
  s->AcknowledgeAlarms();
  return {};
}

}  // namespace calorix
