// A temperature program through the window over a simulated thermostat on an
// accelerated clock: load, start, status text and planned curve, the manual
// setpoint question, pause by unplugging, resume after replugging, finish;
// the notes of interrupted programs, the pause notice, resume checks, "Авто".
#include "app/MainForm.h"
#include "app/MainFormProgram.h"
#include "app/ProgramModel.h"
#include "chart/Chart.h"
#include "chart/SetpointCurve.h"
#include "tests/support/ui/Connected.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <sys/file.h>

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
    const QString note =
        QDir(c.Fx.JournalFolder())
            .filePath(QStringLiteral("program-%1.json").arg(QCoreApplication::applicationPid()));
    QVERIFY(QFile::exists(note));  // for the next start, should this one end abnormally
    // The running step is marked in the table.
    const TProgramModel& model = *w.Program()->EditorModel();
    QVERIFY(model.data(model.index(1, 0), Qt::FontRole).value<QFont>().bold());
    QVERIFY(!model.data(model.index(0, 0), Qt::FontRole).value<QFont>().bold());
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
    QCOMPARE(model.RunningRow(), -1);
  }

  // Notes of programs that ended are told once and removed: an earlier
  // version's single note and one per process; a running copy's is locked
  // and left alone.
  void notesOfEndedProgramsAreToldAtTheNextStart() {
    TWindowFixture fx;
    const QDir folder(fx.JournalFolder());
    QDir().mkpath(folder.path());
    auto write = [&](const char* name, const char* text) {
      QFile f(folder.filePath(name));
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(text);
    };
    write("program.json", R"({"name": "Ночь", "step": 4, "steps": 9})");
    write("program-999999999.json", R"({"name": "День", "step": 1, "steps": 2})");
    write("program-999999998.json.new", "{\"name\": \"Обр");  // cut short
    write("program-999999997.json", R"({"name": "Идет", "step": 2, "steps": 3})");
    QFile live(folder.filePath("program-999999997.json"));
    QVERIFY(live.open(QIODevice::ReadOnly));
    QCOMPARE(::flock(live.handle(), LOCK_EX | LOCK_NB), 0);  // its program runs
    fx.Create();
    QVERIFY(TWindowFixture::WaitFor([&] { return fx.Prompts.Count("error") == 2; }));
    TWindowFixture::Settle();
    const QString told = fx.Prompts.Errors().join("|");
    QVERIFY2(told.contains(QStringLiteral("Программа \"Ночь\" была прервана на шаге 4 из 9.")) &&
                 told.contains(QStringLiteral("Программа \"День\" была прервана на шаге 1 из 2.")),
             qPrintable(told));
    QCOMPARE(fx.Prompts.Count("error"), 2);
    QCOMPARE(folder.entryList({"program*"}, QDir::Files),
             QStringList{QStringLiteral("program-999999997.json")});
  }

  // A second window on the same folder while the first runs a program.
  void aRunningProgramsNoteSurvivesAnotherStart() {
    TConnectedWindow c(FastBath());
    QVERIFY(Start(c));
    TWindowFixture second;
    second.SetJournalFolder(c.Fx.JournalFolder());
    second.Create();
    TWindowFixture::Settle(200);
    QCOMPARE(second.Prompts.Count("error"), 0);
    QCOMPARE(QDir(c.Fx.JournalFolder()).entryList({"program*"}, QDir::Files).size(), 1);
  }

  // Paused by a protection trip: one notice, however many readings come
  // while the box is open.
  void onePauseNoticePerPause() {
    TConnectedWindow c(FastBath());
    QVERIFY(Start(c));
    int nested = 0;
    c.Fx.Prompts.OnError = [&](const QString&) {
      while (nested < 3) {
        ++nested;
        c.Poll();  // readings while the box is open
      }
    };
    c.Thermostat->SetAlarm("000100");
    // The poll that pauses; the box's own polls add their samples to its.
    c.Fx.Clock.AdvanceSeconds(1);
    c.W->DataTimer->Fire();
    QVERIFY(TWindowFixture::WaitFor([&] { return c.W->ProgramState() == TProgramState::Paused; }));
    TWindowFixture::Settle();
    QCOMPARE(nested, 3);
    QCOMPARE(c.Fx.Prompts.Count("error"), 1);
  }

  // Resume only on the thermostat the program started on and within the
  // limits now in force; the refusal says why.
  void resumeChecksTheThermostatAndTheLimits() {
    TSimThermostatOptions other = FastBath();
    other.Serial = "P-2";
    TConnectedWindow c(FastBath());
    c.Fx.Plug(other);
    TMainFrm& w = *c.W;
    QVERIFY(TWindowFixture::WaitFor([&] { return w.DevPopup->actions().size() == 2; }));
    QVERIFY(Start(c));
    w.DevPopup->actions().at(1)->trigger();
    QVERIFY(c.Idle());
    QCOMPARE(w.ProgramState(), TProgramState::Paused);
    QString error;
    QVERIFY(!w.ProgramRun(&error));
    QCOMPARE(error, QStringLiteral("Программа не может быть продолжена: выбран термостат P-2, а "
                                   "программа запущена на P-1"));
    w.DevPopup->actions().at(0)->trigger();
    QVERIFY(c.Idle());
    w.Program()->Limits() = {-50, 28};
    QVERIFY(!w.ProgramRun(&error));
    QCOMPARE(error, QStringLiteral("Программа не может быть продолжена: Шаг 1, поле \"setpoint\": "
                                   "уставка вне допустимых пределов"));
    QCOMPARE(w.ProgramState(), TProgramState::Paused);
    w.Program()->Limits() = {};
    QVERIFY2(w.ProgramRun(&error), qPrintable(error));
    QCOMPARE(w.ProgramState(), TProgramState::Running);
  }

  // "Авто" takes the plan in while a program runs, and only then.
  void autoRangeShowsThePlanWhileRunning() {
    TSimThermostatOptions slow = FastBath();
    slow.TimeConstantSeconds = 1e6;  // the bath stays near 20 °C
    TConnectedWindow c(slow);
    TMainFrm& w = *c.W;
    if (!w.cbYAuto->isChecked())
      w.cbYAuto->click();
    QVERIFY(Start(c));
    QVERIFY(c.Poll());
    w.Chart->replot();
    QVERIFY2(w.Chart->RightRange().Max >= 30.0,
             qPrintable(QString::number(w.Chart->RightRange().Max)));
    w.ProgramStop();
    QVERIFY(c.Poll());
    w.Chart->replot();
    QVERIFY2(w.Chart->RightRange().Max < 21.0,
             qPrintable(QString::number(w.Chart->RightRange().Max)));
  }

 private:
  // Loads kProgram and starts it; true once its first setpoint is in force.
  static bool Start(TConnectedWindow& c) {
    QTemporaryDir dir;
    const QString path = dir.filePath("p.json");
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(kProgram) < 0)
      return false;
    f.close();
    QString error;
    if (!c.W->ProgramLoad(path, &error) || !c.W->ProgramRun(&error))
      return false;
    return TWindowFixture::WaitFor([&] { return c.Thermostat->Setpoint() == 30.0; }) && c.Idle();
  }
};

QTEST_MAIN(TestProgram)
#include "test_program.moc"
