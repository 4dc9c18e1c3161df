// The headless front end on the manual clock with simulated thermostats: no
// widgets, no display. Every thermostat (or the ones named) gets a session and
// a data file of its own; the files follow the recording and the thermostat.
#include "base/Clock.h"
#include "base/Messages.h"
#include "base/Timer.h"
#include "link/SimHidPlatform.h"
#include "link/SimThermostat.h"
#include "record/DataFile.h"
#include "record/MeasurementFile.h"
#include "record/Sidecar.h"
#include "remote/RemoteServer.h"
#include "service/Headless.h"
#include "station/Services.h"
#include "station/Session.h"
#include "station/Station.h"
#include "tests/support/TestBroker.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QTcpSocket>
#include <QTemporaryDir>

namespace calorix {
namespace {

class HeadlessTest : public ::testing::Test {
 protected:
  HeadlessTest() { TTimer::SetManualMode(true); }
  ~HeadlessTest() override {
    Headless.reset();
    TTimer::SetManualMode(false);
  }

  std::shared_ptr<TSimThermostat> Plug(const char* serial) {
    TSimThermostatOptions bath;
    bath.Serial = serial;
    bath.Setpoint = bath.Temperature = 20.0;  // every reading is 20.00
    bath.Noise = 0.0;
    return Sim->Plug(bath);
  }
  // Starts the program with this settings file text ("%1": the data folder).
  void Start(const QString& ini, const QStringList& named = {}) {
    IniText = ini.arg(Dir.filePath(QStringLiteral("data"))).toUtf8();
    QFile f(Dir.filePath(QStringLiteral("calorix.ini")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(IniText);
    f.close();
    auto sim = std::make_unique<TSimHidPlatform>(std::shared_ptr<IClock>(&Clock, [](IClock*) {}));
    Sim = sim.get();
    First = Plug("SN-1");
    Second = Plug("SN-2");
    THeadlessOptions o;
    o.Clock = &Clock;
    o.IniFileName = f.fileName();
    o.Thermostats = named;
    o.Remote = Remote;
    o.Mqtt = Mqtt;
    o.UtcNow = [] { return QDateTime(QDate(2026, 12, 9), QTime(10, 0), Qt::UTC); };
    o.Log = [this](const QString& line) { Log << line; };
    Headless = std::make_unique<THeadless>(std::move(o), std::move(sim));
    bool ready = false;
    QObject::connect(Headless.get(), &THeadless::Ready, [&ready] { ready = true; });
    Headless->Start();
    ASSERT_TRUE(test::WaitForEvent([&] { return ready; }));
  }
  TThermostatSession* Session(const char* serial) const {
    return Headless->Station().SessionFor(QString::fromLatin1(serial));
  }
  bool Idle() {
    return test::WaitForEvent([&] {
      for (TThermostatSession* s : Headless->Sessions()) {
        if (!s->Device() || !s->Requests().Requests().empty())
          return false;
      }
      return true;
    });
  }
  bool Poll() {
    Clock.AdvanceSeconds(1);
    for (TThermostatSession* s : Headless->Sessions())
      s->PollTimer()->Fire();
    return Idle();
  }
  // The samples of a data file, read back as "Открыть" reads it.
  std::vector<TFileSample> Samples(const QString& path) const {
    const TFormatSettings local = TFormatSettings::FromLocale(QLocale::system());
    const TMeasurementFileResult r =
        ReadMeasurementFile(path, local, local.WithDecimal('.'), local.WithDecimal(','));
    EXPECT_TRUE(r.Ok) << r.Error.toStdString();
    EXPECT_EQ(r.SkippedLines, 0);
    return r.Samples;
  }
  QString File(const char* serial, const char* suffix = "") const {
    return Dir.filePath(QStringLiteral("data/%1/%1_20261209-100000%2.csv")
                            .arg(QLatin1String(serial), QLatin1String(suffix)));
  }

  QTemporaryDir Dir;
  TManualClock Clock;
  TSimHidPlatform* Sim = nullptr;
  std::shared_ptr<TSimThermostat> First, Second;
  std::unique_ptr<THeadless> Headless;
  QStringList Log;
  QByteArray IniText;
  std::optional<TEndpoint> Remote, Mqtt;  // the services of the next Start
};

TEST_F(HeadlessTest, RunsWithoutAnyGuiApplication) {
  EXPECT_FALSE(QCoreApplication::instance()->inherits("QGuiApplication"));
}

// Every thermostat found, one that arrives later too, or the ones named only.
TEST_F(HeadlessTest, TakesTheThermostatsItIsToldOf) {
  const struct {
    const char* Ini;
    QStringList Named;
    QStringList Expected;  // serials with a session once SN-3 has arrived
  } cases[] = {
      {"[Headless]\nDataFolder=%1\n", {}, {"SN-1", "SN-2", "SN-3"}},
      {"[Headless]\nDataFolder=%1\nThermostats= SN-3, SN-2\n", {}, {"SN-3", "SN-2"}},
      {"[Headless]\nDataFolder=%1\nThermostats=SN-2\n", {"SN-1"}, {"SN-1"}},  // the option wins
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Ini);
    Start(QString::fromLatin1(c.Ini), c.Named);
    Plug("SN-3");
    ASSERT_TRUE(test::WaitForEvent([&] { return Headless->Station().Devices().size() == 3; }));
    ASSERT_TRUE(Idle());
    QStringList serials;
    for (TThermostatSession* s : Headless->Sessions()) {
      serials << s->BoundSerial();
      EXPECT_TRUE(s->Recording());
    }
    EXPECT_EQ(serials, c.Expected);
    Headless.reset();
  }
}

// Each raise, acknowledgement and clearing of an alarm: a line naming the thermostat.
TEST_F(HeadlessTest, LogsEveryChangeOfAnAlarm) {
  Start(QStringLiteral("[Headless]\nDataFolder=%1\n"));
  ASSERT_TRUE(Idle());
  First->SetAlarm("000001");
  ASSERT_TRUE(Poll());
  Session("SN-1")->AcknowledgeAlarms();
  First->SetAlarm("000000");
  ASSERT_TRUE(Poll());
  const QString what = LoadStr(1145).arg(LoadStr(1022));  // the protection's overheating
  const QStringList alarms = Log.filter(what);
  ASSERT_EQ(alarms.size(), 3) << Log.join('\n').toStdString();
  const int messages[] = {1141, 1163, 1164};  // raised, acknowledged, cleared
  for (int i = 0; i < 3; ++i)
    EXPECT_TRUE(alarms[i].startsWith(QStringLiteral("SN-1: ") + LoadStr(messages[i]).arg(what)))
        << alarms[i].toStdString();
}

TEST_F(HeadlessTest, RecordsEachThermostatToItsFileAndNeverWritesTheSettings) {
  Start(QStringLiteral("[Headless]\nDataFolder=%1\n"));
  ASSERT_TRUE(Idle());
  for (int i = 0; i < 2; ++i)
    ASSERT_TRUE(Poll());
  EXPECT_FALSE(QFile::exists(File("SN-1")));  // not before the period ends
  for (TThermostatSession* s : Headless->Sessions())
    Headless->DataFileOf(s)->Timer()->Fire();
  for (const char* serial : {"SN-1", "SN-2"}) {
    SCOPED_TRACE(serial);
    const auto samples = Samples(File(serial));
    ASSERT_EQ(samples.size(), 3u);  // the reading at attach, then two polls
    EXPECT_DOUBLE_EQ(samples[2].Time * 86400, 2.0);
    EXPECT_DOUBLE_EQ(samples[2].Value, 20.0);
    // Found, and where its data goes; its recording started by the service.
    const QStringList lines = Log.filter(QStringLiteral("%1: ").arg(QLatin1String(serial)));
    ASSERT_EQ(lines.size(), 2) << Log.join('\n').toStdString();
    EXPECT_TRUE(lines[0].startsWith(QLatin1String(serial)));
    EXPECT_TRUE(lines[0].endsWith(QDir::toNativeSeparators(QFileInfo(File(serial)).path())));
    EXPECT_TRUE(lines[1].contains(LoadStr(1204)) && lines[1].contains(source::kSystem))
        << lines[1].toStdString();
  }
  ASSERT_TRUE(Poll());
  Headless->Stop();  // every file finished without waiting for the period
  EXPECT_EQ(Samples(File("SN-2")).size(), 4u);
  QFile ini(Dir.filePath(QStringLiteral("calorix.ini")));
  ASSERT_TRUE(ini.open(QIODevice::ReadOnly));
  EXPECT_EQ(ini.readAll(), IniText);
}

// RECord:STATe OFF finishes the file, ON begins a new one; a thermostat that
// goes away and comes back goes on in its file, the times without a gap.
TEST_F(HeadlessTest, FollowsTheRecordingAndTheThermostat) {
  Start(QStringLiteral("[Headless]\nDataFolder=%1\n"));
  ASSERT_TRUE(Idle());
  TThermostatSession* s = Session("SN-1");
  ASSERT_TRUE(Poll());
  Sim->Unplug(First);
  ASSERT_TRUE(test::WaitForEvent([&] { return !s->Device(); }));
  EXPECT_FALSE(s->Recording());
  Clock.AdvanceSeconds(60);
  First = Plug("SN-1");
  ASSERT_TRUE(Idle());
  EXPECT_EQ(Session("SN-1"), s);
  EXPECT_TRUE(s->Recording());
  ASSERT_TRUE(Poll());

  s->StopRecording();                           // what RECord:STATe OFF does
  EXPECT_EQ(Samples(File("SN-1")).size(), 4u);  // finished: on the disk now
  ASSERT_TRUE(Poll());
  s->StartRecording();  // ON
  ASSERT_TRUE(Poll());
  Headless->Stop();
  const auto before = Samples(File("SN-1"));
  const auto after = Samples(File("SN-1", "-2"));  // the same second of the wall clock
  ASSERT_EQ(before.size(), 4u);
  ASSERT_EQ(after.size(), 1u);
  // The record's times: no gap for the minute away, nor for the pause.
  EXPECT_DOUBLE_EQ(before[3].Time * 86400, 2.0);
  EXPECT_DOUBLE_EQ(after[0].Time * 86400, 3.0);
  EXPECT_EQ(Samples(File("SN-2")).size(), 5u);  // the other went on all along
}

// A data folder that cannot be made (its parent is a regular file): one line
// per thermostat, polling and recording go on, and the end says what was lost.
TEST_F(HeadlessTest, AFolderThatCannotBeWrittenIsSaidOnceAndPollingGoesOn) {
  QFile blocker(Dir.filePath(QStringLiteral("data")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  Start(QStringLiteral("[Headless]\nDataFolder=%1/sub\n"));
  ASSERT_TRUE(Idle());
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(Poll());
    for (TThermostatSession* s : Headless->Sessions())
      Headless->DataFileOf(s)->Timer()->Fire();
  }
  const QString refused = LoadStr(1180).section(QLatin1Char(' '), 0, 2);  // its first words
  EXPECT_EQ(Log.filter(QStringLiteral("SN-1: ") + refused).size(), 1)
      << Log.join('\n').toStdString();
  EXPECT_EQ(Log.filter(QStringLiteral("SN-2: ") + refused).size(), 1);
  EXPECT_EQ(Session("SN-1")->Record().Count(), 3u);  // polled and recorded all along
  EXPECT_TRUE(Headless->DataFileOf(Session("SN-1"))->Failed());
  Headless->Stop();
  EXPECT_EQ(Log.filter(LoadStr(1187).arg(3).section(QLatin1Char('('), 0, 0)).size(), 2);
}

// The same failure is an alarm for whoever watches from afar: STATus:ALARm?
// and the retained alarm topic name it until the file is written again; the
// log keeps the file's own lines for it.
TEST_F(HeadlessTest, AFileThatCannotBeWrittenIsAnAlarmForClientsAndTheBroker) {
  if (!test::TTestBroker::Available() || !test::TTestSubscriber::Available())
    GTEST_SKIP() << "mosquitto or its clients are not installed";
  test::TTestBroker broker(true);
  ASSERT_TRUE(broker.Error().isEmpty()) << broker.Error().toStdString();
  test::TTestSubscriber lab(broker.Port(), QStringLiteral("calorix/SN-1/alarm"));
  QFile blocker(Dir.filePath(QStringLiteral("data")));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  Remote = TEndpoint{QStringLiteral("127.0.0.1"), 0};
  Mqtt = TEndpoint{QStringLiteral("127.0.0.1"), std::uint16_t(broker.Port())};
  Start(QStringLiteral("[Headless]\nDataFolder=%1/sub\nThermostats=SN-1\n"));
  ASSERT_TRUE(Idle());
  QTcpSocket client;
  client.connectToHost(QStringLiteral("127.0.0.1"),
                       Headless->Services()->Remote().Server()->Port());
  const auto ask = [&](const char* line) {
    client.write(QByteArray(line) + '\n');
    EXPECT_TRUE(test::WaitForEvent([&] { return client.canReadLine(); })) << line;
    return client.readLine().trimmed().toStdString();
  };
  // The alarm topic's last message, with these codes active and unacknowledged.
  const auto published = [&](const char* active, const char* unacknowledged) {
    const QString payload = QStringLiteral(R"({"active": [%1], "unacknowledged": [%2], "since": )")
                                .arg(QLatin1String(active), QLatin1String(unacknowledged));
    return test::WaitForEvent([&] {
      const QStringList lines = lab.Lines();
      return !lines.isEmpty() && lines.last().contains(payload);
    });
  };
  TDataFile* file = Headless->DataFileOf(Session("SN-1"));
  EXPECT_EQ(ask("STAT:ALAR?"), "\"\"");

  file->Timer()->Fire();
  EXPECT_EQ(ask("STAT:ALAR?"), "\"datafile\"");
  EXPECT_TRUE(published(R"("datafile")", R"("datafile")")) << lab.Lines().join('\n').toStdString();
  ASSERT_TRUE(blocker.remove());
  file->Timer()->Fire();
  EXPECT_FALSE(file->Failed());
  EXPECT_EQ(ask("STAT:ALAR?;STAT:ALAR:UNACK?"), "\"\";\"datafile\"");
  EXPECT_TRUE(published("", R"("datafile")")) << lab.Lines().join('\n').toStdString();
  // The file's own lines say it, with the reason: the alarm adds none.
  EXPECT_EQ(Log.filter(AlarmText(TAlarmCode::DataFile, 0)).size(), 0)
      << Log.join('\n').toStdString();
  const QString again = LoadStr(1181).section(QStringLiteral("%1"), 1);  // after the path
  EXPECT_EQ(Log.filter(again).size(), 1) << Log.join('\n').toStdString();
}

// A temperature program the last run left running (here paused by the bath,
// said in one line) is told at the next start, with its thermostat, and not
// continued.
TEST_F(HeadlessTest, AnInterruptedProgramIsToldAtTheNextStartAndNotContinued) {
  const QString ini = QStringLiteral("[Headless]\nDataFolder=%1\n");
  Start(ini);
  ASSERT_TRUE(Idle());
  TProgram program;
  program.Name = QStringLiteral("Отжиг");
  TProgramStep set, hold;
  set.Type = TStepType::Set;
  set.Setpoint = 30.0;
  hold.Type = TStepType::Hold;
  hold.Seconds = 3600.0;
  program.Steps = {set, hold};
  TThermostatSession* s = Session("SN-2");
  s->SetProgram(program);
  QString error;
  ASSERT_TRUE(s->RunProgram(&error)) << error.toStdString();
  ASSERT_TRUE(Idle());
  for (int i = 0; i < 3 && s->ProgramStep() < 2; ++i) {
    s->ProgramTimer()->Fire();
    ASSERT_TRUE(Poll());
  }
  ASSERT_EQ(s->ProgramStep(), 2);
  Second->SetAlarm("000001");
  ASSERT_TRUE(Poll());
  ASSERT_EQ(s->ProgramState(), TProgramState::Paused);
  EXPECT_EQ(Log.filter(s->Runner().CauseText()).size(), 1) << Log.join('\n').toStdString();
  Headless.reset();  // a kill or a power cut: the program never ends

  Log.clear();
  Start(ini);
  ASSERT_TRUE(Idle());
  const QString told = QStringLiteral("SN-2: ") + LoadStr(1062).arg(program.Name).arg(2).arg(2);
  EXPECT_EQ(Log.filter(program.Name), QStringList{told}) << Log.join('\n').toStdString();
  for (TThermostatSession* session : Headless->Sessions())
    EXPECT_EQ(session->ProgramState(), TProgramState::Stopped);
  // Told once: the note is gone, and a third start says nothing of it.
  Headless.reset();
  Log.clear();
  Start(ini);
  EXPECT_TRUE(Log.filter(program.Name).isEmpty()) << Log.join('\n').toStdString();
}

// Every event is one log line with its source, and goes into the metadata file
// beside the data file that was current then: rewritten at each event without
// a checksum, and with the SHA-256 of the file's bytes once the file is done
// (a new day's file begun, the end of the run).
TEST_F(HeadlessTest, KeepsTheEventsOfEachFileBesideItAndItsChecksumOnceDone) {
  Start(QStringLiteral("[Headless]\nDataFolder=%1\nThermostats=SN-1\n"));
  ASSERT_TRUE(Idle());
  TThermostatSession* s = Session("SN-1");
  TDataFile* file = Headless->DataFileOf(s);
  file->Timer()->Fire();
  const auto raw = [](const QString& csv) {
    QFile f(SidecarPath(csv));
    return f.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(f.readAll()).object()
                                       : QJsonObject();
  };
  const auto texts = [](const QString& csv) {
    QStringList out;
    for (const TEvent& e : ReadSidecar(csv).Meta.Events)
      out << e.Text;
    return out;
  };
  const auto sha = [](const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly)
               ? QString::fromLatin1(
                     QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256).toHex())
               : QStringLiteral("(unreadable)");
  };
  const QString first = File("SN-1");
  // Made with the file: what happened before its first sample is its own.
  ASSERT_TRUE(raw(first).contains(QStringLiteral("csv_sha256")));
  EXPECT_TRUE(raw(first).value(QStringLiteral("csv_sha256")).isNull());
  EXPECT_TRUE(texts(first).contains(LoadStr(1204))) << texts(first).join('|').toStdString();

  const QString peer = source::Remote(QStringLiteral("127.0.0.1:5000"));
  {
    const TThermostatSession::TActing client(*s, peer);
    s->LogEvent(TEventKind::SettingChanged, QStringLiteral("Порт 5025"));
  }
  EXPECT_EQ(texts(first).last(), QStringLiteral("Порт 5025"));  // at once, not at the period
  EXPECT_TRUE(raw(first).value(QStringLiteral("csv_sha256")).isNull());
  const QStringList lines = Log.filter(QStringLiteral("Порт 5025"));
  ASSERT_EQ(lines.size(), 1) << Log.join('\n').toStdString();
  EXPECT_TRUE(lines[0].startsWith(QStringLiteral("SN-1: Порт 5025")));
  EXPECT_TRUE(lines[0].contains(peer));

  // A day of record later the next file begins; the first one is done.
  Clock.AdvanceSeconds(86400);
  ASSERT_TRUE(Poll());
  s->LogEvent(TEventKind::SettingChanged, QStringLiteral("Второй день"));
  file->Timer()->Fire();
  const QString second = File("SN-1", "-2");
  ASSERT_TRUE(QFile::exists(second));
  EXPECT_EQ(raw(first).value(QStringLiteral("csv_sha256")).toString(), sha(first));
  EXPECT_EQ(raw(first).value(QStringLiteral("samples")).toInt(), 1);
  EXPECT_FALSE(texts(first).contains(QStringLiteral("Второй день")));
  EXPECT_TRUE(texts(second).contains(QStringLiteral("Второй день")));
  EXPECT_FALSE(texts(second).contains(QStringLiteral("Порт 5025")));
  EXPECT_TRUE(raw(second).value(QStringLiteral("csv_sha256")).isNull());

  ASSERT_TRUE(Poll());
  Headless->Stop();
  EXPECT_EQ(raw(second).value(QStringLiteral("csv_sha256")).toString(), sha(second));
  EXPECT_EQ(raw(second).value(QStringLiteral("samples")).toInt(), 2);
  EXPECT_TRUE(ReadSidecar(second).ChecksumMatches);
}

}  // namespace
}  // namespace calorix
