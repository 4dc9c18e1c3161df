#pragma once
// The window's side of remote control: the program's SCPI port as the window's
// status bar shows it, and its settings.
#include "base/Endpoint.h"
#include "station/Remote.h"

#include <QObject>
#include <QString>

#include <optional>

class QLabel;

namespace calorix {

class TMainFrm;
class TRemoteServer;

class TRemoteWindow final : public QObject {
  Q_OBJECT
 public:
  static constexpr std::size_t kMaxQueued = TRemoteService::kMaxQueued;

  TRemoteWindow(TMainFrm& window, TRemoteService& service);
  ~TRemoteWindow() override;

  // Listens on endpoint, or stops with none; failures go to the status bar and stderr.
  void Start(const std::optional<TEndpoint>& endpoint) { FService.Start(endpoint); }
  TRemoteServer* Server() const { return FService.Server(); }  // none when not listening
  TRemoteService& Service() const { return FService; }

 private:
  void ShowStatus();

  TMainFrm& FWindow;
  TRemoteService& FService;  // the program's, shown by every window
  QLabel* FPanel = nullptr;  // in the window's status bar

 public:
  TRemoteSettings& Settings;  // the service's: as in the settings file and dialog
};

}  // namespace calorix
