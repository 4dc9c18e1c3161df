#pragma once
// A long recording through the whole main window, one sample per simulated
// second: the poll timer ticks, each request goes to the simulated thermostat
// and each answer comes back through the HID reader thread. Shared by the
// soak test and the memory benchmark (bench/ui_soak.cpp).
#include "app/MainForm.h"
#include "link/Hid.h"
#include "record/Journal.h"
#include "tests/support/HeapInUse.h"
#include "tests/support/ui/WindowFixture.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace calorix::test {

// Poll ticks come a little early or late, as a real timer's do; whole
// milliseconds within ±0.2 s, so every sample loses its fraction in the file
// and neighbours sometimes share a second.
inline double SoakTickSeconds(std::int64_t n) {
  return double(n) + double((n * 7919) % 401 - 200) / 1000.0;
}

// What the bath reads at tick n: a value with more decimals than the
// thermostat sends, so the answer's two decimals are the device's rounding.
inline double SoakBathTemperature(std::int64_t n) {
  return 25.0 + double((n * 104729) % 4001 - 2000) / 997.0;
}

// Runs the event loop until cond() holds; a heartbeat timer keeps the wait
// from blocking for long when no event comes.
inline bool PumpUntil(const std::function<bool()>& cond, int timeoutMs = 10000) {
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
inline bool HandOversUntil(QObject* device, const std::function<bool()>& cond,
                           int timeoutMs = 10000) {
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

class TSoakRun {
 public:
  TSoakRun() {
    Fx.Clock.Set(0.4);  // the run starts at an arbitrary reading of the clock
    Thermostat = Fx.Plug();
    W = &Fx.Create();
    W->show();
  }

  // Waits for the thermostat to be read, then starts recording. False when
  // the window never got there.
  bool Start() {
    if (!PumpUntil([&] {
          return W->SelectedDevice() && !W->stTemp->text().isEmpty() &&
                 W->Requests().Requests().empty();
        }))
      return false;
    W->RecordBtn->click();
    FStart = Fx.Clock.Now();
    Written = Thermostat->ReportsReceived();
    return W->Recording();
  }

  // Poll tick n (from 1): the bath reads SoakBathTemperature(n) and the
  // record gets its n-th sample. Empty, or what went wrong.
  QString Tick(std::int64_t n) {
    Fx.Clock.Set(FStart + SoakTickSeconds(n) / 86400.0);
    const double bath = SoakBathTemperature(n);
    Thermostat->SetTemperature(bath);  // after the clock moved: the bath reads exactly this
    // Temperature and protection status, every tenth tick the readiness band too.
    Written += W->Requests().PollCount() + 1 >= TRequestQueue::kReadyBandEvery ? 3 : 2;
    W->DataTimer->Fire();
    if (!HandOversUntil(W->SelectedDevice(), [&] {
          return W->Record().Count() == std::size_t(n) && W->Requests().Requests().empty();
        }))
      return QStringLiteral("tick %1: no sample, %2 in the record").arg(n).arg(W->Record().Count());
    const TSample& s = W->Record().Last();
    // The sample's time is the clock's elapsed time since recording began.
    if (s.Time != Fx.Clock.Now() - FStart || !(std::fabs(s.Value - bath) <= 0.005 + 1e-9))
      return QStringLiteral("tick %1: sample (%2, %3), bath %4")
          .arg(n)
          .arg(s.Time, 0, 'g', 17)
          .arg(s.Value, 0, 'g', 17)
          .arg(bath, 0, 'g', 17);
    // A full pass of the event loop once a simulated minute: the chart
    // draws, the window repaints, queued notifications run.
    if (n % 60 == 0)
      QCoreApplication::processEvents();
    return {};
  }

  // The heap in use. The crash journal keeps in memory what came since its
  // last write, up to a period of wall-clock time: many samples at this
  // pace, few at 1 Hz. Written out first, so the figure depends on no
  // machine's speed.
  std::size_t Heap() const {
    if (TRecordJournal* journal = W->Journal())
      journal->Flush();
    return HeapInUse();
  }

  TWindowFixture Fx;
  std::shared_ptr<TSimThermostat> Thermostat;
  TMainFrm* W = nullptr;
  // Reports the thermostat should have received so far.
  std::size_t Written = 0;

 private:
  double FStart = 0.0;
};

}  // namespace calorix::test
