// The console page driven with the keyboard against a simulated thermostat.
#include "app/MainForm.h"
#include "console/Console.h"
#include "tests/support/ui/WindowFixture.h"

#include <QAction>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTabWidget>
#include <QTest>

using namespace calorix;
using calorix::test::TWindowFixture;

namespace {

void Type(QWidget* w, const QString& text) {
  QTest::keyClicks(w, text);
  QTest::keyClick(w, Qt::Key_Return);
}

}  // namespace

class TestConsole : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void aTypedLineIsAnsweredAndANewPromptFollows() {
    TWindowFixture fx;
    fx.Plug();
    TMainFrm& w = fx.Create();
    QVERIFY(fx.WaitFor([&] { return !w.stTemp->text().isEmpty(); }));
    QVERIFY(fx.WaitFor([&] { return w.Requests().Requests().empty(); }));
    w.Tabs->setCurrentWidget(w.ConsoleTab);
    QVERIFY(w.CopyAction->shortcut().isEmpty());
    Type(w.edConsole, QStringLiteral(":00000000 set.val rd"));
    QVERIFY(fx.WaitFor([&] { return w.edConsole->toPlainText().count('>') == 2; }));
    const QStringList lines = w.edConsole->toPlainText().split('\n');
    QCOMPARE(lines.size(), 3);
    QCOMPARE(lines[0], QStringLiteral(">:00000000 set.val rd"));
    QCOMPARE(lines[1], QStringLiteral("00000000 0 25.00"));
    QCOMPARE(lines[2], QStringLiteral(">"));
    QVERIFY(!w.PromptTimer->Enabled());
    // Up recalls the line.
    QTest::keyClick(w.edConsole, Qt::Key_Up);
    QCOMPARE(w.edConsole->toPlainText().split('\n').last(),
             QStringLiteral(">:00000000 set.val rd"));
    // "clr" clears the console; the prompt comes back with the timer.
    w.Tabs->setCurrentIndex(0);
    QCOMPARE(w.CopyAction->shortcut(), QKeySequence(QStringLiteral("Ctrl+C")));
  }

  void clrClearsTheConsole() {
    TWindowFixture fx;
    fx.Plug();
    TMainFrm& w = fx.Create();
    QVERIFY(fx.WaitFor([&] { return !w.edConsole->isReadOnly(); }));
    Type(w.edConsole, QStringLiteral("clr"));
    w.PromptTimer->Fire();
    QCOMPARE(w.edConsole->toPlainText(), QStringLiteral("\n>"));
  }

  void aLineWithoutThermostatIsStoredButNotSent() {
    TWindowFixture fx;
    TMainFrm& w = fx.Create();
    QVERIFY(w.edConsole->isReadOnly());
    QCOMPARE(w.edConsole->toPlainText(), QStringLiteral(">"));
    // Read-only: typing is refused, but Enter runs the (empty) line.
    Type(w.edConsole, QStringLiteral("abc"));
    QVERIFY(w.PromptTimer->Enabled());
    w.PromptTimer->Fire();
    QCOMPARE(w.edConsole->toPlainText(), QStringLiteral(">\n>"));
    QVERIFY(w.Requests().Requests().empty());
  }

  void noAnswerWithin250msEmptiesTheQueue() {
    TWindowFixture fx;
    auto t = fx.Plug();
    TMainFrm& w = fx.Create();
    QVERIFY(fx.WaitFor([&] { return !w.stTemp->text().isEmpty(); }));
    QVERIFY(fx.WaitFor([&] { return w.Requests().Requests().empty(); }));
    t->DropNextAnswers(1);
    Type(w.edConsole, QStringLiteral(":00000000 dat.t rd"));
    QCOMPARE(w.Requests().Requests().size(), std::size_t(1));
    w.PromptTimer->Fire();
    QVERIFY(w.Requests().Requests().empty());
    QCOMPARE(w.edConsole->toPlainText(), QStringLiteral(">:00000000 dat.t rd\n\n>"));
  }
};

QTEST_MAIN(TestConsole)
#include "test_console.moc"
