// The main window's life: first start, settings file, settings dialog, closing.
#include "app/MainForm.h"
#include "app/SettingsForm.h"
#include "base/Messages.h"
#include "station/Session.h"
#include "tests/support/ui/WindowFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <QDir>

using namespace calorix;
using calorix::test::TWindowFixture;

class TestMainWindow : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void firstStartShowsTheStateWithoutThermostat() {
    TWindowFixture fx;
    TMainFrm& w = fx.Create();
    QCOMPARE(w.windowTitle(), QStringLiteral("Calorix v3.0 - Норвик"));
    QCOMPARE(w.StatusText(0), QStringLiteral("Термостат: не выбран"));
    QCOMPARE(w.StatusText(1), QString());
    QVERIFY(!w.RecordBtn->isEnabled());
    QVERIFY(w.edConsole->isReadOnly());
    QVERIFY(w.stTemp->text().isEmpty());
    QVERIFY(w.edSet->text().isEmpty());
    QCOMPARE(w.PollTime(), 1000);
    QCOMPARE(w.DataTimer->Interval(), 1000);
    QVERIFY(!w.DataTimer->Enabled());
    QCOMPARE(w.TrackBar->value(), 0);
    QCOMPARE(w.Tabs->currentIndex(), 0);
    QCOMPARE(w.Tabs->tabText(0), QStringLiteral("Графики"));
    QCOMPARE(w.Tabs->tabText(1), QStringLiteral("Значения"));
    QCOMPARE(w.Tabs->tabText(2), QStringLiteral("События"));
    QCOMPARE(w.Tabs->tabText(3), QStringLiteral("Консоль"));
    QCOMPARE(w.OpenAction->shortcut(), QKeySequence(QStringLiteral("Ctrl+O")));
    QCOMPARE(w.SaveAction->shortcut(), QKeySequence(QStringLiteral("Ctrl+S")));
    QCOMPARE(w.PrintAction->shortcut(), QKeySequence(QStringLiteral("Ctrl+P")));
    QCOMPARE(w.size(), QSize(970, 629));
    QVERIFY(fx.Prompts.Asked.empty());
  }

  void pollTimeIsReadFromTheSettingsFile_data() {
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("expected");
    QTest::newRow("plain") << QByteArray("2500") << 2500;
    QTest::newRow("hex 0x") << QByteArray("0x7D0") << 2000;
    QTest::newRow("hex $") << QByteArray("$7D0") << 2000;
    QTest::newRow("below minimum") << QByteArray("500") << 1000;
    QTest::newRow("not a number") << QByteArray("fast") << 1000;
    QTest::newRow("empty") << QByteArray("") << 1000;
  }
  void pollTimeIsReadFromTheSettingsFile() {
    QFETCH(QByteArray, value);
    QFETCH(int, expected);
    TWindowFixture fx;
    fx.WriteIni("[chart]\r\npolltime=" + value + "\r\n");
    TMainFrm& w = fx.Create();
    QCOMPARE(w.PollTime(), expected);
    QCOMPARE(w.DataTimer->Interval(), expected);
  }

  void closingWritesExactlyThePlacementAndChartKeys() {
    TWindowFixture fx;
    fx.Create();
    fx.Close();
    const QByteArray ini = fx.ReadIni();
    const QList<QByteArray> lines = ini.split('\n');
    QStringList keys;
    QStringList sections;
    for (QByteArray l : lines) {
      l = l.trimmed();
      if (l.startsWith('['))
        sections << QString::fromUtf8(l);
      else if (l.contains('='))
        keys << QString::fromUtf8(l.left(l.indexOf('=')));
    }
    QCOMPARE(sections, (QStringList{"[MainFrm]", "[Chart]"}));
    QCOMPARE(keys, (QStringList{"maximized", "width", "height", "left", "top", "RAxis", "Frame",
                                "MaxY", "PollTime"}));
    QVERIFY(ini.contains("maximized=0\r\n"));
    QVERIFY(ini.contains("PollTime=1000\r\n"));
    QVERIFY(ini.contains("RAxis=0\r\n"));
    QVERIFY(ini.contains("Frame=1\r\n"));
    QVERIFY(ini.contains("MaxY=2000\r\n"));
    QVERIFY(fx.Prompts.Asked.empty());  // nothing unsaved, nothing asked
  }

  void closingKeepsTheUsbSectionAndOtherKeys() {
    TWindowFixture fx;
    fx.WriteIni(
        "; hand-written\r\n[usb]\r\npname=thermo\r\n[Chart]\r\nPollTime=3000\r\nExtra=1\r\n");
    fx.Create();
    fx.Close();
    const QByteArray ini = fx.ReadIni();
    QVERIFY(ini.startsWith("; hand-written\r\n[usb]\r\npname=thermo\r\n"));
    QVERIFY(ini.contains("PollTime=3000\r\n"));
    QVERIFY(ini.contains("Extra=1\r\n"));
  }

  void aSettingsFileThatCannotBeWrittenIsReportedOnceAndTheWindowCloses() {
    // A folder where the file should be: no write can succeed, even as root.
    TWindowFixture fx;
    QDir().mkpath(fx.IniPath());
    TMainFrm& w = fx.Create();
    w.show();
    fx.Close();
    QVERIFY(!w.isVisible());
    QCOMPARE(fx.Prompts.Count(QStringLiteral("error")), 1);
    QVERIFY(fx.Prompts.Errors().first().contains(fx.IniPath()));
  }

  void settingsDialogLimitsThePeriod_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<int>("expected");
    QTest::newRow("500") << "500" << 1000;
    QTest::newRow("60000") << "60000" << 60000;
    QTest::newRow("120000") << "120000" << 60000;
    QTest::newRow("empty") << "" << 1000;
    QTest::newRow("2500") << "2500" << 2500;
  }
  void settingsDialogLimitsThePeriod() {
    QFETCH(QString, typed);
    QFETCH(int, expected);
    TWindowFixture fx;
    TMainFrm& w = fx.Create();
    TSettingsFrm settings(&w, w.PollTimeRef());
    w.SetSettingsForm(&settings);
    QString shown;
    fx.Prompts.OnDialog = [&](QDialog& d) {
      auto* edit = d.findChild<QLineEdit*>(QStringLiteral("edPollingTime"));
      shown = edit->text();
      edit->setText(typed);
      d.findChild<QPushButton*>(QStringLiteral("OkBtn"))->click();
      return d.result();
    };
    w.SettingsBtn->click();
    QCOMPARE(shown, QStringLiteral("1000"));
    QCOMPARE(w.PollTime(), expected);
    QCOMPARE(w.DataTimer->Interval(), expected);
    // The bath's log keeps a change, under the settings file's key, and nothing else.
    QStringList changes;
    for (const TEvent& e : w.Session()->Events()) {
      if (e.Kind == TEventKind::SettingChanged)
        changes << e.Values.value(QStringLiteral("key")).toString() + QLatin1Char(' ') +
                       e.Values.value(QStringLiteral("old")).toString() + QLatin1Char(' ') +
                       e.Values.value(QStringLiteral("new")).toString();
    }
    QCOMPARE(changes, expected == 1000
                          ? QStringList()
                          : QStringList{QStringLiteral("Chart/PollTime 1000 %1").arg(expected)});
    w.SetSettingsForm(nullptr);
  }

  void cancelledSettingsDialogChangesNothing() {
    TWindowFixture fx;
    TMainFrm& w = fx.Create();
    TSettingsFrm settings(&w, w.PollTimeRef());
    w.SetSettingsForm(&settings);
    fx.Prompts.OnDialog = [&](QDialog& d) {
      d.findChild<QLineEdit*>(QStringLiteral("edPollingTime"))->setText(QStringLiteral("5000"));
      d.findChild<QPushButton*>(QStringLiteral("CancelBtn"))->click();
      return d.result();
    };
    w.SettingsBtn->click();
    QCOMPARE(w.PollTime(), 1000);
    // Shown again: the current period, not the text typed before the cancel.
    QString shown;
    fx.Prompts.OnDialog = [&](QDialog& d) {
      shown = d.findChild<QLineEdit*>(QStringLiteral("edPollingTime"))->text();
      return int(QDialog::Rejected);
    };
    w.SettingsBtn->click();
    QCOMPARE(shown, QStringLiteral("1000"));
    w.SetSettingsForm(nullptr);
  }

  // The dialog shows the language of the file (anything but "en" is Russian);
  // OK with a choice writes it; the default alone adds no section.
  void languageIsReadFromTheFileAndWrittenBack_data() {
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("choose");  // empty: the dialog is not used
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QByteArray>("written");  // empty: no section UI
    QTest::newRow("none") << QByteArray() << ""
                          << "Русский" << QByteArray();
    QTest::newRow("ru") << QByteArray("[UI]\r\nLanguage=ru\r\n") << ""
                        << "Русский" << QByteArray("Language=ru\r\n");
    QTest::newRow("en") << QByteArray("[ui]\r\nlanguage=en\r\n") << ""
                        << "English" << QByteArray("language=en\r\n");
    QTest::newRow("garbage") << QByteArray("[UI]\r\nLanguage=de\r\n") << ""
                             << "Русский" << QByteArray("Language=ru\r\n");
    QTest::newRow("upper case") << QByteArray("[UI]\r\nLanguage=EN\r\n") << ""
                                << "Русский" << QByteArray("Language=ru\r\n");
    QTest::newRow("English chosen") << QByteArray() << "English"
                                    << "Русский" << QByteArray("[UI]\r\nLanguage=en\r\n");
    QTest::newRow("Russian chosen") << QByteArray("[UI]\r\nLanguage=en\r\n") << "Русский"
                                    << "English" << QByteArray("Language=ru\r\n");
    QTest::newRow("Russian kept") << QByteArray() << "Русский"
                                  << "Русский" << QByteArray();
  }
  void languageIsReadFromTheFileAndWrittenBack() {
    QFETCH(QByteArray, file);
    QFETCH(QString, choose);
    QFETCH(QString, shown);
    QFETCH(QByteArray, written);
    TWindowFixture fx;
    if (!file.isEmpty())
      fx.WriteIni(file);
    TMainFrm& w = fx.Create();
    TSettingsFrm settings(&w, w.PollTimeRef());
    w.SetSettingsForm(&settings);
    QString seen;
    fx.Prompts.OnDialog = [&](QDialog& d) {
      auto* combo = d.findChild<QComboBox*>(QStringLiteral("cbLanguage"));
      seen = combo->currentText();
      if (!choose.isEmpty())
        combo->setCurrentIndex(combo->findText(choose));
      d.findChild<QPushButton*>(QStringLiteral("OkBtn"))->click();
      return d.result();
    };
    w.SettingsBtn->click();
    QCOMPARE(seen, shown);
    // The note says when the choice takes effect.
    QCOMPARE(settings.findChild<QLabel*>(QStringLiteral("LanguageNote"))->text(),
             QStringLiteral("Язык сменится при следующем запуске программы."));
    w.SetSettingsForm(nullptr);
    fx.Close();
    const QByteArray ini = fx.ReadIni();
    if (written.isEmpty())
      QVERIFY2(!ini.toLower().contains("[ui]"), ini.constData());
    else
      QVERIFY2(ini.contains(written), ini.constData());
  }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
