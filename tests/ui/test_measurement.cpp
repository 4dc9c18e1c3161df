// Recording, the thermostat panel, the chart's ranges and the measurement file,
// through a simulated thermostat and a manual clock.
#include "app/MainForm.h"
#include "chart/Chart.h"
#include "chart/ValuesModel.h"
#include "link/Hid.h"
#include "tests/support/ui/Connected.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace calorix;
using calorix::test::TWindowFixture;

namespace {

constexpr double kSecond = 1.0 / 86400.0;

using TConnected = calorix::test::TConnectedWindow;

QColor TextColour(const QLineEdit* e) {
  return e->palette().color(QPalette::Text);
}

}  // namespace

class TestMeasurement : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void recordStopAndRecordAgainLeavesNoGap() {
    TSimThermostatOptions steady;  // the bath at its setpoint, every reading 25
    steady.Temperature = 25.0;
    steady.Noise = 0.0;
    TConnected c(steady);
    TMainFrm& w = *c.W;
    QVERIFY(c.Poll());
    QCOMPARE(w.Record().Count(), std::size_t(0));  // not recording: the field only
    w.RecordBtn->click();
    QCOMPARE(w.RecordBtn->text(), QStringLiteral("Стоп"));
    QVERIFY(!w.OpenGraphBtn->isEnabled());
    QVERIFY(c.Poll(5));
    QVERIFY(c.Poll(5));
    QCOMPARE(w.Record().Count(), std::size_t(2));
    QVERIFY(std::fabs(w.Record()[1].Time - w.Record()[0].Time - 5 * kSecond) < 1e-9);
    QVERIFY(w.Modified());
    w.RecordBtn->click();
    QCOMPARE(w.RecordBtn->text(), QStringLiteral("Запись"));
    QVERIFY(w.OpenGraphBtn->isEnabled());
    c.Fx.Clock.AdvanceSeconds(600);  // a pause
    w.RecordBtn->click();
    QVERIFY(c.Poll(2));
    QVERIFY(std::fabs(w.Record()[2].Time - w.Record()[1].Time - 2 * kSecond) < 1e-9);
    QCOMPARE(w.ValuesModel()->rowCount(), 3);
    const bool comma = QLocale().decimalPoint() == QStringLiteral(",");
    QCOMPARE(w.ValuesModel()->LineText(0), comma ? "0:00:05 25,00" : "0:00:05 25.00");
    QCOMPARE(w.ValuesModel()->LineText(2), comma ? "0:00:12 25,00" : "0:00:12 25.00");
  }

  void clearAsksAndEmptiesRecordAndValues() {
    TConnected c;
    TMainFrm& w = *c.W;
    w.RecordBtn->click();
    QVERIFY(c.Poll());
    c.Fx.Prompts.YesNo = {false};
    w.ClearBtn->click();
    QCOMPARE(w.Record().Count(), std::size_t(1));
    QVERIFY(w.Modified());
    c.Fx.Prompts.YesNo = {true};
    w.ClearBtn->click();
    QCOMPARE(w.Record().Count(), std::size_t(0));
    QCOMPARE(w.ValuesModel()->rowCount(), 0);
    QVERIFY(!w.Modified());
    QCOMPARE(w.ScrollBar->value(), 100);
    QVERIFY(w.Recording());  // clearing does not stop the recording
    QCOMPARE(c.Fx.Prompts.Asked.back().Kind, QStringLiteral("warn"));
  }

  void losingTheThermostatWhileRecordingStopsTheRecording() {
    TConnected c;
    TMainFrm& w = *c.W;
    w.RecordBtn->click();
    QVERIFY(c.Poll());
    c.Fx.Sim->Unplug(c.Thermostat);
    QVERIFY(TWindowFixture::WaitFor([&] { return !w.SelectedDevice(); }));
    QVERIFY(!w.Recording());
    QCOMPARE(w.RecordBtn->text(), QStringLiteral("Запись"));
    QVERIFY(!w.RecordBtn->isEnabled());
    QVERIFY(w.OpenGraphBtn->isEnabled());
    QCOMPARE(w.Record().Count(), std::size_t(1));  // the samples stay
  }

  void temperatureColourAgainstTheBand_data() {
    QTest::addColumn<double>("temperature");
    QTest::addColumn<bool>("green");
    QTest::newRow("on the edge") << 25.5 << true;
    QTest::newRow("above") << 25.51 << false;
    QTest::newRow("below") << 24.49 << false;
    QTest::newRow("inside") << 25.0 << true;
  }
  void temperatureColourAgainstTheBand() {
    QFETCH(double, temperature);
    QFETCH(bool, green);
    TSimThermostatOptions o;
    o.Setpoint = 25.0;
    o.ReadyBand = 0.5;
    o.Temperature = temperature;
    TConnected c(o);
    QCOMPARE(TextColour(c.W->stTemp), green ? QColor(0, 128, 0) : QColor(255, 0, 0));
  }

  void aTypedSetpointIsSentWithAPointAndReadBack() {
    TConnected c;
    TMainFrm& w = *c.W;
    w.edSet->setText(QStringLiteral("25,5"));
    w.ChangeSetBtn->click();
    QVERIFY(c.Idle());
    QCOMPARE(c.Thermostat->Setpoint(), 25.5);
    QCOMPARE(w.edSet->text(), FormatFixed2(25.5, w.LocalFormat()));
    // A pasted text with a second command is refused; only the read-back goes out.
    w.edSet->setText(QStringLiteral("30\r:00000000 set.val wr 99"));
    w.ChangeSetBtn->click();
    QVERIFY(c.Idle());
    QCOMPARE(c.Thermostat->Setpoint(), 25.5);
    QCOMPARE(c.Fx.Prompts.Errors(), QStringList{"Введенное значение уставки не является числом"});
    QCOMPARE(w.edSet->text(), FormatFixed2(25.5, w.LocalFormat()));
  }

  void setpointKeysAreFiltered() {
    TConnected c;
    TMainFrm& w = *c.W;
    w.edSet->clear();
    QTest::keyClicks(w.edSet, QStringLiteral("1a2 ,.-x"));
    QCOMPARE(w.edSet->text(), QStringLiteral("12,.-"));
  }

  void protectionWords_data() {
    QTest::addColumn<QByteArray>("bits");
    QTest::addColumn<QString>("word");
    QTest::newRow("none") << QByteArray("000000") << QStringLiteral("норма");
    QTest::newRow("bit 0") << QByteArray("000101") << QStringLiteral("перегрев");
    QTest::newRow("bit 1") << QByteArray("000110") << QStringLiteral("уровень");
    QTest::newRow("bit 5") << QByteArray("100000") << QStringLiteral("датчик");
  }
  void protectionWords() {
    QFETCH(QByteArray, bits);
    QFETCH(QString, word);
    TConnected c;
    c.Thermostat->SetAlarm(bits);
    QVERIFY(c.Poll());
    QCOMPARE(c.W->stAlarm->text(), word);
  }

  void chartRangesFollowTheSettings() {
    TWindowFixture fx;
    fx.WriteIni("[Chart]\r\nMaxY=100\r\nRAxis=15\r\nFrame=9\r\n");
    TMainFrm& w = fx.Create();
    QCOMPARE(w.TrackBar->value(), 11);
    QCOMPARE(w.stYScale->text(), QStringLiteral("0.00001"));
    QCOMPARE(w.Chart->RightRange().Max, 100.0 / 100000000);
    QCOMPARE(w.TimeWindow().FrameIndex(), 1);  // out of range: the default frame
    QVERIFY(w.FramePopup->actions().at(1)->isChecked());
    w.TrackBar->setValue(0);
    QCOMPARE(w.Chart->RightRange().Min, -100.0);
    QCOMPARE(w.stYScale->text(), QStringLiteral("1000"));
    // Default window: 14:45 before time 0 to 15 s after it.
    QVERIFY(std::fabs(w.Chart->BottomRange().Max - 15 * kSecond) < 1e-12);
    QVERIFY(std::fabs(w.Chart->BottomRange().Min + 885 * kSecond) < 1e-12);
  }

  void captureRecentresTheRange() {
    TSimThermostatOptions o;
    o.Temperature = 25.0;
    o.Setpoint = 25.0;
    TConnected c(o);
    TMainFrm& w = *c.W;
    w.TrackBar->setValue(4);  // -4..4
    w.RecordBtn->click();
    QVERIFY(c.Poll());
    QCOMPARE(w.CatchPnl->text(), QStringLiteral("Нет"));
    QCOMPARE(w.CatchPopup->actions().size(), 2);
    w.CatchPopup->actions().at(1)->trigger();
    QCOMPARE(w.CatchPnl->text(), QStringLiteral("Temp"));
    QCOMPARE(w.Chart->RightRange().Min, 21.0);
    QCOMPARE(w.Chart->RightRange().Max, 29.0);
  }

  void saveAndOpenGiveBackTheRecord() {
    TConnected c;
    TMainFrm& w = *c.W;
    w.RecordBtn->click();
    for (int i = 0; i < 3; ++i)
      QVERIFY(c.Poll(1));
    w.RecordBtn->click();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("run.csv"));
    c.Fx.Prompts.FileNames = {path};
    w.SaveAction->trigger();
    QVERIFY(!w.Modified());
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    QCOMPARE(bytes.count("\r\n"), 3);
    const QString firstLine = w.ValuesModel()->LineText(0);
    // Clear, then open the file again.
    c.Fx.Prompts.YesNo = {true};
    w.ClearBtn->click();
    c.Fx.Prompts.FileNames = {path};
    w.OpenAction->trigger();
    QCOMPARE(w.Record().Count(), std::size_t(3));
    QCOMPARE(w.ValuesModel()->LineText(0), firstLine);
    QVERIFY(!w.Modified());
    QCOMPARE(w.CatchPnl->text(), QStringLiteral("Нет"));
  }

  void aFileThatCannotBeReadLeavesTheRecord() {
    TConnected c;
    TMainFrm& w = *c.W;
    w.RecordBtn->click();
    QVERIFY(c.Poll());
    w.RecordBtn->click();
    c.Fx.Prompts.YesNo = {true};  // yes, replace the unsaved record
    c.Fx.Prompts.FileNames = {QStringLiteral("/nonexistent/run.csv")};
    w.OpenAction->trigger();
    QCOMPARE(w.Record().Count(), std::size_t(1));
    QVERIFY(w.Modified());
    QCOMPARE(c.Fx.Prompts.Errors().size(), 1);
    QVERIFY(c.Fx.Prompts.Errors().first().contains(QStringLiteral("run.csv")));
  }

  // A named pipe chosen in the dialog: opening it would wait for a writer.
  // A helper plays that writer whenever a reader waits, so a window that
  // opens the pipe is caught instead of hanging.
  void aPipeIsRefusedWithoutBeingOpened() {
    TConnected c;
    TMainFrm& w = *c.W;
    w.RecordBtn->click();
    QVERIFY(c.Poll());
    w.RecordBtn->click();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pipe.csv"));
    const QByteArray name = QFile::encodeName(path);
    QCOMPARE(::mkfifo(name.constData(), 0600), 0);
    std::atomic<bool> done{false}, opened{false};
    std::thread writer([&] {
      while (!done) {
        // Succeeds only while someone has the pipe open for reading.
        const int fd = ::open(name.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) {
          opened = true;
          ::close(fd);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
    c.Fx.Prompts.YesNo = {true};  // yes, replace the unsaved record
    c.Fx.Prompts.FileNames = {path};
    w.OpenAction->trigger();
    done = true;
    writer.join();
    QVERIFY(!opened);
    QCOMPARE(c.Fx.Prompts.Errors(),
             QStringList{QStringLiteral("Cannot open file \"%1\". Not a regular file")
                             .arg(QDir::toNativeSeparators(path))});
    QCOMPARE(w.Record().Count(), std::size_t(1));
    QVERIFY(w.Modified());
    // The window goes on: recording adds the next sample.
    w.RecordBtn->click();
    QVERIFY(c.Poll());
    QCOMPARE(w.Record().Count(), std::size_t(2));
  }

  void closingWithAnUnsavedRecordOffersToSave() {
    TConnected c;
    TMainFrm& w = *c.W;
    w.RecordBtn->click();
    QVERIFY(c.Poll());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("close.csv"));
    c.Fx.Prompts.YesNo = {true};
    c.Fx.Prompts.FileNames = {path};
    c.Fx.Close();
    QCOMPARE(c.Fx.Prompts.Count(QStringLiteral("confirm")), 1);
    QVERIFY(QFile::exists(path));
    QVERIFY(!w.isVisible());
  }

  void closingWithAnUnsavedRecordAndNoClosesWithoutSaving() {
    TConnected c;
    TMainFrm& w = *c.W;
    w.RecordBtn->click();
    QVERIFY(c.Poll());
    c.Fx.Prompts.YesNo = {false};
    c.Fx.Close();
    QCOMPARE(c.Fx.Prompts.Count(QStringLiteral("confirm")), 1);
    QCOMPARE(c.Fx.Prompts.Count(QStringLiteral("save")), 0);
  }

  void readOutShowsTheClickedPoint() {
    TConnected c;
    TMainFrm& w = *c.W;
    w.SeriesClick(0, 0, Qt::LeftButton);  // no point yet: empty
    QCOMPARE(w.StatusText(2), QString());
    w.RecordBtn->click();
    QVERIFY(c.Poll(3));
    w.SeriesClick(0, 0, Qt::LeftButton);
    QVERIFY(w.StatusText(2).startsWith(QStringLiteral("X = 0")));
    w.SeriesClick(0, 0, Qt::RightButton);
    QCOMPARE(w.StatusText(2), QString());
  }
};

QTEST_MAIN(TestMeasurement)
#include "test_measurement.moc"
