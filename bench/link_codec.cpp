// The cost of one request/answer exchange in the codec and through the queue.
#include "link/Codec.h"
#include "link/RequestQueue.h"

#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <string>

namespace calorix {
namespace {

TBytes PlainAnswer(std::string_view line) {
  TBytes data(line.begin(), line.end());
  data.resize(64, 0);
  return data;
}

void BM_FrameRequest(benchmark::State& state) {
  const bool adapter = state.range(0) != 0;
  TBytes report(65);
  for (auto _ : state) {
    const std::size_t n = ReportCount(kTemperatureRequest.size(), report.size(), adapter);
    for (std::size_t i = 0; i < n; ++i)
      BuildReport(kTemperatureRequest, i, adapter, report);
    benchmark::DoNotOptimize(report.data());
  }
}
BENCHMARK(BM_FrameRequest)->Arg(0)->Arg(1);

// Frame the request, then assemble and split its answer: the codec's share of
// one exchange.
void BM_CodecExchange(benchmark::State& state) {
  TBytes report(65);
  const TBytes answer = PlainAnswer("00000000 0 25.31\r");
  TAnswerAssembler assembler;
  std::vector<std::string> fields;
  int status = 0;
  for (auto _ : state) {
    BuildReport(kTemperatureRequest, 0, false, report);
    benchmark::DoNotOptimize(report.data());
    assembler.Feed(answer.data(), answer.size(), false, [&](const std::string& line, bool) {
      SplitFields(line, fields);
      status = ReadStatus(fields[1]);
      return true;
    });
    benchmark::DoNotOptimize(status);
    benchmark::DoNotOptimize(fields.data());
  }
}
BENCHMARK(BM_CodecExchange);

// A device that answers every request at once, as the next input report.
class TInstantHost : public TRequestQueueHost {
 public:
  TRequestQueue* Queue = nullptr;
  const TBytes Temperature = PlainAnswer("00000000 0 25.31\r");
  const TBytes Alarm = PlainAnswer("00000000 0 000000\r");
  const TBytes* Pending = nullptr;
  double Sum = 0;

  bool HasDevice() const override { return true; }
  std::size_t OutputReportLength() const override { return 65; }
  bool AdapterFraming() const override { return false; }
  void WriteReport(const TBytes& report) override {
    Pending = report[11] == 'd' ? &Temperature : &Alarm;  // "dat.t" or another read
  }
  void StartTimeout() override {}
  void StopTimeout() override {}
  void StopPolling() override {}
  void Dispatch(TRequestKind kind, const std::string& value) override {
    Sum += static_cast<double>(kind) + static_cast<double>(value.size());
  }
  void ConsoleAnswer(const std::string&) override {}
  void SwitchedOff() override {}
  void ShowError(const QString&) override {}
};

// One poll: temperature and protection status, each written and answered.
void BM_PollExchange(benchmark::State& state) {
  TInstantHost host;
  TRequestQueue queue(host);
  host.Queue = &queue;
  for (auto _ : state) {
    queue.PollTick(true);
    while (host.Pending) {
      const TBytes* answer = std::exchange(host.Pending, nullptr);
      queue.InputReport(answer->data(), answer->size());
    }
  }
  benchmark::DoNotOptimize(host.Sum);
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PollExchange);

}  // namespace
}  // namespace calorix

