// Drawing cost of the measurement series against record length, against the
// plain QCPGraph as a baseline, and the memory the record and the values list
// need per sample. Run from a Release build with QT_QPA_PLATFORM=offscreen.
#include "chart/Chart.h"
#include "chart/TimeWindow.h"
#include "chart/ValuesModel.h"

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <QApplication>

#include <cmath>
#include <map>
#include <memory>

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

std::size_t HeapInUse() {
  return mallinfo2().uordblks;
}

// Bytes per sample: the record with its levels, the values model and the
// values list on top of it (reported as counters; the time is the build).
void BM_MemoryPerSample(benchmark::State& state) {
  const auto n = std::size_t(state.range(0));
  for (auto _ : state) {
    const std::size_t before = HeapInUse();
    auto record = std::make_shared<TMeasurementRecord>();
    TValuesModel model(record, TFormatSettings{});
    for (std::size_t i = 0; i < n; ++i)
      record->Add(double(i) * kSec, Temperature(i));
    const std::size_t withModel = HeapInUse();
    TValuesView view;
    view.setModel(&model);
    view.resize(300, 400);
    view.show();
    QApplication::processEvents();
    record->Add(double(n) * kSec, 0.0);  // the header lays its sections out on use
    view.repaint();
    QApplication::processEvents();
    const std::size_t withView = HeapInUse();
    state.counters["record+model B/sample"] = double(withModel - before) / double(n);
    state.counters["record own count B/sample"] = double(record->MemoryBytes()) / double(n);
    state.counters["view B/sample"] = double(withView - withModel) / double(n);
  }
}
BENCHMARK(BM_MemoryPerSample)->Arg(10'000'000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace calorix
