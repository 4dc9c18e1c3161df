#pragma once
// The station's SCPI port: the instrument each client talks to (the session it
// addresses) and the server they connect to. Every client command takes the path of the user's
// own controls, but nothing here waits for a person: what would be an error
// box is the client's error (and a notice for the front end).
#include "base/Endpoint.h"
#include "remote/Instrument.h"

#include <QObject>
#include <QString>

#include <functional>
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

// The station's SCPI port: one server for every session. Each client has an
// instrument of its own that addresses one session: the first one's at first,
// the one a SYSTem:DEVice selection names after that, the first one's again
// when its session goes.
class TRemoteService final : public QObject {
  Q_OBJECT
 public:
  // Requests of all clients waiting for one session's thermostat, at most.
  static constexpr std::size_t kMaxQueued = 16;
  // Program files beyond this are refused before they are read.
  static constexpr qint64 kMaxProgramFile = 1 << 20;

  explicit TRemoteService(TStation& station, QObject* parent = nullptr);
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
  TStation& Station() const { return FStation; }

  // A new client's instrument (the server makes one per connection).
  std::unique_ptr<IRemoteInstrument> NewClient();

 signals:
  void StatusChanged();  // listening, stopped, failed, or a client came or went
  // What a client's command would have shown a person (an error box's text),
  // with the session it concerns, for a front end that shows that session.
  void ClientNotice(TThermostatSession* session, const QString& text);

 private:
  TStation& FStation;
  std::unique_ptr<TRemoteServer> FServer;
  QString FListening;
  bool FPublic = false;
  QString FFailure;
};

}  // namespace calorix
