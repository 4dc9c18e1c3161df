#pragma once
// Waits for an event by running the event loop until a condition holds. The
// limit only stops a test that would hang; no test measures time with it.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <functional>

namespace calorix::test {

inline bool WaitForEvent(const std::function<bool()>& cond, int limitMs = 30000) {
  QElapsedTimer t;
  t.start();
  while (!cond()) {
    if (t.elapsed() > limitMs)
      return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  return true;
}

}  // namespace calorix::test
