// HID layer speed: scans with many interfaces present, and the write -> answer
// round trip through the controller, its reader thread and a simulated
// thermostat without latency.
#include <benchmark/benchmark.h>

#include <QCoreApplication>

#include <memory>
#include <vector>

#include "link/Hid.h"
#include "link/SimHidPlatform.h"

namespace calorix {
namespace {

constexpr int kInterfaces = 50;

struct TBench {
  explicit TBench(int devices) {
    auto platform = std::make_unique<TSimHidPlatform>(std::make_shared<TManualClock>());
    Sim = platform.get();
    for (int i = 0; i < devices; ++i)
      Present.push_back(Sim->Plug());
    Ctl = std::make_unique<TJvHidDeviceController>(std::move(platform));
  }
  TSimHidPlatform* Sim;
  std::vector<std::shared_ptr<TSimThermostat>> Present;
  std::unique_ptr<TJvHidDeviceController> Ctl;
};

void BM_FirstScan(benchmark::State& state) {
  for (auto _ : state) {
    state.PauseTiming();
    auto b = std::make_unique<TBench>(kInterfaces);
    int arrivals = 0;
    b->Ctl->OnArrival = [&](TJvHidDevice* d) {
      d->VendorName();  // what the program reads in every arrival
      d->ProductName();
      ++arrivals;
    };
    state.ResumeTiming();
    b->Ctl->DeviceChange();
    benchmark::DoNotOptimize(arrivals);
    state.PauseTiming();
    b.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_FirstScan)->Unit(benchmark::kMicrosecond);

void BM_ScanWithoutChange(benchmark::State& state) {
  TBench b(kInterfaces);
  b.Ctl->DeviceChange();
  for (auto _ : state)
    b.Ctl->DeviceChange();
}
BENCHMARK(BM_ScanWithoutChange)->Unit(benchmark::kMicrosecond);

void BM_ScanReplugOne(benchmark::State& state) {
  TBench b(kInterfaces);
  b.Ctl->DeviceChange();
  for (auto _ : state) {
    b.Sim->Unplug(b.Sim->Present().front());
    b.Sim->Plug();
    b.Ctl->DeviceChange();  // one removal, one arrival among 50
  }
}
BENCHMARK(BM_ScanReplugOne)->Unit(benchmark::kMicrosecond);

void BM_RoundTrip(benchmark::State& state) {
  TBench b(1);
  TJvHidDevice* dev = nullptr;
  b.Ctl->OnArrival = [&](TJvHidDevice* d) { b.Ctl->CheckOutByProductName(dev, d->ProductName()); };
  b.Ctl->DeviceChange();
  if (!dev) {
    state.SkipWithError("no simulated thermostat");
    return;
  }
  int answers = 0;
  dev->SetOnData([&](TJvHidDevice*, uint8_t, const uint8_t* data, uint16_t size) {
    for (uint16_t i = 0; i < size; ++i) {
      if (data[i] == 0x0D) {
        ++answers;
        break;
      }
    }
  });
  std::vector<uint8_t> report(65, 0);
  const char line[] = ":00000000 dat.t rd\r";
  std::copy(line, line + sizeof line - 1, report.begin() + 1);
  for (auto _ : state) {
    const int before = answers;
    uint32_t written = 0;
    dev->WriteFile(report.data(), uint32_t(report.size()), written);
    while (answers == before)
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  state.SetItemsProcessed(state.iterations());
  b.Ctl->CheckIn(dev);
}
BENCHMARK(BM_RoundTrip)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
}  // namespace calorix

