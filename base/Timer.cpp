#include "base/Timer.h"

namespace calorix {
namespace {
bool GManualMode = false;
int GTicking = 0;  // tick handlers on the stack (all on the user-interface thread)
}  // namespace

TTimer::TTimer(QObject* parent, int intervalMs, bool singleShot)
    : QObject(parent), FInterval(intervalMs), FSingleShot(singleShot) {
  if (!GManualMode) {
    FTimer = new QTimer(this);
    FTimer->setInterval(intervalMs);
    FTimer->setSingleShot(singleShot);
    FTimer->setTimerType(Qt::PreciseTimer);
    connect(FTimer, &QTimer::timeout, this, [this] { Tick(); });
  }
}

void TTimer::SetEnabled(bool on) {
  if (on == FEnabled)
    return;
  FEnabled = on;
  if (FTimer) {
    if (on)
      FTimer->start();
    else
      FTimer->stop();
  }
}

void TTimer::Restart() {
  FEnabled = true;
  if (FTimer)
    FTimer->start();
}

void TTimer::SetInterval(int ms) {
  if (ms == FInterval)
    return;
  FInterval = ms;
  if (FTimer)
    FTimer->setInterval(ms);  // QTimer restarts a running timer itself
}

void TTimer::Fire() {
  Tick();
}

void TTimer::Tick() {
  if (FSingleShot)
    SetEnabled(false);
  if (!OnTimer)
    return;
  struct TTicking {
    TTicking() { ++GTicking; }
    ~TTicking() { --GTicking; }
  } ticking;
  OnTimer();
}

bool TTimer::Ticking() {
  return GTicking > 0;
}

void TTimer::SetManualMode(bool manual) {
  GManualMode = manual;
}
bool TTimer::ManualMode() {
  return GManualMode;
}

}  // namespace calorix
