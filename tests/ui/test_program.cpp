// A temperature program through the window over a simulated thermostat on an
// accelerated clock: load, start, status text and planned curve, the manual
// setpoint question, pause by unplugging, resume after replugging, finish.
#include "app/MainForm.h"
#include "app/MainFormProgram.h"
#include "chart/SetpointCurve.h"
#include "tests/support/ui/Connected.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using namespace calorix;
using calorix::test::TConnectedWindow;
using calorix::test::TWindowFixture;

namespace {

TSimThermostatOptions FastBath() {
  TSimThermostatOptions o;
  o.Serial = "P-1";
  o.Temperature = 20.0;
  o.Setpoint = 20.0;
  o.TimeConstantSeconds = 4.0;  // the bath settles within seconds
  o.Noise = 0.0;
  return o;
}

const char kProgram[] = R"({"format": "calorix-program", "version": 1, "name": "Проба",
  "steps": [{"type": "set", "setpoint": 30},
            {"type": "wait", "band": 0.5, "seconds": 10, "limit": 600},
            {"type": "hold", "seconds": 20}],
  "end": {"setpoint": 25}})";

}  // namespace

class TestProgram : public QObject {
  Q_OBJECT

 private slots:
  void runsPausesOnUnplugResumesAndFinishes() {
    TConnectedWindow c(FastBath());
    TMainFrm& w = *c.W;
    QTemporaryDir dir;
    const QString path = dir.filePath("p.json");
    {
      QFile f(path);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(kProgram);
    }
    QString error;
    QVERIFY2(w.ProgramLoad(path, &error), qPrintable(error));
    QCOMPARE(w.ProgramName(), QStringLiteral("Проба"));
    QVERIFY(!w.Recording());

    w.Program()->StartProgramBtn->click();
    QCOMPARE(w.ProgramState(), TProgramState::Running);
    QVERIFY(w.Recording());  // starting turns recording on
    QVERIFY(TWindowFixture::WaitFor([&] { return c.Thermostat->Setpoint() == 30.0; }));
    QVERIFY(c.Idle());
    QVERIFY(c.Poll());
    QVERIFY(TWindowFixture::WaitFor([&] { return w.ProgramStep() == 2; }));
    const QString note = QDir(c.Fx.JournalFolder()).filePath("program.json");
    QVERIFY(QFile::exists(note));  // for the next start, should this one end abnormally
    QVERIFY2(w.StatusText(1).startsWith(QStringLiteral("Шаг 2 из 3: ожидание стабильности")),
             qPrintable(w.StatusText(1)));
    // The planned curve runs from now to the end setpoint; the written one holds 30.
    QCPGraph* planned = w.Program()->Curves()->Planned();
    QVERIFY(planned->dataCount() >= 3);
    QCOMPARE((planned->data()->end() - 1)->value, 25.0);
    QCOMPARE(w.Program()->Curves()->Written()->data()->begin()->value, 30.0);

    // "Изменить" while running asks first; "Нет" leaves the setpoint alone.
    c.Fx.Prompts.YesNo = {false};
    w.edSet->setText("40");
    w.ChangeSetBtn->click();
    QCOMPARE(c.Fx.Prompts.Count("confirm"), 1);
    QCOMPARE(w.ProgramState(), TProgramState::Running);
    QVERIFY(c.Idle());
    QCOMPARE(c.Thermostat->Setpoint(), 30.0);

    // Unplugged: paused with the reason in a box and in the status bar.
    const TSimThermostatOptions o = c.Thermostat->Options();
    c.Fx.Sim->Unplug(c.Thermostat);
    QVERIFY(TWindowFixture::WaitFor([&] { return !w.SelectedDevice(); }));
    QCOMPARE(w.ProgramState(), TProgramState::Paused);
    QVERIFY(c.Fx.Prompts.Errors().join("|").contains(
        QStringLiteral("термостат отключен или выбран другой")));
    QVERIFY(!w.ProgramRun(&error));  // no thermostat: no resume
    c.Thermostat = c.Fx.Plug(o);     // a fresh bath at 20 °C: resuming writes 30 again
    QVERIFY(c.Idle());
    QCOMPARE(w.ProgramState(), TProgramState::Paused);  // resume is the user's
    w.Program()->StartProgramBtn->click();
    QCOMPARE(w.ProgramState(), TProgramState::Running);

    for (int i = 0; i < 200 && w.ProgramState() != TProgramState::Stopped; ++i) {
      QVERIFY(c.Idle());
      QVERIFY(c.Poll());
    }
    QCOMPARE(w.ProgramState(), TProgramState::Stopped);
    QVERIFY(TWindowFixture::WaitFor([&] { return c.Thermostat->Setpoint() == 25.0; }));
    QCOMPARE(w.StatusText(1), QStringLiteral("Программа \"Проба\" завершена"));
    QCOMPARE(planned->dataCount(), 0);
    QVERIFY(!QFile::exists(note));
  }

  void aNoteLeftByARunningProgramIsToldAtTheNextStart() {
    TWindowFixture fx;
    QDir().mkpath(fx.JournalFolder());
    QFile note(QDir(fx.JournalFolder()).filePath("program.json"));
    QVERIFY(note.open(QIODevice::WriteOnly));
    note.write(R"({"name": "Ночь", "step": 4, "steps": 9})");
    note.close();
    fx.Create();
    QVERIFY(TWindowFixture::WaitFor([&] { return fx.Prompts.Count("error") == 1; }));
    QVERIFY2(fx.Prompts.Errors().at(0).startsWith(
                 QStringLiteral("Программа \"Ночь\" была прервана на шаге 4 из 9.")),
             qPrintable(fx.Prompts.Errors().at(0)));
    QVERIFY(!note.exists());  // told once
  }
};

QTEST_MAIN(TestProgram)
#include "test_program.moc"
