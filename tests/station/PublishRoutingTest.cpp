// One broker connection for the station, without any window: every session
// under its own thermostat's serial ("#2" as the station shows it), setpoint
// commands reaching the session of the serial their topic names, and none a
// thermostat that no session shows.
#include "base/Clock.h"
#include "base/Messages.h"
#include "base/Timer.h"
#include "link/Hid.h"
#include "link/SimHidPlatform.h"
#include "link/SimThermostat.h"
#include "station/Publisher.h"
#include "station/Session.h"
#include "station/Station.h"
#include "tests/support/SimStation.h"
#include "tests/support/StderrCapture.h"
#include "tests/support/TestBroker.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

namespace calorix {
namespace {

bool WaitFor(const std::function<bool()>& cond) {
  return test::WaitForEvent(cond);
}

// Another client of the lab, reading everything under the prefix.
class TSubscriber {
 public:
  explicit TSubscriber(int port) {
    FProcess.start(QStandardPaths::findExecutable(QStringLiteral("mosquitto_sub")),
                   {QStringLiteral("-h"), QStringLiteral("127.0.0.1"), QStringLiteral("-p"),
                    QString::number(port), QStringLiteral("-i"), QStringLiteral("routing-sub"),
                    QStringLiteral("-u"), QStringLiteral("lab"), QStringLiteral("-P"),
                    QStringLiteral("secret"), QStringLiteral("-v"), QStringLiteral("-t"),
                    QStringLiteral("lab/#")});
  }
  ~TSubscriber() {
    FProcess.terminate();
    FProcess.waitForFinished();
  }
  // Every "topic payload" line so far.
  const QString& Lines() {
    FLines += QString::fromUtf8(FProcess.readAllStandardOutput());
    return FLines;
  }
  bool Seen(const QString& line) { return Lines().contains(line + QLatin1Char('\n')); }

 private:
  QProcess FProcess;
  QString FLines;
};

TEST(PublishRoutingTest, EachSessionUnderItsOwnSerial) {
  if (!test::TTestBroker::Available() ||
      QStandardPaths::findExecutable(QStringLiteral("mosquitto_sub")).isEmpty())
    GTEST_SKIP() << "mosquitto or its clients are not installed";
  test::TTestBroker broker(false);
  ASSERT_TRUE(broker.Error().isEmpty()) << broker.Error().toStdString();
  TSubscriber lab(broker.Port());
  ASSERT_TRUE(WaitFor([&] { return broker.Log().contains("Received SUBSCRIBE from routing-sub"); }))
      << broker.Log().toStdString();

  TTimer::SetManualMode(true);
  struct TManualOff {
    ~TManualOff() { TTimer::SetManualMode(false); }
  } manualOff;
  TManualClock clock;
  auto sim = std::make_unique<TSimHidPlatform>(std::shared_ptr<IClock>(&clock, [](IClock*) {}));
  TSimHidPlatform& platform = *sim;
  // A, B, and later a second B ("SN-B#2"); each bath stays where it is.
  const auto plug = [&](const char* serial, double t) {
    TSimThermostatOptions bath;
    bath.Serial = serial;
    bath.Setpoint = bath.Temperature = t;
    bath.Noise = 0.0;
    return platform.Plug(bath);
  };
  const auto bathA = plug("SN-A", 21.5);
  const auto bathB = plug("SN-B", 40.0);
  TStation station(std::move(sim));
  station.SetProductPattern(QStringLiteral("thermostat|(usb.{0,}adapter)"));
  const auto open = [&](const QString& serial) {
    TSessionOptions options;
    options.Clock = &clock;
    options.Serial = serial;
    auto* s = new TThermostatSession(std::move(options), &station);
    station.AddSession(s);
    return s;
  };
  const auto idle = [](TThermostatSession* s) {
    return WaitFor([&] { return s->Device() && s->Requests().Requests().empty(); });
  };
  TThermostatSession* first = open(QString());
  ASSERT_TRUE(idle(first));

  // The publisher comes after the first session, as the window makes it, and
  // before the second.
  QTemporaryDir dir;
  TPublishConfig config;
  config.Enabled = true;
  config.Host = QStringLiteral("127.0.0.1");
  config.Port = broker.Port();
  config.Prefix = QStringLiteral("lab");
  config.ClientId = QStringLiteral("routing");
  config.User = QStringLiteral("lab");
  config.PasswordFile = dir.filePath(QStringLiteral("password"));
  config.Commands = true;
  {
    QFile password(config.PasswordFile);
    ASSERT_TRUE(password.open(QIODevice::WriteOnly));
    password.write("secret\n");
    password.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
  }
  test::TStderrCapture errors;
  TSessionPublisher publisher(station, config, std::nullopt);

  const auto twinB = plug("SN-B", 32.25);
  ASSERT_TRUE(WaitFor([&] { return station.Devices().size() == 3; }));
  TThermostatSession* second = open(QStringLiteral("SN-B#2"));
  station.Assign(*second);
  ASSERT_TRUE(idle(second));
  ASSERT_EQ(first->Serial(), QStringLiteral("SN-A"));
  ASSERT_EQ(station.Device(QStringLiteral("SN-B#2"))->SerialNumber(), QStringLiteral("SN-B"));

  // Subscribed before online: commands sent from now on reach the program.
  ASSERT_TRUE(WaitFor([&] {
    return lab.Seen(QStringLiteral("lab/clients/routing/status online"));
  })) << lab.Lines().toStdString();
  for (TThermostatSession* s : {first, second}) {
    s->PollTimer()->Fire();
    ASSERT_TRUE(idle(s));
  }
  for (const char* line : {"lab/SN-A/online 1", "lab/SN-A/temperature 21.50", "lab/SN-B_2/online 1",
                           "lab/SN-B_2/temperature 32.25"})
    EXPECT_TRUE(WaitFor([&] { return lab.Seen(QString::fromLatin1(line)); }))
        << line << "\n"
        << lab.Lines().toStdString();
  EXPECT_FALSE(lab.Lines().contains(QStringLiteral("lab/SN-B/"))) << lab.Lines().toStdString();

  // "SN-B" is plugged in, but no session shows it: ignored, said on standard
  // error. Then a command for the second B reaches its session only.
  ASSERT_TRUE(broker.Publish("lab/SN-B/setpoint/set", "30"));
  EXPECT_TRUE(WaitFor([&] {
    return errors.Text().contains(QStringLiteral("lab/SN-B/setpoint/set: no such thermostat"));
  })) << errors.Text().toStdString();
  ASSERT_TRUE(broker.Publish("lab/SN-B_2/setpoint/set", "33.5"));
  EXPECT_TRUE(WaitFor([&] { return second->Setpoint() == 33.5; }));
  EXPECT_TRUE(idle(first));
  EXPECT_EQ(twinB->Setpoint(), 33.5);
  EXPECT_EQ(bathA->Setpoint(), 21.5);
  EXPECT_EQ(bathB->Setpoint(), 40.0);

  // A session let go: its thermostat is no longer shown there.
  delete second;
  EXPECT_TRUE(WaitFor([&] { return lab.Seen(QStringLiteral("lab/SN-B_2/online 0")); }))
      << lab.Lines().toStdString();
}

// Each event a session logs: one JSON object on <prefix>/<serial>/event, as
// it happens and never retained (a client connecting later gets no old one).
TEST(PublishRoutingTest, EachEventOnceAsJsonNeverRetained) {
  if (!test::TTestBroker::Available() || !test::TTestSubscriber::Available())
    GTEST_SKIP() << "mosquitto or its clients are not installed";
  test::TTestBroker broker(true);
  ASSERT_TRUE(broker.Error().isEmpty()) << broker.Error().toStdString();
  test::TTestSubscriber lab(broker.Port(), QStringLiteral("lab/+/event"));
  ASSERT_TRUE(WaitFor([&] { return broker.Log().contains("Received SUBSCRIBE from test-sub"); }))
      << broker.Log().toStdString();

  test::TSimStation sim({"SN-A"});
  TStation& station = *sim.Station;
  TThermostatSession* session = sim.Open();
  ASSERT_TRUE(WaitFor([&] { return session->Device() && session->Requests().Requests().empty(); }));

  TPublishConfig config;
  config.Enabled = true;
  config.Host = QStringLiteral("127.0.0.1");
  config.Port = broker.Port();
  config.Prefix = QStringLiteral("lab");
  config.ClientId = QStringLiteral("events");
  TSessionPublisher publisher(station, config, std::nullopt);
  const QString connected = LoadStr(1090).arg(config.Host).arg(config.Port);
  ASSERT_TRUE(WaitFor([&] { return publisher.State() == connected; }))
      << broker.Log().toStdString();

  constexpr qint64 kBase = 1'796'000'000'000;
  session->SetUtcBase(kBase);
  {
    const TThermostatSession::TActing client(*session,
                                             source::Remote(QStringLiteral("127.0.0.1:5000")));
    session->LogEvent(
        TEventKind::SettingChanged, QStringLiteral("Порт: 5025"),
        {{QStringLiteral("key"), QStringLiteral("Port")}, {QStringLiteral("new"), 5025}});
  }
  const QString topic = QStringLiteral("lab/SN-A/event ");
  ASSERT_TRUE(WaitFor([&] { return !lab.Lines().isEmpty(); })) << broker.Log().toStdString();
  const QStringList lines = lab.Lines();
  ASSERT_EQ(lines.size(), 1) << lines.join('\n').toStdString();
  ASSERT_TRUE(lines[0].startsWith(topic)) << lines[0].toStdString();
  const QJsonObject event = QJsonDocument::fromJson(lines[0].mid(topic.size()).toUtf8()).object();
  EXPECT_EQ(event.value(QStringLiteral("time")).toString(),
            QStringLiteral("2026-11-30T00:53:20.000Z"));
  EXPECT_TRUE(event.value(QStringLiteral("elapsed")).isNull());  // not recording
  EXPECT_EQ(event.value(QStringLiteral("serial")).toString(), QStringLiteral("SN-A"));
  EXPECT_EQ(event.value(QStringLiteral("kind")).toString(), QStringLiteral("setting"));
  EXPECT_EQ(event.value(QStringLiteral("source")).toString(),
            QStringLiteral("remote 127.0.0.1:5000"));
  EXPECT_EQ(event.value(QStringLiteral("text")).toString(), QStringLiteral("Порт: 5025"));
  EXPECT_EQ(event.value(QStringLiteral("values")).toObject().value(QStringLiteral("new")).toInt(),
            5025);
  // The broker's log shows the retain flag the program sent.
  QString published;
  for (const QString& line : broker.Log().split(QLatin1Char('\n'))) {
    if (line.contains(QStringLiteral("Received PUBLISH from events")) &&
        line.contains(QStringLiteral("'lab/SN-A/event'")))
      published = line;
  }
  EXPECT_TRUE(published.contains(QStringLiteral(", r0,"))) << published.toStdString();
}

}  // namespace
}  // namespace calorix
