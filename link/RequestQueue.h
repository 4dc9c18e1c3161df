#pragma once
// The single first-in-first-out path of every request to the thermostat. Only
// the head is on the wire; an answer always belongs to the head, and the next
// request goes out when the head is answered or has timed out. The window
// supplies the device, the timers and the displays through TRequestQueueHost.
#include "link/Codec.h"

#include <QString>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace calorix {

// How a request with a ticket ended.
enum class TRequestOutcome {
  Answered,     // status 0; Value holds the value field
  ErrorStatus,  // a status other than 0 (Status), or an answer that is no answer line (-1)
  NoAnswer,     // the answer time-out expired
  Dropped,      // never answered: the queue was cleared (switched off, device gone or
                // another selected, console)
};

struct TRequestDone {
  std::uint64_t Ticket = 0;
  TRequestKind Kind = rkTemperature;
  TRequestOutcome Outcome = TRequestOutcome::Answered;
  int Status = 0;
  std::string Value;
};

class TRequestQueueHost {
 public:
  virtual ~TRequestQueueHost() = default;
  virtual bool HasDevice() const = 0;                  // a thermostat is selected
  virtual std::size_t OutputReportLength() const = 0;  // L, counting the report-ID byte
  virtual bool AdapterFraming() const = 0;
  virtual void WriteReport(const TBytes& report) = 0;  // one whole L-byte report; result ignored
  virtual void StartTimeout() = 0;                     // (re)start the 1000 ms answer time-out
  virtual void StopTimeout() = 0;
  virtual void StopPolling() = 0;  // the thermostat is switched off
  // A success answer (status 0) to a request of kinds 0..4, with its value field.
  virtual void Dispatch(TRequestKind kind, const std::string& value) = 0;
  // The whole answer line to a console request, whatever its status.
  virtual void ConsoleAnswer(const std::string& line) = 0;
  virtual void SwitchedOff() = 0;  // show "Термостат выключен"
  // Error box; may run the event loop, and with it poll ticks and time-outs.
  // (The window shows it once the report's data handler has returned.)
  virtual void ShowError(const QString& text) = 0;
  // The end of a request with a ticket, told once the queue is settled (after
  // Dispatch of its value, before any error box of the same report).
  virtual void RequestDone(const TRequestDone& done) { (void)done; }
};

class TRequestQueue {
 public:
  static constexpr int kReadyBandEvery = 10;  // poll ticks per readiness-band read

  explicit TRequestQueue(TRequestQueueHost& host, QStringList statusTexts = DefaultStatusTexts());

  // Appends a request; writes it at once when nothing is on the wire. Dropped
  // without a device, and dropped when empty (nothing could answer it).
  // A loud ticketed request shows its errors as an unticketed one does.
  void QueueRequest(TRequestKind kind, std::string text, std::uint64_t ticket = 0,
                    bool loud = false);
  // Frames text by the device's framing, writes every report and restarts the
  // time-out. Nothing is written without a device or for an empty text; a
  // device too short to carry payload gets nothing, but the time-out still
  // runs so the request is dropped and the queue moves on.
  void WriteRequest(const std::string& text);
  // The poll tick: with an empty queue, queues the temperature and the
  // protection status, and every tenth such tick the readiness band.
  void PollTick(bool pollTimerEnabled);
  // One input report of the selected device (data after the report-ID byte).
  void InputReport(const std::uint8_t* data, std::size_t size);
  // The head got no answer in time: drop it with any partial line, write the next.
  void TimeoutExpired();
  // Empties the queue and the partial answer (console time-out, switched off).
  void Clear();
  // The selected thermostat went away or another was selected: nothing
  // waiting may survive it.
  void DeviceGone();

  void SetStatusTexts(QStringList texts) { FStatusTexts = std::move(texts); }
  const QStringList& StatusTexts() const { return FStatusTexts; }

  const std::deque<TRequest>& Requests() const { return FRequests; }
  int PollCount() const { return FPollCount; }
  const std::string& PendingAnswer() const { return FAssembler.Pending(); }
  // Whether the head has been written and awaits its answer.
  bool HeadWritten() const { return FHeadWritten; }

 private:
  void WriteHead();
  void PopHead();
  void HandleAnswer(const TRequest& request, const std::string& line, bool overflowed,
                    QStringList& errors);
  void Done(const TRequest& request, TRequestOutcome outcome, int status = 0,
            std::string value = {});
  void DropAll();
  void TellDone();

  TRequestQueueHost& FHost;
  QStringList FStatusTexts;
  std::deque<TRequest> FRequests;
  TAnswerAssembler FAssembler;
  int FPollCount = 0;
  bool FHeadWritten = false;
  int FScanDepth = 0;               // > 0 while an input report is being scanned
  std::vector<TRequestDone> FDone;  // ends not yet told to the host
};

}  // namespace calorix
