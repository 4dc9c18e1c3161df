#pragma once
// The connection to the MQTT broker. libmosquitto runs on a thread of the
// client's own, which connects, reconnects with a backoff of 1 s doubling to
// 30 s, and publishes; the user-interface thread only queues messages (never
// waiting on the network) and hears of state changes and incoming messages
// through queued calls.
#include "publish/Outbox.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>
#include <string>
#include <string_view>

namespace calorix {

struct TMqttSettings {
  std::string Host;
  int Port = 1883;
  std::string Prefix = "calorix";
  std::string ClientId;  // empty: the default id
  std::string User;      // empty: no login
  std::string Password;
  std::string CAFile;  // set: TLS with that CA
  int QoS = 1;
  bool Commands = false;  // subscribe to <prefix>/+/setpoint/set
  bool operator==(const TMqttSettings&) const = default;
};

enum class TMqttStatus {
  Connecting,
  Connected,
  Retrying,  // Fault says why, RetrySeconds counts down
  Failed,    // a fault no retry mends (an unreadable CA file)
};

enum class TMqttFault {
  None,
  NoConnection,  // refused, unreachable, lost
  HostNotFound,  // the name does not resolve
  LoginRefused,  // bad user name or password, or not authorised
  Refused,       // any other refusal; Code holds the broker's code
  Tls,           // TLS handshake or certificate check failed
  NotAnswering,  // accepts the connection but answers nothing
  CAFileUnreadable,
};

struct TMqttState {
  TMqttStatus Status = TMqttStatus::Connecting;
  TMqttFault Fault = TMqttFault::None;
  int RetrySeconds = 0;
  int Code = 0;
};

class TMqttSession;

class TMqttClient : public QObject {
  Q_OBJECT
 public:
  static constexpr int kFirstRetrySeconds = 1;
  static constexpr int kLastRetrySeconds = 30;
  static constexpr int kKeepAliveSeconds = 10;
  // Messages handed to libmosquitto and not yet acknowledged; the rest wait in
  // the outbox, which is bounded.
  static constexpr int kInFlight = 20;
  // Incoming messages are commands of a few bytes: longer payloads are dropped
  // as they arrive, and at most this many wait for the user-interface thread
  // (a flood from the broker costs neither memory nor the window's time).
  static constexpr int kMaxIncomingBytes = 256;
  static constexpr int kMaxIncomingWaiting = 16;

  explicit TMqttClient(TMqttSettings settings, QObject* parent = nullptr);
  ~TMqttClient() override;

  const TMqttSettings& Settings() const { return FSettings; }
  // The client id in use (the default one when the settings name none).
  const std::string& ClientId() const { return FClientId; }

  // Queues a message. A retained one is also remembered and published again
  // after every reconnect; while disconnected it waits only as that memory.
  void Publish(std::string_view topic, std::string_view payload, bool retain);
  std::size_t Waiting() const;
  std::size_t Dropped() const;

 signals:
  void StateChanged(const calorix::TMqttState& state);
  // retained: the broker kept the message and hands it over at subscription.
  void MessageReceived(const QString& topic, const QByteArray& payload, bool retained);

 private:
  TMqttSettings FSettings;
  std::string FClientId;
  std::shared_ptr<TMqttSession> FSession;
};

// The step after a retry wait of seconds: doubled, at most 30 s.
int NextRetrySeconds(int seconds);

}  // namespace calorix
