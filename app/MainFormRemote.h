#pragma once
// The window's side of remote control: the instrument a client talks to, the
// server, its status-bar panel and its settings.
#include "app/CommandLine.h"
#include "remote/Instrument.h"

#include <QObject>
#include <QString>

#include <functional>
#include <limits>
#include <memory>

class QLabel;

namespace calorix {

class TMainFrm;
class TRemoteServer;

struct TRemoteSettings {
  bool Enabled = false;
  QString Address = QStringLiteral("127.0.0.1");
  int Port = kDefaultRemotePort;
  QString Folder;         // of RECord:SAVE and PROGram:LOAD; empty: DefaultRemoteFolder()
  int IdleSeconds = 600;  // a client silent this long is closed; 0: never
};

// $XDG_DATA_HOME/Calorix, by default ~/.local/share/Calorix.
QString DefaultRemoteFolder();

class TRemoteWindow final : public QObject, public IRemoteInstrument {
  Q_OBJECT
 public:
  // Requests of all clients waiting for the thermostat, at most.
  static constexpr std::size_t kMaxQueued = 16;
  // Program files beyond this are refused before they are read.
  static constexpr qint64 kMaxProgramFile = 1 << 20;

  explicit TRemoteWindow(TMainFrm& window);
  ~TRemoteWindow() override;

  // Listens on endpoint, or stops with none; failures go to the status bar and stderr.
  void Start(const std::optional<TEndpoint>& endpoint);
  TRemoteSettings Settings;                                // as in the settings file and dialog
  TRemoteServer* Server() const { return FServer.get(); }  // none when not listening

  // IRemoteInstrument
  std::string ProductName() const override;
  std::string SelectedSerial() const override;
  std::vector<std::string> Catalog() const override;
  TRemoteError Select(const std::string& serial) override;
  void MeasureTemperature(TValueDone done) override;
  double LastTemperature() const override { return FLastTemperature; }
  TRemoteError WriteSetpoint(const std::string& text, TDone done) override;
  void ReadSetpoint(TValueDone done) override;
  void ReadProtection(TBitsDone done) override;
  TRemoteError SetRecording(bool on) override;
  bool Recording() const override;
  std::size_t RecordPoints() const override;
  std::vector<TRemotePoint> RecordData(std::size_t first, std::size_t count) const override;
  TRemoteError SaveRecord(const std::string& path) override;
  TRemoteError ClearRecord() override;
  TRemoteError ProgramLoad(const std::string& path) override;
  TRemoteError SetProgramState(TRemoteProgramState state) override;
  TRemoteProgramState ProgramState() const override;
  int ProgramStep() const override;

 private:
  void ShowStatus();
  // Runs a window handler for a client: what it would show in a box becomes
  // the status bar's text and the client's error, so no client opens a box.
  TRemoteError ForClient(const std::function<TRemoteError()>& handler);
  TRemoteError ChangeProgramState(TRemoteProgramState state);
  // A client's file name as a path inside the folder, or why it is refused.
  TRemoteError RemotePath(const std::string& name, bool save, QString& path) const;
  // The thermostat's queue has room for a client's request.
  bool QueueHasRoom() const;

  TMainFrm& FWindow;
  std::unique_ptr<TRemoteServer> FServer;
  QLabel* FPanel = nullptr;  // in the window's status bar
  QString FListening;        // "address:port", empty when not listening
  bool FPublic = false;      // not a loopback address
  double FLastTemperature = std::numeric_limits<double>::quiet_NaN();
};

}  // namespace calorix
