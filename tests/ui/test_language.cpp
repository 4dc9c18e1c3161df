// The interface language: the settings file says "en", the translations are
// loaded before the window exists (as the program entry does), and the window,
// its questions and Qt's own dialogs speak English; Russian otherwise.
#include "app/MainForm.h"
#include "base/IniFile.h"
#include "base/Language.h"
#include "base/Messages.h"
#include "link/Hid.h"
#include "record/Journal.h"
#include "tests/support/ui/WindowFixture.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>
#include <QTranslator>

using namespace calorix;
using calorix::test::TWindowFixture;

class TestLanguage : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void theWindowSpeaksEnglishWithLanguageEn() {
    TWindowFixture fx;
    fx.WriteIni("[UI]\r\nLanguage=en\r\n");
    const TTranslations translations(ReadLanguage(TIniFile(fx.IniPath())));
    QVERIFY(translations.Loaded());
    fx.Plug();
    TMainFrm& w = fx.Create();
    QCOMPARE(w.windowTitle(), QStringLiteral("Calorix v3.0 - Norvik"));
    QCOMPARE(w.StatusText(0), QStringLiteral("Thermostat: none selected"));
    QCOMPARE(w.RecordBtn->text(), QStringLiteral("Record"));
    QCOMPARE(w.SettingsBtn->text(), QStringLiteral("Settings"));
    QCOMPARE(w.StaticText1->text(), QStringLiteral("Protection:"));
    QCOMPARE(w.Tabs->tabText(0), QStringLiteral("Chart"));
    QCOMPARE(w.Tabs->tabText(1), QStringLiteral("Values"));
    QCOMPARE(w.Tabs->tabText(2), QStringLiteral("Events"));
    QCOMPARE(w.Tabs->tabText(4), QStringLiteral("Program"));

    QVERIFY(
        TWindowFixture::WaitFor([&] { return w.SelectedDevice() && !w.stTemp->text().isEmpty(); }));
    fx.Clock.AdvanceSeconds(1.0);
    w.DataTimer->Fire();  // one poll: the protection status comes in
    QVERIFY(TWindowFixture::WaitFor([&] { return !w.stAlarm->text().isEmpty(); }));
    QCOMPARE(w.StatusText(0), QStringLiteral("Thermostat: ") + w.SelectedDevice()->SerialNumber());
    QCOMPARE(w.stAlarm->text(), QStringLiteral("normal"));
    QCOMPARE(w.stInBand->text(), QStringLiteral("Out of band"));  // 20 °C in the bath, 25 set
    QCOMPARE(w.FramePopup->actions().at(1)->text(), QStringLiteral("15 minutes"));
    // The count's noun by the English rule, not the Russian one (21 takes the singular there).
    QVERIFY(RestoreQuestion(21, 0.0, 0)
                .startsWith(QStringLiteral("An unfinished record was found: 21 samples over ")));
    QVERIFY(RestoreQuestion(1, 0.0, 0).startsWith(
        QStringLiteral("An unfinished record was found: 1 sample over ")));
    w.RecordBtn->click();
    QCOMPARE(w.RecordBtn->text(), QStringLiteral("Stop"));
    fx.Clock.AdvanceSeconds(1.0);
    w.DataTimer->Fire();
    QVERIFY(TWindowFixture::WaitFor([&] { return w.Record().Count() == 1; }));

    fx.Prompts.YesNo = {false};
    w.ClearBtn->click();
    QCOMPARE(fx.Prompts.Asked.back().Kind, QStringLiteral("warn"));
    QCOMPARE(fx.Prompts.Asked.back().Text,
             QStringLiteral("All measured values will be deleted.\nContinue?"));
    w.RecordBtn->click();
    w.OpenAction->trigger();  // unsaved samples: asked first, "No" leaves the record
    QCOMPARE(fx.Prompts.Asked.back().Text,
             QStringLiteral("Unsaved data will be lost. Open the file anyway?"));
    QCOMPARE(w.Record().Count(), std::size_t(1));
  }

  // Qt's own texts (here a message box button) follow the language chosen,
  // not the locale; the program's own stay Russian without the English
  // translation. Qt's English is its source text, so English goes wrong only
  // by another language's texts coming in: the default locale is Russian
  // meanwhile, as a translation picked by locale would follow it.
  void qtDialogsFollowTheLanguage_data() {
    QTest::addColumn<int>("language");
    QTest::addColumn<QString>("yes");
    QTest::addColumn<QString>("record");
    QTest::newRow("ru") << int(TLanguage::Russian) << "&Да"
                        << "Запись";
    QTest::newRow("en") << int(TLanguage::English) << "&Yes"
                        << "Record";
  }
  void qtDialogsFollowTheLanguage() {
    QFETCH(int, language);
    QFETCH(QString, yes);
    QFETCH(QString, record);
    // Debian ships Qt's Russian texts in qt6-translations-l10n.
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    QTranslator russianQt;
    const bool russianQtThere = russianQt.load(QStringLiteral("qtbase_ru"), folder);
    if (TLanguage(language) == TLanguage::Russian && !russianQtThere)
      QSKIP(qPrintable(QStringLiteral("no Qt translation qtbase_ru in ") + folder));
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    const TTranslations translations{TLanguage(language)};
    QLocale::setDefault(before);
    QCOMPARE(QCoreApplication::translate("QPlatformTheme", "&Yes"), yes);
    QCOMPARE(LoadStr(1003), record);
    if (russianQtThere && TLanguage(language) == TLanguage::English)
      QVERIFY(russianQt.translate("QPlatformTheme", "&Yes") != yes);  // the row can tell
  }
};

QTEST_MAIN(TestLanguage)
#include "test_language.moc"
