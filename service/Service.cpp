#include "service/Service.h"

#include "base/Messages.h"
#include "service/Headless.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <stdexcept>

#include <fcntl.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

namespace calorix {
namespace {

int GPipe[2] = {-1, -1};
volatile std::sig_atomic_t GSignals = 0;

extern "C" void OnExitSignal(int signal) {
  // Both signals are blocked while this runs: the count cannot race itself.
  if (GSignals > 0)
    ::_exit(128 + signal);
  GSignals = 1;
  const unsigned char byte = static_cast<unsigned char>(signal);
  [[maybe_unused]] const ssize_t written = ::write(GPipe[1], &byte, 1);
}

}  // namespace

TSignalExit::TSignalExit(std::function<void(int)> onSignal, QObject* parent)
    : QObject(parent), FOnSignal(std::move(onSignal)) {
  if (::pipe2(GPipe, O_CLOEXEC | O_NONBLOCK) != 0)
    throw std::runtime_error("pipe2 failed");
  FNotifier = new QSocketNotifier(GPipe[0], QSocketNotifier::Read, this);
  connect(FNotifier, &QSocketNotifier::activated, this, [this] {
    unsigned char byte = 0;
    if (::read(GPipe[0], &byte, 1) == 1 && FOnSignal)
      FOnSignal(byte);
  });
  struct sigaction action {};
  action.sa_handler = OnExitSignal;
  sigemptyset(&action.sa_mask);
  sigaddset(&action.sa_mask, SIGTERM);
  sigaddset(&action.sa_mask, SIGINT);
  action.sa_flags = SA_RESTART;
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
}

TSignalExit::~TSignalExit() {
  std::signal(SIGTERM, SIG_DFL);
  std::signal(SIGINT, SIG_DFL);
  ::close(GPipe[0]);
  ::close(GPipe[1]);
  GPipe[0] = GPipe[1] = -1;
  GSignals = 0;
}

TSystemdNotify::TSystemdNotify(THeadless& headless, QObject* parent) : QObject(parent) {
  connect(&headless, &THeadless::Ready, this, [] { sd_notify(0, "READY=1"); });
  std::uint64_t usec = 0;
  if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0)
    return;
  auto* ping = new QTimer(this);
  ping->setInterval(int(std::max<std::uint64_t>(usec / 2000, 1)));
  connect(ping, &QTimer::timeout, this, [] { sd_notify(0, "WATCHDOG=1"); });
  ping->start();
}

void TSystemdNotify::Stopping() {
  sd_notify(0, "STOPPING=1");
}

int RunHeadless(THeadless& headless) {
  const TSignalExit exitSignals([&headless](int signal) {
    std::fprintf(stderr, "%s\n", LoadStr(1186).arg(signal).toUtf8().constData());
    TSystemdNotify::Stopping();
    headless.Stop();
    QCoreApplication::exit(0);
  });
  const TSystemdNotify notify(headless);
  headless.Start();
  return QCoreApplication::exec();
}

}  // namespace calorix
