// The mouse on the chart: wheel zoom, drag, double-click, the controls that
// return to following the newest sample, and the marked range's figures.
#include "app/MainForm.h"
#include "chart/Chart.h"
#include "chart/VerticalScale.h"
#include "tests/support/ui/WindowFixture.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QScrollBar>
#include <QSlider>
#include <QTest>

#include <cmath>

using namespace calorix;
using calorix::test::TWindowFixture;

namespace {

constexpr double kSecond = 1.0 / 86400.0;
constexpr double kFrame = 15.0 / 1440.0;  // the default frame

struct TWindow {
  TWindowFixture Fx;
  TMainFrm* W = nullptr;
  TChart* C = nullptr;

  // An hour of samples, one a second, rising one degree a minute.
  explicit TWindow(std::size_t samples = 3600) {
    W = &Fx.Create();
    C = W->Chart;
    W->resize(1300, 900);
    W->show();
    QVERIFY(QTest::qWaitForWindowExposed(W));
    auto& record = const_cast<TMeasurementRecord&>(W->Record());
    for (std::size_t i = 0; i < samples; ++i)
      record.Add(double(i) * kSecond, 20.0 + double(i) / 60.0);
    W->ApplyFrame();
    C->replot();
  }
  double Width() const { return C->BottomRange().Max - C->BottomRange().Min; }
  QPointF Middle() const { return C->axisRect()->rect().center(); }
  void Wheel(QPointF at, int notches, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWheelEvent e(at, C->mapToGlobal(at), {}, {0, 120 * notches}, Qt::NoButton, mods,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(C, &e);
    C->replot();
  }
  void Mouse(QEvent::Type type, QPointF at, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    const Qt::MouseButtons held =
        type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent e(type, at, C->mapToGlobal(at),
                  type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, mods);
    QApplication::sendEvent(C, &e);
  }
  void Drag(QPointF from, QPointF to, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    Mouse(QEvent::MouseButtonPress, from, mods);
    Mouse(QEvent::MouseMove, (from + to) / 2, mods);
    Mouse(QEvent::MouseMove, to, mods);
    Mouse(QEvent::MouseButtonRelease, to, mods);
    C->replot();
  }
  bool Follows() const {
    const double end = W->Record().Length();
    return W->FollowsNewest() && std::fabs(C->BottomRange().Max - (end + kFrame / 60)) < 1e-9;
  }
};

}  // namespace

class TestChartNavigation : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void wheelZoomsAroundThePointerWithinItsLimits() {
    TWindow t;
    QVERIFY(t.Follows());
    const QPointF at = t.Middle();
    const double under = t.C->xAxis->pixelToCoord(at.x());
    t.Wheel(at, 1);
    QVERIFY(std::fabs(t.Width() - kFrame * 0.8) < 1e-12);
    QVERIFY(std::fabs(t.C->xAxis->pixelToCoord(at.x()) - under) < 1e-9);
    QVERIFY(!t.W->FollowsNewest());
    const double px = t.C->axisRect()->width();
    t.Wheel(at, 60);
    QVERIFY(std::fabs(t.Width() - px / 100 * kSecond) < 1e-12);  // one second per 100 px
    t.Wheel(at, -80);
    QVERIFY(std::fabs(t.Width() - 3599 * kSecond) < 1e-12);  // the whole record
    // Zooming out after a double-click starts from the frame again.
    QTest::mouseDClick(t.C, Qt::LeftButton, {}, t.Middle().toPoint());
    QVERIFY(t.Follows());
  }

  void tinyRecordsDoNotBreakTheWheel_data() {
    QTest::addColumn<int>("samples");
    QTest::newRow("none") << 0;
    QTest::newRow("one") << 1;
  }
  void tinyRecordsDoNotBreakTheWheel() {
    QFETCH(int, samples);
    TWindow t{std::size_t(samples)};
    t.Wheel(t.Middle(), 50);
    const double narrowest = t.C->axisRect()->width() / 100.0 * kSecond;
    QVERIFY(std::fabs(t.Width() - narrowest) < 1e-12);
    t.Wheel(t.Middle(), -50);
    QVERIFY(std::isfinite(t.Width()) && t.Width() >= narrowest);
  }

  void dragPansAndEveryControlReturnsToFollowing() {
    TWindow t;
    const double before = t.C->BottomRange().Min;
    t.Drag(t.Middle(), t.Middle() + QPointF(200, 0));
    const double moved = 200 * kFrame / t.C->axisRect()->width();
    QVERIFY(std::fabs(t.C->BottomRange().Min - (before - moved)) < 1e-9);
    QVERIFY(t.W->ScrollBar->value() < 100);
    // A new sample does not pull the view along.
    const TAxisRange shown = t.C->BottomRange();
    auto& record = const_cast<TMeasurementRecord&>(t.W->Record());
    record.Add(3600 * kSecond, 80.0);
    t.W->TrackNewest();
    QCOMPARE(t.C->BottomRange().Max, shown.Max);

    t.W->ScrollBar->setValue(100);  // scrolled to the end
    QVERIFY(t.Follows());

    t.Drag(t.Middle(), t.Middle() + QPointF(100, 0));
    QVERIFY(!t.W->FollowsNewest());
    t.W->FramePopup->actions().at(2)->trigger();  // 30 minutes
    QVERIFY(t.W->FollowsNewest());
    t.W->FramePopup->actions().at(1)->trigger();
    QVERIFY(t.Follows());

    t.W->cbXAuto->click();  // the whole record, then zoomed into
    t.Wheel(t.Middle(), 1);
    QVERIFY(!t.W->cbXAuto->isChecked());
    QVERIFY(t.W->ScrollBar->isEnabled());
    t.W->cbXAuto->click();
    QVERIFY(t.C->BottomAutomatic());
    QVERIFY(t.W->FollowsNewest());
  }

  void clickInPlaceStaysTheReadOut() {
    TWindow t;
    const TSample& s = t.W->Record()[3500];
    const QPoint at(int(std::lround(t.C->xAxis->coordToPixel(s.Time))),
                    int(std::lround(t.C->yAxis2->coordToPixel(s.Value))));
    const TAxisRange shown = t.C->BottomRange();
    QTest::mouseClick(t.C, Qt::LeftButton, {}, at);
    QVERIFY(t.W->StatusText(2).startsWith(QStringLiteral("X = ")));
    QCOMPARE(t.C->BottomRange().Max, shown.Max);
    QVERIFY(t.W->FollowsNewest());
  }

  void verticalZoomIsTheUsersOwnUntilAControlIsUsed() {
    TWindow t;
    t.W->cbYAuto->click();
    QVERIFY(t.W->cbYAuto->isChecked());
    const TAxisRange before = t.C->RightRange();
    t.Wheel(t.Middle(), 1, Qt::ControlModifier);
    QVERIFY(t.C->RightRange().Max - t.C->RightRange().Min < (before.Max - before.Min) * 0.81);
    QVERIFY(!t.W->cbYAuto->isChecked());
    QVERIFY(t.W->TrackBar->isEnabled());
    QCOMPARE(t.W->stYScale->text(), QStringLiteral("свой"));
    // The wheel over the right axis does the same; the time axis stays.
    const double width = t.Width();
    t.Wheel(QPointF(t.C->axisRect()->right() + 10, t.Middle().y()), 1);
    QCOMPARE(t.Width(), width);
    t.W->TrackBar->setValue(t.W->TrackBar->value() == 0 ? 1 : 0);
    QCOMPARE(t.W->stYScale->text(),
             QString::fromLatin1(ScaleLabels[std::size_t(t.W->TrackBar->value())]));
  }

  // The record: 50 °C up to 600 s, from 601 s to 1800 s a rise of half a
  // degree a minute from 20 °C, then -10 °C; a range from 600.5 s to 1800.5 s
  // holds the rise alone, and one sample more or less moves the count, the
  // minimum or the maximum (and every other figure with them).
  void shiftDragMarksARangeWithItsFigures() {
    TWindow t{0};
    auto& record = const_cast<TMeasurementRecord&>(t.W->Record());
    for (int i = 0; i < 3600; ++i)
      record.Add(double(i) * kSecond, i <= 600    ? 50.0
                                      : i <= 1800 ? 20.0 + double(i - 601) / 120.0
                                                  : -10.0);
    t.W->cbXAuto->click();  // the whole hour over the plot
    t.C->replot();
    const double x0 = t.C->xAxis->coordToPixel(600.5 * kSecond);
    const double x1 = t.C->xAxis->coordToPixel(1800.5 * kSecond);
    const double y = t.Middle().y();
    t.Drag({x0, y}, {x1, y}, Qt::ShiftModifier);
    QVERIFY(t.C->MarkedRange().has_value());
    QVERIFY(t.C->BottomAutomatic());  // marking moves nothing
    // By hand over samples 601..1800 (n = 1200, step h = 1/120 °C): change
    // and maximum 1199 h, mean 20 + 599.5 h, standard deviation
    // h sqrt(n (n + 1) / 12) = sqrt(120100) / 120, in the user's locale.
    const QChar point = t.W->LocalFormat().DecimalSeparator;
    const QString change = QStringLiteral("9.9916667").replace('.', point),
                  rate = QStringLiteral("0.5").replace('.', point),
                  max = QStringLiteral("29.991667").replace('.', point),
                  mean = QStringLiteral("24.995833").replace('.', point),
                  sd = QStringLiteral("2.8879539").replace('.', point);
    QCOMPARE(t.W->StatusText(2),
             QStringLiteral("Участок 0:19:59, 1200 изм.: изменение %1 °C, %2 °C/мин, мин. 20 °C, "
                            "макс. %3 °C, среднее %4 °C, ско %5 °C")
                 .arg(change, rate, max, mean, sd));
    t.W->CopyAction->trigger();
    QCOMPARE(QApplication::clipboard()->text(),
             QStringLiteral("Длительность\t0:19:59\nИзмерений\t1200\nИзменение\t%1 °C\n"
                            "Скорость\t%2 °C/мин\nМинимум\t20 °C\nМаксимум\t%3 °C\n"
                            "Среднее\t%4 °C\nСтандартное отклонение\t%5 °C\n")
                 .arg(change, rate, max, mean, sd));
    QVERIFY(QApplication::clipboard()->mimeData()->hasFormat(QStringLiteral("image/svg+xml")));
    QTest::keyClick(t.W, Qt::Key_Escape);
    QVERIFY(!t.C->MarkedRange());
    QVERIFY(t.W->StatusText(2).isEmpty());
    t.Drag({x0, y}, {x1, y}, Qt::ShiftModifier);
    QTest::mouseClick(t.C, Qt::LeftButton, {}, QPoint(int(x0) - 50, int(y) - 100));
    QVERIFY(!t.C->MarkedRange());
  }
};

QTEST_MAIN(TestChartNavigation)
#include "test_chart_navigation.moc"
