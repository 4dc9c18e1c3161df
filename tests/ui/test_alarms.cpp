// A bath's alarm in the window: the red line under "Защита:", its button, the
// title and the overview's row; the group "Тревоги" of the settings dialog.
#include "app/MainForm.h"
#include "app/SettingsForm.h"
#include "base/Messages.h"
#include "tests/support/ui/WindowFixture.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QTest>

using namespace calorix;
using calorix::test::TWindowFixture;

class TestAlarms : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void aProtectionAlarmShowsUntilAcknowledgedAndCleared() {
    TWindowFixture fx;
    TSimThermostatOptions bath;
    bath.Serial = "SN-1";
    auto thermostat = fx.Plug(bath);
    TMainFrm& w = fx.Create();
    w.show();
    QVERIFY(fx.WaitFor([&] { return w.Session()->Device() && w.Requests().Requests().empty(); }));
    const QString title = w.windowTitle();
    auto* line = w.findChild<QLabel*>(QStringLiteral("stAlarms"));
    auto* button = w.findChild<QPushButton*>(QStringLiteral("AckAlarmsBtn"));
    w.Tabs->setCurrentWidget(w.OverviewTab);
    QVERIFY(fx.WaitFor([&] { return w.OverviewTable->rowCount() == 1; }));
    QVERIFY(line->isHidden());
    QVERIFY(button->isHidden());

    thermostat->SetAlarm("000001");
    fx.Clock.AdvanceSeconds(1);
    w.DataTimer->Fire();
    QVERIFY(fx.WaitFor([&] { return line->isVisible(); }));
    const QDateTime raised = w.Session()->Alarms().List().at(0).Raised;
    QCOMPARE(line->text(), QStringLiteral("Тревога: защита (перегрев) с ") +
                               raised.toLocalTime().toString(QStringLiteral("HH:mm:ss")));
    QVERIFY(button->isVisible());
    QCOMPARE(button->text(), QStringLiteral("Подтвердить"));
    QCOMPARE(w.windowTitle(), QStringLiteral("ТРЕВОГА - ") + title);
    QTableWidgetItem* serial = w.OverviewTable->item(0, 0);
    QCOMPARE(serial->background().color(), QColor(255, 200, 200));
    QCOMPARE(serial->toolTip(), line->text());

    // Acknowledged while active: the line stays, the button goes.
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(line->isVisible());
    QVERIFY(button->isHidden());

    // Cleared once acknowledged: everything is as before.
    thermostat->SetAlarm("000000");
    fx.Clock.AdvanceSeconds(1);
    w.DataTimer->Fire();
    QVERIFY(fx.WaitFor([&] { return line->isHidden(); }));
    QCOMPARE(w.windowTitle(), title);
    QCOMPARE(w.OverviewTable->item(0, 0)->background().style(), Qt::NoBrush);
  }

  void theDialogRefusesBadValuesAndWritesOnlyOwnSettings() {
    TWindowFixture fx;
    TMainFrm& w = fx.Create();
    TSettingsFrm settings(&w, w.PollTimeRef());
    w.SetSettingsForm(&settings);
    QStringList refusals, shown;
    fx.Prompts.OnDialog = [&](QDialog& d) {
      for (const char* name : {"edAlarmBand", "edAlarmDelay", "edAlarmHigh", "edAlarmLow"})
        shown << d.findChild<QLineEdit*>(QString::fromLatin1(name))->text();
      d.findChild<QPushButton*>(QStringLiteral("OkBtn"))->click();  // the defaults
      return d.result();
    };
    w.SettingsBtn->click();
    QCOMPARE(shown, (QStringList{"0", "60", "", ""}));
    QVERIFY(!fx.ReadIni().contains("[Alarm]"));

    fx.Prompts.OnDialog = [&](QDialog& d) {
      const auto edit = [&](const char* name) {
        return d.findChild<QLineEdit*>(QString::fromLatin1(name));
      };
      auto* ok = d.findChild<QPushButton*>(QStringLiteral("OkBtn"));
      auto* error = d.findChild<QLabel*>(QStringLiteral("SectionError"));
      edit("edAlarmBand")->setText(QStringLiteral("-1"));
      ok->click();
      refusals << error->text();
      edit("edAlarmBand")->setText(QStringLiteral("0,5"));
      edit("edAlarmHigh")->setText(QStringLiteral("10"));
      edit("edAlarmLow")->setText(QStringLiteral("20"));
      ok->click();
      refusals << error->text();
      edit("edAlarmLow")->clear();
      ok->click();
      return d.result();
    };
    w.SettingsBtn->click();
    QCOMPARE(refusals, (QStringList{LoadStr(1157), LoadStr(1160)}));
    QCOMPARE(w.Session()->Alarms().Settings().Band, 0.5);
    QCOMPARE(w.Session()->Alarms().Settings().High, std::optional<double>(10.0));
    const QByteArray ini = fx.ReadIni();
    QVERIFY2(ini.contains("[Alarm]\r\nBand=0.5\r\nDelay=60\r\nHigh=10\r\nLow=\r\nNotify=1\r\n"),
             ini.constData());
    w.SetSettingsForm(nullptr);
  }
};

QTEST_MAIN(TestAlarms)
#include "test_alarms.moc"
