// Remote control through the window: every client command takes the path of
// the window's own control, but nothing here raises a box.
#include "app/MainFormRemote.h"

#include "base/AutomatedSetpoint.h"
#include "base/IniFile.h"
#include "app/MainForm.h"
#include "app/MainFormProgram.h"
#include "base/Messages.h"
#include "app/SettingsForm.h"
#include "link/Hid.h"
#include "remote/RemoteServer.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QStatusBar>

#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <utility>

namespace calorix {
namespace {

const QString kSection = QStringLiteral("Remote");

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

TRemoteWindow::TRemoteWindow(TMainFrm& window) : QObject(&window), FWindow(window) {
  connect(&window, &TMainFrm::TemperatureRead, this, [this](double t) { FLastTemperature = t; });
}

TRemoteWindow::~TRemoteWindow() {
  if (FServer)
    FServer->disconnect(this);  // dropping its clients tells nobody
}

void TRemoteWindow::Start(const std::optional<TEndpoint>& endpoint) {
  if (FServer)
    FServer->disconnect(this);
  FServer.reset();
  FListening.clear();
  FPublic = false;
  if (!endpoint) {
    ShowStatus();
    return;
  }
  const QString name = QStringLiteral("%1:%2").arg(endpoint->Host).arg(endpoint->Port);
  FServer = std::make_unique<TRemoteServer>(*this);
  FServer->SetIdleTimeout(Settings.IdleSeconds * 1000);
  connect(FServer.get(), &TRemoteServer::ClientsChanged, this, [this] { ShowStatus(); });
  QString error;
  const auto address = HostAddress(endpoint->Host);
  if (!address)
    error = LoadStr(1077);
  if (address && FServer->Listen(*address, endpoint->Port, &error)) {
    FListening = name;
    FPublic = !address->isLoopback();
    ShowStatus();
    return;
  }
  FServer.reset();
  const QString text = LoadStr(1072).arg(name, error);
  std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
  ShowStatus();
  FPanel->setText(text);
  FPanel->setVisible(true);  // the failure stays in view
}

void TRemoteWindow::ShowStatus() {
  if (!FPanel) {
    FPanel = new QLabel(FWindow.statusBar());
    FPanel->setObjectName(QStringLiteral("RemotePanel"));
    FWindow.statusBar()->addPermanentWidget(FPanel);
  }
  FPanel->setVisible(FServer || !FListening.isEmpty());
  if (!FServer)
    return;
  FPanel->setText(LoadStr(FPublic ? 1071 : 1070).arg(FListening).arg(FServer->ClientCount()));
}

TRemoteError TRemoteWindow::ForClient(const std::function<TRemoteError()>& handler) {
  QStringList boxes;
  auto divert = [&boxes](const QString& text) { boxes << text; };
  const bool wasRunning = FWindow.ProgramState() == TProgramState::Running;
  std::function<void(const QString&)> before = std::exchange(FWindow.BoxDiversion, divert);
  TRemoteError error;
  FWindow.Guarded([&] { error = handler(); });
  FWindow.BoxDiversion = std::move(before);
  if (boxes.isEmpty())
    return error;
  // The window shows what it would have said; the client learns of it in ASCII.
  FWindow.SetStatusText(1, boxes.back());
  if (error)
    return error;
  const bool paused = wasRunning && FWindow.ProgramState() == TProgramState::Paused;
  return {-200, paused ? "the temperature program paused; see the window's status bar"
                       : "see the window's status bar"};
}

std::string TRemoteWindow::ProductName() const {
  TJvHidDevice* d = FWindow.SelectedDevice();
  return d ? Printable(d->ProductName()) : std::string();
}

std::string TRemoteWindow::SelectedSerial() const {
  TJvHidDevice* d = FWindow.SelectedDevice();
  return d ? Printable(d->SerialNumber()) : std::string();
}

std::vector<std::string> TRemoteWindow::Catalog() const {
  std::vector<std::string> out;
  for (TJvHidDevice* d : FWindow.Devices())
    out.push_back(Printable(d->SerialNumber()));
  return out;
}

TRemoteError TRemoteWindow::Select(const std::string& serial) {
  const auto& devices = FWindow.Devices();
  for (std::size_t i = 0; i < devices.size(); ++i) {
    // As the catalog names it.
    if (Printable(devices[i]->SerialNumber()) != serial)
      continue;
    TJvHidDevice* wanted = devices[i];
    return ForClient([&]() -> TRemoteError {
      // As a click on its menu item.
      for (QAction* item : FWindow.DevPopup->actions()) {
        if (item->data().toInt() == int(i))
          FWindow.DevPopupItemClick(item);
      }
      if (FWindow.SelectedDevice() != wanted)
        return {-240, "the thermostat cannot take commands"};
      return {};
    });
  }
  return {-224, "no such thermostat"};
}

bool TRemoteWindow::QueueHasRoom() const {
  return FWindow.Requests().Requests().size() < kMaxQueued;
}

namespace {
const TRemoteError kQueueFull{-200, "the thermostat is busy: too many requests wait"};
constexpr double kNoReading = std::numeric_limits<double>::quiet_NaN();
}  // namespace

void TRemoteWindow::MeasureTemperature(TValueDone done) {
  if (!QueueHasRoom())
    return done(kNoReading, kQueueFull);
  FWindow.QueueRequest(rkTemperature, std::string(kTemperatureRequest),
                       [done](const TRequestDone& r) { done(Number(r), Hardware(r)); });
}

TRemoteError TRemoteWindow::WriteSetpoint(const std::string& text, TDone done) {
  // The window would ask whether to pause the program; a client is told instead.
  if (FWindow.ProgramState() == TProgramState::Running)
    return {-221, "a temperature program is running; PROGram:STATe PAUSe first"};
  // Bound by the limits of programs, scripts and the broker; written as programs write.
  const TSetpointLimits& limits = FWindow.Program()->Limits();
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
  FWindow.QueueRequest(rkSetpointWrite, request, [written](const TRequestDone& r) {
    // Status 5: the thermostat refuses a value out of its range.
    if (r.Outcome == TRequestOutcome::ErrorStatus && r.Status == 5)
      *written = {-222, "refused by the thermostat"};
    else
      *written = Hardware(r);
  });
  FWindow.QueueRequest(
      rkSetpointRead, std::string(kSetpointReadRequest),
      [written, done](const TRequestDone& r) { done(*written ? *written : Hardware(r)); });
  return {};
}

void TRemoteWindow::ReadSetpoint(TValueDone done) {
  if (!QueueHasRoom())
    return done(kNoReading, kQueueFull);
  FWindow.QueueRequest(rkSetpointRead, std::string(kSetpointReadRequest),
                       [done](const TRequestDone& r) { done(Number(r), Hardware(r)); });
}

void TRemoteWindow::ReadProtection(TBitsDone done) {
  if (!QueueHasRoom())
    return done(0, kQueueFull);
  FWindow.QueueRequest(rkAlarmStatus, std::string(kAlarmStatusRequest),
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

TRemoteError TRemoteWindow::SetRecording(bool on) {
  if (on == FWindow.Recording())
    return {};
  if (on && !FWindow.SelectedDevice())
    return {-221, "no thermostat selected"};
  return ForClient([this]() -> TRemoteError {
    FWindow.RecordBtnClick();
    return {};
  });
}

bool TRemoteWindow::Recording() const {
  return FWindow.Recording();
}

std::size_t TRemoteWindow::RecordPoints() const {
  return FWindow.Record().Count();
}

std::vector<TRemotePoint> TRemoteWindow::RecordData(std::size_t first, std::size_t count) const {
  const TMeasurementRecord& r = FWindow.Record();
  std::vector<TRemotePoint> out;
  for (std::size_t i = first; i < r.Count() && out.size() < count; ++i)
    out.push_back({r[i].Time * 86400.0, r[i].Value});
  return out;
}

TRemoteError TRemoteWindow::RemotePath(const std::string& name, bool save, QString& path) const {
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

TRemoteError TRemoteWindow::SaveRecord(const std::string& name) {
  QString file;
  if (const TRemoteError refused = RemotePath(name, true, file))
    return refused;
  return ForClient([&]() -> TRemoteError {
    // The window's reason is in its language; the client's queue stays ASCII.
    if (!FWindow.SaveRecordTo(file).isEmpty())
      return {-250, "the file cannot be written"};
    return {};
  });
}

TRemoteError TRemoteWindow::ClearRecord() {
  if (FWindow.Modified())
    return {-221, "unsaved samples"};
  return ForClient([this]() -> TRemoteError {
    FWindow.ClearRecord();
    return {};
  });
}

// Temperature programs: the window's own calls; their refusals go to the client.
TRemoteError TRemoteWindow::ProgramLoad(const std::string& name) {
  if (FWindow.ProgramState() != TProgramState::Stopped)
    return {-221, "a temperature program is running"};
  QString path;
  if (const TRemoteError refused = RemotePath(name, false, path))
    return refused;
  return ForClient([&]() -> TRemoteError {
    QString error;
    // The window's reasons are Russian; the client's queue stays ASCII.
    if (!FWindow.ProgramLoad(path, &error))
      return {-224, "the program file cannot be loaded"};
    return {};
  });
}

TRemoteError TRemoteWindow::SetProgramState(TRemoteProgramState state) {
  return ForClient([&] { return ChangeProgramState(state); });
}

TRemoteError TRemoteWindow::ChangeProgramState(TRemoteProgramState state) {
  switch (state) {
    case TRemoteProgramState::Running: {
      if (FWindow.ProgramState() == TProgramState::Running)
        return {};
      QString error;
      if (!FWindow.ProgramRun(&error))
        return {-221, "the program cannot run (none loaded, or no thermostat)"};
      return {};
    }
    case TRemoteProgramState::Paused:
      if (FWindow.ProgramState() == TProgramState::Stopped)
        return {-221, "no temperature program is running"};
      FWindow.ProgramPause();
      return {};
    case TRemoteProgramState::Stopped:
      FWindow.ProgramStop();
      return {};
  }
  return {};
}

TRemoteProgramState TRemoteWindow::ProgramState() const {
  switch (FWindow.ProgramState()) {
    case TProgramState::Running:
      return TRemoteProgramState::Running;
    case TProgramState::Paused:
      return TRemoteProgramState::Paused;
    case TProgramState::Stopped:
      break;
  }
  return TRemoteProgramState::Stopped;
}

int TRemoteWindow::ProgramStep() const {
  return FWindow.ProgramStep();
}

// ---------------------------------------------------------------------------
// The window's part

void TMainFrm::StartRemote() {
  if (!FRemote)
    FRemote = std::make_unique<TRemoteWindow>(*this);
  TIniFile ini(FIniFileName);
  TRemoteSettings& s = FRemote->Settings;
  s.Enabled = ini.ReadBool(kSection, QStringLiteral("Enabled"), false);
  s.Address = ini.ReadString(kSection, QStringLiteral("Address"), QStringLiteral("127.0.0.1"));
  s.Port = ini.ReadInteger(kSection, QStringLiteral("Port"), kDefaultRemotePort);
  s.Folder = ini.ReadString(kSection, QStringLiteral("Folder"), QString()).trimmed();
  const int idle = ini.ReadInteger(kSection, QStringLiteral("IdleTimeout"), 600);
  // Negative or beyond a day: the default.
  s.IdleSeconds = idle >= 0 && idle <= 86400 ? idle : 600;
  std::optional<TEndpoint> endpoint = FRemoteOption;
  if (!endpoint && s.Enabled) {
    // A port outside 1..65535 in the file means the default one.
    const int port = s.Port >= 1 && s.Port <= 65535 ? s.Port : kDefaultRemotePort;
    endpoint = TEndpoint{s.Address.trimmed(), std::uint16_t(port)};
  }
  FRemote->Start(endpoint);
}

void TMainFrm::SaveRemoteSettings(TIniFile& ini) {
  if (!FRemote)
    return;
  const TRemoteSettings& s = FRemote->Settings;
  // The defaults are not written into a file that never had the section.
  const TRemoteSettings def;
  if (s.Enabled == def.Enabled && s.Address == def.Address && s.Port == def.Port &&
      ini.ReadString(kSection, QStringLiteral("Enabled"), QString()).isEmpty())
    return;
  if (!ini.WriteBool(kSection, QStringLiteral("Enabled"), s.Enabled) ||
      !ini.WriteString(kSection, QStringLiteral("Address"), s.Address) ||
      !ini.WriteInteger(kSection, QStringLiteral("Port"), s.Port))
    ReportIniFailure(FIniFileName);
}

void TMainFrm::AddRemoteSettings(TSettingsFrm* form) {
  auto* box = new QGroupBox(LoadStr(1073));
  box->setObjectName(QStringLiteral("RemoteGroup"));
  auto* layout = new QFormLayout(box);
  auto* enabled = new QCheckBox(LoadStr(1074), box);
  enabled->setObjectName(QStringLiteral("cbRemote"));
  auto* address = new QLineEdit(box);
  address->setObjectName(QStringLiteral("edRemoteAddress"));
  auto* port = new QLineEdit(box);
  port->setObjectName(QStringLiteral("edRemotePort"));
  layout->addRow(enabled);
  layout->addRow(LoadStr(1075), address);
  layout->addRow(LoadStr(1076), port);
  TSettingsSection section;
  section.Widget = box;
  section.Load = [this, enabled, address, port] {
    if (!FRemote)
      return;
    enabled->setChecked(FRemote->Settings.Enabled);
    address->setText(FRemote->Settings.Address);
    port->setText(QString::number(FRemote->Settings.Port));
  };
  section.Check = [enabled, address, port]() -> QString {
    if (!enabled->isChecked())
      return {};
    if (!HostAddress(address->text().trimmed()))
      return LoadStr(1077);
    bool ok = false;
    const int p = port->text().trimmed().toInt(&ok);
    if (!ok || p < 1 || p > 65535)
      return LoadStr(1078);
    return {};
  };
  section.Apply = [this, enabled, address, port] {
    if (!FRemote)
      return;
    TRemoteSettings s;
    s.Enabled = enabled->isChecked();
    s.Address = address->text().trimmed();
    bool ok = false;
    const int p = port->text().trimmed().toInt(&ok);
    s.Port = ok && p >= 1 && p <= 65535 ? p : kDefaultRemotePort;
    const bool changed = s.Enabled != FRemote->Settings.Enabled ||
                         s.Address != FRemote->Settings.Address || s.Port != FRemote->Settings.Port;
    FRemote->Settings = s;
    if (!changed)
      return;
    // The dialog's choice now replaces the command line's for this run.
    FRemoteOption.reset();
    FRemote->Start(s.Enabled ? std::optional<TEndpoint>(TEndpoint{s.Address, std::uint16_t(s.Port)})
                             : std::nullopt);
  };
  form->AddSection(std::move(section));
}

}  // namespace calorix
