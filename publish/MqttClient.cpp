#include "publish/MqttClient.h"

#include "publish/Payloads.h"

#include <mosquitto.h>

#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <unordered_set>
#include <utility>

namespace calorix {

int NextRetrySeconds(int seconds) {
  return std::min(seconds * 2, TMqttClient::kLastRetrySeconds);
}

namespace {

// libmosquitto's global set-up, once per process; never undone, since a
// session thread may outlive the window at exit.
void InitLibrary() {
  static const int once = mosquitto_lib_init();
  (void)once;
}

// The broker's CONNACK refusal codes of MQTT 3.1.1 that mean the login.
bool IsLoginRefusal(int code) {
  return code == 4 || code == 5;
}

}  // namespace

// Everything the session thread uses; shared with the client so that a thread
// still stuck in a blocking connect at exit touches nothing freed.
class TMqttSession : public std::enable_shared_from_this<TMqttSession> {
 public:
  TMqttSession(TMqttSettings settings, std::string clientId, QObject* receiver)
      : FSettings(std::move(settings)), FClientId(std::move(clientId)), FReceiver(receiver) {
    FStatusTopic = ClientStatusTopic(FSettings.Prefix, FClientId);
  }

  void Start(const std::shared_ptr<TMqttSession>& self) {
    FThread = std::thread([self] { self->Run(); });
  }

  // Asks the thread to end and waits a little for it; a thread blocked in a
  // connect is left to end by itself.
  void Stop() {
    std::unique_lock lock(FMutex);
    FReceiver = nullptr;
    FStopping = true;
    FWake.notify_all();
    const bool ended = FEnded.wait_for(lock, std::chrono::seconds(2), [this] { return FDone; });
    lock.unlock();
    if (ended)
      FThread.join();
    else
      FThread.detach();
  }

  void Publish(std::string_view topic, std::string_view payload, bool retain) {
    std::lock_guard lock(FMutex);
    std::string t(topic), p(payload);
    if (retain) {
      FOutbox.Remember(t, p);
      if (!FConnected)
        return;
    }
    FOutbox.Push(TOutMessage{std::move(t), std::move(p), retain});
  }

  std::size_t Waiting() const {
    std::lock_guard lock(FMutex);
    return FOutbox.Size();
  }
  std::size_t Dropped() const {
    std::lock_guard lock(FMutex);
    return FOutbox.Dropped();
  }

 private:
  void Run() {
    InitLibrary();
    FMosq = mosquitto_new(FClientId.c_str(), true, this);
    if (!FMosq) {
      Report({TMqttStatus::Failed, TMqttFault::NoConnection, 0, 0});
    } else {
      RunSession();
      mosquitto_destroy(FMosq);
      FMosq = nullptr;
    }
    std::lock_guard lock(FMutex);
    FDone = true;
    FEnded.notify_all();
  }

  void RunSession() {
    mosquitto_connect_callback_set(FMosq, &TMqttSession::OnConnect);
    mosquitto_publish_callback_set(FMosq, &TMqttSession::OnPublish);
    mosquitto_message_callback_set(FMosq, &TMqttSession::OnMessage);
    mosquitto_max_inflight_messages_set(FMosq, TMqttClient::kInFlight);
    mosquitto_will_set(FMosq, FStatusTopic.c_str(), 7, "offline", FSettings.QoS, true);
    if (!FSettings.User.empty())
      mosquitto_username_pw_set(FMosq, FSettings.User.c_str(),
                                FSettings.Password.empty() ? nullptr : FSettings.Password.c_str());
    if (!FSettings.CAFile.empty() &&
        mosquitto_tls_set(FMosq, FSettings.CAFile.c_str(), nullptr, nullptr, nullptr, nullptr) !=
            MOSQ_ERR_SUCCESS) {
      Report({TMqttStatus::Failed, TMqttFault::CAFileUnreadable, 0, 0});
      std::unique_lock lock(FMutex);
      FWake.wait(lock, [this] { return FStopping; });
      return;
    }
    int retry = TMqttClient::kFirstRetrySeconds;
    while (!Stopping()) {
      Report({TMqttStatus::Connecting, TMqttFault::None, 0, 0});
      FConnAck = -1;
      TMqttState fault{TMqttStatus::Retrying, TMqttFault::NoConnection, 0, 0};
      const int rc = mosquitto_connect(FMosq, FSettings.Host.c_str(), FSettings.Port,
                                       TMqttClient::kKeepAliveSeconds);
      if (rc == MOSQ_ERR_SUCCESS) {
        fault = Converse(retry);
      } else {
        fault.Fault = FaultOf(rc);
      }
      SetConnected(false);
      if (Stopping())
        break;
      if (!WaitToRetry(fault, retry))
        break;
      retry = NextRetrySeconds(retry);
    }
  }

  // One connection, from CONNECT sent until it ends; returns why it ended.
  TMqttState Converse(int& retry) {
    using namespace std::chrono;
    const auto deadline = steady_clock::now() + seconds(TMqttClient::kKeepAliveSeconds);
    TMqttState fault{TMqttStatus::Retrying, TMqttFault::NoConnection, 0, 0};
    while (!Stopping()) {
      const int rc = mosquitto_loop(FMosq, 100, 1);
      if (FConnAck > 0) {
        fault.Fault = IsLoginRefusal(FConnAck) ? TMqttFault::LoginRefused : TMqttFault::Refused;
        fault.Code = FConnAck;
        return fault;
      }
      if (rc != MOSQ_ERR_SUCCESS) {
        fault.Fault = FaultOf(rc);
        return fault;
      }
      if (FConnAck == 0 && !Connected()) {
        OnSessionStart();
        retry = TMqttClient::kFirstRetrySeconds;
      }
      if (Connected()) {
        Drain();
      } else if (steady_clock::now() > deadline) {
        fault.Fault = TMqttFault::NotAnswering;
        return fault;
      }
    }
    // A clean end: the status says so, since the broker keeps the will for a lost connection.
    if (Connected()) {
      mosquitto_publish(FMosq, nullptr, FStatusTopic.c_str(), 7, "offline", FSettings.QoS, true);
      for (int i = 0; i < 5 && mosquitto_want_write(FMosq); ++i)
        mosquitto_loop(FMosq, 50, 1);
      mosquitto_disconnect(FMosq);
      mosquitto_loop(FMosq, 10, 1);
    }
    return fault;
  }

  void OnSessionStart() {
    FInFlight.clear();
    FEarlyAcked.clear();
    std::vector<TOutMessage> retained;
    {
      std::lock_guard lock(FMutex);
      FConnected = true;
      retained = FOutbox.Retained();
    }
    if (FSettings.Commands) {
      const std::string filter = FSettings.Prefix + "/+/setpoint/set";
      mosquitto_subscribe(FMosq, nullptr, filter.c_str(), FSettings.QoS);
    }
    mosquitto_publish(FMosq, nullptr, FStatusTopic.c_str(), 6, "online", FSettings.QoS, true);
    for (const auto& m : retained)
      Send(m);
    Report({TMqttStatus::Connected, TMqttFault::None, 0, 0});
  }

  // Hands waiting messages to libmosquitto while fewer than kInFlight are unacknowledged.
  void Drain() {
    while (FInFlight.size() < std::size_t(TMqttClient::kInFlight)) {
      std::optional<TOutMessage> m;
      {
        std::lock_guard lock(FMutex);
        m = FOutbox.Pop();
      }
      if (!m)
        return;
      Send(*m);
    }
  }

  void Send(const TOutMessage& m) {
    int mid = 0;
    const int rc = mosquitto_publish(FMosq, &mid, m.Topic.c_str(), int(m.Payload.size()),
                                     m.Payload.data(), FSettings.QoS, m.Retain);
    if (rc != MOSQ_ERR_SUCCESS)
      return;
    // A QoS 0 message may be written, and acknowledged, before publish returns.
    if (FEarlyAcked.erase(mid) == 0)
      FInFlight.insert(mid);
  }

  bool WaitToRetry(TMqttState state, int seconds) {
    std::unique_lock lock(FMutex);
    for (int left = seconds; left > 0; --left) {
      state.RetrySeconds = left;
      lock.unlock();
      Report(state);
      lock.lock();
      if (FWake.wait_for(lock, std::chrono::seconds(1), [this] { return FStopping; }))
        return false;
    }
    return true;
  }

  static TMqttFault FaultOf(int rc) {
    switch (rc) {
      case MOSQ_ERR_EAI:
        return TMqttFault::HostNotFound;
      case MOSQ_ERR_TLS:
      case MOSQ_ERR_TLS_HANDSHAKE:
        return TMqttFault::Tls;
      case MOSQ_ERR_KEEPALIVE:
        return TMqttFault::NotAnswering;
      case MOSQ_ERR_AUTH:
        return TMqttFault::LoginRefused;
      default:
        return TMqttFault::NoConnection;
    }
  }

  static void OnConnect(mosquitto*, void* obj, int rc) {
    static_cast<TMqttSession*>(obj)->FConnAck = rc;
  }
  static void OnPublish(mosquitto*, void* obj, int mid) {
    auto* self = static_cast<TMqttSession*>(obj);
    if (self->FInFlight.erase(mid) == 0)
      self->FEarlyAcked.insert(mid);
  }
  static void OnMessage(mosquitto*, void* obj, const mosquitto_message* msg) {
    auto* self = static_cast<TMqttSession*>(obj);
    const std::string_view topic(msg->topic ? msg->topic : "");
    if (msg->payloadlen > TMqttClient::kMaxIncomingBytes) {
      // A few lines say so; a flood of them must not flood standard error.
      if (++self->FOversized <= kOversizedLines)
        std::fprintf(stderr, "MQTT: %s: a message of %d bytes, more than %d, ignored%s\n",
                     PrintableText(topic).c_str(), msg->payloadlen, TMqttClient::kMaxIncomingBytes,
                     self->FOversized == kOversizedLines ? " (further ones without a line)" : "");
      return;
    }
    std::lock_guard lock(self->FMutex);
    if (self->FIncomingWaiting >= TMqttClient::kMaxIncomingWaiting) {
      ++self->FIncomingDropped;
      return;
    }
    auto* receiver = qobject_cast<TMqttClient*>(self->FReceiver);
    if (!receiver)
      return;
    ++self->FIncomingWaiting;
    const QString t = QString::fromUtf8(topic.data(), qsizetype(topic.size()));
    const QByteArray payload(static_cast<const char*>(msg->payload), msg->payloadlen);
    const bool retained = msg->retain;
    std::weak_ptr<TMqttSession> session = self->weak_from_this();
    QMetaObject::invokeMethod(
        receiver,
        [receiver, session, t, payload, retained] {
          if (const auto s = session.lock())
            s->IncomingTaken();
          emit receiver->MessageReceived(t, payload, retained);
        },
        Qt::QueuedConnection);
  }

  // On the user-interface thread, as each incoming message is taken: once none
  // waits, says how many a flood cost.
  void IncomingTaken() {
    std::size_t dropped = 0;
    {
      std::lock_guard lock(FMutex);
      if (--FIncomingWaiting == 0)
        dropped = std::exchange(FIncomingDropped, 0);
    }
    if (dropped > 0)
      std::fprintf(stderr,
                   "MQTT: %zu incoming messages ignored: more came than are taken at once\n",
                   dropped);
  }

  void Report(const TMqttState& state) {
    std::lock_guard lock(FMutex);
    if (auto* receiver = qobject_cast<TMqttClient*>(FReceiver)) {
      QMetaObject::invokeMethod(
          receiver, [receiver, state] { emit receiver->StateChanged(state); },
          Qt::QueuedConnection);
    }
  }

  bool Stopping() const {
    std::lock_guard lock(FMutex);
    return FStopping;
  }
  bool Connected() const {
    std::lock_guard lock(FMutex);
    return FConnected;
  }
  void SetConnected(bool connected) {
    std::lock_guard lock(FMutex);
    FConnected = connected;
  }

  const TMqttSettings FSettings;
  const std::string FClientId;
  std::string FStatusTopic;
  std::thread FThread;

  mutable std::mutex FMutex;  // guards the fields below it
  std::condition_variable FWake, FEnded;
  QObject* FReceiver;  // null once the client is gone
  bool FStopping = false;
  bool FDone = false;
  bool FConnected = false;
  TOutbox FOutbox;
  int FIncomingWaiting = 0;  // handed to the user-interface thread, not yet taken
  std::size_t FIncomingDropped = 0;

  // The session thread's own.
  mosquitto* FMosq = nullptr;
  int FConnAck = -1;  // -1 none yet, else the CONNACK code
  static constexpr int kOversizedLines = 3;
  int FOversized = 0;  // oversized messages seen
  std::unordered_set<int> FInFlight, FEarlyAcked;
};

TMqttClient::TMqttClient(TMqttSettings settings, QObject* parent)
    : QObject(parent), FSettings(std::move(settings)) {
  FClientId = FSettings.ClientId.empty() ? DefaultClientId() : FSettings.ClientId;
  FSession = std::make_shared<TMqttSession>(FSettings, FClientId, this);
  FSession->Start(FSession);
}

TMqttClient::~TMqttClient() {
  FSession->Stop();
}

void TMqttClient::Publish(std::string_view topic, std::string_view payload, bool retain) {
  FSession->Publish(topic, payload, retain);
}

std::size_t TMqttClient::Waiting() const {
  return FSession->Waiting();
}

std::size_t TMqttClient::Dropped() const {
  return FSession->Dropped();
}

}  // namespace calorix
