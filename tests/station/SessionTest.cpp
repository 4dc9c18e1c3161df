// The thermostat session without any window: QCoreApplication only, a
// simulated thermostat found by the station, manual timers and clock.
#include "base/Clock.h"
#include "base/Messages.h"
#include "base/Timer.h"
#include "link/Hid.h"
#include "link/SimHidPlatform.h"
#include "link/SimThermostat.h"
#include "program/Program.h"
#include "record/EventJournal.h"
#include "record/Journal.h"
#include "record/MeasurementFile.h"
#include "station/Session.h"
#include "station/Station.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QThread>

namespace calorix {
namespace {

bool WaitFor(const std::function<bool()>& cond) {
  return test::WaitForEvent(cond);
}

class SessionTest : public ::testing::Test {
 protected:
  SessionTest() {
    TTimer::SetManualMode(true);
    auto sim = std::make_unique<TSimHidPlatform>(std::shared_ptr<IClock>(&Clock, [](IClock*) {}));
    Sim = sim.get();
    TSimThermostatOptions bath;
    bath.Serial = "SN-1";
    bath.Setpoint = 20.0;  // a bath that stays where it is: every reading is 20.00
    bath.Temperature = 20.0;
    bath.Noise = 0.0;
    Thermostat = Sim->Plug(bath);
    Station = std::make_unique<TStation>(std::move(sim));
    Station->SetProductPattern(QStringLiteral("thermostat|(usb.{0,}adapter)"));
    TSessionOptions options;
    options.Clock = &Clock;
    options.JournalFolder = Dir.filePath(QStringLiteral("state"));
    Session = new TThermostatSession(std::move(options), Station.get());
    Station->AddSession(Session);
  }
  ~SessionTest() override { TTimer::SetManualMode(false); }

  bool Idle() {
    return WaitFor([&] { return Session->Device() && Session->Requests().Requests().empty(); });
  }
  // One poll period: the clock moves on and the poll tick runs.
  bool Poll() {
    Clock.AdvanceSeconds(1);
    Session->PollTimer()->Fire();
    return Idle();
  }

  QTemporaryDir Dir;
  TManualClock Clock;
  TSimHidPlatform* Sim = nullptr;
  std::shared_ptr<TSimThermostat> Thermostat;
  std::unique_ptr<TStation> Station;
  TThermostatSession* Session = nullptr;  // the station's child
};

TEST_F(SessionTest, RunsWithoutAnyGuiApplication) {
  EXPECT_FALSE(QCoreApplication::instance()->inherits("QGuiApplication"));
}

TEST_F(SessionTest, TakesTheThermostatFoundAndPollsIt) {
  QSignalSpy temperatures(Session, &TThermostatSession::TemperatureRead);
  ASSERT_TRUE(Idle());
  EXPECT_EQ(Session->Device()->SerialNumber(), QStringLiteral("SN-1"));
  ASSERT_TRUE(Poll());
  ASSERT_EQ(temperatures.count(), 2);  // the first reading at attach, then the poll's
  EXPECT_DOUBLE_EQ(temperatures.last().at(0).toDouble(), 20.0);
  EXPECT_DOUBLE_EQ(Session->Setpoint(), 20.0);
  EXPECT_DOUBLE_EQ(Session->ReadyBand(), 0.1);
  EXPECT_EQ(Session->Protection(), 0);
  ASSERT_TRUE(Session->TimeInBand());
  EXPECT_DOUBLE_EQ(*Session->TimeInBand() * 86400, 1.0);  // in band since the first reading

  // Unplugged: the session lets it go and polls nothing.
  QSignalSpy detached(Session, &TThermostatSession::Detached);
  Sim->Unplug(Thermostat);
  ASSERT_TRUE(WaitFor([&] { return detached.count() == 1; }));
  EXPECT_EQ(Session->Device(), nullptr);
  EXPECT_FALSE(Session->PollTimer()->Enabled());
}

TEST_F(SessionTest, WritesASetpointAndReadsItBack) {
  ASSERT_TRUE(Idle());
  QSignalSpy read(Session, &TThermostatSession::SetpointRead);
  Session->WriteSetpoint(QStringLiteral(" 37,5 "));
  ASSERT_TRUE(WaitFor([&] { return read.count() == 1; }));
  EXPECT_DOUBLE_EQ(read.at(0).at(0).toDouble(), 37.5);
  EXPECT_DOUBLE_EQ(Thermostat->Setpoint(), 37.5);
}

// Errors leave the session as a signal, whatever raised them.
TEST_F(SessionTest, ReportsErrorsThroughItsSignal) {
  ASSERT_TRUE(Idle());
  const struct {
    const char* Text;
    int Message;  // the message the error carries
  } cases[] = {
      {"400", 1018},  // the thermostat answers "value out of range"
      {"abc", 1013},  // not a number: refused before anything is written
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    QSignalSpy errors(Session, &TThermostatSession::ErrorRaised);
    Session->WriteSetpoint(QString::fromLatin1(c.Text));
    ASSERT_TRUE(WaitFor([&] { return !errors.isEmpty() && Idle(); }));
    ASSERT_EQ(errors.count(), 1);
    EXPECT_TRUE(errors.at(0).at(0).toString().contains(LoadStr(c.Message)))
        << errors.at(0).at(0).toString().toStdString();
  }
  EXPECT_DOUBLE_EQ(Thermostat->Setpoint(), 20.0);
}

TEST_F(SessionTest, RecordsAndSavesWhatItPolled) {
  ASSERT_TRUE(Idle());
  Session->StartRecording();
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(Poll());
  ASSERT_EQ(Session->Record().Count(), 3u);
  EXPECT_TRUE(Session->Modified());

  const QString path = Dir.filePath(QStringLiteral("run.csv"));
  EXPECT_EQ(Session->SaveRecordTo(path), QString());
  EXPECT_FALSE(Session->Modified());
  const TMeasurementFileResult file = ReadMeasurementFile(
      path, Session->LocalFormat(), Session->DotFormat(), Session->CommaFormat());
  ASSERT_TRUE(file.Ok) << file.Error.toStdString();
  ASSERT_EQ(file.Samples.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_NEAR(file.Samples[i].Time * 86400, double(i + 1), 1e-6);  // one sample a second
    EXPECT_DOUBLE_EQ(file.Samples[i].Value, 20.0);
  }

  // Stopped: the next polls add nothing; cleared: nothing is left to save.
  Session->StopRecording();
  ASSERT_TRUE(Poll());
  EXPECT_EQ(Session->Record().Count(), 3u);
  Session->ClearRecord();
  EXPECT_EQ(Session->Record().Count(), 0u);
  EXPECT_FALSE(Session->Modified());
}

TEST_F(SessionTest, RunsAProgramToItsEnd) {
  ASSERT_TRUE(Idle());
  TProgram program;
  program.Name = QStringLiteral("P");
  TProgramStep set, hold;
  set.Type = TStepType::Set;
  set.Setpoint = 30.0;
  hold.Type = TStepType::Hold;
  hold.Seconds = 2.0;
  program.Steps = {set, hold};
  program.End = 25.0;
  Session->SetProgram(program);
  QString error;
  ASSERT_TRUE(Session->RunProgram(&error)) << error.toStdString();
  EXPECT_EQ(Session->ProgramState(), TProgramState::Running);
  EXPECT_TRUE(Session->Recording());  // a program records what it does
  ASSERT_TRUE(Idle());
  EXPECT_DOUBLE_EQ(Thermostat->Setpoint(), 30.0);
  for (int i = 0; i < 10 && Session->ProgramState() != TProgramState::Stopped; ++i) {
    Session->ProgramTimer()->Fire();
    ASSERT_TRUE(Poll());
    ASSERT_TRUE(WaitFor([&] { return Session->Requests().Requests().empty(); }));
  }
  EXPECT_EQ(Session->ProgramState(), TProgramState::Stopped);
  EXPECT_TRUE(Session->Runner().Finished());
  ASSERT_TRUE(Idle());
  EXPECT_DOUBLE_EQ(Thermostat->Setpoint(), 25.0);  // the end setpoint

  // The log: started by the user, each step and the end the program's own.
  std::vector<std::pair<TEventKind, QString>> logged;
  for (const TEvent& e : Session->Events()) {
    if (e.Kind >= TEventKind::ProgramLoaded && e.Kind <= TEventKind::ProgramStep)
      logged.emplace_back(e.Kind, e.Source);
  }
  const std::vector<std::pair<TEventKind, QString>> expected = {
      {TEventKind::ProgramStarted, source::kUser},
      {TEventKind::ProgramStep, source::kProgram},
      {TEventKind::ProgramStep, source::kProgram},
      {TEventKind::ProgramFinished, source::kProgram}};
  EXPECT_EQ(logged, expected);
  std::vector<std::pair<double, QString>> written;
  for (const TEvent& e : Session->Events()) {
    if (e.Kind == TEventKind::SetpointWritten)
      written.emplace_back(e.Values.value(QStringLiteral("new")).toDouble(), e.Source);
  }
  const std::vector<std::pair<double, QString>> setpoints = {{30.0, source::kProgram},
                                                             {25.0, source::kProgram}};
  EXPECT_EQ(written, setpoints);
}

// The event log: what the session did, who caused it, with the wall clock and
// the record's elapsed time; saved beside the measurement file with the run's
// metadata, brought back when the file is opened, and a file changed since
// told by its checksum.
TEST_F(SessionTest, LogsWhatHappensAndKeepsItBesideTheFile) {
  constexpr qint64 kBase = 1'796'000'000'000;  // the wall clock when the test starts
  Session->SetUtcBase(kBase);
  ASSERT_TRUE(Idle());
  Clock.AdvanceSeconds(1);
  Session->StartRecording();
  ASSERT_TRUE(Poll());
  Thermostat->SetAlarm("000001");  // overheating
  ASSERT_TRUE(Poll());
  {
    const TThermostatSession::TActing client(*Session,
                                             source::Remote(QStringLiteral("127.0.0.1:5000")));
    Session->StopRecording();
  }
  const QString path = Dir.filePath(QStringLiteral("run.csv"));
  ASSERT_EQ(Session->SaveRecordTo(path), QString());

  const struct {
    TEventKind Kind;
    QString Source;
    qint64 UtcMs;
    std::optional<double> ElapsedSeconds;
  } expected[] = {
      {TEventKind::ThermostatArrived, source::kSystem, kBase, std::nullopt},
      {TEventKind::ThermostatSelected, source::kSystem, kBase, std::nullopt},
      {TEventKind::RecordingStarted, source::kUser, kBase + 1000, 0.0},
      {TEventKind::ProtectionChanged, source::kSystem, kBase + 3000, 2.0},
      {TEventKind::AlarmRaised, source::kSystem, kBase + 3000, 2.0},
      {TEventKind::RecordingStopped, QStringLiteral("remote 127.0.0.1:5000"), kBase + 3000, 2.0},
      {TEventKind::RecordSaved, source::kUser, kBase + 3000, std::nullopt},
  };
  const std::vector<TEvent>& events = Session->Events();
  ASSERT_EQ(events.size(), std::size(expected));
  for (std::size_t i = 0; i < events.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(events[i].Kind, expected[i].Kind);
    EXPECT_EQ(events[i].Source, expected[i].Source);
    EXPECT_EQ(events[i].UtcMs, expected[i].UtcMs);
    EXPECT_EQ(events[i].Serial, QStringLiteral("SN-1"));
    ASSERT_EQ(events[i].Elapsed.has_value(), expected[i].ElapsedSeconds.has_value());
    if (events[i].Elapsed) {
      EXPECT_NEAR(*events[i].Elapsed * 86400.0, *expected[i].ElapsedSeconds, 1e-6);
    }
  }
  EXPECT_EQ(events[3].Values.value(QStringLiteral("new")).toInt(), 1);
  EXPECT_EQ(events[6].Values.value(QStringLiteral("file")).toString(), path);

  // The sidecar: the thermostat, the first sample's wall clock, every event,
  // and the checksum of the file's bytes.
  const TSidecarRead read = ReadSidecar(path);
  ASSERT_EQ(read.State, TSidecarRead::TState::Ok) << read.Error.toStdString();
  EXPECT_TRUE(read.ChecksumMatches);
  EXPECT_EQ(read.Meta.Serial, QStringLiteral("SN-1"));
  EXPECT_EQ(read.Meta.StartUtcMs, kBase + 2000);  // the first sample, a poll after the start
  EXPECT_EQ(read.Meta.Samples, 2);
  EXPECT_EQ(read.Meta.PollMs, 1000);
  EXPECT_EQ(read.Meta.Events.size(), events.size());

  // Opened again: the file's events come back, and the opening is logged.
  const std::vector<TEvent> saved = events;
  Session->ClearRecord();
  EXPECT_EQ(Session->Events().size(), 1u);  // the new record's own log: cleared
  const TFormatSettings local = TFormatSettings::FromLocale(QLocale::system());
  auto open = [&] {
    const TMeasurementFileResult file =
        ReadMeasurementFile(path, local, local.WithDecimal('.'), local.WithDecimal(','));
    ASSERT_TRUE(file.Ok);
    Session->OpenRecord(file.Samples, path);
  };
  open();
  ASSERT_EQ(Session->Events().size(), saved.size() + 1);
  // As the file keeps them: elapsed times to the millisecond.
  for (std::size_t i = 0; i < saved.size(); ++i)
    EXPECT_EQ(EventToJson(Session->Events()[i]), EventToJson(saved[i])) << i;
  EXPECT_EQ(Session->Events().back().Kind, TEventKind::RecordOpened);

  // A value changed since it was written: the file opens, the log and the status say so.
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadWrite));
  QByteArray bytes = file.readAll();
  bytes.replace("20", "21");
  file.seek(0);
  file.write(bytes);
  file.close();
  QSignalSpy status(Session, &TThermostatSession::StatusMessage);
  open();
  EXPECT_EQ(Session->Record().Count(), 2u);
  ASSERT_EQ(status.count(), 1);
  EXPECT_EQ(status.at(0).at(0).toString(), LoadStr(1210));
  const auto changed = std::find_if(Session->Events().begin(), Session->Events().end(),
                                    [](const TEvent& e) { return e.Text == LoadStr(1210); });
  EXPECT_NE(changed, Session->Events().end());
}

// Whoever acts, the log puts the event down to them with its values: a
// person, a script's client, the broker, the bath itself.
TEST_F(SessionTest, PutsEachEventDownToWhoCausedIt) {
  ASSERT_TRUE(Idle());
  const QString client = source::Remote(QStringLiteral("127.0.0.1:5025"));
  // As a client and the broker write: a ticketed write and its read-back.
  auto writeAs = [&](const QString& who, const char* value) {
    const TThermostatSession::TActing acting(*Session, who);
    Session->QueueRequest(rkSetpointWrite,
                          *Session->SetpointWriteRequest(QString::fromLatin1(value)),
                          [](const TRequestDone&) {});
    Session->QueueRequest(rkSetpointRead, std::string(kSetpointReadRequest),
                          [](const TRequestDone&) {});
  };
  auto poll = [&] { ASSERT_TRUE(Poll()); };
  const QString kOld = QStringLiteral("old"), kRequested = QStringLiteral("requested"),
                kNew = QStringLiteral("new"), kAlarm = QStringLiteral("alarm");
  const QJsonObject protection{{kAlarm, QStringLiteral("protection")}};
  const struct {
    const char* What;
    std::function<void()> Act;
    TEventKind Kind;
    QString Source;
    QJsonObject Values;  // those the event carries at least
  } cases[] = {
      {"a person writes",
       [&] { Session->WriteSetpoint(QStringLiteral("25")); },
       TEventKind::SetpointWritten,
       source::kUser,
       {{kOld, 20.0}, {kRequested, 25.0}, {kNew, 25.0}}},
      {"the thermostat refuses",
       [&] { Session->WriteSetpoint(QStringLiteral("400")); },
       TEventKind::SetpointFailed,
       source::kUser,
       {{kOld, 25.0}, {kRequested, 400.0}, {QStringLiteral("status"), 5}}},
      {"a client writes",
       [&] { writeAs(client, "30.5"); },
       TEventKind::SetpointWritten,
       client,
       {{kOld, 25.0}, {kRequested, 30.5}, {kNew, 30.5}}},
      {"the broker writes",
       [&] { writeAs(source::kMqtt, "31"); },
       TEventKind::SetpointWritten,
       source::kMqtt,
       {{kOld, 30.5}, {kRequested, 31.0}, {kNew, 31.0}}},
      {"the bath trips",
       [&] {
         Thermostat->SetAlarm("000001");
         poll();
       },
       TEventKind::AlarmRaised, source::kSystem, protection},
      {"a client acknowledges",
       [&] {
         const TThermostatSession::TActing acting(*Session, client);
         Session->AcknowledgeAlarms();
       },
       TEventKind::AlarmAcknowledged, client, protection},
      {"the bath recovers",
       [&] {
         Thermostat->SetAlarm("000000");
         poll();
       },
       TEventKind::AlarmCleared, source::kSystem, protection},
      {"a setting changes",
       [&] {
         Session->LogSettingChanged(QStringLiteral("Chart/PollTime"), QStringLiteral("1000"),
                                    QStringLiteral("2000"));
       },
       TEventKind::SettingChanged,
       source::kUser,
       {{QStringLiteral("key"), QStringLiteral("Chart/PollTime")},
        {kOld, QStringLiteral("1000")},
        {kNew, QStringLiteral("2000")}}},
      {"it is unplugged",
       [&] {
         Sim->Unplug(Thermostat);
         ASSERT_TRUE(WaitFor([&] { return !Session->Device(); }));
       },
       TEventKind::ThermostatRemoved,
       source::kSystem,
       {}},
      {"a person writes to none",
       [&] { Session->WriteSetpoint(QStringLiteral("22")); },
       TEventKind::SetpointFailed,
       source::kUser,
       {{kRequested, 22.0}, {QStringLiteral("cause"), LoadStr(1222)}}},
      {"it comes back",
       [&] {
         TSimThermostatOptions bath;
         bath.Serial = "SN-1";
         Thermostat = Sim->Plug(bath);
         ASSERT_TRUE(WaitFor([&] { return Session->Device() != nullptr; }));
       },
       TEventKind::ThermostatArrived,
       source::kSystem,
       {{QStringLiteral("serial"), QStringLiteral("SN-1")}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    const std::size_t before = Session->Events().size();
    c.Act();
    ASSERT_TRUE(WaitFor([&] { return Session->Requests().Requests().empty(); }));
    std::vector<TEvent> found;
    for (std::size_t i = before; i < Session->Events().size(); ++i) {
      if (Session->Events()[i].Kind == c.Kind)
        found.push_back(Session->Events()[i]);
    }
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].Source, c.Source);
    for (auto it = c.Values.begin(); it != c.Values.end(); ++it)
      EXPECT_EQ(found[0].Values.value(it.key()), it.value()) << it.key().toStdString();
  }
}

// A record restored after a crash brings back the events logged with it.
TEST_F(SessionTest, ARestoredRecordBringsItsEventsBack) {
  ASSERT_TRUE(Idle());
  Session->StartRecording();
  ASSERT_TRUE(Poll());
  Session->WriteSetpoint(QStringLiteral("25"));
  ASSERT_TRUE(Poll());
  Session->Journal()->Flush();
  const QString journal = Session->Journal()->Path();
  const QString events = Session->Journal()->EventsPath();
  const std::vector<TEvent> logged = Session->Events();
  delete Session;  // as a crash leaves them: the journal and its events stay
  Session = nullptr;
  ASSERT_TRUE(QFile::exists(events));

  TSessionOptions options;
  options.Clock = &Clock;
  options.JournalFolder = Dir.filePath(QStringLiteral("state"));
  options.JournalOwner = QStringLiteral("next");
  Session = new TThermostatSession(std::move(options), Station.get());
  Station->AddSession(Session);
  struct TYes : ISessionQuestions {
    bool Confirm(const QString&) override { return true; }
    void Tell(const QString&) override {}
  } yes;
  Session->RestoreAbandoned(yes);
  ASSERT_EQ(Session->Events().size(), logged.size() + 1);
  for (std::size_t i = 0; i < logged.size(); ++i)
    EXPECT_EQ(EventToJson(Session->Events()[i]), EventToJson(logged[i])) << i;
  EXPECT_EQ(Session->Events().back().Kind, TEventKind::RecordRestored);
  EXPECT_FALSE(QFile::exists(journal));
  EXPECT_FALSE(QFile::exists(events));
  // Kept again, now beside the new owner's journal.
  EXPECT_TRUE(WaitFor([&] {
    return TEventJournal::Read(Session->Journal()->EventsPath()).size() == logged.size() + 1;
  }));
}

}  // namespace
}  // namespace calorix
