// The recording journal: what an Append costs the window's thread while the
// writer thread writes, the memory it holds per sample, and how long
// restoring a long record takes (a day of samples every 1/30 s is about 2.6
// million). Run from a Release build.
#include "record/Journal.h"
#include "tests/support/HeapInUse.h"

#include <benchmark/benchmark.h>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>

namespace calorix {
namespace {

constexpr std::size_t kRestoreSamples = 2'600'000;

QTemporaryDir& Folder() {
  static QTemporaryDir dir;
  return dir;
}

// Appends with a writer that wakes every 20 ms, far more often than the
// program's 5 s, so that the appends meet its batch copies.
void BM_Append(benchmark::State& state) {
  TJournalOptions options;
  options.Owner = QStringLiteral("append");
  options.PeriodMs = 20;
  TRecordJournal journal(Folder().path(), options);
  double t = 0;
  for (auto _ : state) {
    journal.Append(t, 25.0 + std::sin(t));
    t += 1.0 / 86400.0;
  }
  journal.Close();  // after the timed loop
}
BENCHMARK(BM_Append)->Iterations(3'000'000)->Unit(benchmark::kNanosecond);

// The slowest single Append among them, with the writer busy (20 ms) and
// idle (10 min) as the baseline: the difference is the wait for a batch copy,
// the rest is the thread losing the processor.
void BM_AppendWorst(benchmark::State& state) {
  TJournalOptions options;
  options.Owner = QStringLiteral("worst");
  options.PeriodMs = int(state.range(0));
  TRecordJournal journal(Folder().path(), options);
  double t = 0, worst = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    journal.Append(t, 25.0);
    const std::chrono::duration<double, std::micro> took = std::chrono::steady_clock::now() - start;
    worst = std::max(worst, took.count());
    t += 1.0 / 86400.0;
  }
  state.counters["worst_us"] = worst;
  journal.Close();  // after the timed loop
}
BENCHMARK(BM_AppendWorst)
    ->Arg(20)
    ->Arg(600'000)
    ->Iterations(3'000'000)
    ->Unit(benchmark::kNanosecond);

// What the journal holds in memory per sample of the record: written out
// while unsaved, after a save, and once recording goes on after the save
// (the file then holds the whole record again). The record itself is the
// window's; the journal should add next to nothing to it.
void BM_HeldBytesPerSample(benchmark::State& state) {
  const auto n = std::size_t(state.range(0));
  double unsaved = 0, saved = 0, resumed = 0;
  for (auto _ : state) {
    TJournalOptions options;
    options.Owner = QStringLiteral("held");
    options.PeriodMs = 600'000;  // written by Flush only: no batch in flight
    TRecordJournal journal(Folder().path(), options);
    journal.Flush();
    const std::size_t before = test::HeapInUse();
    auto per = [&] { return (double(test::HeapInUse()) - double(before)) / double(n); };
    for (std::size_t i = 0; i < n; ++i)
      journal.Append(double(i) / 86400.0, 25.0 + 0.001 * double(i % 1000));
    journal.Flush();
    unsaved = per();
    journal.MarkSaved();
    saved = per();
    journal.Append(double(n) / 86400.0, 25.0);
    journal.Flush();
    resumed = per();
    if (TRecordJournal::Restore(journal.Path()).Samples.size() != n + 1)
      state.SkipWithError("the journal does not hold the whole record");
    journal.Close();
  }
  state.counters["unsaved_B"] = unsaved;
  state.counters["saved_B"] = saved;
  state.counters["resumed_B"] = resumed;
}
BENCHMARK(BM_HeldBytesPerSample)->Arg(100'000)->Arg(2'600'000)->Unit(benchmark::kMillisecond);

// A journal left on disk, written once.
const QString& LongJournal() {
  static const QString path = [] {
    TJournalOptions options;
    options.Owner = QStringLiteral("long");
    TRecordJournal journal(Folder().path(), options);
    for (std::size_t i = 0; i < kRestoreSamples; ++i)
      journal.Append(double(i) / (30 * 86400.0), 25.0 + 0.001 * double(i % 1000));
    journal.Flush();
    return journal.Path();  // the destructor keeps the unsaved record
  }();
  return path;
}

void BM_Restore(benchmark::State& state) {
  const QString& path = LongJournal();
  for (auto _ : state) {
    TJournalRestore r = TRecordJournal::Restore(path);
    if (r.Samples.size() != kRestoreSamples)
      state.SkipWithError("journal incomplete");
    benchmark::DoNotOptimize(r.Samples.data());
  }
  state.counters["samples"] = double(kRestoreSamples);
}
BENCHMARK(BM_Restore)->Unit(benchmark::kMillisecond);

// The start-up scan reads the same file to count it.
void BM_FindAbandoned(benchmark::State& state) {
  LongJournal();
  for (auto _ : state) {
    const std::vector<TJournalFound> found = TRecordJournal::FindAbandoned(Folder().path());
    if (found.empty() || found[0].Count != kRestoreSamples)
      state.SkipWithError("journal not found");
    benchmark::DoNotOptimize(found.data());
  }
}
BENCHMARK(BM_FindAbandoned)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace calorix
