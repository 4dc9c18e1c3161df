// The alarms of a bath on the manual clock: a scripted bath's readings against
// the conditions and their delays, the states a person sees, the settings
// file's section and overrides, and the session feeding its watch.
#include "base/Clock.h"
#include "base/IniFile.h"
#include "base/Messages.h"
#include "base/Timer.h"
#include "link/SimHidPlatform.h"
#include "link/SimThermostat.h"
#include "station/Alarms.h"
#include "station/Session.h"
#include "station/Station.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <cmath>
#include <cstring>
#include <limits>

namespace calorix {
namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

// One reading or event of the script, at a time in seconds from the start,
// and the codes active after it.
struct TStep {
  double At;
  // A attach, D detach, T temperature, S setpoint, P protection, O off, K poll
  // tick, F the data file fails (1) or is written again (0)
  char Kind;
  double Value;
  const char* Active;
};

TAlarmSettings Settings(double band, double delay, std::optional<double> high = {},
                        std::optional<double> low = {}) {
  TAlarmSettings s;
  s.Band = band;
  s.DelaySeconds = delay;
  s.High = high;
  s.Low = low;
  return s;
}

void Feed(TAlarmWatch& w, TManualClock& clock, const TStep& s) {
  clock.Set(s.At / 86400.0);
  switch (s.Kind) {
    case 'A':
      w.Attached();
      break;
    case 'D':
      w.Detached();
      break;
    case 'T':
      w.Temperature(s.Value);
      break;
    case 'S':
      w.Setpoint(s.Value);
      break;
    case 'P':
      w.Protection(int(s.Value));
      break;
    case 'O':
      w.SwitchedOff();
      break;
    case 'K':
      w.Tick();
      break;
    case 'F':
      w.DataFile(s.Value != 0);
      break;
  }
}

TEST(AlarmWatch, RaisesEachConditionAfterItsDelayAndNotBefore) {
  const struct {
    const char* Name;
    TAlarmSettings Settings;
    std::vector<TStep> Script;
  } cases[] = {
      {"protection and off at once, cleared by a normal status and a reading",
       Settings(0, 60),
       {{0, 'A', 0, ""},
        {1, 'P', 0b000101, "protection"},
        {2, 'P', 0, ""},
        {3, 'P', 0b1000000, ""},  // a bit without a name reads as normal
        {4, 'O', 0, "off"},
        {5, 'A', 0, ""}}},
      {"lost after 10 s without a temperature at a 1 s poll, not while switched off",
       Settings(0, 60),
       {{0, 'A', 0, ""},
        {1, 'T', 20, ""},
        {10.99, 'K', 0, ""},
        {11, 'K', 0, "lost"},
        {12, 'T', 20, ""},
        {21, 'T', NaN, ""},  // an unreadable temperature counts towards lost
        {22, 'T', NaN, "lost"},
        {23, 'O', 0, "off"},
        {60, 'K', 0, "off"}}},
      {"lost at once when the thermostat goes, until a temperature comes again",
       Settings(0, 60),
       {{0, 'A', 0, ""},
        {1, 'T', 20, ""},
        {2, 'D', 0, "lost"},
        {60, 'K', 0, "lost"},
        {61, 'A', 0, "lost"},
        {62, 'T', 20, ""}}},
      {"deviation armed only once inside the band since the setpoint changed",
       Settings(0.5, 30),
       {{0, 'A', 0, ""},
        {0, 'S', 50, ""},
        {1, 'T', 20, ""},  // heating up: outside, not armed
        {100, 'T', 30, ""},
        {200, 'T', 49.6, ""},  // inside: armed
        {210, 'T', 48, ""},    // outside from here
        {239.9, 'T', 48, ""},
        {240, 'T', 48, "deviation"},
        {241, 'T', 50.5, ""},  // back inside, the edge counts as inside
        {250, 'T', 51, ""},
        {260, 'S', 60, ""},  // a new setpoint disarms: the ramp raises nothing
        {300, 'T', 55, ""},
        {331, 'T', 55, ""},
        {400, 'T', 55, ""},
        {401, 'T', 59.6, ""},
        {402, 'T', 61, ""},
        {411, 'T', 61, ""},
        {421, 'T', 61, ""},
        {430, 'T', 61, ""},
        {431.9, 'T', NaN, ""},  // NaN is never inside: the spell goes on
        {432, 'T', NaN, "deviation"},
        {433, 'T', 60, ""}}},
      {"high and low after the delay, without arming; NaN never inside",
       Settings(0, 10, 80.0, 5.0),
       {{0, 'A', 0, ""},
        {1, 'T', 81, ""},
        {5, 'T', 81, ""},
        {10.9, 'T', NaN, ""},
        {11, 'T', NaN, "high"},
        {12, 'T', 80, ""},  // at the limit is not above it
        {13, 'T', 4, ""},
        {20, 'T', 4.5, ""},
        {23, 'T', 4.9, "low"},
        {24, 'T', 5, ""}}},
      {"no band and no limits: nothing but protection, off and lost",
       Settings(0, 0),
       {{0, 'A', 0, ""},
        {0, 'S', 20, ""},
        {1, 'T', 20, ""},
        {2, 'T', -100, ""},
        {3, 'T', 900, ""}}},
      {"a delay of 0 raises at the first reading outside",
       Settings(1, 0, 30.0),
       {{0, 'A', 0, ""}, {0, 'S', 20, ""}, {1, 'T', 20, ""}, {2, 'T', 31, "deviation,high"}}},
      {"the data file at once, whatever the thermostat does, last in the list",
       Settings(0, 60),
       {{0, 'F', 1, "datafile"},
        {1, 'A', 0, "datafile"},
        {2, 'P', 1, "protection,datafile"},
        {3, 'D', 0, "protection,lost,datafile"},
        {4, 'A', 0, "protection,lost,datafile"},
        {5, 'T', 20, "protection,datafile"},
        {6, 'O', 0, "protection,off,datafile"},
        {7, 'F', 1, "protection,off,datafile"},
        {8, 'F', 0, "protection,off"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TManualClock clock;
    TAlarmWatch w(clock);
    w.SetSettings(c.Settings);
    for (const TStep& s : c.Script) {
      Feed(w, clock, s);
      EXPECT_EQ(w.ActiveCodes().join(QLatin1Char(',')).toStdString(), s.Active)
          << "at " << s.At << " s, " << s.Kind << " " << s.Value;
    }
  }
}

TEST(AlarmWatch, LostWaitsThreePollPeriodsWhenThatIsLonger) {
  TManualClock clock;
  TAlarmWatch w(clock);
  w.SetPollSeconds(5);
  w.Attached();
  clock.AdvanceSeconds(14.9);
  w.Tick();
  EXPECT_FALSE(w.AnyActive());
  clock.AdvanceSeconds(0.1);
  w.Tick();
  EXPECT_EQ(w.ActiveCodes(), QStringList{QStringLiteral("lost")});
}

// Raised, acknowledged, cleared: an alarm leaves the list once it is both.
TEST(AlarmWatch, StatesFollowAcknowledgementAndClearing) {
  const QDateTime start =
      QDateTime::fromString(QStringLiteral("2026-03-01T03:12:40Z"), Qt::ISODate);
  const struct {
    const char* Name;
    const char* Script;  // r raise, c clear, a acknowledge; one step per second
    const char* Active;
    const char* Unacknowledged;
    const char* Events;  // what the last step told
  } cases[] = {
      {"raised", "r", "protection", "protection", "R"},
      {"acknowledged while active stays", "ra", "protection", "", "A"},
      {"acknowledged, then cleared, leaves", "rac", "", "", "C"},
      {"cleared unacknowledged stays for the morning", "rc", "", "protection", "C"},
      {"then acknowledged, leaves", "rca", "", "", "A"},
      {"back before acknowledged: raised anew", "rcr", "protection", "protection", "R"},
      {"back after it left: raised anew", "racr", "protection", "protection", "R"},
      {"acknowledging twice tells once", "raa", "protection", "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TManualClock clock;
    TAlarmWatch w(clock);
    w.SetUtcBase(start, 0.0);
    std::vector<TAlarmChange> last;
    for (const char* p = c.Script; *p; ++p) {
      clock.AdvanceSeconds(1);
      if (*p == 'r')
        w.Protection(1);
      else if (*p == 'c')
        w.Protection(0);
      else
        w.Acknowledge();
      last = w.TakeChanges();
    }
    EXPECT_EQ(w.ActiveCodes().join(QLatin1Char(',')).toStdString(), c.Active);
    EXPECT_EQ(w.UnacknowledgedCodes().join(QLatin1Char(',')).toStdString(), c.Unacknowledged);
    std::string events;
    for (const TAlarmChange& e : last) {
      events += "RAC"[int(e.Event)];
      // Every change carries the UTC time of the step that made it.
      EXPECT_EQ(e.Utc, start.addSecs(qint64(std::strlen(c.Script))));
      EXPECT_EQ(e.Utc.timeSpec(), Qt::UTC);
    }
    EXPECT_EQ(events, c.Events);
    EXPECT_EQ(w.Any(), *c.Active || *c.Unacknowledged);
  }
}

TEST(AlarmWatch, ListsEachAlarmWithItsTimesAndTheOldestRaise) {
  TManualClock clock;
  TAlarmWatch w(clock);
  const QDateTime start =
      QDateTime::fromString(QStringLiteral("2026-03-01T03:12:40Z"), Qt::ISODate);
  w.SetUtcBase(start, 0.0);
  w.Attached();
  clock.AdvanceSeconds(2);
  w.Protection(0b11);
  clock.AdvanceSeconds(3);
  w.Detached();
  clock.AdvanceSeconds(4);
  w.Protection(0);
  const std::vector<TAlarm> list = w.List();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].Code, TAlarmCode::Protection);
  EXPECT_EQ(list[0].Detail, 0b11);
  EXPECT_EQ(list[0].Raised, start.addSecs(2));
  EXPECT_EQ(list[0].Cleared, start.addSecs(9));
  EXPECT_FALSE(list[0].Active);
  EXPECT_EQ(list[1].Code, TAlarmCode::Lost);
  EXPECT_EQ(list[1].Detail, 1);  // went away
  EXPECT_EQ(w.Since(), start.addSecs(2));
}

// The section "Alarm", an override per thermostat, and bad values read as off.
TEST(AlarmConfig, ReadsTheSectionOverridesAndBadValues) {
  const struct {
    const char* Name;
    const char* File;
    const char* Serial;
    TAlarmSettings Expected;
  } cases[] = {
      {"no section: the defaults", "", "SN-1", TAlarmSettings{}},
      {"the section", "[Alarm]\nBand=0,5\nDelay=30\nHigh=80\nLow=-5\nNotify=0\n", "SN-1",
       [] {
         auto s = Settings(0.5, 30, 80.0, -5.0);
         s.Notify = false;
         return s;
       }()},
      {"an override, key by key", "[Alarm]\nBand=1\nHigh=80\n[alarm SN-2]\nHigh=90\nDelay=5\n",
       "SN-2", Settings(1, 5, 90.0)},
      {"another thermostat's override does not apply", "[Alarm]\nBand=1\n[Alarm SN-2]\nBand=3\n",
       "SN-1", Settings(1, 60)},
      {"an override's empty limit is off", "[Alarm]\nHigh=80\n[Alarm SN-1]\nHigh=\n", "SN-1",
       Settings(0, 60)},
      {"not numbers and a negative band read as off; a bad delay as the default",
       "[Alarm]\nBand=-1\nDelay=-3\nHigh=abc\nLow=1e999\nNotify=x\n", "SN-1", Settings(0, 60)},
      {"a low limit above the high one: both off", "[Alarm]\nHigh=10\nLow=20\n", "SN-1",
       Settings(0, 60)},
      {"an override's low above the section's high: both off",
       "[Alarm]\nHigh=10\n[Alarm SN-1]\nLow=20\n", "SN-1", Settings(0, 60)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("calorix.ini"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(c.File);
    f.close();
    const TAlarmSettings s = TAlarmConfig(TIniFile(path)).For(QString::fromLatin1(c.Serial));
    EXPECT_EQ(s.Band, c.Expected.Band);
    EXPECT_EQ(s.DelaySeconds, c.Expected.DelaySeconds);
    EXPECT_EQ(s.High, c.Expected.High);
    EXPECT_EQ(s.Low, c.Expected.Low);
    EXPECT_EQ(s.Notify, c.Expected.Notify);
  }
}

TEST(AlarmConfig, TheDialogsTextsAreRefusedWithTheirMessageAndWrittenOnlyWhenNotDefault) {
  const struct {
    const char *Band, *Delay, *High, *Low;
    int Message;  // 0: taken
  } cases[] = {
      {"0", "60", "", "", 0},     {"0,5", "10", "80", "-5", 0}, {"-1", "60", "", "", 1157},
      {"x", "60", "", "", 1157},  {"0", "-1", "", "", 1158},    {"0", "", "", "", 1158},
      {"0", "60", "a", "", 1159}, {"0", "60", "", "b", 1159},   {"0", "60", "10", "20", 1160},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Band) + "|" + c.Delay + "|" + c.High + "|" + c.Low);
    const QString error = CheckAlarmTexts(QString::fromLatin1(c.Band), QString::fromLatin1(c.Delay),
                                          QString::fromLatin1(c.High), QString::fromLatin1(c.Low));
    EXPECT_EQ(error, c.Message ? LoadStr(c.Message) : QString());
  }
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("calorix.ini"));
  TIniFile ini(path);
  ASSERT_TRUE(WriteAlarmSettings(ini, TAlarmSettings{}));
  EXPECT_FALSE(QFile::exists(path));  // the defaults make no section
  const TAlarmSettings mine = AlarmSettingsFromTexts(QStringLiteral("0,5"), QStringLiteral("10"),
                                                     QStringLiteral("80"), QString(), false);
  ASSERT_TRUE(WriteAlarmSettings(ini, mine));
  EXPECT_EQ(TAlarmConfig(TIniFile(path)).Base(), mine);
  // Back to the defaults: the section is there, so it follows.
  ASSERT_TRUE(WriteAlarmSettings(ini, TAlarmSettings{}));
  EXPECT_EQ(TAlarmConfig(TIniFile(path)).Base(), TAlarmSettings{});
}

// The session feeds its watch: a scripted thermostat's protection bit, its
// switching off and its unplugging reach the list, with the thermostat's own
// settings.
TEST(AlarmSession, TheSessionsReadingsReachItsAlarms) {
  TTimer::SetManualMode(true);
  TManualClock clock;
  auto sim = std::make_unique<TSimHidPlatform>(std::shared_ptr<IClock>(&clock, [](IClock*) {}));
  TSimHidPlatform* platform = sim.get();
  TSimThermostatOptions bath;
  bath.Serial = "SN-1";
  bath.Setpoint = 20.0;
  bath.Temperature = 20.0;
  bath.Noise = 0.0;
  auto thermostat = platform->Plug(bath);
  TStation station(std::move(sim));
  station.SetProductPattern(QStringLiteral("thermostat|(usb.{0,}adapter)"));
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("calorix.ini"));
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("[Alarm]\nHigh=100\n[Alarm SN-1]\nHigh=25\nDelay=0\n");
  f.close();
  station.SetAlarmConfig(TAlarmConfig(TIniFile(path)));
  TSessionOptions options;
  options.Clock = &clock;
  auto* session = new TThermostatSession(std::move(options), &station);
  station.AddSession(session);
  QSignalSpy changed(session, &TThermostatSession::AlarmsChanged);
  const auto poll = [&] {
    clock.AdvanceSeconds(1);
    session->PollTimer()->Fire();
    return test::WaitForEvent(
        [&] { return session->Device() && session->Requests().Requests().empty(); });
  };
  ASSERT_TRUE(poll());
  EXPECT_EQ(session->Alarms().Settings().High, 25.0);  // the thermostat's own override
  EXPECT_FALSE(session->Alarms().Any());

  thermostat->SetAlarm("000010");
  ASSERT_TRUE(poll());
  ASSERT_EQ(session->Alarms().ActiveCodes(), QStringList{QStringLiteral("protection")});
  ASSERT_FALSE(session->AlarmChanges().empty());
  EXPECT_EQ(session->AlarmChanges().back().Event, TAlarmEvent::Raised);
  EXPECT_EQ(session->AlarmChanges().back().Detail, 0b10);
  session->AcknowledgeAlarms();
  EXPECT_EQ(session->AlarmChanges().back().Event, TAlarmEvent::Acknowledged);

  thermostat->SetTemperature(30.0);
  ASSERT_TRUE(poll());
  EXPECT_EQ(session->Alarms().ActiveCodes(),
            (QStringList{QStringLiteral("protection"), QStringLiteral("high")}));

  const int before = int(changed.count());
  platform->Unplug(thermostat);
  ASSERT_TRUE(test::WaitForEvent([&] { return !session->Device(); }));
  EXPECT_TRUE(session->Alarms().ActiveCodes().contains(QStringLiteral("lost")));
  EXPECT_GT(changed.count(), before);
  delete session;
  TTimer::SetManualMode(false);
}

}  // namespace
}  // namespace calorix
