// Each way a connection fails gives its own state, and the user-interface
// thread goes on meanwhile: a port nobody listens on, a listener that never
// answers, a name that does not resolve and a missing CA file on any machine;
// a broker of the test's own (mosquitto with a login) for the login and a
// garbage CA file.
#include "publish/MqttClient.h"
#include "tests/support/TestBroker.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <vector>

namespace calorix {
namespace {

// A loopback socket bound to a free port; listening when asked, never accepting.
struct TLoopbackPort {
  int Fd = -1;
  int Port = 0;
  explicit TLoopbackPort(bool listen) {
    Fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    ::bind(Fd, reinterpret_cast<sockaddr*>(&addr), len);
    ::getsockname(Fd, reinterpret_cast<sockaddr*>(&addr), &len);
    Port = ntohs(addr.sin_port);
    if (listen)
      ::listen(Fd, 4);
  }
  ~TLoopbackPort() { ::close(Fd); }
  void Close() {
    ::close(Fd);
    Fd = -1;
  }
};

struct TFaultCase {
  const char* Name;
  TMqttSettings Settings;
  TMqttStatus Status;
  TMqttFault Fault;
};

TMqttSettings Settings(std::string user, std::string password, std::string ca, int port) {
  TMqttSettings s;
  s.Host = "127.0.0.1";
  s.Port = port;
  s.ClientId = "test-" + user + std::to_string(port) + ca.substr(ca.size() > 8 ? ca.size() - 8 : 0);
  s.User = std::move(user);
  s.Password = std::move(password);
  s.CAFile = std::move(ca);
  return s;
}

// Starts a client per case at once and checks the first state each settles in.
void ExpectStates(const std::vector<TFaultCase>& cases) {
  std::vector<std::unique_ptr<TMqttClient>> clients;
  std::map<std::size_t, TMqttState> settled;
  for (std::size_t i = 0; i < cases.size(); ++i) {
    clients.push_back(std::make_unique<TMqttClient>(cases[i].Settings));
    QObject::connect(clients.back().get(), &TMqttClient::StateChanged,
                     [&settled, i](const TMqttState& s) {
                       if (s.Status != TMqttStatus::Connecting && !settled.count(i))
                         settled[i] = s;
                     });
  }
  // The connection that never answers gives up after the keep-alive period;
  // the rest is slack for a loaded machine.
  QElapsedTimer waited;
  waited.start();
  while (settled.size() < cases.size() &&
         waited.elapsed() < (TMqttClient::kKeepAliveSeconds + 50) * 1000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE(cases[i].Name);
    ASSERT_TRUE(settled.count(i)) << "no state";
    EXPECT_EQ(int(settled[i].Status), int(cases[i].Status));
    EXPECT_EQ(int(settled[i].Fault), int(cases[i].Fault));
    if (cases[i].Status == TMqttStatus::Retrying) {
      EXPECT_EQ(settled[i].RetrySeconds, 1);
    }
  }
}

// Faults that need no broker: they run on every machine.
TEST(MqttFaults, WithoutBroker) {
  QTemporaryDir dir;
  TLoopbackPort closed(false);
  TLoopbackPort silent(true);
  closed.Close();
  // The reserved top-level domain never resolves, whatever the resolver.
  TMqttSettings unknownHost = Settings("", "", "", 1883);
  unknownHost.Host = "no-such-broker.invalid";
  ExpectStates({
      {"nobody listens", Settings("", "", "", closed.Port), TMqttStatus::Retrying,
       TMqttFault::NoConnection},
      {"listens, never answers", Settings("", "", "", silent.Port), TMqttStatus::Retrying,
       TMqttFault::NotAnswering},
      {"host not found", unknownHost, TMqttStatus::Retrying, TMqttFault::HostNotFound},
      {"CA file missing",
       Settings("", "", dir.filePath(QStringLiteral("none.pem")).toStdString(), closed.Port),
       TMqttStatus::Failed, TMqttFault::CAFileUnreadable},
  });
}

// Faults a broker of the test's own (mosquitto, with a login) gives.
TEST(MqttFaults, AtTheBroker) {
  if (!test::TTestBroker::Available())
    GTEST_SKIP() << "mosquitto is not installed";
  const test::TTestBroker broker(false);
  ASSERT_TRUE(broker.Error().isEmpty()) << broker.Error().toStdString();
  QFile garbage(QDir(broker.Path()).filePath(QStringLiteral("garbage.pem")));
  ASSERT_TRUE(garbage.open(QIODevice::WriteOnly));
  garbage.write("not a certificate\n");
  garbage.close();
  const int port = broker.Port();
  ExpectStates({
      {"login accepted", Settings("lab", "secret", "", port), TMqttStatus::Connected,
       TMqttFault::None},
      {"wrong password", Settings("lab", "wrong", "", port), TMqttStatus::Retrying,
       TMqttFault::LoginRefused},
      {"no login", Settings("", "", "", port), TMqttStatus::Retrying, TMqttFault::LoginRefused},
      {"CA file garbage", Settings("lab", "secret", garbage.fileName().toStdString(), port),
       TMqttStatus::Retrying, TMqttFault::Tls},
  });
}

}  // namespace
}  // namespace calorix
