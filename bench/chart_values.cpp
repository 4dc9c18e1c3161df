// The values list against record length: one recorded sample reaching it,
// and the heap the list holds per line. Run from a Release build with
// QT_QPA_PLATFORM=offscreen.
#include "chart/ValuesModel.h"
#include "tests/support/HeapInUse.h"

#include <benchmark/benchmark.h>
#include <QApplication>

#include <cmath>
#include <memory>

namespace calorix {
namespace {

constexpr double kSec = 1.0 / 86400.0;

double Temperature(std::size_t i) {
  return 25.0 + 5.0 * std::sin(double(i) * 1e-3) + 0.01 * double(i % 7);
}

// A model over n samples of one per second, loaded as a file is.
struct TValues {
  explicit TValues(std::size_t n) : Model(Record, TFormatSettings{}) {
    TMeasurementRecord::TBulkUpdate bulk(*Record);
    for (std::size_t i = 0; i < n; ++i)
      Record->Add(double(i) * kSec, Temperature(i));
  }
  void Append() {
    const std::size_t i = Record->Count();
    Record->Add(double(i) * kSec, Temperature(i));
  }
  std::shared_ptr<TMeasurementRecord> Record = std::make_shared<TMeasurementRecord>();
  TValuesModel Model;
};

// One recorded sample reaching the list: insert, keep to the bottom, repaint.
void BM_ValuesAppend(benchmark::State& state) {
  TValues values(std::size_t(state.range(0)));
  TValuesView view;
  view.setModel(&values.Model);
  view.resize(300, 400);
  view.show();
  view.ScrollToBottom();
  QApplication::processEvents();
  for (auto _ : state) {
    values.Append();
    view.repaint();
    QApplication::processEvents();
  }
  if (!view.AtBottom())
    state.SkipWithError("the list did not keep to the bottom");
}
BENCHMARK(BM_ValuesAppend)->Arg(10'000)->Arg(10'000'000)->Unit(benchmark::kMillisecond);

// Bytes the list adds per line once shown, scrolled, appended to and painted
// (reported as a counter; the time is the setup).
void BM_ValuesViewMemory(benchmark::State& state) {
  const auto n = std::size_t(state.range(0));
  for (auto _ : state) {
    TValues values(n);
    const std::size_t before = test::HeapInUse();
    TValuesView view;
    view.setModel(&values.Model);
    view.resize(300, 400);
    view.show();
    view.ScrollToBottom();
    values.Append();
    view.repaint();
    QApplication::processEvents();
    state.counters["view B/line"] = (double(test::HeapInUse()) - double(before)) / double(n);
  }
}
BENCHMARK(BM_ValuesViewMemory)->Arg(10'000'000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace calorix
