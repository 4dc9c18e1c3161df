#pragma once
// The headless program's run: the signals that end it (SIGTERM, SIGINT: the
// files are finished and it exits 0; a second one during that exits at
// once) and what it tells systemd (ready, the watchdog's ping). Outside
// systemd the notices go nowhere.
#include <QObject>

#include <functional>

class QSocketNotifier;

namespace calorix {

class THeadless;

// Turns SIGTERM and SIGINT into a call on the event loop (a pipe written by
// the handler, read by a socket notifier). A second signal while the first is
// handled ends the process at once with status 128 + the signal.
class TSignalExit final : public QObject {
  Q_OBJECT
 public:
  explicit TSignalExit(std::function<void(int signal)> onSignal, QObject* parent = nullptr);
  ~TSignalExit() override;
  TSignalExit(const TSignalExit&) = delete;
  TSignalExit& operator=(const TSignalExit&) = delete;

 private:
  std::function<void(int)> FOnSignal;
  QSocketNotifier* FNotifier = nullptr;  // owned as a child
};

// Tells systemd the service is ready when the headless program is, and pings
// its watchdog from the event loop (half the watchdog's period) while one is
// set: a loop that hangs is not pinged, and systemd restarts the service.
class TSystemdNotify final : public QObject {
  Q_OBJECT
 public:
  explicit TSystemdNotify(THeadless& headless, QObject* parent = nullptr);
  // "STOPPING=1": the service ends on purpose.
  static void Stopping();
};

// The whole headless run on an application object already made: the program
// of these options until a signal ends it. Returns the exit status.
int RunHeadless(THeadless& headless);

}  // namespace calorix
