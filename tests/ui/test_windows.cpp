// Several thermostats in several windows over one station: the command line's
// windows, the overview, a new window from the menu and from Ctrl+N, and a
// window closed while the others go on.
#include "app/MainForm.h"
#include "app/Windows.h"
#include "base/Clock.h"
#include "base/Messages.h"
#include "base/Timer.h"
#include "link/Hid.h"
#include "link/SimHidPlatform.h"
#include "link/SimThermostat.h"
#include "record/Journal.h"
#include "remote/RemoteServer.h"
#include "tests/support/ui/ScriptedPrompts.h"
#include "tests/support/ui/WindowFixture.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

using namespace calorix;
using namespace calorix::test;

namespace {

bool WaitFor(const std::function<bool()>& cond) {
  return TWindowFixture::WaitFor(cond, 20000);
}

// The program's windows over simulated thermostats, on the manual clock.
struct TProgramFixture {
  QTemporaryDir Dir;
  TScriptedPrompts Prompts;
  TManualClock Clock;
  TSimHidPlatform* Sim = nullptr;
  std::unique_ptr<TWindows> Windows;

  // folder: the settings file and the state of an earlier run; empty: a new one.
  explicit TProgramFixture(const QStringList& serials, const QStringList& thermostats = {},
                           const QString& folder = {},
                           std::optional<TEndpoint> remote = std::nullopt) {
    TTimer::SetManualMode(true);
    auto sim = std::make_unique<TSimHidPlatform>(std::shared_ptr<IClock>(&Clock, [](IClock*) {}));
    Sim = sim.get();
    for (const QString& serial : serials) {
      TSimThermostatOptions bath;
      bath.Serial = serial.toLatin1();
      bath.Noise = 0.0;
      Sim->Plug(bath);
    }
    TWindowsOptions options;
    options.Prompts = &Prompts;
    options.Clock = &Clock;
    const QDir base(folder.isEmpty() ? Dir.path() : folder);
    options.IniFileName = base.filePath(QStringLiteral("Calorix.ini"));
    options.JournalFolder = base.filePath(QStringLiteral("state"));
    options.Thermostats = thermostats;
    options.Remote = remote;
    Windows = std::make_unique<TWindows>(std::move(options), std::move(sim));
    Windows->Start();
  }
  ~TProgramFixture() {
    Windows.reset();
    TTimer::SetManualMode(false);
  }
  TMainFrm* At(std::size_t i) const {
    const auto list = Windows->List();
    return i < list.size() ? list[i] : nullptr;
  }
  static bool Idle(TMainFrm* w) {
    return WaitFor([&] { return w->SelectedDevice() && w->Requests().Requests().empty(); });
  }
  static bool Poll(TMainFrm* w) {
    w->DataTimer->Fire();
    return Idle(w);
  }
};

QString Title(const QString& serial) {
  return QCoreApplication::translate("calorix::TMainFrm", "Calorix v3.0 - Норвик") +
         QStringLiteral(" [%1]").arg(serial);
}

}  // namespace

class TestWindows : public QObject {
  Q_OBJECT
 private slots:
  void commandLineOpensAWindowPerThermostat() {
    TProgramFixture f({"SIM0001", "SIM0002", "SIM0003"}, {"SIM0002", "SIM0003"});
    QCOMPARE(f.Windows->List().size(), std::size_t(2));
    QVERIFY(f.Idle(f.At(0)) && f.Idle(f.At(1)));
    QCOMPARE(f.At(0)->Session()->Serial(), QStringLiteral("SIM0002"));
    QCOMPARE(f.At(1)->Session()->Serial(), QStringLiteral("SIM0003"));
    QCOMPARE(f.At(0)->windowTitle(), Title("SIM0002"));
    QCOMPARE(f.At(1)->windowTitle(), Title("SIM0003"));

    // One named that is not here: its window waits for it, and takes it when it comes.
    TProgramFixture g({"SIM0001"}, {"SIM0001", "SIM0009"});
    QVERIFY(g.Idle(g.At(0)));
    QCOMPARE(g.At(1)->StatusText(0), LoadStr(1111).arg("SIM0009"));
    TSimThermostatOptions late;
    late.Serial = "SIM0009";
    g.Sim->Plug(late);
    QVERIFY(g.Idle(g.At(1)));
    QCOMPARE(g.At(1)->Session()->Serial(), QStringLiteral("SIM0009"));
  }

  void overviewMenuAndCtrlNOpenWindows() {
    TProgramFixture f({"SIM0001", "SIM0002", "SIM0003"});
    TMainFrm* first = f.At(0);
    QVERIFY(f.Idle(first));
    QCOMPARE(first->windowTitle(),
             QCoreApplication::translate("calorix::TMainFrm", "Calorix v3.0 - Норвик"));
    first->Tabs->setCurrentWidget(first->OverviewTab);
    QVERIFY(WaitFor([&] { return first->OverviewTable->rowCount() == 3; }));
    QCOMPARE(first->OverviewTable->item(0, 0)->text(), QStringLiteral("SIM0001"));
    QCOMPARE(first->OverviewTable->item(0, 2)->text(), LoadStr(1121));  // this window
    QCOMPARE(first->OverviewTable->item(1, 2)->text(), LoadStr(1123));  // none

    // "Открыть в новом окне" on the second thermostat of the menu.
    first->OpenInNewWindow(1);
    QCOMPARE(f.Windows->List().size(), std::size_t(2));
    QVERIFY(f.Idle(f.At(1)));
    QCOMPARE(f.At(1)->Session()->Serial(), QStringLiteral("SIM0002"));
    QCOMPARE(first->windowTitle(), Title("SIM0001"));
    QVERIFY(
        WaitFor([&] { return first->OverviewTable->item(1, 2)->text() == LoadStr(1122).arg(2); }));

    // Ctrl+N: the first thermostat that no window shows; then none is left.
    first->NewWindowAction->trigger();
    QCOMPARE(f.Windows->List().size(), std::size_t(3));
    QVERIFY(f.Idle(f.At(2)));
    QCOMPARE(f.At(2)->Session()->Serial(), QStringLiteral("SIM0003"));
    first->NewWindowAction->trigger();
    QCOMPARE(f.Windows->List().size(), std::size_t(3));
    QCOMPARE(first->StatusText(1), LoadStr(1131));

    // A double-click on a shown thermostat brings its window up, it opens none.
    first->OverviewRowOpen(2);
    QCOMPARE(f.Windows->List().size(), std::size_t(3));
  }

  void closingOneWindowLeavesTheOthersRecording() {
    TProgramFixture f({"SIM0001", "SIM0002"});
    TMainFrm* first = f.At(0);
    QVERIFY(f.Idle(first));
    first->NewWindowAction->trigger();
    QPointer<TMainFrm> second = f.At(1);
    QVERIFY(f.Idle(second));
    for (TMainFrm* w : {first, second.data()})
      w->RecordBtn->click();
    f.Clock.AdvanceSeconds(1);
    QVERIFY(f.Poll(first) && f.Poll(second));
    f.Prompts.YesNo = {false};  // the unsaved record of the closed window is not saved
    second->close();
    QVERIFY(WaitFor([&] {
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
      return second.isNull();
    }));
    QCOMPARE(f.Prompts.Count("confirm"), 1);
    QCOMPARE(f.Windows->List().size(), std::size_t(1));
    f.Clock.AdvanceSeconds(1);
    QVERIFY(f.Poll(first));
    QCOMPARE(first->Record().Count(), std::size_t(2));
    QVERIFY(first->Recording());
    // Its thermostat is free again: Ctrl+N takes it.
    first->NewWindowAction->trigger();
    QCOMPARE(f.Windows->List().size(), std::size_t(2));
    QVERIFY(f.Idle(f.At(1)));
  }

  // The SCPI port is the program's: closing the first window leaves it
  // listening for the others, shown in their status bars, and a client then
  // addresses the thermostat of the window that is left.
  void thePortStaysWhileAnyWindowIsOpen() {
    TProgramFixture f({"SIM0001", "SIM0002"}, {"SIM0001", "SIM0002"}, {},
                      TEndpoint{QStringLiteral("127.0.0.1"), 0});
    QVERIFY(f.Idle(f.At(0)) && f.Idle(f.At(1)));
    TRemoteServer* server = f.Windows->Services()->Remote().Server();
    QVERIFY(server);
    QPointer<TMainFrm> first = f.At(0);
    first->close();
    QVERIFY(WaitFor([&] {
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
      return first.isNull();
    }));
    QCOMPARE(f.Windows->Services()->Remote().Server(), server);
    auto* panel = f.At(0)->findChild<QLabel*>(QStringLiteral("RemotePanel"));
    QVERIFY(panel && !panel->isHidden());
    QCOMPARE(panel->text(), LoadStr(1070).arg(QStringLiteral("127.0.0.1:0")).arg(0));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server->Port());
    client.write("SYST:DEV?\n");
    QVERIFY(WaitFor([&] { return client.canReadLine(); }));
    QCOMPARE(client.readLine(), QByteArray("\"SIM0002\"\n"));
  }

  // A run that ended without closing left the record of a thermostat's own
  // window: the next start names the thermostat and restores it into a window
  // bound to it.
  void aCrashedWindowsRecordComesBackInItsOwnWindow() {
    QTemporaryDir run;
    {
      TProgramFixture f({"SIM0001", "SIM0002"}, {}, run.path());
      QVERIFY(f.Idle(f.At(0)));
      f.At(0)->NewWindowAction->trigger();
      TMainFrm* second = f.At(1);
      QVERIFY(f.Idle(second));
      second->RecordBtn->click();
      for (int i = 0; i < 3; ++i) {
        f.Clock.AdvanceSeconds(1);
        QVERIFY(f.Poll(second));
      }
      second->Journal()->Flush();
      QVERIFY(second->Journal()->Path().contains("@SIM0002"));
    }  // as if killed: no close, no question
    TProgramFixture f({"SIM0001", "SIM0002"}, {}, run.path());
    f.Prompts.YesNo = {true};
    QVERIFY(
        WaitFor([&] { return f.Windows->List().size() == 2 && f.At(1)->Record().Count() == 3; }));
    QCOMPARE(f.Prompts.Count("confirm"), 1);
    QVERIFY2(f.Prompts.Asked.back().Text.contains("SIM0002"),
             qPrintable(f.Prompts.Asked.back().Text));
    QCOMPARE(f.At(1)->BoundSerial(), QStringLiteral("SIM0002"));
    QVERIFY(f.At(1)->Modified());
    QCOMPARE(f.At(0)->Record().Count(), std::size_t(0));
  }
};

QTEST_MAIN(TestWindows)
#include "test_windows.moc"
