#include "link/RequestQueue.h"

#include <utility>
#include <vector>

namespace calorix {

TRequestQueue::TRequestQueue(TRequestQueueHost& host, QStringList statusTexts)
    : FHost(host), FStatusTexts(std::move(statusTexts)) {}

void TRequestQueue::QueueRequest(TRequestKind kind, std::string text, std::uint64_t ticket,
                                 bool loud) {
  if (!FHost.HasDevice() || text.empty()) {
    Done(TRequest{kind, {}, ticket}, TRequestOutcome::Dropped);
    TellDone();
    return;
  }
  FRequests.push_back(TRequest{kind, std::move(text), ticket, loud});
  WriteHead();
}

void TRequestQueue::Done(const TRequest& request, TRequestOutcome outcome, int status,
                         std::string value) {
  if (request.Ticket != 0)
    FDone.push_back(TRequestDone{request.Ticket, request.Kind, outcome, status, std::move(value)});
}

void TRequestQueue::DropAll() {
  for (const TRequest& r : FRequests)
    Done(r, TRequestOutcome::Dropped);
}

// Told outside any scan, so the host may queue new requests from it.
void TRequestQueue::TellDone() {
  if (FScanDepth > 0)
    return;
  while (!FDone.empty()) {
    std::vector<TRequestDone> done;
    done.swap(FDone);
    for (const TRequestDone& d : done)
      FHost.RequestDone(d);
  }
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

void TRequestQueue::HandleAnswer(const TRequest& request, const std::string& line, bool overflowed,
                                 QStringList& errors) {
  // A request with a ticket has its asker told of an error instead of a box.
  const bool quiet = request.Ticket != 0 && !request.Loud;
  std::vector<std::string> fields;
  if (!overflowed)
    fields = SplitFields(line);
  if (overflowed || fields.size() < 2) {
    Done(request, TRequestOutcome::ErrorStatus, -1);
    if (!quiet)
      errors << UnexpectedAnswerText();
    return;
  }
  if (request.Kind == rkConsole) {
    FHost.ConsoleAnswer(line);
    Done(request, TRequestOutcome::Answered, 0, line);
    return;
  }
  const int status = ReadStatus(fields[1]);
  if (status == 0) {
    static const std::string kNoValue;
    const std::string& value = fields.size() > 2 ? fields[2] : kNoValue;
    FHost.Dispatch(request.Kind, value);
    Done(request, TRequestOutcome::Answered, 0, value);
  } else if (status == 6) {
    Done(request, TRequestOutcome::ErrorStatus, 6);
    Clear();
    FHost.StopPolling();
    FHost.SwitchedOff();
  } else {
    Done(request, TRequestOutcome::ErrorStatus, status);
    if (!quiet)
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
                      const TRequest head = std::move(FRequests.front());
                      PopHead();
                      ++answered;
                      HandleAnswer(head, line, overflowed, errors);
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
  TellDone();
  for (const QString& text : std::as_const(errors))
    FHost.ShowError(text);
}

void TRequestQueue::TimeoutExpired() {
  FHost.StopTimeout();
  FAssembler.Clear();
  if (!FRequests.empty()) {
    Done(FRequests.front(), TRequestOutcome::NoAnswer);
    PopHead();
  }
  WriteHead();
  TellDone();
}

void TRequestQueue::Clear() {
  DropAll();
  FRequests.clear();
  FHeadWritten = false;
  FAssembler.Clear();
  FHost.StopTimeout();  // nothing is waiting for an answer any more
  TellDone();
}

void TRequestQueue::DeviceGone() {
  Clear();
}

}  // namespace calorix
