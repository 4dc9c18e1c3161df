// Heap bytes per sample of a recording through the whole main window, as the
// soak test runs it (tests/soak/SoakRun.h): counters, the time is the run.
// Measured between 2^k + 1 and 2^(k+1) + 1 samples, where every part of the
// record (its chunks, its level vectors, the vector of chunks) stands at the
// same point of its growth, so the figure does not depend on where a chunk or
// a doubling falls. Run from a Release build with QT_QPA_PLATFORM=offscreen.
#include "record/Record.h"
#include "tests/soak/SoakRun.h"

#include <benchmark/benchmark.h>

#include <cstdint>

namespace calorix {
namespace {

void BM_WindowHeapPerSample(benchmark::State& state) {
  const auto from = std::int64_t(state.range(0)) + 1, to = 2 * std::int64_t(state.range(0)) + 1;
  for (auto _ : state) {
    test::TSoakRun run;
    if (!run.Start()) {
      state.SkipWithError("the thermostat was never read");
      return;
    }
    std::size_t heapAtFrom = 0, recordAtFrom = 0;
    for (std::int64_t n = 1; n <= to; ++n) {
      const QString error = run.Tick(n);
      if (!error.isEmpty()) {
        state.SkipWithError(error.toStdString().c_str());
        return;
      }
      if (n == from) {
        heapAtFrom = run.Heap();
        recordAtFrom = run.W->Record().MemoryBytes();
      }
    }
    const double samples = double(to - from);
    const double heap = double(std::int64_t(run.Heap() - heapAtFrom));
    const double record = double(std::int64_t(run.W->Record().MemoryBytes() - recordAtFrom));
    state.counters["heap B/sample"] = heap / samples;
    state.counters["record B/sample"] = record / samples;
    state.counters["other B/sample"] = (heap - record) / samples;
  }
}
BENCHMARK(BM_WindowHeapPerSample)
    ->Arg(1 << 14)
    ->Arg(1 << 17)
    ->Iterations(1)
    ->Unit(benchmark::kSecond);

// One poll through the whole window, as the user's window runs it: the poll
// tick, the simulated thermostat's answers handed over, the readings shown and
// the sample recorded, charted and listed. Time per poll (the thermostat's
// thread included; it answers at once).
void BM_WindowPoll(benchmark::State& state) {
  test::TSoakRun run;
  if (!run.Start()) {
    state.SkipWithError("the thermostat was never read");
    return;
  }
  std::int64_t n = 0;
  for (auto _ : state) {
    const QString error = run.Tick(++n);
    if (!error.isEmpty()) {
      state.SkipWithError(error.toStdString().c_str());
      return;
    }
  }
}
BENCHMARK(BM_WindowPoll)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace calorix
