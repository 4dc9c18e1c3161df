// Several thermostats at once, without any window: the station's rules for
// which session takes which thermostat, each session on its own cadence.
#include "base/Clock.h"
#include "base/Timer.h"
#include "link/Hid.h"
#include "link/SimHidPlatform.h"
#include "link/SimThermostat.h"
#include "record/Journal.h"
#include "station/Session.h"
#include "station/Station.h"
#include "tests/support/WaitFor.h"

#include <gtest/gtest.h>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>

namespace calorix {
namespace {

bool WaitFor(const std::function<bool()>& cond) {
  return test::WaitForEvent(cond);
}

class StationTest : public ::testing::Test {
 protected:
  StationTest() {
    TTimer::SetManualMode(true);
    auto sim = std::make_unique<TSimHidPlatform>(std::shared_ptr<IClock>(&Clock, [](IClock*) {}));
    Sim = sim.get();
    for (const char* serial : {"SN-1", "SN-2", "SN-3"})
      Baths.push_back(Plug(serial));
    Station = std::make_unique<TStation>(std::move(sim));
    Station->SetProductPattern(QStringLiteral("thermostat|(usb.{0,}adapter)"));
  }
  ~StationTest() override { TTimer::SetManualMode(false); }

  std::shared_ptr<TSimThermostat> Plug(const char* serial) {
    TSimThermostatOptions bath;
    bath.Serial = serial;
    bath.Setpoint = bath.Temperature = 20.0;
    bath.Noise = 0.0;
    return Sim->Plug(bath);
  }
  // A session as a window opens it: the first one for whatever is found, the
  // others for one serial each, with a journal of its own.
  TThermostatSession* Open(const QString& serial = {}) {
    TSessionOptions options;
    options.Clock = &Clock;
    options.JournalFolder = Dir.filePath(QStringLiteral("state"));
    options.Serial = serial;
    options.JournalOwner = serial.isEmpty() ? QString() : JournalOwnerFor(serial);
    auto* s = new TThermostatSession(std::move(options), Station.get());
    Station->AddSession(s);
    return s;
  }
  static bool Idle(TThermostatSession* s) {
    return WaitFor([&] { return s->Device() && s->Requests().Requests().empty(); });
  }
  static bool Poll(TThermostatSession* s) {
    s->PollTimer()->Fire();
    return Idle(s);
  }

  QTemporaryDir Dir;
  TManualClock Clock;
  TSimHidPlatform* Sim = nullptr;
  std::vector<std::shared_ptr<TSimThermostat>> Baths;
  std::unique_ptr<TStation> Station;
};

TEST_F(StationTest, EachSessionTakesItsOwnThermostatAndKeepsItsOwnRecord) {
  // Bound sessions first: the first session still takes the first thermostat
  // that no other session waits for.
  TThermostatSession* third = Open(QStringLiteral("SN-2"));
  TThermostatSession* second = Open(QStringLiteral("SN-3"));
  ASSERT_TRUE(Idle(third) && Idle(second));
  TThermostatSession* first = Open();
  // The first session's rule runs when a thermostat arrives.
  Baths.push_back(Plug("SN-4"));
  ASSERT_TRUE(Idle(first));
  EXPECT_EQ(first->Serial(), QStringLiteral("SN-1"));
  EXPECT_EQ(second->Serial(), QStringLiteral("SN-3"));
  EXPECT_EQ(third->Serial(), QStringLiteral("SN-2"));
  EXPECT_EQ(Station->FreeDevice(), Station->Device(QStringLiteral("SN-4")));
  EXPECT_EQ(Station->SessionFor(QStringLiteral("SN-3")), second);

  // Two sessions never hold one thermostat.
  EXPECT_FALSE(Station->Select(*first, Station->Device(QStringLiteral("SN-3"))));
  EXPECT_EQ(first->Serial(), QStringLiteral("SN-1"));

  // Each records on its own cadence: the first twice, the others once.
  for (TThermostatSession* s : {first, second, third})
    s->StartRecording();
  for (TThermostatSession* s : {first, first, second, third}) {
    Clock.AdvanceSeconds(1);
    ASSERT_TRUE(Poll(s));
  }
  EXPECT_EQ(first->Record().Count(), 2u);
  EXPECT_EQ(second->Record().Count(), 1u);
  EXPECT_EQ(third->Record().Count(), 1u);

  // One unplugged: only its session lets go; the others go on polling.
  Sim->Unplug(Baths[1]);
  ASSERT_TRUE(WaitFor([&] { return !third->Device(); }));
  Clock.AdvanceSeconds(1);
  ASSERT_TRUE(Poll(first) && Poll(second));
  EXPECT_EQ(first->Record().Count(), 3u);
  EXPECT_EQ(second->Record().Count(), 2u);
  EXPECT_EQ(third->Record().Count(), 1u);  // kept, as a window keeps it

  // Back again: the session bound to it takes it up, not the first session.
  Baths[1] = Plug("SN-2");
  ASSERT_TRUE(Idle(third));
  EXPECT_EQ(third->Serial(), QStringLiteral("SN-2"));
  EXPECT_EQ(first->Serial(), QStringLiteral("SN-1"));

  // Each keeps its own journal, named after its thermostat.
  for (TThermostatSession* s : {first, second, third})
    s->Journal()->Flush();
  EXPECT_EQ(JournalSerial(second->Journal()->Path()), QStringLiteral("SN-3"));
  EXPECT_EQ(JournalSerial(third->Journal()->Path()), QStringLiteral("SN-2"));
  EXPECT_EQ(JournalSerial(first->Journal()->Path()), QString());  // as one window names it
}

TEST_F(StationTest, ASerialMetTwiceIsToldApart) {
  TThermostatSession* first = Open();
  ASSERT_TRUE(Idle(first));
  Baths.push_back(Plug("SN-1"));
  ASSERT_TRUE(WaitFor([&] { return Station->Devices().size() == 4; }));
  EXPECT_NE(Station->Device(QStringLiteral("SN-1#2")), nullptr);
  TThermostatSession* twin = Open(QStringLiteral("SN-1#2"));
  ASSERT_TRUE(Station->Select(*twin, Station->Device(QStringLiteral("SN-1#2"))));
  ASSERT_TRUE(Idle(twin));
  EXPECT_EQ(first->Serial(), QStringLiteral("SN-1"));
  EXPECT_EQ(twin->Serial(), QStringLiteral("SN-1#2"));
  EXPECT_EQ(twin->Device()->SerialNumber(), QStringLiteral("SN-1"));
}

}  // namespace
}  // namespace calorix
