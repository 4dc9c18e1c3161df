// A long recording through the whole window: the poll timer ticks once per
// simulated second, each request goes to the simulated thermostat and each
// answer comes back through the HID reader thread, as in a run of weeks. The
// memory must grow by the samples only, and the record must survive a save
// and a reopen as the file keeps it. The exact bytes per sample are a
// benchmark's figure (bench/ui_soak.cpp): here only what no chunk or doubling
// can cross by chance.
//
// CALORIX_SOAK_DAYS sets the length in simulated days (default one, about
// half a minute under the sanitizers); scripts/soak runs 30. A run longer
// than five minutes needs QTEST_FUNCTION_TIMEOUT raised, as scripts/soak does.
#include "app/MainForm.h"
#include "chart/Chart.h"
#include "chart/ValuesModel.h"
#include "link/Hid.h"
#include "tests/soak/SoakRun.h"
#include "tests/support/HeapInUse.h"

#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include <unistd.h>

using namespace calorix;
using calorix::test::TSoakRun;

namespace {

constexpr double kDefaultDays = 1.0;
constexpr std::int64_t kSamplesPerDay = 86400;
// What the heap may grow by besides the record, bytes (see the check).
constexpr double kOtherSlack = 256.0 * 1024;
constexpr double kOtherPerSample = 2.0;

// Resident set size, for information only: the sanitizer's quarantine and
// shadow memory make it rise by far more than the program holds.
std::size_t ResidentBytes() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2)
      resident = 0;
    std::fclose(f);
  }
  return std::size_t(resident) * std::size_t(sysconf(_SC_PAGESIZE));
}

// The file keeps the elapsed time in whole seconds of the time rounded to
// the millisecond, and reads it back as seconds / 86400.
double FileTime(double days) {
  const auto ms = static_cast<long long>(std::round(std::fabs(days) * 86'400'000.0));
  return double(ms / 1000 * 1000) / 86'400'000.0;
}

// The file keeps two decimals. The samples came with two decimals from the
// thermostat and are far below 10^6, so the 8-significant-digit step of the
// writer changes nothing and no tie of half a hundredth can occur.
double FileValue(double value) {
  return std::round(value * 100.0) / 100.0;
}

}  // namespace

class TestSoak : public QObject {
  Q_OBJECT
 private Q_SLOTS:
  void recordingForDaysGrowsBySamplesOnlyAndSavesEverySample() {
    double days = kDefaultDays;
    if (qEnvironmentVariableIsSet("CALORIX_SOAK_DAYS")) {
      bool ok = false;
      days = qEnvironmentVariable("CALORIX_SOAK_DAYS").toDouble(&ok);
      if (!ok || !(days > 0.0) || days > 366.0)
        QFAIL("CALORIX_SOAK_DAYS must be a number of days above 0 and at most 366");
    }
    const std::int64_t samples = std::max<std::int64_t>(1, std::llround(days * kSamplesPerDay));
    // A checkpoint every simulated day; short runs get four.
    const std::int64_t every =
        samples >= 2 * kSamplesPerDay ? kSamplesPerDay : std::max<std::int64_t>(1, samples / 4);

    TSoakRun run;
    TMainFrm& w = *run.W;
    QVERIFY(run.Start());

    const std::size_t heapAtStart = test::HeapInUse();
    std::size_t heapAtFirst = 0, recordAtFirst = 0;
    std::int64_t firstCheckpoint = 0;
    QElapsedTimer wall;
    wall.start();
    std::printf("%10s %10s %12s %12s %12s %8s\n", "samples", "record B", "heap B", "RSS B",
                "other B", "wall s");

    for (std::int64_t n = 1; n <= samples; ++n) {
      const QString error = run.Tick(n);
      if (!error.isEmpty())
        QFAIL(qPrintable(error));

      // Halfway the user switches to the whole record: from then on every
      // drawing spans everything recorded.
      if (n == samples / 2)
        w.cbXAuto->click();

      if (n % every != 0 && n != samples)
        continue;
      const std::size_t heap = run.Heap();
      const std::size_t record = w.Record().MemoryBytes();
      if (firstCheckpoint == 0) {
        firstCheckpoint = n;
        heapAtFirst = heap;
        recordAtFirst = record;
      }
      // What the heap grew by besides the record's own growth.
      const auto other = std::int64_t(heap - heapAtFirst) - std::int64_t(record - recordAtFirst);
      std::printf("%10lld %10zu %12zu %12zu %12lld %8.1f\n", static_cast<long long>(n), record,
                  heap, ResidentBytes(), static_cast<long long>(other),
                  double(wall.elapsed()) / 1000.0);
      std::fflush(stdout);

      // The record: 16 bytes a sample in fixed chunks of 16384, min/max levels
      // of 16 bytes per 16, 256, ... samples (1.07 bytes a sample), whose
      // vectors may hold twice that in spare capacity, and one chunk being
      // filled.
      const double recordBudget = 16.0 + 2.0 * 16.0 / 15.0;
      QVERIFY2(
          double(record) <= recordBudget * double(n) + 256.0 * 1024 + 4096,
          qPrintable(QStringLiteral("record holds %1 bytes for %2 samples").arg(record).arg(n)));
      // Everything the window keeps per sample is the record. The crash
      // journal holds only the samples not written yet (its file keeps the
      // rest), the values list formats its lines on demand and keeps no state
      // per row, the chart draws a few vertices per pixel column. The
      // record's own count takes its chunks whole and its vectors' capacity,
      // so where a chunk or a doubling falls moves both figures alike; the
      // rest may grow by a fixed slack for buffers that come and go and a
      // small share per sample, well below the 16 bytes a second copy of the
      // samples (or a line of text, an event, a drawing kept per sample)
      // would add.
      const std::int64_t since = n - firstCheckpoint;
      const double allowed = kOtherSlack + kOtherPerSample * double(since);
      QVERIFY2(double(other) <= allowed,
               qPrintable(QStringLiteral("over %1 samples the heap grew by %2 bytes besides the "
                                         "record (allowed %3)")
                              .arg(since)
                              .arg(other)
                              .arg(allowed)));
      QCOMPARE(w.ValuesModel()->rowCount(), int(n));
      const TLinePath& path = w.Chart->Series(0)->LastPath();
      QVERIFY(!path.Points.empty());
      QVERIFY2(path.Points.size() <= 4 * std::size_t(w.Chart->axisRect()->width() + 3),
               qPrintable(QStringLiteral("%1 vertices drawn").arg(path.Points.size())));
    }
    QCOMPARE(run.Thermostat->ReportsReceived(), run.Written);
    std::printf("heap: %zu bytes at the start of recording, %zu after %lld samples\n", heapAtStart,
                test::HeapInUse(), static_cast<long long>(samples));

    // Save through the window, clear, open the file again.
    w.RecordBtn->click();
    QVERIFY(!w.Recording());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("soak.csv"));
    run.Fx.Prompts.FileNames = {path};
    w.SaveAction->trigger();
    QVERIFY(run.Fx.Prompts.Errors().isEmpty());
    QVERIFY(!w.Modified());
    QCOMPARE(QFileInfo(path).exists(), true);

    std::vector<TSample> recorded;
    recorded.reserve(w.Record().Count());
    for (std::size_t i = 0; i < w.Record().Count(); ++i)
      recorded.push_back(w.Record()[i]);

    run.Fx.Prompts.YesNo = {true};
    w.ClearBtn->click();
    QCOMPARE(w.Record().Count(), std::size_t(0));
    run.Fx.Prompts.FileNames = {path};
    w.OpenAction->trigger();
    QVERIFY(run.Fx.Prompts.Errors().isEmpty());
    QCOMPARE(w.Record().Count(), recorded.size());
    for (std::size_t i = 0; i < recorded.size(); ++i) {
      const TSample& back = w.Record()[i];
      if (back.Time != FileTime(recorded[i].Time) || back.Value != FileValue(recorded[i].Value))
        QFAIL(qPrintable(QStringLiteral("sample %1: (%2, %3) read back as (%4, %5)")
                             .arg(i)
                             .arg(recorded[i].Time, 0, 'g', 17)
                             .arg(recorded[i].Value, 0, 'g', 17)
                             .arg(back.Time, 0, 'g', 17)
                             .arg(back.Value, 0, 'g', 17)));
    }
    QCOMPARE(w.ValuesModel()->rowCount(), int(recorded.size()));
    std::printf("saved, cleared and reopened %zu samples; %.1f s in all\n", recorded.size(),
                double(wall.elapsed()) / 1000.0);
  }
};

QTEST_MAIN(TestSoak)
#include "test_soak.moc"
