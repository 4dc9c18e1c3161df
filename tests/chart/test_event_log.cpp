// The event log as the window shows it: the page's model following the
// session's log, the chart's marks found by time and thinned when drawn.
#include "chart/Chart.h"
#include "chart/EventLog.h"
#include "chart/EventsModel.h"

#include <gtest/gtest.h>
#include <QSignalSpy>

#include "tests/chart/Printers.h"

namespace calorix {
namespace {

constexpr double kSec = 1.0 / 86400.0;

TEvent Ev(qint64 ms, const char* text, std::optional<double> elapsed = std::nullopt) {
  TEvent e;
  e.UtcMs = ms;
  e.Elapsed = elapsed;
  e.Text = QString::fromUtf8(text);
  e.Source = source::kUser;
  return e;
}

TEST(EventsModel, FollowsAnAppendAsOneRowAndAnythingElseAsAReset) {
  const TEvent a = Ev(1, "a"), b = Ev(2, "b"), c = Ev(3, "c"), x = Ev(4, "x");
  struct TCase {
    const char* Name;
    std::vector<TEvent> Log;
    int Inserted, Resets;
  };
  const TCase cases[] = {
      {"the newest appended", {a, b, c}, 1, 0},  {"unchanged", {a, b}, 0, 0},
      {"cleared, one logged", {c}, 0, 1},        {"emptied", {}, 0, 1},
      {"replaced, one longer", {x, b, c}, 0, 1}, {"replaced at the end", {a, x, c}, 0, 1},
      {"two at once", {a, b, c, x}, 0, 1},
  };
  for (const TCase& t : cases) {
    SCOPED_TRACE(t.Name);
    TEventsModel model{TFormatSettings{}};
    model.Follow({a, b});
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    model.Follow(t.Log);
    EXPECT_EQ(inserted.size(), t.Inserted);
    EXPECT_EQ(resets.size(), t.Resets);
    EXPECT_EQ(std::vector<TEvent>(model.Events().begin(), model.Events().end()), t.Log);
  }
}

TEST(EventsModel, CellsAndHeader) {
  TEventsModel model{TFormatSettings{}};
  TEvent e = Ev(0, "Запись начата", 1.5 / 24);
  e.Source = source::Remote(QStringLiteral("127.0.0.1:5025"));
  model.Follow({e, Ev(0, "Термостат выключен")});
  EXPECT_EQ(model.rowCount(), 2);
  EXPECT_EQ(model.headerData(TEventsModel::Elapsed, Qt::Horizontal).toString(), "От начала записи");
  EXPECT_EQ(model.CellText(0, TEventsModel::Elapsed), "1:30:00");
  EXPECT_EQ(model.CellText(0, TEventsModel::Source), "удаленный клиент 127.0.0.1:5025");
  EXPECT_EQ(model.CellText(1, TEventsModel::Elapsed), "");  // not recording
  EXPECT_EQ(model.LineText(1).split('\t').mid(1),
            (QStringList{"", "пользователь", "Термостат выключен"}));
}

TEST(EventLog, SourcesAndClasses) {
  const std::pair<QString, QString> sources[] = {
      {source::kUser, "пользователь"},
      {source::kProgram, "программа"},
      {source::kMqtt, "брокер MQTT"},
      {source::kSystem, "система"},
      {source::Remote("[::1]:5025"), "удаленный клиент [::1]:5025"},
      {"someone else", "someone else"},
  };
  for (const auto& [source, text] : sources)
    EXPECT_EQ(EventSourceText(source), text);
  const std::pair<TEventKind, TMarkClass> classes[] = {
      {TEventKind::SetpointWritten, TMarkClass::Setpoint},
      {TEventKind::SetpointFailed, TMarkClass::Setpoint},
      {TEventKind::ProgramStep, TMarkClass::Program},
      {TEventKind::ProgramFinished, TMarkClass::Program},
      {TEventKind::AlarmRaised, TMarkClass::Alarm},
      {TEventKind::AlarmCleared, TMarkClass::Alarm},
      {TEventKind::RecordSaved, TMarkClass::Other},
      {TEventKind::SettingChanged, TMarkClass::Other},
  };
  for (const auto& [kind, mark] : classes)
    EXPECT_EQ(MarkClassOf(kind), mark) << EventKindCode(kind).toStdString();
}

TEST(EventMarkList, KeepsTimeOrderAndFindsMarksByTime) {
  TEventMarkList marks;
  marks.Add(TMarkClass::Other, 5, "e");
  marks.Add(TMarkClass::Alarm, 2, "b");
  marks.Add(TMarkClass::Other, 1, "a");  // earlier than the last: inserted
  marks.Add(TMarkClass::Other, 3, "c");
  marks.Add(TMarkClass::Other, 3, "d");  // same time: after the first
  EXPECT_EQ(marks.Count(), 5u);
  QStringList order;
  for (const TEventMark& m : marks.Marks(TMarkClass::Other))
    order << m.Text;
  EXPECT_EQ(order, (QStringList{"a", "c", "d", "e"}));
  using TRange = std::pair<std::size_t, std::size_t>;
  EXPECT_EQ(marks.Within(TMarkClass::Other, 3, 5), (TRange{1, 4}));  // both ends included
  EXPECT_EQ(marks.Within(TMarkClass::Other, 6, 9), (TRange{4, 4}));
  EXPECT_EQ(marks.TextsWithin(1.5, 3), "b\nc\nd");  // classes merged by time
  EXPECT_EQ(marks.TextsWithin(0, 9, 2), "a\nb\n…");
  EXPECT_EQ(marks.TextsWithin(3.5, 4.5), "");
}

TEST(EventMarks, ADrawingShowsTheMarksInViewThinnedToPixels) {
  TChart chart{TFormatSettings{}};
  chart.CreateSeries(std::make_shared<TMeasurementRecord>());
  chart.resize(1000, 600);
  chart.SetBottomRange({0, 3600 * kSec});
  TEventMarks& marks = *chart.EventMarks();
  marks.List().Add(TMarkClass::Setpoint, 1800 * kSec, "in view");
  marks.List().Add(TMarkClass::Setpoint, 7200 * kSec, "beyond");
  (void)chart.toPixmap(1000, 600);
  EXPECT_EQ(marks.LastDrawn(), 1);
  // A mark every second of the hour in each class: at most one per class
  // every mark width of the plot.
  for (int s = 0; s < 3600; ++s)
    for (std::size_t c = 0; c < kMarkClasses; ++c)
      marks.List().Add(TMarkClass(c), s * kSec, "many");
  (void)chart.toPixmap(1000, 600);
  const double perClass = chart.axisRect()->width() / TEventMarks::kWidth + 2;
  EXPECT_GT(marks.LastDrawn(), int(kMarkClasses) * (chart.axisRect()->width() / 4));
  EXPECT_LE(marks.LastDrawn(), int(kMarkClasses * perClass));
}

}  // namespace
}  // namespace calorix
