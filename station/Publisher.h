#pragma once
// Publishing the station's sessions to an MQTT broker over one connection: the
// section "MQTT" of the settings, each session's readings and events handed to
// the client as topics under its thermostat's serial, the connection's state as
// a text for the status line, and setpoint commands from the broker through
// the request queue of the session that shows the thermostat named in the topic.
#include "base/Endpoint.h"
#include "publish/MqttClient.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace calorix {

class TIniFile;
class TStation;
class TThermostatSession;
struct TEvent;

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

// One broker connection for the whole program (one client id, one will): every
// session of the station is published under its thermostat's serial as the
// station shows it, sessions and thermostats coming and going included.
class TSessionPublisher : public QObject {
  Q_OBJECT
 public:
  // stored: the settings file's; option: --mqtt, for this run only.
  TSessionPublisher(TStation& station, TPublishConfig stored,
                    const std::optional<TEndpoint>& option, QObject* parent = nullptr);
  ~TSessionPublisher() override;

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
  class TEntry;  // one session as published

  void Restart();
  QString StateText(const TMqttState& state) const;
  void ShowState(const QString& text);
  std::string Prefix() const { return FEffective.Prefix.toStdString(); }

  // Follows the station's list: a new session is published, one let go says
  // its thermostat is offline.
  void SessionsChanged();
  void Add(TThermostatSession& session);

  void PublishState(TEntry& entry, std::string_view leaf, const std::string& payload);
  void TemperatureRead(TEntry& entry, double t);
  void SelectionChanged(TEntry& entry);
  void PublishProgram(TEntry& entry);
  void PublishAlarms(TEntry& entry);  // <prefix>/<serial>/alarm, retained
  // <prefix>/<serial>/event, not retained: one JSON object per event logged.
  void PublishEvent(TEntry& entry, const TEvent& event);

  // A message on <prefix>/<serial>/setpoint/set: a setpoint for the session
  // showing that thermostat, within that session's limits of programs, scripts
  // and the broker, written with two decimals as programs write it. Anything
  // else is ignored.
  void Command(const QString& topic, const QByteArray& payload, bool retained);
  void SendCommand(TEntry& entry);

  static constexpr std::size_t kMaxRetainedReported = 64;

  QPointer<TStation> FStation;  // gone before the publisher when the window closes
  std::vector<std::unique_ptr<TEntry>> FEntries;  // one per session of the station
  QString FState;                                 // the connection as the status line shows it
  const std::optional<TEndpoint> FOption;         // --mqtt
  TPublishConfig FStored;                         // as the settings file has it
  TPublishConfig FEffective;                      // with --mqtt on top
  bool FDirty = false;
  std::unique_ptr<TMqttClient> FClient;
  bool FCommandsWithoutLogin = false;   // Commands=1, but no login to take them with
  std::set<QString> FRetainedReported;  // topic and payload of retained commands told of
};

}  // namespace calorix
