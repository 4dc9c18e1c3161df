// Drawing cost of the measurement series against record length, against the
// plain QCPGraph as a baseline, and the memory the record and the values list
// need per sample. Run from a Release build with QT_QPA_PLATFORM=offscreen.
#include "chart/Chart.h"
#include "chart/TimeWindow.h"
#include "chart/ValuesModel.h"
#include "tests/support/HeapInUse.h"

#include <benchmark/benchmark.h>
#include <QApplication>
#include <QMouseEvent>
#include <QWheelEvent>

#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <optional>

namespace calorix {
namespace {

constexpr double kSec = 1.0 / 86400.0;
constexpr int kWidth = 1000, kHeight = 600;

double Temperature(std::size_t i) {
  return 25.0 + 5.0 * std::sin(double(i) * 1e-3) + 0.01 * double(i % 7);
}

// Records of one sample per second, built once per length.
std::shared_ptr<TMeasurementRecord> RecordOf(std::size_t n) {
  static std::map<std::size_t, std::shared_ptr<TMeasurementRecord>> cache;
  auto& r = cache[n];
  if (!r) {
    r = std::make_shared<TMeasurementRecord>();
    for (std::size_t i = 0; i < n; ++i)
      r->Add(double(i) * kSec, Temperature(i));
  }
  return r;
}

struct TPlot {
  explicit TPlot(std::shared_ptr<TMeasurementRecord> record) : Chart(TFormatSettings{}) {
    Chart.CreateSeries(std::move(record));
    Chart.resize(kWidth, kHeight);
    Chart.show();
    Chart.SetRightRange({15, 35});
  }
  void Replot() { Chart.replot(QCustomPlot::rpImmediateRefresh); }
  TChart Chart;
};

void FrameAtEnd(TChart& chart) {
  const double end = chart.RecordLength();
  chart.SetBottomRange({end + FrameLengths[1] / 60 - FrameLengths[1], end + FrameLengths[1] / 60});
}

void BM_FramedReplot(benchmark::State& state) {
  TPlot plot(RecordOf(std::size_t(state.range(0))));
  FrameAtEnd(plot.Chart);
  for (auto _ : state)
    plot.Replot();
}
BENCHMARK(BM_FramedReplot)->Arg(10'000)->Arg(10'000'000)->Unit(benchmark::kMillisecond);

void BM_WholeRecordReplot(benchmark::State& state) {
  TPlot plot(RecordOf(std::size_t(state.range(0))));
  plot.Chart.SetBottomAutomatic(true);
  for (auto _ : state)
    plot.Replot();
}
BENCHMARK(BM_WholeRecordReplot)->Arg(10'000)->Arg(10'000'000)->Unit(benchmark::kMillisecond);

void BM_AppendAndReplotWholeRecord(benchmark::State& state) {
  // A record of its own: the appends must not leak into the other cases.
  auto record = std::make_shared<TMeasurementRecord>();
  const auto n = std::size_t(state.range(0));
  for (std::size_t i = 0; i < n; ++i)
    record->Add(double(i) * kSec, Temperature(i));
  TPlot plot(record);
  plot.Chart.SetBottomAutomatic(true);
  std::size_t i = n;
  for (auto _ : state) {
    record->Add(double(i) * kSec, Temperature(i));
    ++i;
    plot.Replot();
  }
}
BENCHMARK(BM_AppendAndReplotWholeRecord)->Arg(10'000'000)->Unit(benchmark::kMillisecond);

// Views of a 10 M record (about 116 days): the whole record, a day, an hour
// and a quarter of an hour in the middle, and a month panned half past the
// start of the record.
constexpr std::size_t kLong = 10'000'000;
constexpr double kDay = 1.0, kHour = 1.0 / 24;
TAxisRange MiddleView(double width) {
  const double middle = double(kLong) * kSec / 2;
  return {middle - width / 2, middle + width / 2};
}

// A time range of the record, or the whole record (no range).
void ShowView(TPlot& plot, const std::optional<TAxisRange>& view) {
  if (view)
    plot.Chart.SetBottomRange(*view);
  else
    plot.Chart.SetBottomAutomatic(true);
}

void BM_ViewReplot(benchmark::State& state, std::optional<TAxisRange> view) {
  TPlot plot(RecordOf(kLong));
  ShowView(plot, view);
  for (auto _ : state)
    plot.Replot();
}
BENCHMARK_CAPTURE(BM_ViewReplot, whole, std::nullopt)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ViewReplot, day, MiddleView(kDay))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ViewReplot, hour, MiddleView(kHour))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ViewReplot, frame, MiddleView(FrameLengths[1]))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ViewReplot, panned, TAxisRange{-15 * kDay, 15 * kDay})
    ->Unit(benchmark::kMillisecond);

// Runs what the event loop does after an input event: the chart's queued
// replot, then the widget showing the new picture.
void ReplotQueued(benchmark::State& state, TPlot& plot, int& replots) {
  const int before = replots;
  QApplication::processEvents();
  plot.Chart.repaint();
  if (replots == before)
    state.SkipWithError("the event queued no replot");
}

// One wheel notch over the middle of the plot through the chart's own
// handler, and the replot it queues: eight notches in, eight out, again.
void BM_WheelZoomStep(benchmark::State& state, std::optional<TAxisRange> view) {
  TPlot plot(RecordOf(kLong));
  ShowView(plot, view);
  int replots = 0;
  QObject::connect(&plot.Chart, &QCustomPlot::afterReplot, [&] { ++replots; });
  plot.Replot();
  const QPointF at = plot.Chart.axisRect()->rect().center();
  int step = 0;
  for (auto _ : state) {
    const int notch = step++ % 16 < 8 ? 1 : -1;
    QWheelEvent e(at, plot.Chart.mapToGlobal(at), {}, {0, 120 * notch}, Qt::NoButton,
                  Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&plot.Chart, &e);
    ReplotQueued(state, plot, replots);
  }
}
BENCHMARK_CAPTURE(BM_WheelZoomStep, whole, std::nullopt)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WheelZoomStep, day, MiddleView(kDay))->Unit(benchmark::kMillisecond);

// One mouse move of a left-button drag through the chart's own handler and
// the replot it queues: 50 moves of 10 px to the right, 50 back, again.
void BM_DragPanStep(benchmark::State& state, TAxisRange view) {
  TPlot plot(RecordOf(kLong));
  plot.Chart.SetBottomRange(view);
  int replots = 0;
  QObject::connect(&plot.Chart, &QCustomPlot::afterReplot, [&] { ++replots; });
  plot.Replot();
  auto send = [&](QEvent::Type type, QPointF at) {
    QMouseEvent e(type, at, plot.Chart.mapToGlobal(at),
                  type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, Qt::LeftButton,
                  Qt::NoModifier);
    QApplication::sendEvent(&plot.Chart, &e);
  };
  QPointF at = plot.Chart.axisRect()->rect().center() - QPointF(250, 0);
  send(QEvent::MouseButtonPress, at);
  int step = 0;
  for (auto _ : state) {
    at += QPointF(step++ % 100 < 50 ? 10 : -10, 0);
    send(QEvent::MouseMove, at);
    ReplotQueued(state, plot, replots);
  }
  send(QEvent::MouseButtonRelease, at);
}
BENCHMARK_CAPTURE(BM_DragPanStep, month, MiddleView(30 * kDay))->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_DragPanStep, day, MiddleView(kDay))->Unit(benchmark::kMillisecond);

// The long record with sensor faults: a minute of infinities in the middle
// and a few single ones.
std::shared_ptr<TMeasurementRecord> RecordWithFaults() {
  static std::shared_ptr<TMeasurementRecord> r;
  if (!r) {
    r = std::make_shared<TMeasurementRecord>();
    constexpr double inf = std::numeric_limits<double>::infinity();
    for (std::size_t i = 0; i < kLong; ++i) {
      const bool fault = (i >= kLong / 2 && i < kLong / 2 + 60) || i % 1'234'567 == 1000;
      r->Add(double(i) * kSec, fault ? (i % 2 ? inf : -inf) : Temperature(i));
    }
  }
  return r;
}

// The figures of a marked range as the window gets them: the bounds of the
// range in the record, then its statistics.
void BM_RangeStats(benchmark::State& state, double from, double to, bool faults) {
  const auto record = faults ? RecordWithFaults() : RecordOf(kLong);
  const double length = record->Length();
  std::size_t count = 0;
  for (auto _ : state) {
    const TRangeStats s =
        record->Stats(record->LowerBound(from * length), record->UpperBound(to * length));
    benchmark::DoNotOptimize(s);
    count = s.Count;
  }
  state.counters["samples"] = double(count);
}
BENCHMARK_CAPTURE(BM_RangeStats, whole, 0.0, 1.0, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_RangeStats, middle, 0.3137, 0.6071, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_RangeStats, tiny, 0.5, 0.5 + 7e-7, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_RangeStats, faults_whole, 0.0, 1.0, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_RangeStats, faults_middle, 0.3137, 0.6071, true)
    ->Unit(benchmark::kMicrosecond);

// The baseline: QCustomPlot's own graph over the same samples.
void BM_QCPGraphReplot(benchmark::State& state) {
  const auto n = std::size_t(state.range(0));
  const bool whole = state.range(1) != 0;
  QCustomPlot plot;
  plot.resize(kWidth, kHeight);
  plot.show();
  QCPGraph* graph = plot.addGraph(plot.xAxis, plot.yAxis2);
  graph->setPen(QPen(QColor(0, 0, 255), 2.0));
  {
    QVector<double> keys(static_cast<qsizetype>(n)), values(static_cast<qsizetype>(n));
    for (std::size_t i = 0; i < n; ++i) {
      keys[qsizetype(i)] = double(i) * kSec;
      values[qsizetype(i)] = Temperature(i);
    }
    graph->setData(keys, values, true);
  }
  plot.yAxis2->setVisible(true);
  plot.yAxis2->setRange(15, 35);
  const double end = double(n - 1) * kSec;
  if (whole) {
    plot.xAxis->setRange(0, end);
  } else {
    plot.xAxis->setRange(end + FrameLengths[1] / 60 - FrameLengths[1], end + FrameLengths[1] / 60);
  }
  for (auto _ : state)
    plot.replot(QCustomPlot::rpImmediateRefresh);
}
BENCHMARK(BM_QCPGraphReplot)
    ->Args({10'000, 0})
    ->Args({10'000'000, 0})
    ->Args({10'000'000, 1})
    ->Unit(benchmark::kMillisecond);

// Bytes per sample: the record with its levels, the values model and the
// values list on top of it (reported as counters; the time is the build).
void BM_MemoryPerSample(benchmark::State& state) {
  const auto n = std::size_t(state.range(0));
  for (auto _ : state) {
    const std::size_t before = test::HeapInUse();
    auto record = std::make_shared<TMeasurementRecord>();
    TValuesModel model(record, TFormatSettings{});
    for (std::size_t i = 0; i < n; ++i)
      record->Add(double(i) * kSec, Temperature(i));
    const std::size_t withModel = test::HeapInUse();
    TValuesView view;
    view.setModel(&model);
    view.resize(300, 400);
    view.show();
    QApplication::processEvents();
    record->Add(double(n) * kSec, 0.0);  // the header lays its sections out on use
    view.repaint();
    QApplication::processEvents();
    const std::size_t withView = test::HeapInUse();
    state.counters["record+model B/sample"] = double(withModel - before) / double(n);
    state.counters["record own count B/sample"] = double(record->MemoryBytes()) / double(n);
    state.counters["view B/sample"] = double(withView - withModel) / double(n);
  }
}
BENCHMARK(BM_MemoryPerSample)->Arg(10'000'000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace calorix
