// The instrument port on loopback: the round trip of FETCh:TEMPerature?, and
// how late a poll-like timer gets while 8 clients hammer the server.
#include "remote/RemoteServer.h"

#include <benchmark/benchmark.h>

#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QThread>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace calorix {
namespace {

class TQuietInstrument final : public IRemoteInstrument {
 public:
  std::string ProductName() const override { return "P"; }
  std::string SelectedSerial() const override { return "S"; }
  std::vector<std::string> Catalog() const override { return {}; }
  TRemoteError Select(const std::string&) override { return {}; }
  void MeasureTemperature(TValueDone done) override { done(20.0, {}); }
  double LastTemperature() const override { return 24.37; }
  TRemoteError WriteSetpoint(const std::string&, TDone done) override {
    done({});
    return {};
  }
  void ReadSetpoint(TValueDone done) override { done(20.0, {}); }
  void ReadProtection(TBitsDone done) override { done(0, {}); }
  TRemoteError SetRecording(bool) override { return {}; }
  bool Recording() const override { return false; }
  std::size_t RecordPoints() const override { return 0; }
  std::vector<TRemotePoint> RecordData(std::size_t, std::size_t) const override { return {}; }
  TRemoteError SaveRecord(const std::string&) override { return {}; }
  TRemoteError ClearRecord() override { return {}; }
  TRemoteError ProgramLoad(const std::string&) override { return {}; }
  TRemoteError SetProgramState(TRemoteProgramState) override { return {}; }
  TRemoteProgramState ProgramState() const override { return TRemoteProgramState::Stopped; }
  int ProgramStep() const override { return 0; }
};

// The server with its own event loop, standing in for the window's thread;
// with tick, a 100 ms timer there records its worst lateness.
class TServerThread {
 public:
  explicit TServerThread(bool tick) {
    std::atomic<int> port{0};
    FThread.reset(QThread::create([this, &port, tick] {
      TQuietInstrument instrument;
      TRemoteServer server(instrument);
      QString error;
      server.Listen(QHostAddress::LocalHost, 0, &error);
      QTimer timer;
      QElapsedTimer clock;
      qint64 last = 0;
      if (tick) {
        timer.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer, &QTimer::timeout, [&] {
          const qint64 now = clock.elapsed();
          FWorstLateMs = std::max<qint64>(FWorstLateMs, now - last - 100);
          last = now;
        });
        clock.start();
        timer.start(100);
      }
      QEventLoop loop;
      FLoop = &loop;
      port = server.Port();
      loop.exec();
    }));
    FThread->start();
    while (port == 0)
      std::this_thread::yield();
    Port = port;
  }
  ~TServerThread() {
    QMetaObject::invokeMethod(FLoop, &QEventLoop::quit, Qt::QueuedConnection);
    FThread->wait();
  }
  int Port = 0;
  std::atomic<qint64> FWorstLateMs{0};

 private:
  std::unique_ptr<QThread> FThread;
  QEventLoop* FLoop = nullptr;
};

int Connect(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(std::uint16_t(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

bool Query(int fd, const std::string& line, std::string& buffer) {
  if (::send(fd, line.data(), line.size(), 0) != ssize_t(line.size()))
    return false;
  char chunk[4096];
  while (buffer.find('\n') == std::string::npos) {
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0)
      return false;
    buffer.append(chunk, std::size_t(n));
  }
  buffer.erase(0, buffer.find('\n') + 1);
  return true;
}

void BM_FetchRoundTrip(benchmark::State& state) {
  TServerThread server(false);
  const int fd = Connect(server.Port);
  std::string buffer;
  for (auto _ : state) {
    if (!Query(fd, "FETC:TEMP?\n", buffer)) {
      state.SkipWithError("connection lost");
      break;
    }
  }
  ::close(fd);
}
BENCHMARK(BM_FetchRoundTrip)
    ->UseRealTime()
    ->Repetitions(5)  // the report's median is the figure
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

// 8 clients × 1,000 queries each; the counter is the worst poll-tick lateness.
void BM_EightClientsKeepTheTicks(benchmark::State& state) {
  qint64 worst = 0;
  for (auto _ : state) {
    TServerThread server(true);
    std::vector<std::thread> clients;
    for (int c = 0; c < 8; ++c) {
      clients.emplace_back([&] {
        const int fd = Connect(server.Port);
        std::string buffer;
        for (int i = 0; i < 1000; ++i)
          Query(fd, i % 2 ? "FETC:TEMP?\n" : "MEAS:TEMP?;*OPC?\n", buffer);
        ::close(fd);
      });
    }
    for (auto& t : clients)
      t.join();
    worst = std::max<qint64>(worst, server.FWorstLateMs);
  }
  state.counters["worst_tick_late_ms"] = double(worst);
}
BENCHMARK(BM_EightClientsKeepTheTicks)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace
}  // namespace calorix
