// The whole window under faults of the link: thermostats lost mid-way, late,
// doubled, split and missing answers, garbage, a switched-off bath and a storm
// of arrivals and removals. After each fault the window must keep polling, keep
// its samples and write every request exactly once.
#include "app/MainForm.h"
#include "link/Hid.h"
#include "tests/support/ui/Connected.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <chrono>
#include <random>
#include <set>
#include <utility>

using namespace calorix;
using calorix::test::TWindowFixture;
using namespace std::chrono_literals;

namespace {

constexpr std::size_t kConnectRequests = 3;  // setpoint, readiness band, temperature

TSimThermostatOptions Thermostat(const QByteArray& serial) {
  TSimThermostatOptions o;
  o.Serial = serial;
  return o;
}

struct TConnected : calorix::test::TConnectedWindow {
  double NextTemperature = 30.0;

  explicit TConnected(TSimThermostatOptions options = ::Thermostat("T-1"))
      : TConnectedWindow(std::move(options)) {}
  // Waits until the thermostat has nothing more to send and the window took it all.
  bool Quiet() {
    const bool drained = TWindowFixture::WaitFor(
        [&] { return !Thermostat->PluggedIn() || Thermostat->PendingInputReports() == 0; });
    TWindowFixture::Settle(30);
    return drained;
  }
  // Requests one poll tick writes.
  std::size_t TickRequests() const {
    return W->Requests().PollCount() + 1 >= TRequestQueue::kReadyBandEvery ? 3 : 2;
  }
  // A poll after which the temperature field shows a value the bath just took.
  bool FreshPoll() {
    const double t = NextTemperature;
    NextTemperature += 1.0;
    Fx.Clock.AdvanceSeconds(1.0);
    Thermostat->SetTemperature(t);  // after the clock moved: the bath reads exactly t
    const std::size_t before = Thermostat->ReportsReceived();
    const std::size_t expected = TickRequests();
    W->DataTimer->Fire();
    if (!Idle() || !Quiet())
      return false;
    return W->stTemp->text() == FormatFixed2(t, W->LocalFormat()) &&
           Thermostat->ReportsReceived() == before + expected;
  }
  // Unplugs the selected thermostat and plugs one with the same serial number in.
  void Replug() {
    const TSimThermostatOptions o = Thermostat->Options();
    Fx.Sim->Unplug(Thermostat);
    TWindowFixture::WaitFor([&] { return !W->SelectedDevice(); });
    Thermostat = Fx.Plug(o);
  }
};

QStringList MenuCaptions(const TMainFrm& w) {
  QStringList out;
  for (QAction* a : w.DevPopup->actions())
    out << a->text() + (a->isChecked() ? "*" : "");
  return out;
}

QStringList ListedCaptions(const TMainFrm& w) {
  QStringList out;
  for (TJvHidDevice* d : w.Devices())
    out << d->SerialNumber() + (d == w.SelectedDevice() ? "*" : "");
  return out;
}

}  // namespace

class TestFaults : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  // --- The selected thermostat goes away

  void unplugWithARequestOnTheWireAndReplug() {
    TConnected c;
    TMainFrm& w = *c.W;
    QVERIFY(c.FreshPoll());
    c.Thermostat->SetLatency(300ms);
    const std::size_t before = c.Thermostat->ReportsReceived();
    w.DataTimer->Fire();
    QVERIFY(w.Requests().HeadWritten());
    QCOMPARE(c.Thermostat->ReportsReceived(), before + 1);
    auto old = c.Thermostat;
    c.Replug();
    QVERIFY(w.Requests().Requests().empty());
    QVERIFY(w.Requests().PendingAnswer().empty());
    QVERIFY(c.Idle());
    QVERIFY(c.Quiet());
    QCOMPARE(old->ReportsReceived(), before + 1);  // nothing more for the one gone
    QCOMPARE(c.Thermostat->ReportsReceived(), kConnectRequests);
    QCOMPARE(w.StatusText(0), QStringLiteral("Термостат: T-1"));
    QVERIFY(c.FreshPoll());
    QVERIFY(c.FreshPoll());
  }

  void unplugWhileRecordingKeepsTheSamplesAndReplugResumes() {
    TConnected c;
    TMainFrm& w = *c.W;
    w.RecordBtn->click();
    QVERIFY(c.FreshPoll());
    QVERIFY(c.FreshPoll());
    QCOMPARE(w.Record().Count(), std::size_t(2));
    c.Thermostat->SetLatency(300ms);
    w.DataTimer->Fire();
    QVERIFY(w.Requests().HeadWritten());
    c.Fx.Sim->Unplug(c.Thermostat);
    QVERIFY(TWindowFixture::WaitFor([&] { return !w.SelectedDevice(); }));
    QVERIFY(!w.Recording());
    QVERIFY(!w.DataTimer->Enabled());
    QCOMPARE(w.Record().Count(), std::size_t(2));
    TWindowFixture::Settle(350);  // the answer that was due would have come by now
    QCOMPARE(w.Record().Count(), std::size_t(2));
    c.Thermostat = c.Fx.Plug(Thermostat("T-1"));
    QVERIFY(c.Idle());
    QVERIFY(c.Quiet());
    QCOMPARE(c.Thermostat->ReportsReceived(), kConnectRequests);
    QVERIFY(w.DataTimer->Enabled());
    QVERIFY(w.RecordBtn->isEnabled());
    QVERIFY(c.FreshPoll());
    QCOMPARE(w.Record().Count(), std::size_t(2));  // not recording any more
    w.RecordBtn->click();
    QVERIFY(c.FreshPoll());
    QCOMPARE(w.Record().Count(), std::size_t(3));
  }

  void unplugFromInsideAnErrorBox() {
    TConnected c;
    TMainFrm& w = *c.W;
    w.RecordBtn->click();
    QVERIFY(c.FreshPoll());
    bool unplugged = false;
    c.Fx.Prompts.OnError = [&](const QString&) {
      if (unplugged)
        return;
      unplugged = true;
      c.Fx.Sim->Unplug(c.Thermostat);
      TWindowFixture::WaitFor([&] { return !w.SelectedDevice(); });
      // A user reading the box lets the timers run too.
      w.DataTimer->Fire();
      w.Timeout->Fire();
    };
    const std::size_t before = c.Thermostat->ReportsReceived();
    c.Thermostat->DropNextAnswers(1);
    w.DataTimer->Fire();  // the temperature read: its answer is lost
    QCOMPARE(c.Thermostat->ReportsReceived(), before + 1);
    c.Thermostat->InjectPayload("00000000 3\r");  // taken for the temperature read: an error
    QVERIFY(TWindowFixture::WaitFor([&] { return unplugged; }));
    TWindowFixture::Settle(50);
    QVERIFY(!w.SelectedDevice());
    QVERIFY(!w.Recording());
    QCOMPARE(w.Record().Count(), std::size_t(1));
    QCOMPARE(c.Fx.Prompts.Count(QStringLiteral("error")), 1);
    QVERIFY(c.Fx.Prompts.Errors().front().startsWith(QStringLiteral("Ошибочный запрос")));
    // The protection-status read went out once, before the box.
    QCOMPARE(c.Thermostat->ReportsReceived(), before + 2);
    QVERIFY(w.Requests().Requests().empty());
    c.Fx.Prompts.OnError = {};
    c.Thermostat = c.Fx.Plug(Thermostat("T-1"));
    QVERIFY(c.Idle());
    QVERIFY(c.Quiet());
    QCOMPARE(c.Thermostat->ReportsReceived(), kConnectRequests);
    QVERIFY(c.FreshPoll());
    QCOMPARE(c.Fx.Prompts.Count(QStringLiteral("error")), 1);
  }

  void pollingAndRecordingGoOnWhileAnErrorBoxIsOpen() {
    TConnected c;
    TMainFrm& w = *c.W;
    w.RecordBtn->click();
    QVERIFY(c.FreshPoll());
    bool opened = false, polledWhileOpen = false;
    c.Fx.Prompts.OnError = [&](const QString&) {
      if (std::exchange(opened, true))
        return;
      // The same error again while the box is open: no second box of it.
      polledWhileOpen = c.Idle() && c.Quiet();
      c.Thermostat->DropNextAnswers(1);
      w.DataTimer->Fire();
      c.Thermostat->InjectPayload("00000000 3\r");
      polledWhileOpen = polledWhileOpen && c.Idle() && c.FreshPoll() && c.FreshPoll();
    };
    c.Thermostat->DropNextAnswers(1);
    w.DataTimer->Fire();
    c.Thermostat->InjectPayload("00000000 3\r");  // taken for the temperature read: an error
    QVERIFY(TWindowFixture::WaitFor([&] { return c.Fx.Prompts.Count("error") > 0; }));
    QVERIFY(polledWhileOpen);
    QVERIFY(c.FreshPoll());
    QCOMPARE(w.Record().Count(), std::size_t(4));
    QCOMPARE(c.Fx.Prompts.Count("error"), 1);
  }

  // A box raised by a tick that runs while waiting boxes are about to be
  // shown: those events show every waiting box themselves, and the first
  // showing finds nothing left to show.
  void boxesShownByEventsDeliveredBeforeTheirShowing() {
    TConnected c;
    TMainFrm& w = *c.W;
    TTimer tick(&w, 1000, true);
    tick.OnTimer = [&] { w.ShowError("b"); };
    TTimer first(&w, 1000, true);
    first.OnTimer = [&] {
      w.ShowError("a");
      QMetaObject::invokeMethod(&w, [&] { tick.Fire(); }, Qt::QueuedConnection);
    };
    first.Fire();
    QVERIFY(TWindowFixture::WaitFor([&] { return c.Fx.Prompts.Count("error") == 2; }));
    TWindowFixture::Settle(50);
    QCOMPARE(c.Fx.Prompts.Count("error"), 2);
  }

  // --- Answers late, twice, in pieces or never

  void aLateAnswerIsTakenForTheNextHead() {
    TConnected c;
    TMainFrm& w = *c.W;
    w.RecordBtn->click();
    QVERIFY(c.FreshPoll());
    c.Thermostat->SetLatency(200ms);
    const std::size_t before = c.Thermostat->ReportsReceived();
    const std::size_t expected = c.TickRequests();
    w.DataTimer->Fire();
    QCOMPARE(c.Thermostat->ReportsReceived(), before + 1);
    w.Timeout->Fire();  // the temperature read times out before its answer comes
    QCOMPARE(c.Thermostat->ReportsReceived(), before + 2);
    QVERIFY(c.Quiet());
    QVERIFY(TWindowFixture::WaitFor([&] { return w.Requests().Requests().empty(); }));
    QVERIFY(c.Quiet());
    QCOMPARE(c.Thermostat->ReportsReceived(), before + expected);
    QCOMPARE(w.Record().Count(), std::size_t(1));  // the late temperature did not count
    c.Thermostat->SetLatency(0ms);
    QVERIFY(c.FreshPoll());
    QCOMPARE(w.Record().Count(), std::size_t(2));
  }

  void doubledAnswers_data() {
    QTest::addColumn<int>("copies");
    QTest::newRow("one doubled") << 1;
    QTest::newRow("three doubled") << 3;
  }
  void doubledAnswers() {
    QFETCH(int, copies);
    TConnected c;
    TMainFrm& w = *c.W;
    w.RecordBtn->click();
    QVERIFY(c.FreshPoll());
    for (int round = 0; round < 2; ++round) {
      const std::size_t before = c.Thermostat->ReportsReceived();
      const std::size_t expected = c.TickRequests();
      c.Thermostat->DuplicateNextAnswers(copies);
      w.DataTimer->Fire();
      QVERIFY(c.Quiet());
      QVERIFY(TWindowFixture::WaitFor([&] { return w.Requests().Requests().empty(); }));
      QCOMPARE(c.Thermostat->ReportsReceived(), before + expected);
    }
    QVERIFY(c.FreshPoll());
    QVERIFY(c.FreshPoll());
    QVERIFY(w.Record().Count() >= std::size_t(3));
  }

  void splitAnswers_data() {
    QTest::addColumn<int>("chars");
    QTest::newRow("1") << 1;
    QTest::newRow("3") << 3;
    QTest::newRow("10") << 10;
  }
  void splitAnswers() {
    QFETCH(int, chars);
    // Adapter framing: plain reports end a line at their zero padding, so only
    // the adapter's counted payload can carry a line over several reports.
    TSimThermostatOptions o = Thermostat("AD-1");
    o.Product = "USB-HID Adapter";
    o.Framing = TSimFraming::Adapter;
    TConnected c(o);
    TMainFrm& w = *c.W;
    w.RecordBtn->click();
    c.Thermostat->SetSplitSize(std::size_t(chars));
    for (int i = 0; i < 3; ++i)
      QVERIFY(c.FreshPoll());
    QCOMPARE(w.Record().Count(), std::size_t(3));
    QVERIFY(w.Requests().PendingAnswer().empty());
    QVERIFY(c.Fx.Prompts.Asked.empty());
    // A setpoint written and read back in pieces.
    const std::size_t before = c.Thermostat->ReportsReceived();
    w.edSet->setText(FormatFixed2(27.5, w.LocalFormat()));
    w.ChangeSetBtn->click();
    QVERIFY(c.Idle());
    QVERIFY(c.Quiet());
    QCOMPARE(c.Thermostat->Setpoint(), 27.5);
    QCOMPARE(c.Thermostat->ReportsReceived(), before + 2);
    QVERIFY(c.Fx.Prompts.Asked.empty());
  }

  void missingAnswersTimeOut() {
    TConnected c;
    TMainFrm& w = *c.W;
    w.RecordBtn->click();
    QVERIFY(c.FreshPoll());
    // The temperature read is lost: the protection-status read follows it.
    std::size_t before = c.Thermostat->ReportsReceived();
    std::size_t expected = c.TickRequests();
    c.Thermostat->DropNextAnswers(1);
    w.DataTimer->Fire();
    QVERIFY(c.Quiet());
    QCOMPARE(w.Requests().Requests().size(), expected);
    QVERIFY(w.Timeout->Enabled());
    QCOMPARE(c.Thermostat->ReportsReceived(), before + 1);
    w.Timeout->Fire();
    QVERIFY(c.Quiet());
    QVERIFY(w.Requests().Requests().empty());
    QCOMPARE(c.Thermostat->ReportsReceived(), before + expected);
    QCOMPARE(w.Record().Count(), std::size_t(1));
    // Every answer of a tick lost: each request times out once and the queue drains.
    before = c.Thermostat->ReportsReceived();
    expected = c.TickRequests();
    c.Thermostat->DropNextAnswers(int(expected));
    w.DataTimer->Fire();
    for (std::size_t i = 0; i < expected; ++i) {
      QVERIFY(c.Quiet());
      QCOMPARE(c.Thermostat->ReportsReceived(), before + i + 1);
      w.Timeout->Fire();
    }
    QVERIFY(w.Requests().Requests().empty());
    w.Timeout->Fire();  // a stray time-out with nothing waiting writes nothing
    QCOMPARE(c.Thermostat->ReportsReceived(), before + expected);
    QVERIFY(c.FreshPoll());
    QCOMPARE(w.Record().Count(), std::size_t(2));
    QVERIFY(c.Fx.Prompts.Asked.empty());
  }

  // --- Garbage

  void aFloodOfGarbageWithoutLineEnds() {
    TConnected c;
    TMainFrm& w = *c.W;
    w.RecordBtn->click();
    QVERIFY(c.FreshPoll());
    const std::size_t before = c.Thermostat->ReportsReceived();
    const std::size_t expected = c.TickRequests();
    c.Thermostat->DropNextAnswers(1);
    w.DataTimer->Fire();
    std::mt19937 random(7);
    std::uniform_int_distribution<int> byte(0x0e, 0x7f);  // no line ends
    for (int i = 0; i < 3000; ++i) {
      std::vector<uint8_t> report(TSimThermostat::kReportLength);
      for (std::size_t k = 1; k < report.size(); ++k)
        report[k] = uint8_t(byte(random));
      c.Thermostat->InjectReport(std::move(report));
    }
    QVERIFY(c.Quiet());
    QVERIFY(w.Requests().PendingAnswer().size() <= 4096);
    QCOMPARE(c.Thermostat->ReportsReceived(), before + 1);
    w.Timeout->Fire();
    QVERIFY(c.Quiet());
    QVERIFY(TWindowFixture::WaitFor([&] { return w.Requests().Requests().empty(); }));
    QCOMPARE(c.Thermostat->ReportsReceived(), before + expected);
    QVERIFY(w.Requests().PendingAnswer().empty());
    QCOMPARE(w.Record().Count(), std::size_t(1));
    QVERIFY(c.FreshPoll());
    QVERIFY(c.FreshPoll());
    QCOMPARE(w.Record().Count(), std::size_t(3));
  }

  void aFloodOfGarbageLinesWhileRequestsWait() {
    TConnected c;
    TMainFrm& w = *c.W;
    w.RecordBtn->click();
    QVERIFY(c.FreshPoll());
    const std::size_t before = c.Thermostat->ReportsReceived();
    const std::size_t expected = c.TickRequests();
    c.Thermostat->DropNextAnswers(1);  // the garbage answers the temperature read
    w.DataTimer->Fire();
    std::mt19937 random(11);
    std::uniform_int_distribution<int> byte(0, 0xff);
    for (int i = 0; i < 2500; ++i) {
      QByteArray payload;
      for (int k = 0; k < 40; ++k)
        payload.append(char(byte(random)));
      if (i % 3 == 0)
        payload.append('\r');
      c.Thermostat->InjectPayload(payload);
    }
    QVERIFY(TWindowFixture::WaitFor(
        [&] { return c.Thermostat->PendingInputReports() == 0 && w.Requests().Requests().empty(); },
        15000));
    TWindowFixture::Settle(50);
    QVERIFY(w.Requests().PendingAnswer().size() <= 4096);
    // Whatever the garbage answered, each waiting request went out once.
    QCOMPARE(c.Thermostat->ReportsReceived(), before + expected);
    QVERIFY(w.Record().Count() >= std::size_t(1));
    const std::size_t samples = w.Record().Count();
    c.Fx.Prompts.Asked.clear();
    QVERIFY(c.FreshPoll());
    QVERIFY(c.FreshPoll());
    QCOMPARE(w.Record().Count(), samples + 2);
  }

  // --- Switched off

  void switchedOffWhileRecordingThenReplugged() {
    TConnected c;
    TMainFrm& w = *c.W;
    w.RecordBtn->click();
    QVERIFY(c.FreshPoll());
    QVERIFY(c.FreshPoll());
    const std::size_t before = c.Thermostat->ReportsReceived();
    c.Thermostat->SetPoweredOn(false);
    c.Fx.Clock.AdvanceSeconds(1.0);
    w.DataTimer->Fire();
    QVERIFY(TWindowFixture::WaitFor([&] { return !w.DataTimer->Enabled(); }));
    QVERIFY(c.Quiet());
    QCOMPARE(w.StatusText(1), QStringLiteral("Термостат выключен"));
    QVERIFY(w.Requests().Requests().empty());
    QCOMPARE(c.Thermostat->ReportsReceived(), before + 1);  // the status read is not sent
    QCOMPARE(w.Record().Count(), std::size_t(2));
    w.DataTimer->Fire();  // a tick of the stopped timer writes nothing
    QVERIFY(c.Quiet());
    QCOMPARE(c.Thermostat->ReportsReceived(), before + 1);
    QVERIFY(c.Fx.Prompts.Asked.empty());
    c.Replug();
    QVERIFY(c.Idle());
    QVERIFY(c.Quiet());
    QCOMPARE(c.Thermostat->ReportsReceived(), kConnectRequests);
    QVERIFY(w.DataTimer->Enabled());
    QCOMPARE(w.StatusText(1), QString());
    QCOMPARE(w.Record().Count(), std::size_t(2));
    QVERIFY(c.FreshPoll());
  }

  void switchedOffThenReselectedThroughTheMenu() {
    TConnected c;
    TMainFrm& w = *c.W;
    auto other = c.Fx.Plug(Thermostat("T-2"));
    QVERIFY(TWindowFixture::WaitFor([&] { return w.Devices().size() == 2; }));
    w.RecordBtn->click();
    QVERIFY(c.FreshPoll());
    c.Thermostat->SetPoweredOn(false);
    c.Fx.Clock.AdvanceSeconds(1.0);
    w.DataTimer->Fire();
    QVERIFY(TWindowFixture::WaitFor([&] { return !w.DataTimer->Enabled(); }));
    QCOMPARE(w.StatusText(1), QStringLiteral("Термостат выключен"));
    QCOMPARE(w.Record().Count(), std::size_t(1));
    c.Thermostat->SetPoweredOn(true);
    const std::size_t before = c.Thermostat->ReportsReceived();
    w.DevPopup->actions().at(0)->trigger();  // the one selected: nothing happens
    QVERIFY(!w.DataTimer->Enabled());
    QCOMPARE(c.Thermostat->ReportsReceived(), before);
    w.DevPopup->actions().at(1)->trigger();
    QCOMPARE(w.SelectedDevice()->SerialNumber(), QStringLiteral("T-2"));
    QVERIFY(TWindowFixture::WaitFor([&] { return w.Requests().Requests().empty(); }));
    QCOMPARE(other->ReportsReceived(), kConnectRequests);
    w.DevPopup->actions().at(0)->trigger();
    QCOMPARE(w.SelectedDevice()->SerialNumber(), QStringLiteral("T-1"));
    QVERIFY(c.Idle());
    QVERIFY(c.Quiet());
    QCOMPARE(c.Thermostat->ReportsReceived(), before + kConnectRequests);
    QCOMPARE(other->ReportsReceived(), kConnectRequests);
    QVERIFY(w.DataTimer->Enabled());
    QCOMPARE(w.StatusText(1), QString());
    // Each selection read the temperature once more, and the recording went on.
    QCOMPARE(w.Record().Count(), std::size_t(3));
    QVERIFY(c.FreshPoll());
    QCOMPARE(w.Record().Count(), std::size_t(4));
  }

  // --- Another thermostat selected

  void aSwitchDropsWhatWasQueuedForThePreviousThermostat() {
    TConnected c;
    TMainFrm& w = *c.W;
    auto other = c.Fx.Plug(Thermostat("T-2"));
    QVERIFY(TWindowFixture::WaitFor([&] { return w.Devices().size() == 2; }));
    c.Thermostat->SetLatency(300ms);
    w.DataTimer->Fire();  // the temperature read on the wire, the status read waiting
    QVERIFY(w.Requests().HeadWritten());
    std::vector<TRequestOutcome> ends;
    w.QueueRequest(rkSetpointWrite, std::string(kSetpointWritePrefix) + "31.5\r",
                   [&](const TRequestDone& done) { ends.push_back(done.Outcome); });
    w.DevPopup->actions().at(1)->trigger();
    QCOMPARE(ends, std::vector<TRequestOutcome>{TRequestOutcome::Dropped});
    QVERIFY(c.Idle());
    QVERIFY(TWindowFixture::WaitFor([&] { return other->PendingInputReports() == 0; }));
    TWindowFixture::Settle(30);
    QCOMPARE(other->ReportsReceived(), kConnectRequests);  // nothing of T-1's
    QCOMPARE(other->Setpoint(), 25.0);
    QCOMPARE(c.Thermostat->Setpoint(), 25.0);
  }

  void aThermostatSelectedAgainIgnoresWhatItSentMeanwhile() {
    TConnected c;
    TMainFrm& w = *c.W;
    c.Fx.Plug(Thermostat("T-2"));
    QVERIFY(TWindowFixture::WaitFor([&] { return w.Devices().size() == 2; }));
    c.Thermostat->SetTemperature(30.0);
    c.Thermostat->SetLatency(200ms);
    w.DataTimer->Fire();  // its answer comes after the switch
    w.DevPopup->actions().at(1)->trigger();
    QVERIFY(c.Idle());
    QVERIFY(c.Quiet());  // T-1's late answer is queued, never handed over
    c.Thermostat->SetLatency(0ms);
    w.DevPopup->actions().at(0)->trigger();  // a setpoint read comes first
    QVERIFY(c.Idle());
    QVERIFY(c.Quiet());
    QCOMPARE(w.Setpoint(), 25.0);
    QCOMPARE(w.edSet->text(), FormatFixed2(25.0, w.LocalFormat()));
    QVERIFY(c.Fx.Prompts.Asked.empty());
  }

  // --- Many thermostats

  void twentyThermostatsComeAndGo() {
    TWindowFixture fx;
    TMainFrm& w = fx.Create();
    std::vector<std::shared_ptr<TSimThermostat>> plugged;
    for (int i = 0; i < 20; ++i) {
      plugged.push_back(fx.Plug(Thermostat("D-" + QByteArray::number(i))));
      if (i % 7 == 3)
        TWindowFixture::Settle(5);
    }
    QVERIFY(TWindowFixture::WaitFor([&] { return w.Devices().size() == 20; }));
    std::mt19937 random(3);
    std::shuffle(plugged.begin(), plugged.end(), random);
    for (int i = 0; i < 15; ++i) {
      QVERIFY(fx.Sim->Unplug(plugged[std::size_t(i)]));
      if (i % 4 == 1)
        TWindowFixture::Settle(5);
      if (i == 6)
        w.DataTimer->Fire();
    }
    QVERIFY(TWindowFixture::WaitFor([&] { return w.Devices().size() == 5; }));
    TWindowFixture::Settle(50);
    std::set<QString> present, listed;
    for (const auto& t : fx.Sim->Present())
      present.insert(QString::fromLatin1(t->Options().Serial));
    for (TJvHidDevice* d : w.Devices())
      listed.insert(d->SerialNumber());
    QCOMPARE(listed, present);
    QCOMPARE(MenuCaptions(w), ListedCaptions(w));
    TJvHidDevice* selected = w.SelectedDevice();
    QVERIFY(!selected ||
            std::find(w.Devices().begin(), w.Devices().end(), selected) != w.Devices().end());
    if (selected) {
      QVERIFY(TWindowFixture::WaitFor([&] { return w.Requests().Requests().empty(); }));
      QCOMPARE(w.StatusText(0), QStringLiteral("Термостат: ") + selected->SerialNumber());
    }
    // Everything goes: nothing is selected and the menu is empty.
    for (int i = 15; i < 20; ++i) {
      QVERIFY(fx.Sim->Unplug(plugged[std::size_t(i)]));
    }
    QVERIFY(TWindowFixture::WaitFor([&] { return w.Devices().empty(); }));
    QVERIFY(!w.SelectedDevice());
    QVERIFY(w.DevPopup->actions().isEmpty());
    QVERIFY(!w.DataTimer->Enabled());
    QCOMPARE(w.StatusText(0), QStringLiteral("Термостат: не выбран"));
    // A newcomer is selected and read.
    auto last = fx.Plug(Thermostat("D-new"));
    QVERIFY(TWindowFixture::WaitFor([&] {
      return w.SelectedDevice() && !w.stTemp->text().isEmpty() && w.Requests().Requests().empty();
    }));
    QCOMPARE(w.SelectedDevice()->SerialNumber(), QStringLiteral("D-new"));
    QCOMPARE(last->ReportsReceived(), kConnectRequests);
    QCOMPARE(MenuCaptions(w), QStringList{"D-new*"});
  }
};

QTEST_MAIN(TestFaults)
#include "test_faults.moc"
