#include "station/Publisher.h"

#include "base/AutomatedSetpoint.h"
#include "base/IniFile.h"
#include "base/Messages.h"
#include "link/Hid.h"
#include "publish/Payloads.h"
#include "station/Session.h"
#include "station/Station.h"

#include <QDateTime>
#include <QFile>
#include <QJsonDocument>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

// One session as published: its connections live as long as this object, and
// the session is never reached through it once the station has let it go.
class TSessionPublisher::TEntry : public QObject {
 public:
  explicit TEntry(TThermostatSession& session) : Session(&session) {}

  TThermostatSession* const Session;
  std::optional<QString> Serial;  // the attached thermostat's, while one is
  std::optional<int> Protection;
  std::string Program;  // the program payload last published
  QString AlarmSerial;  // the thermostat last attached: a link lost is told under it
  struct TCommand {
    QString Topic;   // as printed
    QString Serial;  // of the thermostat it was sent to
    std::string Request;
  };
  std::optional<TCommand> PendingCommand;
  bool CommandRunning = false;
};

TSessionPublisher::TSessionPublisher(TStation& station, TPublishConfig stored,
                                     const std::optional<TEndpoint>& option, QObject* parent)
    : QObject(parent),
      FStation(&station),
      FOption(option),
      FStored(std::move(stored)),
      FEffective(FStored) {
  if (option) {
    FEffective.Enabled = true;
    FEffective.Host = option->Host;
    FEffective.Port = option->Port;
  }
  connect(&station, &TStation::SessionsChanged, this, [this] { SessionsChanged(); });
  // The station takes its sessions along when it goes (the program ends): they
  // leave without a word, as the program's status says it is offline.
  connect(&station, &QObject::destroyed, this, [this] { FEntries.clear(); });
  SessionsChanged();
  Restart();
}

TSessionPublisher::~TSessionPublisher() = default;

void TSessionPublisher::SessionsChanged() {
  if (!FStation)
    return;
  const std::vector<TThermostatSession*>& sessions = FStation->Sessions();
  for (auto it = FEntries.begin(); it != FEntries.end();) {
    if (std::find(sessions.begin(), sessions.end(), (*it)->Session) != sessions.end()) {
      ++it;
      continue;
    }
    PublishState(**it, "online", "0");
    it = FEntries.erase(it);
  }
  for (TThermostatSession* session : sessions) {
    if (std::none_of(FEntries.begin(), FEntries.end(),
                     [session](const auto& e) { return e->Session == session; }))
      Add(*session);
  }
}

void TSessionPublisher::Add(TThermostatSession& session) {
  FEntries.push_back(std::make_unique<TEntry>(session));
  TEntry* e = FEntries.back().get();
  connect(&session, &TThermostatSession::TemperatureRead, e,
          [this, e](double t) { TemperatureRead(*e, t); });
  connect(&session, &TThermostatSession::SetpointRead, e,
          [this, e](double v) { PublishState(*e, "setpoint", FormatReading(v)); });
  connect(&session, &TThermostatSession::ProtectionRead, e, [this, e](int bits) {
    if (e->Protection != bits)
      PublishState(*e, "protection", std::to_string(bits));
    e->Protection = bits;
  });
  connect(&session, &TThermostatSession::RecordingChanged, e,
          [this, e](bool on) { PublishState(*e, "recording", on ? "1" : "0"); });
  connect(&session, &TThermostatSession::Attached, e, [this, e] { SelectionChanged(*e); });
  connect(&session, &TThermostatSession::Detached, e, [this, e] { SelectionChanged(*e); });
  connect(&session, &TThermostatSession::ProgramStateChanged, e, [this, e](bool noted) {
    if (noted)
      PublishProgram(*e);
  });
  connect(&session, &TThermostatSession::ProgramLoaded, e, [this, e] { PublishProgram(*e); });
  connect(&session, &TThermostatSession::AlarmsChanged, e, [this, e] { PublishAlarms(*e); });
  connect(&session, &TThermostatSession::EventLogged, e,
          [this, e](const TEvent& event) { PublishEvent(*e, event); });
  SelectionChanged(*e);
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
  for (const auto& e : FEntries)
    e->Protection.reset();
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
  for (const auto& e : FEntries) {
    e->Serial.reset();
    SelectionChanged(*e);
  }
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

void TSessionPublisher::PublishState(TEntry& e, std::string_view leaf, const std::string& payload) {
  if (FClient && e.Serial)
    FClient->Publish(ThermostatTopic(Prefix(), *e.Serial, leaf), payload, true);
}

void TSessionPublisher::TemperatureRead(TEntry& e, double t) {
  if (!FClient || !e.Serial)
    return;
  const TThermostatSession& session = *e.Session;
  FClient->Publish(ThermostatTopic(Prefix(), *e.Serial, "temperature"), FormatReading(t), false);
  TSampleMessage sample;
  sample.UtcMs = QDateTime::currentMSecsSinceEpoch();
  if (session.Recording() && !session.Record().Empty())
    sample.Elapsed = session.Record().Last().Time * 86400.0;
  sample.Temperature = t;
  sample.Setpoint = session.Setpoint();
  sample.Protection = e.Protection;
  FClient->Publish(ThermostatTopic(Prefix(), *e.Serial, "sample"), SampleJson(sample), false);
}

void TSessionPublisher::SelectionChanged(TEntry& e) {
  const TThermostatSession& session = *e.Session;
  const std::optional<QString> serial =
      session.Device() ? std::optional<QString>(session.Serial()) : std::nullopt;
  if (serial == e.Serial)
    return;
  PublishState(e, "online", "0");
  e.Serial = serial;
  e.Protection.reset();
  PublishState(e, "online", "1");
  PublishState(e, "recording", session.Recording() ? "1" : "0");
  e.Program.clear();
  PublishProgram(e);
  if (serial) {
    e.AlarmSerial = *serial;
    PublishAlarms(e);
  }
}

void TSessionPublisher::PublishAlarms(TEntry& e) {
  // Retained under the serial last attached: an alarm raised as the thermostat
  // went away reaches the broker after its "online" 0.
  const QString& serial = e.Serial ? *e.Serial : e.AlarmSerial;
  if (FClient && !serial.isEmpty())
    FClient->Publish(ThermostatTopic(Prefix(), serial, "alarm"), AlarmJson(e.Session->Alarms()),
                     true);
}

void TSessionPublisher::PublishEvent(TEntry& e, const TEvent& event) {
  // Under the thermostat the event names; one that names none (a window's
  // session without its thermostat) under the one last attached.
  const QString& serial = !event.Serial.isEmpty() ? event.Serial : e.AlarmSerial;
  if (!FClient || serial.isEmpty())
    return;
  FClient->Publish(ThermostatTopic(Prefix(), serial, "event"),
                   QJsonDocument(EventToJson(event)).toJson(QJsonDocument::Compact).toStdString(),
                   false);
}

void TSessionPublisher::PublishProgram(TEntry& e) {
  const TThermostatSession& session = *e.Session;
  const char* state = "stopped";
  switch (session.ProgramState()) {
    case TProgramState::Running:
      state = "running";
      break;
    case TProgramState::Paused:
      state = "paused";
      break;
    case TProgramState::Stopped:
      break;
  }
  std::string payload = ProgramJson(state, session.ProgramStep(), session.ProgramName());
  if (payload == e.Program)
    return;
  e.Program = payload;
  PublishState(e, "program", payload);
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
  // The session showing the thermostat the topic names; a thermostat that no
  // session shows (plugged in or not) takes no commands.
  const std::string name = topic.toStdString();
  const auto it = std::find_if(FEntries.begin(), FEntries.end(), [&](const auto& e) {
    return e->Serial && name == ThermostatTopic(Prefix(), *e->Serial, "setpoint/set");
  });
  if (it == FEntries.end()) {
    Warn(QStringLiteral("MQTT: %1: no such thermostat selected, ignored").arg(where));
    return;
  }
  TEntry& e = **it;
  TThermostatSession& session = *e.Session;
  const TSetpointLimits limits = session.Limits();
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
  if (session.ProgramState() == TProgramState::Running) {
    Warn(QStringLiteral("MQTT: %1: a temperature program is running, ignored").arg(where));
    return;
  }
  // One command at a time on a session's request queue; a newer one waiting
  // replaces an older.
  e.PendingCommand = TEntry::TCommand{where, *e.Serial, request};
  if (!e.CommandRunning)
    SendCommand(e);
}

void TSessionPublisher::SendCommand(TEntry& e) {
  if (!e.PendingCommand)
    return;
  const TEntry::TCommand command = *e.PendingCommand;
  e.PendingCommand.reset();
  // A command that waited is checked again: its thermostat may have gone from
  // the session, or a program may have started meanwhile.
  TThermostatSession& session = *e.Session;
  if (!session.Device() || session.Serial() != command.Serial) {
    Warn(QStringLiteral("MQTT: %1: no such thermostat selected, ignored").arg(command.Topic));
    return;
  }
  if (session.ProgramState() == TProgramState::Running) {
    Warn(QStringLiteral("MQTT: %1: a temperature program is running, ignored").arg(command.Topic));
    return;
  }
  const std::string request = command.Request;
  e.CommandRunning = true;
  // The entry goes when the station lets its session go; a request of the
  // session's still running then has nobody to tell.
  QPointer<TEntry> entry(&e);
  const TThermostatSession::TActing broker(session, source::kMqtt);
  session.QueueRequest(rkSetpointWrite, request, [this, entry, request](const TRequestDone& done) {
    if (!entry)
      return;
    if (done.Outcome != TRequestOutcome::Answered) {
      Warn(QStringLiteral("MQTT: the thermostat did not take %1 (status %2)")
               .arg(QString::fromLatin1(request.data(), qsizetype(request.size())).trimmed())
               .arg(done.Status));
    }
    entry->CommandRunning = false;
    SendCommand(*entry);
  });
  session.QueueRequest(rkSetpointRead, std::string(kSetpointReadRequest));
}

}  // namespace calorix
