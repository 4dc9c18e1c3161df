// The event log on the chart and on its page: replots of a 10 M record (about
// 116 days, one sample a second) without events and with 100,000 of them (one
// every 100 s, the four mark classes in turn), and an event appended to the
// page at 100 and at 100,000 rows. Run from a Release build with
// QT_QPA_PLATFORM=offscreen.
#include "chart/Chart.h"
#include "chart/EventsModel.h"
#include "chart/TimeWindow.h"

#include <benchmark/benchmark.h>
#include <QApplication>
#include <QScrollBar>

#include <cmath>
#include <memory>
#include <optional>

namespace calorix {
namespace {

constexpr double kSec = 1.0 / 86400.0;
constexpr int kWidth = 1000, kHeight = 600;
constexpr std::size_t kLong = 10'000'000;
constexpr double kDay = 1.0, kHour = 1.0 / 24;

std::shared_ptr<TMeasurementRecord> LongRecord() {
  static std::shared_ptr<TMeasurementRecord> r;
  if (!r) {
    r = std::make_shared<TMeasurementRecord>();
    for (std::size_t i = 0; i < kLong; ++i)
      r->Add(double(i) * kSec, 25.0 + 5.0 * std::sin(double(i) * 1e-3) + 0.01 * double(i % 7));
  }
  return r;
}

TAxisRange MiddleView(double width) {
  const double middle = double(kLong) * kSec / 2;
  return {middle - width / 2, middle + width / 2};
}

void BM_EventsReplot(benchmark::State& state, std::optional<TAxisRange> view) {
  TChart chart{TFormatSettings{}};
  chart.CreateSeries(LongRecord());
  chart.resize(kWidth, kHeight);
  chart.show();
  chart.SetRightRange({15, 35});
  if (view)
    chart.SetBottomRange(*view);
  else
    chart.SetBottomAutomatic(true);
  const auto events = std::size_t(state.range(0));
  const double step = double(kLong) * kSec / double(std::max<std::size_t>(events, 1));
  for (std::size_t i = 0; i < events; ++i)
    chart.EventMarks()->List().Add(TMarkClass(i % kMarkClasses), double(i) * step,
                                   QStringLiteral("Уставка 30,00"));
  for (auto _ : state)
    chart.replot(QCustomPlot::rpImmediateRefresh);
  state.counters["marks"] = chart.EventMarks()->LastDrawn();
}
BENCHMARK_CAPTURE(BM_EventsReplot, whole, std::nullopt)
    ->Arg(0)
    ->Arg(100'000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_EventsReplot, day, MiddleView(kDay))
    ->Arg(0)
    ->Arg(100'000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_EventsReplot, hour, MiddleView(kHour))
    ->Arg(0)
    ->Arg(100'000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_EventsReplot, frame, MiddleView(FrameLengths[1]))
    ->Arg(0)
    ->Arg(100'000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_EventsReplot, panned, TAxisRange{-15 * kDay, 15 * kDay})
    ->Arg(0)
    ->Arg(100'000)
    ->Unit(benchmark::kMillisecond);

// One event logged: the page's model takes it, the list keeps to its bottom
// and (painted) paints anew. 1000 appends per run, from the given number of rows.
void BM_EventsPageAppend(benchmark::State& state, bool painted) {
  TEventsModel model{TFormatSettings{}};
  TEventsView view;
  view.setModel(&model);
  view.resize(800, 600);
  view.show();
  std::vector<TEvent> log(std::size_t(state.range(0)));
  log.reserve(log.size() + 2000);  // the log's own growth is not the page's
  for (std::size_t i = 0; i < log.size(); ++i) {
    log[i].UtcMs = qint64(i) * 1000;
    log[i].Elapsed = double(i) * kSec;
    log[i].Text = QStringLiteral("Уставка 30,00");
    log[i].Source = source::kUser;
  }
  model.Follow(log);
  QApplication::processEvents();
  for (auto _ : state) {
    TEvent e = log.back();
    e.UtcMs += 1000;
    log.push_back(std::move(e));
    model.Follow(log);
    if (painted)
      view.viewport()->repaint();
  }
  if (!view.AtBottom() || model.rowCount() != int(log.size()))
    state.SkipWithError("the page did not follow the log");
}
BENCHMARK_CAPTURE(BM_EventsPageAppend, painted, true)
    ->Arg(100)
    ->Arg(100'000)
    ->Iterations(1000)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_EventsPageAppend, model, false)
    ->Arg(100)
    ->Arg(100'000)
    ->Iterations(1000)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace calorix
