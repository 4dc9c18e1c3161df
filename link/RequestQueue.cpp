#include "link/RequestQueue.h"

#include <utility>
#include <vector>

namespace calorix {

TRequestQueue::TRequestQueue(TRequestQueueHost& host, QStringList statusTexts)
    : FHost(host), FStatusTexts(std::move(statusTexts)) {}

void TRequestQueue::QueueRequest(TRequestKind kind, std::string text) {
  if (!FHost.HasDevice() || text.empty())
    return;
  FRequests.push_back(TRequest{kind, std::move(text)});
  WriteHead();
}

void TRequestQueue::WriteRequest(const std::string& text) {
  if (!FHost.HasDevice() || text.empty())
    return;
  const std::size_t length = FHost.OutputReportLength();
  const bool adapter = FHost.AdapterFraming();
  const std::size_t count = ReportCount(text.size(), length, adapter);
  TBytes report(length);
  for (std::size_t i = 0; i < count; ++i) {
    BuildReport(text, i, adapter, report);
    FHost.WriteReport(report);
  }
  FHost.StartTimeout();
}

// Writes the head unless it is already on the wire. While a report is being
// scanned the write waits for the end of the report, so lines still in that
// report are not taken for answers to a request written in the middle of it.
void TRequestQueue::WriteHead() {
  if (FScanDepth > 0 || FHeadWritten || FRequests.empty() || !FHost.HasDevice())
    return;
  FHeadWritten = true;  // before any host call: a re-entrant call must not write it again
  const std::string text = FRequests.front().Text;
  WriteRequest(text);
}

void TRequestQueue::PopHead() {
  FRequests.pop_front();
  FHeadWritten = false;
}

void TRequestQueue::PollTick(bool pollTimerEnabled) {
  if (!pollTimerEnabled || !FHost.HasDevice() || !FRequests.empty())
    return;
  QueueRequest(rkTemperature, std::string(kTemperatureRequest));
  QueueRequest(rkAlarmStatus, std::string(kAlarmStatusRequest));
  if (++FPollCount >= kReadyBandEvery) {
    FPollCount = 0;
    QueueRequest(rkReadyBand, std::string(kReadyBandRequest));
  }
}

void TRequestQueue::HandleAnswer(TRequestKind kind, const std::string& line, bool overflowed,
                                 QStringList& errors) {
  if (overflowed) {
    errors << UnexpectedAnswerText();
    return;
  }
  std::vector<std::string> fields = SplitFields(line);
  if (fields.size() < 2) {
    errors << UnexpectedAnswerText();
    return;
  }
  if (kind == rkConsole) {
    FHost.ConsoleAnswer(line);
    return;
  }
  const int status = ReadStatus(fields[1]);
  if (status == 0) {
    static const std::string kNoValue;
    FHost.Dispatch(kind, fields.size() > 2 ? fields[2] : kNoValue);
  } else if (status == 6) {
    Clear();
    FHost.StopPolling();
    FHost.SwitchedOff();
  } else {
    errors << StatusErrorText(status, FStatusTexts);
  }
}

void TRequestQueue::InputReport(const std::uint8_t* data, std::size_t size) {
  if (!FHost.HasDevice() || FRequests.empty())
    return;
  QStringList errors;
  std::size_t answered = 0;
  {
    struct TScanGuard {
      int& Depth;
      explicit TScanGuard(int& depth) : Depth(depth) { ++Depth; }
      ~TScanGuard() { --Depth; }
    } guard(FScanDepth);
    FAssembler.Feed(data, size, FHost.AdapterFraming(),
                    [&](const std::string& line, bool overflowed) {
                      if (FRequests.empty())
                        return false;
                      const TRequestKind kind = FRequests.front().Kind;
                      PopHead();
                      ++answered;
                      HandleAnswer(kind, line, overflowed, errors);
                      return true;
                    });
  }
  // A report that completes no line leaves the time-out running: the rest of
  // the line may still come, and if it does not, the head is dropped.
  if (answered > 0) {
    if (FRequests.empty()) {
      FHost.StopTimeout();
    } else {
      WriteHead();
    }
  }
  // Boxes come last: the queue is settled, so whatever runs while a box is
  // open (poll ticks, time-outs, new requests) sees a consistent state.
  for (const QString& text : std::as_const(errors))
    FHost.ShowError(text);
}

void TRequestQueue::TimeoutExpired() {
  FHost.StopTimeout();
  FAssembler.Clear();
  if (!FRequests.empty())
    PopHead();
  WriteHead();
}

void TRequestQueue::Clear() {
  FRequests.clear();
  FHeadWritten = false;
  FAssembler.Clear();
  FHost.StopTimeout();  // nothing is waiting for an answer any more
}

void TRequestQueue::DeviceGone() {
  Clear();
}

}  // namespace calorix
