#pragma once
// HID interfaces played by an outside program (a device emulator) over a
// Unix-domain SOCK_SEQPACKET socket, one message per packet, byte 0 the type:
//   emulator -> program
//     'A' + UTF-8 JSON {"id","manufacturer","product","serial",
//         "input_report_length","output_report_length","numbered_reports"
//         [,"busy"]}
//         an interface arrives (lengths count the report-ID byte; "busy": true
//         when another program holds its lock)
//     'R' + id             the interface leaves
//     'I' + n + id[n] + r  an input report as read() on hidraw returns it
//   program -> emulator
//     'O' + n + id[n] + r  an output report as written to hidraw
// The socket is read on the UI thread; the program keeps running without
// devices while the emulator is away and connects again when it is back.
#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

#include "link/HidPlatform.h"

class QObject;
class QSocketNotifier;
class QTimer;

namespace calorix {

namespace emulator_detail {
struct TLink;
struct TChannelState;
}  // namespace emulator_detail

class THidEmulatorPlatform final : public IHidPlatform {
 public:
  static constexpr int kRetryMs = 2000;

  // The first connection attempt is made from the event loop, so OnStatus set
  // right after construction hears about it.
  explicit THidEmulatorPlatform(QString socketPath, int retryMs = kRetryMs);
  ~THidEmulatorPlatform() override;

  // The connection state for the status bar; each change is also written to stderr.
  std::function<void(const QString&)> OnStatus;
  // Every line written to stderr (status changes and ignored messages).
  std::function<void(const QString&)> OnDiagnostic;

  const QString& Status() const { return FStatus; }
  bool IsConnected() const;
  const QString& SocketPath() const { return FPath; }
  // Tries to connect now (otherwise it is tried every retry interval).
  void Connect();

  std::vector<THidInterfaceInfo> Enumerate() override;
  bool ReadStrings(const THidInterfaceInfo& info, THidStrings& strings) override;
  std::unique_ptr<IHidChannel> Open(const THidInterfaceInfo& info, QString& error) override;
  void SetChangeCallback(std::function<void()> callback) override;

 private:
  struct TDevice {
    QByteArray Id;
    THidInterfaceInfo Info;
    bool Busy = false;  // another program holds its lock
    std::vector<std::weak_ptr<emulator_detail::TChannelState>> Channels;
  };

  void SetStatus(const QString& text);
  void Diagnose(const QString& text);
  void ReadSocket();
  void Handle(const QByteArray& packet);
  void HandleArrival(const QByteArray& body);
  void HandleRemoval(const QByteArray& body);
  void HandleInput(const QByteArray& body);
  void Disconnect(const QString& why);
  void ScheduleRetry();
  void Notify();
  TDevice* Find(const QString& identity);
  TDevice* FindId(const QByteArray& id);
  static void MarkGone(TDevice& device);

  QString FPath;
  int FRetryMs;
  QString FStatus;
  std::unique_ptr<QObject> FContext;     // parent of the notifier and timer, target of queued calls
  QTimer* FRetry = nullptr;              // owned by FContext
  QSocketNotifier* FNotifier = nullptr;  // owned by FContext
  std::shared_ptr<emulator_detail::TLink> FLink;  // shared with the channels that write
  std::function<void()> FCallback;
  std::vector<TDevice> FDevices;
  bool FNotifyPending = false;
  int FNextIdentity = 1;
};

// onStatus gets every status text (see THidEmulatorPlatform::OnStatus).
std::unique_ptr<IHidPlatform> MakeEmulatorPlatform(
    const QString& socketPath, std::function<void(const QString&)> onStatus = {});

}  // namespace calorix
