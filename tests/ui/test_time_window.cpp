// The chart's time window through the window's own frame menu, "Вся запись"
// switch and scroll bar, while samples come in.
#include "app/MainForm.h"
#include "chart/Chart.h"
#include "tests/support/ui/Connected.h"

#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <cmath>

using namespace calorix;

namespace {

constexpr double kSecond = 1.0 / 86400.0;

// A window recording from a thermostat, with samples put in as the poll would.
struct TRecording {
  TRecording() : W(*C.W) { W.RecordBtn->click(); }
  void Add(double seconds, double value) { W.AddSample(seconds * kSecond, value); }
  void Frame(int index) { W.FramePopup->actions().at(index)->trigger(); }
  void WholeRecord(bool on) {
    if (W.cbXAuto->isChecked() != on)
      W.cbXAuto->click();
    W.Chart->replot();
  }
  bool Window(double minSeconds, double maxSeconds) const {
    const TAxisRange r = W.Chart->BottomRange();
    if (std::fabs(r.Min / kSecond - minSeconds) < 1e-6 &&
        std::fabs(r.Max / kSecond - maxSeconds) < 1e-6)
      return true;
    qWarning("window %.6f..%.6f s, expected %.6f..%.6f s", r.Min / kSecond, r.Max / kSecond,
             minSeconds, maxSeconds);
    return false;
  }

  calorix::test::TConnectedWindow C;
  TMainFrm& W;
};

}  // namespace

class TestTimeWindow : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void followsTheNewestSampleOneStepPerSample() {
    TRecording r;
    QVERIFY(r.Window(-(14 * 60 + 45), 15));
    r.Add(10, 20);
    QVERIFY(r.Window(-(14 * 60 + 45), 15));
    r.Add(16, 20);  // past the right end: one step of 90 s
    QVERIFY(r.Window(-(14 * 60 + 45) + 90, 105));
    r.Add(400, 20);  // far past: still one step per sample
    QVERIFY(r.Window(-(14 * 60 + 45) + 180, 195));
  }

  void frameChangeKeepsTheRightEndWhileTheNewestSampleIsInside() {
    TRecording r;
    r.Add(10, 20);
    r.Frame(0);  // 5 minutes
    QVERIFY(r.W.FramePopup->actions().at(0)->isChecked());
    QVERIFY(r.Window(15 - 300, 15));
    r.Add(20, 20);  // moves the window by 30 s to end at 45 s
    QVERIFY(r.Window(45 - 300, 45));
  }

  void wholeRecordRestoresTheWindowOrLandsOnTheNewestSample() {
    TRecording r;
    r.Add(5, 20);
    r.Add(600, 21);
    r.WholeRecord(true);
    QVERIFY(!r.W.ScrollBar->isEnabled());
    QVERIFY(r.Window(5, 600));
    r.WholeRecord(false);  // the remembered window ended at 105 s, before the newest sample
    QVERIFY(r.W.ScrollBar->isEnabled());
    QVERIFY(r.Window(600 + 15 - 900, 615));
    r.WholeRecord(true);
    r.Frame(0);  // in whole-record mode the frame changes nothing visible
    QVERIFY(r.Window(5, 600));
    r.WholeRecord(false);  // the remembered window ends after the newest sample
    QVERIFY(r.Window(615 - 300, 615));
    r.WholeRecord(true);
    r.Add(700, 22);
    r.W.Chart->replot();
    QVERIFY(r.Window(5, 700));
    r.WholeRecord(false);
    QVERIFY(r.Window(700 + 5 - 300, 705));
  }

  void scrollingToZeroGoesBackByTheRecordLengthAndReturns() {
    TRecording r;
    for (int s = 1; s <= 1200; s += 60)
      r.Add(s, 20);
    const TAxisRange before = r.W.Chart->BottomRange();
    const double length = 1141 * kSecond;  // the newest sample's time
    r.W.ScrollBar->setValue(0);
    QVERIFY(std::fabs(r.W.Chart->BottomRange().Max - (before.Max - length)) < 1e-12);
    r.W.ScrollBar->setValue(100);
    QVERIFY(std::fabs(r.W.Chart->BottomRange().Max - before.Max) < 1e-12);
    QVERIFY(std::fabs(r.W.Chart->BottomRange().Min - before.Min) < 1e-12);
    // From the middle, the whole-record switch first brings the thumb to 100.
    r.W.ScrollBar->setValue(50);
    r.WholeRecord(true);
    QCOMPARE(r.W.ScrollBar->value(), 100);
    QVERIFY(std::fabs(r.W.TimeWindow().WindowMax() - before.Max) < 1e-12);
  }
};

QTEST_MAIN(TestTimeWindow)
#include "test_time_window.moc"
