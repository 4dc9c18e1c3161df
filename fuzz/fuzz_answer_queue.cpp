// Input reports, poll ticks, time-outs, requests and device loss interleaved
// through the request queue, which drives a fake thermostat. The input is a
// little program: one configuration byte, then operations (see RunOp).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "link/Codec.h"
#include "link/RequestQueue.h"

namespace calorix {
namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

void Check(bool ok, const char* what) {
  if (!ok)
    Fail(what);
}

class TInput {
 public:
  TInput(const std::uint8_t* data, std::size_t size) : FData(data), FSize(size) {}
  bool Empty() const { return FPos >= FSize; }
  std::uint8_t Byte() { return FPos < FSize ? FData[FPos++] : 0; }
  // Up to n bytes, fewer at the end of the input.
  std::pair<const std::uint8_t*, std::size_t> Take(std::size_t n) {
    const std::size_t k = std::min(n, FSize - std::min(FPos, FSize));
    const std::uint8_t* p = FData + FPos;
    FPos += k;
    return {p, k};
  }

 private:
  const std::uint8_t* FData;
  std::size_t FSize;
  std::size_t FPos = 0;
};

// Report lengths worth trying: too short for any payload, too short for the
// adapter header, odd sizes, and the common 9 / 65 bytes.
constexpr std::size_t kLengths[] = {0, 1, 2, 5, 6, 9, 17, 65};

class TFakeDevice : public TRequestQueueHost {
 public:
  explicit TFakeDevice(TInput& input) : FInput(input) {}

  void Configure(std::uint8_t config) {
    FLength = kLengths[config & 7];
    FAdapter = (config & 8) != 0;
  }
  void Attach(TRequestQueue* queue) { FQueue = queue; }

  bool Present = true;
  bool PollEnabled = true;
  bool TimeoutRunning = false;
  // Bumped whenever the queue is emptied at once, so that a request placed
  // where an emptied one lived counts as a new head.
  unsigned Epoch = 0;
  int ErrorBudget = 0;  // operations a modal box may still run
  int Depth = 0;

  bool HasDevice() const override { return Present; }
  std::size_t OutputReportLength() const override { return FLength; }
  bool AdapterFraming() const override { return FAdapter; }

  void WriteReport(const TBytes& report) override {
    Check(Present, "report written without a device");
    Check(report.size() == FLength, "report of the wrong length");
    Check(!FQueue->Requests().empty(), "report written with an empty queue");
    FCycle.push_back(report);
  }

  // Every write cycle ends here: its reports must be exactly the head's, and
  // one head must never be written twice.
  void StartTimeout() override {
    Check(!FQueue->Requests().empty(), "time-out started with an empty queue");
    const TRequest& head = FQueue->Requests().front();
    Check(FCycle == FrameRequest(head.Text, FLength, FAdapter), "written reports are not the head");
    const THeadId id{&head, Epoch};
    Check(!(FWrittenValid && id == FWritten), "head written twice");
    FWritten = id;
    FWrittenValid = true;
    FCycle.clear();
    TimeoutRunning = true;
  }
  void StopTimeout() override { TimeoutRunning = false; }
  void StopPolling() override { PollEnabled = false; }

  void Dispatch(TRequestKind kind, const std::string& value) override {
    Check(kind >= rkTemperature && kind <= rkAlarmStatus, "console answer dispatched as a value");
    Check(value.size() <= TAnswerAssembler::kMaxAnswer, "value longer than an answer");
    CheckPending();
  }
  void ConsoleAnswer(const std::string& line) override {
    Check(line.size() <= TAnswerAssembler::kMaxAnswer, "console line longer than an answer");
    Check(SplitFields(line).size() >= 2, "console answer without a status field");
    CheckPending();
  }
  void SwitchedOff() override {
    Check(FQueue->Requests().empty(), "queue not emptied when switched off");
    ++Epoch;
  }
  void ShowError(const QString& text) override;

  void CheckPending() const {
    Check(FQueue->PendingAnswer().size() <= TAnswerAssembler::kMaxAnswer,
          "pending answer unbounded");
  }
  // Between operations the head must be on the wire, and be the one written last.
  void CheckSettled() const {
    CheckPending();
    Check(FCycle.empty(), "write cycle left open");
    if (!Present || FQueue->Requests().empty())
      return;
    Check(FQueue->HeadWritten(), "queue stalled: head not written");
    Check(FWrittenValid && FWritten == THeadId{&FQueue->Requests().front(), Epoch},
          "the head on the wire is not the one written");
  }

  void RunOp();

 private:
  struct THeadId {
    const TRequest* Request = nullptr;
    unsigned Epoch = 0;
    bool operator==(const THeadId&) const = default;
  };

  TInput& FInput;
  TRequestQueue* FQueue = nullptr;
  std::size_t FLength = 65;
  bool FAdapter = false;
  std::vector<TBytes> FCycle;
  THeadId FWritten;
  bool FWrittenValid = false;
};

// A modal box runs the event loop: poll ticks, time-outs and new requests
// may arrive while it is open.
void TFakeDevice::ShowError(const QString& text) {
  Check(!text.isEmpty(), "empty error text");
  CheckSettled();
  if (Depth >= 3)
    return;
  ++Depth;
  while (ErrorBudget > 0 && !FInput.Empty()) {
    --ErrorBudget;
    RunOp();
  }
  --Depth;
}

void TFakeDevice::RunOp() {
  TRequestQueue& queue = *FQueue;
  const std::uint8_t op = FInput.Byte();
  switch (op % 8) {
    case 0: {  // an input report of up to 255 bytes (after the report ID)
      const auto [data, size] = FInput.Take(FInput.Byte());
      queue.InputReport(data, size);
      break;
    }
    case 1:
      queue.PollTick(PollEnabled);
      break;
    case 2:
      if (TimeoutRunning)
        queue.TimeoutExpired();
      break;
    case 3: {  // a request of any kind with text from the input (may be empty)
      const TRequestKind kind = static_cast<TRequestKind>((op >> 3) % 6);
      const auto [data, size] = FInput.Take(FInput.Byte() % 48);
      queue.QueueRequest(kind, std::string(reinterpret_cast<const char*>(data), size));
      break;
    }
    case 4:
      Present = false;
      TimeoutRunning = false;
      queue.DeviceGone();
      ++Epoch;
      break;
    case 5:  // another thermostat is selected
      if (!Present) {
        Configure(FInput.Byte());
        Present = true;
        PollEnabled = true;
      }
      break;
    case 6:
      queue.Clear();
      ++Epoch;
      break;
    case 7:
      ErrorBudget = op >> 3;
      break;
  }
  CheckSettled();
}

}  // namespace
}  // namespace calorix

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace calorix;
  TInput input(data, size);
  TFakeDevice device(input);
  device.Configure(input.Byte());
  TRequestQueue queue(device);
  device.Attach(&queue);
  for (int ops = 0; !input.Empty() && ops < 4096; ++ops)
    device.RunOp();
  return 0;
}
