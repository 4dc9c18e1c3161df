#include "link/RequestQueue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace calorix {
namespace {

// A device behind the queue that records what reaches it. A request write
// shows in Events as "w:" + the payload of its reports once the time-out is
// started after the last report.
class TFakeHost : public TRequestQueueHost {
 public:
  bool Device = true;
  std::size_t Length = 65;
  bool Adapter = false;
  bool TimeoutRunning = false;
  int TimeoutStarts = 0;
  bool Polling = true;
  std::vector<TBytes> Reports;
  std::vector<std::string> Events;
  std::function<void(const QString&)> OnError;
  std::function<void(TRequestKind)> OnDispatch;

  bool HasDevice() const override { return Device; }
  std::size_t OutputReportLength() const override { return Length; }
  bool AdapterFraming() const override { return Adapter; }
  void WriteReport(const TBytes& report) override {
    EXPECT_EQ(report.size(), Length);
    Reports.push_back(report);
    if (Adapter) {
      const std::size_t n = report[1] | (report[2] << 8);
      FPayload.append(report.begin() + 5, report.begin() + 5 + n);
    } else {
      std::string p(report.begin() + 1, report.end());
      p.erase(p.find_last_not_of('\0') + 1);
      FPayload += p;
    }
  }
  void StartTimeout() override {
    Events.push_back("w:" + FPayload);
    FPayload.clear();
    TimeoutRunning = true;
    ++TimeoutStarts;
  }
  void StopTimeout() override { TimeoutRunning = false; }
  void StopPolling() override {
    Polling = false;
    Events.push_back("stop-poll");
  }
  void Dispatch(TRequestKind kind, const std::string& value) override {
    Events.push_back("d" + std::to_string(kind) + ":" + value);
    if (OnDispatch)
      OnDispatch(kind);
  }
  void ConsoleAnswer(const std::string& line) override { Events.push_back("c:" + line); }
  void SwitchedOff() override { Events.push_back("off"); }
  void RequestDone(const TRequestDone& d) override {
    static const char* const kOutcome[] = {"answered", "error", "no-answer", "dropped"};
    Events.push_back("t" + std::to_string(d.Ticket) + ":" + kOutcome[int(d.Outcome)] + ":" +
                     std::to_string(d.Status) + ":" + d.Value);
  }
  void ShowError(const QString& text) override {
    Events.push_back("e:" + text.toStdString());
    if (OnError)
      OnError(text);
  }

  std::vector<std::string> Writes() const {
    std::vector<std::string> w;
    for (const auto& e : Events) {
      if (e.rfind("w:", 0) == 0)
        w.push_back(e.substr(2));
    }
    return w;
  }
  std::vector<std::string> TakeEvents() { return std::exchange(Events, {}); }

 private:
  std::string FPayload;
};

const std::string kTemp(kTemperatureRequest);
const std::string kAlarm(kAlarmStatusRequest);
const std::string kReady(kReadyBandRequest);
const std::string kSetRead(kSetpointReadRequest);
const std::string kUnexpected = "e:Неожиданный ответ термостата";

class RequestQueueTest : public ::testing::Test {
 protected:
  void Plain(std::string_view text) {
    TBytes data(text.begin(), text.end());
    if (data.size() < 64)
      data.resize(64, 0);
    Q.InputReport(data.data(), data.size());
  }
  void Adapter(std::string_view payload) {
    TBytes data(4, 0);
    data[0] = static_cast<std::uint8_t>(payload.size());
    data.insert(data.end(), payload.begin(), payload.end());
    data.resize(64, 0);
    Q.InputReport(data.data(), data.size());
  }
  std::vector<TRequestKind> Kinds() const {
    std::vector<TRequestKind> k;
    for (const auto& r : Q.Requests())
      k.push_back(r.Kind);
    return k;
  }

  TFakeHost Host;
  TRequestQueue Q{Host};
};

using Events = std::vector<std::string>;

TEST_F(RequestQueueTest, WritesHeadAtOnceAndTheRestInTurn) {
  // The requests of a selection: setpoint, readiness band, temperature.
  Q.QueueRequest(rkSetpointRead, kSetRead);
  Q.QueueRequest(rkReadyBand, kReady);
  Q.QueueRequest(rkTemperature, kTemp);
  EXPECT_EQ(Host.TakeEvents(), Events{"w:" + kSetRead});
  EXPECT_TRUE(Host.TimeoutRunning);
  EXPECT_TRUE(Q.HeadWritten());

  Plain("00000000 0 25.00\r");
  EXPECT_EQ(Host.TakeEvents(), (Events{"d1:25.00", "w:" + kReady}));
  Plain("00000000 0 0.5\r");
  EXPECT_EQ(Host.TakeEvents(), (Events{"d3:0.5", "w:" + kTemp}));
  Plain("00000000 0 25.31\r");
  EXPECT_EQ(Host.TakeEvents(), Events{"d0:25.31"});
  EXPECT_TRUE(Q.Requests().empty());
  EXPECT_FALSE(Host.TimeoutRunning);
}

TEST_F(RequestQueueTest, DroppedWithoutDeviceOrText) {
  Host.Device = false;
  Q.QueueRequest(rkTemperature, kTemp);
  Q.PollTick(true);
  EXPECT_TRUE(Q.Requests().empty());
  Host.Device = true;
  Q.QueueRequest(rkConsole, "");
  EXPECT_TRUE(Q.Requests().empty());
  EXPECT_TRUE(Host.Events.empty());
  EXPECT_EQ(Q.PollCount(), 0);
}

TEST_F(RequestQueueTest, PollTicksQueueReadinessBandEveryTenth) {
  for (int tick = 1; tick <= 20; ++tick) {
    SCOPED_TRACE(tick);
    Q.PollTick(true);
    std::vector<TRequestKind> expected{rkTemperature, rkAlarmStatus};
    if (tick % 10 == 0)
      expected.push_back(rkReadyBand);
    ASSERT_EQ(Kinds(), expected);
    EXPECT_EQ(Q.PollCount(), tick % 10);
    // A tick while requests wait queues nothing and does not count.
    Q.PollTick(true);
    EXPECT_EQ(Kinds(), expected);
    EXPECT_EQ(Q.PollCount(), tick % 10);
    while (!Q.Requests().empty())
      Plain("00000000 0 1\r");
  }
  Events expected;
  for (int tick = 1; tick <= 20; ++tick) {
    expected.push_back(kTemp);
    expected.push_back(kAlarm);
    if (tick % 10 == 0)
      expected.push_back(kReady);
  }
  EXPECT_EQ(Host.Writes(), expected);
}

TEST_F(RequestQueueTest, TickAfterPollingStoppedDoesNothing) {
  Q.PollTick(false);
  EXPECT_TRUE(Q.Requests().empty());
  EXPECT_EQ(Q.PollCount(), 0);
}

TEST_F(RequestQueueTest, SetpointChangeWaitsBehindThePoll) {
  Q.PollTick(true);
  Q.QueueRequest(rkSetpointWrite, SetpointWriteRequest("30.0"));
  Q.QueueRequest(rkSetpointRead, kSetRead);
  for (int i = 0; i < 4; ++i)
    Plain("00000000 0 30.0\r");
  EXPECT_EQ(Host.Writes(), (Events{kTemp, kAlarm, ":00000000 set.val wr 30.0\r", kSetRead}));
  EXPECT_EQ(Host.TimeoutStarts, 4) << "every write restarts the time-out";
}

TEST_F(RequestQueueTest, TimeoutDropsHeadAndWritesNext) {
  Q.PollTick(true);
  Host.TakeEvents();
  Q.TimeoutExpired();
  EXPECT_EQ(Host.TakeEvents(), Events{"w:" + kAlarm});
  EXPECT_EQ(Kinds(), std::vector<TRequestKind>{rkAlarmStatus});
  EXPECT_TRUE(Host.TimeoutRunning);
  EXPECT_EQ(Host.TimeoutStarts, 2);
  // A late answer belongs to whatever is at the head now.
  Plain("00000000 0 25.31\r");
  EXPECT_EQ(Host.TakeEvents(), Events{"d4:25.31"});
  Q.TimeoutExpired();  // stray tick with an empty queue
  EXPECT_TRUE(Host.Events.empty());
}

TEST_F(RequestQueueTest, ReportWithEmptyQueueIsIgnored) {
  Plain("00000000 0 25.31\r");
  Plain("partial");
  EXPECT_TRUE(Q.PendingAnswer().empty());
  Q.QueueRequest(rkTemperature, kTemp);
  Plain("00000000 0 1\r");
  EXPECT_EQ(Host.Events.back(), "d0:1");
}

TEST_F(RequestQueueTest, ReportWithoutDeviceIsIgnored) {
  Q.QueueRequest(rkTemperature, kTemp);
  Host.Device = false;
  Plain("00000000 0 1\r");
  Plain("abc");
  EXPECT_EQ(Q.Requests().size(), 1u);
  EXPECT_TRUE(Q.PendingAnswer().empty());
  EXPECT_EQ(Host.TakeEvents(), Events{"w:" + kTemp});
}

TEST_F(RequestQueueTest, StatusSixSwitchesOff) {
  Q.PollTick(true);
  Q.QueueRequest(rkSetpointRead, kSetRead);
  Host.TakeEvents();
  Plain("00000000 6\r");
  EXPECT_EQ(Host.TakeEvents(), (Events{"stop-poll", "off"}));
  EXPECT_TRUE(Q.Requests().empty());
  EXPECT_FALSE(Host.TimeoutRunning);
  EXPECT_FALSE(Host.Polling);
  // Buttons and the console still get through.
  Q.QueueRequest(rkSetpointRead, kSetRead);
  EXPECT_EQ(Host.TakeEvents(), Events{"w:" + kSetRead});
}

TEST_F(RequestQueueTest, StatusSixInAdapterReportStopsTheScan) {
  Host.Adapter = true;
  Q.PollTick(true);
  Host.TakeEvents();
  Adapter("00000000 6\r00000000 0 000000\r");
  EXPECT_EQ(Host.TakeEvents(), (Events{"stop-poll", "off"}));
  EXPECT_TRUE(Q.PendingAnswer().empty());
}

TEST_F(RequestQueueTest, ConsoleGetsWholeLineWhateverTheStatus) {
  Q.QueueRequest(rkConsole, ":00000000 dat.t rd\n");
  Q.QueueRequest(rkConsole, ":00000000 bad rd\n");
  Q.QueueRequest(rkConsole, ":00000000 x rd\n");
  Host.TakeEvents();
  Plain("00000000 6\r");  // status 6 to a console request is just shown
  Plain("  00000000   3  \r");
  Plain("lonely\r");
  EXPECT_EQ(Host.TakeEvents(), (Events{"c:00000000 6", "w::00000000 bad rd\n", "c:  00000000   3  ",
                                       "w::00000000 x rd\n", kUnexpected}));
  EXPECT_TRUE(Host.Polling);
}

TEST_F(RequestQueueTest, AdapterReportAnsweringTwoWritesNextOnceAfterIt) {
  Host.Adapter = true;
  Q.PollTick(true);
  Q.QueueRequest(rkSetpointRead, kSetRead);
  Host.TakeEvents();
  Adapter("00000000 0 25.31\r00000000 0 000001\r");
  EXPECT_EQ(Host.TakeEvents(), (Events{"d0:25.31", "d4:000001", "w:" + kSetRead}));
  EXPECT_EQ(Host.Reports.size(), 2u);
  EXPECT_TRUE(Host.TimeoutRunning);

  // With exactly two waiting, both are answered and nothing more is written.
  Plain("00000000 0 20.00\r");
  Q.PollTick(true);
  Host.TakeEvents();
  Adapter("00000000 0 25.31\r00000000 0 000001\r00000000 0 9\r");
  EXPECT_EQ(Host.TakeEvents(), (Events{"d0:25.31", "d4:000001"}));
  EXPECT_FALSE(Host.TimeoutRunning);
  EXPECT_TRUE(Q.PendingAnswer().empty()) << "scan stops once the queue is empty";
}

// A request queued by an answer handler goes out after the report, so the
// report's remaining lines are not taken for its answer.
TEST_F(RequestQueueTest, RequestQueuedDuringScanIsWrittenAfterTheReport) {
  Host.Adapter = true;
  Host.OnDispatch = [&](TRequestKind kind) {
    if (kind == rkTemperature)
      Q.QueueRequest(rkSetpointRead, kSetRead);
  };
  Q.QueueRequest(rkTemperature, kTemp);
  Host.TakeEvents();
  Adapter("00000000 0 25.31\r00000000 0 000000\r");
  EXPECT_EQ(Host.TakeEvents(), (Events{"d0:25.31", "d1:000000"}));
  EXPECT_TRUE(Q.Requests().empty());
  EXPECT_EQ(Host.TimeoutRunning, false);

  Q.QueueRequest(rkTemperature, kTemp);
  Host.TakeEvents();
  Adapter("00000000 0 25.31\r");
  EXPECT_EQ(Host.TakeEvents(), (Events{"d0:25.31", "w:" + kSetRead}));
  EXPECT_EQ(Host.Reports.size(), 3u);
}

TEST_F(RequestQueueTest, PartialLineKeepsTheTimeoutAndIsDroppedWithTheHead) {
  Q.PollTick(true);
  Host.TakeEvents();
  Plain(std::string(64, '0'));
  EXPECT_TRUE(Host.TimeoutRunning) << "a report ending no line must not stall the queue";
  EXPECT_EQ(Q.PendingAnswer().size(), 64u);
  EXPECT_TRUE(Host.Events.empty());

  Q.TimeoutExpired();
  EXPECT_TRUE(Q.PendingAnswer().empty());
  EXPECT_EQ(Host.TakeEvents(), Events{"w:" + kAlarm});
  Plain("00000000 0 000000\r");
  EXPECT_EQ(Host.TakeEvents(), Events{"d4:000000"}) << "no stale prefix";
}

TEST_F(RequestQueueTest, LineSpreadOverReportsCompletes) {
  Q.QueueRequest(rkTemperature, kTemp);
  Host.Adapter = true;
  Adapter("00000000 0 ");
  Adapter("25.");
  EXPECT_TRUE(Host.TimeoutRunning);
  Adapter("31\r");
  EXPECT_EQ(Host.Events.back(), "d0:25.31");
  EXPECT_FALSE(Host.TimeoutRunning);
}

TEST_F(RequestQueueTest, EveryWriteRestartsTheTimeout) {
  Q.QueueRequest(rkConsole, ":00000000 dat.t rd\n");
  EXPECT_EQ(Host.TimeoutStarts, 1);
  Q.Clear();  // the console gave up while the request was on the wire
  EXPECT_FALSE(Host.TimeoutRunning);
  Q.PollTick(true);
  EXPECT_EQ(Host.TimeoutStarts, 2) << "the new head gets its own full time-out";
  EXPECT_TRUE(Host.TimeoutRunning);
}

TEST_F(RequestQueueTest, ClearEmptiesQueueAndPartialAnswer) {
  Q.PollTick(true);
  Plain(std::string(64, 'x'));
  Q.Clear();
  EXPECT_TRUE(Q.Requests().empty());
  EXPECT_TRUE(Q.PendingAnswer().empty());
  Q.QueueRequest(rkTemperature, kTemp);
  Plain("00000000 0 1\r");
  EXPECT_EQ(Host.Events.back(), "d0:1");
}

TEST_F(RequestQueueTest, DeviceGoneLeavesNothingToStallTheNextSelection) {
  Q.PollTick(true);
  Plain("0000");
  Q.DeviceGone();
  EXPECT_TRUE(Q.Requests().empty());
  EXPECT_TRUE(Q.PendingAnswer().empty());
  EXPECT_FALSE(Host.TimeoutRunning);
  Host.Events.clear();
  Q.QueueRequest(rkSetpointRead, kSetRead);
  EXPECT_EQ(Host.TakeEvents(), Events{"w:" + kSetRead});
}

TEST_F(RequestQueueTest, ErrorBoxesComeAfterTheNextWrite) {
  Host.Adapter = true;
  Q.PollTick(true);
  Q.QueueRequest(rkSetpointRead, kSetRead);
  Host.TakeEvents();
  Adapter("00000000 3\r00000000\r");
  EXPECT_EQ(Host.TakeEvents(),
            (Events{"w:" + kSetRead, "e:Ошибочный запрос. Код статуса 3: неизвестный адресат",
                    kUnexpected}));
}

TEST_F(RequestQueueTest, StatusTextsComeFromTheHost) {
  Q.SetStatusTexts({"", ": one", ": two"});
  Q.QueueRequest(rkTemperature, kTemp);
  Q.QueueRequest(rkTemperature, kTemp);
  Plain("00000000 2\r");
  Plain("00000000 5\r");
  const Events e = Host.TakeEvents();
  EXPECT_EQ(std::count(e.begin(), e.end(), "e:Ошибочный запрос. Код статуса 2: two"), 1);
  EXPECT_EQ(std::count(e.begin(), e.end(), "e:Ошибочный запрос. Код статуса 5"), 1);
}

// Boxes may run poll ticks, time-outs and new requests; none of them may
// cause a request to be written twice.
TEST_F(RequestQueueTest, ReentrantCallsDuringErrorBoxWriteEachRequestOnce) {
  int boxes = 0;
  Host.OnError = [&](const QString&) {
    ++boxes;
    Q.PollTick(true);    // alarm read still waiting: queues nothing
    Q.TimeoutExpired();  // the alarm read times out meanwhile
    Q.PollTick(true);    // now the queue is empty: a new poll starts
    Q.QueueRequest(rkSetpointRead, kSetRead);
  };
  Q.PollTick(true);
  Plain("00000000 1\r");
  EXPECT_EQ(boxes, 1);
  EXPECT_EQ(Host.Writes(), (Events{kTemp, kAlarm, kTemp}));
  EXPECT_EQ(Kinds(), (std::vector<TRequestKind>{rkTemperature, rkAlarmStatus, rkSetpointRead}));
  EXPECT_TRUE(Q.HeadWritten());

  Host.OnError = nullptr;
  for (int i = 0; i < 3; ++i)
    Plain("00000000 0 7\r");
  EXPECT_EQ(Host.Writes(), (Events{kTemp, kAlarm, kTemp, kAlarm, kSetRead}));
}

TEST_F(RequestQueueTest, ReentrantPollAfterLastRequestFailedWritesOnce) {
  Host.OnError = [&](const QString&) { Q.PollTick(true); };
  Q.QueueRequest(rkConsole, ":00000000 zz rd\n");
  Plain("junk\r");  // unexpected answer; queue empty while the box is open
  EXPECT_EQ(Host.Writes(), (Events{":00000000 zz rd\n", kTemp}));
  EXPECT_EQ(Host.Reports.size(), 2u);
}

TEST_F(RequestQueueTest, ReentrantReportDuringBoxIsHandled) {
  bool nested = false;
  Host.OnError = [&](const QString&) {
    if (std::exchange(nested, true))
      return;
    Plain("00000000 0 000000\r");  // the alarm answer arrives while the box is open
  };
  Q.PollTick(true);
  Plain("00000000 4\r");
  EXPECT_EQ(Host.TakeEvents(),
            (Events{"w:" + kTemp, "w:" + kAlarm,
                    "e:Ошибочный запрос. Код статуса 4: неизвестная операция", "d4:000000"}));
  EXPECT_TRUE(Q.Requests().empty());
}

TEST_F(RequestQueueTest, OverlongAnswerReportedOnceAndConsumesHead) {
  Q.PollTick(true);
  Host.TakeEvents();
  const std::string chunk(64, '7');
  for (int i = 0; i < 200; ++i) {
    Plain(chunk);
    ASSERT_LE(Q.PendingAnswer().size(), TAnswerAssembler::kMaxAnswer);
  }
  EXPECT_TRUE(Host.Events.empty());
  Plain("end\r");
  EXPECT_EQ(Host.TakeEvents(), (Events{"w:" + kAlarm, kUnexpected}));
  Plain("00000000 0 000000\r");
  EXPECT_EQ(Host.TakeEvents(), Events{"d4:000000"});
}

TEST_F(RequestQueueTest, BadStatusesAreConsumedLikeErrors) {
  struct TCase {
    const char* Line;
    std::string Event;
  };
  const TCase cases[] = {
      {"00000000 ok 25.0\r", "e:Ошибочный запрос. Код статуса -1"},
      {"00000000 7\r", "e:Ошибочный запрос. Код статуса 7"},
      {"00000000 -1 x\r", "e:Ошибочный запрос. Код статуса -1"},
      {"00000000 99999999999\r", "e:Ошибочный запрос. Код статуса -1"},
      {"\r", kUnexpected},
      {"00000000\r", kUnexpected},
      {"   \t \r", kUnexpected},
      {"\x01\x02\x03\r", kUnexpected},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Line);
    Q.QueueRequest(rkTemperature, kTemp);
    Q.QueueRequest(rkAlarmStatus, kAlarm);
    Host.TakeEvents();
    Plain(c.Line);
    EXPECT_EQ(Host.TakeEvents(), (Events{"w:" + kAlarm, c.Event}));
    Q.Clear();
  }
}

TEST_F(RequestQueueTest, SuccessWithoutValueHandsEmptyValueOn) {
  Q.QueueRequest(rkTemperature, kTemp);
  Host.TakeEvents();
  Plain("00000000 0\r");
  EXPECT_EQ(Host.TakeEvents(), Events{"d0:"});
}

TEST_F(RequestQueueTest, EmptyLinesInAdapterReportEachTakeAHead) {
  Host.Adapter = true;
  Q.PollTick(true);
  Host.TakeEvents();
  Adapter("\r\n");
  EXPECT_EQ(Host.TakeEvents(), (Events{kUnexpected, kUnexpected}));
  EXPECT_TRUE(Q.Requests().empty());
}

TEST_F(RequestQueueTest, LongRequestGoesOutAsSeveralReportsThenOneTimeout) {
  Host.Adapter = true;
  const std::string line = std::string(129, 'c') + "\n";
  Q.QueueRequest(rkConsole, line);
  EXPECT_EQ(Host.Reports.size(), 3u);
  EXPECT_EQ(Host.TakeEvents(), Events{"w:" + line});
  EXPECT_EQ(Host.TimeoutStarts, 1);
}

TEST_F(RequestQueueTest, DeviceTooShortForPayloadStillTimesOut) {
  Host.Length = 1;
  Q.PollTick(true);
  EXPECT_TRUE(Host.Reports.empty());
  EXPECT_TRUE(Host.TimeoutRunning) << "the head must still be dropped";
  Q.TimeoutExpired();
  Q.TimeoutExpired();
  EXPECT_TRUE(Q.Requests().empty());
}

// Random bytes in both framings, with ticks and time-outs in between: no
// crash, the partial answer stays bounded and the queue never stalls.
TEST_F(RequestQueueTest, GarbageReportsNeverStallOrOverflow) {
  Host.OnError = [](const QString&) {};
  std::mt19937 rng(12345);
  for (int round = 0; round < 4000; ++round) {
    Host.Adapter = (round / 1000) % 2 == 1;
    const int action = static_cast<int>(rng() % 10);
    if (action == 0) {
      Q.PollTick(true);
    } else if (action == 1) {
      Q.TimeoutExpired();
    } else {
      TBytes data(rng() % 80);
      for (auto& b : data) {
        // Mostly printable so that lines get long, now and then a line end.
        const auto r = rng() % 100;
        b = static_cast<std::uint8_t>(r < 3 ? 0x0D : r < 5 ? rng() % 256 : 0x20 + rng() % 95);
      }
      if (Host.Adapter && !data.empty())
        data[0] = static_cast<std::uint8_t>(rng() % 256);
      Q.InputReport(data.data(), data.size());
    }
    ASSERT_LE(Q.PendingAnswer().size(), TAnswerAssembler::kMaxAnswer);
    ASSERT_LE(Q.Requests().size(), 3u);
    ASSERT_TRUE(Q.Requests().empty() || Q.HeadWritten()) << "round " << round;
    ASSERT_EQ(Host.TimeoutRunning, !Q.Requests().empty()) << "round " << round;
  }
}

// A request with a ticket tells its asker how it ended, after the queue is
// settled, and its errors never raise a box; the window's own requests still do.
TEST_F(RequestQueueTest, TicketedRequestsTellHowTheyEnded) {
  const std::string write = ":00000000 set.val wr 21.50\r";
  Q.QueueRequest(rkSetpointWrite, write, 7);
  Q.QueueRequest(rkSetpointRead, kSetRead, 8);
  Host.TakeEvents();
  Plain("00000000 0\r");
  EXPECT_EQ(Host.TakeEvents(), (Events{"d2:", "w:" + kSetRead, "t7:answered:0:"}));
  Plain("00000000 0 21.50\r");
  EXPECT_EQ(Host.TakeEvents(), (Events{"d1:21.50", "t8:answered:0:21.50"}));

  Q.QueueRequest(rkSetpointWrite, write, 9);
  Q.QueueRequest(rkSetpointWrite, write);  // the window's own: a box
  Host.TakeEvents();
  Plain("00000000 4\r");
  EXPECT_EQ(Host.TakeEvents(), (Events{"w:" + write, "t9:error:4:"}));
  Plain("00000000 4\r");
  const Events boxed = Host.TakeEvents();
  ASSERT_EQ(boxed.size(), 1u);
  EXPECT_EQ(boxed[0].rfind("e:", 0), 0u);

  Q.QueueRequest(rkTemperature, kTemp, 10);
  Plain("garbage without fields\r");
  EXPECT_EQ(Host.TakeEvents(), (Events{"w:" + kTemp, "t10:error:-1:"}));

  Q.QueueRequest(rkTemperature, kTemp, 11);
  Q.QueueRequest(rkTemperature, kTemp, 12);
  Host.TakeEvents();
  Q.TimeoutExpired();
  EXPECT_EQ(Host.TakeEvents(), (Events{"w:" + kTemp, "t11:no-answer:0:"}));
  Q.Clear();
  EXPECT_EQ(Host.TakeEvents(), Events{"t12:dropped:0:"});

  // Switched off: the head ends with status 6, the rest are dropped.
  Q.QueueRequest(rkSetpointRead, kSetRead, 13);
  Q.QueueRequest(rkTemperature, kTemp, 14);
  Host.TakeEvents();
  Plain("00000000 6\r");
  EXPECT_EQ(Host.TakeEvents(), (Events{"stop-poll", "off", "t13:error:6:", "t14:dropped:0:"}));

  Host.Device = false;
  Q.QueueRequest(rkTemperature, kTemp, 15);
  EXPECT_EQ(Host.TakeEvents(), Events{"t15:dropped:0:"});
}

}  // namespace
}  // namespace calorix
