#pragma once
// Shared helpers of the HID tests: running the event loop until something
// happened, and building requests and reading answers in both framings.
#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <chrono>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "link/SimThermostat.h"

namespace calorix::test {

// Runs the event loop until pred() holds; false when it did not within ms.
inline bool WaitFor(const std::function<bool()>& pred, int ms = 5000) {
  QElapsedTimer timer;
  timer.start();
  while (!pred()) {
    if (timer.elapsed() > ms)
      return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// Lets queued calls run for a while (for "nothing happens" checks).
inline void Settle(int ms = 50) {
  WaitFor([] { return false; }, ms);
}

// One 65-byte output report carrying a request line.
inline std::vector<uint8_t> RequestReport(const QByteArray& line, TSimFraming framing) {
  std::vector<uint8_t> r(TSimThermostat::kReportLength, 0);
  const size_t at = framing == TSimFraming::Plain ? 1 : 5;
  for (qsizetype i = 0; i < line.size() && at + size_t(i) < r.size(); ++i) {
    r[at + size_t(i)] = uint8_t(line[i]);
  }
  if (framing == TSimFraming::Adapter) {
    r[1] = uint8_t(line.size() & 0xFF);
    r[2] = uint8_t(line.size() >> 8);
  }
  return r;
}

// The characters an input report carries (byte 0 = report ID).
inline QByteArray ReportPayload(const std::vector<uint8_t>& r, TSimFraming framing) {
  if (framing == TSimFraming::Plain) {
    QByteArray out;
    for (size_t i = 1; i < r.size(); ++i) {
      if (r[i] == 0)
        break;
      out.append(char(r[i]));
    }
    return out;
  }
  if (r.size() < 5)
    return {};
  const size_t n = std::min<size_t>(r[1], r.size() - 5);
  return QByteArray(reinterpret_cast<const char*>(r.data() + 5), qsizetype(n));
}

}  // namespace calorix::test
