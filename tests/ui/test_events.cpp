// The page "События" and the event marks of the chart, through the window: a
// record of 40 minutes with a setpoint change at 5 minutes and an event at its end.
#include "app/MainForm.h"
#include "base/Messages.h"
#include "chart/Chart.h"
#include "chart/EventsModel.h"
#include "chart/ReadOut.h"
#include "tests/support/ui/WindowFixture.h"

#include <QApplication>
#include <QClipboard>
#include <QDateTime>
#include <QHelpEvent>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QToolTip>

using namespace calorix;
using calorix::test::TWindowFixture;

namespace {

constexpr double kMinute = 1.0 / 1440.0;

struct TRecorded {
  TRecorded() {
    fx.Plug();
    TMainFrm& w = fx.Create();
    w.show();
    Ready = fx.WaitFor([&] { return w.Session()->Device() && w.RecordBtn->isEnabled(); });
    w.Session()->SetUtcBase(
        QDateTime(QDate(2026, 12, 9), QTime(22, 0), Qt::UTC).toMSecsSinceEpoch());
    w.RecordBtn->click();
    for (int s = 10; s <= 40 * 60; s += 10) {
      fx.Clock.AdvanceSeconds(10);
      w.AddSample(w.Session()->Elapsed(), 25.0);
      if (s == 5 * 60)
        w.Session()->LogEvent(TEventKind::SetpointWritten, QStringLiteral("Уставка 30"));
    }
    w.Session()->LogEvent(TEventKind::AlarmRaised, QStringLiteral("Тревога"));
    w.Chart->replot();
  }
  TMainFrm& W() { return *fx.Window(); }
  // The local time of an event logged at this many minutes of the record.
  static QString LocalTime(int minutes) {
    return QDateTime(QDate(2026, 12, 9), QTime(22, minutes), Qt::UTC)
        .toLocalTime()
        .toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
  }
  QPointF MarkAt(double time) {
    return {W().Chart->xAxis->coordToPixel(time), W().Chart->axisRect()->top() + 3.0};
  }
  QString ToolTipAt(QPointF at) {
    QToolTip::hideText();
    const QPoint p = at.toPoint();
    QHelpEvent help(QEvent::ToolTip, p, W().Chart->mapToGlobal(p));
    QApplication::sendEvent(W().Chart, &help);
    return QToolTip::text();
  }
  TWindowFixture fx;
  bool Ready = false;
};

}  // namespace

class TestEvents : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void thePageListsTheLogAndSelectingMovesTheChart() {
    TRecorded r;
    QVERIFY(r.Ready);
    TMainFrm& w = r.W();
    QCOMPARE(w.Tabs->tabText(w.Tabs->indexOf(w.ValTab) + 1), QStringLiteral("События"));
    const TEventsModel& page = *w.EventsModel();
    // The setpoint change just before the newest: the session logs others too.
    QCOMPARE(page.rowCount(), int(w.Session()->Events().size()));
    const int row = page.rowCount() - 2;
    QCOMPARE(page.CellText(row, TEventsModel::Time), TRecorded::LocalTime(5));
    QCOMPARE(page.CellText(row, TEventsModel::Elapsed), QStringLiteral("0:05:00"));
    QCOMPARE(page.CellText(row, TEventsModel::Source), QStringLiteral("пользователь"));
    QCOMPARE(page.CellText(row, TEventsModel::Text), QStringLiteral("Уставка 30"));

    // The window follows the newest sample: the setpoint change is out of view.
    QVERIFY(w.Chart->BottomRange().Min > 5 * kMinute);
    w.Tabs->setCurrentWidget(w.EventsTab);
    QTest::mouseClick(w.EventsView->viewport(), Qt::LeftButton, {},
                      w.EventsView->RowRect(row).center());
    QCOMPARE(w.EventsView->Current(), row);
    const TAxisRange view = w.Chart->BottomRange();
    QVERIFY(qAbs((view.Min + view.Max) / 2 - 5 * kMinute) < 1e-9);
    QVERIFY(!w.FollowsNewest());
    QVERIFY(qAbs(w.Chart->EventMarks()->Highlight().value_or(0) - 5 * kMinute) < 1e-9);
    // Enter shows the chart.
    QTest::keyClick(w.EventsView, Qt::Key_Return);
    QCOMPARE(w.Tabs->currentWidget(), w.GraphTab);

    // The mark: its text as the tool tip, the setpoint colour in the copy.
    w.Chart->replot();
    const QPointF mark = r.MarkAt(5 * kMinute);
    QCOMPARE(r.ToolTipAt(mark), QStringLiteral("Уставка 30"));
    QCOMPARE(r.ToolTipAt(mark + QPointF(30, 0)), LoadStr(1010));  // the chart's own
    w.CopyAction->trigger();
    const QImage copy = QApplication::clipboard()->image();
    QCOMPARE(copy.pixelColor(mark.toPoint()), MarkColor(TMarkClass::Setpoint));

    // A cleared record starts a new log: the page and the marks follow.
    w.ClearRecord();
    QVERIFY(r.fx.WaitFor([&] { return page.rowCount() == 1; }));
    QCOMPARE(page.CellText(0, TEventsModel::Text), LoadStr(1206));
    QCOMPARE(w.Chart->EventMarks()->List().Count(), std::size_t(1));  // recording: it has a time
    QCOMPARE(w.EventsView->Current(), -1);
  }

  void theRangeStatisticsListTheEventsInTheRange() {
    TRecorded r;
    QVERIFY(r.Ready);
    TMainFrm& w = r.W();
    const TMeasurementRecord& record = w.Record();
    w.Chart->SetMarkedRange(TAxisRange{4 * kMinute, 6 * kMinute});
    const QString stats = RangeStatsTable(
        record.Stats(record.LowerBound(4 * kMinute), record.UpperBound(6 * kMinute)),
        w.LocalFormat());
    QCOMPARE(w.MarkedRangeClipboardText(), stats + QStringLiteral("События\n") +
                                               TRecorded::LocalTime(5) +
                                               QStringLiteral("\tпользователь\tУставка 30\n"));
    // None in the range: the figures alone, as before.
    w.Chart->SetMarkedRange(TAxisRange{10 * kMinute, 20 * kMinute});
    QCOMPARE(w.MarkedRangeClipboardText(),
             RangeStatsTable(
                 record.Stats(record.LowerBound(10 * kMinute), record.UpperBound(20 * kMinute)),
                 w.LocalFormat()));
  }
};

QTEST_MAIN(TestEvents)
#include "test_events.moc"
