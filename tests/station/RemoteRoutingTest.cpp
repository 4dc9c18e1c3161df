// One SCPI port for the station, each client on the session it addressed:
// real loopback clients, two sessions on two simulated baths, no windows.
#include "base/Clock.h"
#include "base/Timer.h"
#include "link/SimHidPlatform.h"
#include "link/SimThermostat.h"
#include "remote/RemoteServer.h"
#include "station/Remote.h"
#include "station/Session.h"
#include "station/Station.h"
#include "tests/support/SimStation.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QThread>

#include <deque>

namespace calorix {
namespace {

bool WaitFor(const std::function<bool()>& cond) {
  QElapsedTimer t;
  t.start();
  while (!cond()) {
    if (t.elapsed() > 10000)
      return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

// A script's connection: a line out, the next answer line back.
struct TScript {
  QTcpSocket Socket;
  void Send(const std::string& line) { Socket.write((line + "\n").c_str()); }
  std::string Read() {
    if (!WaitFor([this] { return Socket.canReadLine(); }))
      return "(no answer)";
    return Socket.readLine().trimmed().toStdString();
  }
  std::string Ask(const std::string& line) {
    Send(line);
    return Read();
  }
};

class RemoteRoutingTest : public ::testing::Test, public test::TSimStation {
 protected:
  RemoteRoutingTest() : TSimStation({"SN-1", "SN-2", "SN-3"}) {
    // The first window's session takes SN-1; a second window is bound to SN-2.
    First = Open({});
    Second = Open(QStringLiteral("SN-2"));
    Service = std::make_unique<TRemoteService>(*Station);
    Service->Start(TEndpoint{QStringLiteral("127.0.0.1"), 0});
  }

  void SetUp() override {
    ASSERT_TRUE(Service->Server());
    for (TThermostatSession* s : {First, Second})
      ASSERT_TRUE(WaitFor([s] { return s->Device() && s->Requests().Requests().empty(); }));
    for (TScript* c : {&A, &B}) {
      c->Socket.connectToHost(QStringLiteral("127.0.0.1"), Service->Server()->Port());
      ASSERT_TRUE(WaitFor([c] { return c->Socket.state() == QAbstractSocket::ConnectedState; }));
    }
    ASSERT_TRUE(WaitFor([this] { return Service->ClientCount() == 2; }));
    ASSERT_EQ(B.Ask("SYST:DEV \"SN-2\";*OPC?"), "1");
  }

  TThermostatSession* First = nullptr;
  TThermostatSession* Second = nullptr;
  std::unique_ptr<TRemoteService> Service;
  TScript A, B;  // A never selects: it addresses the first session
};

TEST_F(RemoteRoutingTest, TwoClientsOnTwoBathsKeepTheirOwnSetpointsErrorsAndRecords) {
  struct TCase {
    TScript* Client;
    const char* Serial;
    const char* Setpoint;
    TThermostatSession* Session;
  };
  const std::vector<TCase> cases = {{&A, "\"SN-1\"", "25.50", First},
                                    {&B, "\"SN-2\"", "31.25", Second}};
  for (const TCase& c : cases)
    EXPECT_EQ(c.Client->Ask(std::string("TEMP ") + c.Setpoint + ";*OPC?"), "1");
  for (const TCase& c : cases) {
    EXPECT_EQ(c.Client->Ask("SYST:DEV?"), c.Serial);
    EXPECT_EQ(c.Client->Ask("TEMP?"), c.Setpoint);
    EXPECT_EQ(QString::number(c.Session->Setpoint(), 'f', 2).toStdString(), c.Setpoint);
  }

  // B's mistake and B's record are B's only.
  B.Send("NO:SUCH:COMMand");
  EXPECT_EQ(B.Ask("REC:STAT ON;*OPC?"), "1");
  EXPECT_EQ(A.Ask("SYST:ERR?").substr(0, 2), "0,");
  EXPECT_EQ(B.Ask("SYST:ERR?").substr(0, 5), "-113,");
  EXPECT_EQ(A.Ask("REC:STAT?"), "0");
  EXPECT_EQ(B.Ask("REC:STAT?"), "1");
  EXPECT_FALSE(First->Recording());
  EXPECT_TRUE(Second->Recording());
}

TEST_F(RemoteRoutingTest, SelectingASerialMovesTheClientOrSwitchesItsOwnSession) {
  EXPECT_EQ(A.Ask("SYST:DEV:CAT?"), "\"SN-1\",\"SN-2\",\"SN-3\"");
  // Shown by no session: A's own session takes it, as the menu would.
  EXPECT_EQ(A.Ask("SYST:DEV \"SN-3\";*OPC?"), "1");
  EXPECT_EQ(First->Serial(), QStringLiteral("SN-3"));
  EXPECT_EQ(Second->Serial(), QStringLiteral("SN-2"));
  // Shown by another session: A talks to that one, and no session changes.
  EXPECT_EQ(A.Ask("SYST:DEV \"SN-2\";*OPC?"), "1");
  EXPECT_EQ(A.Ask("SYST:DEV?"), "\"SN-2\"");
  EXPECT_EQ(First->Serial(), QStringLiteral("SN-3"));
  EXPECT_EQ(A.Ask("SYST:ERR?").substr(0, 2), "0,");
}

TEST_F(RemoteRoutingTest, AClientOfAClosedSessionHearsItsRequestDroppedAndFallsBackToTheFirst) {
  // B's bath stops answering; its request waits in the queue when the window closes.
  Baths[1]->DropNextAnswers(1000);
  B.Send("MEAS:TEMP?");
  ASSERT_TRUE(WaitFor([this] { return !Second->Requests().Requests().empty(); }));
  delete Second;
  EXPECT_EQ(B.Read(), "9.91E37");
  EXPECT_EQ(B.Ask("SYST:ERR?").substr(0, 5), "-240,");
  EXPECT_EQ(B.Ask("SYST:DEV?"), "\"SN-1\"");
  EXPECT_EQ(B.Ask("TEMP 22.5;*OPC?"), "1");
  EXPECT_DOUBLE_EQ(First->Setpoint(), 22.5);
}

}  // namespace
}  // namespace calorix
