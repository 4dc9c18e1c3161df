// The window's side of publishing to an MQTT broker: the section "MQTT" of the
// settings file and its group in the settings dialog, the readings handed to
// the client as topics and payloads, the connection state in the status bar,
// and setpoint commands from the broker through the request queue.
#include "base/AutomatedSetpoint.h"
#include "base/IniFile.h"
#include "app/MainForm.h"
#include "app/MainFormProgram.h"
#include "base/Messages.h"
#include "app/SettingsForm.h"
#include "link/Hid.h"
#include "publish/MqttClient.h"
#include "publish/Payloads.h"

#include <QCheckBox>
#include <QDateTime>
#include <QFile>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSpinBox>
#include <QStatusBar>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <set>

namespace calorix {
namespace {

const QString kSection = QStringLiteral("MQTT");

// The section as the settings file holds it; the password stays in its own file.
struct TPublishConfig {
  bool Enabled = false;
  QString Host;
  int Port = kDefaultMqttPort;
  QString Prefix = QStringLiteral("calorix");
  QString ClientId;
  QString User;
  QString PasswordFile;
  QString CAFile;
  int QoS = 1;
  bool Commands = false;
  bool operator==(const TPublishConfig&) const = default;
};

TPublishConfig ReadConfig(const TIniFile& ini) {
  TPublishConfig c;
  c.Enabled = ini.ReadBool(kSection, QStringLiteral("Enabled"), false);
  c.Host = ini.ReadString(kSection, QStringLiteral("Host"), QString()).trimmed();
  c.Port = ini.ReadInteger(kSection, QStringLiteral("Port"), kDefaultMqttPort);
  if (c.Port < 1 || c.Port > 65535)
    c.Port = kDefaultMqttPort;
  c.Prefix = ini.ReadString(kSection, QStringLiteral("Prefix"), c.Prefix).trimmed();
  if (c.Prefix.isEmpty() || c.Prefix.contains(QLatin1Char('+')) ||
      c.Prefix.contains(QLatin1Char('#')))
    c.Prefix = QStringLiteral("calorix");
  c.ClientId = ini.ReadString(kSection, QStringLiteral("ClientId"), QString()).trimmed();
  c.User = ini.ReadString(kSection, QStringLiteral("User"), QString());
  c.PasswordFile = ini.ReadString(kSection, QStringLiteral("PasswordFile"), QString());
  c.CAFile = ini.ReadString(kSection, QStringLiteral("CAFile"), QString());
  c.QoS = ini.ReadInteger(kSection, QStringLiteral("QoS"), 1);
  if (c.QoS < 0 || c.QoS > 2)
    c.QoS = 1;
  c.Commands = ini.ReadBool(kSection, QStringLiteral("Commands"), false);
  return c;
}

enum class TPasswordFile { Read, Unreadable, OpenToOthers };

// The first line of the password file, without its line end. Only a regular
// file that no one but its owner, the user, may read is taken: the password
// must not be shared with the other users of a lab computer. Opened without
// blocking, so that a pipe named there cannot hold the window.
TPasswordFile ReadPassword(const QString& path, std::string& password) {
  struct TFd {
    int Fd;
    ~TFd() {
      if (Fd >= 0)
        ::close(Fd);
    }
  } file{::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC)};
  const int fd = file.Fd;
  if (fd < 0)
    return TPasswordFile::Unreadable;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
    return TPasswordFile::Unreadable;
  if ((st.st_mode & (S_IRGRP | S_IROTH)) != 0 || st.st_uid != ::geteuid())
    return TPasswordFile::OpenToOthers;
  char buf[4096];
  const ssize_t n = ::read(fd, buf, sizeof buf);
  if (n < 0)
    return TPasswordFile::Unreadable;
  password.assign(buf, std::size_t(n));
  password = password.substr(0, password.find_first_of("\r\n"));
  return TPasswordFile::Read;
}

void Warn(const QString& text) {
  std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
}

// Text from the broker for a line on standard error.
QString Shown(const QByteArray& bytes, std::size_t maxChars = 200) {
  return QString::fromStdString(
      PrintableText(std::string_view(bytes.data(), std::size_t(bytes.size())), maxChars));
}

}  // namespace

class TPublishLink : public QObject {
 public:
  TPublishLink(TMainFrm& window, TPublishConfig stored, const std::optional<TEndpoint>& option)
      : QObject(&window),
        FWindow(window),
        FOption(option),
        FStored(std::move(stored)),
        FEffective(FStored) {
    if (option) {
      FEffective.Enabled = true;
      FEffective.Host = option->Host;
      FEffective.Port = option->Port;
    }
    connect(&window, &TMainFrm::TemperatureRead, this, [this](double t) { TemperatureRead(t); });
    connect(&window, &TMainFrm::SetpointRead, this,
            [this](double v) { PublishState("setpoint", FormatReading(v)); });
    connect(&window, &TMainFrm::ProtectionRead, this, [this](int bits) {
      if (FProtection != bits)
        PublishState("protection", std::to_string(bits));
      FProtection = bits;
    });
    connect(&window, &TMainFrm::RecordingChanged, this,
            [this](bool on) { PublishState("recording", on ? "1" : "0"); });
    connect(&window, &TMainFrm::SelectionChanged, this, [this] { SelectionChanged(); });
    connect(&window, &TMainFrm::ProgramChanged, this, [this] { PublishProgram(); });
    Restart();
  }

  const TPublishConfig& Effective() const { return FEffective; }
  bool Dirty() const { return FDirty; }
  const TPublishConfig& Stored() const { return FStored; }

  // Settings taken in the dialog: they go to the settings file at close. A
  // broker named with --mqtt stays this run's: while the dialog still names
  // it, the file keeps its own broker (and whether to publish at all).
  void Apply(const TPublishConfig& config) {
    if (config == FEffective)
      return;
    TPublishConfig stored = config;
    if (FOption && config.Host == FOption->Host && config.Port == FOption->Port) {
      stored.Enabled = FStored.Enabled;
      stored.Host = FStored.Host;
      stored.Port = FStored.Port;
    }
    FDirty = FDirty || !(stored == FStored);
    FStored = stored;
    FEffective = config;
    Restart();
  }

 private:
  void Restart() {
    FClient.reset();
    FProtection.reset();
    FCommandsWithoutLogin = false;
    if (!FEffective.Enabled || FEffective.Host.isEmpty()) {
      ShowState(QString());
      return;
    }
    TMqttSettings s;
    s.Host = FEffective.Host.toStdString();
    s.Port = FEffective.Port;
    s.Prefix = FEffective.Prefix.toStdString();
    s.ClientId = FEffective.ClientId.toStdString();
    s.User = FEffective.User.toStdString();
    if (!FEffective.PasswordFile.isEmpty()) {
      switch (ReadPassword(FEffective.PasswordFile, s.Password)) {
        case TPasswordFile::Read:
          break;
        case TPasswordFile::Unreadable:
          ShowState(LoadStr(1098).arg(FEffective.PasswordFile));
          return;
        case TPasswordFile::OpenToOthers:
          ShowState(LoadStr(1102).arg(FEffective.PasswordFile));
          return;
      }
    }
    s.CAFile = FEffective.CAFile.toStdString();
    s.QoS = FEffective.QoS;
    // Anyone who may publish to the broker could otherwise set the bath's
    // temperature: commands need a login of the program's own.
    const bool login = !FEffective.User.isEmpty() && !FEffective.PasswordFile.isEmpty();
    s.Commands = FEffective.Commands && login;
    FCommandsWithoutLogin = FEffective.Commands && !login;
    FClient = std::make_unique<TMqttClient>(std::move(s));
    connect(FClient.get(), &TMqttClient::StateChanged, this,
            [this](const TMqttState& state) { ShowState(StateText(state)); });
    connect(FClient.get(), &TMqttClient::MessageReceived, this,
            [this](const QString& topic, const QByteArray& payload, bool retained) {
              Command(topic, payload, retained);
            });
    ShowState(LoadStr(1099).arg(FEffective.Host).arg(FEffective.Port));
    FSerial.reset();
    SelectionChanged();
  }

  QString StateText(const TMqttState& state) const {
    const QString n = QString::number(state.RetrySeconds);
    switch (state.Status) {
      case TMqttStatus::Connecting:
        return LoadStr(1099).arg(FEffective.Host).arg(FEffective.Port);
      case TMqttStatus::Connected:
        return LoadStr(1090).arg(FEffective.Host).arg(FEffective.Port);
      case TMqttStatus::Failed:
        return LoadStr(1097).arg(FEffective.CAFile);
      case TMqttStatus::Retrying:
        break;
    }
    switch (state.Fault) {
      case TMqttFault::HostNotFound:
        return LoadStr(1092).arg(FEffective.Host, n);
      case TMqttFault::LoginRefused:
        return LoadStr(1093).arg(n);
      case TMqttFault::Refused:
        return LoadStr(1094).arg(state.Code).arg(n);
      case TMqttFault::Tls:
        return LoadStr(1095).arg(n);
      case TMqttFault::NotAnswering:
        return LoadStr(1096).arg(n);
      case TMqttFault::CAFileUnreadable:
        return LoadStr(1097).arg(FEffective.CAFile);
      case TMqttFault::None:
      case TMqttFault::NoConnection:
        break;
    }
    return LoadStr(1091).arg(n);
  }

  void ShowState(const QString& text) {
    if (!FWindow.MqttPanel) {
      if (text.isEmpty())
        return;
      FWindow.MqttPanel = new QLabel(FWindow.statusBar());
      FWindow.MqttPanel->setObjectName(QStringLiteral("MqttPanel"));
      FWindow.MqttPanel->setFrameShape(QFrame::StyledPanel);
      FWindow.statusBar()->addPermanentWidget(FWindow.MqttPanel);
    }
    const QString shown = FCommandsWithoutLogin && !text.isEmpty() ? LoadStr(1103).arg(text) : text;
    FWindow.MqttPanel->setText(shown);
    FWindow.MqttPanel->setAccessibleName(shown);
    FWindow.MqttPanel->setVisible(!shown.isEmpty());
  }

  std::string Prefix() const { return FEffective.Prefix.toStdString(); }

  void PublishState(std::string_view leaf, const std::string& payload) {
    if (FClient && FSerial)
      FClient->Publish(ThermostatTopic(Prefix(), *FSerial, leaf), payload, true);
  }

  void TemperatureRead(double t) {
    if (!FClient || !FSerial)
      return;
    FClient->Publish(ThermostatTopic(Prefix(), *FSerial, "temperature"), FormatReading(t), false);
    TSampleMessage sample;
    sample.UtcMs = QDateTime::currentMSecsSinceEpoch();
    if (FWindow.Recording() && !FWindow.Record().Empty())
      sample.Elapsed = FWindow.Record().Last().Time * 86400.0;
    sample.Temperature = t;
    sample.Setpoint = FWindow.Setpoint();
    sample.Protection = FProtection;
    FClient->Publish(ThermostatTopic(Prefix(), *FSerial, "sample"), SampleJson(sample), false);
  }

  void SelectionChanged() {
    TJvHidDevice* dev = FWindow.SelectedDevice();
    const std::optional<QString> serial =
        dev ? std::optional<QString>(dev->SerialNumber()) : std::nullopt;
    if (serial == FSerial)
      return;
    PublishState("online", "0");
    FSerial = serial;
    FProtection.reset();
    PublishState("online", "1");
    PublishState("recording", FWindow.Recording() ? "1" : "0");
    FProgram.clear();
    PublishProgram();
  }

  void PublishProgram() {
    const char* state = "stopped";
    switch (FWindow.ProgramState()) {
      case TProgramState::Running:
        state = "running";
        break;
      case TProgramState::Paused:
        state = "paused";
        break;
      case TProgramState::Stopped:
        break;
    }
    std::string payload = ProgramJson(state, FWindow.ProgramStep(), FWindow.ProgramName());
    if (payload == FProgram)
      return;
    FProgram = payload;
    PublishState("program", payload);
  }

  // A message on <prefix>/<serial>/setpoint/set: a setpoint for the selected
  // thermostat within the limits of programs, scripts and the broker, written
  // with two decimals as programs write it. Anything else is ignored.
  void Command(const QString& topic, const QByteArray& payload, bool retained) {
    if (!FEffective.Commands || FCommandsWithoutLogin)
      return;
    const QString where = Shown(topic.toUtf8());
    const QString shown = Shown(payload, 64);
    // A retained command would act again at every connect, long after it was
    // meant, and could be planted while nobody watches: never acted on.
    if (retained) {
      if (FRetainedReported.size() < kMaxRetainedReported &&
          FRetainedReported.insert(topic + QLatin1Char('\n') + QString::fromUtf8(payload)).second)
        Warn(QStringLiteral("MQTT: %1: a retained command \"%2\" is ignored: commands must not be "
                            "retained (clear it: mosquitto_pub -r -n -t TOPIC)")
                 .arg(where, shown));
      return;
    }
    if (!FSerial || topic.toStdString() != ThermostatTopic(Prefix(), *FSerial, "setpoint/set")) {
      Warn(QStringLiteral("MQTT: %1: no such thermostat selected, ignored").arg(where));
      return;
    }
    const TSetpointLimits limits =
        FWindow.Program() ? FWindow.Program()->Limits() : TSetpointLimits{};
    const TAutomatedSetpoint setpoint = CheckAutomatedSetpoint(
        std::string_view(payload.data(), std::size_t(payload.size())), limits.Min, limits.Max);
    if (setpoint.Verdict == TSetpointVerdict::NotANumber) {
      Warn(QStringLiteral("MQTT: %1: \"%2\" is not a setpoint, ignored").arg(where, shown));
      return;
    }
    if (setpoint.Verdict == TSetpointVerdict::OutOfLimits) {
      Warn(QStringLiteral("MQTT: %1: %2 is outside the setpoint limits %3..%4, ignored")
               .arg(where, shown, QString::number(limits.Min), QString::number(limits.Max)));
      return;
    }
    const std::string request = std::string(kSetpointWritePrefix) + setpoint.Text + "\r";
    // "Изменить" asks first to pause a running program; a command cannot ask.
    if (FWindow.ProgramState() == TProgramState::Running) {
      Warn(QStringLiteral("MQTT: %1: a temperature program is running, ignored").arg(where));
      return;
    }
    // One command at a time on the request queue; a newer one waiting replaces an older.
    FPendingCommand = TCommand{where, *FSerial, request};
    if (!FCommandRunning)
      SendCommand();
  }

  void SendCommand() {
    if (!FPendingCommand)
      return;
    const TCommand command = *FPendingCommand;
    FPendingCommand.reset();
    // A command that waited is checked again: its thermostat may no longer be
    // the selected one, or a program may have started meanwhile.
    TJvHidDevice* dev = FWindow.SelectedDevice();
    if (!dev || dev->SerialNumber() != command.Serial) {
      Warn(QStringLiteral("MQTT: %1: no such thermostat selected, ignored").arg(command.Topic));
      return;
    }
    if (FWindow.ProgramState() == TProgramState::Running) {
      Warn(
          QStringLiteral("MQTT: %1: a temperature program is running, ignored").arg(command.Topic));
      return;
    }
    const std::string request = command.Request;
    FCommandRunning = true;
    QPointer<TPublishLink> self(this);
    FWindow.QueueRequest(rkSetpointWrite, request, [self, request](const TRequestDone& done) {
      if (!self)
        return;
      if (done.Outcome != TRequestOutcome::Answered) {
        Warn(QStringLiteral("MQTT: the thermostat did not take %1 (status %2)")
                 .arg(QString::fromLatin1(request.data(), qsizetype(request.size())).trimmed())
                 .arg(done.Status));
      }
      self->FCommandRunning = false;
      self->SendCommand();
    });
    FWindow.QueueRequest(rkSetpointRead, std::string(kSetpointReadRequest));
  }

  static constexpr std::size_t kMaxRetainedReported = 64;

  TMainFrm& FWindow;
  const std::optional<TEndpoint> FOption;  // --mqtt
  TPublishConfig FStored;                  // as the settings file has it
  TPublishConfig FEffective;               // with --mqtt on top
  bool FDirty = false;
  std::unique_ptr<TMqttClient> FClient;
  std::optional<QString> FSerial;  // the selected thermostat's, while one is
  std::optional<int> FProtection;
  std::string FProgram;  // the program payload last published
  struct TCommand {
    QString Topic;   // as printed
    QString Serial;  // of the thermostat it was sent to
    std::string Request;
  };
  std::optional<TCommand> FPendingCommand;
  bool FCommandRunning = false;
  bool FCommandsWithoutLogin = false;   // Commands=1, but no login to take them with
  std::set<QString> FRetainedReported;  // topic and payload of retained commands told of
};

void TMainFrm::SetUpPublish(const TIniFile& ini) {
  delete FPublish;
  FPublish = new TPublishLink(*this, ReadConfig(ini), FMqttOption);
}

bool TMainFrm::SavePublishSettings(TIniFile& ini) {
  // Written only once the dialog changed them: a file without the section
  // stays without it.
  if (!FPublish || !FPublish->Dirty())
    return true;
  const TPublishConfig& c = FPublish->Stored();
  return ini.WriteBool(kSection, QStringLiteral("Enabled"), c.Enabled) &&
         ini.WriteString(kSection, QStringLiteral("Host"), c.Host) &&
         ini.WriteInteger(kSection, QStringLiteral("Port"), c.Port) &&
         ini.WriteString(kSection, QStringLiteral("Prefix"), c.Prefix) &&
         ini.WriteString(kSection, QStringLiteral("ClientId"), c.ClientId) &&
         ini.WriteString(kSection, QStringLiteral("User"), c.User) &&
         ini.WriteString(kSection, QStringLiteral("PasswordFile"), c.PasswordFile) &&
         ini.WriteString(kSection, QStringLiteral("CAFile"), c.CAFile) &&
         ini.WriteInteger(kSection, QStringLiteral("QoS"), c.QoS) &&
         ini.WriteBool(kSection, QStringLiteral("Commands"), c.Commands);
}

void TMainFrm::AddPublishSettings(TSettingsFrm* form) {
  auto* box = new QGroupBox(tr("Публикация MQTT"));
  box->setObjectName(QStringLiteral("MqttGroup"));
  auto* layout = new QFormLayout(box);
  auto* enabled = new QCheckBox(tr("Публиковать показания на брокере MQTT"), box);
  auto* host = new QLineEdit(box);
  auto* port = new QSpinBox(box);
  port->setRange(1, 65535);
  auto* prefix = new QLineEdit(box);
  auto* clientId = new QLineEdit(box);
  clientId->setPlaceholderText(tr("calorix-<имя компьютера>-<номер процесса>"));
  auto* user = new QLineEdit(box);
  auto* passwordFile = new QLineEdit(box);
  auto* caFile = new QLineEdit(box);
  auto* qos = new QSpinBox(box);
  qos->setRange(0, 2);
  auto* commands = new QCheckBox(tr("Принимать уставку от брокера (только с авторизацией)"), box);
  layout->addRow(enabled);
  layout->addRow(tr("Брокер:"), host);
  layout->addRow(tr("Порт:"), port);
  layout->addRow(tr("Префикс тем:"), prefix);
  layout->addRow(tr("Идентификатор клиента:"), clientId);
  layout->addRow(tr("Пользователь:"), user);
  layout->addRow(tr("Файл пароля:"), passwordFile);
  layout->addRow(tr("Файл CA (TLS):"), caFile);
  layout->addRow(tr("QoS:"), qos);
  layout->addRow(commands);
  const struct {
    QWidget* Widget;
    const char* Name;
  } names[] = {{enabled, "MqttEnabled"},
               {host, "MqttHost"},
               {port, "MqttPort"},
               {prefix, "MqttPrefix"},
               {clientId, "MqttClientId"},
               {user, "MqttUser"},
               {passwordFile, "MqttPasswordFile"},
               {caFile, "MqttCAFile"},
               {qos, "MqttQoS"},
               {commands, "MqttCommands"}};
  for (const auto& n : names)
    n.Widget->setObjectName(QString::fromLatin1(n.Name));

  auto read = [=] {
    TPublishConfig c;
    c.Enabled = enabled->isChecked();
    c.Host = host->text().trimmed();
    c.Port = port->value();
    c.Prefix = prefix->text().trimmed();
    c.ClientId = clientId->text().trimmed();
    c.User = user->text();
    c.PasswordFile = passwordFile->text();
    c.CAFile = caFile->text();
    c.QoS = qos->value();
    c.Commands = commands->isChecked();
    return c;
  };
  TSettingsSection section;
  section.Widget = box;
  section.Load = [=, this] {
    const TPublishConfig c = FPublish ? FPublish->Effective() : TPublishConfig{};
    enabled->setChecked(c.Enabled);
    host->setText(c.Host);
    port->setValue(c.Port);
    prefix->setText(c.Prefix);
    clientId->setText(c.ClientId);
    user->setText(c.User);
    passwordFile->setText(c.PasswordFile);
    caFile->setText(c.CAFile);
    qos->setValue(c.QoS);
    commands->setChecked(c.Commands);
  };
  section.Check = [=] {
    const TPublishConfig c = read();
    if (c.Enabled && c.Host.isEmpty())
      return LoadStr(1100);
    if (c.Prefix.isEmpty() || c.Prefix.contains(QLatin1Char('+')) ||
        c.Prefix.contains(QLatin1Char('#')))
      return LoadStr(1101);
    return QString();
  };
  section.Apply = [=, this] {
    if (FPublish)
      FPublish->Apply(read());
  };
  form->AddSection(std::move(section));
}

}  // namespace calorix
