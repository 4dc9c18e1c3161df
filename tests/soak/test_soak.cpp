// A long recording through the whole window: the poll timer ticks once per
// simulated second, each request goes to the simulated thermostat and each
// answer comes back through the HID reader thread, as in a run of weeks. The
// memory must grow by the samples only, and the record must survive a save
// and a reopen as the file keeps it.
//
// CALORIX_SOAK_DAYS sets the length in simulated days (default one, about
// half a minute under the sanitizers); scripts/soak runs 30. A run longer
// than five minutes needs QTEST_FUNCTION_TIMEOUT raised, as scripts/soak does.
#include "app/MainForm.h"
#include "chart/Chart.h"
#include "chart/ValuesModel.h"
#include "link/Hid.h"
#include "tests/support/HeapInUse.h"
#include "tests/support/ui/WindowFixture.h"

#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include <unistd.h>

using namespace calorix;
using calorix::test::TWindowFixture;

namespace {

constexpr double kDefaultDays = 1.0;
constexpr std::int64_t kSamplesPerDay = 86400;

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

// Poll ticks come a little early or late, as a real timer's do; whole
// milliseconds within ±0.2 s, so every sample loses its fraction in the file
// and neighbours sometimes share a second.
double TickSeconds(std::int64_t n) {
  return double(n) + double((n * 7919) % 401 - 200) / 1000.0;
}

// What the bath reads at tick n: a value with more decimals than the
// thermostat sends, so the answer's two decimals are the device's rounding.
double BathTemperature(std::int64_t n) {
  return 25.0 + double((n * 104729) % 4001 - 2000) / 997.0;
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

// Runs the event loop until cond() holds; a heartbeat timer keeps the wait
// from blocking for long when no event comes.
bool PumpUntil(const std::function<bool()>& cond, int timeoutMs = 10000) {
  QTimer heartbeat;
  heartbeat.start(50);
  QElapsedTimer t;
  t.start();
  while (!cond()) {
    if (t.elapsed() > timeoutMs)
      return false;
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  return true;
}

// Runs only the device's hand-overs of input reports (posted by its reader
// thread) until cond() holds. Everything else the window posts meanwhile (the
// chart's queued replot, repaints) merges and waits for the next full pass of
// the event loop: at thousands of samples a second a replot per sample would
// take most of the run, while at 1 Hz the window replots once per sample anyway.
bool HandOversUntil(QObject* device, const std::function<bool()>& cond, int timeoutMs = 10000) {
  QElapsedTimer t;
  t.start();
  for (int spins = 0; !cond(); ++spins) {
    QCoreApplication::sendPostedEvents(device, QEvent::MetaCall);
    if (cond())
      break;
    if (t.elapsed() > timeoutMs)
      return false;
    if (spins < 200)
      std::this_thread::yield();
    else
      std::this_thread::sleep_for(std::chrono::microseconds(50));
  }
  return true;
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

    TWindowFixture fx;
    fx.Clock.Set(0.4);  // the run starts at an arbitrary reading of the clock
    auto thermostat = fx.Plug();
    TMainFrm& w = fx.Create();
    w.show();
    QVERIFY(PumpUntil([&] {
      return w.SelectedDevice() && !w.stTemp->text().isEmpty() && w.Requests().Requests().empty();
    }));
    w.RecordBtn->click();
    QVERIFY(w.Recording());
    const double start = fx.Clock.Now();

    const std::size_t heapAtStart = test::HeapInUse();
    std::size_t heapAtFirst = 0;
    std::int64_t firstCheckpoint = 0;
    QElapsedTimer wall;
    wall.start();
    std::printf("%10s %10s %12s %12s %12s %8s\n", "samples", "record B", "heap B", "RSS B",
                "heap B/smp", "wall s");

    std::size_t written = thermostat->ReportsReceived();
    for (std::int64_t n = 1; n <= samples; ++n) {
      fx.Clock.Set(start + TickSeconds(n) / 86400.0);
      const double bath = BathTemperature(n);
      thermostat->SetTemperature(bath);  // after the clock moved: the bath reads exactly this
      // Temperature and protection status, every tenth tick the readiness band too.
      written += w.Requests().PollCount() + 1 >= TRequestQueue::kReadyBandEvery ? 3 : 2;
      w.DataTimer->Fire();
      if (!HandOversUntil(w.SelectedDevice(), [&] {
            return w.Record().Count() == std::size_t(n) && w.Requests().Requests().empty();
          }))
        QFAIL(qPrintable(
            QStringLiteral("tick %1: no sample, %2 in the record").arg(n).arg(w.Record().Count())));
      const TSample& s = w.Record().Last();
      // The sample's time is the clock's elapsed time since recording began.
      if (s.Time != fx.Clock.Now() - start || !(std::fabs(s.Value - bath) <= 0.005 + 1e-9))
        QFAIL(qPrintable(QStringLiteral("tick %1: sample (%2, %3), bath %4")
                             .arg(n)
                             .arg(s.Time, 0, 'g', 17)
                             .arg(s.Value, 0, 'g', 17)
                             .arg(bath, 0, 'g', 17)));

      // A full pass of the event loop once a simulated minute: the chart
      // draws, the window repaints, queued notifications run.
      if (n % 60 == 0)
        QCoreApplication::processEvents();

      // Halfway the user switches to the whole record: from then on every
      // drawing spans everything recorded.
      if (n == samples / 2)
        w.cbXAuto->click();

      if (n % every != 0 && n != samples)
        continue;
      const std::size_t heap = test::HeapInUse();
      const std::size_t record = w.Record().MemoryBytes();
      if (firstCheckpoint == 0) {
        firstCheckpoint = n;
        heapAtFirst = heap;
      }
      const double perSample = n > firstCheckpoint ? double(std::int64_t(heap - heapAtFirst)) /
                                                         double(n - firstCheckpoint)
                                                   : 0.0;
      std::printf("%10lld %10zu %12zu %12zu %12.1f %8.1f\n", static_cast<long long>(n), record,
                  heap, ResidentBytes(), perSample, double(wall.elapsed()) / 1000.0);
      std::fflush(stdout);

      // The record: 16 bytes a sample in fixed chunks of 16384, min/max levels
      // of 16 bytes per 16, 256, ... samples (1.07 bytes a sample), whose
      // vectors may hold twice that in spare capacity, and one chunk being
      // filled.
      const double recordBudget = 16.0 + 2.0 * 16.0 / 15.0;
      QVERIFY2(
          double(record) <= recordBudget * double(n) + 256.0 * 1024 + 4096,
          qPrintable(QStringLiteral("record holds %1 bytes for %2 samples").arg(record).arg(n)));
      // Everything the window keeps per sample is the record as above. The
      // crash journal holds only the samples not written yet (its file keeps
      // the rest), the values list formats its lines on demand and keeps no
      // state per row, the chart draws a few vertices per pixel column, so
      // they add nothing. 24 bytes leaves room for a chunk of the record just
      // begun; a second copy of the samples, a line of text, an event or a
      // drawing kept per sample would exceed it. Measured over at least half
      // a day, so that single allocations average out.
      if (n - firstCheckpoint >= kSamplesPerDay / 2) {
        QVERIFY2(perSample <= 24.0,
                 qPrintable(QStringLiteral("the heap grew by %1 bytes a sample").arg(perSample)));
      }
      QCOMPARE(w.ValuesModel()->rowCount(), int(n));
      const TLinePath& path = w.Chart->Series(0)->LastPath();
      QVERIFY(!path.Points.empty());
      QVERIFY2(path.Points.size() <= 4 * std::size_t(w.Chart->axisRect()->width() + 3),
               qPrintable(QStringLiteral("%1 vertices drawn").arg(path.Points.size())));
    }
    QCOMPARE(thermostat->ReportsReceived(), written);
    std::printf("heap: %zu bytes at the start of recording, %zu after %lld samples\n", heapAtStart,
                test::HeapInUse(), static_cast<long long>(samples));

    // Save through the window, clear, open the file again.
    w.RecordBtn->click();
    QVERIFY(!w.Recording());
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("soak.csv"));
    fx.Prompts.FileNames = {path};
    w.SaveAction->trigger();
    QVERIFY(fx.Prompts.Errors().isEmpty());
    QVERIFY(!w.Modified());
    QCOMPARE(QFileInfo(path).exists(), true);

    std::vector<TSample> recorded;
    recorded.reserve(w.Record().Count());
    for (std::size_t i = 0; i < w.Record().Count(); ++i)
      recorded.push_back(w.Record()[i]);

    fx.Prompts.YesNo = {true};
    w.ClearBtn->click();
    QCOMPARE(w.Record().Count(), std::size_t(0));
    fx.Prompts.FileNames = {path};
    w.OpenAction->trigger();
    QVERIFY(fx.Prompts.Errors().isEmpty());
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
