#pragma once
// Where the program reads the time. Elapsed recording times are differences of
// two readings, so the clock is monotonic: a run across midnight or a change of
// the system time does not make the record jump.
#include <QElapsedTimer>
#include <QtGlobal>

#include <cmath>

namespace calorix {

class IClock {
 public:
  virtual ~IClock() = default;
  // The current reading in days (one second is 1/86400).
  virtual double Now() const = 0;
};

class TSteadyClock final : public IClock {
 public:
  TSteadyClock() { FTimer.start(); }
  double Now() const override { return double(FTimer.nsecsElapsed()) / 86'400e9; }

 private:
  QElapsedTimer FTimer;
};

// A clock that moves only when told to: for tests and accelerated runs.
class TManualClock final : public IClock {
 public:
  double Now() const override { return FNow; }
  void Set(double days) { FNow = days; }
  void AdvanceSeconds(double seconds) { FNow += seconds / 86400.0; }

 private:
  double FNow = 0.0;
};

// The wall clock (UTC, ms since 1970) of a clock reading, from one reading of
// each taken together: it follows the monotonic clock, not later jumps of the
// system's time.
class TWallClock {
 public:
  TWallClock() = default;
  TWallClock(qint64 utcMs, double reading) : FUtcMs(utcMs), FReading(reading) {}
  qint64 At(double reading) const {
    return FUtcMs + std::llround((reading - FReading) * 86'400'000.0);
  }

 private:
  qint64 FUtcMs = 0;
  double FReading = 0.0;
};

}  // namespace calorix
