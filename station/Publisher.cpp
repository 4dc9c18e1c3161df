#include "station/Publisher.h"

#include "base/AutomatedSetpoint.h"
#include "base/IniFile.h"
#include "base/Messages.h"
#include "link/Hid.h"
#include "publish/Payloads.h"
#include "station/Session.h"

#include <QDateTime>
#include <QFile>
#include <QPointer>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>

namespace calorix {
namespace {

const QString kSection = QStringLiteral("MQTT");

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

bool IsPublishPrefix(const QString& prefix) {
  return !prefix.isEmpty() && !prefix.contains(QLatin1Char('+')) &&
         !prefix.contains(QLatin1Char('#'));
}

TPublishConfig ReadPublishConfig(const TIniFile& ini) {
  TPublishConfig c;
  c.Enabled = ini.ReadBool(kSection, QStringLiteral("Enabled"), false);
  c.Host = ini.ReadString(kSection, QStringLiteral("Host"), QString()).trimmed();
  c.Port = ini.ReadInteger(kSection, QStringLiteral("Port"), kDefaultMqttPort);
  if (c.Port < 1 || c.Port > 65535)
    c.Port = kDefaultMqttPort;
  c.Prefix = ini.ReadString(kSection, QStringLiteral("Prefix"), c.Prefix).trimmed();
  if (!IsPublishPrefix(c.Prefix))
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

bool WritePublishConfig(TIniFile& ini, const TPublishConfig& c) {
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

TSessionPublisher::TSessionPublisher(TThermostatSession& session, TPublishConfig stored,
                                     const std::optional<TEndpoint>& option, QObject* parent)
    : QObject(parent),
      FSession(session),
      FOption(option),
      FStored(std::move(stored)),
      FEffective(FStored) {
  if (option) {
    FEffective.Enabled = true;
    FEffective.Host = option->Host;
    FEffective.Port = option->Port;
  }
  connect(&session, &TThermostatSession::TemperatureRead, this,
          [this](double t) { TemperatureRead(t); });
  connect(&session, &TThermostatSession::SetpointRead, this,
          [this](double v) { PublishState("setpoint", FormatReading(v)); });
  connect(&session, &TThermostatSession::ProtectionRead, this, [this](int bits) {
    if (FProtection != bits)
      PublishState("protection", std::to_string(bits));
    FProtection = bits;
  });
  connect(&session, &TThermostatSession::RecordingChanged, this,
          [this](bool on) { PublishState("recording", on ? "1" : "0"); });
  connect(&session, &TThermostatSession::Attached, this, [this] { SelectionChanged(); });
  connect(&session, &TThermostatSession::Detached, this, [this] { SelectionChanged(); });
  connect(&session, &TThermostatSession::ProgramStateChanged, this, [this](bool noted) {
    if (noted)
      PublishProgram();
  });
  connect(&session, &TThermostatSession::ProgramLoaded, this, [this] { PublishProgram(); });
  Restart();
}

void TSessionPublisher::Apply(const TPublishConfig& config) {
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

void TSessionPublisher::Restart() {
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

QString TSessionPublisher::StateText(const TMqttState& state) const {
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

void TSessionPublisher::ShowState(const QString& text) {
  FState = FCommandsWithoutLogin && !text.isEmpty() ? LoadStr(1103).arg(text) : text;
  emit StateChanged(FState);
}

void TSessionPublisher::PublishState(std::string_view leaf, const std::string& payload) {
  if (FClient && FSerial)
    FClient->Publish(ThermostatTopic(Prefix(), *FSerial, leaf), payload, true);
}

void TSessionPublisher::TemperatureRead(double t) {
  if (!FClient || !FSerial)
    return;
  FClient->Publish(ThermostatTopic(Prefix(), *FSerial, "temperature"), FormatReading(t), false);
  TSampleMessage sample;
  sample.UtcMs = QDateTime::currentMSecsSinceEpoch();
  if (FSession.Recording() && !FSession.Record().Empty())
    sample.Elapsed = FSession.Record().Last().Time * 86400.0;
  sample.Temperature = t;
  sample.Setpoint = FSession.Setpoint();
  sample.Protection = FProtection;
  FClient->Publish(ThermostatTopic(Prefix(), *FSerial, "sample"), SampleJson(sample), false);
}

void TSessionPublisher::SelectionChanged() {
  TJvHidDevice* dev = FSession.Device();
  const std::optional<QString> serial =
      dev ? std::optional<QString>(FSession.Serial()) : std::nullopt;
  if (serial == FSerial)
    return;
  PublishState("online", "0");
  FSerial = serial;
  FProtection.reset();
  PublishState("online", "1");
  PublishState("recording", FSession.Recording() ? "1" : "0");
  FProgram.clear();
  PublishProgram();
}

void TSessionPublisher::PublishProgram() {
  const char* state = "stopped";
  switch (FSession.ProgramState()) {
    case TProgramState::Running:
      state = "running";
      break;
    case TProgramState::Paused:
      state = "paused";
      break;
    case TProgramState::Stopped:
      break;
  }
  std::string payload = ProgramJson(state, FSession.ProgramStep(), FSession.ProgramName());
  if (payload == FProgram)
    return;
  FProgram = payload;
  PublishState("program", payload);
}

void TSessionPublisher::Command(const QString& topic, const QByteArray& payload, bool retained) {
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
  const TSetpointLimits limits = FSession.Limits();
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
  if (FSession.ProgramState() == TProgramState::Running) {
    Warn(QStringLiteral("MQTT: %1: a temperature program is running, ignored").arg(where));
    return;
  }
  // One command at a time on the request queue; a newer one waiting replaces an older.
  FPendingCommand = TCommand{where, *FSerial, request};
  if (!FCommandRunning)
    SendCommand();
}

void TSessionPublisher::SendCommand() {
  if (!FPendingCommand)
    return;
  const TCommand command = *FPendingCommand;
  FPendingCommand.reset();
  // A command that waited is checked again: its thermostat may no longer be
  // the selected one, or a program may have started meanwhile.
  TJvHidDevice* dev = FSession.Device();
  if (!dev || FSession.Serial() != command.Serial) {
    Warn(QStringLiteral("MQTT: %1: no such thermostat selected, ignored").arg(command.Topic));
    return;
  }
  if (FSession.ProgramState() == TProgramState::Running) {
    Warn(QStringLiteral("MQTT: %1: a temperature program is running, ignored").arg(command.Topic));
    return;
  }
  const std::string request = command.Request;
  FCommandRunning = true;
  QPointer<TSessionPublisher> self(this);
  FSession.QueueRequest(rkSetpointWrite, request, [self, request](const TRequestDone& done) {
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
  FSession.QueueRequest(rkSetpointRead, std::string(kSetpointReadRequest));
}

}  // namespace calorix
