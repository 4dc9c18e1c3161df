#pragma once
// The window's timers. They keep the toolkit semantics the program relies on:
// enabling a running timer leaves it running unchanged, and setting a different
// interval restarts a running timer. In manual mode (tests, accelerated runs)
// no real timer runs and a tick happens only through Fire().
#include <QObject>
#include <QTimer>

#include <functional>

namespace calorix {

class TTimer : public QObject {
  Q_OBJECT
 public:
  explicit TTimer(QObject* parent, int intervalMs = 1000, bool singleShot = false);

  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool on);
  // Starts the timer anew even if it was running (a fresh full interval).
  void Restart();
  int Interval() const { return FInterval; }
  void SetInterval(int ms);

  // The tick handler; run on the user-interface thread.
  std::function<void()> OnTimer;

  // Runs one tick now, as if the interval had passed (manual mode and tests).
  void Fire();

  // Manual mode applies to timers created after it is switched on.
  static void SetManualMode(bool manual);
  static bool ManualMode();

  // Whether a tick handler of some timer is running now. A modal loop inside
  // one holds that timer back until the handler returns.
  static bool Ticking();

 private:
  void Tick();

  QTimer* FTimer = nullptr;  // none in manual mode
  int FInterval;
  bool FEnabled = false;
  bool FSingleShot;
};

}  // namespace calorix
