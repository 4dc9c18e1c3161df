#pragma once
// The SCPI port of a session: the instrument its clients talk to and the
// server they connect to. Every client command takes the path of the user's
// own controls, but nothing here waits for a person: what would be an error
// box is the client's error (and a notice for the front end).
#include "base/Endpoint.h"
#include "remote/Instrument.h"

#include <QObject>
#include <QString>

#include <functional>
#include <limits>
#include <memory>
#include <optional>

namespace calorix {

class TRemoteServer;
class TStation;
class TThermostatSession;

struct TRemoteSettings {
  bool Enabled = false;
  QString Address = QStringLiteral("127.0.0.1");
  int Port = kDefaultRemotePort;
  QString Folder;         // of RECord:SAVE and PROGram:LOAD; empty: DefaultRemoteFolder()
  int IdleSeconds = 600;  // a client silent this long is closed; 0: never
};

// $XDG_DATA_HOME/Calorix, by default ~/.local/share/Calorix.
QString DefaultRemoteFolder();
// A numeric address or "localhost": what the port may listen on.
bool IsListenAddress(const QString& text);

class TRemoteService final : public QObject, public IRemoteInstrument {
  Q_OBJECT
 public:
  // Requests of all clients waiting for the thermostat, at most.
  static constexpr std::size_t kMaxQueued = 16;
  // Program files beyond this are refused before they are read.
  static constexpr qint64 kMaxProgramFile = 1 << 20;

  TRemoteService(TStation& station, TThermostatSession& session, QObject* parent = nullptr);
  ~TRemoteService() override;

  // Listens on endpoint, or stops with none; a failure is told on standard
  // error and kept in Failure().
  void Start(const std::optional<TEndpoint>& endpoint);
  TRemoteSettings Settings;                                // as in the settings
  TRemoteServer* Server() const { return FServer.get(); }  // none when not listening
  const QString& Listening() const { return FListening; }  // "address:port"; empty when not
  bool Public() const { return FPublic; }                  // not a loopback address
  const QString& Failure() const { return FFailure; }      // why the last Start did not listen
  int ClientCount() const;

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

 signals:
  void StatusChanged();  // listening, stopped, failed, or a client came or went
  // What a client's command would have shown a person (an error box's text).
  void ClientNotice(const QString& text);

 private:
  // Runs a command for a client: the errors it raises become the client's error.
  TRemoteError ForClient(const std::function<TRemoteError()>& handler);
  TRemoteError ChangeProgramState(TRemoteProgramState state);
  // A client's file name as a path inside the folder, or why it is refused.
  TRemoteError RemotePath(const std::string& name, bool save, QString& path) const;
  // The thermostat's queue has room for a client's request.
  bool QueueHasRoom() const;

  TStation& FStation;
  TThermostatSession& FSession;
  std::unique_ptr<TRemoteServer> FServer;
  QString FListening;
  bool FPublic = false;
  QString FFailure;
  double FLastTemperature = std::numeric_limits<double>::quiet_NaN();
};

}  // namespace calorix
