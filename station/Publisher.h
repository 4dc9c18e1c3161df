#pragma once
// Publishing a session to an MQTT broker: the section "MQTT" of the settings,
// the readings handed to the client as topics and payloads, the connection's
// state as a text for the status line, and setpoint commands from the broker
// through the session's request queue.
#include "base/Endpoint.h"
#include "publish/MqttClient.h"

#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace calorix {

class TIniFile;
class TThermostatSession;

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

TPublishConfig ReadPublishConfig(const TIniFile& ini);
// Writes every key of the section; false when a write failed.
bool WritePublishConfig(TIniFile& ini, const TPublishConfig& config);
// Whether topics can start with prefix: not empty, no wildcard.
bool IsPublishPrefix(const QString& prefix);

class TSessionPublisher : public QObject {
  Q_OBJECT
 public:
  // stored: the settings file's; option: --mqtt, for this run only.
  TSessionPublisher(TThermostatSession& session, TPublishConfig stored,
                    const std::optional<TEndpoint>& option, QObject* parent = nullptr);

  const TPublishConfig& Effective() const { return FEffective; }
  bool Dirty() const { return FDirty; }
  const TPublishConfig& Stored() const { return FStored; }

  // Settings taken in the dialog: they go to the settings file at close. A
  // broker named with --mqtt stays this run's: while the dialog still names
  // it, the file keeps its own broker (and whether to publish at all).
  void Apply(const TPublishConfig& config);

  // The connection as the status line shows it; empty: nothing to show.
  const QString& State() const { return FState; }

 signals:
  void StateChanged(const QString& text);

 private:
  void Restart();
  QString StateText(const TMqttState& state) const;
  void ShowState(const QString& text);
  std::string Prefix() const { return FEffective.Prefix.toStdString(); }

  void PublishState(std::string_view leaf, const std::string& payload);
  void TemperatureRead(double t);
  void SelectionChanged();
  void PublishProgram();

  // A message on <prefix>/<serial>/setpoint/set: a setpoint for the selected
  // thermostat within the limits of programs, scripts and the broker, written
  // with two decimals as programs write it. Anything else is ignored.
  void Command(const QString& topic, const QByteArray& payload, bool retained);
  void SendCommand();

  static constexpr std::size_t kMaxRetainedReported = 64;

  TThermostatSession& FSession;
  QString FState;                          // the connection as the status line shows it
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

}  // namespace calorix
