// Thermostats found, listed, selected and lost, through simulated devices.
#include "app/MainForm.h"
#include "link/Hid.h"
#include "tests/support/ui/WindowFixture.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

using namespace calorix;
using calorix::test::TWindowFixture;

namespace {

TSimThermostatOptions Thermostat(const char* serial, const char* vendor = "Norvik",
                                 const char* product = "USB Thermostat") {
  TSimThermostatOptions o;
  o.Serial = serial;
  o.Manufacturer = vendor;
  o.Product = product;
  return o;
}

TSimThermostatOptions Adapter(const char* serial) {
  TSimThermostatOptions o = Thermostat(serial, "Norvik", "USB-HID Adapter");
  o.Framing = TSimFraming::Adapter;
  return o;
}

QStringList MenuCaptions(const TMainFrm& w) {
  QStringList out;
  for (QAction* a : w.DevPopup->actions())
    out << a->text() + (a->isChecked() ? "*" : "");
  return out;
}

QString Serial(const TMainFrm& w) {
  return w.SelectedDevice() ? w.SelectedDevice()->SerialNumber() : QString();
}

}  // namespace

class TestDevices : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void theThermostatPluggedInAtStartIsSelectedAndRead() {
    TWindowFixture fx;
    fx.Plug(Thermostat("T-1"));
    TMainFrm& w = fx.Create();
    QVERIFY(!w.SelectedDevice());  // the first scan runs from the event loop
    QVERIFY(fx.WaitFor([&] { return w.SelectedDevice() != nullptr; }));
    QCOMPARE(w.StatusText(0), QStringLiteral("Термостат: T-1"));
    QVERIFY(w.RecordBtn->isEnabled());
    QVERIFY(!w.edConsole->isReadOnly());
    QVERIFY(w.DataTimer->Enabled());
    // Setpoint, readiness band and temperature are read in turn.
    QVERIFY(fx.WaitFor([&] { return !w.stTemp->text().isEmpty(); }));
    QCOMPARE(w.edSet->text(), FormatFixed2(25.0, w.LocalFormat()));
    QVERIFY(w.Requests().Requests().empty());
    QCOMPARE(MenuCaptions(w), QStringList{"T-1*"});
  }

  void aSecondThermostatIsListedWithoutChangingTheSelection() {
    TWindowFixture fx;
    fx.Plug(Thermostat("T-1"));
    TMainFrm& w = fx.Create();
    QVERIFY(fx.WaitFor([&] { return w.SelectedDevice() != nullptr; }));
    fx.Plug(Thermostat("T-2"));
    QVERIFY(fx.WaitFor([&] { return w.Devices().size() == 2; }));
    QCOMPARE(Serial(w), QStringLiteral("T-1"));
    QCOMPARE(MenuCaptions(w), (QStringList{"T-1*", "T-2"}));
  }

  // Both baths stand at their setpoint: the time in band counts from the
  // first reading of each, never from the one before.
  void afterTheSelectedOneGoesTheOlderOneIsSelectedWhenAThirdArrives() {
    TWindowFixture fx;
    TSimThermostatOptions settled = Thermostat("T-1");
    settled.Temperature = settled.Setpoint;
    auto first = fx.Plug(settled);
    settled.Serial = "T-2";
    fx.Plug(settled);
    TMainFrm& w = fx.Create();
    QVERIFY(fx.WaitFor([&] { return w.Devices().size() == 2; }));
    QCOMPARE(Serial(w), QStringLiteral("T-1"));
    auto inBand = [&](int seconds) {
      return QStringLiteral("В допуске: ") + FormatElapsed(seconds / 86400.0, w.LocalFormat());
    };
    QVERIFY(fx.WaitFor([&] { return w.stInBand->text() == inBand(0); }));
    fx.Clock.AdvanceSeconds(90);
    w.DataTimer->Fire();
    QVERIFY(fx.WaitFor([&] { return w.stInBand->text() == inBand(90); }));
    fx.Clock.AdvanceSeconds(30);
    fx.Sim->Unplug(first);
    QVERIFY(fx.WaitFor([&] { return w.Devices().size() == 1; }));
    QVERIFY(!w.SelectedDevice());
    QCOMPARE(w.StatusText(0), QStringLiteral("Термостат: не выбран"));
    QVERIFY(!w.DataTimer->Enabled());
    QVERIFY(w.stTemp->text().isEmpty());
    QVERIFY(w.stInBand->text().isEmpty());
    QCOMPARE(MenuCaptions(w), QStringList{"T-2"});
    fx.Plug(Thermostat("T-3"));
    QVERIFY(fx.WaitFor([&] { return w.SelectedDevice() != nullptr; }));
    QCOMPARE(Serial(w), QStringLiteral("T-2"));
    QCOMPARE(MenuCaptions(w), (QStringList{"T-2*", "T-3"}));
    // The new selection's requests go out although the old one was lost
    // mid-way, and its time in band starts at its own first reading.
    QVERIFY(fx.WaitFor([&] { return !w.stTemp->text().isEmpty(); }));
    QVERIFY(fx.WaitFor([&] { return !w.stInBand->text().isEmpty(); }));
    QCOMPARE(w.stInBand->text(), inBand(0));
  }

  void menuItemsSelectTheirOwnDeviceByPosition() {
    TWindowFixture fx;
    fx.Plug(Thermostat("SAME"));
    fx.Plug(Thermostat("SAME"));
    TMainFrm& w = fx.Create();
    QVERIFY(fx.WaitFor([&] { return w.Devices().size() == 2; }));
    TJvHidDevice* firstDev = w.SelectedDevice();
    QCOMPARE(MenuCaptions(w), (QStringList{"SAME*", "SAME#2"}));
    w.DevPopup->actions().at(0)->trigger();  // the selected one: nothing changes
    QCOMPARE(w.SelectedDevice(), firstDev);
    w.DevPopup->actions().at(1)->trigger();
    QCOMPARE(w.SelectedDevice(), w.Devices().at(1));
    QCOMPARE(MenuCaptions(w), (QStringList{"SAME", "SAME#2*"}));
  }

  void removingAnUnselectedThermostatShiftsTheTags() {
    TWindowFixture fx;
    fx.Plug(Thermostat("A"));
    auto b = fx.Plug(Thermostat("B"));
    fx.Plug(Thermostat("C"));
    TMainFrm& w = fx.Create();
    QVERIFY(fx.WaitFor([&] { return w.Devices().size() == 3; }));
    fx.Sim->Unplug(b);
    QVERIFY(fx.WaitFor([&] { return w.Devices().size() == 2; }));
    QCOMPARE(MenuCaptions(w), (QStringList{"A*", "C"}));
    QCOMPARE(w.DevPopup->actions().at(1)->data().toInt(), 1);
    w.DevPopup->actions().at(1)->trigger();
    QCOMPARE(Serial(w), QStringLiteral("C"));
  }

  void onlyTheMakersAcceptedProductsAreTaken_data() {
    QTest::addColumn<QByteArray>("vendor");
    QTest::addColumn<QByteArray>("product");
    QTest::addColumn<bool>("taken");
    QTest::newRow("NORVIK") << QByteArray("NORVIK") << QByteArray("USB Thermostat") << true;
    QTest::newRow("Norvik") << QByteArray("Norvik") << QByteArray("USB Thermostat") << true;
    QTest::newRow("Norvik Ltd") << QByteArray("Norvik Ltd") << QByteArray("USB Thermostat")
                                << false;
    QTest::newRow("leading blank")
        << QByteArray(" norvik") << QByteArray("USB Thermostat") << false;
    QTest::newRow("Adapter alone") << QByteArray("Norvik") << QByteArray("Adapter") << false;
    QTest::newRow("ADAPTER USB") << QByteArray("Norvik") << QByteArray("ADAPTER USB") << false;
    QTest::newRow("other maker") << QByteArray("Acme") << QByteArray("USB Thermostat") << false;
  }
  void onlyTheMakersAcceptedProductsAreTaken() {
    QFETCH(QByteArray, vendor);
    QFETCH(QByteArray, product);
    QFETCH(bool, taken);
    TWindowFixture fx;
    fx.Plug(Thermostat("X", vendor.constData(), product.constData()));
    TMainFrm& w = fx.Create();
    fx.Settle(150);
    QCOMPARE(w.Devices().size(), std::size_t(taken ? 1 : 0));
    QCOMPARE(w.DevPopup->actions().isEmpty(), !taken);
  }

  void anAdapterGetsItsSetUpReportAndAdapterFraming() {
    TWindowFixture fx;
    auto a = fx.Plug(Adapter("AD-1"));
    TMainFrm& w = fx.Create();
    QVERIFY(fx.WaitFor([&] { return w.SelectedDevice() != nullptr; }));
    QVERIFY(a->SetupReceived());
    QVERIFY(fx.WaitFor([&] { return !w.stTemp->text().isEmpty(); }));
    QCOMPARE(w.edSet->text(), FormatFixed2(25.0, w.LocalFormat()));
  }

  void aThermostatHeldByAnotherProgramIsShownBusyAndPassedOver() {
    TWindowFixture fx;
    TSimThermostatOptions held = Thermostat("T-1");
    held.Busy = true;
    auto first = fx.Plug(held);
    auto second = fx.Plug(Thermostat("T-2"));
    TMainFrm& w = fx.Create();
    QVERIFY(fx.WaitFor([&] { return w.Devices().size() == 2 && w.SelectedDevice(); }));
    const QStringList busyFirst{"T-1 (занят другой программой)", "T-2*"};
    QCOMPARE(Serial(w), QStringLiteral("T-2"));
    QCOMPARE(MenuCaptions(w), busyFirst);
    QVERIFY(second->Locked());
    // Chosen while still held: refused, and said in the status bar.
    w.DevPopup->actions().at(0)->trigger();
    QCOMPARE(Serial(w), QStringLiteral("T-2"));
    QCOMPARE(w.StatusText(1), QStringLiteral("Термостат T-1 занят другой программой"));
    QCOMPARE(MenuCaptions(w), busyFirst);
    QCOMPARE(first->ReportsReceived(), std::size_t(0));
    // Given back: chosen, and the one left is free for other programs.
    first->SetBusy(false);
    w.DevPopup->actions().at(0)->trigger();
    QCOMPARE(Serial(w), QStringLiteral("T-1"));
    QCOMPARE(MenuCaptions(w), (QStringList{"T-1*", "T-2"}));
    QVERIFY(first->Locked());
    QVERIFY(!second->Locked());
    QCOMPARE(w.StatusText(1), QString());
    QVERIFY(fx.WaitFor([&] { return first->ReportsReceived() == 3; }));
  }

  void aSwitchedOffThermostatStopsThePolling() {
    TWindowFixture fx;
    auto t = fx.Plug(Thermostat("T-1"));
    TMainFrm& w = fx.Create();
    QVERIFY(fx.WaitFor([&] { return !w.stTemp->text().isEmpty(); }));
    QVERIFY(fx.WaitFor([&] { return w.Requests().Requests().empty(); }));
    t->SetPoweredOn(false);
    w.DataTimer->Fire();
    QVERIFY(fx.WaitFor([&] { return !w.DataTimer->Enabled(); }));
    QCOMPARE(w.StatusText(1), QStringLiteral("Термостат выключен"));
    QVERIFY(w.Requests().Requests().empty());
    QVERIFY(fx.Prompts.Asked.empty());
  }

  void aBrokenProductPatternIsReportedOnce() {
    TWindowFixture fx;
    fx.WriteIni("[usb]\r\npname=thermo(stat\r\n");
    fx.Plug(Thermostat("T-1"));
    fx.Plug(Thermostat("T-2"));
    TMainFrm& w = fx.Create();
    fx.Settle(200);
    QVERIFY(w.Devices().empty());
    QCOMPARE(fx.Prompts.Count(QStringLiteral("exception")), 1);
    QVERIFY(fx.Prompts.Asked.front().Text.startsWith("Error in regular expression at offset "));
  }
};

QTEST_MAIN(TestDevices)
#include "test_devices.moc"
